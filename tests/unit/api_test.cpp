// Embedding and debug interfaces: behaviour a script cannot see (stack limits, pseudo-indices,
// block layout, to-be-closed slots, hooks from C, line information).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/debug.h"
#include "lua/libs.h"
#include "lua/lua.h"
#include "lua/object.h"
#include "lua/state.h"
#include <cstdint>
#include "lua/gc.h"
#include "lua/table.h"

namespace {

// A plain allocator that remembers the last request, so tests can see what an operation asked for.
struct AllocLog {
  int allocations = 0; // requests of a non-zero size
  size_t last_size = 0;
  size_t last_charge = 0;
};

void *test_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt, size_t charge) {
  (void)osize;
  (void)final_attempt;
  auto *log = static_cast<AllocLog *>(ud);
  if (nsize == 0) {
    std::free(ptr);
    return nullptr;
  }
  log->allocations++;
  log->last_size = nsize;
  log->last_charge = charge;
  return std::realloc(ptr, nsize);
}

struct ApiTest : ::testing::Test {
  AllocLog log;
  lua_State *L = nullptr;
  void SetUp() override {
    L = lua_newstate(test_alloc, &log);
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override { lua_close(L); }

  // Runs fn as a C function under lua_pcall; returns the status.
  int pcall_c(lua_CFunction fn, int nresults = 0) {
    lua_pushcfunction(L, fn);
    return lua_pcall(L, 0, nresults, 0);
  }
  // Compiles and runs a chunk with the libraries open; returns the status.
  int run(const char *code) {
    int st = luaL_loadstring(L, code);
    if (st != LUA_OK) return st;
    return lua_pcall(L, 0, 0, 0);
  }
};

// ------------------------------------------------------------------------------------------
// Stack

TEST_F(ApiTest, CheckstackFailsWithoutRaisingAtTheLimit) {
  static int results[8];
  int st = pcall_c([](lua_State *L) -> int {
    int inuse = cast_int(L->top - L->stack) + 5;
    results[0] = lua_checkstack(L, LUAI_MAXSTACK - inuse + 1); // one too many: refused
    results[1] = lua_checkstack(L, LUAI_MAXSTACK - inuse);     // exactly fits
    results[2] = lua_checkstack(L, 1 << 30);                   // absurd: refused, no overflow
    // Fill the stack close to the full 100000 slots.
    lua_settop(L, LUAI_MAXSTACK - 20);
    int used = cast_int(L->top - L->stack);
    int top = lua_gettop(L);
    int big = LUAI_MAXSTACK - used - 5; // largest n with inuse <= 100000 - n
    results[3] = lua_checkstack(L, big + 1);
    results[4] = lua_checkstack(L, big);
    results[5] = (lua_gettop(L) == top);
    results[6] = (L->stack_last - L->stack <= LUAI_MAXSTACK);
    results[7] = (L->ci->top >= L->top + big);
    lua_settop(L, 0);
    return 0;
  });
  ASSERT_EQ(st, LUA_OK);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 1);
  EXPECT_EQ(results[2], 0);
  EXPECT_EQ(results[3], 0);
  EXPECT_EQ(results[4], 1);
  EXPECT_EQ(results[5], 1);
  EXPECT_EQ(results[6], 1);
  EXPECT_EQ(results[7], 1);
}

std::vector<std::string> close_log;

// __close(value, err): logs the value's name, and whether the caller's slot still holds it.
int closer(lua_State *L) {
  lua_getfield(L, 1, "name");
  std::string entry = lua_tostring(L, -1);
  lua_pop(L, 1);
  if (!lua_isnil(L, 2)) entry += "(err)";
  // The slot being closed is still below the caller's top while its closing method runs.
  lua_Debug ar;
  if (lua_getstack(L, 1, &ar)) {
    lua_getfield(L, 1, "slot");
    int slot = cast_int(lua_tointeger(L, -1));
    lua_pop(L, 1);
    const char *name = lua_getlocal(L, &ar, slot);
    if (name != nullptr) {
      if (lua_rawequal(L, -1, 1)) entry += "@" + std::string(name);
      lua_pop(L, 1);
    }
  }
  close_log.push_back(entry);
  return 0;
}

void push_closable(lua_State *L, const char *name, int slot) {
  lua_createtable(L, 0, 2);
  lua_pushstring(L, name);
  lua_setfield(L, -2, "name");
  lua_pushinteger(L, slot);
  lua_setfield(L, -2, "slot");
  lua_createtable(L, 0, 1);
  lua_pushcfunction(L, closer);
  lua_setfield(L, -2, "__close");
  lua_setmetatable(L, -2);
}

TEST_F(ApiTest, SettopClosesRemovedToBeClosedSlotsFirst) {
  close_log.clear();
  int st = pcall_c([](lua_State *L) -> int {
    push_closable(L, "a", 1);
    lua_toclose(L, 1);
    lua_pushnil(L);
    lua_toclose(L, 2); // nil and false are accepted and never closed
    lua_pushboolean(L, 0);
    lua_toclose(L, 3);
    push_closable(L, "b", 4);
    lua_toclose(L, 4);
    lua_pushinteger(L, 5);
    lua_settop(L, 3); // removes b: closed before the top moves
    if (lua_gettop(L) != 3) return luaL_error(L, "top %d", lua_gettop(L));
    lua_settop(L, 3); // nothing removed
    lua_pop(L, 2);    // nil and false: nothing to call
    close_log.push_back("-");
    lua_pop(L, 1); // a
    return 0;
  });
  ASSERT_EQ(st, LUA_OK) << lua_tostring(L, -1);
  ASSERT_EQ(close_log.size(), 3u);
  EXPECT_EQ(close_log[0], "b@(C temporary)");
  EXPECT_EQ(close_log[1], "-");
  EXPECT_EQ(close_log[2], "a@(C temporary)");
}

