// The collector seen from outside the language: lua_gc's results, pacing, the emergency
// collection, the string table, and finalizers calling back into the collector.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/gc.h"
#include "lua/libs.h"
#include "lua/state.h"
#include "test_alloc.h"

namespace {

// While 'refuse_growth' is set, the first attempt of every request that grows a block (or makes
// a new one) fails; final attempts and shrinking succeed.
bool refuse_growth = false;
long long refused = 0;
void *growth_refusing_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt,
                            size_t charge) {
  size_t old = ptr ? osize : 0;
  if (refuse_growth && nsize > old && final_attempt == 0) {
    refused++;
    return nullptr;
  }
  return test_alloc(ud, ptr, osize, nsize, final_attempt, charge);
}

struct GcState : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override {
    refuse_growth = false;
    // no slice budget: coroutines are not forced to yield
    cpu_cycles = 0;
    cpu_cycles_max = INT32_MAX;
    L = lua_newstate(growth_refusing_alloc, &alloc);
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
  }
  void TearDown() override {
    refuse_growth = false;
    cpu_cycles = cpu_cycles_max = 0;
    if (L) lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
    EXPECT_EQ(alloc.charged, 0);
  }
  void run(const char *code) {
    ASSERT_EQ(luaL_loadbufferx(L, code, std::strlen(code), "=test", "t"), LUA_OK) << lua_tostring(L, -1);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK) << lua_tostring(L, -1);
  }
  lua_Integer global_int(const char *name) {
    lua_getglobal(L, name);
    lua_Integer v = lua_tointeger(L, -1);
    lua_pop(L, 1);
    return v;
  }
};

} // namespace

TEST_F(GcState, StartsIncrementalWithTheDefaultParameters) {
  global_State *g = G(L);
  EXPECT_EQ(g->gckind, KGC_INC);
  EXPECT_EQ(g->gcpause, 50);
  EXPECT_EQ(g->gcstepmul, 25);
  EXPECT_EQ(g->gcstepsize, 13);
  EXPECT_EQ(g->genminormul, 20);
  EXPECT_EQ(g->genmajormul, 25);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 1);
}

TEST_F(GcState, UnknownOptionsAnswerMinusOneAndChangeNothing) {
  global_State *g = G(L);
  lu_byte pause = g->gcpause, mul = g->gcstepmul, state = g->gcstate, kind = g->gckind;
  for (int what : {8, 12, 13, -1, 100}) {
    EXPECT_EQ(lua_gc(L, what, 400, 400, 400), -1) << what;
    EXPECT_EQ(g->gcpause, pause);
    EXPECT_EQ(g->gcstepmul, mul);
    EXPECT_EQ(g->gcstate, state);
    EXPECT_EQ(g->gckind, kind);
  }
}

TEST_F(GcState, CountsAreTheRequestedBytes) {
  lua_gc(L, LUA_GCCOLLECT);
  size_t total = gettotalbytes(G(L));
  EXPECT_EQ(lua_gc(L, LUA_GCCOUNT), int(total >> 10));
  EXPECT_EQ(lua_gc(L, LUA_GCCOUNTB), int(total & 0x3ff));
  lua_gc(L, LUA_GCSTOP);
  lua_newtable(L);
  EXPECT_EQ(gettotalbytes(G(L)), total + 56);
  lua_pushlstring(L, "0123456789", 10);
  EXPECT_EQ(gettotalbytes(G(L)), total + 56 + 35);
  lua_pop(L, 2);
}

