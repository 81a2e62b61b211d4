// The embedding interface: everything outside the virtual machine reaches a state through here.
#include <cstring>

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/func.h"
#include "lua/gc.h"
#include "lua/lua.h"
#include "lua/mem.h"
#include "lua/object.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/tm.h"
#include "lua/undump.h"
#include "lua/vm.h"

// The absent value: reads as nil, but lua_type reports LUA_TNONE for it.
#define isvalid(L, o) (!ttisnil(o) || (o) != &G(L)->nilvalue)

// Pseudo-indices: the registry and C upvalues.
#define ispseudo(i) ((i) <= LUA_REGISTRYINDEX)
#define isupvalue(i) ((i) < LUA_REGISTRYINDEX)

#define api_incr_top(L) ((L)->top++)

// A C function that owns to-be-closed slots carries its expected results coded as -3 - n.
#define hastocloseCfunc(n) ((n) < LUA_MULTRET)
#define codeNresults(n) (-(n)-3)

static TValue *index2value(lua_State *L, int idx) {
  CallInfo *ci = L->ci;
  if (idx > 0) {
    if (idx >= L->top - ci->func) return &G(L)->nilvalue;
    return s2v(ci->func + idx);
  } else if (!ispseudo(idx)) {
    return s2v(L->top + idx);
  } else if (idx == LUA_REGISTRYINDEX) {
    return &G(L)->l_registry;
  } else {
    idx = LUA_REGISTRYINDEX - idx; // upvalue number
    if (ttisCclosure(s2v(ci->func))) {
      CClosure *func = clCvalue(s2v(ci->func));
      return (idx <= func->nupvalues) ? &func->upvalue[idx - 1] : &G(L)->nilvalue;
    }
    return &G(L)->nilvalue; // a light C function has no upvalues
  }
}

// A real stack slot (never a pseudo-index).
static StkId index2stack(lua_State *L, int idx) {
  CallInfo *ci = L->ci;
  if (idx > 0) return ci->func + idx;
  return L->top + idx;
}

static Table *gettable(lua_State *L, int idx) {
  TValue *t = index2value(L, idx);
  return hvalue(t);
}

static const TValue *globaltable(lua_State *L) {
  return luaH_getint(hvalue(&G(L)->l_registry), LUA_RIDX_GLOBALS);
}

// ---------------------------------------------------------------------------------------------
// State

lua_CFunction lua_atpanic(lua_State *L, lua_CFunction panicf) {
  lua_CFunction old = G(L)->panic;
  G(L)->panic = panicf;
  return old;
}

lua_Number lua_version(lua_State *L) {
  UNUSED(L);
  return LUA_VERSION_NUM;
}

lua_Alloc lua_getallocf(lua_State *L, void **ud) {
  if (ud) *ud = G(L)->ud;
  return G(L)->frealloc;
}

void lua_setallocf(lua_State *L, lua_Alloc f, void *ud) {
  G(L)->ud = ud;
  G(L)->frealloc = f;
}

void lua_setwarnf(lua_State *L, lua_WarnFunction f, void *ud) {
  G(L)->ud_warn = ud;
  G(L)->warnf = f;
}

void lua_warning(lua_State *L, const char *msg, int tocont) { luaE_warning(L, msg, tocont); }

int lua_status(lua_State *L) { return L->status; }

// ---------------------------------------------------------------------------------------------
// Stack

int lua_absindex(lua_State *L, int idx) {
  return (idx > 0 || ispseudo(idx)) ? idx : cast_int(L->top - L->ci->func) + idx;
}

int lua_gettop(lua_State *L) { return cast_int(L->top - (L->ci->func + 1)); }

