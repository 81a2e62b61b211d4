// Fuzz target: string.format, string.pack/unpack and the pattern functions on random
// arguments, plain searches, and gmatch iterators whose upvalues are swapped. The input is
// split at 0xFF bytes into a format/pattern and its arguments.
#include <cstdint>
#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"

static const char *driver = R"(
local parts = ...
local p1, p2, p3 = parts[1] or "", parts[2] or "", parts[3] or ""
local n2, n3 = tonumber(p2), tonumber(p3)
local function try(f, ...) pcall(f, ...) end
try(string.format, p1, p2, p3)
try(string.format, p1, n2 or 0, n3 or 0)
try(string.format, p1, n2 or p2)
try(string.pack, p1, n2 or 1, n3 or 2, p2)
try(string.packsize, p1)
try(string.unpack, p1, p2)
try(string.unpack, p1, p2, n3)
try(string.find, p2, p1)
try(string.find, p2, p1, n3)
try(string.match, p2, p1)
try(string.gsub, p2, p1, p3)
try(string.gsub, p2, p1, function(...) return ... end)
try(string.gsub, p2, p1, {}, n3)
try(function() local n = 0 for a, b in string.gmatch(p2, p1) do n = n + 1 if n > 8 then break end end end)
try(string.rep, p1, (n2 or 0) % 1000, p3)
local long = string.rep(p2, 40)
try(string.find, long, p1)
try(string.find, long, p1, n3, true)
try(string.find, long, p3, 1, true)
try(string.gsub, long, p1, "%0")
try(function()
  local g1, g2 = string.gmatch(p2, p1), string.gmatch(p3, p1)
  g1()
  debug.setupvalue(g2, 3, select(2, debug.getupvalue(g1, 3)))
  debug.setupvalue(g1, (n2 or 1) % 4, p3)
  for _ = 1, 4 do g1() g2() end
end)
)";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Process *p = &processes[0];
  if (init_process(p, 1, driver, "fuzz", "fuzz") != 0) return 1;
  lua_State *L = p->L;
  // Arguments for the chunk: the table of parts.
  lua_createtable(L, 4, 0);
  size_t start = 0;
  int k = 1;
  for (size_t i = 0; i <= size && k <= 3; i++) {
    if (i == size || data[i] == 0xFF) {
      lua_pushlstring(L, reinterpret_cast<const char *>(data) + start, i - start);
      lua_rawseti(L, -2, k++);
      start = i + 1;
    }
  }
  // The chunk sits below its argument; run it in slices as a process.
  for (int frame = 0; frame < 16 && p->state == ProcState::Running; frame++) {
    frame_cycles_left = 1000000;
    int status = 0;
    // The first resume passes the argument table.
    if (frame == 0) {
      cproc = p;
      cpu_cycles = 0;
      cpu_cycles_max = 1000000;
      cpu_superyielding = 0;
      int nres = 0;
      status = lua_resume(L, L, 1, &nres);
      cproc = nullptr;
      if (status != LUA_YIELD) break;
    } else {
      run_process_slice(p, 1e9, &status);
    }
  }
  free_process(p);
  return 0;
}