TEST_F(GcState, StopRestartAndStep) {
  lua_gc(L, LUA_GCSTOP);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 0);
  // a stopped collector does no step on its own however large the debt
  for (int i = 0; i < 2000; i++) {
    lua_newtable(L);
    lua_pop(L, 1);
  }
  EXPECT_EQ(G(L)->gcstate, GCSpause);
  // but an explicit step runs, and leaves the collector stopped
  int ended = 0;
  for (int i = 0; i < 100000 && !ended; i++) ended = lua_gc(L, LUA_GCSTEP, 0);
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 0);
  // a step of a negative size only lowers the debt
  EXPECT_EQ(lua_gc(L, LUA_GCSTEP, -100000), 0);
  lua_gc(L, LUA_GCRESTART);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 1);
  EXPECT_EQ(G(L)->GCdebt, 0);
  // a big step runs a whole cycle
  EXPECT_EQ(lua_gc(L, LUA_GCSTEP, 100000), 1);
}

TEST_F(GcState, ParametersAreStoredAsQuarters) {
  EXPECT_EQ(lua_gc(L, LUA_GCSETPAUSE, 107), 200);
  EXPECT_EQ(lua_gc(L, LUA_GCSETPAUSE, 200), 104);
  EXPECT_EQ(lua_gc(L, LUA_GCSETSTEPMUL, 1100), 100);
  EXPECT_EQ(lua_gc(L, LUA_GCSETSTEPMUL, 100), 76);
  EXPECT_EQ(lua_gc(L, LUA_GCSETSTEPMUL, 100), 100);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 300, 0, 10), LUA_GCINC);
  EXPECT_EQ(G(L)->gcpause, 75);
  EXPECT_EQ(G(L)->gcstepmul, 25);
  EXPECT_EQ(G(L)->gcstepsize, 10);
  EXPECT_EQ(lua_gc(L, LUA_GCGEN, 30, 200), LUA_GCINC);
  EXPECT_EQ(G(L)->genminormul, 30);
  EXPECT_EQ(G(L)->genmajormul, 50);
  EXPECT_EQ(lua_gc(L, LUA_GCGEN, 0, 0), LUA_GCGEN);
  EXPECT_EQ(G(L)->genminormul, 30);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCGEN);
  EXPECT_EQ(G(L)->gcpause, 75);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCINC);
}

TEST_F(GcState, PauseSetsTheNextCycleAtTwiceTheLiveBytes) {
  lua_gc(L, LUA_GCCOLLECT);
  global_State *g = G(L);
  EXPECT_EQ(g->gcstate, GCSpause);
  l_mem total = l_mem(gettotalbytes(g));
  l_mem threshold = l_mem(g->GCestimate / 100) * 200;
  EXPECT_EQ(g->GCdebt, total - threshold);
  EXPECT_NEAR(double(threshold), 2.0 * double(g->GCestimate), 200.0);
}

TEST_F(GcState, GenerationalModeKeepsEverythingReachable) {
  lua_gc(L, LUA_GCGEN, 0, 0);
  run("old = {}\n"
      "for i = 1, 100 do old[i] = {i} end\n"
      "collectgarbage() collectgarbage()\n" // 'old' and its items are old now
      "for round = 1, 50 do\n"
      "  for i = 1, 100 do old[i][round + 1] = {round, tostring(round * i)} end\n"
      "  for j = 1, 2000 do local _ = {j} end\n" // garbage for minor collections
      "end\n"
      "for i = 1, 100 do for round = 1, 50 do\n"
      "  assert(old[i][round + 1][2] == tostring(round * i))\n"
      "end end\n");
  EXPECT_EQ(G(L)->gckind, KGC_GEN);
}

// Every first allocation attempt fails, so every allocation runs an emergency collection,
// including those that regrow a stack or extend the CallInfo list: the collection must not
// shrink the stack or the list being regrown (AddressSanitizer sees the block freed under
// the caller otherwise).
TEST_F(GcState, EmergencyCollectionsLeaveStacksAlone) {
  run("t = {} for i = 1, 3000 do t[i] = i end\n"
      "function rec(n) if n == 0 then return 0 end return 1 + rec(n - 1) end\n");
  lua_gc(L, LUA_GCCOLLECT);
  refused = 0;
  refuse_growth = true;
  run("for r = 1, 5 do\n"
      "  assert(select('#', table.unpack(t)) == 3000)\n"
      "  assert(rec(2000) == 2000)\n"
      "  local co = coroutine.wrap(function(n) coroutine.yield(rec(n)) return select('#', table.unpack(t)) end)\n"
      "  assert(co(500) == 500 and co() == 3000)\n"
      "  local s = {} for i = 1, 200 do s[i] = 'x' .. i end\n"
      "end\n");
  refuse_growth = false;
  EXPECT_GT(refused, 1000);
  run("assert(rec(100) == 100)");
}

