// Base library (the global functions every process has, with the dialect's tonum), the chunk
// loader behind the kernel's load, and the opening of the standard library set.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"

static int luaB_print(lua_State *L) {
  int n = lua_gettop(L);
  for (int i = 1; i <= n; i++) {
    size_t l;
    const char *s = luaL_tolstring(L, i, &l);
    if (i > 1) std::fwrite("\t", 1, 1, stdout);
    std::fwrite(s, 1, l, stdout);
    native_work_add((int64_t)l * WORK_BYTE_WRITTEN);
    lua_pop(L, 1);
  }
  std::fwrite("\n", 1, 1, stdout);
  std::fflush(stdout);
  return 0;
}

static int luaB_warn(lua_State *L) {
  int n = lua_gettop(L);
  luaL_checkstring(L, 1); // at least one piece
  for (int i = 2; i <= n; i++) luaL_checkstring(L, i);
  for (int i = 1; i < n; i++) lua_warning(L, lua_tostring(L, i), 1);
  lua_warning(L, lua_tostring(L, n), 0);
  return 0;
}

#define SPACECHARS " \f\n\r\t\v"

// Reads an integer numeral in the given base; returns the end of what it read, or NULL.
static const char *b_str2int(const char *s, int base, lua_Integer *pn) {
  lua_Unsigned n = 0;
  int neg = 0;
  s += std::strspn(s, SPACECHARS);
  if (*s == '-') {
    s++;
    neg = 1;
  } else if (*s == '+') {
    s++;
  }
  if (!std::isalnum((unsigned char)*s)) return nullptr;
  do {
    int digit = std::isdigit((unsigned char)*s) ? *s - '0'
                                                : (std::toupper((unsigned char)*s) - 'A') + 10;
    if (digit >= base) return nullptr;
    n = n * (lua_Unsigned)base + (lua_Unsigned)digit;
    s++;
  } while (std::isalnum((unsigned char)*s));
  s += std::strspn(s, SPACECHARS);
  *pn = (lua_Integer)(neg ? (0u - n) : n);
  return s;
}

static int luaB_tonumber(lua_State *L) {
  if (lua_isnoneornil(L, 2)) {
    if (lua_type(L, 1) == LUA_TNUMBER) {
      lua_settop(L, 1);
      return 1;
    }
    size_t l;
    const char *s = lua_tolstring(L, 1, &l);
    if (s != nullptr && lua_stringtonumber(L, s) == l + 1) return 1;
    luaL_checkany(L, 1);
  } else {
    size_t l;
    lua_Integer n = 0;
    lua_Integer base = luaL_checkinteger(L, 2);
    luaL_checktype(L, 1, LUA_TSTRING); // numbers are refused with a base
    const char *s = lua_tolstring(L, 1, &l);
    luaL_argcheck(L, 2 <= base && base <= 36, 2, "base out of range");
    if (l > 64) native_work_add((int64_t)l * WORK_BYTE_SCANNED); // blanks have no bound
    if (b_str2int(s, (int)base, &n) == s + l) {
      lua_pushinteger(L, n);
      return 1;
    }
  }
  luaL_pushfail(L);
  return 1;
}

// tonum: like tonumber without a base, but never raises, takes booleans, and returns no value
// at all for what does not convert.
static int luaB_tonumber_hvx(lua_State *L) {
  switch (lua_type(L, 1)) {
  case LUA_TNUMBER:
    lua_settop(L, 1);
    return 1;
  case LUA_TBOOLEAN:
    lua_pushinteger(L, lua_toboolean(L, 1) ? 1 : 0);
    return 1;
  case LUA_TSTRING: {
    size_t l;
    const char *s = lua_tolstring(L, 1, &l);
    // a zero byte inside the string stops the conversion short of its length
    if (lua_stringtonumber(L, s) == l + 1) return 1;
    return 0;
  }
  default:
    return 0;
  }
}