TEST_F(ApiTest, ToBeClosedSlotsCloseOnReturnAndOnError) {
  close_log.clear();
  int st = pcall_c([](lua_State *L) -> int {
    push_closable(L, "r1", 1);
    lua_toclose(L, 1);
    push_closable(L, "r2", 2);
    lua_toclose(L, 2);
    lua_pushinteger(L, 7);
    return 1;
  }, 1);
  ASSERT_EQ(st, LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 7); // the result survives the closing
  lua_pop(L, 1);
  ASSERT_EQ(close_log.size(), 2u);
  EXPECT_EQ(close_log[0].substr(0, 2), "r2");
  EXPECT_EQ(close_log[1].substr(0, 2), "r1");

  close_log.clear();
  st = pcall_c([](lua_State *L) -> int {
    push_closable(L, "e", 1);
    lua_toclose(L, 1);
    return luaL_error(L, "boom");
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  lua_pop(L, 1);
  ASSERT_EQ(close_log.size(), 1u);
  EXPECT_EQ(close_log[0].substr(0, 6), "e(err)");

  // A value without __close cannot be marked.
  st = pcall_c([](lua_State *L) -> int {
    lua_newtable(L);
    lua_toclose(L, 1);
    return 0;
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_NE(std::string(lua_tostring(L, -1)).find("non-closable value"), std::string::npos);
  lua_pop(L, 1);
}

TEST_F(ApiTest, IndicesAndRegistry) {
  EXPECT_EQ(LUA_REGISTRYINDEX, -101000);
  EXPECT_EQ(lua_upvalueindex(1), -101001);
  lua_pushinteger(L, 1);
  lua_pushinteger(L, 2);
  lua_pushinteger(L, 3);
  EXPECT_EQ(lua_gettop(L), 3);
  EXPECT_EQ(lua_absindex(L, -1), 3);
  EXPECT_EQ(lua_absindex(L, -3), 1);
  EXPECT_EQ(lua_absindex(L, 2), 2);
  EXPECT_EQ(lua_absindex(L, LUA_REGISTRYINDEX), LUA_REGISTRYINDEX);
  EXPECT_EQ(lua_absindex(L, lua_upvalueindex(2)), lua_upvalueindex(2));
  // Above the top: the absent value.
  EXPECT_EQ(lua_type(L, 4), LUA_TNONE);
  EXPECT_EQ(lua_type(L, 1000), LUA_TNONE);
  EXPECT_STREQ(lua_typename(L, LUA_TNONE), "no value");
  EXPECT_TRUE(lua_isnoneornil(L, 4));
  lua_settop(L, 0);

  // Registry: 1 the main thread, 2 the globals.
  ASSERT_EQ(lua_type(L, LUA_REGISTRYINDEX), LUA_TTABLE);
  EXPECT_EQ(lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_MAINTHREAD), LUA_TTHREAD);
  EXPECT_EQ(lua_tothread(L, -1), L);
  EXPECT_EQ(lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS), LUA_TTABLE);
  lua_pushglobaltable(L);
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  lua_pushinteger(L, 5);
  lua_setglobal(L, "five");
  EXPECT_EQ(lua_getfield(L, -2, "five"), LUA_TNUMBER);
  EXPECT_EQ(lua_tointeger(L, -1), 5);
  EXPECT_EQ(lua_getglobal(L, "five"), LUA_TNUMBER);
  lua_settop(L, 0);
}

TEST_F(ApiTest, RotateCopyXmove) {
  for (int i = 1; i <= 5; i++) lua_pushinteger(L, i);
  lua_rotate(L, 2, 1); // 1 5 2 3 4
  EXPECT_EQ(lua_tointeger(L, 2), 5);
  EXPECT_EQ(lua_tointeger(L, 5), 4);
  lua_rotate(L, 2, -1); // back to 1 2 3 4 5
  for (int i = 1; i <= 5; i++) EXPECT_EQ(lua_tointeger(L, i), i);
  lua_insert(L, 1); // 5 1 2 3 4
  EXPECT_EQ(lua_tointeger(L, 1), 5);
  lua_remove(L, 1);
  EXPECT_EQ(lua_tointeger(L, 1), 1);
  lua_copy(L, 1, 4);
  EXPECT_EQ(lua_tointeger(L, 4), 1);
  lua_pushinteger(L, 9);
  lua_replace(L, 2); // the top into 2
  EXPECT_EQ(lua_gettop(L), 4);
  EXPECT_EQ(lua_tointeger(L, 2), 9);
  lua_settop(L, 0);

  lua_State *co = lua_newthread(L);
  EXPECT_EQ(lua_pushthread(co), 0); // not the main thread
  lua_pop(co, 1);
  EXPECT_EQ(lua_pushthread(L), 1);
  lua_pop(L, 1);
  lua_pushinteger(L, 10);
  lua_pushstring(L, "x");
  lua_xmove(L, co, 2);
  EXPECT_EQ(lua_gettop(L), 1); // just the thread
  EXPECT_EQ(lua_gettop(co), 2);
  EXPECT_EQ(lua_tointeger(co, 1), 10);
  EXPECT_STREQ(lua_tostring(co, 2), "x");
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Upvalues and C functions

TEST_F(ApiTest, UpvaluePseudoIndices) {
  static int seen[6];
  lua_pushinteger(L, 10);
  lua_pushstring(L, "up");
  lua_pushcclosure(L, [](lua_State *L) -> int {
    seen[0] = lua_type(L, lua_upvalueindex(1));
    seen[1] = lua_type(L, lua_upvalueindex(2));
    seen[2] = lua_type(L, lua_upvalueindex(3));
    seen[3] = cast_int(lua_tointeger(L, lua_upvalueindex(1)));
    lua_pushinteger(L, seen[3] + 1);
    lua_copy(L, -1, lua_upvalueindex(1)); // upvalues are writable
    return 0;
  }, 2);
  EXPECT_EQ(lua_gettop(L), 1); // the upvalues were popped
  lua_pushvalue(L, 1);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  EXPECT_EQ(seen[0], LUA_TNUMBER);
  EXPECT_EQ(seen[1], LUA_TSTRING);
  EXPECT_EQ(seen[2], LUA_TNONE);
  EXPECT_EQ(seen[3], 10);
  lua_pushvalue(L, 1);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  EXPECT_EQ(seen[3], 11);

  // C upvalues have the empty name.
  EXPECT_STREQ(lua_getupvalue(L, 1, 1), "");
  EXPECT_EQ(lua_tointeger(L, -1), 12);
  lua_pop(L, 1);
  EXPECT_STREQ(lua_getupvalue(L, 1, 2), "");
  lua_pop(L, 1);
  EXPECT_EQ(lua_getupvalue(L, 1, 3), nullptr);
  EXPECT_EQ(lua_getupvalue(L, 1, 0), nullptr);
  lua_pushinteger(L, 100);
  EXPECT_STREQ(lua_setupvalue(L, 1, 1), "");
  EXPECT_EQ(lua_gettop(L), 1);
  EXPECT_NE(lua_upvalueid(L, 1, 1), nullptr);
  EXPECT_NE(lua_upvalueid(L, 1, 1), lua_upvalueid(L, 1, 2));
  EXPECT_EQ(lua_upvalueid(L, 1, 3), nullptr);
  EXPECT_TRUE(lua_iscfunction(L, 1));
  EXPECT_NE(lua_tocfunction(L, 1), nullptr);
  lua_settop(L, 0);

  // A light C function: no upvalues at all.
  lua_pushcfunction(L, [](lua_State *L) -> int {
    seen[4] = lua_type(L, lua_upvalueindex(1));
    return 0;
  });
  EXPECT_EQ(lua_getupvalue(L, 1, 1), nullptr);
  EXPECT_EQ(lua_upvalueid(L, 1, 1), nullptr);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  EXPECT_EQ(seen[4], LUA_TNONE);
}

TEST_F(ApiTest, LightCFunctionAllocatesNothing) {
  lua_gc(L, LUA_GCSTOP); // no collector work between the request and the check
  lua_CFunction f = [](lua_State *) -> int { return 0; };
  int before = log.allocations;
  lua_pushcclosure(L, f, 0);
  EXPECT_EQ(log.allocations, before);
  EXPECT_EQ(lua_tocfunction(L, -1), f);
  EXPECT_EQ(lua_topointer(L, -1), reinterpret_cast<const void *>(f));
  // With upvalues: one C closure of 32 + 16n bytes, charged 40 + 16n.
  lua_pushinteger(L, 1);
  lua_pushcclosure(L, f, 1);
  EXPECT_EQ(log.allocations, before + 1);
  EXPECT_EQ(log.last_size, 48u);
  EXPECT_EQ(log.last_charge, 56u);
  EXPECT_FALSE(lua_rawequal(L, -1, -2));
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Userdata

TEST_F(ApiTest, UserdataLayoutAndLength) {
  lua_gc(L, LUA_GCSTOP);
  void *p = lua_newuserdatauv(L, 0, 0);
  Udata *u = uvalue(s2v(L->top - 1));
  EXPECT_EQ(static_cast<char *>(p) - reinterpret_cast<char *>(u), 32);
  EXPECT_EQ(lua_rawlen(L, -1), 0u);
  EXPECT_EQ(lua_touserdata(L, -1), p);
  EXPECT_EQ(lua_topointer(L, -1), p);
  EXPECT_EQ(lua_type(L, -1), LUA_TUSERDATA);
  EXPECT_TRUE(lua_isuserdata(L, -1));

  p = lua_newuserdatauv(L, 10, 2);
  u = uvalue(s2v(L->top - 1));
  EXPECT_EQ(static_cast<char *>(p) - reinterpret_cast<char *>(u), 40 + 16 * 2);
  EXPECT_EQ(lua_rawlen(L, -1), 10u);
  EXPECT_EQ(log.last_size, 10u + 40 + 32);
  EXPECT_EQ(log.last_charge, 10u + 56);

  // User values: 1..n, anything else is none.
  EXPECT_EQ(lua_getiuservalue(L, -1, 1), LUA_TNIL);
  lua_pop(L, 1);
  EXPECT_EQ(lua_getiuservalue(L, -1, 0), LUA_TNONE);
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_pop(L, 1);
  EXPECT_EQ(lua_getiuservalue(L, -1, 3), LUA_TNONE);
  lua_pop(L, 1);
  int top = lua_gettop(L);
  lua_pushstring(L, "uv");
  EXPECT_EQ(lua_setiuservalue(L, -2, 2), 1);
  EXPECT_EQ(lua_gettop(L), top);
  lua_pushstring(L, "lost");
  EXPECT_EQ(lua_setiuservalue(L, -2, 3), 0); // out of range: popped all the same
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(lua_getiuservalue(L, -1, 2), LUA_TSTRING);
  EXPECT_STREQ(lua_tostring(L, -1), "uv");
  lua_settop(L, 0);

  // Light userdata.
  int x;
  lua_pushlightuserdata(L, &x);
  EXPECT_EQ(lua_touserdata(L, -1), &x);
  EXPECT_EQ(lua_topointer(L, -1), &x);
  EXPECT_EQ(lua_type(L, -1), LUA_TLIGHTUSERDATA);
  EXPECT_EQ(lua_rawlen(L, -1), 0u);
  lua_pushstring(L, "s");
  EXPECT_EQ(lua_topointer(L, -1), nullptr); // strings have no pointer to show
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Values

TEST_F(ApiTest, ToLStringConvertsNumbersOnly) {
  size_t len = 99;
  lua_pushinteger(L, 42);
  EXPECT_STREQ(lua_tolstring(L, -1, &len), "42");
  EXPECT_EQ(len, 2u);
  EXPECT_EQ(lua_type(L, -1), LUA_TSTRING); // converted in place
  lua_pushnumber(L, 1.0);
  EXPECT_STREQ(lua_tostring(L, -1), "1.0");
  lua_newtable(L);
  len = 99;
  EXPECT_EQ(lua_tolstring(L, -1, &len), nullptr);
  EXPECT_EQ(len, 0u);
  lua_pushnil(L);
  EXPECT_EQ(lua_tostring(L, -1), nullptr);
  lua_pushboolean(L, 1);
  EXPECT_EQ(lua_tostring(L, -1), nullptr);
  EXPECT_EQ(lua_tostring(L, 100), nullptr);
  lua_pushlstring(L, "a\0b", 3);
  EXPECT_EQ(lua_rawlen(L, -1), 3u);
  lua_pushlstring(L, nullptr, 0);
  EXPECT_STREQ(lua_tostring(L, -1), "");
  EXPECT_EQ(lua_pushstring(L, nullptr), nullptr);
  EXPECT_TRUE(lua_isnil(L, -1));
  const char *src = "copy";
  const char *in = lua_pushstring(L, src);
  EXPECT_NE(in, src);
  EXPECT_STREQ(in, "copy");
  lua_settop(L, 0);
}

TEST_F(ApiTest, NumberConversions) {
  int isnum = -1;
  lua_pushstring(L, "0x10");
  EXPECT_EQ(lua_tointegerx(L, -1, &isnum), 16);
  EXPECT_EQ(isnum, 1);
  EXPECT_TRUE(lua_isnumber(L, -1));
  EXPECT_TRUE(lua_isstring(L, -1));
  lua_pushnumber(L, 1.5);
  EXPECT_EQ(lua_tointegerx(L, -1, &isnum), 0);
  EXPECT_EQ(isnum, 0);
  EXPECT_EQ(lua_tonumberx(L, -1, &isnum), 1.5);
  EXPECT_EQ(isnum, 1);
  EXPECT_FALSE(lua_isinteger(L, -1));
  lua_pushnumber(L, 2.0);
  EXPECT_EQ(lua_tointeger(L, -1), 2);
  lua_pushstring(L, "0b101");
  EXPECT_EQ(lua_tointeger(L, -1), 5);
  lua_pushstring(L, "abc");
  EXPECT_EQ(lua_tonumberx(L, -1, &isnum), 0);
  EXPECT_EQ(isnum, 0);
  EXPECT_FALSE(lua_isnumber(L, -1));
  lua_newtable(L);
  EXPECT_EQ(lua_tointegerx(L, -1, &isnum), 0);
  EXPECT_EQ(isnum, 0);
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_pushboolean(L, 0);
  EXPECT_FALSE(lua_toboolean(L, -1));
  EXPECT_FALSE(lua_toboolean(L, 100));
  lua_settop(L, 0);

  // lua_stringtonumber: length + 1 and the value pushed, or 0 and nothing.
  EXPECT_EQ(lua_stringtonumber(L, "0b101"), 6u);
  EXPECT_TRUE(lua_isinteger(L, -1));
  EXPECT_EQ(lua_tointeger(L, -1), 5);
  EXPECT_EQ(lua_stringtonumber(L, " 0x10 "), 7u);
  EXPECT_EQ(lua_tointeger(L, -1), 16);
  EXPECT_EQ(lua_stringtonumber(L, "1e2"), 4u);
  EXPECT_FALSE(lua_isinteger(L, -1));
  EXPECT_EQ(lua_tonumber(L, -1), 100.0);
  int top = lua_gettop(L);
  EXPECT_EQ(lua_stringtonumber(L, "abc"), 0u);
  EXPECT_EQ(lua_stringtonumber(L, "inf"), 0u);
  EXPECT_EQ(lua_gettop(L), top);
  lua_settop(L, 0);
}

TEST_F(ApiTest, ArithAndCompare) {
  lua_pushinteger(L, 7);
  lua_pushinteger(L, 0);
  lua_arith(L, LUA_OPIDIV); // no error: the dialect's division by zero
  EXPECT_EQ(lua_tointeger(L, -1), LUA_MAXINTEGER);
  lua_pushinteger(L, -7);
  lua_pushinteger(L, 0);
  lua_arith(L, LUA_OPIDIV);
  EXPECT_EQ(lua_tointeger(L, -1), -LUA_MAXINTEGER);
  lua_pushinteger(L, 7);
  lua_pushinteger(L, 0);
  lua_arith(L, LUA_OPMOD);
  EXPECT_EQ(lua_tointeger(L, -1), 0);
  lua_pushnumber(L, -1.0);
  lua_pushinteger(L, 0);
  lua_arith(L, LUA_OPDIV);
  EXPECT_EQ(lua_tonumber(L, -1), -1.7976931348623157e308);
  EXPECT_EQ(lua_gettop(L), 4);
  // Unary operators take one operand.
  lua_pushinteger(L, 5);
  lua_arith(L, LUA_OPUNM);
  EXPECT_EQ(lua_tointeger(L, -1), -5);
  lua_pushinteger(L, 0);
  lua_arith(L, LUA_OPBNOT);
  EXPECT_EQ(lua_tointeger(L, -1), -1);
  EXPECT_EQ(lua_gettop(L), 6);
  lua_pushinteger(L, 10);
  lua_pushinteger(L, 2);
  lua_arith(L, LUA_OPPOW); // always a float
  EXPECT_EQ(lua_tonumber(L, -1), 100.0);
  lua_settop(L, 0);

  lua_pushinteger(L, 1);
  lua_pushnumber(L, 2.0);
  EXPECT_TRUE(lua_compare(L, 1, 2, LUA_OPLT));
  EXPECT_TRUE(lua_compare(L, 1, 2, LUA_OPLE));
  EXPECT_FALSE(lua_compare(L, 2, 1, LUA_OPLE));
  EXPECT_FALSE(lua_compare(L, 1, 2, LUA_OPEQ));
  lua_pushnumber(L, 1.0);
  EXPECT_TRUE(lua_compare(L, 1, 3, LUA_OPEQ));
  EXPECT_TRUE(lua_rawequal(L, 1, 3));
  EXPECT_FALSE(lua_compare(L, 1, 10, LUA_OPEQ)); // absent values compare false
  EXPECT_FALSE(lua_rawequal(L, 10, 10));
  lua_settop(L, 0);
}

TEST_F(ApiTest, ConcatLenNext) {
  lua_concat(L, 0);
  EXPECT_STREQ(lua_tostring(L, -1), "");
  lua_pushinteger(L, 3);
  lua_concat(L, 1); // a single value is left as it is
  EXPECT_TRUE(lua_isinteger(L, -1));
  lua_pushstring(L, "a");
  lua_pushnumber(L, 2.5);
  lua_concat(L, 3);
  EXPECT_STREQ(lua_tostring(L, -1), "3a2.5");
  EXPECT_EQ(lua_gettop(L), 2);
  lua_len(L, -1);
  EXPECT_EQ(lua_tointeger(L, -1), 5);
  lua_settop(L, 0);

  lua_createtable(L, 3, 2);
  for (int i = 1; i <= 3; i++) {
    lua_pushinteger(L, i * 10);
    lua_rawseti(L, 1, i);
  }
  lua_pushboolean(L, 1);
  lua_setfield(L, 1, "k");
  EXPECT_EQ(lua_rawlen(L, 1), 3u);
  int n = 0;
  lua_pushnil(L);
  while (lua_next(L, 1)) {
    n++;
    EXPECT_EQ(lua_gettop(L), 3);
    lua_pop(L, 1);
  }
  EXPECT_EQ(n, 4);
  EXPECT_EQ(lua_gettop(L), 1); // the last key was popped
  // Raw access with light userdata keys.
  static int key;
  lua_pushstring(L, "pv");
  lua_rawsetp(L, 1, &key);
  EXPECT_EQ(lua_rawgetp(L, 1, &key), LUA_TSTRING);
  EXPECT_EQ(lua_rawgeti(L, 1, 99), LUA_TNIL);
  lua_pushstring(L, "k");
  EXPECT_EQ(lua_rawget(L, 1), LUA_TBOOLEAN);
  EXPECT_EQ(lua_geti(L, 1, 2), LUA_TNUMBER);
  EXPECT_EQ(lua_tointeger(L, -1), 20);
  lua_pushinteger(L, 77);
  lua_seti(L, 1, 2);
  lua_pushinteger(L, 2);
  EXPECT_EQ(lua_gettable(L, 1), LUA_TNUMBER);
  EXPECT_EQ(lua_tointeger(L, -1), 77);
  lua_settop(L, 0);
}

TEST_F(ApiTest, StoresClearTheMetamethodAbsenceCache) {
  lua_newtable(L);  // 1: object
  lua_newtable(L);  // 2: its metatable
  lua_pushvalue(L, 2);
  lua_setmetatable(L, 1);
  Table *mt = hvalue(s2v(L->ci->func + 2));
  EXPECT_EQ(lua_getfield(L, 1, "x"), LUA_TNIL); // caches the absence of __index
  lua_pop(L, 1);
  EXPECT_TRUE(mt->flags & 1u);
  lua_pushinteger(L, 5);
  lua_setfield(L, 2, "unrelated");
  EXPECT_EQ(mt->flags & 0x3Fu, 0u);
  EXPECT_EQ(lua_getfield(L, 1, "x"), LUA_TNIL);
  lua_pop(L, 1);
  // Every kind of store clears it.
  lua_newtable(L);
  lua_pushinteger(L, 9);
  lua_setfield(L, -2, "x");
  lua_setfield(L, 2, "__index"); // now present
  EXPECT_EQ(lua_getfield(L, 1, "x"), LUA_TNUMBER);
  lua_pop(L, 1);
  mt->flags |= 0x3F;
  lua_pushstring(L, "k");
  lua_pushinteger(L, 1);
  lua_rawset(L, 2);
  EXPECT_EQ(mt->flags & 0x3Fu, 0u);
  mt->flags |= 0x3F;
  lua_pushinteger(L, 1);
  lua_rawseti(L, 2, 1);
  EXPECT_EQ(mt->flags & 0x3Fu, 0u);
  mt->flags |= 0x3F;
  lua_pushstring(L, "k2");
  lua_pushinteger(L, 1);
  lua_settable(L, 2);
  EXPECT_EQ(mt->flags & 0x3Fu, 0u);
  lua_settop(L, 0);
}

TEST_F(ApiTest, MetatablesAndFinalizers) {
  // Tables and full userdata own theirs; other types share one per type.
  lua_pushinteger(L, 1);
  EXPECT_EQ(lua_getmetatable(L, -1), 0);
  lua_newtable(L);
  lua_setmetatable(L, -2);
  lua_pushnumber(L, 2.5);
  EXPECT_EQ(lua_getmetatable(L, -1), 1);
  lua_pop(L, 1);
  lua_pushnil(L);
  lua_setmetatable(L, -2);
  EXPECT_EQ(lua_getmetatable(L, -1), 0);
  lua_settop(L, 0);

  static int finalized;
  finalized = 0;
  lua_newtable(L);
  lua_createtable(L, 0, 1);
  lua_pushcfunction(L, [](lua_State *) -> int {
    finalized++;
    return 0;
  });
  lua_setfield(L, -2, "__gc");
  lua_setmetatable(L, -2);
  lua_newuserdatauv(L, 4, 0);
  lua_getmetatable(L, 1);
  lua_setmetatable(L, -2);
  lua_settop(L, 0);
  lua_gc(L, LUA_GCCOLLECT);
  lua_gc(L, LUA_GCCOLLECT);
  EXPECT_EQ(finalized, 2);
}

TEST_F(ApiTest, PushfstringDirectives) {
  const char *s = lua_pushfstring(L, "%s|%d|%I|%f|%c|%%|%U", "str", 42, (lua_Integer)-7, 1.0, 'x',
                                  0x20AC);
  EXPECT_STREQ(s, "str|42|-7|1.0|x|%|\xE2\x82\xAC");
  EXPECT_STREQ(lua_pushfstring(L, "<%s>", (const char *)nullptr), "<(null)>");
  int x;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%p", static_cast<void *>(&x));
  EXPECT_STREQ(lua_pushfstring(L, "%p", static_cast<void *>(&x)), buf);
  std::string longarg(500, 'z');
  std::string got = lua_pushfstring(L, "[%s][%s]", longarg.c_str(), longarg.c_str());
  EXPECT_EQ(got, "[" + longarg + "][" + longarg + "]");
  lua_settop(L, 0);
  int st = pcall_c([](lua_State *L) -> int {
    lua_pushfstring(L, "%q", 1);
    return 0;
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "invalid option '%q' to 'lua_pushfstring'");
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Errors and miscellany

TEST_F(ApiTest, ErrorWithTheMemoryMessageIsAMemoryError) {
  int st = pcall_c([](lua_State *L) -> int {
    lua_pushstring(L, "not enough memory"); // the very same interned string
    return lua_error(L);
  });
  EXPECT_EQ(st, LUA_ERRMEM);
  EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
  lua_pop(L, 1);
  st = pcall_c([](lua_State *L) -> int {
    lua_pushstring(L, "not enough memory!");
    return lua_error(L);
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  lua_pop(L, 1);
  st = pcall_c([](lua_State *L) -> int {
    lua_newtable(L);
    lua_pushinteger(L, 3);
    lua_setfield(L, -2, "code");
    return lua_error(L);
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  ASSERT_TRUE(lua_istable(L, -1)); // any value travels unchanged
  lua_getfield(L, -1, "code");
  EXPECT_EQ(lua_tointeger(L, -1), 3);
  lua_settop(L, 0);
}

TEST_F(ApiTest, MiscellaneousEntryPoints) {
  EXPECT_EQ(lua_version(L), 504);
  EXPECT_EQ(lua_status(L), LUA_OK);
  void *ud = nullptr;
  EXPECT_EQ(lua_getallocf(L, &ud), test_alloc);
  EXPECT_EQ(ud, &log);
  lua_CFunction panic = [](lua_State *) -> int { return 0; };
  EXPECT_EQ(lua_atpanic(L, panic), nullptr); // the state comes with none
  EXPECT_EQ(lua_atpanic(L, nullptr), panic);

  static std::string warned;
  warned.clear();
  lua_warning(L, "dropped", 0); // no warning function: nothing happens
  lua_setwarnf(L, [](void *, const char *msg, int tocont) {
    warned += msg;
    if (!tocont) warned += "\n";
  }, nullptr);
  lua_warning(L, "a", 1);
  lua_warning(L, "b", 0);
  EXPECT_EQ(warned, "ab\n");
  lua_setwarnf(L, nullptr, nullptr);

  // lua_dump refuses anything but a Lua function.
  lua_pushcfunction(L, panic);
  EXPECT_EQ(lua_dump(L, [](lua_State *, const void *, size_t, void *) -> int { return 0; }, nullptr, 0),
            1);
  lua_settop(L, 0);
}

TEST_F(ApiTest, CollectorOptions) {
  EXPECT_EQ(lua_gc(L, 8), -1);
  EXPECT_EQ(lua_gc(L, 12), -1);
  EXPECT_EQ(lua_gc(L, -1), -1);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 1);
  EXPECT_EQ(lua_gc(L, LUA_GCSTOP), 0);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 0);
  EXPECT_EQ(lua_gc(L, LUA_GCRESTART), 0);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 1);
  int kb = lua_gc(L, LUA_GCCOUNT);
  int b = lua_gc(L, LUA_GCCOUNTB);
  EXPECT_GT(kb * 1024 + b, 1616);
  EXPECT_LT(b, 1024);
  lua_gc(L, LUA_GCSETPAUSE, 107);
  EXPECT_EQ(lua_gc(L, LUA_GCSETPAUSE, 200), 104);
  lua_gc(L, LUA_GCSETSTEPMUL, 50);
  EXPECT_EQ(lua_gc(L, LUA_GCSETSTEPMUL, 100), 48);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCINC);
  EXPECT_EQ(lua_gc(L, LUA_GCGEN, 0, 0), LUA_GCINC);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCGEN);
  EXPECT_EQ(lua_gc(L, LUA_GCCOLLECT), 0);
}

// ------------------------------------------------------------------------------------------
// Debug interface from C

TEST_F(ApiTest, StackLevelsAndInfoOfCFunctions) {
  lua_Debug ar;
  EXPECT_EQ(lua_getstack(L, 0, &ar), 0); // the base level never counts
  EXPECT_EQ(lua_getstack(L, -1, &ar), 0);
  static int r[6];
  static char src[LUA_IDSIZE];
  int st = pcall_c([](lua_State *L) -> int {
    lua_Debug ar;
    r[0] = lua_getstack(L, 0, &ar);
    r[1] = lua_getinfo(L, "Slnutr", &ar);
    r[2] = ar.currentline;
    r[3] = ar.linedefined;
    std::strcpy(src, ar.short_src);
    r[4] = (std::strcmp(ar.what, "C") == 0 && ar.name == nullptr && ar.namewhat[0] == '\0');
    r[5] = lua_getstack(L, 1, &ar);
    return 0;
  });
  ASSERT_EQ(st, LUA_OK);
  EXPECT_EQ(r[0], 1);
  EXPECT_EQ(r[1], 1);
  EXPECT_EQ(r[2], -1);
  EXPECT_EQ(r[3], -1);
  EXPECT_STREQ(src, "[C]");
  EXPECT_EQ(r[4], 1);
  EXPECT_EQ(r[5], 0);

  // ">" pops the function; an unknown letter gives 0 but the known ones are served.
  lua_pushcfunction(L, [](lua_State *) -> int { return 0; });
  int top = lua_gettop(L);
  EXPECT_EQ(lua_getinfo(L, ">SZ", &ar), 0);
  EXPECT_EQ(lua_gettop(L), top - 1);
  EXPECT_STREQ(ar.what, "C");
  lua_pushcfunction(L, [](lua_State *) -> int { return 0; });
  EXPECT_EQ(lua_getinfo(L, ">fL", &ar), 1);
  EXPECT_EQ(lua_gettop(L), 2); // the function was replaced by the two results
  EXPECT_EQ(lua_type(L, -2), LUA_TFUNCTION);
  EXPECT_EQ(lua_type(L, -1), LUA_TNIL); // no lines for C
  lua_settop(L, 0);
}

TEST_F(ApiTest, LuaFunctionInfoAndLocals) {
  luaL_openlibs(L);
  const char *code = "local a, b = ...\nlocal c = a + b\nreturn c\n";
  ASSERT_EQ(luaL_loadbufferx(L, code, std::strlen(code), "@chunk.lua", nullptr), LUA_OK);
  lua_Debug ar;
  lua_pushvalue(L, -1);
  ASSERT_EQ(lua_getinfo(L, ">Su", &ar), 1);
  EXPECT_STREQ(ar.what, "main");
  EXPECT_STREQ(ar.short_src, "chunk.lua");
  EXPECT_STREQ(ar.source, "@chunk.lua");
  EXPECT_EQ(ar.srclen, 10u);
  EXPECT_EQ(ar.linedefined, 0);
  EXPECT_EQ(ar.nparams, 0);
  EXPECT_EQ(ar.isvararg, 1);
  EXPECT_EQ(ar.nups, 1);
  // lua_getlocal with no activation: parameters of the function on the top only.
  EXPECT_EQ(lua_getlocal(L, nullptr, 1), nullptr);
  lua_settop(L, 0);

  // Names and values of locals, seen from a C function the chunk calls.
  static std::string locals;
  locals.clear();
  lua_register(L, "probe", [](lua_State *L) -> int {
    lua_Debug ar;
    if (!lua_getstack(L, 1, &ar)) return 0;
    lua_getinfo(L, "l", &ar);
    locals += std::to_string(ar.currentline) + ":";
    for (int i = 1;; i++) {
      const char *name = lua_getlocal(L, &ar, i);
      if (!name) break;
      locals += name;
      locals += "=";
      const char *v = lua_tostring(L, -1);
      locals += v ? v : "?";
      locals += ";";
      lua_pop(L, 1);
    }
    // Replace local 2 by 99.
    lua_pushinteger(L, 99);
    if (lua_setlocal(L, &ar, 2) == nullptr) lua_pop(L, 1);
    const char *none = lua_setlocal(L, &ar, 50);
    if (none != nullptr) locals += "!";
    return 0;
  });
  ASSERT_EQ(run("local x, y = 1, 2\nprobe()\nassert(y == 99)\n"), LUA_OK) << lua_tostring(L, -1);
  EXPECT_EQ(locals, "2:x=1;y=2;");
}

TEST_F(ApiTest, HooksFromC) {
  luaL_openlibs(L);
  lua_Hook hook = [](lua_State *L, lua_Debug *ar) {
    lua_getfield(L, LUA_REGISTRYINDEX, "hookcount");
    lua_Integer n = lua_tointeger(L, -1);
    lua_pop(L, 1);
    lua_pushinteger(L, n + 1);
    lua_setfield(L, LUA_REGISTRYINDEX, "hookcount");
    if (ar->event == LUA_HOOKLINE) {
      lua_pushinteger(L, ar->currentline);
      lua_setfield(L, LUA_REGISTRYINDEX, "lastline");
    }
  };
  lua_sethook(L, hook, LUA_MASKCOUNT, 1);
  EXPECT_EQ(lua_gethook(L), hook);
  EXPECT_EQ(lua_gethookmask(L), LUA_MASKCOUNT);
  EXPECT_EQ(lua_gethookcount(L), 1);
  ASSERT_EQ(run("local a = 1\nlocal b = a + 1\nlocal c = b * 2\n"), LUA_OK);
  lua_sethook(L, nullptr, 0, 0);
  lua_getfield(L, LUA_REGISTRYINDEX, "hookcount");
  lua_Integer count = lua_tointeger(L, -1);
  lua_pop(L, 1);
  EXPECT_GE(count, 4); // at least one per instruction
  EXPECT_EQ(lua_gethook(L), nullptr);
  EXPECT_EQ(lua_gethookmask(L), 0);

  // A mask of zero switches the hook off whatever the function.
  lua_sethook(L, hook, 0, 0);
  EXPECT_EQ(lua_gethook(L), nullptr);

  // Line hooks report each new line.
  lua_pushinteger(L, 0);
  lua_setfield(L, LUA_REGISTRYINDEX, "hookcount");
  lua_sethook(L, hook, LUA_MASKLINE, 0);
  ASSERT_EQ(run("local a = 1\nlocal b = 2\n\nlocal c = 3\n"), LUA_OK);
  lua_sethook(L, nullptr, 0, 0);
  lua_getfield(L, LUA_REGISTRYINDEX, "hookcount");
  EXPECT_GE(lua_tointeger(L, -1), 3);
  lua_getfield(L, LUA_REGISTRYINDEX, "lastline");
  EXPECT_GE(lua_tointeger(L, -1), 4);
  lua_settop(L, 0);
}

TEST_F(ApiTest, MessageHandlerReceivesThePositionedMessage) {
  lua_pushcfunction(L, [](lua_State *L) -> int {
    lua_pushfstring(L, "handled: %s", lua_tostring(L, 1));
    return 1;
  });
  ASSERT_EQ(luaL_loadstring(L, "local q\nreturn q + 1"), LUA_OK);
  EXPECT_EQ(lua_pcall(L, 0, 0, 1), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "handled: :2: attempt to perform arithmetic on a nil value (local 'q')");
  lua_settop(L, 0);
}

TEST_F(ApiTest, StrippedUpvaluesHaveNoName) {
  ASSERT_EQ(luaL_loadstring(L, "local up = 1\nreturn function() return up end"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  EXPECT_STREQ(lua_getupvalue(L, -1, 1), "up");
  lua_pop(L, 1);
  for (int strip = 0; strip <= 1; strip++) {
    std::string chunk;
    int st = lua_dump(L, [](lua_State *, const void *p, size_t sz, void *ud) -> int {
      static_cast<std::string *>(ud)->append(static_cast<const char *>(p), sz);
      return 0;
    }, &chunk, strip);
    ASSERT_EQ(st, 0);
    ASSERT_EQ(luaL_loadbufferx(L, chunk.data(), chunk.size(), "=dumped", "b"), LUA_OK);
    EXPECT_STREQ(lua_getupvalue(L, -1, 1), strip ? "(no name)" : "up");
    lua_pop(L, 2); // the value and the loaded function
  }
  lua_settop(L, 0);
}

// A hook that yields: the instruction it stopped at runs after the resume without a second hook.
TEST_F(ApiTest, YieldingCountHookResumesTheSameInstruction) {
  static int hooks;
  hooks = 0;
  // a budget that never runs out, so only the hook yields
  int32_t saved_cycles = cpu_cycles, saved_max = cpu_cycles_max, saved_super = cpu_superyielding;
  cpu_cycles = 0;
  cpu_cycles_max = INT32_MAX;
  cpu_superyielding = 0;
  lua_State *co = lua_newthread(L);
  const char *code = "local s = 0\nfor i = 1, 10 do s = s + i end\nreturn s\n";
  ASSERT_EQ(luaL_loadbufferx(co, code, std::strlen(code), "=hooked", nullptr), LUA_OK);
  lua_sethook(co, [](lua_State *L, lua_Debug *ar) {
    if (ar->event == LUA_HOOKCOUNT) {
      hooks++;
      lua_yield(L, 0);
    }
  }, LUA_MASKCOUNT, 1);
  int resumes = 0, nres = 0, st;
  do {
    st = lua_resume(co, L, 0, &nres);
    resumes++;
    if (st == LUA_YIELD) {
      EXPECT_EQ(nres, 0);
    }
  } while (st == LUA_YIELD && resumes < 10000);
  cpu_cycles = saved_cycles;
  cpu_cycles_max = saved_max;
  cpu_superyielding = saved_super;
  ASSERT_EQ(st, LUA_OK) << lua_tostring(co, -1);
  ASSERT_EQ(nres, 1);
  EXPECT_EQ(lua_tointeger(co, -1), 55);
  EXPECT_EQ(resumes, hooks + 1); // every hook yielded once, and ran once per instruction
  EXPECT_GT(hooks, 20); // the loop alone runs 20 instructions
  lua_settop(L, 0);
}

// Line information: relative deltas with absolute entries.
TEST(DebugLines, GetFuncLineWithAbsoluteEntries) {
  Proto p;
  std::memset(&p, 0, sizeof p);
  p.linedefined = 10;
  EXPECT_EQ(luaG_getfuncline(&p, 0), -1); // no line information
  ls_byte lineinfo[] = {0, 1, 1, ABSLINEINFO, 2, 0, ABSLINEINFO, -1, 3};
  AbsLineInfo abs[] = {{3, 50}, {6, 100}};
  p.lineinfo = lineinfo;
  p.sizelineinfo = 9;
  p.sizecode = 9;
  EXPECT_EQ(luaG_getfuncline(&p, 0), 10);
  EXPECT_EQ(luaG_getfuncline(&p, 2), 12);
  p.abslineinfo = abs;
  p.sizeabslineinfo = 2;
  const int expected[] = {10, 11, 12, 50, 52, 52, 100, 99, 102};
  for (int pc = 0; pc < 9; pc++) EXPECT_EQ(luaG_getfuncline(&p, pc), expected[pc]) << "pc " << pc;
  // A single absolute entry at pc 0.
  ls_byte li2[] = {ABSLINEINFO, 1, 0};
  AbsLineInfo abs2[] = {{0, 7}};
  p.lineinfo = li2;
  p.sizelineinfo = 3;
  p.abslineinfo = abs2;
  p.sizeabslineinfo = 1;
  EXPECT_EQ(luaG_getfuncline(&p, 0), 7);
  EXPECT_EQ(luaG_getfuncline(&p, 2), 8);
}

} // namespace

// Embedding and debug interfaces at their edges: the corners of each entry point (indices at the
// edges, conversions, collector options, loading and resuming, hooks and locals seen from C).
namespace api_edges {

namespace {

int dostring(lua_State *L, const char *code) {
  int st = luaL_loadstring(L, code);
  return st != LUA_OK ? st : lua_pcall(L, 0, LUA_MULTRET, 0);
}

void *plain_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
  if (nsize == 0) {
    std::free(ptr);
    return nullptr;
  }
  return std::realloc(ptr, nsize);
}

struct ApiEdges : ::testing::Test {
  lua_State *L = nullptr;
  void SetUp() override {
    L = lua_newstate(plain_alloc, nullptr);
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override { lua_close(L); }
  int pcall_c(lua_CFunction fn, int nresults = 0) {
    lua_pushcfunction(L, fn);
    return lua_pcall(L, 0, nresults, 0);
  }
  std::string top_string() {
    const char *s = lua_tostring(L, -1);
    return s ? s : "(not a string)";
  }
};

// ------------------------------------------------------------------------------------------
// Indices

TEST_F(ApiEdges, IndicesInsideACFrame) {
  static int r[12];
  lua_pushinteger(L, 1);
  lua_pushinteger(L, 2);
  lua_pushcclosure(L, [](lua_State *L) -> int {
    r[0] = lua_gettop(L);
    r[1] = lua_absindex(L, -1);
    r[2] = lua_absindex(L, -3);
    r[3] = lua_absindex(L, lua_upvalueindex(1));
    r[4] = lua_type(L, LUA_REGISTRYINDEX);
    r[5] = lua_type(L, lua_upvalueindex(2));
    r[6] = lua_type(L, lua_upvalueindex(3));
    r[7] = lua_type(L, 4); // at the top: absent
    r[8] = lua_type(L, 3);
    r[9] = cast_int(lua_tointeger(L, lua_upvalueindex(2)));
    r[10] = lua_isnone(L, lua_upvalueindex(255));
    lua_settop(L, 5); // new slots are nil
    r[11] = lua_type(L, 5);
    return 0;
  }, 2);
  lua_pushinteger(L, 10);
  lua_pushinteger(L, 20);
  lua_pushstring(L, "x");
  ASSERT_EQ(lua_pcall(L, 3, 0, 0), LUA_OK);
  EXPECT_EQ(r[0], 3);
  EXPECT_EQ(r[1], 3);
  EXPECT_EQ(r[2], 1);
  EXPECT_EQ(r[3], lua_upvalueindex(1));
  EXPECT_EQ(r[4], LUA_TTABLE);
  EXPECT_EQ(r[5], LUA_TNUMBER);
  EXPECT_EQ(r[6], LUA_TNONE);
  EXPECT_EQ(r[7], LUA_TNONE);
  EXPECT_EQ(r[8], LUA_TSTRING);
  EXPECT_EQ(r[9], 2);
  EXPECT_EQ(r[10], 1);
  EXPECT_EQ(r[11], LUA_TNIL);
}

TEST_F(ApiEdges, AbsentValuesReadAsNil) {
  EXPECT_EQ(lua_toboolean(L, 5), 0);
  EXPECT_EQ(lua_tonumber(L, 5), 0);
  int isnum = 7;
  EXPECT_EQ(lua_tointegerx(L, 5, &isnum), 0);
  EXPECT_EQ(isnum, 0);
  EXPECT_EQ(lua_touserdata(L, 5), nullptr);
  EXPECT_EQ(lua_topointer(L, 5), nullptr);
  EXPECT_EQ(lua_rawlen(L, 5), 0u);
  EXPECT_FALSE(lua_isstring(L, 5));
  EXPECT_FALSE(lua_isnumber(L, 5));
  EXPECT_FALSE(lua_iscfunction(L, 5));
  lua_pushvalue(L, 5); // pushes nil
  EXPECT_EQ(lua_type(L, -1), LUA_TNIL);
  lua_settop(L, 0);
}

TEST_F(ApiEdges, CClosureWith255Upvalues) {
  ASSERT_EQ(lua_checkstack(L, 256), 1);
  for (int i = 1; i <= 255; i++) lua_pushinteger(L, i);
  lua_pushcclosure(L, [](lua_State *L) -> int {
    lua_pushinteger(L, lua_tointeger(L, lua_upvalueindex(255)) * 1000 +
                           lua_tointeger(L, lua_upvalueindex(1)));
    lua_pushboolean(L, lua_isnone(L, lua_upvalueindex(256)));
    return 2;
  }, 255);
  EXPECT_EQ(lua_gettop(L), 1);
  EXPECT_STREQ(lua_getupvalue(L, 1, 255), "");
  EXPECT_EQ(lua_tointeger(L, -1), 255);
  lua_pop(L, 1);
  EXPECT_EQ(lua_getupvalue(L, 1, 256), nullptr);
  lua_Debug ar;
  lua_pushvalue(L, 1);
  ASSERT_EQ(lua_getinfo(L, ">u", &ar), 1);
  EXPECT_EQ(ar.nups, 255);
  ASSERT_EQ(lua_pcall(L, 0, 2, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -2), 255001);
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Values

TEST_F(ApiEdges, ConversionsFollowTheNumeralRules) {
  int isnum;
  struct {
    const char *text;
    int ok;
    lua_Integer value;
  } ints[] = {{"0b1011", 1, 11}, {" 0B11 ", 1, 3}, {"3.0", 1, 3}, {"3.5", 0, 0}, {"0x7fffffffffffffff", 1, LUA_MAXINTEGER},
              {"1e2", 1, 100}, {"0b", 0, 0}, {"0b102", 0, 0}, {"", 0, 0}, {"9223372036854775808", 0, 0}};
  for (auto &c : ints) {
    lua_pushstring(L, c.text);
    lua_Integer v = lua_tointegerx(L, -1, &isnum);
    EXPECT_EQ(isnum, c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
    EXPECT_EQ(lua_type(L, -1), LUA_TSTRING); // never converted in place
    lua_pop(L, 1);
  }
  lua_pushstring(L, "0b1.1");
  EXPECT_EQ(lua_tonumberx(L, -1, &isnum), 1.5);
  EXPECT_EQ(isnum, 1);
  lua_pushnumber(L, -0.0);
  EXPECT_EQ(lua_tointegerx(L, -1, &isnum), 0);
  EXPECT_EQ(isnum, 1);
  lua_pushnumber(L, 9223372036854775808.0); // 2^63: out of range
  lua_tointegerx(L, -1, &isnum);
  EXPECT_EQ(isnum, 0);
  lua_pushnumber(L, 0.0 / 0.0);
  lua_tointegerx(L, -1, &isnum);
  EXPECT_EQ(isnum, 0);
  lua_pushboolean(L, 1);
  EXPECT_EQ(lua_tonumberx(L, -1, &isnum), 0);
  EXPECT_EQ(isnum, 0);
  EXPECT_EQ(lua_tonumberx(L, -1, nullptr), 0); // a null flag pointer is allowed
  lua_settop(L, 0);

  // lua_tolstring converts numbers in place, also through an upvalue index.
  lua_pushnumber(L, 0.1);
  size_t len;
  EXPECT_STREQ(lua_tolstring(L, -1, &len), "0.1");
  EXPECT_EQ(len, 3u);
  EXPECT_TRUE(lua_isstring(L, -1));
  EXPECT_FALSE(lua_isinteger(L, -1));
  lua_pushinteger(L, LUA_MININTEGER);
  EXPECT_STREQ(lua_tostring(L, -1), "-9223372036854775808");
  lua_pushnumber(L, 1e100);
  EXPECT_STREQ(lua_tostring(L, -1), "1e+100");
  lua_settop(L, 0);
}

TEST_F(ApiEdges, PointersAndLengths) {
  lua_newtable(L);
  EXPECT_EQ(lua_topointer(L, -1), static_cast<const void *>(hvalue(s2v(L->top - 1))));
  lua_pushinteger(L, 1);
  EXPECT_EQ(lua_topointer(L, -1), nullptr);
  lua_pushboolean(L, 1);
  EXPECT_EQ(lua_topointer(L, -1), nullptr);
  lua_pushnil(L);
  EXPECT_EQ(lua_topointer(L, -1), nullptr);
  lua_pushthread(L);
  EXPECT_EQ(lua_topointer(L, -1), static_cast<const void *>(L));
  luaL_loadstring(L, "return 1");
  EXPECT_NE(lua_topointer(L, -1), nullptr);
  lua_pushinteger(L, 3);
  EXPECT_EQ(lua_rawlen(L, -1), 0u); // numbers have no raw length
  lua_pushstring(L, std::string(100, 'x').c_str());
  EXPECT_EQ(lua_rawlen(L, -1), 100u); // a long string
  lua_pushcfunction(L, [](lua_State *) -> int { return 0; });
  EXPECT_EQ(lua_rawlen(L, -1), 0u);
  lua_createtable(L, 4, 0);
  for (int i = 1; i <= 4; i++) {
    lua_pushinteger(L, i);
    lua_rawseti(L, -2, i);
  }
  lua_createtable(L, 0, 1);
  lua_pushcfunction(L, [](lua_State *L) -> int {
    lua_pushinteger(L, 99);
    return 1;
  });
  lua_setfield(L, -2, "__len");
  lua_setmetatable(L, -2);
  EXPECT_EQ(lua_rawlen(L, -1), 4u); // raw: no __len
  lua_len(L, -1);
  EXPECT_EQ(lua_tointeger(L, -1), 99);
  lua_settop(L, 0);
}

TEST_F(ApiEdges, PushfstringEveryDirective) {
  EXPECT_STREQ(lua_pushfstring(L, "%d %d", -2147483647 - 1, 2147483647), "-2147483648 2147483647");
  EXPECT_STREQ(lua_pushfstring(L, "%I", LUA_MININTEGER), "-9223372036854775808");
  EXPECT_STREQ(lua_pushfstring(L, "%f|%f|%f", 2.0, 0.5, 1e300), "2.0|0.5|1e+300");
  EXPECT_STREQ(lua_pushfstring(L, "%U%U", 0x41, 0x7FFFFFFF), "A\xFD\xBF\xBF\xBF\xBF\xBF");
  EXPECT_STREQ(lua_pushfstring(L, "no directives"), "no directives");
  EXPECT_STREQ(lua_pushfstring(L, ""), "");
  EXPECT_STREQ(lua_pushfstring(L, "%c%c", 'a', 0xFF), "a\xFF");
  std::string big(1000, 'q');
  std::string got = lua_pushfstring(L, "%s%d%s", big.c_str(), 7, big.c_str());
  EXPECT_EQ(got, big + "7" + big);
  EXPECT_EQ(lua_gettop(L), 8); // one result each
  lua_settop(L, 0);
  int st = pcall_c([](lua_State *L) -> int {
    lua_pushfstring(L, "abc %x", 1);
    return 0;
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_EQ(top_string(), "invalid option '%x' to 'lua_pushfstring'");
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Tables and metatables

TEST_F(ApiEdges, CreatetableSizing) {
  lua_createtable(L, 0, 0);
  Table *t = hvalue(s2v(L->top - 1));
  EXPECT_EQ(t->alimit, 0u);
  lua_createtable(L, 5, 0);
  t = hvalue(s2v(L->top - 1));
  EXPECT_EQ(luaH_realasize(t), 5u);
  lua_createtable(L, 0, 3);
  t = hvalue(s2v(L->top - 1));
  EXPECT_EQ(1 << t->lsizenode, 4);
  lua_createtable(L, -3, 2); // a negative part counts as zero
  t = hvalue(s2v(L->top - 1));
  EXPECT_EQ(luaH_realasize(t), 0u);
  EXPECT_EQ(1 << t->lsizenode, 2);
  lua_settop(L, 0);
}

TEST_F(ApiEdges, TypeWideMetatables) {
  // A metatable set on a string is the metatable of every string; nil removes it.
  lua_pushstring(L, "a");
  lua_createtable(L, 0, 1);
  lua_pushinteger(L, 5);
  lua_setfield(L, -2, "marker");
  EXPECT_EQ(lua_setmetatable(L, -2), 1);
  lua_pushstring(L, "another");
  ASSERT_EQ(lua_getmetatable(L, -1), 1);
  EXPECT_EQ(lua_getfield(L, -1, "marker"), LUA_TNUMBER);
  lua_settop(L, 1);
  lua_pushnil(L);
  lua_setmetatable(L, 1);
  EXPECT_EQ(lua_getmetatable(L, 1), 0);
  EXPECT_EQ(lua_gettop(L), 1);
  // Light userdata and booleans.
  lua_pushlightuserdata(L, &L);
  lua_newtable(L);
  lua_setmetatable(L, -2);
  lua_pushlightuserdata(L, nullptr);
  EXPECT_EQ(lua_getmetatable(L, -1), 1);
  lua_settop(L, 0);
  lua_pushboolean(L, 0);
  EXPECT_EQ(lua_getmetatable(L, -1), 0);
  lua_settop(L, 0);
}

TEST_F(ApiEdges, NextAndRawAccess) {
  lua_newtable(L);
  lua_pushnil(L);
  EXPECT_EQ(lua_next(L, 1), 0); // empty: the key is popped
  EXPECT_EQ(lua_gettop(L), 1);
  lua_pushstring(L, "v");
  lua_setfield(L, 1, "k");
  lua_pushnil(L);
  ASSERT_EQ(lua_next(L, 1), 1);
  EXPECT_STREQ(lua_tostring(L, -2), "k");
  EXPECT_STREQ(lua_tostring(L, -1), "v");
  lua_pop(L, 1);
  EXPECT_EQ(lua_next(L, 1), 0);
  EXPECT_EQ(lua_gettop(L), 1);
  // lua_rawget pops the key and pushes the value.
  lua_pushstring(L, "k");
  EXPECT_EQ(lua_rawget(L, 1), LUA_TSTRING);
  EXPECT_EQ(lua_gettop(L), 2);
  lua_pushstring(L, "missing");
  EXPECT_EQ(lua_rawget(L, 1), LUA_TNIL);
  EXPECT_EQ(lua_gettop(L), 3);
  // Raw stores pop the value (and the key for lua_rawset).
  lua_settop(L, 1);
  lua_pushinteger(L, 1);
  lua_pushinteger(L, 2);
  lua_rawset(L, 1);
  EXPECT_EQ(lua_gettop(L), 1);
  lua_pushinteger(L, 3);
  lua_rawseti(L, 1, 2);
  EXPECT_EQ(lua_gettop(L), 1);
  EXPECT_EQ(lua_rawlen(L, 1), 2u);
  lua_settop(L, 0);
}

TEST_F(ApiEdges, GetAndSetHonourMetamethods) {
  luaL_openlibs(L);
  ASSERT_EQ(dostring(L, "proxy = setmetatable({}, {__index = function(_, k) return k * 2 end,"
                             " __newindex = function(t, k, v) rawset(t, k, v + 1) end})"),
            LUA_OK);
  lua_getglobal(L, "proxy");
  EXPECT_EQ(lua_geti(L, 1, 21), LUA_TNUMBER);
  EXPECT_EQ(lua_tointeger(L, -1), 42);
  lua_pop(L, 1);
  lua_pushinteger(L, 5);
  lua_seti(L, 1, 3);
  EXPECT_EQ(lua_rawgeti(L, 1, 3), LUA_TNUMBER);
  EXPECT_EQ(lua_tointeger(L, -1), 6);
  lua_pop(L, 1);
  lua_pushinteger(L, 7);
  EXPECT_EQ(lua_gettable(L, 1), LUA_TNUMBER);
  EXPECT_EQ(lua_tointeger(L, -1), 14);
  EXPECT_EQ(lua_gettop(L), 2);
  lua_settop(L, 0);
  // Indexing a value that cannot be indexed raises from C without variable information.
  int st = pcall_c([](lua_State *L) -> int {
    lua_pushinteger(L, 1);
    lua_getfield(L, 1, "x");
    return 0;
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_EQ(top_string(), "attempt to index a number value");
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Concatenation, comparison and arithmetic through the interface

TEST_F(ApiEdges, ConcatAndArithErrors) {
  int st = pcall_c([](lua_State *L) -> int {
    lua_pushstring(L, "a");
    lua_newtable(L);
    lua_concat(L, 2);
    return 0;
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_EQ(top_string(), "attempt to concatenate a table value");
  lua_settop(L, 0);
  st = pcall_c([](lua_State *L) -> int {
    lua_pushnumber(L, 1.5);
    lua_pushinteger(L, 1);
    lua_arith(L, LUA_OPBAND);
    return 0;
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_EQ(top_string(), "number has no integer representation");
  lua_settop(L, 0);
  st = pcall_c([](lua_State *L) -> int {
    lua_newtable(L);
    lua_pushinteger(L, 1);
    return lua_compare(L, 1, 2, LUA_OPLT);
  });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_EQ(top_string(), "attempt to compare table with number");
  lua_settop(L, 0);
  // Concatenating numbers formats them; a single value is left alone, even a table.
  lua_pushinteger(L, 1);
  lua_pushnumber(L, 2.0);
  lua_pushstring(L, "|");
  lua_concat(L, 3);
  EXPECT_STREQ(lua_tostring(L, -1), "12.0|");
  lua_newtable(L);
  lua_concat(L, 1);
  EXPECT_EQ(lua_type(L, -1), LUA_TTABLE);
  EXPECT_EQ(lua_gettop(L), 2);
  lua_settop(L, 0);
}

// ------------------------------------------------------------------------------------------
// Loading, calling and resuming

TEST_F(ApiEdges, LoadNamesAndUpvalues) {
  luaL_openlibs(L);
  struct Src {
    const char *text;
    bool done;
  } src{"return ...", false};
  lua_Reader reader = [](lua_State *, void *data, size_t *size) -> const char * {
    auto *s = static_cast<Src *>(data);
    if (s->done) {
      *size = 0;
      return nullptr;
    }
    s->done = true;
    *size = std::strlen(s->text);
    return s->text;
  };
  ASSERT_EQ(lua_load(L, reader, &src, nullptr, nullptr), LUA_OK);
  lua_Debug ar;
  lua_pushvalue(L, -1);
  lua_getinfo(L, ">S", &ar);
  EXPECT_STREQ(ar.source, "?");
  EXPECT_STREQ(ar.short_src, "");
  // The first upvalue is the globals table.
  EXPECT_STREQ(lua_getupvalue(L, -1, 1), "_ENV");
  lua_pushglobaltable(L);
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  lua_settop(L, 0);
  // A syntax error leaves the message, and the status says so.
  EXPECT_EQ(luaL_loadstring(L, "x = = 1"), LUA_ERRSYNTAX);
  EXPECT_EQ(lua_type(L, -1), LUA_TSTRING);
  lua_settop(L, 0);
  // Text refused in binary mode.
  EXPECT_EQ(luaL_loadbufferx(L, "return 1", 8, "=m", "b"), LUA_ERRSYNTAX);
  lua_settop(L, 0);
}

// A budget that never runs out, so that only the code yields.
struct EndlessBudget {
  int32_t cycles = cpu_cycles, max = cpu_cycles_max, super = cpu_superyielding;
  EndlessBudget() {
    cpu_cycles = 0;
    cpu_cycles_max = INT32_MAX;
    cpu_superyielding = 0;
  }
  ~EndlessBudget() {
    cpu_cycles = cycles;
    cpu_cycles_max = max;
    cpu_superyielding = super;
  }
};

TEST_F(ApiEdges, ResumeFailures) {
  EndlessBudget budget;
  luaL_openlibs(L);
  lua_State *co = lua_newthread(L);
  int nres = -1;
  // Nothing to run: only the arguments on the stack.
  lua_pushinteger(co, 1);
  lua_pushinteger(co, 2);
  EXPECT_EQ(lua_resume(co, L, 2, &nres), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(co, -1), "cannot resume dead coroutine");
  EXPECT_EQ(lua_gettop(co), 1); // the arguments were removed
  EXPECT_EQ(lua_status(co), LUA_OK);
  lua_settop(co, 0);
  // A function that returned is dead too.
  ASSERT_EQ(luaL_loadstring(co, "return 7"), LUA_OK);
  ASSERT_EQ(lua_resume(co, L, 0, &nres), LUA_OK);
  EXPECT_EQ(nres, 1);
  lua_settop(co, 0);
  lua_pushinteger(co, 1);
  EXPECT_EQ(lua_resume(co, L, 1, &nres), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(co, -1), "cannot resume dead coroutine");
  lua_settop(co, 0);
  // A thread that died of an error cannot be resumed again; lua_resetthread gives it back.
  ASSERT_EQ(luaL_loadstring(co, "error('x', 0)"), LUA_OK);
  EXPECT_EQ(lua_resume(co, L, 0, &nres), LUA_ERRRUN);
  EXPECT_EQ(lua_status(co), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(co, -1), "x");
  EXPECT_EQ(lua_resume(co, L, 0, &nres), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(co, -1), "cannot resume dead coroutine");
  EXPECT_EQ(lua_resetthread(co), LUA_OK);
  EXPECT_EQ(lua_status(co), LUA_OK);
  EXPECT_EQ(lua_gettop(co), 0);
  lua_settop(L, 0);
}

TEST_F(ApiEdges, YieldOutsideACoroutine) {
  EndlessBudget budget;
  int st = pcall_c([](lua_State *L) -> int { return lua_yield(L, 0); });
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_EQ(top_string(), "attempt to yield from outside a coroutine");
  lua_settop(L, 0);
  EXPECT_EQ(lua_isyieldable(L), 0);
  lua_State *co = lua_newthread(L);
  static int yieldable;
  lua_pushcfunction(co, [](lua_State *L) -> int {
    yieldable = lua_isyieldable(L);
    // a call without a continuation is not yieldable
    lua_pushcfunction(L, [](lua_State *L) -> int { return lua_yield(L, 0); });
    lua_call(L, 0, 0);
    return 0;
  });
  int nres;
  EXPECT_EQ(lua_resume(co, L, 0, &nres), LUA_ERRRUN);
  EXPECT_EQ(yieldable, 1);
  EXPECT_STREQ(lua_tostring(co, -1), "attempt to yield across a C-call boundary");
  lua_settop(L, 0);
}

TEST_F(ApiEdges, StateMiscellany) {
  EXPECT_EQ(lua_setcstacklimit(L, 1000), 200);
  EXPECT_EQ(lua_setcstacklimit(L, 0), 200);
  EXPECT_EQ(lua_version(L), 504.0);
  void *ud = &L;
  lua_setallocf(L, plain_alloc, ud);
  void *got = nullptr;
  EXPECT_EQ(lua_getallocf(L, &got), plain_alloc);
  EXPECT_EQ(got, ud);
  lua_setallocf(L, plain_alloc, nullptr);
  EXPECT_EQ(lua_getallocf(L, nullptr), plain_alloc);
}

// ------------------------------------------------------------------------------------------
// Collector

TEST_F(ApiEdges, CollectorStepAndModes) {
#ifdef HALVORAN_GC_STRESS
  GTEST_SKIP() << "relies on the collector's normal pacing";
#endif
  global_State *g = G(L);
  // A step of 0 always runs one step and leaves the debt at most what the step left.
  lua_gc(L, LUA_GCCOLLECT);
  EXPECT_EQ(g->gcstate, GCSpause);
  int r = lua_gc(L, LUA_GCSTEP, 0);
  EXPECT_EQ(r, g->gcstate == GCSpause ? 1 : 0);
  // A small positive size that keeps the debt negative does nothing and returns 0.
  lua_gc(L, LUA_GCCOLLECT);
  luaE_setdebt(g, -100 * 1024);
  lu_byte state = g->gcstate;
  EXPECT_EQ(lua_gc(L, LUA_GCSTEP, 1), 0);
  EXPECT_EQ(g->gcstate, state);
  EXPECT_EQ(g->GCdebt, -99 * 1024);
  // The running flag is forced on for the step and restored.
  lua_gc(L, LUA_GCSTOP);
  lua_gc(L, LUA_GCSTEP, 0);
  EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING), 0);
  lua_gc(L, LUA_GCRESTART);
  EXPECT_EQ(g->GCdebt, 0);
  // Parameters are stored divided by four.
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 107, 18, 0), LUA_GCINC);
  EXPECT_EQ(getgcparam(g->gcpause), 104);
  EXPECT_EQ(getgcparam(g->gcstepmul), 16);
  lua_gc(L, LUA_GCINC, 0, 0, 9);
  EXPECT_EQ(g->gcstepsize, 9);
  EXPECT_EQ(getgcparam(g->gcpause), 104); // zero leaves it
  EXPECT_EQ(lua_gc(L, LUA_GCGEN, 30, 101), LUA_GCINC);
  EXPECT_EQ(g->genminormul, 30);
  EXPECT_EQ(getgcparam(g->genmajormul), 100);
  EXPECT_EQ(lua_gc(L, LUA_GCGEN, 0, 0), LUA_GCGEN);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCGEN);
  EXPECT_EQ(lua_gc(L, LUA_GCINC, 0, 0, 0), LUA_GCINC);
  EXPECT_EQ(lua_gc(L, 13), -1);
  EXPECT_EQ(lua_gc(L, -5), -1);
  // The count in bytes and kilobytes agrees with the collector's total.
  lu_mem total = gettotalbytes(g);
  EXPECT_EQ(static_cast<lu_mem>(lua_gc(L, LUA_GCCOUNT)) * 1024 + lua_gc(L, LUA_GCCOUNTB), total);
}

// ------------------------------------------------------------------------------------------
// Debug interface

TEST_F(ApiEdges, GetinfoOfAFunctionOnTheStack) {
  luaL_openlibs(L);
  const char *code = "local u = 1\nreturn function(a, b, ...)\n  local c = u\n\n  return c\nend\n";
  ASSERT_EQ(luaL_loadbufferx(L, code, std::strlen(code), "=lines", nullptr), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  lua_Debug ar;
  std::memset(&ar, 0, sizeof ar);
  lua_pushvalue(L, 1);
  ASSERT_EQ(lua_getinfo(L, ">SlnutrL", &ar), 1);
  EXPECT_EQ(lua_gettop(L), 2); // the function replaced by the lines table
  EXPECT_STREQ(ar.what, "Lua");
  EXPECT_STREQ(ar.short_src, "lines");
  EXPECT_EQ(ar.linedefined, 2);
  EXPECT_EQ(ar.lastlinedefined, 6);
  EXPECT_EQ(ar.currentline, -1); // no activation
  EXPECT_EQ(ar.name, nullptr);
  EXPECT_STREQ(ar.namewhat, "");
  EXPECT_EQ(ar.nups, 1);
  EXPECT_EQ(ar.nparams, 2);
  EXPECT_EQ(ar.isvararg, 1);
  EXPECT_EQ(ar.istailcall, 0);
  EXPECT_EQ(ar.ftransfer, 0);
  EXPECT_EQ(ar.ntransfer, 0);
  ASSERT_EQ(lua_type(L, 2), LUA_TTABLE);
  std::string lines;
  lua_pushnil(L);
  while (lua_next(L, 2)) {
    lines += std::to_string(lua_tointeger(L, -2)) + (lua_toboolean(L, -1) ? "t" : "f") + " ";
    lua_pop(L, 1);
  }
  // line 2 carries the vararg preparation, 4 is blank, 6 the final return
  EXPECT_EQ(lines.find("4t"), std::string::npos) << lines;
  EXPECT_NE(lines.find("3t"), std::string::npos) << lines;
  EXPECT_NE(lines.find("5t"), std::string::npos) << lines;
  lua_settop(L, 1);
  // Parameter names through a null activation.
  EXPECT_STREQ(lua_getlocal(L, nullptr, 1), "a");
  EXPECT_STREQ(lua_getlocal(L, nullptr, 2), "b");
  EXPECT_EQ(lua_getlocal(L, nullptr, 3), nullptr); // c is not a parameter
  EXPECT_EQ(lua_getlocal(L, nullptr, -1), nullptr);
  EXPECT_EQ(lua_gettop(L), 1); // nothing pushed
  lua_settop(L, 0);
  // A function without source gives "=?".
  lua_pushcfunction(L, [](lua_State *) -> int { return 0; });
  ASSERT_EQ(lua_getinfo(L, ">S", &ar), 1);
  EXPECT_STREQ(ar.source, "=[C]");
  EXPECT_EQ(ar.srclen, 4u);
  EXPECT_STREQ(ar.short_src, "[C]");
  // ">" anywhere but first is an unknown option.
  lua_pushcfunction(L, [](lua_State *) -> int { return 0; });
  ASSERT_EQ(lua_getinfo(L, ">S>", &ar), 0);
  lua_settop(L, 0);
}

std::string hook_log;

TEST_F(ApiEdges, LocalsOfCAndLuaActivations) {
  luaL_openlibs(L);
  static std::string seen;
  seen.clear();
  lua_register(L, "probe", [](lua_State *L) -> int {
    lua_Debug ar;
    // level 0: this C function, with its two arguments as C temporaries
    lua_getstack(L, 0, &ar);
    for (int i = 1; i <= 3; i++) {
      const char *n = lua_getlocal(L, &ar, i);
      seen += n ? n : "-";
      if (n) lua_pop(L, 1);
      seen += ",";
    }
    seen += lua_getlocal(L, &ar, -1) ? "v" : "-"; // a C activation has no varargs
    seen += ";";
    // level 1: the vararg Lua function
    lua_getstack(L, 1, &ar);
    for (int i = -1; i >= -3; i--) {
      const char *n = lua_getlocal(L, &ar, i);
      if (n) {
        seen += n;
        seen += "=";
        seen += lua_tostring(L, -1);
        lua_pop(L, 1);
      } else {
        seen += "-";
      }
      seen += ",";
    }
    lua_pushstring(L, "Z");
    seen += lua_setlocal(L, &ar, -2) ? "set" : "none";
    lua_pushstring(L, "W");
    seen += lua_setlocal(L, &ar, -3) ? "set" : "none";
    seen += std::to_string(lua_gettop(L)); // the refused value stays
    return 0;
  });
  ASSERT_EQ(dostring(L, "local function f(...) probe(1, 2) return select(2, ...) end\n"
                             "result = f('x', 'y')"),
            LUA_OK)
      << top_string();
  EXPECT_EQ(seen, "(C temporary),(C temporary),-,-;(vararg)=x,(vararg)=y,-,setnone3");
  lua_getglobal(L, "result");
  EXPECT_STREQ(lua_tostring(L, -1), "Z");
  lua_settop(L, 0);
}

TEST_F(ApiEdges, HookEventsAndInfo) {
  luaL_openlibs(L);
  hook_log.clear();
  lua_sethook(L, [](lua_State *L, lua_Debug *ar) {
    lua_getinfo(L, "Sln", ar);
    const char *ev[] = {"call", "return", "line", "count", "tailcall"};
    hook_log += ev[ar->event];
    if (ar->event == LUA_HOOKLINE) hook_log += std::to_string(ar->currentline);
    if (ar->event == LUA_HOOKCALL || ar->event == LUA_HOOKTAILCALL) {
      hook_log += ":";
      hook_log += ar->what;
      if (ar->name) hook_log += std::string(":") + ar->name;
    }
    hook_log += " ";
  }, LUA_MASKCALL | LUA_MASKRET | LUA_MASKLINE, 0);
  EXPECT_EQ(lua_gethookmask(L), LUA_MASKCALL | LUA_MASKRET | LUA_MASKLINE);
  const char *code = "local function g() return 1 end\nlocal function f() return g() end\nf()\n";
  ASSERT_EQ(luaL_loadbufferx(L, code, std::strlen(code), "=h", nullptr), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  lua_sethook(L, nullptr, 0, 0);
  EXPECT_EQ(hook_log,
            "call:main line1 line2 line3 call:Lua:f line2 tailcall:Lua line1 return return ")
      << hook_log;
}

TEST_F(ApiEdges, CountHookEveryNInstructions) {
  luaL_openlibs(L);
  static int counts;
  counts = 0;
  const char *code = "local s = 0\nfor i = 1, 100 do s = s + i end\n";
  ASSERT_EQ(luaL_loadstring(L, code), LUA_OK);
  lua_sethook(L, [](lua_State *, lua_Debug *ar) {
    if (ar->event == LUA_HOOKCOUNT) counts++;
  }, LUA_MASKCOUNT, 10);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  lua_sethook(L, nullptr, 0, 0);
  // about 200 instructions for the loop: 20 or so hooks
  EXPECT_GE(counts, 19);
  EXPECT_LE(counts, 22);
}

// A stripped function keeps its lines of definition but has no source, lines or local names.
TEST_F(ApiEdges, StrippedFunctionInfo) {
  ASSERT_EQ(luaL_loadstring(L, "return function(a)\n local b = a.x\n return b\nend"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  std::string chunk;
  ASSERT_EQ(lua_dump(L, [](lua_State *, const void *p, size_t sz, void *ud) -> int {
    static_cast<std::string *>(ud)->append(static_cast<const char *>(p), sz);
    return 0;
  }, &chunk, 1), 0);
  lua_settop(L, 0);
  ASSERT_EQ(luaL_loadbufferx(L, chunk.data(), chunk.size(), "=stripped", "b"), LUA_OK);
  lua_Debug ar;
  lua_pushvalue(L, 1);
  ASSERT_EQ(lua_getinfo(L, ">SlL", &ar), 1);
  EXPECT_STREQ(ar.source, "=?");
  EXPECT_EQ(ar.srclen, 2u);
  EXPECT_STREQ(ar.short_src, "?");
  EXPECT_STREQ(ar.what, "Lua");
  EXPECT_EQ(ar.linedefined, 1);
  EXPECT_EQ(ar.lastlinedefined, 4);
  ASSERT_EQ(lua_type(L, -1), LUA_TTABLE); // an empty table of lines
  lua_pushnil(L);
  EXPECT_EQ(lua_next(L, -2), 0);
  lua_pop(L, 1);
  EXPECT_EQ(lua_getlocal(L, nullptr, 1), nullptr); // no parameter names
  // Errors carry "?" and line -1, and no variable names.
  lua_pushnil(L);
  EXPECT_EQ(lua_pcall(L, 1, 0, 0), LUA_ERRRUN);
  EXPECT_EQ(top_string(), "?:-1: attempt to index a nil value");
  lua_settop(L, 0);
  // A chunk without upvalues loads unchanged.
  ASSERT_EQ(luaL_loadstring(L, "return function() return 1 end"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  chunk.clear();
  ASSERT_EQ(lua_dump(L, [](lua_State *, const void *p, size_t sz, void *ud) -> int {
    static_cast<std::string *>(ud)->append(static_cast<const char *>(p), sz);
    return 0;
  }, &chunk, 0), 0);
  lua_settop(L, 0);
  ASSERT_EQ(luaL_loadbufferx(L, chunk.data(), chunk.size(), "=noup", "b"), LUA_OK);
  EXPECT_EQ(lua_getupvalue(L, 1, 1), nullptr);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 1);
  lua_settop(L, 0);
}

// A line hook alone lets the count run down past any int without trouble, and a count set
// afterwards still fires exactly.
TEST_F(ApiEdges, HookCountRunsDownWithoutTheCountBit) {
  static int lines, counts;
  lines = counts = 0;
  lua_sethook(L, [](lua_State *, lua_Debug *ar) {
    if (ar->event == LUA_HOOKLINE) lines++;
    if (ar->event == LUA_HOOKCOUNT) counts++;
  }, LUA_MASKLINE, 0);
  L->hookcount = INT32_MIN + 2; // as after two thousand million instructions
  ASSERT_EQ(luaL_loadstring(L, "local a = 1\nlocal b = 2\nlocal c = 3"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  EXPECT_EQ(lines, 3);
  EXPECT_EQ(counts, 0);
  lua_sethook(L, lua_gethook(L), LUA_MASKCOUNT, 2);
  EXPECT_EQ(L->hookcount, 2);
  ASSERT_EQ(luaL_loadstring(L, "local a = 1\nlocal b = 2\nlocal c = 3"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  lua_sethook(L, nullptr, 0, 0);
  EXPECT_GE(counts, 2); // four or five instructions
  EXPECT_LE(counts, 3);
}

// Runs the collector one step at a time until every object given is black, still before the
// atomic phase.
void blacken(lua_State *L, std::vector<GCObject *> objs) {
  global_State *g = G(L);
  lua_gc(L, LUA_GCCOLLECT);
  lua_gc(L, LUA_GCSTOP);
  g->gcstepsize = 0; // one collector step at a time
  luaC_runtilstate(L, bitmask(GCSpropagate));
  auto allblack = [&] {
    for (GCObject *o : objs)
      if (!isblack(o)) return false;
    return true;
  };
  for (int i = 0; i < 1000 && !allblack() && g->gcstate == GCSpropagate; i++) {
    g->gcrunning = 1;
    luaE_setdebt(g, 0);
    luaC_step(L);
    g->gcrunning = 0;
  }
  ASSERT_TRUE(allblack());
  ASSERT_EQ(g->gcstate, GCSpropagate);
}

// Every store the interface makes outside the stack must survive a collector that has already
// blackened the object it stores into: run under AddressSanitizer, a missing barrier is a read
// of freed memory.
TEST_F(ApiEdges, StoresIntoBlackObjectsKeepTheirValues) {
#ifdef HALVORAN_GC_STRESS
  GTEST_SKIP() << "relies on the collector's normal pacing";
#endif
  lua_createtable(L, 0, 0);
  lua_setfield(L, LUA_REGISTRYINDEX, "anchor");
  lua_getfield(L, LUA_REGISTRYINDEX, "anchor"); // 1: table
  lua_newuserdatauv(L, 8, 1);                   // 2: userdata with a user value
  lua_pushinteger(L, 123456789);
  lua_pushnil(L);
  lua_pushnil(L);
  lua_pushcclosure(L, [](lua_State *L) -> int {
    lua_tolstring(L, lua_upvalueindex(1), nullptr); // a new string into upvalue 1
    lua_pushfstring(L, "copied %d", 1);
    lua_copy(L, -1, lua_upvalueindex(2)); // and another into upvalue 2
    return 0;
  }, 3); // 3: the closure
  for (int i = 2; i <= 3; i++) {
    lua_pushvalue(L, i);
    lua_rawseti(L, 1, i); // the table anchors them
  }
  lua_settop(L, 1);
  Table *t = hvalue(s2v(L->top - 1));
  lua_rawgeti(L, 1, 2);
  GCObject *ud = gcvalue(s2v(L->top - 1));
  lua_rawgeti(L, 1, 3);
  GCObject *cl = gcvalue(s2v(L->top - 1));
  lua_settop(L, 0);

  blacken(L, {obj2gco(t), ud, cl});
  lua_getfield(L, LUA_REGISTRYINDEX, "anchor");
  lua_rawgeti(L, 1, 3);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  lua_pushfstring(L, "field %d", 7);
  lua_setfield(L, 1, "f"); // lua_setfield on a black table
  lua_pushfstring(L, "raw %d", 8);
  lua_rawseti(L, 1, 10);
  lua_pushfstring(L, "key %d", 9);
  lua_pushfstring(L, "value %d", 9);
  lua_rawset(L, 1);
  lua_rawgeti(L, 1, 2);
  lua_pushfstring(L, "user %d", 5);
  ASSERT_EQ(lua_setiuservalue(L, -2, 1), 1);
  lua_pop(L, 1);
  lua_rawgeti(L, 1, 3);
  lua_pushfstring(L, "set %d", 6);
  ASSERT_STREQ(lua_setupvalue(L, -2, 3), "");
  lua_settop(L, 0);
  luaC_runtilstate(L, bitmask(GCSpause)); // finishes the cycle
  lua_gc(L, LUA_GCRESTART);
  lua_gc(L, LUA_GCCOLLECT);

  lua_getfield(L, LUA_REGISTRYINDEX, "anchor");
  EXPECT_EQ(lua_getfield(L, 1, "f"), LUA_TSTRING);
  EXPECT_STREQ(lua_tostring(L, -1), "field 7");
  lua_rawgeti(L, 1, 10);
  EXPECT_STREQ(lua_tostring(L, -1), "raw 8");
  lua_pushstring(L, "key 9");
  lua_rawget(L, 1);
  EXPECT_STREQ(lua_tostring(L, -1), "value 9");
  lua_rawgeti(L, 1, 2);
  EXPECT_EQ(lua_getiuservalue(L, -1, 1), LUA_TSTRING);
  EXPECT_STREQ(lua_tostring(L, -1), "user 5");
  lua_rawgeti(L, 1, 3);
  ASSERT_STREQ(lua_getupvalue(L, -1, 1), "");
  EXPECT_STREQ(lua_tostring(L, -1), "123456789");
  ASSERT_STREQ(lua_getupvalue(L, -2, 2), "");
  EXPECT_STREQ(lua_tostring(L, -1), "copied 1");
  ASSERT_STREQ(lua_getupvalue(L, -3, 3), "");
  EXPECT_STREQ(lua_tostring(L, -1), "set 6");
  lua_settop(L, 0);
}

// A message handler that fails itself ends in "error in error handling".
TEST_F(ApiEdges, FailingMessageHandler) {
  luaL_openlibs(L);
  lua_pushcfunction(L, [](lua_State *L) -> int {
    lua_pushnil(L);
    lua_gettable(L, -1); // indexing nil: an error inside the handler
    return 1;
  });
  ASSERT_EQ(luaL_loadstring(L, "local t = nil; return t.x"), LUA_OK);
  EXPECT_EQ(lua_pcall(L, 0, 0, 1), LUA_ERRERR);
  EXPECT_EQ(top_string(), "error in error handling");
  EXPECT_EQ(L->nCcalls & 0xFFFF, 0u); // the C levels were all given back
  lua_settop(L, 0);
  // A handler gets any error object and its result replaces it.
  lua_pushcfunction(L, [](lua_State *L) -> int {
    lua_pushstring(L, luaL_typename(L, 1));
    return 1;
  });
  ASSERT_EQ(luaL_loadstring(L, "error({})"), LUA_OK);
  EXPECT_EQ(lua_pcall(L, 0, 0, 1), LUA_ERRRUN);
  EXPECT_EQ(top_string(), "table");
  lua_settop(L, 0);
}

// A closing method run by lua_settop may grow (and so move) the stack; the top is still right.
TEST_F(ApiEdges, SettopSurvivesAClosingMethodThatMovesTheStack) {
  luaL_openlibs(L);
  ASSERT_EQ(dostring(L, "closed = 0\n"
                        "local function deep(n) if n == 0 then return 0 end return 1 + deep(n - 1) end\n"
                        "closer = setmetatable({}, {__close = function() deep(5000) closed = closed + 1 end})"),
            LUA_OK)
      << top_string();
  static int tops[3];
  int st = pcall_c([](lua_State *L) -> int {
    lua_pushinteger(L, 1);
    lua_getglobal(L, "closer");
    lua_toclose(L, 2);
    lua_getglobal(L, "closer");
    lua_toclose(L, 3);
    lua_pushinteger(L, 4);
    lua_pushinteger(L, 5);
    lua_settop(L, 2); // closes slot 3
    tops[0] = lua_gettop(L);
    tops[1] = cast_int(lua_tointeger(L, 1));
    lua_pushstring(L, "after");
    lua_pop(L, 2); // closes slot 2
    tops[2] = lua_gettop(L);
    return 0;
  });
  ASSERT_EQ(st, LUA_OK) << top_string();
  EXPECT_EQ(tops[0], 2);
  EXPECT_EQ(tops[1], 1);
  EXPECT_EQ(tops[2], 1);
  lua_getglobal(L, "closed");
  EXPECT_EQ(lua_tointeger(L, -1), 2);
  lua_settop(L, 0);
  // An error in a closing method propagates out of lua_settop.
  ASSERT_EQ(dostring(L, "bad = setmetatable({}, {__close = function() error('close failed', 0) end})"), LUA_OK);
  st = pcall_c([](lua_State *L) -> int {
    lua_getglobal(L, "bad");
    lua_toclose(L, 1);
    lua_settop(L, 0);
    lua_pushstring(L, "not reached");
    return 1;
  }, 1);
  EXPECT_EQ(st, LUA_ERRRUN);
  EXPECT_EQ(top_string(), "close failed");
  lua_settop(L, 0);
}

} // namespace

} // namespace api_edges
