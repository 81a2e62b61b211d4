// Prototypes, closures, upvalues and to-be-closed variables.
#pragma once

#include "lua/object.h"
#include "lua/state.h"

#define sizeCclosure_(n) (32 + 16 * (n))
#define sizeLclosure_(n) (32 + 8 * (n))

// True when the thread is in the list of threads with open upvalues.
#define isintwups(L) (L->twups != L)

// Maximum number of upvalues in a closure (both C and Lua).
#define MAXUPVAL 255

#define upisopen(up) ((up)->v != &(up)->u.value)
#define uplevel(up) check_exp(upisopen(up), cast(StkId, (up)->v))

// Special status to close upvalues preserving the top of the stack.
#define CLOSEKTOP (-1)
// Status of luaF_close: close upvalues only, call no closing method.
#define NOCLOSINGMETH (-1)
// Status of luaF_close: closing methods in protected mode, no error.
#define CLOSEPROTECT (-2)

// Maximum number of misses before giving up the closure cache.
Proto *luaF_newproto(lua_State *L);
CClosure *luaF_newCclosure(lua_State *L, int nupvals);
LClosure *luaF_newLclosure(lua_State *L, int nupvals);
void luaF_initupvals(lua_State *L, LClosure *cl);
UpVal *luaF_findupval(lua_State *L, StkId level);
void luaF_newtbcupval(lua_State *L, StkId level);
void luaF_unlinkupval(UpVal *uv);
int luaF_close(lua_State *L, StkId level, int status);
void luaF_freeproto(lua_State *L, Proto *f);
const char *luaF_getlocalname(const Proto *func, int local_number, int pc);
