// Debug library: the debug interface exposed to Lua code.
#include <climits>
#include <cstdio>
#include <cstring>

#include "lua/auxlib.h"
#include "lua/libs.h"

// Registry key of the table mapping each thread to its Lua hook function.
static const char *const HOOKKEY = "_HOOKKEY";

// Values moved to another thread's stack need room there.
static void checkstack(lua_State *L, lua_State *L1, int n) {
  if (L != L1 && !lua_checkstack(L1, n)) luaL_error(L, "stack overflow");
}

// Levels and indices arrive as 64-bit integers; out-of-range ones must still miss.
static int checkint(lua_State *L, int arg) {
  lua_Integer v = luaL_checkinteger(L, arg);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return (int)v;
}

static int optint(lua_State *L, int arg, int def) {
  return lua_isnoneornil(L, arg) ? def : checkint(L, arg);
}

static int db_getregistry(lua_State *L) {
  lua_pushvalue(L, LUA_REGISTRYINDEX);
  return 1;
}

static int db_getmetatable(lua_State *L) {
  luaL_checkany(L, 1);
  if (!lua_getmetatable(L, 1)) lua_pushnil(L);
  return 1;
}

// The buffer boxes of the native functions hold raw memory: a program must neither reach one
// nor dress another value up as one.
static bool isbox(lua_State *L, int idx) { return luaL_isbufferbox(L, idx); }