void lua_settop(lua_State *L, int idx) {
  CallInfo *ci = L->ci;
  ptrdiff_t diff;
  if (idx >= 0) {
    diff = ((ci->func + 1) + idx) - L->top;
    for (; diff > 0; diff--) setnilvalue(s2v(L->top++));
  } else {
    diff = idx + 1;
  }
  StkId newtop = L->top + diff;
  // Pending to-be-closed slots that are removed are closed while still below the top.
  if (diff < 0 && hastocloseCfunc(ci->nresults) && L->openupval != NULL &&
      uplevel(L->openupval) >= newtop) {
    ptrdiff_t nt = savestack(L, newtop);
    luaF_close(L, newtop, LUA_OK);
    newtop = restorestack(L, nt);
  }
  L->top = newtop;
}

static void reverse(lua_State *L, StkId from, StkId to) {
  for (; from < to; from++, to--) {
    TValue temp;
    setobj(L, &temp, s2v(from));
    setobjs2s(L, from, to);
    setobj2s(L, to, &temp);
  }
}

// Rotates the slots from idx to the top by n positions towards the top.
void lua_rotate(lua_State *L, int idx, int n) {
  StkId t = L->top - 1;
  StkId p = index2stack(L, idx);
  StkId m = (n >= 0 ? t - n : p - n - 1);
  reverse(L, p, m);
  reverse(L, m + 1, t);
  reverse(L, p, t);
}

void lua_copy(lua_State *L, int fromidx, int toidx) {
  TValue *fr = index2value(L, fromidx);
  TValue *to = index2value(L, toidx);
  setobj(L, to, fr);
  if (isupvalue(toidx)) luaC_barrier(L, clCvalue(s2v(L->ci->func)), fr);
}

void lua_pushvalue(lua_State *L, int idx) {
  setobj2s(L, L->top, index2value(L, idx));
  api_incr_top(L);
}

int lua_checkstack(lua_State *L, int n) {
  int res;
  CallInfo *ci = L->ci;
  if (L->stack_last - L->top > n) {
    res = 1;
  } else {
    int inuse = cast_int(L->top - L->stack) + EXTRA_STACK;
    if (inuse > LUAI_MAXSTACK - n) res = 0; // never raises
    else res = luaD_growstack(L, n, 0);
  }
  if (res && ci->top < L->top + n) ci->top = L->top + n;
  return res;
}

void lua_xmove(lua_State *from, lua_State *to, int n) {
  if (from == to) return;
  from->top -= n;
  for (int i = 0; i < n; i++) {
    setobjs2s(to, to->top, from->top + i);
    to->top++;
  }
}

// ---------------------------------------------------------------------------------------------
// Access

int lua_type(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  return isvalid(L, o) ? ttype(o) : LUA_TNONE;
}

const char *lua_typename(lua_State *L, int t) {
  UNUSED(L);
  return ttypename(t);
}

int lua_iscfunction(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  return ttislcf(o) || ttisCclosure(o);
}

int lua_isinteger(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  return ttisinteger(o);
}

int lua_isnumber(lua_State *L, int idx) {
  lua_Number n;
  const TValue *o = index2value(L, idx);
  return tonumber(o, &n);
}

int lua_isstring(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  return ttisstring(o) || cvt2str(o);
}

int lua_isuserdata(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  return ttisfulluserdata(o) || ttislightuserdata(o);
}

int lua_rawequal(lua_State *L, int index1, int index2) {
  const TValue *o1 = index2value(L, index1);
  const TValue *o2 = index2value(L, index2);
  return (isvalid(L, o1) && isvalid(L, o2)) ? luaV_rawequalobj(o1, o2) : 0;
}

void lua_arith(lua_State *L, int op) {
  if (op == LUA_OPUNM || op == LUA_OPBNOT) {
    // the unary operators take a fake second operand: a copy of the first
    setobjs2s(L, L->top, L->top - 1);
    api_incr_top(L);
  }
  luaO_arith(L, op, s2v(L->top - 2), s2v(L->top - 1), L->top - 2);
  L->top--;
}

int lua_compare(lua_State *L, int index1, int index2, int op) {
  int i = 0;
  const TValue *o1 = index2value(L, index1);
  const TValue *o2 = index2value(L, index2);
  if (isvalid(L, o1) && isvalid(L, o2)) {
    switch (op) {
      case LUA_OPEQ: i = luaV_equalobj(L, o1, o2); break;
      case LUA_OPLT: i = luaV_lessthan(L, o1, o2); break;
      case LUA_OPLE: i = luaV_lessequal(L, o1, o2); break;
      default: break;
    }
  }
  return i;
}

