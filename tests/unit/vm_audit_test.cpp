// The native call-depth limits as message handlers see them, and the charge of OP_LOADKX.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/lua.h"
#include "lua/state.h"

namespace {

struct VmAuditTest : ::testing::Test {
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
  void run(const char *code) {
    ASSERT_EQ(luaL_loadstring(L, code), LUA_OK) << lua_tostring(L, -1);
    int nres = 0;
    ASSERT_EQ(lua_resume(L, L, 0, &nres), LUA_OK) << lua_tostring(L, -1);
    lua_settop(L, 0);
  }
};

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
TEST_F(VmAuditTest, HandlersGetRoomUpTo220NestedCalls) {
  lua_register(L, "nest_c", nest_c);
  run("function down(n) return nest_c(n) end "
      "function shallow(m) down(18) return 'handled: ' .. m end "
      "function deep(m) down(19) return 'never' end");
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
TEST_F(VmAuditTest, LoadKXCostsOneCycle) {
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