static int luaB_error(lua_State *L) {
  lua_Integer level = luaL_optinteger(L, 2, 1);
  lua_settop(L, 1);
  if (lua_type(L, 1) == LUA_TSTRING && level > 0) {
    // a level beyond the int range lies beyond the stack too
    luaL_where(L, level > INT_MAX ? INT_MAX : (int)level);
    lua_pushvalue(L, 1);
    lua_concat(L, 2);
  }
  return lua_error(L);
}

static int luaB_getmetatable(lua_State *L) {
  luaL_checkany(L, 1);
  if (!lua_getmetatable(L, 1)) {
    lua_pushnil(L);
    return 1;
  }
  luaL_getmetafield(L, 1, "__metatable");
  return 1; // the __metatable field when present, else the metatable
}

static int luaB_setmetatable(lua_State *L) {
  int t = lua_type(L, 2);
  luaL_checktype(L, 1, LUA_TTABLE);
  luaL_argexpected(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table");
  if (luaL_getmetafield(L, 1, "__metatable") != LUA_TNIL)
    return luaL_error(L, "cannot change a protected metatable");
  lua_settop(L, 2);
  lua_setmetatable(L, 1);
  return 1;
}

static int luaB_rawequal(lua_State *L) {
  luaL_checkany(L, 1);
  luaL_checkany(L, 2);
  lua_pushboolean(L, lua_rawequal(L, 1, 2));
  return 1;
}

static int luaB_rawlen(lua_State *L) {
  int t = lua_type(L, 1);
  luaL_argexpected(L, t == LUA_TTABLE || t == LUA_TSTRING, 1, "table or string");
  lua_pushinteger(L, (lua_Integer)lua_rawlen(L, 1));
  return 1;
}

static int luaB_rawget(lua_State *L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  luaL_checkany(L, 2);
  lua_settop(L, 2);
  lua_rawget(L, 1);
  return 1;
}

static int luaB_rawset(lua_State *L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  luaL_checkany(L, 2);
  luaL_checkany(L, 3);
  lua_settop(L, 3);
  lua_rawset(L, 1);
  return 1;
}

static int pushmode(lua_State *L, int oldmode) {
  lua_pushstring(L, (oldmode == LUA_GCINC) ? "incremental" : "generational");
  return 1;
}

static int luaB_collectgarbage(lua_State *L) {
  static const char *const opts[] = {"stop",       "restart",   "collect",      "count",
                                     "step",       "setpause",  "setstepmul",   "isrunning",
                                     "generational", "incremental", nullptr};
  static const int optsnum[] = {LUA_GCSTOP,     LUA_GCRESTART,    LUA_GCCOLLECT,
                                LUA_GCCOUNT,    LUA_GCSTEP,       LUA_GCSETPAUSE,
                                LUA_GCSETSTEPMUL, LUA_GCISRUNNING, LUA_GCGEN,
                                LUA_GCINC};
  int o = optsnum[luaL_checkoption(L, 1, "collect", opts)];
  switch (o) {
  case LUA_GCCOUNT: {
    int k = lua_gc(L, o);
    int b = lua_gc(L, LUA_GCCOUNTB);
    lua_pushnumber(L, (lua_Number)k + (lua_Number)b * 0.0009765625);
    return 1;
  }
  case LUA_GCSTEP: {
    int step = (int)luaL_optinteger(L, 2, 0);
    lua_pushboolean(L, lua_gc(L, o, step));
    return 1;
  }
  case LUA_GCSETPAUSE:
  case LUA_GCSETSTEPMUL: {
    int p = (int)luaL_optinteger(L, 2, 0);
    lua_pushinteger(L, lua_gc(L, o, p));
    return 1;
  }
  case LUA_GCISRUNNING:
    lua_pushboolean(L, lua_gc(L, o));
    return 1;
  case LUA_GCGEN: {
    int minormul = (int)luaL_optinteger(L, 2, 0);
    int majormul = (int)luaL_optinteger(L, 3, 0);
    return pushmode(L, lua_gc(L, o, minormul, majormul));
  }
  case LUA_GCINC: {
    int pause = (int)luaL_optinteger(L, 2, 0);
    int stepmul = (int)luaL_optinteger(L, 3, 0);
    int stepsize = (int)luaL_optinteger(L, 4, 0);
    return pushmode(L, lua_gc(L, o, pause, stepmul, stepsize));
  }
  default:
    lua_pushinteger(L, lua_gc(L, o));
    return 1;
  }
}

static int luaB_type(lua_State *L) {
  int t = lua_type(L, 1);
  luaL_argcheck(L, t != LUA_TNONE, 1, "value expected");
  lua_pushstring(L, lua_typename(L, t));
  return 1;
}

static int luaB_next(lua_State *L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  lua_settop(L, 2); // a missing key is nil
  if (lua_next(L, 1)) return 2;
  lua_pushnil(L);
  return 1;
}

static int luaB_pairs(lua_State *L) {
  luaL_checkany(L, 1);
  if (luaL_getmetafield(L, 1, "__pairs") == LUA_TNIL) {
    lua_pushcfunction(L, luaB_next);
    lua_pushvalue(L, 1);
    lua_pushnil(L);
  } else {
    lua_pushvalue(L, 1);
    lua_call(L, 1, 3);
  }
  return 3;
}

static int ipairsaux(lua_State *L) {
  lua_Integer i = luaL_checkinteger(L, 2);
  i = luaL_intop(+, i, 1);
  lua_pushinteger(L, i);
  return (lua_geti(L, 1, i) == LUA_TNIL) ? 1 : 2;
}

static int luaB_ipairs(lua_State *L) {
  luaL_checkany(L, 1);
  lua_pushcfunction(L, ipairsaux);
  lua_pushvalue(L, 1);
  lua_pushinteger(L, 0);
  return 3;
}

// ---------------------------------------------------------------------------------------------
// load

static int load_aux(lua_State *L, int status, int envidx) {
  if (status == LUA_OK) {
    if (envidx != 0) {
      lua_pushvalue(L, envidx);
      if (!lua_setupvalue(L, -2, 1)) // no upvalue: drop the environment
        lua_pop(L, 1);
    }
    return 1;
  }
  luaL_pushfail(L);
  lua_insert(L, -2);
  return 2;
}

// Slot that keeps the reader's current piece alive while the parser reads it.
#define RESERVEDSLOT 5

static const char *generic_reader(lua_State *L, void *ud, size_t *size) {
  (void)ud;
  luaL_checkstack(L, 2, "too many nested functions");
  lua_pushvalue(L, 1);
  lua_call(L, 0, 1);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    *size = 0;
    return nullptr;
  }
  if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
  lua_replace(L, RESERVEDSLOT);
  const char *piece = lua_tolstring(L, RESERVEDSLOT, size);
  // The lexer's pass over the piece is native work: a reader can hand over the same long
  // string of blanks again and again. load cannot yield, so like Lua code that cannot, the
  // reading stops at the ceiling (a native reader runs no instruction that would check it).
  native_work_add(static_cast<int64_t>(*size) * WORK_BYTE_SCANNED);
  if ((int64_t)cpu_cycles - (int64_t)cpu_cycles_max + native_work_cycles() > NONYIELD_CEILING)
    luaL_error(L, "cycle budget exceeded in non-yieldable code");
  return piece;
}

