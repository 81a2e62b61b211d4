// Fuzz target: typed userdata constructors and operations on random arguments. Each input
// byte picks an operation or an argument; every call must return without a crash or a write
// outside an operand.
#include <cstdint>
#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"

static const char *driver = R"(
local bytes = ...
local pos = 0
local function byte()
  pos = pos + 1
  return bytes:byte(pos) or 0
end
-- Extremes are in the list, but sizes stay small: one call may legally do 2^31 element
-- operations, and a fuzz input must run in milliseconds.
local specials = {0, 1, -1, 2, 3, 7, 255, 256, -256, 4095, 1 << 31, -(1 << 31), 1 << 32,
  math.maxinteger, math.mininteger, 0.5, -0.5, 1e300, -1e300, math.huge - math.huge, math.huge,
  -math.huge, 16777216, 4096}
local function small(n)
  if n ~= n or n > 4096 or n < -4096 then return 4096 end
  return n
end
local types = {"u8", "i16", "i32", "i64", "f64", "u16", "f32", "x"}
local pool = {}
local function num()
  local b = byte()
  if b < 128 then return b - 64 end
  return specials[b % #specials + 1]
end
local function arg()
  local b = byte() % 6
  if b == 0 then return num() end
  if b == 1 and #pool > 0 then return pool[byte() % #pool + 1] end
  if b == 2 then return types[byte() % #types + 1] end
  if b == 3 then return nil end
  if b == 4 then return "0102ff" end
  return num()
end
local methods = {}
for k, v in pairs(USERDATA) do if type(v) == "function" then methods[#methods + 1] = k end end
-- sorted (the dialect has no table.sort): the order of pairs changes with the string hash
-- seed, and an input must replay the same calls
for i = 2, #methods do
  local m, j = methods[i], i - 1
  while j >= 1 and methods[j] > m do methods[j + 1] = methods[j]; j = j - 1 end
  methods[j + 1] = m
end
assert(#methods > 50)
local ops = 0
while pos < #bytes and ops < 200 do
  ops = ops + 1
  local b = byte() % 8
  local ok, r
  if b == 0 then
    ok, r = pcall(userdata, types[byte() % #types + 1], small(num()), small(num()))
  elseif b == 1 then
    ok, r = pcall(userdata, types[byte() % #types + 1], byte() % 9, byte() % 9, "00112233445566778899aabbccddeeff")
  elseif b == 2 then
    ok, r = pcall(vec, num(), num(), num())
  elseif b == 3 and #pool > 0 then
    ok, r = pcall(get, pool[byte() % #pool + 1], num(), num())
  elseif b == 4 and #pool > 0 then
    ok, r = pcall(set, pool[byte() % #pool + 1], num(), num(), num())
  elseif #pool > 0 and #methods > 0 then
    local m = methods[byte() % #methods + 1]
    local u = pool[byte() % #pool + 1]
    local a1, a2, a3, a4, a5, a6, a7 = arg(), arg(), arg(), arg(), arg(), arg(), arg()
    if type(a5) == "number" then a5 = small(a5) end -- span length
    if type(a7) == "number" then a7 = small(a7) end -- span count
    ok, r = pcall(USERDATA[m], u, a1, a2, a3, a4, a5, a6, a7)
  end
  if ok and type(r) == "userdata" and #pool < 16 and (#r or 0) <= 65536 then pool[#pool + 1] = r end
end
)";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Process *p = &processes[0];
  if (init_process(p, 1, driver, "fuzz", "fuzz") != 0) return 1;
  lua_State *L = p->L;
  lua_pushlstring(L, reinterpret_cast<const char *>(data), size);
  cproc = p;
  cpu_cycles = 0;
  cpu_cycles_max = 50000000;
  cpu_superyielding = 0;
  int nres = 0;
  lua_resume(L, L, 1, &nres);
  cproc = nullptr;
  free_process(p);
  return 0;
}
