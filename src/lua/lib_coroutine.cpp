// Coroutine library. A coroutine stopped by the slice budget's forced yield comes back from
// lua_resume as an ordinary yield of no values, so resume returns true alone and a wrapped
// function nothing; the resuming thread then yields in turn at its next instruction.
#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/state.h"

static lua_State *getco(lua_State *L) {
  lua_State *co = lua_tothread(L, 1);
  luaL_argexpected(L, co, 1, "thread");
  return co;
}

// True when the suspended thread stopped inside Lua code (the budget's forced yield or a hook
// that yielded) rather than in a native function that called yield.
static int stopped_in_lua(lua_State *co) {
  // read off the top frame: every resume asks, and the debug interface costs as much again
  return co->ci != &co->base_ci && ttisLclosure(s2v(co->ci->func));
}

// Resumes co with the narg values on the top of L. Returns the number of results moved to L,
// or -1 with the error object on the top of L.
static int auxresume(lua_State *L, lua_State *co, int narg) {
  int nres;
  if (!lua_checkstack(co, narg)) {
    lua_pushliteral(L, "too many arguments to resume");
    return -1;
  }
  // An interrupted instruction continues where it stopped: the values have nowhere to go.
  if (co != L && lua_status(co) == LUA_YIELD && stopped_in_lua(co)) {
    lua_pop(L, narg);
    narg = 0;
  }
  lua_xmove(L, co, narg);
  int status = lua_resume(co, L, narg, &nres);
  if (status == LUA_OK || status == LUA_YIELD) {
    if (!lua_checkstack(L, nres + 1)) {
      lua_pop(co, nres);
      lua_pushliteral(L, "too many results to resume");
      return -1;
    }
    lua_xmove(co, L, nres);
    return nres;
  }
  lua_xmove(co, L, 1); // the error object
  return -1;
}

static int luaB_coresume(lua_State *L) {
  lua_State *co = getco(L);
  int r = auxresume(L, co, lua_gettop(L) - 1);
  if (r < 0) {
    lua_pushboolean(L, 0);
    lua_insert(L, -2);
    return 2;
  }
  lua_pushboolean(L, 1);
  lua_insert(L, -(r + 1));
  return r + 1;
}

static int auxwrap(lua_State *L) {
  lua_State *co = lua_tothread(L, lua_upvalueindex(1));
  // The thread is an upvalue, which debug.setupvalue can replace with any value. Any thread
  // will do: resuming one that is running, normal or dead fails as it does for resume.
  if (co == nullptr) return luaL_error(L, "bad coroutine state");
  int r = auxresume(L, co, lua_gettop(L));
  if (r < 0) {
    int stat = lua_status(co);
    if (stat != LUA_OK && stat != LUA_YIELD) // died by an error: close its variables
      lua_resetthread(co);
    if (stat != LUA_ERRMEM && lua_type(L, -1) == LUA_TSTRING) {
      luaL_where(L, 1);
      lua_insert(L, -2);
      lua_concat(L, 2);
    }
    return lua_error(L);
  }
  return r;
}

static int luaB_cocreate(lua_State *L) {
  luaL_checktype(L, 1, LUA_TFUNCTION);
  lua_State *NL = lua_newthread(L);
  lua_pushvalue(L, 1);
  lua_xmove(L, NL, 1);
  return 1;
}

static int luaB_cowrap(lua_State *L) {
  luaB_cocreate(L);
  lua_pushcclosure(L, auxwrap, 1);
  return 1;
}

static int luaB_yield(lua_State *L) { return lua_yield(L, lua_gettop(L)); }

#define COS_RUN 0
#define COS_DEAD 1
#define COS_YIELD 2
#define COS_NORM 3

static const char *const statname[] = {"running", "dead", "suspended", "normal"};

static int auxstatus(lua_State *L, lua_State *co) {
  if (L == co) return COS_RUN;
  switch (lua_status(co)) {
  case LUA_YIELD:
    return COS_YIELD;
  case LUA_OK: {
    lua_Debug ar;
    if (lua_getstack(co, 0, &ar)) return COS_NORM; // it has resumed another
    if (lua_gettop(co) == 0) return COS_DEAD;
    return COS_YIELD; // not started: its function waits on its stack
  }
  default: // ended by an error
    return COS_DEAD;
  }
}

static int luaB_costatus(lua_State *L) {
  lua_State *co = getco(L);
  lua_pushstring(L, statname[auxstatus(L, co)]);
  return 1;
}

static int luaB_yieldable(lua_State *L) {
  lua_State *co = lua_isnone(L, 1) ? L : getco(L);
  lua_pushboolean(L, lua_isyieldable(co));
  return 1;
}

static int luaB_corunning(lua_State *L) {
  int ismain = lua_pushthread(L);
  lua_pushboolean(L, ismain);
  return 2;
}

static int luaB_close(lua_State *L) {
  lua_State *co = getco(L);
  int status = auxstatus(L, co);
  switch (status) {
  case COS_DEAD:
  case COS_YIELD:
    if (lua_resetthread(co) == LUA_OK) {
      lua_pushboolean(L, 1);
      return 1;
    }
    lua_pushboolean(L, 0);
    lua_xmove(co, L, 1); // the error of a __close handler
    return 2;
  default:
    return luaL_error(L, "cannot close a %s coroutine", statname[status]);
  }
}

static const luaL_Reg co_funcs[] = {{"create", luaB_cocreate},   {"resume", luaB_coresume},
                                    {"running", luaB_corunning}, {"status", luaB_costatus},
                                    {"wrap", luaB_cowrap},       {"yield", luaB_yield},
                                    {"isyieldable", luaB_yieldable},
                                    {"close", luaB_close},       {nullptr, nullptr}};

int luaopen_coroutine(lua_State *L) {
  luaL_newlib(L, co_funcs);
  return 1;
}