size_t lua_stringtonumber(lua_State *L, const char *s) {
  size_t sz = luaO_str2num(s, s2v(L->top));
  if (sz != 0) api_incr_top(L);
  return sz;
}

lua_Number lua_tonumberx(lua_State *L, int idx, int *pisnum) {
  lua_Number n = 0;
  const TValue *o = index2value(L, idx);
  int isnum = tonumber(o, &n);
  if (pisnum) *pisnum = isnum;
  return n;
}

lua_Integer lua_tointegerx(lua_State *L, int idx, int *pisnum) {
  lua_Integer res = 0;
  const TValue *o = index2value(L, idx);
  int isnum = tointeger(o, &res);
  if (pisnum) *pisnum = isnum;
  return res;
}

int lua_toboolean(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  return !l_isfalse(o);
}

// lua_tolstring of a value that is not a string, out of line so that strings take the short way.
[[gnu::noinline]] static const char *tolstring_convert(lua_State *L, int idx, size_t *len) {
  TValue *o = index2value(L, idx);
  if (!cvt2str(o)) { // neither a string nor a number
    if (len != NULL) *len = 0;
    return NULL;
  }
  luaO_tostring(L, o); // converted in place
  // a C closure's upvalue now holds a new string: the closure may already be black
  if (isupvalue(idx)) luaC_barrier(L, clCvalue(s2v(L->ci->func)), o);
  luaC_checkGC(L);
  o = index2value(L, idx); // the collector step may have moved the stack
  if (len != NULL) *len = vslen(o);
  return svalue(o);
}

const char *lua_tolstring(lua_State *L, int idx, size_t *len) {
  TValue *o = index2value(L, idx);
  if (l_unlikely(!ttisstring(o))) return tolstring_convert(L, idx, len);
  if (len != NULL) *len = vslen(o);
  return svalue(o);
}

lua_Unsigned lua_rawlen(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  switch (ttypetag(o)) {
    case LUA_VSHRSTR: return tsvalue(o)->shrlen;
    case LUA_VLNGSTR: return tsvalue(o)->u.lnglen;
    case LUA_VUSERDATA: return uvalue(o)->len;
    case LUA_VTABLE: return luaH_getn(hvalue(o));
    default: return 0;
  }
}

lua_CFunction lua_tocfunction(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  if (ttislcf(o)) return fvalue(o);
  if (ttisCclosure(o)) return clCvalue(o)->f;
  return NULL;
}

static void *touserdata(const TValue *o) {
  switch (ttype(o)) {
    case LUA_TUSERDATA: return getudatamem(uvalue(o));
    case LUA_TLIGHTUSERDATA: return pvalue(o);
    default: return NULL;
  }
}

void *lua_touserdata(lua_State *L, int idx) { return touserdata(index2value(L, idx)); }

lua_State *lua_tothread(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  return ttisthread(o) ? thvalue(o) : NULL;
}

// Tables, functions, threads and userdata have an identity to show; other values give NULL.
const void *lua_topointer(lua_State *L, int idx) {
  const TValue *o = index2value(L, idx);
  switch (ttypetag(o)) {
    case LUA_VLCF: return reinterpret_cast<const void *>(fvalue(o));
    case LUA_VUSERDATA:
    case LUA_VLIGHTUSERDATA: return touserdata(o);
    case LUA_VTABLE:
    case LUA_VLCL:
    case LUA_VCCL:
    case LUA_VTHREAD: return gcvalue(o);
    default: return NULL;
  }
}

// ---------------------------------------------------------------------------------------------
// Push

void lua_pushnil(lua_State *L) {
  setnilvalue(s2v(L->top));
  api_incr_top(L);
}

void lua_pushnumber(lua_State *L, lua_Number n) {
  setfltvalue(s2v(L->top), n);
  api_incr_top(L);
}

