// Fuzz target: binary chunks. Any input is either refused with a message, or loads, dumps to
// bytes that load back to the same dump, and runs as a process with a small cycle budget: code
// the loader accepts must never make the interpreter touch memory it does not own.
// An input starting with 'I' is taken as raw instructions, wrapped in a well-formed function
// record (constants of every kind, an upvalue, a nested function), so that mutations spend
// their time on the code the verifier has to judge.
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

std::string varint(size_t x) {
  std::string s;
  do {
    s.insert(s.begin(), char(x & 0x7f));
    x >>= 7;
  } while (x != 0);
  s.back() = char(s.back() | 0x80);
  return s;
}

std::string str(const std::string &s) { return varint(s.size() + 1) + s; }

template <typename T>
std::string raw(T v) {
  return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

// data: 'I', numparams, vararg flag, maxstack, then instructions.
std::string wrap_instructions(const uint8_t *data, size_t size) {
  if (size < 4) return std::string();
  std::string h = "\x1bLua";
  h += char(0x54);
  h += char(0);
  h += "\x19\x93\r\n\x1a\n";
  h += char(4);
  h += char(8);
  h += char(8);
  h += raw<int64_t>(0x5678);
  h += raw<double>(370.5);
  h += char(1); // upvalues of the main function
  std::string f = str("=fuzz") + varint(0) + varint(0);
  f += char(data[1] % 8);
  f += char(data[2] & 1);
  f += char(data[3]);
  size_t ncode = (size - 4) / 4;
  if (ncode > 4000) ncode = 4000;
  f += varint(ncode) + std::string(reinterpret_cast<const char *>(data + 4), ncode * 4);
  // constants: nil, false, true, integers, floats, short and long strings
  f += varint(10);
  f += std::string(1, '\0') + "\x01" + "\x11";
  f += "\x03" + raw<int64_t>(1) + "\x03" + raw<int64_t>(-7) + "\x13" + raw<double>(2.5);
  f += "\x04" + str("x") + "\x04" + str("key") + "\x04" + str(std::string(50, 'L'));
  f += "\x03" + raw<int64_t>(INT64_MIN);
  f += varint(1) + std::string("\x01\x00\x00", 3); // _ENV
  // one nested function: upvalues from register 0 and from _ENV; returns its first upvalue
  std::string n = varint(0) + varint(0) + varint(0) + std::string("\x00\x00\x02", 3);
  n += varint(3) + raw<uint32_t>(9) /* GETUPVAL 0 0 */ + raw<uint32_t>(10 | (1 << 16)) /* SETUPVAL 0 1 */ +
       raw<uint32_t>(76) /* RETURN1 0 */;
  n += varint(0) + varint(2) + std::string("\x01\x00\x00\x00\x00\x00", 6) + varint(0);
  n += varint(0) + varint(0) + varint(0) + varint(0);
  f += varint(1) + n;
  f += varint(0) + varint(0) + varint(0) + varint(0); // no debug information
  return h + f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  report_process_error = [](Process *, const char *, const char *) {}; // errors are expected
  std::string wrapped;
  const char *chunk = reinterpret_cast<const char *>(data);
  if (size > 0 && data[0] == 'I') {
    wrapped = wrap_instructions(data, size);
    chunk = wrapped.data();
    size = wrapped.size();
    if (size == 0) return 0;
  }
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
    // a few short frames: enough to cross forced yields and resumes, cheap enough to keep
    // the executions per second up
    for (int frame = 0; frame < 4 && p->state == ProcState::Running; frame++) {
      frame_cycles_left = 5000;
      run_process_slice(p, 1e9);
    }
  }
  free_process(p);
  return 0;
}
