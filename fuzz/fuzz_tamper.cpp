// Fuzz target: programs that tamper with the state native functions keep where a program can
// reach it. Each input runs as a fresh process. It takes every native function reachable from
// the globals, the library tables and the registry (and the closures natives make), then each
// input byte picks an action or an operand: write a value of some kind (other functions' states,
// registry values, typed userdata, threads, tables with metatables, functions...) into an
// upvalue of a native closure, into a registry key or into a field of a table the natives keep;
// call a native; run buffers, hooks, coroutines, tracebacks, chunks. It ends with a full
// collection. Nothing may crash, leak or read freed memory.
//
// The driver is native code, so that a run costs little more than the process itself: the
// values live in a pool table that the driver's functions (callbacks for gsub, hooks and
// coroutines among them) reach through their one upvalue.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "lua/auxlib.h"

namespace {

// Values made in Lua: returns the values of every kind, the closures natives make, and a few
// instructions to run while a hook is on.
const char *values_chunk = R"lua(
local catcher, nested, hooked = ...
local erring = function() error("tamper") end
local yield = coroutine.yield
local suspended = coroutine.create(function(...) while true do yield(...) end end)
coroutine.resume(suspended, 1)
local dead, failed = coroutine.create(print), coroutine.create(erring)
coroutine.resume(dead)
coroutine.resume(failed)
local g1, g2 = string.gmatch("abcabcabc", "(a)(b)"), string.gmatch(string.rep("xy", 40), ".-y")
g1()
local w1 = coroutine.wrap(function(...) while true do yield(...) end end)
w1(1)
local values = {true, false, 0, 1, -1, 3, 1000, 0.5, -0.0, 0 / 0, math.maxinteger,
  math.mininteger, 1e300, "", "x", "_UBOX*", "%s %d", {}, {1, 2, 3},
  setmetatable({}, {__index = erring, __gc = catcher, __close = catcher}),
  setmetatable({}, {__mode = "k"}), setmetatable({}, {__name = "_UBOX*"}),
  setmetatable({}, {__len = function() return 3000 end, __index = function() return "ab" end}),
  catcher, nested, erring, function(...) return ... end, yield,
  vec(1, 2), userdata("u8", 16), userdata("u8", 1), userdata("f64", 3, 3), userdata("i32", 2),
  coroutine.running(), suspended, coroutine.create(print), dead, failed,
  debug.upvalueid(math.random, 1), debug.getregistry(), g1, g2, w1}
local made = {g1, g2, w1, coroutine.wrap(function() return 1 end), coroutine.wrap(erring)}
local list = {}
for i = 1, 300 do list[i] = "abcdefgh" end
string.rep("x", 3000, ",") -- makes the box metatable
debug.sethook(catcher, "", 1000000) -- makes the hook table
debug.sethook()
return values, made, function() local x = 1 x = x + 1 return x end, list
)lua";

// A native function found in a fresh process: the table it sits in ("" for the globals, "@"
// for the string metatable, "#" for the registry) and its key.
struct Path {
  std::string table, key;
  bool operator<(const Path &o) const { return table != o.table ? table < o.table : key < o.key; }
};

std::vector<Path> paths;
std::vector<std::string> regkeys;
std::string values_code; // the values chunk, compiled once

// The input being run.
const uint8_t *in_data;
size_t in_size, in_pos;
int depth;

int byte() { return in_pos < in_size ? in_data[in_pos++] : (in_pos++, 0); }

// The driver's table (upvalue 1 of its functions): these slots.
enum { D_POOL = 1, D_NATIVES, D_CLOSURES, D_REGKEYS, D_LIB, D_LIST, D_CODE, D_NESTED, D_HOOKED };
// Library functions taken before the program can change them, at these slots of D_LIB.
enum {
  F_SETUPVALUE = 1, F_GETUPVALUE, F_SETMETA, F_GETMETA, F_SETUSERVALUE, F_GETUSERVALUE,
  F_SETHOOK, F_GETHOOK, F_TRACEBACK, F_COLLECT, F_LOAD, F_WRAP, F_RESUME, F_REP, F_GSUB,
  F_FORMAT, F_CONCAT, F_N = F_CONCAT
};
const char *const libnames[][2] = {
    {"debug", "setupvalue"}, {"debug", "getupvalue"}, {"debug", "setmetatable"},
    {"debug", "getmetatable"}, {"debug", "setuservalue"}, {"debug", "getuservalue"},
    {"debug", "sethook"}, {"debug", "gethook"}, {"debug", "traceback"},
    {"", "collectgarbage"}, {"", "load"}, {"coroutine", "wrap"}, {"coroutine", "resume"},
    {"string", "rep"}, {"string", "gsub"}, {"string", "format"}, {"table", "concat"}};
