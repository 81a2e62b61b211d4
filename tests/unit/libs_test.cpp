// Base and coroutine libraries under a controlled cycle budget, and loading binary chunks
// through luaB_load.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/state.h"

namespace {

struct LibsFixture : ::testing::Test {
  lua_State *L = nullptr;
  int32_t saved_max = 0;
  void SetUp() override {
    saved_max = cpu_cycles_max;
    cpu_cycles_max = INT32_MAX;
    cpu_cycles = 0;
    cpu_superyielding = 0;
    L = luaL_newstate();
    ASSERT_NE(L, nullptr);
    luaL_openlibs(L);
    lua_pushcfunction(L, luaB_load);
    lua_setglobal(L, "load");
  }
  void TearDown() override {
    lua_close(L);
    cpu_cycles_max = saved_max;
    cpu_cycles = 0;
  }
  // Runs code on the main thread (not yieldable here) and returns its results joined by ",".
  std::string eval(const char *code) {
    int top = lua_gettop(L);
    if (luaL_loadstring(L, code) != LUA_OK || lua_pcall(L, 0, LUA_MULTRET, 0) != LUA_OK) {
      std::string e = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(non-string error)";
      lua_settop(L, top);
      return "error: " + e;
    }
    std::string r;
    for (int i = top + 1; i <= lua_gettop(L); i++) {
      if (i > top + 1) r += ",";
      r += luaL_tolstring(L, i, nullptr);
      lua_pop(L, 1);
    }
    lua_settop(L, top);
    return r;
  }
};

TEST_F(LibsFixture, ForcedYieldGivesTrueAloneAndKeepsTheCoroutineSuspended) {
  ASSERT_EQ(eval("co = coroutine.create(function(x) local n = 0 while true do n = n + 1 end end)\n"
                 "w = coroutine.wrap(function() while true do end end)"),
            "");
  // Over budget from the start: the coroutine may run only until its first budget check.
  cpu_cycles = 100;
  cpu_cycles_max = 10;
  EXPECT_EQ(eval("local r = table.pack(coroutine.resume(co, 1))\n"
                 "return r.n, r[1], coroutine.status(co)"),
            "1,true,suspended");
  EXPECT_EQ(eval("return select('#', w())"), "0");
  // the main thread here cannot yield, so it runs on over budget
  EXPECT_EQ(eval("local s = 0 for i = 1, 100 do s = s + i end return s"), "5050");
  // the stopped coroutine's flag is set
  lua_getglobal(L, "co");
  lua_State *co = lua_tothread(L, -1);
  EXPECT_NE(co->slice_escape, 0);
  EXPECT_EQ(lua_status(co), LUA_YIELD);
  lua_pop(L, 1);
}

TEST_F(LibsFixture, SteppingOneInstructionPerResumeDropsTheResumeValues) {
  ASSERT_EQ(eval("local function f(...) return ... end\n"
                 "co = coroutine.create(function(a, b)\n"
                 "  local t = table.pack(f(a, b, 3))\n"
                 "  local s = select('#', f(f(a, b)))\n"
                 "  local y = coroutine.yield(t.n + s)\n"
                 "  return t.n, t[1], t[2], t[3], s, y\n"
                 "end)"),
            "");
  cpu_cycles = 1;
  cpu_cycles_max = 0; // every instruction of the coroutine is over budget
  std::string first = eval("return coroutine.resume(co, 'A', 'B')");
  EXPECT_EQ(first, "true");
  // Each resume continues one instruction; the junk values must never reach the code.
  int steps = 0;
  std::string r;
  for (;;) {
    r = eval("return coroutine.resume(co, 'junk1', 'junk2', 'junk3')");
    steps++;
    ASSERT_LT(steps, 1000);
    if (r != "true") break;
  }
  EXPECT_GT(steps, 5);
  EXPECT_EQ(r, "true,5"); // the voluntary yield: 3 + 2
  // a voluntary yield receives the next resume's values
  for (;;) {
    r = eval("return coroutine.resume(co, 'Y')");
    if (r != "true") break;
  }
  EXPECT_EQ(r, "true,3,A,B,3,2,Y");
  EXPECT_EQ(eval("return coroutine.status(co)"), "dead");
}

TEST_F(LibsFixture, WrappedFunctionAtForcedYieldsStepsToItsResult) {
  ASSERT_EQ(eval("w = coroutine.wrap(function(...) local t = {...} return #t, ... end)"), "");
  cpu_cycles = 1;
  cpu_cycles_max = 0;
  std::string r = eval("return w(1, 2)");
  int steps = 0;
  while (r.empty()) {
    r = eval("return w('x')");
    ASSERT_LT(++steps, 1000);
  }
  EXPECT_EQ(r, "2,1,2");
}

int writer(lua_State *, const void *p, size_t sz, void *ud) {
  static_cast<std::string *>(ud)->append(static_cast<const char *>(p), sz);
  return 0;
}

TEST_F(LibsFixture, LoadBinaryChunksByMode) {
  // a function with no upvalues, dumped
  ASSERT_EQ(luaL_loadstring(L, "return function(a) return a * 2 end"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  std::string bin;
  ASSERT_EQ(lua_dump(L, writer, &bin, 0), 0);
  lua_pop(L, 1);
  lua_pushlstring(L, bin.data(), bin.size());
  lua_setglobal(L, "bin");
  EXPECT_EQ(eval("return load(bin)(21)"), "42");
  EXPECT_EQ(eval("return load(bin, 'c', 'b')(4)"), "8");
  EXPECT_EQ(eval("return load(bin, 'c', 't')"), "nil,attempt to load a binary chunk (mode is 't')");
  // an environment for a function without upvalues is dropped
  EXPECT_EQ(eval("return load(bin, 'c', 'b', {})(5)"), "10");
  // a main chunk dumped and given an environment
  ASSERT_EQ(luaL_loadstring(L, "return x"), LUA_OK);
  bin.clear();
  ASSERT_EQ(lua_dump(L, writer, &bin, 1), 0);
  lua_pop(L, 1);
  lua_pushlstring(L, bin.data(), bin.size());
  lua_setglobal(L, "mainbin");
  EXPECT_EQ(eval("return load(mainbin, 'm', 'bt', {x = 'envx'})()"), "envx");
  EXPECT_EQ(eval("x = 'gx' return load(mainbin)()"), "gx");
  // a reader function delivering the binary chunk byte by byte
  EXPECT_EQ(eval("local i = 0\n"
                 "return load(function() i = i + 1 return bin:sub(i, i) end, '=r', 'b')(7)"),
            "14");
}

// Runs the code with the standard stream fd redirected to a temporary file (and, for standard
// input, read from one holding `input`); returns what was written.
std::string with_stream(LibsFixture &fx, int fd, const char *code, std::string *result,
                        const char *input = nullptr) {
  FILE *out = std::tmpfile();
  FILE *in = nullptr;
  std::fflush(stdout);
  std::fflush(stderr);
  int saved = dup(fd);
  dup2(fileno(out), fd);
  int saved_in = -1;
  if (input) {
    in = std::tmpfile();
    std::fputs(input, in);
    std::fflush(in);
    std::rewind(in);
    saved_in = dup(0);
    dup2(fileno(in), 0);
    std::clearerr(stdin);
  }
  *result = fx.eval(code);
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved, fd);
  close(saved);
  if (input) {
    dup2(saved_in, 0);
    close(saved_in);
    std::clearerr(stdin);
    std::fclose(in);
  }
  std::string text;
  std::rewind(out);
  int c;
  while ((c = std::fgetc(out)) != EOF) text += (char)c;
  std::fclose(out);
  return text;
}

TEST_F(LibsFixture, PrintWritesTabSeparatedValuesToStandardOutput) {
  std::string r;
  EXPECT_EQ(with_stream(*this, 1, "print(1, nil, 'a')", &r), "1\tnil\ta\n");
  EXPECT_EQ(with_stream(*this, 1, "print()", &r), "\n");
  EXPECT_EQ(with_stream(*this, 1, "print('a\\0b', 2.5, true)", &r), std::string("a\0b\t2.5\ttrue\n", 13));
  EXPECT_EQ(with_stream(*this, 1, "print(setmetatable({}, {__tostring = function() return 'T' end}))", &r),
            "T\n");
  // a failing conversion leaves what was already written
  EXPECT_EQ(with_stream(*this, 1,
                        "print('x', setmetatable({}, {__tostring = function() error('no', 0) end}))",
                        &r),
            "x");
  EXPECT_EQ(r, "error: no");
}

TEST_F(LibsFixture, DebugDebugRunsLinesUntilCont) {
  std::string r;
  std::string err = with_stream(*this, 2, "debug.debug() return dbg_x", &r,
                                "dbg_x = 41\nerror('bad')\ndbg_x = dbg_x + 1\n+\ncont\n");
  EXPECT_EQ(r, "42");
  EXPECT_EQ(err, "lua_debug> lua_debug> (debug command):1: bad\nlua_debug> lua_debug> "
                 "(debug command):1: unexpected symbol near '+'\nlua_debug> ");
  // end of input ends it too
  err = with_stream(*this, 2, "debug.debug() return dbg_x", &r, "dbg_x = 7\n");
  EXPECT_EQ(r, "7");
  EXPECT_EQ(err, "lua_debug> lua_debug> ");
}

TEST_F(LibsFixture, PrintUsesToStringMetamethods) {
  // print writes to stdout; here we only check that it converts through __tostring and
  // propagates the conversion error
  EXPECT_EQ(eval("return pcall(print, setmetatable({}, {__tostring = function() return {} end}))"),
            "false,'__tostring' must return a string");
  EXPECT_EQ(eval("return select('#', print())"), "0");
}

} // namespace
