// States, threads and the charging memory layer: sizes requested, charges billed, the
// emergency retry and the call-depth limits.
#include <gtest/gtest.h>

#include <cstring>

#include "lua/do.h"
#include "lua/func.h"
#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/gc.h"
#include "lua/mem.h"
#include "lua/state.h"
#include "lua/string.h"
#include "test_alloc.h"

namespace {

// Sum of the sizes of the live blocks according to the allocator log is hard to rebuild, so
// tests compare deltas of the collector's view and of the allocator's charge.
long long gcbytes(lua_State *L) { return (long long)gettotalbytes(G(L)); }

// Keeps the collector quiet so that a test sees only the allocations it makes itself.
void quiet(lua_State *L) { luaE_setdebt(G(L), -(l_mem)100000000); }

struct StateFixture : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override {
    L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
    quiet(L);
  }
  void TearDown() override {
    if (L) lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
    EXPECT_EQ(alloc.charged, 0);
  }
};

}  // namespace

TEST(State, NewStateRequestsOneBlockOf1616) {
  TestAlloc alloc;
  lua_State *L = lua_newstate(test_alloc, &alloc);
  ASSERT_NE(L, nullptr);
  ASSERT_FALSE(alloc.calls.empty());
  const AllocCall &first = alloc.calls[0];
  EXPECT_TRUE(first.fresh);
  EXPECT_EQ(first.osize, (size_t)LUA_TTHREAD);
  EXPECT_EQ(first.nsize, 1616u);
  EXPECT_EQ(first.charge, 1616u);
  EXPECT_EQ(first.final_attempt, 0);
  global_State *g = G(L);
  EXPECT_EQ(g->totalbytes, 1616);
  // The debt is exactly the bytes requested by the building step.
  long long requested = 0;
  for (size_t i = 1; i < alloc.calls.size(); i++) {
    const AllocCall &c = alloc.calls[i];
    requested += (long long)c.nsize - (c.fresh ? 0 : (long long)c.osize);
  }
  EXPECT_EQ((long long)g->GCdebt, requested);
  // The first stack: 45 slots, 720 bytes requested and charged.
  bool sawstack = false;
  for (const AllocCall &c : alloc.calls)
    if (c.fresh && c.nsize == 720 && c.charge == 720) sawstack = true;
  EXPECT_TRUE(sawstack);
  EXPECT_EQ(L->stack_last - L->stack, 40);
  EXPECT_EQ(L->top, L->stack + 1);
  EXPECT_EQ(L->ci, &L->base_ci);
  EXPECT_EQ(L->base_ci.top, L->top + LUA_MINSTACK);
  EXPECT_EQ(L->base_ci.callstatus, CIST_C);
  // Start values of the global record.
  EXPECT_TRUE(completestate(g));
  EXPECT_EQ(g->currentwhite, 8);
  EXPECT_EQ(g->gckind, KGC_INC);
  EXPECT_EQ(g->genminormul, 20);
  EXPECT_EQ(g->genmajormul, 25);
  EXPECT_EQ(g->gcpause, 50);
  EXPECT_EQ(g->gcstepmul, 25);
  EXPECT_EQ(g->gcstepsize, 13);
  EXPECT_EQ(g->gcrunning, 1);
  EXPECT_EQ(g->strt.size, 128);
  EXPECT_EQ(g->mainthread, L);
  EXPECT_EQ(L->nCcalls, 0x10000u);
  EXPECT_EQ(L->slice_escape, 0);
  EXPECT_STREQ(getstr(g->memerrmsg), "not enough memory");
  EXPECT_STREQ(getstr(g->tmname[0]), "__index");
  EXPECT_STREQ(getstr(g->tmname[24]), "__close");
  for (int i = 0; i < STRCACHE_N; i++)
    for (int j = 0; j < STRCACHE_M; j++) EXPECT_NE(g->strcache[i][j], nullptr);
  // Registry: array part of two, main thread then globals.
  Table *reg = hvalue(&g->l_registry);
  EXPECT_EQ(reg->alimit, 2u);
  EXPECT_TRUE(ttisthread(&reg->array[0]));
  EXPECT_EQ(thvalue(&reg->array[0]), L);
  EXPECT_TRUE(ttistable(&reg->array[1]));
  lua_close(L);
  EXPECT_EQ(alloc.live_blocks(), 0u);
  EXPECT_EQ(alloc.charged, 0);
}

