// Auxiliary library: string buffers and their box, references, checks, loading helpers,
// registration and the traceback, seen through the C interface.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"

namespace {

// An allocator over realloc that records every call and can refuse one size.
struct AllocLog {
  struct Call {
    void *ptr;
    size_t osize, nsize;
    int final_attempt;
    size_t charge;
  };
  std::vector<Call> calls;
  size_t refuse_size = 0; // a request of exactly this size fails
  bool recording = false;
};

void *logging_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt,
                    size_t charge) {
  auto *log = static_cast<AllocLog *>(ud);
  if (log->recording) log->calls.push_back({ptr, osize, nsize, final_attempt, charge});
  if (nsize == 0) {
    std::free(ptr);
    return nullptr;
  }
  if (log->refuse_size != 0 && nsize == log->refuse_size) return nullptr;
  return std::realloc(ptr, nsize);
}

struct AuxFixture : ::testing::Test {
  AllocLog log;
  lua_State *L = nullptr;
  int32_t saved_max = 0;
  void SetUp() override {
    // Outside a kernel slice: a budget no code here reaches, so nothing yields by force.
    saved_max = cpu_cycles_max;
    cpu_cycles_max = INT32_MAX;
    cpu_cycles = 0;
    L = lua_newstate(logging_alloc, &log);
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
    lua_pushcfunction(L, luaB_load); // the kernel's global load wraps it
    lua_setglobal(L, "load");
  }
  void TearDown() override {
    if (L) lua_close(L);
    cpu_cycles_max = saved_max;
    cpu_cycles = 0;
  }
  // Runs f protected with the given string argument; returns the status.
  int run(lua_CFunction f, const char *arg = nullptr) {
    lua_pushcfunction(L, f);
    int n = 0;
    if (arg) {
      lua_pushstring(L, arg);
      n = 1;
    }
    return lua_pcall(L, n, LUA_MULTRET, 0);
  }
  std::string eval(const char *code) {
    if (luaL_loadstring(L, code) != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK) {
      std::string e = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(non-string error)";
      lua_pop(L, 1);
      return "error: " + e;
    }
    size_t len;
    const char *s = luaL_tolstring(L, -1, &len);
    std::string r(s, len);
    lua_pop(L, 2);
    return r;
  }
};

// Records what the buffer functions leave on the stack at each step.
struct BufferProbe {
  int top0, top_inline, top_boxed, top_after;
  size_t size_inline, size_boxed;
  std::string result;
};
BufferProbe probe;

int buffer_growth(lua_State *L) {
  luaL_Buffer b;
  probe.top0 = lua_gettop(L);
  luaL_buffinit(L, &b);
  std::string chunk(1024, 'a');
  luaL_addlstring(&b, chunk.data(), chunk.size());
  probe.top_inline = lua_gettop(L);
  probe.size_inline = b.size;
  luaL_addchar(&b, 'z');
  probe.top_boxed = lua_gettop(L);
  probe.size_boxed = b.size;
  luaL_pushresult(&b);
  probe.top_after = lua_gettop(L);
  probe.result = lua_tostring(L, -1);
  return 1;
}

TEST_F(AuxFixture, BufferStaysInlineUpTo1024BytesThenDoubles) {
  ASSERT_EQ(run(buffer_growth), LUA_OK);
  EXPECT_EQ(probe.top_inline, probe.top0); // nothing pushed while inline
  EXPECT_EQ(probe.size_inline, 1024u);
  EXPECT_EQ(probe.top_boxed, probe.top0 + 2); // reserved slot and box
  EXPECT_EQ(probe.size_boxed, 2048u);
  EXPECT_EQ(probe.top_after, probe.top0 + 1); // only the result
  EXPECT_EQ(probe.result, std::string(1024, 'a') + "z");
}

int buffer_big_add(lua_State *L) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  std::string chunk(5000, 'q');
  luaL_addlstring(&b, chunk.data(), chunk.size());
  probe.size_boxed = b.size;
  luaL_addlstring(&b, "r", 1); // 5000 -> 10000
  probe.size_inline = b.size;
  luaL_pushresult(&b);
  return 1;
}