void lua_pushinteger(lua_State *L, lua_Integer n) {
  setivalue(s2v(L->top), n);
  api_incr_top(L);
}

const char *lua_pushlstring(lua_State *L, const char *s, size_t len) {
  TString *ts = (len == 0) ? luaS_new(L, "") : luaS_newlstr(L, s, len);
  setsvalue2s(L, L->top, ts);
  api_incr_top(L);
  luaC_checkGC(L);
  return getstr(ts);
}

const char *lua_pushstring(lua_State *L, const char *s) {
  if (s == NULL) {
    setnilvalue(s2v(L->top));
  } else {
    TString *ts = luaS_new(L, s);
    setsvalue2s(L, L->top, ts);
    s = getstr(ts); // the internal copy
  }
  api_incr_top(L);
  luaC_checkGC(L);
  return s;
}

const char *lua_pushvfstring(lua_State *L, const char *fmt, va_list argp) {
  const char *ret = luaO_pushvfstring(L, fmt, argp);
  luaC_checkGC(L);
  return ret;
}

const char *lua_pushfstring(lua_State *L, const char *fmt, ...) {
  va_list argp;
  va_start(argp, fmt);
  const char *ret = luaO_pushvfstring(L, fmt, argp);
  va_end(argp);
  luaC_checkGC(L);
  return ret;
}

void lua_pushcclosure(lua_State *L, lua_CFunction fn, int n) {
  if (n == 0) { // a light C function: not an object, nothing allocated
    setfvalue(s2v(L->top), fn);
    api_incr_top(L);
    return;
  }
  CClosure *cl = luaF_newCclosure(L, n);
  cl->f = fn;
  L->top -= n;
  while (n--) {
    setobj2n(L, &cl->upvalue[n], s2v(L->top + n));
  }
  setclCvalue(L, s2v(L->top), cl);
  api_incr_top(L);
  luaC_checkGC(L);
}

void lua_pushboolean(lua_State *L, int b) {
  if (b) setbtvalue(s2v(L->top));
  else setbfvalue(s2v(L->top));
  api_incr_top(L);
}

void lua_pushlightuserdata(lua_State *L, void *p) {
  setpvalue(s2v(L->top), p);
  api_incr_top(L);
}

int lua_pushthread(lua_State *L) {
  setthvalue(L, s2v(L->top), L);
  api_incr_top(L);
  return (G(L)->mainthread == L);
}

// ---------------------------------------------------------------------------------------------
// Get (push the value and return its type)

static int auxgetstr(lua_State *L, const TValue *t, const char *k) {
  const TValue *slot;
  TString *str = luaS_new(L, k);
  if (luaV_fastget(L, t, str, slot, luaH_getstr)) {
    setobj2s(L, L->top, slot);
    api_incr_top(L);
  } else {
    setsvalue2s(L, L->top, str);
    api_incr_top(L);
    luaV_finishget(L, t, s2v(L->top - 1), L->top - 1, slot);
  }
  return ttype(s2v(L->top - 1));
}

int lua_getglobal(lua_State *L, const char *name) {
  return auxgetstr(L, globaltable(L), name);
}

int lua_gettable(lua_State *L, int idx) {
  const TValue *slot;
  TValue *t = index2value(L, idx);
  if (luaV_fastget(L, t, s2v(L->top - 1), slot, luaH_get)) {
    setobj2s(L, L->top - 1, slot);
  } else {
    luaV_finishget(L, t, s2v(L->top - 1), L->top - 1, slot);
  }
  return ttype(s2v(L->top - 1));
}

int lua_getfield(lua_State *L, int idx, const char *k) {
  return auxgetstr(L, index2value(L, idx), k);
}

int lua_geti(lua_State *L, int idx, lua_Integer n) {
  const TValue *slot;
  TValue *t = index2value(L, idx);
  if (luaV_fastgeti(L, t, n, slot)) {
    setobj2s(L, L->top, slot);
  } else {
    TValue aux;
    setivalue(&aux, n);
    luaV_finishget(L, t, &aux, L->top, slot);
  }
  api_incr_top(L);
  return ttype(s2v(L->top - 1));
}