TEST(State, SeedsDifferBetweenStates) {
  // Addresses take part in the seed; two live states never share all three.
  TestAlloc a1, a2;
  lua_State *L1 = lua_newstate(test_alloc, &a1);
  lua_State *L2 = lua_newstate(test_alloc, &a2);
  EXPECT_NE(G(L1)->seed, G(L2)->seed);
  lua_close(L1);
  lua_close(L2);
}

TEST(State, FailureWhileBuildingReturnsNullWithoutRetry) {
  // Count the requests of a successful build, then fail each one in turn.
  TestAlloc probe;
  lua_State *L = lua_newstate(test_alloc, &probe);
  ASSERT_NE(L, nullptr);
  long long n = probe.requests;
  lua_close(L);
  ASSERT_GT(n, 5);
  for (long long i = 0; i < n; i++) {
    TestAlloc a;
    a.fail_from = i;
    a.fail_to = n + 1000;
    a.fail_final = true;
    lua_State *L1 = lua_newstate(test_alloc, &a);
    EXPECT_EQ(L1, nullptr) << "failing request " << i;
    for (const AllocCall &c : a.calls) EXPECT_EQ(c.final_attempt, 0) << "request " << i;
    EXPECT_EQ(a.live_blocks(), 0u) << "request " << i;
    EXPECT_EQ(a.charged, 0) << "request " << i;
  }
}

TEST_F(StateFixture, CoroutineCosts200RequestedAnd1616Charged) {
  long long bytes0 = gcbytes(L);
  long long charged0 = alloc.charged;
  alloc.reset_log();
  lua_State *L1 = lua_newthread(L);
  ASSERT_NE(L1, nullptr);
  EXPECT_EQ(gcbytes(L) - bytes0, 200 + 720);
  EXPECT_EQ(alloc.charged - charged0, 1616 + 720);
  ASSERT_GE(alloc.calls.size(), 2u);
  EXPECT_TRUE(alloc.calls[0].fresh);
  EXPECT_EQ(alloc.calls[0].osize, 8u);
  EXPECT_EQ(alloc.calls[0].nsize, 200u);
  EXPECT_EQ(alloc.calls[0].charge, 1616u);
  EXPECT_EQ(alloc.calls[1].nsize, 720u);
  EXPECT_EQ(alloc.calls[1].charge, 720u);
  // Pushed on the creator's stack; yieldable; no escape yet.
  EXPECT_TRUE(ttisthread(s2v(L->top - 1)));
  EXPECT_EQ(thvalue(s2v(L->top - 1)), L1);
  EXPECT_EQ(L1->nCcalls, 0u);
  EXPECT_EQ(L1->slice_escape, 0);
  EXPECT_EQ(L1->status, LUA_OK);
  EXPECT_EQ(L1->twups, L1);
  EXPECT_EQ(G(L1), G(L));
  EXPECT_EQ(L1->stack_last - L1->stack, 40);
}

TEST_F(StateFixture, CoroutineCopiesExtraSlotAndHooks) {
  void *mark = &alloc;
  memcpy(lua_getextraspace(L), &mark, sizeof(mark));
  L->basehookcount = 7;
  L->hookmask = LUA_MASKCOUNT;
  lua_State *L1 = lua_newthread(L);
  void *got;
  memcpy(&got, lua_getextraspace(L1), sizeof(got));
  EXPECT_EQ(got, mark);
  EXPECT_EQ(L1->basehookcount, 7);
  EXPECT_EQ(L1->hookcount, 7);
  EXPECT_EQ(L1->hookmask, LUA_MASKCOUNT);
  L->hookmask = 0;
  L->basehookcount = 0;
}

