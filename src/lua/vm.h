// The virtual machine and the operations whose semantics it shares with the interface.
#pragma once

#include "lua/do.h"
#include "lua/object.h"
#include "lua/tm.h"

#define cvt2str(o) ttisnumber(o)
#define cvt2num(o) ttisstring(o)

// Rounding modes for float -> integer conversion.
enum F2Imod {
  F2Ieq,    // no rounding; accepts only integral values
  F2Ifloor, // takes the floor of the number
  F2Iceil   // takes the ceil of the number
};

#define tonumber(o, n) (ttisfloat(o) ? (*(n) = fltvalue(o), 1) : luaV_tonumber_(L, o, n))
#define tonumberns(o, n) \
  (ttisfloat(o) ? ((n) = fltvalue(o), 1) : (ttisinteger(o) ? ((n) = cast_num(ivalue(o)), 1) : 0))
#define tointeger(o, i) \
  (l_likely(ttisinteger(o)) ? (*(i) = ivalue(o), 1) : luaV_tointeger(o, i, F2Ieq))
#define tointegerns(o, i) \
  (l_likely(ttisinteger(o)) ? (*(i) = ivalue(o), 1) : luaV_tointegerns(o, i, F2Ieq))

#define luaV_rawequalobj(t1, t2) luaV_equalobj(NULL, t1, t2)

// Fast track for 'gettable': slot gets the value or an absent/empty slot.
#define luaV_fastget(L, t, k, slot, f) \
  (!ttistable(t) ? (slot = NULL, 0) : (slot = f(hvalue(t), k), !isempty(slot)))
#define luaV_fastgeti(L, t, k, slot) \
  (!ttistable(t) ? (slot = NULL, 0) \
   : (slot = (l_castS2U(k) - 1u < hvalue(t)->alimit) ? &hvalue(t)->array[k - 1] : luaH_getint(hvalue(t), k), \
      !isempty(slot)))
#define luaV_finishfastset(L, t, slot, v) \
  { setobj2t(L, cast(TValue *, slot), v); luaC_barrierback(L, gcvalue(t), v); }

int luaV_equalobj(lua_State *L, const TValue *t1, const TValue *t2);
int luaV_lessthan(lua_State *L, const TValue *l, const TValue *r);
int luaV_lessequal(lua_State *L, const TValue *l, const TValue *r);
int luaV_tonumber_(lua_State *L, const TValue *obj, lua_Number *n);
int luaV_tointeger(const TValue *obj, lua_Integer *p, F2Imod mode);
int luaV_tointegerns(const TValue *obj, lua_Integer *p, F2Imod mode);
int luaV_flttointns(lua_Number n, lua_Integer *p, F2Imod mode);
void luaV_finishget(lua_State *L, const TValue *t, TValue *key, StkId val, const TValue *slot);
void luaV_finishset(lua_State *L, const TValue *t, TValue *key, TValue *val, const TValue *slot);
void luaV_finishOp(lua_State *L);
void luaV_execute(lua_State *L, CallInfo *ci);
void luaV_concat(lua_State *L, int total);
lua_Integer luaV_idiv(lua_State *L, lua_Integer x, lua_Integer y);
lua_Integer luaV_mod(lua_State *L, lua_Integer x, lua_Integer y);
lua_Number luaV_modf(lua_State *L, lua_Number x, lua_Number y);
lua_Integer luaV_shiftl(lua_Integer x, lua_Integer y);
void luaV_objlen(lua_State *L, StkId ra, const TValue *rb);