const char *const metanames[] = {"__index", "__newindex", "__gc", "__close", "__mode", "__name",
                                 "__len", "__call", "__tostring", "__metatable", "__eq",
                                 "__concat", "__pairs", "__add", "x"};
constexpr int POOL_MAX = 96;

int writer(lua_State *, const void *p, size_t n, void *) {
  values_code.append(static_cast<const char *>(p), n);
  return 0;
}

// The slots of a driver function's frame where it put the driver's tables (frame() below).
struct Frame {
  int pool, natives, closures, regkeys, lib, list, code, nested, hooked;
};

// Pushes the driver's tables from upvalue 1 onto the stack; false when a program broke it (it
// can reach them: debug.getupvalue of a driver function).
bool frame(lua_State *L, Frame *f) {
  if (!lua_checkstack(L, 40) || lua_type(L, lua_upvalueindex(1)) != LUA_TTABLE) return false;
  int base = lua_gettop(L);
  for (int i = D_POOL; i <= D_HOOKED; i++)
    if (lua_rawgeti(L, lua_upvalueindex(1), i) != (i < D_CODE ? LUA_TTABLE : LUA_TFUNCTION))
      return false;
  *f = {base + D_POOL, base + D_NATIVES, base + D_CLOSURES, base + D_REGKEYS, base + D_LIB,
        base + D_LIST, base + D_CODE,    base + D_NESTED,   base + D_HOOKED};
  return true;
}

int count(lua_State *L, int t) { return (int)std::min<lua_Unsigned>(lua_rawlen(L, t), 1 << 20); }

// Pops the top value into the pool (nil is dropped).
void put(lua_State *L, const Frame &f) {
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    return;
  }
  int n = count(L, f.pool);
  lua_rawseti(L, f.pool, n < POOL_MAX ? n + 1 : byte() % n + 1);
}

// Pushes a value of the pool, or now and then nil.
void val(lua_State *L, const Frame &f) {
  int n = count(L, f.pool), b = byte();
  if (n == 0 || b == 255) lua_pushnil(L);
  else lua_rawgeti(L, f.pool, b % n + 1);
}

void num(lua_State *L) {
  static const lua_Integer big[] = {1000, 3000, LUA_MAXINTEGER, LUA_MININTEGER};
  int b = byte() % 12;
  lua_pushinteger(L, b < 8 ? b - 2 : big[b - 8]);
}

// Pushes n operands: mostly pool values, some small numbers.
void args(lua_State *L, const Frame &f, int n) {
  for (int i = 0; i < n; i++) {
    if (byte() % 4 == 0) num(L);
    else val(L, f);
  }
}

void lib(lua_State *L, const Frame &f, int which) { lua_rawgeti(L, f.lib, which); }

// Calls the function below its n arguments, protected, and keeps up to three results.
void call(lua_State *L, const Frame &f, int n) {
  int top = lua_gettop(L) - n - 1;
  if (lua_pcall(L, n, 3, 0) == LUA_OK)
    for (int i = 0; i < 3; i++) put(L, f);
  lua_settop(L, top);
}

bool own(lua_State *L, int idx);
int replace(lua_State *L);

