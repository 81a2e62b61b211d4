// Debug interface: line information, names of values in errors, hooks.
#pragma once

#include "lua/state.h"

#define pcRel(pc, p) (cast_int((pc) - (p)->code) - 1)

// Active Lua function (given call info).
#define ci_func(ci) (clLvalue(s2v((ci)->func)))

#define resethookcount(L) (L->hookcount = L->basehookcount)

// Mark for entries in 'lineinfo' that have an absolute line.
#define ABSLINEINFO (-0x80)
// Maximum number of successive instructions without an absolute line entry.
#define MAXIWTHABS 128

int luaG_getfuncline(const Proto *f, int pc);
const char *luaG_findlocal(lua_State *L, CallInfo *ci, int n, StkId *pos);
[[noreturn]] void luaG_typeerror(lua_State *L, const TValue *o, const char *opname);
[[noreturn]] void luaG_callerror(lua_State *L, const TValue *o);
[[noreturn]] void luaG_forerror(lua_State *L, const TValue *o, const char *what);
[[noreturn]] void luaG_concaterror(lua_State *L, const TValue *p1, const TValue *p2);
[[noreturn]] void luaG_opinterror(lua_State *L, const TValue *p1, const TValue *p2, const char *msg);
[[noreturn]] void luaG_tointerror(lua_State *L, const TValue *p1, const TValue *p2);
[[noreturn]] void luaG_ordererror(lua_State *L, const TValue *p1, const TValue *p2);
[[noreturn]] void luaG_runerror(lua_State *L, const char *fmt, ...);
const char *luaG_addinfo(lua_State *L, const char *msg, TString *src, int line);
[[noreturn]] void luaG_errormsg(lua_State *L);
int luaG_traceexec(lua_State *L, const Instruction *pc);