TEST_F(StateFixture, TenByteStringCosts35DebtAnd42Charge) {
  long long bytes0 = gcbytes(L);
  long long charged0 = alloc.charged;
  TString *s = luaS_newlstr(L, "abcdefghij", 10);
  EXPECT_EQ(gcbytes(L) - bytes0, 35);
  EXPECT_EQ(alloc.charged - charged0, 42);
  EXPECT_EQ(alloc.calls.back().osize, (size_t)LUA_TSTRING);
  EXPECT_EQ(tsslen(s), 10u);
}

TEST_F(StateFixture, SetCStackLimitIsFixed) {
  EXPECT_EQ(lua_setcstacklimit(L, 1000), 200);
  EXPECT_EQ(lua_setcstacklimit(L, 0), 200);
}

namespace {
void incone(lua_State *L, void *) { luaE_incCstack(L); }
}  // namespace

TEST_F(StateFixture, CallDepthLimits) {
  uint32_t saved = L->nCcalls;
  // Reaching exactly 200: an ordinary error with its message.
  L->nCcalls = 0x10000 | 199;
  StkId top = L->top;
  int st = luaD_rawrunprotected(L, incone, nullptr);
  EXPECT_EQ(st, LUA_ERRRUN);
  ASSERT_TRUE(ttisstring(s2v(L->top - 1)));
  EXPECT_NE(strstr(svalue(s2v(L->top - 1)), "C stack overflow"), nullptr);
  L->top = top;
  // Between 201 and 219 nothing is raised: room for the handlers.
  for (uint32_t n = 200; n < 219; n++) {
    L->nCcalls = 0x10000 | n;
    EXPECT_EQ(luaD_rawrunprotected(L, incone, nullptr), LUA_OK) << n;
  }
  // From 220 on: error in error handling, without a message.
  L->nCcalls = 0x10000 | 219;
  top = L->top;
  EXPECT_EQ(luaD_rawrunprotected(L, incone, nullptr), LUA_ERRERR);
  EXPECT_EQ(L->top, top);
  L->nCcalls = saved;
}

TEST_F(StateFixture, CallInfoListGrowsAndShrinksByHalves) {
  long long bytes0 = gcbytes(L);
  long long charged0 = alloc.charged;
  CallInfo *base = L->ci;
  for (int i = 0; i < 6; i++) L->ci = luaE_extendCI(L);
  EXPECT_EQ(L->nci, 6);
  EXPECT_EQ(gcbytes(L) - bytes0, 6 * 64);
  EXPECT_EQ(alloc.charged - charged0, 6 * 64);
  L->ci = base;
  luaE_shrinkCI(L);  // keeps 1st, 3rd, 5th free records
  EXPECT_EQ(L->nci, 3);
  int n = 0;
  for (CallInfo *ci = base->next; ci; ci = ci->next) {
    EXPECT_EQ(ci->previous == base || ci->previous->next == ci, true);
    n++;
  }
  EXPECT_EQ(n, 3);
  luaE_freeCI(L);
  EXPECT_EQ(L->nci, 0);
  EXPECT_EQ(base->next, nullptr);
  EXPECT_EQ(gcbytes(L), bytes0);
  EXPECT_EQ(alloc.charged, charged0);
}

TEST_F(StateFixture, SetDebtKeepsTheTotal) {
  long long total = gcbytes(L);
  luaE_setdebt(G(L), 12345);
  EXPECT_EQ(gcbytes(L), total);
  EXPECT_EQ(G(L)->GCdebt, 12345);
  luaE_setdebt(G(L), -(l_mem)MAX_LMEM);  // clamped so the total stays representable
  EXPECT_EQ(gcbytes(L), total);
  quiet(L);
}

