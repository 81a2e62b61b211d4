// Fuzz target: binary chunks. Any input is either refused with a message, or loads, dumps to
// bytes that load back to the same dump, and runs as a process with a small cycle budget: code
// the loader accepts must never make the interpreter touch memory it does not own.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/lua.h"

namespace {

int strwriter(lua_State *, const void *p, size_t sz, void *ud) {
  static_cast<std::string *>(ud)->append(static_cast<const char *>(p), sz);
  return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *chunk = reinterpret_cast<const char *>(data);
  Process *p = &processes[0];
  if (init_process(p, 1, "return", "fuzz", "fuzz") != 0) return 0;
  lua_State *L = p->L;
  Process *saved = cproc;
  cproc = p;
  lua_pop(L, 1); // the process runs the chunk instead of its program
  int st = luaL_loadbufferx(L, chunk, size, "=fuzz", "b");
  if (st == LUA_OK) {
    std::string first, second;
    lua_dump(L, strwriter, &first, 0);
    if (luaL_loadbufferx(L, first.data(), first.size(), "=fuzz", "b") != LUA_OK) std::abort();
    lua_dump(L, strwriter, &second, 0);
    if (first != second) std::abort();
    lua_pop(L, 1);
  } else if (lua_type(L, -1) != LUA_TSTRING) {
    std::abort();
  }
  cproc = saved;
  if (st == LUA_OK) {
    for (int frame = 0; frame < 8 && p->state == ProcState::Running; frame++) {
      frame_cycles_left = 20000;
      run_process_slice(p, 1e9);
    }
  }
  free_process(p);
  return 0;
}