TEST_F(AuxFixture, BufferGrowsStraightToWhatIsNeeded) {
  ASSERT_EQ(run(buffer_big_add), LUA_OK);
  EXPECT_EQ(probe.size_boxed, 5000u);
  EXPECT_EQ(probe.size_inline, 10000u);
  EXPECT_EQ(lua_rawlen(L, -1), 5001u);
}

int buffer_box_calls(lua_State *L) {
  auto *log = static_cast<AllocLog *>(lua_touserdata(L, lua_upvalueindex(1)));
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  std::string chunk(3000, 'x');
  log->recording = true;
  luaL_addlstring(&b, chunk.data(), chunk.size());
  log->recording = false;
  luaL_pushresult(&b);
  return 1;
}

TEST_F(AuxFixture, BoxBlockIsOneAllocatorCallChargedItsSize) {
  lua_pushlightuserdata(L, &log);
  lua_pushcclosure(L, buffer_box_calls, 1);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  // Among the calls (the box object itself, its metatable...), exactly one asks for 3000 bytes:
  // a fresh block, not a final attempt, charged its size.
  int n = 0;
  for (auto &c : log.calls) {
    if (c.nsize == 3000) {
      n++;
      EXPECT_EQ(c.ptr, nullptr);
      EXPECT_EQ(c.osize, 0u);
      EXPECT_EQ(c.final_attempt, 0);
      EXPECT_EQ(c.charge, 3000u);
    }
  }
  EXPECT_EQ(n, 1);
  EXPECT_EQ(lua_rawlen(L, -1), 3000u);
}

int buffer_refused(lua_State *L) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  std::string chunk(4000, 'x');
  luaL_addlstring(&b, chunk.data(), chunk.size());
  luaL_pushresult(&b);
  return 1;
}

TEST_F(AuxFixture, RefusedBoxIsAMemoryErrorWithoutPosition) {
  log.refuse_size = 4000;
  log.recording = true;
  ASSERT_EQ(luaL_loadstring(L, "return ...") , LUA_OK);
  lua_pop(L, 1);
  // called from Lua code, so that a position would show if one were added
  lua_pushcfunction(L, buffer_refused);
  lua_setglobal(L, "refused");
  log.calls.clear();
  ASSERT_EQ(luaL_loadstring(L, "\nreturn refused()"), LUA_OK);
  EXPECT_EQ(lua_pcall(L, 0, 1, 0), LUA_ERRMEM);
  EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
  // no retry: the refused size was asked for once
  int n = 0;
  for (auto &c : log.calls)
    if (c.nsize == 4000) n++;
  EXPECT_EQ(n, 1);
  lua_pop(L, 1);
  log.refuse_size = 0;
  log.recording = false;
  EXPECT_EQ(eval("return #string.rep('x', 4000)"), "4000"); // the state is still usable
}

int buffer_addvalue(lua_State *L) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  int top0 = lua_gettop(L);
  lua_pushinteger(L, 42);
  luaL_addvalue(&b);
  lua_pushstring(L, std::string(2000, 'v').c_str()); // moves the buffer to a box below it
  luaL_addvalue(&b);
  lua_pushnumber(L, 1.5);
  luaL_addvalue(&b);
  EXPECT_EQ(lua_gettop(L), top0 + 2);
  luaL_pushresult(&b);
  EXPECT_EQ(lua_gettop(L), top0 + 1);
  return 1;
}

TEST_F(AuxFixture, AddValueWorksInlineAndBoxed) {
  ASSERT_EQ(run(buffer_addvalue), LUA_OK);
  std::string s = lua_tostring(L, -1);
  EXPECT_EQ(s, "42" + std::string(2000, 'v') + "1.5");
}

int buffer_initsize(lua_State *L) {
  luaL_Buffer b;
  char *p = luaL_buffinitsize(L, &b, 3000);
  std::memset(p, 'k', 3000);
  luaL_pushresultsize(&b, 3000);
  return 1;
}