namespace {
struct GrowArgs {
  int *v;
  int size;
  int nelems;
  int limit;
};
void grow(lua_State *L, void *ud) {
  GrowArgs *a = static_cast<GrowArgs *>(ud);
  a->v = static_cast<int *>(
      luaM_growaux_(L, a->v, a->nelems, &a->size, sizeof(int), a->limit, "things"));
}
}  // namespace

TEST_F(StateFixture, VectorGrowthDoublesFromFourAndStopsAtTheLimit) {
  GrowArgs a{nullptr, 0, 0, 40};
  std::vector<int> sizes;
  for (;;) {
    alloc.reset_log();
    StkId top = L->top;
    int st = luaD_rawrunprotected(L, grow, &a);
    if (st != LUA_OK) {
      EXPECT_EQ(st, LUA_ERRRUN);
      EXPECT_NE(strstr(svalue(s2v(L->top - 1)), "too many things (limit is 40)"), nullptr)
          << svalue(s2v(L->top - 1));
      L->top = top;
      break;
    }
    if (sizes.empty() || sizes.back() != a.size) {
      sizes.push_back(a.size);
      ASSERT_EQ(alloc.calls.size(), 1u);
      EXPECT_EQ(alloc.calls[0].nsize, (size_t)a.size * sizeof(int));
      EXPECT_EQ(alloc.calls[0].charge, (size_t)a.size * 16);
    }
    a.nelems = a.size;  // full: the next call must grow
  }
  EXPECT_EQ(sizes, (std::vector<int>{4, 8, 16, 32, 40}));
  // No growth while there is room.
  a.nelems = 10;
  alloc.reset_log();
  EXPECT_EQ(luaD_rawrunprotected(L, grow, &a), LUA_OK);
  EXPECT_TRUE(alloc.calls.empty());
  luaM_free_(L, a.v, (size_t)a.size * sizeof(int));
}

TEST_F(StateFixture, FailedRequestIsRetriedOnceAfterEmergencyCollection) {
  long long bytes0 = gcbytes(L);
  alloc.reset_log();
  alloc.fail_from = alloc.requests;  // the next request fails, its retry succeeds
  alloc.fail_to = alloc.requests + 1;
  void *b = luaM_malloc_(L, 100, 0, 100);
  ASSERT_NE(b, nullptr);
  // The failed first try and the final attempt with the same request.
  bool sawfail = false, sawfinal = false;
  for (const AllocCall &c : alloc.calls) {
    if (!c.ok && c.nsize == 100 && c.final_attempt == 0) sawfail = true;
    if (c.ok && c.nsize == 100 && c.charge == 100 && c.final_attempt == 1) sawfinal = true;
  }
  EXPECT_TRUE(sawfail);
  EXPECT_TRUE(sawfinal);
  EXPECT_EQ(G(L)->gcemergency, 0);
  luaM_free_(L, b, 100);
  EXPECT_LE(gcbytes(L), bytes0);  // the collection may have freed garbage
  quiet(L);
}

namespace {
void alloc100(lua_State *L, void *) { luaM_malloc_(L, 100, 0, 100); }
}  // namespace

TEST_F(StateFixture, FinalFailureRaisesMemoryError) {
  alloc.fail_from = alloc.requests;
  alloc.fail_to = alloc.requests + 1000000;
  alloc.fail_final = true;
  StkId top = L->top;
  int st = luaD_rawrunprotected(L, alloc100, nullptr);
  alloc.fail_from = alloc.fail_to = -1;
  EXPECT_EQ(st, LUA_ERRMEM);
  L->top = top;
  quiet(L);
}