static int finishrawget(lua_State *L, const TValue *val) {
  if (isempty(val)) setnilvalue(s2v(L->top));
  else setobj2s(L, L->top, val);
  api_incr_top(L);
  return ttype(s2v(L->top - 1));
}

int lua_rawget(lua_State *L, int idx) {
  Table *t = gettable(L, idx);
  const TValue *val = luaH_get(t, s2v(L->top - 1));
  L->top--; // the key
  return finishrawget(L, val);
}

int lua_rawgeti(lua_State *L, int idx, lua_Integer n) {
  Table *t = gettable(L, idx);
  return finishrawget(L, luaH_getint(t, n));
}

int lua_rawgetp(lua_State *L, int idx, const void *p) {
  Table *t = gettable(L, idx);
  TValue k;
  setpvalue(&k, const_cast<void *>(p));
  return finishrawget(L, luaH_get(t, &k));
}

void lua_createtable(lua_State *L, int narray, int nrec) {
  Table *t = luaH_new(L);
  sethvalue2s(L, L->top, t);
  api_incr_top(L);
  if (narray > 0 || nrec > 0) {
    luaH_resize(L, t, cast_uint(narray > 0 ? narray : 0), cast_uint(nrec > 0 ? nrec : 0));
  }
  luaC_checkGC(L);
}

int lua_getmetatable(lua_State *L, int objindex) {
  const TValue *obj = index2value(L, objindex);
  Table *mt;
  switch (ttype(obj)) {
    case LUA_TTABLE: mt = hvalue(obj)->metatable; break;
    case LUA_TUSERDATA: mt = uvalue(obj)->metatable; break;
    default: mt = G(L)->mt[ttype(obj)]; break;
  }
  if (mt == NULL) return 0;
  sethvalue2s(L, L->top, mt);
  api_incr_top(L);
  return 1;
}

int lua_getiuservalue(lua_State *L, int idx, int n) {
  TValue *o = index2value(L, idx);
  int t;
  if (n <= 0 || n > uvalue(o)->nuvalue) {
    setnilvalue(s2v(L->top));
    t = LUA_TNONE;
  } else {
    setobj2s(L, L->top, &uvalue(o)->uv[n - 1].uv);
    t = ttype(s2v(L->top));
  }
  api_incr_top(L);
  return t;
}

// ---------------------------------------------------------------------------------------------
// Set (pop the value)

// After a store that may have given a key its first value: a metamethod may now be present.
// Takes the table found before the store: a __newindex call may move the stack.
static Table *tableof(const TValue *t) { return ttistable(t) ? hvalue(t) : nullptr; }
static void invalidatecache(Table *h) {
  if (h) invalidateTMcache(h);
}

static void auxsetstr(lua_State *L, const TValue *t, const char *k) {
  const TValue *slot;
  TString *str = luaS_new(L, k);
  if (luaV_fastget(L, t, str, slot, luaH_getstr)) {
    luaV_finishfastset(L, t, slot, s2v(L->top - 1));
    L->top--;
  } else {
    setsvalue2s(L, L->top, str); // keep the key anchored on the stack
    api_incr_top(L);
    Table *h = tableof(t);
    luaV_finishset(L, t, s2v(L->top - 1), s2v(L->top - 2), slot);
    invalidatecache(h);
    L->top -= 2;
  }
}

void lua_setglobal(lua_State *L, const char *name) {
  auxsetstr(L, globaltable(L), name);
}

void lua_settable(lua_State *L, int idx) {
  const TValue *slot;
  TValue *t = index2value(L, idx);
  if (luaV_fastget(L, t, s2v(L->top - 2), slot, luaH_get)) {
    luaV_finishfastset(L, t, slot, s2v(L->top - 1));
  } else {
    Table *h = tableof(t);
    luaV_finishset(L, t, s2v(L->top - 2), s2v(L->top - 1), slot);
    invalidatecache(h);
  }
  L->top -= 2;
}