TEST_F(GcState, EmergencyCollectionsRunNoFinalizers) {
  lua_gc(L, LUA_GCSTOP);
  run("count = 0\n"
      "for i = 1, 10 do setmetatable({}, {__gc = function() count = count + 1 end}) end\n");
  int strsize = G(L)->strt.size;
  refuse_growth = true;
  run("local t = {} for i = 1, 100 do t[i] = {i} end");
  refuse_growth = false;
  EXPECT_EQ(global_int("count"), 0);
  EXPECT_EQ(G(L)->strt.size, strsize);
  lua_gc(L, LUA_GCCOLLECT);
  EXPECT_EQ(global_int("count"), 10);
  lua_gc(L, LUA_GCCOLLECT);
  EXPECT_EQ(global_int("count"), 10);
}

TEST_F(GcState, TheStringTableShrinksWhenMostlyEmpty) {
  run("local t = {} for i = 1, 20000 do t[i] = 'string number ' .. i end");
  int grown = G(L)->strt.size;
  EXPECT_GE(grown, 16384);
  lua_gc(L, LUA_GCCOLLECT);
  int after = G(L)->strt.size;
  EXPECT_EQ(after, grown / 2); // halved once per cycle
  for (int i = 0; i < 20; i++) lua_gc(L, LUA_GCCOLLECT);
  EXPECT_LT(G(L)->strt.size, 1024);
  EXPECT_GE(G(L)->strt.nuse * 4, G(L)->strt.size / 2);
}

static int finalized = 0;
static int note_finalized(lua_State *) {
  finalized++;
  return 0;
}

// A finalizer that calls the collector, in every mode and at close.
TEST(GcClose, CollectorCallsFromFinalizersAtClose) {
  for (int gen = 0; gen < 2; gen++) {
    TestAlloc alloc;
    lua_State *L = lua_newstate(test_alloc, &alloc);
    luaL_openlibs(L);
    if (gen) lua_gc(L, LUA_GCGEN, 0, 0);
    lua_pushcfunction(L, note_finalized);
    lua_setglobal(L, "note");
    const char *code =
        "for i = 1, 50 do\n"
        "  setmetatable({}, {__gc = function(o)\n"
        "    note()\n"
        "    assert(collectgarbage() == 0)\n"
        "    collectgarbage('step')\n"
        "    collectgarbage(i % 2 == 0 and 'generational' or 'incremental')\n"
        "    local garbage = {} for j = 1, 100 do garbage[j] = {j} end\n"
        "    setmetatable({}, {__gc = function() note() end})\n"
        "  end})\n"
        "end\n"
        "keep = {}\n"
        "for i = 1, 50 do keep[i] = setmetatable({}, {__gc = function() note() collectgarbage() end}) end\n";
    ASSERT_EQ(luaL_loadbufferx(L, code, std::strlen(code), "=close", "t"), LUA_OK);
    lua_gc(L, LUA_GCSTOP); // no finalizer before the collection below
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK) << lua_tostring(L, -1);
    finalized = 0;
    lua_gc(L, LUA_GCCOLLECT);
    // the 50 dropped objects ran once each; the objects they made are waiting
    EXPECT_EQ(finalized, 50);
    lua_close(L);
    // at close: the 50 kept ones, and the 50 made by the first finalizers
    EXPECT_EQ(finalized, 150);
    EXPECT_EQ(alloc.live_blocks(), 0u);
  }
}

