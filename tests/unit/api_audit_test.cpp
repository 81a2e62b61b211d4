// Embedding and debug interfaces, second pass: the corners of each entry point (indices at the
// edges, conversions, collector options, loading and resuming, hooks and locals seen from C).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/debug.h"
#include "lua/gc.h"
#include "lua/libs.h"
#include "lua/lua.h"
#include "lua/object.h"
#include "lua/state.h"
#include "lua/table.h"

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

struct ApiAudit : ::testing::Test {
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

TEST_F(ApiAudit, IndicesInsideACFrame) {
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

TEST_F(ApiAudit, AbsentValuesReadAsNil) {
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

TEST_F(ApiAudit, CClosureWith255Upvalues) {
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

TEST_F(ApiAudit, ConversionsFollowTheNumeralRules) {
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

TEST_F(ApiAudit, PointersAndLengths) {
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

TEST_F(ApiAudit, PushfstringEveryDirective) {
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

TEST_F(ApiAudit, CreatetableSizing) {
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

TEST_F(ApiAudit, TypeWideMetatables) {
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

TEST_F(ApiAudit, NextAndRawAccess) {
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

TEST_F(ApiAudit, GetAndSetHonourMetamethods) {
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

TEST_F(ApiAudit, ConcatAndArithErrors) {
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

TEST_F(ApiAudit, LoadNamesAndUpvalues) {
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

TEST_F(ApiAudit, ResumeFailures) {
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

TEST_F(ApiAudit, YieldOutsideACoroutine) {
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

TEST_F(ApiAudit, StateMiscellany) {
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

TEST_F(ApiAudit, CollectorStepAndModes) {
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

TEST_F(ApiAudit, GetinfoOfAFunctionOnTheStack) {
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

TEST_F(ApiAudit, LocalsOfCAndLuaActivations) {
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

TEST_F(ApiAudit, HookEventsAndInfo) {
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

TEST_F(ApiAudit, CountHookEveryNInstructions) {
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
TEST_F(ApiAudit, StrippedFunctionInfo) {
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
TEST_F(ApiAudit, HookCountRunsDownWithoutTheCountBit) {
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
TEST_F(ApiAudit, StoresIntoBlackObjectsKeepTheirValues) {
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
TEST_F(ApiAudit, FailingMessageHandler) {
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
TEST_F(ApiAudit, SettopSurvivesAClosingMethodThatMovesTheStack) {
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