TEST_F(StateFixture, ShrinkFailureIsNotRetried) {
  void *b = luaM_malloc_(L, 256, 0, 256);
  alloc.reset_log();
  alloc.fail_from = alloc.requests;
  alloc.fail_to = alloc.requests + 1000;
  alloc.fail_final = true;
  long long bytes0 = gcbytes(L);
  void *nb = luaM_realloc_(L, b, 256, 64, 64);
  alloc.fail_from = alloc.fail_to = -1;
  EXPECT_EQ(nb, nullptr);
  ASSERT_EQ(alloc.calls.size(), 1u);  // no emergency collection, no final attempt
  EXPECT_EQ(alloc.calls[0].final_attempt, 0);
  EXPECT_EQ(gcbytes(L), bytes0);
  luaM_free_(L, b, 256);
}

TEST_F(StateFixture, ReallocCountsRequestedBytes) {
  long long bytes0 = gcbytes(L);
  void *b = luaM_realloc_(L, nullptr, 0, 48, 96);
  EXPECT_EQ(gcbytes(L) - bytes0, 48);
  b = luaM_realloc_(L, b, 48, 160, 7);
  EXPECT_EQ(gcbytes(L) - bytes0, 160);
  EXPECT_EQ(alloc.live[b], 7u);
  luaM_free_(L, b, 160);
  EXPECT_EQ(gcbytes(L), bytes0);
  EXPECT_EQ(alloc.calls.back().charge, 0u);
  EXPECT_EQ(luaM_malloc_(L, 0, 0, 0), nullptr);
}

TEST_F(StateFixture, ResetThreadWithoutPendingClosesIsOk) {
  lua_State *L1 = lua_newthread(L);
  setivalue(s2v(L1->top), 42);
  L1->top++;
  L1->status = LUA_ERRRUN;
  EXPECT_EQ(lua_resetthread(L1), LUA_OK);
  EXPECT_EQ(L1->status, LUA_OK);
  EXPECT_EQ(L1->top, L1->stack + 1);
  EXPECT_EQ(L1->ci, &L1->base_ci);
  EXPECT_EQ(L1->base_ci.top, L1->top + LUA_MINSTACK);
}

TEST_F(StateFixture, WarningsAreDroppedWithoutAFunction) {
  luaE_warning(L, "nobody listens", 0);  // must not crash
  std::string got;
  G(L)->warnf = [](void *ud, const char *msg, int) { *static_cast<std::string *>(ud) += msg; };
  G(L)->ud_warn = &got;
  setsvalue(L, s2v(L->top), luaS_new(L, "boom"));
  L->top++;
  luaE_warnerror(L, "__close metamethod");
  EXPECT_EQ(got, "error in __close metamethod (boom)");
  got.clear();
  setivalue(s2v(L->top - 1), 3);
  luaE_warnerror(L, "x");
  EXPECT_EQ(got, "error in x (error object is not a string)");
  L->top--;
  G(L)->warnf = nullptr;
}

TEST_F(StateFixture, FunctionObjectCharges) {
  struct Want {
    size_t nsize, charge;
  };
  auto last = [&]() { return Want{alloc.calls.back().nsize, alloc.calls.back().charge}; };
  alloc.reset_log();
  LClosure *lcl = luaF_newLclosure(L, 3);
  EXPECT_EQ(last().nsize, 32u + 8 * 3);
  EXPECT_EQ(last().charge, 32u + 16 * 3);
  EXPECT_EQ(alloc.calls.back().osize, (size_t)LUA_TFUNCTION);
  for (int i = 0; i < 3; i++) EXPECT_EQ(lcl->upvals[i], nullptr);
  setclLvalue(L, s2v(L->top), lcl);  // anchored
  L->top++;
  luaF_newLclosure(L, 0);
  EXPECT_EQ(last().nsize, 32u);
  EXPECT_EQ(last().charge, 32u);
  CClosure *ccl = luaF_newCclosure(L, 2);
  EXPECT_EQ(last().nsize, 32u + 16 * 2);
  EXPECT_EQ(last().charge, 40u + 16 * 2);
  EXPECT_EQ(ccl->nupvalues, 2);
  luaF_newproto(L);
  EXPECT_EQ(last().nsize, 128u);
  EXPECT_EQ(last().charge, 128u);
  EXPECT_EQ(alloc.calls.back().osize, (size_t)LUA_TPROTO);
  alloc.reset_log();
  luaF_initupvals(L, lcl);
  ASSERT_EQ(alloc.calls.size(), 3u);
  for (const AllocCall &c : alloc.calls) {
    EXPECT_EQ(c.nsize, 40u);
    EXPECT_EQ(c.charge, 40u);
    EXPECT_EQ(c.osize, (size_t)LUA_TUPVAL);
  }
  for (int i = 0; i < 3; i++) {
    EXPECT_FALSE(upisopen(lcl->upvals[i]));
    EXPECT_TRUE(ttisnil(lcl->upvals[i]->v));
  }
}