// Every block is freed with the size it was requested with.
namespace {
struct SizeCheck {
  std::map<void *, size_t> sizes;
  long long mismatches = 0;
};
void *size_checking_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int, size_t) {
  SizeCheck *c = static_cast<SizeCheck *>(ud);
  if (ptr != nullptr) {
    auto it = c->sizes.find(ptr);
    if (it == c->sizes.end() || it->second != osize) c->mismatches++;
    if (it != c->sizes.end()) c->sizes.erase(it);
  }
  if (nsize == 0) {
    std::free(ptr);
    return nullptr;
  }
  void *nb = std::realloc(ptr, nsize);
  if (nb) c->sizes[nb] = nsize;
  return nb;
}
} // namespace

TEST(GcSizes, EveryKindOfObjectIsFreedWithItsSize) {
  for (int gen = 0; gen < 2; gen++) {
    SizeCheck check;
    cpu_cycles = 0;
    cpu_cycles_max = INT32_MAX;
    lua_State *L = lua_newstate(size_checking_alloc, &check);
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
    if (gen) lua_gc(L, LUA_GCGEN, 0, 0);
    for (int round = 0; round < 3; round++) {
      for (int uv = 0; uv < 3; uv++) {
        void *p = lua_newuserdatauv(L, 10 + uv, uv);
        std::memset(p, 0, 10 + uv);
        lua_pop(L, 1);
      }
      lua_pushinteger(L, round);
      lua_pushcclosure(L, note_finalized, 1); // a C closure with one upvalue
      lua_pop(L, 1);
      const char *code =
          "local t = {1, 2, 3, x = 'short', y = string.rep('long', 30)}\n"
          "for i = 1, 100 do t[i] = {i} end\n"
          "local up = 0\n"
          "local f = function() up = up + 1 return up end\n"
          "local co = coroutine.wrap(function(a) local b = coroutine.yield(a) return b end)\n"
          "co(1)\n"
          "local dead = coroutine.create(function() local x = {} coroutine.yield(function() return x end) end)\n"
          "coroutine.resume(dead)\n"
          "local s = {} for i = 1, 300 do s[i] = 'str' .. i end\n"
          "setmetatable({}, {__gc = function() end})\n"
          "local function va(a, ...) return a, select('#', ...) end va(1, 2, 3)\n"
          "for i = 1, 50 do t[i] = nil end collectgarbage('step')\n";
      ASSERT_EQ(luaL_loadbufferx(L, code, std::strlen(code), "=sizes", "t"), LUA_OK);
      ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK) << lua_tostring(L, -1);
      lua_gc(L, LUA_GCCOLLECT);
    }
    lua_close(L);
    EXPECT_EQ(check.mismatches, 0);
    EXPECT_TRUE(check.sizes.empty());
    cpu_cycles = cpu_cycles_max = 0;
  }
}

// Collector modes and extremes: mode results after a bad major collection, step-size extremes, and
// finalizers run from a suspended thread (the kernel collects between frames).
namespace gc_modes {

namespace {

struct GcModes : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override {
    cpu_cycles = 0;
    cpu_cycles_max = INT32_MAX;
    L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
  }
  void TearDown() override {
    cpu_cycles = cpu_cycles_max = 0;
    if (L) lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
  }
  void run(lua_State *th, const char *code) {
    ASSERT_EQ(luaL_loadstring(th, code), LUA_OK) << lua_tostring(th, -1);
    ASSERT_EQ(lua_pcall(th, 0, 0, 0), LUA_OK) << lua_tostring(th, -1);
  }
  lua_Integer global_int(const char *name) {
    lua_getglobal(L, name);
    lua_Integer v = lua_tointeger(L, -1);
    lua_pop(L, 1);
    return v;
  }
};

} // namespace