TEST_F(AuxFixture, BuffInitSizeAndPushResultSize) {
  ASSERT_EQ(run(buffer_initsize), LUA_OK);
  EXPECT_EQ(lua_rawlen(L, -1), 3000u);
  EXPECT_EQ(lua_tostring(L, -1)[2999], 'k');
}

int gsub_fn(lua_State *L) {
  luaL_gsub(L, "a.b.c..", ".", "::");
  luaL_gsub(L, "no match", "xyz", "!");
  return 2;
}

TEST_F(AuxFixture, Gsub) {
  ASSERT_EQ(run(gsub_fn), LUA_OK);
  EXPECT_STREQ(lua_tostring(L, -2), "a::b::c::::");
  EXPECT_STREQ(lua_tostring(L, -1), "no match");
}

TEST_F(AuxFixture, References) {
  lua_newtable(L);
  int t = lua_gettop(L);
  lua_pushstring(L, "one");
  EXPECT_EQ(luaL_ref(L, t), 1);
  lua_pushstring(L, "two");
  EXPECT_EQ(luaL_ref(L, t), 2);
  lua_rawgeti(L, t, 2);
  EXPECT_STREQ(lua_tostring(L, -1), "two");
  lua_pop(L, 1);
  luaL_unref(L, t, 1);
  lua_pushstring(L, "again");
  EXPECT_EQ(luaL_ref(L, t), 1);
  int top = lua_gettop(L);
  lua_pushnil(L);
  EXPECT_EQ(luaL_ref(L, t), LUA_REFNIL);
  EXPECT_EQ(lua_gettop(L), top); // popped, nothing stored
  luaL_unref(L, t, LUA_REFNIL);  // ignored
  luaL_unref(L, t, LUA_NOREF);
  lua_pushboolean(L, 1);
  EXPECT_EQ(luaL_ref(L, t), 3);
  lua_pop(L, 1);
}

int check_integer(lua_State *L) {
  lua_pushinteger(L, luaL_checkinteger(L, 1));
  return 1;
}

int check_option(lua_State *L) {
  static const char *const opts[] = {"alpha", "beta", nullptr};
  lua_pushinteger(L, luaL_checkoption(L, 1, "beta", opts));
  return 1;
}

int check_number_arg(lua_State *L) {
  lua_pushnumber(L, luaL_checknumber(L, 1));
  return 1;
}

int check_udata(lua_State *L) {
  luaL_checkudata(L, 1, "Probe.Type");
  lua_pushboolean(L, 1);
  return 1;
}

int check_stack_huge(lua_State *L) {
  luaL_checkstack(L, 1 << 20, lua_tostring(L, 1));
  return 0;
}

int check_any(lua_State *L) {
  luaL_checkany(L, 2);
  return 0;
}

TEST_F(AuxFixture, ArgumentChecksAndMessages) {
  lua_pushcfunction(L, check_integer);
  lua_setglobal(L, "ci");
  lua_pushcfunction(L, check_option);
  lua_setglobal(L, "co");
  lua_pushcfunction(L, check_number_arg);
  lua_setglobal(L, "cn");
  lua_pushcfunction(L, check_stack_huge);
  lua_setglobal(L, "cs");
  lua_pushcfunction(L, check_any);
  lua_setglobal(L, "ca");
  EXPECT_EQ(eval("return ci(7)"), "7");
  EXPECT_EQ(eval("return ci('3.0')"), "3");
  EXPECT_EQ(eval("return ci(2.0)"), "2");
  EXPECT_EQ(eval("return ci(3.5)"),
            "error: :1: bad argument #1 to 'ci' (number has no integer representation)");
  EXPECT_EQ(eval("return ci('x')"),
            "error: :1: bad argument #1 to 'ci' (number expected, got string)");
  EXPECT_EQ(eval("local t = {f = ci}\nreturn t.f({})"),
            "error: :2: bad argument #1 to 'f' (number expected, got table)");
  EXPECT_EQ(eval("local t = {f = ci}\nreturn t:f()"),
            "error: :2: calling 'f' on bad self (number expected, got table)");
  EXPECT_EQ(eval("return select(2, pcall(ci))"),
            "bad argument #1 to 'ci' (number expected, got no value)");
  EXPECT_EQ(eval("return co()"), "1");
  EXPECT_EQ(eval("return co('alpha')"), "0");
  EXPECT_EQ(eval("return co('gamma')"),
            "error: :1: bad argument #1 to 'co' (invalid option 'gamma')");
  EXPECT_EQ(eval("return cn('0x10')"), "16.0");
  EXPECT_EQ(eval("return cn(nil)"), "error: :1: bad argument #1 to 'cn' (number expected, got nil)");
  EXPECT_EQ(eval("return cs('too deep')"), "error: :1: stack overflow (too deep)");
  EXPECT_EQ(eval("return cs()"), "error: :1: stack overflow");
  EXPECT_EQ(eval("return ca(1, nil)"), "nil");
  EXPECT_EQ(eval("return ca(1)"), "error: :1: bad argument #2 to 'ca' (value expected)");
}