void lua_setfield(lua_State *L, int idx, const char *k) {
  auxsetstr(L, index2value(L, idx), k);
}

void lua_seti(lua_State *L, int idx, lua_Integer n) {
  const TValue *slot;
  TValue *t = index2value(L, idx);
  if (luaV_fastgeti(L, t, n, slot)) {
    luaV_finishfastset(L, t, slot, s2v(L->top - 1));
  } else {
    TValue aux;
    setivalue(&aux, n);
    Table *h = tableof(t);
    luaV_finishset(L, t, &aux, s2v(L->top - 1), slot);
    invalidatecache(h);
  }
  L->top--;
}

static void aux_rawset(lua_State *L, int idx, TValue *key, int n) {
  Table *t = gettable(L, idx);
  luaH_set(L, t, key, s2v(L->top - 1));
  invalidateTMcache(t);
  luaC_barrierback(L, obj2gco(t), s2v(L->top - 1));
  L->top -= n;
}

void lua_rawset(lua_State *L, int idx) { aux_rawset(L, idx, s2v(L->top - 2), 2); }

void lua_rawsetp(lua_State *L, int idx, const void *p) {
  TValue k;
  setpvalue(&k, const_cast<void *>(p));
  aux_rawset(L, idx, &k, 1);
}

void lua_rawseti(lua_State *L, int idx, lua_Integer n) {
  Table *t = gettable(L, idx);
  luaH_setint(L, t, n, s2v(L->top - 1));
  invalidateTMcache(t);
  luaC_barrierback(L, obj2gco(t), s2v(L->top - 1));
  L->top--;
}

int lua_setmetatable(lua_State *L, int objindex) {
  TValue *obj = index2value(L, objindex);
  Table *mt = ttisnil(s2v(L->top - 1)) ? NULL : hvalue(s2v(L->top - 1));
  switch (ttype(obj)) {
    case LUA_TTABLE:
      hvalue(obj)->metatable = mt;
      if (mt) {
        luaC_objbarrier(L, gcvalue(obj), mt);
        luaC_checkfinalizer(L, gcvalue(obj), mt);
      }
      break;
    case LUA_TUSERDATA:
      uvalue(obj)->metatable = mt;
      if (mt) {
        luaC_objbarrier(L, uvalue(obj), mt);
        luaC_checkfinalizer(L, gcvalue(obj), mt);
      }
      break;
    default: G(L)->mt[ttype(obj)] = mt; break; // shared by the whole type
  }
  L->top--;
  return 1;
}

int lua_setiuservalue(lua_State *L, int idx, int n) {
  TValue *o = index2value(L, idx);
  int res;
  if (!(cast_uint(n) - 1u < cast_uint(uvalue(o)->nuvalue))) {
    res = 0;
  } else {
    setobj(L, &uvalue(o)->uv[n - 1].uv, s2v(L->top - 1));
    luaC_barrierback(L, gcvalue(o), s2v(L->top - 1));
    res = 1;
  }
  L->top--;
  return res;
}

void *lua_newuserdatauv(lua_State *L, size_t size, int nuvalue) {
  Udata *u = luaS_newudata(L, size, nuvalue);
  setuvalue(L, s2v(L->top), u);
  api_incr_top(L);
  luaC_checkGC(L);
  return getudatamem(u);
}

// ---------------------------------------------------------------------------------------------
// Dump, errors and miscellaneous

int lua_dump(lua_State *L, lua_Writer writer, void *data, int strip) {
  TValue *o = s2v(L->top - 1);
  if (!isLfunction(o)) return 1;
  return luaU_dump(L, getproto(o), writer, data, strip);
}

int lua_error(lua_State *L) {
  TValue *errobj = s2v(L->top - 1);
  // the pre-built memory message (that very object) reports a memory error
  if (ttisstring(errobj) && tsvalue(errobj) == G(L)->memerrmsg) luaD_throw(L, LUA_ERRMEM);
  if (L->errfunc == 0) luaD_throwhere(L, LUA_ERRRUN); // no message handler to run first
  luaG_errormsg(L);
}