// An incremental collector that still remembers a bad major collection counts as generational.
TEST_F(GcModes, ALastAtomicCountMakesTheModeGenerational) {
  global_State *g = G(L);
  ASSERT_EQ(g->gckind, KGC_INC);
  g->lastatomic = 1000;
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCGEN);
  EXPECT_EQ(g->lastatomic, 0u);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCINC);
  g->lastatomic = 1000;
  EXPECT_EQ(lua_gc(L, LUA_GCGEN, 0, 0), LUA_GCGEN);
  EXPECT_EQ(g->gckind, KGC_GEN);
  EXPECT_EQ(g->lastatomic, 0u);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCGEN);
  EXPECT_EQ(lua_gc(L, 8), -1);
  EXPECT_EQ(lua_gc(L, 12), -1);
}

// A retained heap that keeps doubling makes major collections bad (the last-atomic count is
// set and the next step is a full one); every object survives that path.
static int bad_seen = 0;
static int note_bad(lua_State *L) {
  if (G(L)->lastatomic != 0) bad_seen++;
  return 0;
}

TEST_F(GcModes, BadMajorCollectionsKeepEverything) {
#ifdef HALVORAN_GC_STRESS
  GTEST_SKIP() << "relies on the collector's normal pacing";
#endif
  bad_seen = 0;
  lua_register(L, "note_bad", note_bad);
  lua_gc(L, LUA_GCGEN, 0, 0);
  run(L, "keep = {}\n"
         "for i = 1, 60000 do keep[i] = {i}; if i % 100 == 0 then note_bad() end end\n"
         "for i = 1, 60000 do assert(keep[i][1] == i) end\n");
  EXPECT_GT(bad_seen, 0);
  run(L, "for i = 1, 60000 do assert(keep[i][1] == i) end keep = nil collectgarbage()");
}

// The step bound saturates instead of overflowing for large step sizes and multipliers.
TEST_F(GcModes, HugeStepSizesRunWholeCycles) {
  for (int size : {40, 57, 61, 62, 63, 100}) {
    lua_gc(L, LUA_GCINC, 0, 1000, size);
    run(L, "local t = {} for i = 1, 2000 do t[i] = {} end");
    lua_gc(L, LUA_GCSTEP, 0);
    EXPECT_EQ(G(L)->gcstepsize, size);
  }
  lua_gc(L, LUA_GCINC, 200, 100, 13);
}

// Finalizers called while their thread is suspended (the kernel collects between frames
// while the program's thread is yielded) are ordinary calls: the thread resumes where it was.
TEST_F(GcModes, FinalizersRunFromASuspendedThread) {
  lua_State *co = lua_newthread(L);
  ASSERT_EQ(luaL_loadstring(co, "fin = 0\n"
                                "for i = 1, 10 do\n"
                                "  setmetatable({}, {__gc = function(o) fin = fin + select('#', type(o)) end})\n"
                                "  setmetatable({}, {__gc = next})\n" // a C function as finalizer
                                "end\n"
                                "local x = coroutine.yield(7)\n"
                                "return x + 1\n"),
            LUA_OK);
  int nres = 0;
  ASSERT_EQ(lua_resume(co, L, 0, &nres), LUA_YIELD);
  ASSERT_EQ(nres, 1);
  EXPECT_EQ(lua_tointeger(co, -1), 7);
  lua_pop(co, nres);
  lua_gc(co, LUA_GCCOLLECT);
  EXPECT_EQ(global_int("fin"), 10);
  EXPECT_EQ(lua_status(co), LUA_YIELD);
  lua_pushinteger(co, 41);
  ASSERT_EQ(lua_resume(co, L, 1, &nres), LUA_OK) << lua_tostring(co, -1);
  ASSERT_EQ(nres, 1);
  EXPECT_EQ(lua_tointeger(co, -1), 42);
  lua_pop(L, 1);
}

} // namespace gc_modes