TEST_F(AuxFixture, MetatablesAndUserdataChecks) {
  EXPECT_EQ(luaL_newmetatable(L, "Probe.Type"), 1);
  EXPECT_EQ(lua_getfield(L, -1, "__name"), LUA_TSTRING);
  EXPECT_STREQ(lua_tostring(L, -1), "Probe.Type");
  lua_pop(L, 1);
  int mt = lua_gettop(L);
  EXPECT_EQ(luaL_newmetatable(L, "Probe.Type"), 0);
  EXPECT_TRUE(lua_rawequal(L, -1, mt)); // the existing one is pushed
  lua_pop(L, 2);
  void *p = lua_newuserdatauv(L, 8, 0);
  EXPECT_EQ(luaL_testudata(L, -1, "Probe.Type"), nullptr); // no metatable yet
  luaL_setmetatable(L, "Probe.Type");
  EXPECT_EQ(luaL_testudata(L, -1, "Probe.Type"), p);
  EXPECT_EQ(luaL_testudata(L, -1, "Other"), nullptr);
  lua_setglobal(L, "ud");
  lua_pushcfunction(L, check_udata);
  lua_setglobal(L, "cu");
  EXPECT_EQ(eval("return cu(ud)"), "true");
  EXPECT_EQ(eval("return cu({})"),
            "error: :1: bad argument #1 to 'cu' (Probe.Type expected, got table)");
  // __name of the argument's metatable names its type in messages
  EXPECT_EQ(eval("return string.rep(ud)"),
            "error: :1: bad argument #1 to 'rep' (string expected, got Probe.Type)");
  EXPECT_EQ(eval("return tostring(ud):match('^Probe%.Type: ') ~= nil"), "true");
  // getmetafield reads raw and pushes nothing on a miss
  lua_getglobal(L, "ud");
  int top = lua_gettop(L);
  EXPECT_EQ(luaL_getmetafield(L, -1, "__missing"), LUA_TNIL);
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(luaL_getmetafield(L, -1, "__name"), LUA_TSTRING);
  EXPECT_EQ(lua_gettop(L), top + 1);
  lua_pop(L, 2);
}

TEST_F(AuxFixture, ToLStringAndLen) {
  lua_pushinteger(L, -12);
  size_t len;
  EXPECT_STREQ(luaL_tolstring(L, -1, &len), "-12");
  EXPECT_EQ(len, 3u);
  lua_pop(L, 2);
  lua_pushnumber(L, 0.1);
  EXPECT_STREQ(luaL_tolstring(L, -1, nullptr), "0.1");
  lua_pop(L, 2);
  lua_pushnumber(L, 100.0);
  EXPECT_STREQ(luaL_tolstring(L, -1, nullptr), "100.0");
  lua_pop(L, 2);
  lua_pushboolean(L, 0);
  EXPECT_STREQ(luaL_tolstring(L, -1, nullptr), "false");
  lua_pop(L, 2);
  lua_pushnil(L);
  EXPECT_STREQ(luaL_tolstring(L, -1, nullptr), "nil");
  lua_pop(L, 2);
  lua_newtable(L);
  char expected[64];
  std::snprintf(expected, sizeof expected, "table: %p", lua_topointer(L, -1));
  EXPECT_STREQ(luaL_tolstring(L, -1, nullptr), expected);
  lua_pop(L, 2);
  lua_pushstring(L, "abc");
  EXPECT_EQ(luaL_len(L, -1), 3);
  lua_pop(L, 1);
  EXPECT_EQ(eval("return #setmetatable({}, {__len = function() return '7' end})"), "7");
}