int lua_next(lua_State *L, int idx) {
  Table *t = gettable(L, idx);
  int more = luaH_next(L, t, L->top - 1);
  if (more) api_incr_top(L);
  else L->top -= 1; // no more elements: pop the key
  return more;
}

void lua_toclose(lua_State *L, int idx) {
  StkId o = index2stack(L, idx);
  int nresults = L->ci->nresults;
  luaF_newtbcupval(L, o);
  if (!hastocloseCfunc(nresults)) L->ci->nresults = cast(short, codeNresults(nresults));
}

void lua_concat(lua_State *L, int n) {
  if (n >= 2) {
    luaV_concat(L, n);
  } else if (n == 0) {
    setsvalue2s(L, L->top, luaS_newlstr(L, "", 0));
    api_incr_top(L);
  }
  luaC_checkGC(L);
}

void lua_len(lua_State *L, int idx) {
  TValue *t = index2value(L, idx);
  luaV_objlen(L, L->top, t);
  api_incr_top(L);
}

// ---------------------------------------------------------------------------------------------
// Upvalues

static const char *aux_upvalue(TValue *fi, int n, TValue **val, GCObject **owner) {
  switch (ttypetag(fi)) {
    case LUA_VCCL: {
      CClosure *f = clCvalue(fi);
      if (!(cast_uint(n) - 1u < cast_uint(f->nupvalues))) return NULL;
      *val = &f->upvalue[n - 1];
      if (owner) *owner = obj2gco(f);
      return "";
    }
    case LUA_VLCL: {
      LClosure *f = clLvalue(fi);
      Proto *p = f->p;
      if (!(cast_uint(n) - 1u < cast_uint(p->sizeupvalues))) return NULL;
      *val = f->upvals[n - 1]->v;
      if (owner) *owner = obj2gco(f->upvals[n - 1]);
      TString *name = p->upvalues[n - 1].name;
      return (name == NULL) ? "(no name)" : getstr(name);
    }
    default: return NULL; // not a closure
  }
}

const char *lua_getupvalue(lua_State *L, int funcindex, int n) {
  TValue *val = NULL;
  const char *name = aux_upvalue(index2value(L, funcindex), n, &val, NULL);
  if (name) {
    setobj2s(L, L->top, val);
    api_incr_top(L);
  }
  return name;
}

const char *lua_setupvalue(lua_State *L, int funcindex, int n) {
  TValue *val = NULL;
  GCObject *owner = NULL;
  TValue *fi = index2value(L, funcindex);
  const char *name = aux_upvalue(fi, n, &val, &owner);
  if (name) {
    L->top--;
    setobj(L, val, s2v(L->top));
    luaC_barrier(L, owner, val);
  }
  return name;
}

static UpVal **getupvalref(lua_State *L, int fidx, int n, LClosure **pf) {
  static UpVal *nullup = NULL;
  TValue *fi = index2value(L, fidx);
  LClosure *f = clLvalue(fi);
  if (pf) *pf = f;
  if (1 <= n && n <= f->p->sizeupvalues) return &f->upvals[n - 1];
  nullup = NULL;
  return &nullup;
}

void *lua_upvalueid(lua_State *L, int fidx, int n) {
  TValue *fi = index2value(L, fidx);
  switch (ttypetag(fi)) {
    case LUA_VLCL: return *getupvalref(L, fidx, n, NULL);
    case LUA_VCCL: {
      CClosure *f = clCvalue(fi);
      if (1 <= n && n <= f->nupvalues) return &f->upvalue[n - 1];
      return NULL;
    }
    default: return NULL; // light C functions have no upvalues
  }
}

void lua_upvaluejoin(lua_State *L, int fidx1, int n1, int fidx2, int n2) {
  LClosure *f1;
  UpVal **up1 = getupvalref(L, fidx1, n1, &f1);
  UpVal **up2 = getupvalref(L, fidx2, n2, NULL);
  *up1 = *up2;
  luaC_objbarrier(L, f1, *up1);
}