void action(lua_State *L, const Frame &f) {
  int top = lua_gettop(L);
  switch (byte() % 16) {
  case 0:
  case 1: { // an upvalue of a native closure
    lib(L, f, F_SETUPVALUE);
    lua_rawgeti(L, f.closures, byte() % std::max(1, count(L, f.closures)) + 1);
    if (byte() % 4 == 0) {
      val(L, f);
      if (lua_isfunction(L, -1) && !own(L, -1)) lua_replace(L, -2);
      else lua_pop(L, 1);
    }
    lua_pushvalue(L, -1);
    lua_insert(L, top + 1); // kept for the call below
    lua_pushinteger(L, byte() % 3 + 1);
    val(L, f);
    lua_pcall(L, 3, 0, 0);
    if (byte() % 2 == 0) { // and the closure called at once
      int n = byte() % 3;
      args(L, f, n);
      call(L, f, n);
    }
    break;
  }
  case 2:
  case 3: // a registry entry
    lua_rawgeti(L, f.regkeys, byte() % std::max(1, count(L, f.regkeys)) + 1);
    val(L, f);
    lua_rawset(L, LUA_REGISTRYINDEX);
    break;
  case 4:
  case 5: { // a native call
    lua_rawgeti(L, f.natives, byte() % std::max(1, count(L, f.natives)) + 1);
    int n = byte() % 4;
    args(L, f, n);
    call(L, f, n);
    break;
  }
  case 6: // a field of a table written and one read: registry values and metatables among them
    val(L, f);
    if (lua_istable(L, -1)) {
      constexpr int nnames = sizeof metanames / sizeof *metanames;
      lua_pushstring(L, metanames[byte() % nnames]);
      val(L, f);
      lua_rawset(L, -3);
      lua_pushstring(L, metanames[byte() % nnames]);
      lua_rawget(L, -2);
      put(L, f);
    }
    break;
  case 7: // a metatable set, one read back
    lib(L, f, F_SETMETA);
    val(L, f);
    val(L, f);
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      lua_pushnil(L);
    }
    call(L, f, 2);
    lib(L, f, F_GETMETA);
    val(L, f);
    call(L, f, 1);
    break;
  case 8: // buffers that outgrow their inline area
    switch (byte() % 5) {
    case 0:
      lib(L, f, F_REP);
      lua_pushliteral(L, "x");
      lua_pushinteger(L, 3000);
      lua_pushliteral(L, ",");
      call(L, f, 3);
      break;
    case 1:
      lib(L, f, F_CONCAT);
      lua_pushvalue(L, f.list);
      lua_pushliteral(L, "-");
      call(L, f, 2);
      break;
    case 2: {
      static const std::string y(2000, 'y');
      lib(L, f, F_FORMAT);
      lua_pushliteral(L, "%s|%s");
      lua_pushlstring(L, y.data(), y.size());
      val(L, f);
      call(L, f, 3);
      break;
    }
    case 3: // from the eleventh match on, the callbacks run with a box in use
      lib(L, f, F_GSUB);
      lua_pushliteral(L, "aaaaaaaaaaaaaaaa");
      lua_pushliteral(L, "a");
      lua_pushvalue(L, lua_upvalueindex(1));
      lua_pushcclosure(L, replace, 1);
      call(L, f, 3);
      break;
    default:
      lib(L, f, F_CONCAT);
      val(L, f);
      call(L, f, 1);
      break;
    }
    break;
  case 9: { // a hook that may change registry entries (the hook table among them) as it runs
    static const char *const masks[] = {"l", "c", "r", "", "lcr"};
    lib(L, f, F_SETHOOK);
    lua_pushvalue(L, byte() % 2 == 0 ? f.hooked : f.nested);
    lua_pushstring(L, masks[byte() % 5]);
    lua_pushinteger(L, byte() % 3);
    lua_pcall(L, 3, 0, 0);
    lua_pushvalue(L, f.code); // a few instructions, each of which runs the hook
    lua_pcall(L, 0, 0, 0);
    lib(L, f, F_GETHOOK);
    call(L, f, 0);
    lib(L, f, F_SETHOOK);
    lua_pcall(L, 0, 0, 0);
    break;
  }
  case 10:
    lib(L, f, F_COLLECT);
    lua_pushstring(L, byte() % 2 == 0 ? "collect" : "step");
    call(L, f, 1);
    break;
  case 11: // a value called, a thread resumed
    val(L, f);
    if (lua_type(L, -1) == LUA_TTHREAD) {
      lib(L, f, F_RESUME);
      lua_insert(L, -2);
      args(L, f, 2);
      call(L, f, 3);
    } else {
      int n = byte() % 3;
      args(L, f, n);
      call(L, f, n);
    }
    break;
  case 12: { // what natives keep, read back and written
    lib(L, f, F_GETUPVALUE);
    val(L, f);
    lua_pushinteger(L, byte() % 3 + 1);
    if (lua_pcall(L, 2, 2, 0) == LUA_OK) put(L, f);
    lua_settop(L, top);
    lib(L, f, F_GETUSERVALUE);
    val(L, f);
    lua_pushinteger(L, byte() % 2 + 1);
    call(L, f, 2);
    lib(L, f, F_SETUSERVALUE);
    val(L, f);
    val(L, f);
    lua_pushinteger(L, byte() % 2 + 1);
    call(L, f, 3);
    break;
  }
  case 13: // argument errors and tracebacks walk the loaded-modules table
    lib(L, f, F_REP);
    call(L, f, 0);
    lib(L, f, F_TRACEBACK);
    val(L, f);
    if (lua_type(L, -1) == LUA_TTHREAD) {
      lua_pushliteral(L, "m");
      call(L, f, 2);
    } else {
      lua_pop(L, 1);
      call(L, f, 0);
    }
    break;
  case 14: // chunks take the globals entry
    lib(L, f, F_LOAD);
    lua_pushliteral(L, "local a = ... return x, a");
    if (lua_pcall(L, 1, 1, 0) == LUA_OK && lua_isfunction(L, -1)) {
      val(L, f);
      call(L, f, 1);
    }
    break;
  default: // a coroutine whose body runs actions
    lib(L, f, F_WRAP);
    lua_pushvalue(L, f.nested);
    if (lua_pcall(L, 1, 1, 0) == LUA_OK) {
      val(L, f);
      call(L, f, 1);
    }
    break;
  }
  lua_settop(L, top);
}