TEST_F(StateFixture, OpenUpvaluesAreSharedOrderedAndClosed) {
  StkId base = L->top;
  for (int i = 0; i < 4; i++) setivalue(s2v(base + i), 100 + i);
  L->top = base + 4;
  UpVal *u1 = luaF_findupval(L, base + 1);
  UpVal *u3 = luaF_findupval(L, base + 3);
  UpVal *u2 = luaF_findupval(L, base + 2);
  EXPECT_EQ(luaF_findupval(L, base + 1), u1);  // shared
  // Deepest first.
  EXPECT_EQ(L->openupval, u3);
  EXPECT_EQ(u3->u.open.next, u2);
  EXPECT_EQ(u2->u.open.next, u1);
  EXPECT_EQ(u1->u.open.next, nullptr);
  EXPECT_TRUE(isintwups(L));
  EXPECT_EQ(G(L)->twups, L);
  // Closing from base + 2 closes u3 and u2 and keeps their values.
  EXPECT_EQ(luaF_close(L, base + 2, LUA_OK), LUA_OK);
  EXPECT_FALSE(upisopen(u3));
  EXPECT_FALSE(upisopen(u2));
  EXPECT_TRUE(upisopen(u1));
  EXPECT_EQ(ivalue(u3->v), 103);
  EXPECT_EQ(ivalue(u2->v), 102);
  EXPECT_EQ(L->openupval, u1);
  setivalue(s2v(base + 1), 7);  // an open upvalue sees the slot
  EXPECT_EQ(ivalue(u1->v), 7);
  luaF_close(L, base, NOCLOSINGMETH);
  EXPECT_EQ(L->openupval, nullptr);
  EXPECT_EQ(ivalue(u1->v), 7);
  L->top = base;
}

namespace {
TestAlloc *armed_alloc = nullptr;
int arm(lua_State *) {
  armed_alloc->refuse_kind = LUA_TUPVAL;  // the next upvalue cannot be made
  return 0;
}
}  // namespace

TEST_F(StateFixture, ToBeClosedWithoutMemoryClosesAtOnce) {
  luaL_openlibs(L);
  armed_alloc = &alloc;
  lua_register(L, "arm", arm);
  const char *code =
      "local obj = setmetatable({}, {__close = function(_, e) CALLS = (CALLS or 0) + 1; ERR = e end})\n"
      "arm()\n"
      "local x <close> = obj\n"
      "return 'not reached'\n";
  ASSERT_EQ(luaL_loadstring(L, code), LUA_OK);
  int st = lua_pcall(L, 0, 1, 0);
  alloc.refuse_kind = -1;
  EXPECT_EQ(st, LUA_ERRMEM);
  EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
  lua_pop(L, 1);
  lua_getglobal(L, "CALLS");
  EXPECT_EQ(lua_tointeger(L, -1), 1);  // once, not again when the error is caught
  lua_getglobal(L, "ERR");
  EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
  lua_pop(L, 2);
  // The final attempt was made before giving up.
  bool sawfinal = false;
  for (const AllocCall &c : alloc.calls)
    if (c.fresh && c.osize == (size_t)LUA_TUPVAL && c.final_attempt == 1) sawfinal = true;
  EXPECT_TRUE(sawfinal);
}
