// Stacks, calls, errors, protected runs and coroutines.
#pragma once

#include "lua/gc.h"
#include "lua/object.h"
#include "lua/state.h"

// Makes sure the stack has room for n more slots, growing it (and running the collector's
// step first when asked). Pointers into the stack are invalid after growth.
#define luaD_checkstackaux(L, n, pre, pos) \
  if (l_unlikely(L->stack_last - L->top <= (n))) { pre; luaD_growstack(L, n, 1); pos; } \
  else { }

#define luaD_checkstack(L, n) luaD_checkstackaux(L, n, (void)0, (void)0)

#define checkstackGCp(L, n, p) \
  luaD_checkstackaux(L, n, ptrdiff_t t__ = savestack(L, p); luaC_checkGC(L), p = restorestack(L, t__))

#define checkstackGC(L, fsize) luaD_checkstackaux(L, (fsize), luaC_checkGC(L), (void)0)

#define stacksize(th) cast_int((th)->stack_last - (th)->stack)

// Type of protected functions, to be run by luaD_rawrunprotected.
typedef void (*Pfunc)(lua_State *L, void *ud);

// The engine's non-local jump: a C++ exception carrying the status.
struct LuaThrow {
  int status;
};

// The recovery record of a protected run.
struct lua_longjmp {
  struct lua_longjmp *previous;
  volatile int status;
};

void luaD_seterrorobj(lua_State *L, int errcode, StkId oldtop);
int luaD_protectedparser(lua_State *L, struct Zio *z, const char *name, const char *mode);
void luaD_hook(lua_State *L, int event, int line, int fTransfer, int nTransfer);
void luaD_hookcall(lua_State *L, CallInfo *ci);
int luaD_pretailcall(lua_State *L, CallInfo *ci, StkId func, int narg1);
// Prepares a call: for a native function calls it and returns NULL; for a Lua function
// returns its new CallInfo (the caller runs luaV_execute).
CallInfo *luaD_precall(lua_State *L, StkId func, int nresults);
void luaD_call(lua_State *L, StkId func, int nResults);
void luaD_callnoyield(lua_State *L, StkId func, int nResults);
// Puts the __call metamethod of the value at func in front of it, or as many links of a chain
// of them as the free slots hold; the stack does not move. The caller finds no function yet
// when more links remain.
void luaD_tryfuncTM(lua_State *L, StkId func);
int luaD_closeprotected(lua_State *L, ptrdiff_t level, int status);
int luaD_pcall(lua_State *L, Pfunc func, void *u, ptrdiff_t oldtop, ptrdiff_t ef);
void luaD_poscall(lua_State *L, CallInfo *ci, int nres);
int luaD_reallocstack(lua_State *L, int newsize, int raiseerror);
int luaD_growstack(lua_State *L, int n, int raiseerror);
// 'caught': called where an error was just caught (the error stack can go); false from the
// collector, which may run while an error is still being raised.
void luaD_shrinkstack(lua_State *L, bool caught);
void luaD_inctop(lua_State *L);

// The function of a light native function or a native closure, else NULL.
inline lua_CFunction luaD_nativefunc(const TValue *o) {
  if (ttislcf(o)) return fvalue(o);
  if (ttisCclosure(o)) return clCvalue(o)->f;
  return NULL;
}

// Makes room for the native function at func and enters its frame. The stack may move, and
// func with it.
inline CallInfo *luaD_enternative(lua_State *L, StkId &func, int nresults) {
  checkstackGCp(L, LUA_MINSTACK, func);
  CallInfo *ci = L->ci->next ? L->ci->next : luaE_extendCI(L);
  L->ci = ci;
  ci->nresults = cast(short, nresults);
  ci->callstatus = CIST_C;
  ci->top = L->top + LUA_MINSTACK;
  ci->func = func;
  return ci;
}

[[noreturn]] void luaD_throw(lua_State *L, int errcode);
// luaD_throw with its usual case in the caller: the unwinder's work grows with every frame
// between the throw and the protected call, and an error raised this way leaves one fewer.
#define luaD_throwhere(L, errcode) \
  { \
    if ((L)->errorJmp) { \
      (L)->errorJmp->status = (errcode); \
      throw LuaThrow{(errcode)}; \
    } \
    luaD_throw(L, errcode); \
  }
int luaD_yieldinplace(lua_State *L);
int luaD_rawrunprotected(lua_State *L, Pfunc f, void *ud);