TEST_F(AuxFixture, LoadStringGivesAnEmptyChunkId) {
  EXPECT_EQ(luaL_loadstring(L, "x = = 1"), LUA_ERRSYNTAX);
  EXPECT_STREQ(lua_tostring(L, -1), ":1: unexpected symbol near '='");
  lua_pop(L, 1);
  EXPECT_EQ(eval("\n\nerror('e')"), "error: :3: e");
  const char code[] = "return 1 + 2";
  EXPECT_EQ(luaL_loadbufferx(L, code, sizeof code - 1, "=buf", "b"), LUA_ERRSYNTAX);
  EXPECT_STREQ(lua_tostring(L, -1), "attempt to load a text chunk (mode is 'b')");
  lua_pop(L, 1);
  ASSERT_EQ(luaL_loadbufferx(L, code, sizeof code - 1, "=buf", "t"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 3);
  lua_pop(L, 1);
}

int where_fn(lua_State *L) {
  luaL_where(L, 1);
  return 1;
}

TEST_F(AuxFixture, WhereNeedsALuaCallerWithALine) {
  lua_pushcfunction(L, where_fn);
  lua_setglobal(L, "where");
  EXPECT_EQ(eval("\nreturn (where())"), ":2: ");
  EXPECT_EQ(eval("return select(2, pcall(where))"), "");
  EXPECT_EQ(eval("return (load('\\n\\nreturn (where())', '=chunk')())"), "chunk:3: ");
}

TEST_F(AuxFixture, TracebackOfAnotherThread) {
  ASSERT_EQ(luaL_loadstring(L, "co = coroutine.create(function()\n coroutine.yield()\nend)\n"
                               "coroutine.resume(co)"),
            LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  lua_getglobal(L, "co");
  lua_State *co = lua_tothread(L, -1);
  int top = lua_gettop(L);
  luaL_traceback(L, co, nullptr, 0);
  EXPECT_EQ(lua_gettop(L), top + 1);
  EXPECT_STREQ(lua_tostring(L, -1), "stack traceback:\n\t[C]: in function 'coroutine.yield'\n"
                                    "\t:2: in function <:1>");
  lua_pop(L, 1);
  luaL_traceback(L, co, "head", 1);
  EXPECT_STREQ(lua_tostring(L, -1), "head\nstack traceback:\n\t:2: in function <:1>");
  lua_pop(L, 2);
  // no levels at all
  lua_State *fresh = lua_newthread(L);
  luaL_traceback(L, fresh, "x", 0);
  EXPECT_STREQ(lua_tostring(L, -1), "x\nstack traceback:");
  lua_pop(L, 2);
}

int open_counter_calls = 0;
int open_counter(lua_State *L) {
  open_counter_calls++;
  lua_newtable(L);
  lua_pushstring(L, lua_tostring(L, 1)); // the module name is the argument
  lua_setfield(L, -2, "name");
  return 1;
}

TEST_F(AuxFixture, RequirefOpensOnceAndOpenLibsAgainOnlyResetsGlobals) {
  int top = lua_gettop(L);
  luaL_requiref(L, "mod", open_counter, 1);
  EXPECT_EQ(lua_gettop(L), top + 1);
  EXPECT_EQ(open_counter_calls, 1);
  lua_pop(L, 1);
  luaL_requiref(L, "mod", open_counter, 0);
  EXPECT_EQ(open_counter_calls, 1);
  lua_pop(L, 1);
  EXPECT_EQ(eval("return mod.name"), "mod");
  EXPECT_EQ(eval("return debug.getregistry()._LOADED.mod == mod"), "true");
  // a second luaL_openlibs restores the globals to the stored tables
  EXPECT_EQ(eval("local s = string; string = nil; coroutine = 5; return s ~= nil"), "true");
  luaL_openlibs(L);
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(eval("return string == debug.getregistry()._LOADED.string and type(coroutine)"),
            "table");
  // getsubtable
  EXPECT_EQ(luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED"), 1);
  lua_pop(L, 1);
  lua_newtable(L);
  EXPECT_EQ(luaL_getsubtable(L, -1, "sub"), 0);
  EXPECT_EQ(luaL_getsubtable(L, -2, "sub"), 1);
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  lua_pop(L, 3);
}

int up_fn(lua_State *L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_pushvalue(L, lua_upvalueindex(2));
  return 2;
}

TEST_F(AuxFixture, SetFuncsWithUpvaluesAndPlaceholders) {
  static const luaL_Reg regs[] = {{"f", up_fn}, {"g", up_fn}, {"later", nullptr}, {nullptr, nullptr}};
  lua_newtable(L);
  lua_pushinteger(L, 10);
  lua_pushstring(L, "s");
  int top = lua_gettop(L);
  luaL_setfuncs(L, regs, 2);
  EXPECT_EQ(lua_gettop(L), top - 2);
  lua_setglobal(L, "lib");
  EXPECT_EQ(eval("local a, b = lib.f(); return a .. b"), "10s");
  EXPECT_EQ(eval("return lib.later"), "false");
  EXPECT_EQ(eval("return lib.f ~= lib.g"), "true");
}

int version_fn(lua_State *L) {
  luaL_checkversion_(L, 503, LUAL_NUMSIZES);
  return 0;
}
int numsizes_fn(lua_State *L) {
  luaL_checkversion_(L, 504, 12);
  return 0;
}

TEST_F(AuxFixture, VersionCheck) {
  EXPECT_EQ(LUAL_NUMSIZES, 136u);
  lua_pushcfunction(L, version_fn);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "version mismatch: app. needs 503.0, Lua core provides 504.0");
  lua_pop(L, 1);
  lua_pushcfunction(L, numsizes_fn);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "core and library have incompatible numeric types");
  lua_pop(L, 1);
}

TEST_F(AuxFixture, FileAndExecResults) {
  int top = lua_gettop(L);
  EXPECT_EQ(luaL_fileresult(L, 1, "f"), 1);
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_settop(L, top);
  errno = ENOENT;
  EXPECT_EQ(luaL_fileresult(L, 0, "f"), 3);
  EXPECT_TRUE(lua_isnil(L, -3));
  EXPECT_EQ(std::string(lua_tostring(L, -2)), std::string("f: ") + std::strerror(ENOENT));
  EXPECT_EQ(lua_tointeger(L, -1), ENOENT);
  lua_settop(L, top);
  errno = 0;
  EXPECT_EQ(luaL_execresult(L, 0), 3);
  EXPECT_TRUE(lua_toboolean(L, -3));
  EXPECT_STREQ(lua_tostring(L, -2), "exit");
  EXPECT_EQ(lua_tointeger(L, -1), 0);
  lua_settop(L, top);
  EXPECT_EQ(luaL_execresult(L, 3 << 8), 3); // exit status 3
  EXPECT_TRUE(lua_isnil(L, -3));
  EXPECT_STREQ(lua_tostring(L, -2), "exit");
  EXPECT_EQ(lua_tointeger(L, -1), 3);
  lua_settop(L, top);
}

TEST(AuxNewState, PlainStateRunsCode) {
  lua_State *L = luaL_newstate();
  ASSERT_NE(L, nullptr);
  luaL_openlibs(L);
  ASSERT_EQ(luaL_loadstring(L, "local t = {} for i = 1, 100 do t[i] = i end return #t"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 100);
  lua_close(L);
}

} // namespace
