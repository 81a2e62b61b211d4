// String, math and utf8 libraries: what a script cannot see (what the openers leave on the
// stack, per-state generator seeding, the generator's userdata, C-level use of the buffer).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/lua.h"
#include "test_alloc.h"

namespace {

struct StrlibTest : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  int32_t saved_max = 0;
  void SetUp() override {
    saved_max = cpu_cycles_max;
    cpu_cycles_max = INT32_MAX;
    cpu_cycles = 0;
    L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override {
    lua_close(L);
    cpu_cycles_max = saved_max;
    cpu_cycles = 0;
  }
  int count_fields(int idx) {
    int n = 0;
    idx = lua_absindex(L, idx);
    lua_pushnil(L);
    while (lua_next(L, idx)) {
      n++;
      lua_pop(L, 1);
    }
    return n;
  }
  // Runs code and returns its first result as text, or "error: ..." on failure.
  std::string eval(const char *code) {
    int top = lua_gettop(L);
    std::string r;
    if (luaL_loadstring(L, code) != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK)
      r = std::string("error: ") + (lua_tostring(L, -1) ? lua_tostring(L, -1) : "?");
    else
      r = luaL_tolstring(L, -1, nullptr);
    lua_settop(L, top);
    return r;
  }
};

TEST_F(StrlibTest, OpenersLeaveOnlyTheLibraryTable) {
  struct {
    lua_CFunction open;
    int fields;
  } libs[] = {{luaopen_string, 16}, {luaopen_math, 27}, {luaopen_utf8, 6}};
  for (auto &lib : libs) {
    lua_settop(L, 0);
    lua_pushcfunction(L, lib.open);
    ASSERT_EQ(lua_pcall(L, 0, LUA_MULTRET, 0), LUA_OK);
    ASSERT_EQ(lua_gettop(L), 1);
    ASSERT_EQ(lua_type(L, 1), LUA_TTABLE);
    EXPECT_EQ(count_fields(1), lib.fields);
  }
}

TEST_F(StrlibTest, EveryStringSharesTheMetatableWhoseIndexIsTheLibrary) {
  lua_pushcfunction(L, luaopen_string);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  lua_pushliteral(L, "some other string");
  ASSERT_TRUE(lua_getmetatable(L, -1));
  EXPECT_EQ(count_fields(-1), 9);
  lua_getfield(L, -1, "__index");
  EXPECT_TRUE(lua_rawequal(L, -1, 1));
  lua_getfield(L, -2, "__concat");
  EXPECT_TRUE(lua_isnil(L, -1));
}

TEST_F(StrlibTest, GeneratorIsAThirtyTwoByteUserdataSharedByRandomAndRandomseed) {
  lua_pushcfunction(L, luaopen_math);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  lua_getfield(L, 1, "random");
  lua_getfield(L, 1, "randomseed");
  const char *n1 = lua_getupvalue(L, 2, 1);
  ASSERT_NE(n1, nullptr);
  ASSERT_EQ(lua_type(L, -1), LUA_TUSERDATA);
  EXPECT_EQ(lua_rawlen(L, -1), 32u);
  void *state = lua_touserdata(L, -1);
  ASSERT_NE(lua_getupvalue(L, 3, 1), nullptr);
  EXPECT_EQ(lua_touserdata(L, -1), state);
  EXPECT_EQ(lua_getupvalue(L, 2, 2), nullptr);

  // randomseed(42) leaves the words the published algorithm gives after 16 discarded draws
  lua_pushvalue(L, 3);
  lua_pushinteger(L, 42);
  ASSERT_EQ(lua_pcall(L, 1, 2, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -2), 42);
  EXPECT_EQ(lua_tointeger(L, -1), 0);
  uint64_t s[4] = {42, 0xff, 0, 0};
  auto rotl = [](uint64_t x, int n) { return (x << n) | (x >> (64 - n)); };
  auto next = [&]() {
    uint64_t r = rotl(s[1] * 5, 7) * 9, t = s[1] << 17;
    s[2] ^= s[0], s[3] ^= s[1], s[1] ^= s[2], s[0] ^= s[3], s[2] ^= t, s[3] = rotl(s[3], 45);
    return r;
  };
  for (int i = 0; i < 16; i++) next();
  EXPECT_EQ(0, memcmp(state, s, sizeof(s)));
  EXPECT_EQ(static_cast<uint64_t>(-1276290044721465627LL), next());
}

TEST_F(StrlibTest, StatesOpenedTogetherDrawDifferentSequences) {
  luaL_openlibs(L);
  TestAlloc other_alloc;
  lua_State *L2 = lua_newstate(test_alloc, &other_alloc);
  ASSERT_NE(L2, nullptr);
  luaL_openlibs(L2);
  ASSERT_EQ(luaL_loadstring(L2, "return math.random(0)"), LUA_OK);
  ASSERT_EQ(lua_pcall(L2, 0, 1, 0), LUA_OK);
  std::string second = luaL_tolstring(L2, -1, nullptr);
  lua_close(L2);
  EXPECT_NE(eval("return math.random(0)"), second);
}

TEST_F(StrlibTest, FormatAndGsubOutgrowTheInlineBufferCleanly) {
  luaL_openlibs(L);
  int top = lua_gettop(L);
  EXPECT_EQ(eval("return #string.format('%s|%5d|%s', string.rep('a', 3000), 7, string.rep('b', 3000))"),
            "6007");
  EXPECT_EQ(eval("return #(string.rep('ab', 50000):gsub('a', '%0%0'))"), "150000");
  EXPECT_EQ(eval("return #string.pack('s4', string.rep('x', 70000))"), "70004");
  EXPECT_EQ(lua_gettop(L), top);
  lua_gc(L, LUA_GCCOLLECT);
  // a failing format in the middle of a long result releases its buffer too
  EXPECT_EQ(eval("return pcall(string.format, string.rep('x', 5000) .. '%d', {})"), "false");
  lua_gc(L, LUA_GCCOLLECT);
  EXPECT_EQ(lua_gettop(L), top);
}

TEST_F(StrlibTest, StringArithmeticUsesTheEngineDivision) {
  luaL_openlibs(L);
  EXPECT_EQ(eval("return '10' // '0'"), "9223372036854775807");
  EXPECT_EQ(eval("return '-10' // 0"), "-9223372036854775807");
  EXPECT_EQ(eval("return '10' % '0'"), "0");
  EXPECT_EQ(eval("return '1' / '0'"), "1.7976931348623e+308");
}

// The native work meter sees each call's work in proportion to its input, and a matching
// call that ends in an error is counted up to where it stopped.
TEST_F(StrlibTest, StringWorkReachesTheMeter) {
  luaL_openlibs(L);
  int64_t saved = native_work;
  auto work_of = [&](const char *code) {
    native_work = 0;
    eval(code);
    return native_work;
  };
  int64_t small = work_of("return string.rep('x', 1000):find('x-y')");
  int64_t large = work_of("return string.rep('x', 100000):find('x-y')");
  EXPECT_GT(large, 50 * small);
  EXPECT_GE(work_of("return string.upper(string.rep('x', 100000))"), 100000 * WORK_BYTE_SCANNED);
  EXPECT_GE(work_of("return string.rep('ab', 1000000)"), 2000000 * WORK_BYTE_COMPARED);
  native_work = 0;
  EXPECT_EQ(eval("return select(2, pcall(string.find, string.rep('a', 26), string.rep('a*', 13) .. 'b'))"),
            "pattern too complex");
  int64_t failed = native_work;
  // All the ticks the call spent before it gave up: far more than a whole linear search.
  EXPECT_GT(failed, 10 * large);
  native_work = saved;
}

}  // namespace
