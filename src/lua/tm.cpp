// Metamethods: event names, the absence cache, type names for messages and the helpers that
// call binary, order, concatenation and closing methods.
#include "lua/tm.h"

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/gc.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/vm.h"

static const char udatatypename[] = "userdata";

const char *const luaT_typenames_[LUA_TOTALTYPES] = {
    "no value", "nil",   "boolean", udatatypename, "number",  "string",
    "table",    "function", udatatypename, "thread", "upvalue", "proto"};

static const TValue nilobject = {{NULL}, LUA_VNIL};

void luaT_init(lua_State *L) {
  static const char *const luaT_eventname[] = {
      "__index", "__newindex", "__gc",   "__mode", "__len", "__eq",     "__add",
      "__sub",   "__mul",      "__mod",  "__pow",  "__div", "__idiv",   "__band",
      "__bor",   "__bxor",     "__shl",  "__shr",  "__unm", "__bnot",   "__lt",
      "__le",    "__concat",   "__call", "__close"};
  static_assert(sizeof(luaT_eventname) / sizeof(luaT_eventname[0]) == TM_N, "event names");
  for (int i = 0; i < TM_N; i++) {
    G(L)->tmname[i] = luaS_new(L, luaT_eventname[i]);
    luaC_fix(L, obj2gco(G(L)->tmname[i]));  // never collected
  }
}

// Looks an event up in a metatable; an absence of a fast event is remembered in the flags.
const TValue *luaT_gettm(Table *events, TMS event, TString *ename) {
  const TValue *tm = luaH_getshortstr(events, ename);
  if (notm(tm)) {
    if (event <= TM_EQ) events->flags |= cast_byte(1u << event);
    return NULL;
  }
  return tm;
}

static Table *getmetatable(lua_State *L, const TValue *o) {
  switch (ttype(o)) {
    case LUA_TTABLE: return hvalue(o)->metatable;
    case LUA_TUSERDATA: return ttisfulluserdata(o) ? uvalue(o)->metatable : G(L)->mt[LUA_TUSERDATA];
    default: return G(L)->mt[ttype(o)];
  }
}

const TValue *luaT_gettmbyobj(lua_State *L, const TValue *o, TMS event) {
  Table *mt = getmetatable(L, o);
  return mt ? luaH_getshortstr(mt, G(L)->tmname[event]) : &nilobject;
}

const char *luaT_objtypename(lua_State *L, const TValue *o) {
  Table *mt;
  if ((ttistable(o) && (mt = hvalue(o)->metatable) != NULL) ||
      (ttisfulluserdata(o) && (mt = uvalue(o)->metatable) != NULL)) {
    const TValue *name = luaH_getshortstr(mt, luaS_new(L, "__name"));
    if (ttisstring(name)) return getstr(tsvalue(name));
  }
  return ttypename(ttype(o));
}

// Calls from Lua code outside a hook may yield; any other caller makes the call non-yieldable.
static void calltm(lua_State *L, StkId func, int nresults) {
  if (isLuacode(L->ci))
    luaD_call(L, func, nresults);
  else
    luaD_callnoyield(L, func, nresults);
}

void luaT_callTM(lua_State *L, const TValue *f, const TValue *p1, const TValue *p2,
                 const TValue *p3) {
  StkId func = L->top;
  setobj2s(L, func, f);  // room for these is guaranteed by the extra slots
  setobj2s(L, func + 1, p1);
  setobj2s(L, func + 2, p2);
  setobj2s(L, func + 3, p3);
  L->top = func + 4;
  calltm(L, func, 0);
}

// The result slot is usually a stack slot: keep it as an offset, the call may move the stack.
void luaT_callTMres(lua_State *L, const TValue *f, const TValue *p1, const TValue *p2,
                    TValue *res) {
  bool onstack = res >= L->stack && res < L->stack_last + EXTRA_STACK;
  ptrdiff_t result = onstack ? savestack(L, res) : 0;
  StkId func = L->top;
  setobj2s(L, func, f);
  setobj2s(L, func + 1, p1);
  setobj2s(L, func + 2, p2);
  L->top = func + 3;
  calltm(L, func, 1);
  if (onstack) res = restorestack(L, result);
  L->top--;
  setobj2s(L, res, s2v(L->top));
}