// Callback for natives (coroutine body, hook, finalizer, __close, __index...): its first
// argument goes to the pool (a box a changed __close is given, an object being finalized), a
// few more actions run, and it returns its arguments.
int nested(lua_State *L) {
  int n = lua_gettop(L);
  Frame f;
  if (depth < 3 && frame(L, &f)) {
    depth++;
    lua_pushvalue(L, 1);
    put(L, f);
    for (int k = byte() % 3; k > 0; k--) action(L, f);
    depth--;
  }
  lua_settop(L, n);
  return n;
}

// gsub's replacement: nested, then a string long enough to move the buffer into its box.
int replace(lua_State *L) {
  nested(L);
  static const std::string z(100, 'z');
  lua_pushlstring(L, z.data(), z.size());
  return 1;
}

// A hook that now and then changes a registry entry, the hook table among them.
int hooked(lua_State *L) {
  Frame f;
  if (frame(L, &f) && byte() % 4 == 0) {
    lua_rawgeti(L, f.regkeys, byte() % std::max(1, count(L, f.regkeys)) + 1);
    val(L, f);
    lua_rawset(L, LUA_REGISTRYINDEX);
  }
  return 0;
}

bool own(lua_State *L, int idx) {
  lua_CFunction c = lua_tocfunction(L, idx);
  return c == nested || c == hooked || c == replace;
}

// Adds the closures among the natives, their upvalues and the registry's values, then runs one
// action after another while the input lasts.
int run(lua_State *L) {
  Frame f;
  if (!frame(L, &f)) return 0;
  for (int i = 1, n = count(L, f.natives), k = 0; i <= n; i++) {
    lua_rawgeti(L, f.natives, i);
    if (lua_getupvalue(L, -1, 1) != nullptr) {
      lua_pop(L, 1);
      for (int u = 1; u <= 3 && lua_getupvalue(L, -1, u) != nullptr; u++) put(L, f);
      lua_rawseti(L, f.closures, ++k);
    } else {
      lua_pop(L, 1);
    }
  }
  for (int i = 1, n = count(L, f.regkeys); i <= n; i++) {
    lua_rawgeti(L, f.regkeys, i);
    lua_rawget(L, LUA_REGISTRYINDEX);
    put(L, f);
  }
  static const std::string x(2000, 'x');
  lua_pushlstring(L, x.data(), x.size());
  put(L, f);
  while (in_pos < in_size) action(L, f);
  return 0;
}

// The whole run: the driver's table, the values, the actions, a full collection.
int drive(lua_State *L) {
  lua_createtable(L, D_HOOKED, 0);
  int d = lua_gettop(L);
  // library functions, taken before the program can change them
  lua_createtable(L, F_N, 0);
  for (int i = 0; i < F_N; i++) {
    if (libnames[i][0][0]) {
      lua_getglobal(L, libnames[i][0]);
      lua_getfield(L, -1, libnames[i][1]);
      lua_remove(L, -2);
    } else {
      lua_getglobal(L, libnames[i][1]);
    }
    lua_rawseti(L, -2, i + 1);
  }
  lua_rawseti(L, d, D_LIB);
  // natives, in the order of their names
  lua_createtable(L, (int)paths.size() + 5, 0);
  int natives = lua_gettop(L), n = 0;
  for (const Path &path : paths) {
    if (path.table.empty())
      lua_pushglobaltable(L);
    else if (path.table == "@")
      lua_pushliteral(L, ""), lua_getmetatable(L, -1), lua_remove(L, -2);
    else if (path.table == "#")
      lua_pushvalue(L, LUA_REGISTRYINDEX);
    else
      lua_getglobal(L, path.table.c_str());
    lua_getfield(L, -1, path.key.c_str());
    lua_rawseti(L, natives, ++n);
    lua_pop(L, 1);
  }
  lua_createtable(L, (int)regkeys.size() + 3, 0);
  int k = 0;
  for (int i = 0; i <= 2; i++) lua_pushinteger(L, i), lua_rawseti(L, -2, ++k);
  for (const std::string &key : regkeys) lua_pushstring(L, key.c_str()), lua_rawseti(L, -2, ++k);
  lua_rawseti(L, d, D_REGKEYS);
  lua_newtable(L);
  lua_rawseti(L, d, D_CLOSURES);
  lua_pushvalue(L, d);
  lua_pushcclosure(L, nested, 1);
  lua_rawseti(L, d, D_NESTED);
  lua_pushvalue(L, d);
  lua_pushcclosure(L, hooked, 1);
  lua_rawseti(L, d, D_HOOKED);
  // the values, and the closures natives make
  if (luaL_loadbufferx(L, values_code.data(), values_code.size(), "=values", "b") != LUA_OK)
    abort();
  lua_rawgeti(L, d, D_NESTED); // as catcher
  lua_rawgeti(L, d, D_NESTED);
  lua_rawgeti(L, d, D_HOOKED);
  lua_call(L, 3, 4); // values, made, code, list
  lua_rawseti(L, d, D_LIST);
  lua_rawseti(L, d, D_CODE);
  for (int i = 1; i <= 5; i++) lua_rawgeti(L, -1, i), lua_rawseti(L, natives, ++n);
  lua_pop(L, 1);
  lua_rawseti(L, d, D_POOL);
  lua_rawseti(L, d, D_NATIVES);
  lua_pushvalue(L, d);
  lua_pushcclosure(L, run, 1);
  lua_pcall(L, 0, 0, 0); // a driver broken by the program ends here
  lua_rawgeti(L, d, D_LIB);
  lua_rawgeti(L, -1, F_SETHOOK);
  lua_pcall(L, 0, 0, 0);
  lua_gc(L, LUA_GCCOLLECT);
  return 0;
}