int luaB_load(lua_State *L) {
  int status;
  size_t l;
  const char *s = lua_tolstring(L, 1, &l);
  int env = !lua_isnone(L, 4) ? 4 : 0; // a fourth argument sets _ENV even when nil
  if (s != nullptr) {
    const char *chunkname = luaL_optstring(L, 2, s);
    const char *mode = luaL_optstring(L, 3, "bt");
    native_work_add(static_cast<int64_t>(l) * WORK_BYTE_SCANNED); // the lexer's pass over it
    status = luaL_loadbufferx(L, s, l, chunkname, mode);
  } else {
    luaL_checktype(L, 1, LUA_TFUNCTION);
    const char *chunkname = luaL_optstring(L, 2, "=(load)");
    const char *mode = luaL_optstring(L, 3, "bt");
    lua_settop(L, RESERVEDSLOT);
    status = lua_load(L, generic_reader, nullptr, chunkname, mode);
  }
  return load_aux(L, status, env);
}

// ---------------------------------------------------------------------------------------------

static int luaB_assert(lua_State *L) {
  if (lua_toboolean(L, 1)) return lua_gettop(L);
  luaL_checkany(L, 1);
  lua_remove(L, 1);
  lua_pushliteral(L, "assertion failed!");
  lua_settop(L, 1); // the given message, else the default
  return luaB_error(L);
}