static int callbinTM(lua_State *L, const TValue *p1, const TValue *p2, TValue *res, TMS event) {
  const TValue *tm = luaT_gettmbyobj(L, p1, event);
  if (notm(tm)) tm = luaT_gettmbyobj(L, p2, event);
  if (notm(tm)) return 0;
  luaT_callTMres(L, tm, p1, p2, res);
  return 1;
}

void luaT_trybinTM(lua_State *L, const TValue *p1, const TValue *p2, TValue *res, TMS event) {
  if (l_unlikely(!callbinTM(L, p1, p2, res, event))) {
    switch (event) {
      case TM_BAND: case TM_BOR: case TM_BXOR: case TM_SHL: case TM_SHR: case TM_BNOT: {
        if (ttisnumber(p1) && ttisnumber(p2))
          luaG_tointerror(L, p1, p2);
        else
          luaG_opinterror(L, p1, p2, "perform bitwise operation on");
      }
      default: luaG_opinterror(L, p1, p2, "perform arithmetic on");
    }
  }
}

void luaT_tryconcatTM(lua_State *L) {
  StkId top = L->top;
  if (l_unlikely(!callbinTM(L, s2v(top - 2), s2v(top - 1), top - 2, TM_CONCAT)))
    luaG_concaterror(L, s2v(top - 2), s2v(top - 1));
}

void luaT_trybinassocTM(lua_State *L, const TValue *p1, const TValue *p2, int flip, TValue *res,
                        TMS event) {
  if (flip)
    luaT_trybinTM(L, p2, p1, res, event);
  else
    luaT_trybinTM(L, p1, p2, res, event);
}

void luaT_trybiniTM(lua_State *L, const TValue *p1, lua_Integer i2, int flip, TValue *res,
                    TMS event) {
  TValue aux;
  setivalue(&aux, i2);
  luaT_trybinassocTM(L, p1, &aux, flip, res, event);
}

// Order metamethods: no fallback from "__le" to "__lt".
int luaT_callorderTM(lua_State *L, const TValue *p1, const TValue *p2, TMS event) {
  if (callbinTM(L, p1, p2, L->top, event)) return !l_isfalse(s2v(L->top));
  luaG_ordererror(L, p1, p2);
}

int luaT_callorderiTM(lua_State *L, const TValue *p1, int v2, int flip, int isfloat, TMS event) {
  TValue aux;
  const TValue *p2;
  if (isfloat) {
    setfltvalue(&aux, cast_num(v2));
  } else {
    setivalue(&aux, v2);
  }
  if (flip) {  // the immediate was written first
    p2 = p1;
    p1 = &aux;
  } else {
    p2 = &aux;
  }
  return luaT_callorderTM(L, p1, p2, event);
}

void luaT_adjustvarargs(lua_State *L, int nfixparams, CallInfo *ci, const Proto *p) {
  int actual = cast_int(L->top - ci->func) - 1;  // arguments given
  int nextra = actual - nfixparams;
  ci->u.l.nextraargs = nextra;
  luaD_checkstack(L, p->maxstacksize + 1);
  // the function and its fixed parameters go above the actual arguments
  setobjs2s(L, L->top++, ci->func);
  for (int i = 1; i <= nfixparams; i++) {
    setobjs2s(L, L->top++, ci->func + i);
    setnilvalue(s2v(ci->func + i));  // the original is no longer reachable
  }
  ci->func += actual + 1;
  ci->top += actual + 1;
  lua_assert(L->top <= ci->top && ci->top <= L->stack_last);
}

void luaT_getvarargs(lua_State *L, CallInfo *ci, StkId where, int wanted) {
  int i;
  int nextra = ci->u.l.nextraargs;
  if (wanted < 0) {
    wanted = nextra;  // all of them
    checkstackGCp(L, nextra, where);
    L->top = where + nextra;
  }
  for (i = 0; i < wanted && i < nextra; i++) setobjs2s(L, where + i, ci->func - nextra + i);
  for (; i < wanted; i++) setnilvalue(s2v(where + i));
}