void collect_natives(lua_State *L, int t, const std::string &table, bool deep) {
  lua_pushnil(L);
  while (lua_next(L, t)) {
    if (lua_type(L, -2) == LUA_TSTRING) {
      std::string key = lua_tostring(L, -2);
      // Standard output and input are the harness's; hooks are set by an action of their own,
      // which switches them off again (one left on would run at every call of the driver).
      if (lua_iscfunction(L, -1) && key != "print" &&
          !(table == "debug" && (key == "debug" || key == "sethook")))
        paths.push_back({table, key});
      else if (deep && lua_istable(L, -1) && key != "_G")
        collect_natives(L, lua_gettop(L), key, false);
    }
    lua_pop(L, 1);
  }
}

// Walks a fresh process once: the names, sorted (the order of a traversal changes with the
// string hash seed, and an input must replay the same actions); compiles the values chunk.
void setup() {
  Process *p = &processes[0];
  if (init_process(p, 1, values_chunk, "fuzz", "fuzz") != 0) abort();
  cproc = p;
  lua_State *L = p->L;
  lua_dump(L, writer, nullptr, 0);
  lua_pushglobaltable(L);
  collect_natives(L, lua_gettop(L), "", true);
  lua_pushliteral(L, "");
  lua_getmetatable(L, -1);
  collect_natives(L, lua_gettop(L), "@", false);
  collect_natives(L, LUA_REGISTRYINDEX, "#", false);
  lua_pushnil(L);
  while (lua_next(L, LUA_REGISTRYINDEX)) {
    if (lua_type(L, -2) == LUA_TSTRING) regkeys.push_back(lua_tostring(L, -2));
    lua_pop(L, 1);
  }
  for (const char *k : {"_UBOX*", "_HOOKKEY", "_PRELOAD", "_CLIBS", "USERDATA", "FILE*"})
    regkeys.push_back(k);
  std::sort(paths.begin(), paths.end());
  std::sort(regkeys.begin(), regkeys.end());
  regkeys.erase(std::unique(regkeys.begin(), regkeys.end()), regkeys.end());
  cproc = nullptr;
  free_process(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1024) return -1; // longer inputs add little but time
  if (values_code.empty()) setup();
  Process *p = &processes[0];
  if (init_process(p, 1, "", "fuzz", "fuzz") != 0) return 1;
  cproc = p;
  lua_State *L = p->L;
  lua_settop(L, 0);
  lua_pushcfunction(L, drive);
  in_data = data;
  in_size = size;
  in_pos = 0;
  depth = 0;
  cproc = nullptr;
  // One slice: the budget, the native work meter and the memory limit as for any process.
  frame_cycles_left = 1000000;
  int status = LUA_OK;
  run_process_slice(p, 1e9, &status);
  // FUZZ_TAMPER_TRACE=1 shows how each run ended.
  static const bool trace = getenv("FUZZ_TAMPER_TRACE") != nullptr;
  if (trace) fprintf(stderr, "status %d\n", status);
  free_process(p);
  return 0;
}