static int db_setmetatable(lua_State *L) {
  int t = lua_type(L, 2);
  luaL_argexpected(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table");
  lua_settop(L, 2);
  bool boxmt = false;
  if (t == LUA_TTABLE) {
    luaL_getmetatable(L, "_UBOX*");
    boxmt = lua_rawequal(L, -1, 2);
    lua_pop(L, 1);
  }
  if (!boxmt && !isbox(L, 1)) lua_setmetatable(L, 1);
  else lua_settop(L, 1);
  return 1;
}

static int db_getuservalue(lua_State *L) {
  int n = optint(L, 2, 1);
  if (lua_type(L, 1) != LUA_TUSERDATA) {
    luaL_pushfail(L);
  } else if (lua_getiuservalue(L, 1, n) != LUA_TNONE) {
    lua_pushboolean(L, 1);
    return 2;
  }
  return 1;
}

static int db_setuservalue(lua_State *L) {
  int n = optint(L, 3, 1);
  luaL_checktype(L, 1, LUA_TUSERDATA);
  luaL_checkany(L, 2);
  lua_settop(L, 2);
  if (!lua_setiuservalue(L, 1, n)) luaL_pushfail(L);
  return 1;
}

// An optional thread as first argument; *arg is 1 when present (other arguments shift).
static lua_State *getthread(lua_State *L, int *arg) {
  if (lua_isthread(L, 1)) {
    *arg = 1;
    return lua_tothread(L, 1);
  }
  *arg = 0;
  return L;
}

static void settabss(lua_State *L, const char *k, const char *v) {
  lua_pushstring(L, v);
  lua_setfield(L, -2, k);
}

static void settabsi(lua_State *L, const char *k, int v) {
  lua_pushinteger(L, v);
  lua_setfield(L, -2, k);
}

static void settabsb(lua_State *L, const char *k, int v) {
  lua_pushboolean(L, v);
  lua_setfield(L, -2, k);
}

// Moves a value that lua_getinfo pushed on L1 into the result table on L.
static void treatstackoption(lua_State *L, lua_State *L1, const char *fname) {
  if (L == L1)
    lua_rotate(L, -2, 1);
  else
    lua_xmove(L1, L, 1);
  lua_setfield(L, -2, fname);
}

static int db_getinfo(lua_State *L) {
  lua_Debug ar;
  int arg;
  lua_State *L1 = getthread(L, &arg);
  const char *options = luaL_optstring(L, arg + 2, "flnSrtu");
  checkstack(L, L1, 3);
  // '>' is ours to add for a function; from the caller it is just an unknown option.
  luaL_argcheck(L, options[0] != '>', arg + 2, "invalid option");
  if (lua_isfunction(L, arg + 1)) {
    options = lua_pushfstring(L, ">%s", options);
    lua_pushvalue(L, arg + 1);
    lua_xmove(L, L1, 1);
  } else {
    if (!lua_getstack(L1, checkint(L, arg + 1), &ar)) {
      luaL_pushfail(L); // level out of range
      return 1;
    }
  }
  if (!lua_getinfo(L1, options, &ar)) return luaL_argerror(L, arg + 2, "invalid option");
  lua_newtable(L);
  if (std::strchr(options, 'S')) {
    lua_pushlstring(L, ar.source, ar.srclen);
    lua_setfield(L, -2, "source");
    settabss(L, "short_src", ar.short_src);
    settabsi(L, "linedefined", ar.linedefined);
    settabsi(L, "lastlinedefined", ar.lastlinedefined);
    settabss(L, "what", ar.what);
  }
  if (std::strchr(options, 'l')) settabsi(L, "currentline", ar.currentline);
  if (std::strchr(options, 'u')) {
    settabsi(L, "nups", ar.nups);
    settabsi(L, "nparams", ar.nparams);
    settabsb(L, "isvararg", ar.isvararg);
  }
  if (std::strchr(options, 'n')) {
    settabss(L, "name", ar.name);
    settabss(L, "namewhat", ar.namewhat);
  }
  if (std::strchr(options, 'r')) {
    settabsi(L, "ftransfer", ar.ftransfer);
    settabsi(L, "ntransfer", ar.ntransfer);
  }
  if (std::strchr(options, 't')) settabsb(L, "istailcall", ar.istailcall);
  // lua_getinfo pushed the function before the line table
  if (std::strchr(options, 'L')) treatstackoption(L, L1, "activelines");
  if (std::strchr(options, 'f')) treatstackoption(L, L1, "func");
  return 1;
}

static int db_getlocal(lua_State *L) {
  int arg;
  lua_State *L1 = getthread(L, &arg);
  int nvar = checkint(L, arg + 2);
  if (lua_isfunction(L, arg + 1)) { // a parameter name of a function
    lua_pushvalue(L, arg + 1);
    lua_pushstring(L, lua_getlocal(L, nullptr, nvar));
    return 1;
  }
  lua_Debug ar;
  int level = checkint(L, arg + 1);
  if (!lua_getstack(L1, level, &ar)) return luaL_argerror(L, arg + 1, "level out of range");
  checkstack(L, L1, 1);
  const char *name = lua_getlocal(L1, &ar, nvar);
  if (name) {
    lua_xmove(L1, L, 1);
    if (isbox(L, -1)) { // a native function's buffer: not the program's to hold
      lua_pop(L, 1);
      lua_pushnil(L);
    }
    lua_pushstring(L, name);
    lua_rotate(L, -2, 1);
    return 2;
  }
  luaL_pushfail(L);
  return 1;
}

static int db_setlocal(lua_State *L) {
  int arg;
  lua_State *L1 = getthread(L, &arg);
  lua_Debug ar;
  int level = checkint(L, arg + 1);
  int nvar = checkint(L, arg + 2);
  if (!lua_getstack(L1, level, &ar)) return luaL_argerror(L, arg + 1, "level out of range");
  luaL_checkany(L, arg + 3);
  lua_settop(L, arg + 3);
  // A native function trusts its own stack slots (buffers, tables it is filling): they are
  // read, never written, from outside.
  if (lua_getinfo(L1, "S", &ar) && ar.what[0] == 'C') {
    luaL_pushfail(L);
    return 1;
  }
  checkstack(L, L1, 1);
  lua_xmove(L, L1, 1);
  const char *name = lua_setlocal(L1, &ar, nvar);
  if (name == nullptr) lua_pop(L1, 1); // not consumed
  lua_pushstring(L, name);
  return 1;
}

static int auxupvalue(lua_State *L, int get) {
  int n = checkint(L, 2);
  luaL_checktype(L, 1, LUA_TFUNCTION);
  const char *name = get ? lua_getupvalue(L, 1, n) : lua_setupvalue(L, 1, n);
  if (name == nullptr) return 0;
  lua_pushstring(L, name);
  lua_insert(L, -(get + 1)); // name before the value
  return get + 1;
}

static int db_getupvalue(lua_State *L) { return auxupvalue(L, 1); }

static int db_setupvalue(lua_State *L) {
  luaL_checkany(L, 3);
  return auxupvalue(L, 0);
}

static void *checkupval(lua_State *L, int argf, int argnup, int *pnup) {
  int nup = checkint(L, argnup);
  luaL_checktype(L, argf, LUA_TFUNCTION);
  void *id = lua_upvalueid(L, argf, nup);
  if (pnup) {
    luaL_argcheck(L, id != nullptr, argnup, "invalid upvalue index");
    *pnup = nup;
  }
  return id;
}

static int db_upvalueid(lua_State *L) {
  void *id = checkupval(L, 1, 2, nullptr);
  if (id != nullptr)
    lua_pushlightuserdata(L, id);
  else
    luaL_pushfail(L);
  return 1;
}

static int db_upvaluejoin(lua_State *L) {
  int n1, n2;
  checkupval(L, 1, 2, &n1);
  checkupval(L, 3, 4, &n2);
  luaL_argcheck(L, !lua_iscfunction(L, 1), 1, "Lua function expected");
  luaL_argcheck(L, !lua_iscfunction(L, 3), 3, "Lua function expected");
  lua_upvaluejoin(L, 1, n1, 3, n2);
  return 0;
}

// The hook installed in the debug interface: calls the thread's Lua hook function.
static void hookf(lua_State *L, lua_Debug *ar) {
  static const char *const hooknames[] = {"call", "return", "line", "count", "tail call"};
  // The hook table sits in the registry, where a program may have put anything instead.
  if (lua_getfield(L, LUA_REGISTRYINDEX, HOOKKEY) != LUA_TTABLE) return;
  lua_pushthread(L);
  if (lua_rawget(L, -2) == LUA_TFUNCTION) {
    lua_pushstring(L, hooknames[ar->event]);
    if (ar->currentline >= 0)
      lua_pushinteger(L, ar->currentline);
    else
      lua_pushnil(L);
    lua_call(L, 2, 0);
  }
}

static int makemask(const char *smask, int count) {
  int mask = 0;
  if (std::strchr(smask, 'c')) mask |= LUA_MASKCALL;
  if (std::strchr(smask, 'r')) mask |= LUA_MASKRET;
  if (std::strchr(smask, 'l')) mask |= LUA_MASKLINE;
  if (count > 0) mask |= LUA_MASKCOUNT;
  return mask;
}

static char *unmakemask(int mask, char *smask) {
  int i = 0;
  if (mask & LUA_MASKCALL) smask[i++] = 'c';
  if (mask & LUA_MASKRET) smask[i++] = 'r';
  if (mask & LUA_MASKLINE) smask[i++] = 'l';
  smask[i] = '\0';
  return smask;
}

static int db_sethook(lua_State *L) {
  int arg, mask, count;
  lua_Hook func;
  lua_State *L1 = getthread(L, &arg);
  if (lua_isnoneornil(L, arg + 1)) { // switch the hook off
    lua_settop(L, arg + 1);
    func = nullptr;
    mask = 0;
    count = 0;
  } else {
    const char *smask = luaL_checkstring(L, arg + 2);
    luaL_checktype(L, arg + 1, LUA_TFUNCTION);
    count = optint(L, arg + 3, 0);
    func = hookf;
    mask = makemask(smask, count);
  }
  if (!luaL_getsubtable(L, LUA_REGISTRYINDEX, HOOKKEY)) {
    // new hook table: weak keys, so that dead threads go away
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_pushvalue(L, -1);
    lua_setmetatable(L, -2);
  }
  checkstack(L, L1, 1);
  lua_pushthread(L1);
  lua_xmove(L1, L, 1);
  lua_pushvalue(L, arg + 1);
  lua_rawset(L, -3);
  lua_sethook(L1, func, mask, count);
  return 0;
}

static int db_gethook(lua_State *L) {
  int arg;
  lua_State *L1 = getthread(L, &arg);
  char buff[5];
  int mask = lua_gethookmask(L1);
  lua_Hook hook = lua_gethook(L1);
  if (hook == nullptr) {
    luaL_pushfail(L);
    return 1;
  }
  if (hook != hookf) {
    lua_pushliteral(L, "external hook");
  } else if (lua_getfield(L, LUA_REGISTRYINDEX, HOOKKEY) != LUA_TTABLE) {
    lua_pop(L, 1); // a program replaced the hook table: no function is known
    lua_pushnil(L);
  } else {
    checkstack(L, L1, 1);
    lua_pushthread(L1);
    lua_xmove(L1, L, 1);
    lua_rawget(L, -2);
    lua_remove(L, -2);
  }
  lua_pushstring(L, unmakemask(mask, buff));
  lua_pushinteger(L, lua_gethookcount(L1));
  return 3;
}

static int db_debug(lua_State *L) {
  for (;;) {
    char buffer[250];
    std::fputs("lua_debug> ", stderr);
    std::fflush(stderr);
    if (std::fgets(buffer, sizeof(buffer), stdin) == nullptr || std::strcmp(buffer, "cont\n") == 0)
      return 0;
    if (luaL_loadbuffer(L, buffer, std::strlen(buffer), "=(debug command)") ||
        lua_pcall(L, 0, 0, 0)) {
      std::fprintf(stderr, "%s\n", luaL_tolstring(L, -1, nullptr));
      std::fflush(stderr);
    }
    lua_settop(L, 0);
  }
}

static int db_traceback(lua_State *L) {
  int arg;
  lua_State *L1 = getthread(L, &arg);
  const char *msg = lua_tostring(L, arg + 1);
  if (msg == nullptr && !lua_isnoneornil(L, arg + 1)) { // a non-text message goes back as is
    lua_pushvalue(L, arg + 1);
  } else {
    int level = optint(L, arg + 2, (L == L1) ? 1 : 0);
    luaL_traceback(L, L1, msg, level);
  }
  return 1;
}

static const luaL_Reg dblib[] = {{"debug", db_debug},
                                 {"getuservalue", db_getuservalue},
                                 {"gethook", db_gethook},
                                 {"getinfo", db_getinfo},
                                 {"getlocal", db_getlocal},
                                 {"getregistry", db_getregistry},
                                 {"getmetatable", db_getmetatable},
                                 {"getupvalue", db_getupvalue},
                                 {"upvaluejoin", db_upvaluejoin},
                                 {"upvalueid", db_upvalueid},
                                 {"setuservalue", db_setuservalue},
                                 {"sethook", db_sethook},
                                 {"setlocal", db_setlocal},
                                 {"setmetatable", db_setmetatable},
                                 {"setupvalue", db_setupvalue},
                                 {"traceback", db_traceback},
                                 {nullptr, nullptr}};

int luaopen_debug(lua_State *L) {
  luaL_newlib(L, dblib);
  return 1;
}