static int luaB_select(lua_State *L) {
  int n = lua_gettop(L);
  if (lua_type(L, 1) == LUA_TSTRING && *lua_tostring(L, 1) == '#') {
    lua_pushinteger(L, n - 1);
    return 1;
  }
  lua_Integer i = luaL_checkinteger(L, 1);
  if (i < 0)
    i = n + i;
  else if (i > n)
    i = n;
  luaL_argcheck(L, 1 <= i, 1, "index out of range");
  return n - (int)i;
}

// Continuation of pcall, also run directly when nothing yielded.
static int finishpcall(lua_State *L, int status, lua_KContext extra) {
  if (status != LUA_OK && status != LUA_YIELD) {
    lua_pushboolean(L, 0);
    lua_pushvalue(L, -2);
    return 2;
  }
  return lua_gettop(L) - (int)extra;
}

static int luaB_pcall(lua_State *L) {
  luaL_checkany(L, 1);
  lua_pushboolean(L, 1);
  lua_insert(L, 1);
  int status = lua_pcallk(L, lua_gettop(L) - 2, LUA_MULTRET, 0, 0, finishpcall);
  return finishpcall(L, status, 0);
}

static int luaB_tostring(lua_State *L) {
  luaL_checkany(L, 1);
  luaL_tolstring(L, 1, nullptr);
  return 1;
}

static const luaL_Reg base_funcs[] = {{"assert", luaB_assert},
                                      {"collectgarbage", luaB_collectgarbage},
                                      {"error", luaB_error},
                                      {"getmetatable", luaB_getmetatable},
                                      {"ipairs", luaB_ipairs},
                                      {"next", luaB_next},
                                      {"pairs", luaB_pairs},
                                      {"pcall", luaB_pcall},
                                      {"print", luaB_print},
                                      {"warn", luaB_warn},
                                      {"rawequal", luaB_rawequal},
                                      {"rawlen", luaB_rawlen},
                                      {"rawget", luaB_rawget},
                                      {"rawset", luaB_rawset},
                                      {"select", luaB_select},
                                      {"setmetatable", luaB_setmetatable},
                                      {"tonumber", luaB_tonumber},
                                      {"tonum", luaB_tonumber_hvx},
                                      {"tostring", luaB_tostring},
                                      {"type", luaB_type},
                                      // filled by luaopen_base
                                      {LUA_GNAME, nullptr},
                                      {"_VERSION", nullptr},
                                      {nullptr, nullptr}};

int luaopen_base(lua_State *L) {
  lua_pushglobaltable(L);
  luaL_setfuncs(L, base_funcs, 0);
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, LUA_GNAME);
  lua_pushliteral(L, LUA_VERSION);
  lua_setfield(L, -2, "_VERSION");
  return 1;
}

static const luaL_Reg loadedlibs[] = {{LUA_GNAME, luaopen_base},
                                      {LUA_COLIBNAME, luaopen_coroutine},
                                      {LUA_TABLIBNAME, luaopen_table},
                                      {LUA_STRLIBNAME, luaopen_string},
                                      {LUA_MATHLIBNAME, luaopen_math},
                                      {LUA_UTF8LIBNAME, luaopen_utf8},
                                      {LUA_DBLIBNAME, luaopen_debug},
                                      {nullptr, nullptr}};

void luaL_openlibs(lua_State *L) {
  for (const luaL_Reg *lib = loadedlibs; lib->func; lib++) {
    luaL_requiref(L, lib->name, lib->func, 1);
    lua_pop(L, 1);
  }
}
