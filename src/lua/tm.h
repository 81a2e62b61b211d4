// Metamethods: event names, the absence cache and the helpers that call them.
#pragma once

#include "lua/object.h"
#include "lua/state.h"

// Keep this order: the fast events (0-5) are cached in Table.flags.
enum TMS {
  TM_INDEX,
  TM_NEWINDEX,
  TM_GC,
  TM_MODE,
  TM_LEN,
  TM_EQ, // last tag method with fast access
  TM_ADD,
  TM_SUB,
  TM_MUL,
  TM_MOD,
  TM_POW,
  TM_DIV,
  TM_IDIV,
  TM_BAND,
  TM_BOR,
  TM_BXOR,
  TM_SHL,
  TM_SHR,
  TM_UNM,
  TM_BNOT,
  TM_LT,
  TM_LE,
  TM_CONCAT,
  TM_CALL,
  TM_CLOSE,
  TM_N // number of elements in the enum
};

#define notm(tm) ttisnil(tm)
#define gfasttm(g, et, e) \
  ((et) == NULL ? NULL : ((et)->flags & (1u << (e))) ? NULL : luaT_gettm(et, e, (g)->tmname[e]))
#define fasttm(l, et, e) gfasttm(G(l), et, e)

#define ttypename(x) luaT_typenames_[(x) + 1]

extern const char *const luaT_typenames_[LUA_TOTALTYPES];

const char *luaT_objtypename(lua_State *L, const TValue *o);
const TValue *luaT_gettm(Table *events, TMS event, TString *ename);
const TValue *luaT_gettmbyobj(lua_State *L, const TValue *o, TMS event);
void luaT_init(lua_State *L);

void luaT_callTM(lua_State *L, const TValue *f, const TValue *p1, const TValue *p2,
                 const TValue *p3);
void luaT_callTMres(lua_State *L, const TValue *f, const TValue *p1, const TValue *p2,
                    TValue *res);
void luaT_trybinTM(lua_State *L, const TValue *p1, const TValue *p2, TValue *res, TMS event);
void luaT_tryconcatTM(lua_State *L);
void luaT_trybinassocTM(lua_State *L, const TValue *p1, const TValue *p2, int inv, TValue *res,
                        TMS event);
void luaT_trybiniTM(lua_State *L, const TValue *p1, lua_Integer i2, int inv, TValue *res,
                    TMS event);
int luaT_callorderTM(lua_State *L, const TValue *p1, const TValue *p2, TMS event);
int luaT_callorderiTM(lua_State *L, const TValue *p1, int v2, int inv, int isfloat, TMS event);

void luaT_adjustvarargs(lua_State *L, int nfixparams, CallInfo *ci, const Proto *p);
void luaT_getvarargs(lua_State *L, CallInfo *ci, StkId where, int wanted);
