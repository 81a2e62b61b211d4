// The interpreter and the call machinery: forced yields against the cycle budget, the resume
// mark, peeks of process memory, stack limits and call-depth bookkeeping.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/do.h"
#include "lua/libs.h"
#include "lua/lua.h"
#include "lua/object.h"
#include "lua/state.h"

namespace {

struct VmTest : ::testing::Test {
  Process proc{};
  lua_State *L = nullptr;
  int32_t saved_cycles = 0, saved_max = 0, saved_super = 0;

  void SetUp() override {
    saved_cycles = cpu_cycles;
    saved_max = cpu_cycles_max;
    saved_super = cpu_superyielding;
    std::memset(&proc, 0, sizeof proc);
    cproc = &proc;
    L = lua_newstate(l_alloc, &proc);
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
    budget(0, 1 << 30);
  }
  void TearDown() override {
    lua_close(L);
    free_process_memory(&proc);
    cproc = nullptr;
    cpu_cycles = saved_cycles;
    cpu_cycles_max = saved_max;
    cpu_superyielding = saved_super;
  }
  void budget(int32_t start, int32_t max) {
    cpu_cycles = start;
    cpu_cycles_max = max;
    cpu_superyielding = 0;
  }
  void load(const char *code) { ASSERT_EQ(luaL_loadstring(L, code), LUA_OK) << lua_tostring(L, -1); }
  // Runs the loaded main function to completion with an ample budget.
  int resume_all(int *nres) {
    int st;
    do {
      budget(0, 1 << 30);
      st = lua_resume(L, L, 0, nres);
    } while (st == LUA_YIELD);
    return st;
  }
};

// Eleven one-cycle instructions after OP_VARARGPREP take the counter from 0 past 10.
const char *kStraight =
    "local a = 1 local b = 2 local c = 3 local d = a local e = b local f = c "
    "local g = a local h = b local i = c local j = a local k = b local l = c "
    "return a + b + c + d + e + f + g + h + i + j + k + l";

TEST_F(VmTest, ForcedYieldStopsAfterTheCounterPassesTheBudget) {
  load(kStraight);
  budget(0, 10);
  int nres = -1;
  EXPECT_EQ(lua_resume(L, L, 0, &nres), LUA_YIELD);
  EXPECT_EQ(nres, 0);
  EXPECT_EQ(cpu_cycles, 11); // the check at 10 still passes
  EXPECT_EQ(L->slice_escape, 1);
  EXPECT_EQ(lua_status(L), LUA_YIELD);
  EXPECT_TRUE(L->ci->callstatus & CIST_RESUMED);
  // Over budget already: exactly the interrupted instruction runs (one cycle), then a yield.
  budget(50, 10);
  EXPECT_EQ(lua_resume(L, L, 0, &nres), LUA_YIELD);
  EXPECT_EQ(cpu_cycles, 51);
  // With a fresh budget the program finishes with the same result as an unbudgeted run.
  ASSERT_EQ(resume_all(&nres), LUA_OK);
  ASSERT_EQ(nres, 1);
  EXPECT_EQ(lua_tointeger(L, -1), 1 + 2 + 3 + 1 + 2 + 3 + 1 + 2 + 3 + 1 + 2 + 3);
}

TEST_F(VmTest, ASaturatedCounterStillEndsTheSlice) {
  load(kStraight);
  budget(0, 10);
  int nres = -1;
  ASSERT_EQ(lua_resume(L, L, 0, &nres), LUA_YIELD);
  // A native function may have saturated the counter; the resumed instruction runs and the
  // next check must still see the budget spent.
  budget(INT32_MAX, 10);
  EXPECT_EQ(lua_resume(L, L, 0, &nres), LUA_YIELD);
  EXPECT_GT(cpu_cycles, 10);
  budget(INT32_MAX, 10);
  EXPECT_EQ(lua_resume(L, L, 0, &nres), LUA_YIELD);
  EXPECT_GT(cpu_cycles, 10);
}

TEST_F(VmTest, ResumingAForcedYieldRestoresTheFrameTop) {
  // A resumer checks the coroutine's stack for its arguments before each resume; that must
  // not make the interrupted frame's top creep up until the stack overflows.
  lua_State *co = lua_newthread(L);
  ASSERT_EQ(luaL_loadstring(co, "local n = 0 while n >= 0 do n = n + 1 end"), LUA_OK);
  int nres = 0;
  budget(0, 30);
  ASSERT_EQ(lua_resume(co, L, 0, &nres), LUA_YIELD);
  ASSERT_TRUE(isLua(co->ci));
  StkId frametop = co->ci->top;
  for (int round = 0; round < 1000; round++) {
    ASSERT_TRUE(lua_checkstack(co, 3));
    lua_pushinteger(co, round); // dropped by the resume
    budget(0, 30);
    ASSERT_EQ(lua_resume(co, L, 1, &nres), LUA_YIELD);
    ASSERT_EQ(nres, 0);
  }
  EXPECT_EQ(co->ci->top, frametop);
  EXPECT_LE(co->top, frametop);
}

TEST_F(VmTest, SuperyieldEndsTheSliceAtTheNextInstruction) {
  load(kStraight);
  budget(0, 1 << 20);
  cpu_superyielding = SUPERYIELD;
  int nres = -1;
  EXPECT_EQ(lua_resume(L, L, 0, &nres), LUA_YIELD);
  EXPECT_EQ(cpu_cycles, 0); // not even OP_VARARGPREP ran
  cpu_superyielding = 0;
  ASSERT_EQ(resume_all(&nres), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 24);
}

TEST_F(VmTest, ArgumentsOfAResumeAfterAForcedYieldAreDropped) {
  load("local s = 0 for i = 1, 100 do s = s + i end return s");
  budget(0, 20);
  int nres = -1;
  ASSERT_EQ(lua_resume(L, L, 0, &nres), LUA_YIELD);
  lua_pushinteger(L, 111);
  lua_pushinteger(L, 222);
  budget(0, 1 << 30);
  ASSERT_EQ(lua_resume(L, L, 2, &nres), LUA_OK);
  ASSERT_EQ(nres, 1);
  EXPECT_EQ(lua_tointeger(L, -1), 5050);
}

static int status_of_caller(lua_State *L) {
  lua_pushinteger(L, L->ci->previous->callstatus);
  return 1;
}

TEST_F(VmTest, AFreshCallDoesNotInheritTheResumeMark) {
  lua_register(L, "status_of_caller", status_of_caller);
  // f is stopped inside by the budget and resumed within a large budget, so its record keeps
  // the mark when f returns; g then reuses that record.
  load("local function f() local x = 1 local y = 2 local z = 3 "
       "local a, b, c, d, e, f, g, h, i, j = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 "
       "local k, l, m, n, o, p, q, r, s, t = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 return x + y + z end "
       "local function g() return status_of_caller() end "
       "local r = f() return r, g()");
  budget(0, 40);
  int nres = -1;
  while (true) {
    int st = lua_resume(L, L, 0, &nres);
    if (st != LUA_YIELD) {
      ASSERT_EQ(st, LUA_OK);
      break;
    }
    ASSERT_EQ(L->ci->callstatus & CIST_FRESH, 0); // stopped inside f
    budget(0, 1 << 30); // resumed within budget: any mark stays set
  }
  ASSERT_EQ(nres, 2);
  EXPECT_EQ(lua_tointeger(L, -2), 6);
  EXPECT_EQ(lua_tointeger(L, -1) & CIST_RESUMED, 0);
}

TEST_F(VmTest, PeeksSignExtend) {
  poke4(0x1000, 0xFFFFFFFF);
  poke(0x2001, 0x80);
  load("return $4096, %4096, @4096, *4096, %8192, @8193, $8193.0");
  int nres = 0;
  ASSERT_EQ(resume_all(&nres), LUA_OK);
  ASSERT_EQ(nres, 7);
  EXPECT_EQ(lua_tointeger(L, 1), -1);
  EXPECT_EQ(lua_tointeger(L, 2), -1);
  EXPECT_EQ(lua_tointeger(L, 3), 255);
  EXPECT_EQ(lua_tointeger(L, 4), 0xFFFFFFFFll);
  EXPECT_EQ(lua_tointeger(L, 5), -32768); // bytes 00 80
  EXPECT_EQ(lua_tointeger(L, 6), 128);
  EXPECT_EQ(lua_tointeger(L, 7), 128);
}

TEST_F(VmTest, GrowStackWithoutRaisingReportsFailure) {
  EXPECT_EQ(luaD_growstack(L, 10, 0), 1);
  EXPECT_EQ(luaD_growstack(L, LUAI_MAXSTACK + 10, 0), 0); // no error raised
  EXPECT_EQ(stacksize(L), ERRORSTACKSIZE);
  EXPECT_EQ(luaD_growstack(L, 10, 0), 0); // already on the error stack
  luaD_shrinkstack(L, true);
  EXPECT_LE(stacksize(L), LUAI_MAXSTACK);
}

// With the stack in use up to near the limit, a collection keeps the error stack (an overflow
// may still be on its way, or the host may need room for a traceback); only a caught overflow
// returns the thread to the normal size.
TEST_F(VmTest, NearTheLimitOnlyACaughtOverflowLeavesTheErrorStack) {
  ASSERT_EQ(luaD_growstack(L, LUAI_MAXSTACK + 10, 0), 0);
  ASSERT_EQ(stacksize(L), ERRORSTACKSIZE);
  ptrdiff_t oldtop = savestack(L, L->top);
  L->top = L->stack + (LUAI_MAXSTACK - 10); // the new slots are nil
  luaD_shrinkstack(L, false);
  EXPECT_EQ(stacksize(L), ERRORSTACKSIZE);
  L->status = LUA_ERRRUN; // a dead thread keeps its room as well
  luaD_shrinkstack(L, true);
  EXPECT_EQ(stacksize(L), ERRORSTACKSIZE);
  L->status = LUA_OK;
  luaD_shrinkstack(L, true);
  EXPECT_EQ(stacksize(L), LUAI_MAXSTACK);
  L->top = restorestack(L, oldtop);
}

TEST_F(VmTest, MessageHandlerThatOverflowsGivesErrorInErrorHandling) {
  load("local function r() return 1 + r() end "
       "overflow = r "
       "handler = function(m) return r() end "
       "plain = function(m) return 'handled: ' .. m end");
  int nres = 0;
  ASSERT_EQ(resume_all(&nres), LUA_OK);
  lua_settop(L, 0);
  for (int round = 0; round < 2; round++) {
    lua_getglobal(L, "handler");
    lua_getglobal(L, "overflow");
    EXPECT_EQ(lua_pcall(L, 0, 0, 1), LUA_ERRERR);
    EXPECT_STREQ(lua_tostring(L, -1), "error in error handling");
    lua_settop(L, 0);
    // the stack is usable again and a plain handler sees the overflow
    lua_getglobal(L, "plain");
    lua_getglobal(L, "overflow");
    EXPECT_EQ(lua_pcall(L, 0, 0, 1), LUA_ERRRUN);
    ASSERT_TRUE(lua_isstring(L, -1));
    EXPECT_NE(std::strstr(lua_tostring(L, -1), "handled: "), nullptr);
    EXPECT_NE(std::strstr(lua_tostring(L, -1), "stack overflow"), nullptr);
    lua_settop(L, 0);
    EXPECT_LE(stacksize(L), LUAI_MAXSTACK);
  }
}

static int deep_c(lua_State *L) {
  // each level calls Lua, which calls back here
  lua_Integer n = luaL_checkinteger(L, 1);
  if (n == 0) return 0;
  lua_getglobal(L, "down");
  lua_pushinteger(L, n - 1);
  lua_call(L, 1, 0);
  return 0;
}

TEST_F(VmTest, NativeCallDepthLimitAndNestingRestored) {
  lua_register(L, "deep_c", deep_c);
  load("function down(n) return deep_c(n) end "
       "local ok, e = pcall(down, 1000) "
       "local nest = select(2, pcall(down, 10)) "
       "return ok, e");
  int nres = 0;
  ASSERT_EQ(resume_all(&nres), LUA_OK);
  EXPECT_FALSE(lua_toboolean(L, -2));
  ASSERT_TRUE(lua_isstring(L, -1));
  EXPECT_NE(std::strstr(lua_tostring(L, -1), "C stack overflow"), nullptr);
  // a protected call from C restores the count after an error
  lua_settop(L, 0);
  uint32_t n0 = L->nCcalls;
  lua_getglobal(L, "down");
  lua_pushinteger(L, 1000);
  EXPECT_NE(lua_pcall(L, 1, 0, 0), LUA_OK);
  EXPECT_EQ(L->nCcalls, n0);
}

static const char *one_piece(lua_State *, void *ud, size_t *size) {
  const char **text = static_cast<const char **>(ud);
  const char *r = *text;
  *size = r ? std::strlen(r) : 0;
  *text = nullptr;
  return r;
}

TEST_F(VmTest, LoadNamesAnonymousChunksAndSetsGlobals) {
  const char *text = "x_from_chunk = 42 return ...";
  ASSERT_EQ(lua_load(L, one_piece, &text, nullptr, nullptr), LUA_OK);
  lua_Debug ar;
  lua_pushvalue(L, -1);
  ASSERT_TRUE(lua_getinfo(L, ">S", &ar));
  EXPECT_STREQ(ar.source, "?");
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  lua_getglobal(L, "x_from_chunk");
  EXPECT_EQ(lua_tointeger(L, -1), 42);
  // the mode check
  const char *bin = "\x1bLua";
  ASSERT_EQ(lua_load(L, one_piece, &bin, "=b", "t"), LUA_ERRSYNTAX);
  EXPECT_STREQ(lua_tostring(L, -1), "attempt to load a binary chunk (mode is 't')");
  const char *txt = "return 1";
  ASSERT_EQ(lua_load(L, one_piece, &txt, "=t", "b"), LUA_ERRSYNTAX);
  EXPECT_STREQ(lua_tostring(L, -1), "attempt to load a text chunk (mode is 'b')");
  // an empty input is text
  const char *empty = "";
  EXPECT_EQ(lua_load(L, one_piece, &empty, "=e", "t"), LUA_OK);
}

TEST_F(VmTest, ResumeErrors) {
  lua_State *co = lua_newthread(L);
  int nres = 0;
  lua_pushinteger(co, 1);
  EXPECT_EQ(lua_resume(co, L, 1, &nres), LUA_ERRRUN); // no function: dead
  EXPECT_STREQ(lua_tostring(co, -1), "cannot resume dead coroutine");
  EXPECT_EQ(lua_gettop(co), 1);
  EXPECT_EQ(lua_status(co), LUA_OK);
}

TEST_F(VmTest, YieldOutsideACoroutine) {
  load("return string.gsub('a', '.', function() coroutine.yield() end)");
  int nres = 0;
  ASSERT_EQ(resume_all(&nres), LUA_ERRRUN);
  EXPECT_NE(std::strstr(lua_tostring(L, -1), "attempt to yield from outside a coroutine"), nullptr);
}

// Each level is a native call that calls Lua again: one more nested native call per level.
int nest_c(lua_State *L) {
  lua_Integer n = luaL_checkinteger(L, 1);
  if (n <= 0) return 0;
  lua_getglobal(L, "down");
  lua_pushinteger(L, n - 1);
  lua_call(L, 1, 0);
  return 0;
}

// "C stack overflow" is raised when the count reaches 200; its message handler runs at 201 and
// may still nest up to 219 (18 levels), while reaching 220 (19 levels) turns the error into an
// error in error handling.
TEST_F(VmTest, HandlersGetRoomUpTo220NestedCalls) {
  lua_register(L, "nest_c", nest_c);
  load("function down(n) return nest_c(n) end "
       "function shallow(m) down(18) return 'handled: ' .. m end "
       "function deep(m) down(19) return 'never' end");
  int nres = 0;
  ASSERT_EQ(resume_all(&nres), LUA_OK);
  lua_settop(L, 0);
  for (const char *handler : {"shallow", "deep", "shallow"}) {
    uint32_t before = L->nCcalls;
    lua_getglobal(L, handler);
    lua_getglobal(L, "down");
    lua_pushinteger(L, 1000);
    int st = lua_pcall(L, 1, 0, 1);
    if (std::strcmp(handler, "shallow") == 0) {
      EXPECT_EQ(st, LUA_ERRRUN);
      ASSERT_TRUE(lua_isstring(L, -1));
      EXPECT_NE(std::strstr(lua_tostring(L, -1), "handled: "), nullptr);
      EXPECT_NE(std::strstr(lua_tostring(L, -1), "C stack overflow"), nullptr);
    } else {
      EXPECT_EQ(st, LUA_ERRERR);
      EXPECT_STREQ(lua_tostring(L, -1), "error in error handling");
    }
    EXPECT_EQ(L->nCcalls, before); // restored after the throw
    lua_settop(L, 0);
  }
}

// Constants past index 131071 are loaded by OP_LOADKX, one cycle like OP_LOADK, and the
// OP_EXTRAARG that carries the index is consumed without a charge.
TEST_F(VmTest, LoadKXCostsOneCycle) {
  std::string src = "local x\n";
  for (int i = 0; i < 131075; i++) src += "x = " + std::to_string(i) + ".5\n";
  ASSERT_EQ(luaL_loadbuffer(L, src.data(), src.size(), "=kx"), LUA_OK) << lua_tostring(L, -1);
  budget(0, 1 << 30);
  int nres = 0;
  ASSERT_EQ(lua_resume(L, L, 0, &nres), LUA_OK);
  // VARARGPREP 2, LOADNIL 1, 131072 LOADK and 3 LOADKX at 1 each, RETURN 2
  EXPECT_EQ(cpu_cycles, 2 + 1 + 131075 + 2);
}

} // namespace
