// Prototypes, closures, upvalues and to-be-closed variables.
#include "lua/func.h"

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/gc.h"
#include "lua/mem.h"
#include "lua/string.h"
#include "lua/tm.h"

static_assert(sizeof(Proto) == 128, "prototype layout");
static_assert(sizeof(UpVal) == 40, "upvalue layout");
static_assert(offsetof(LClosure, upvals) == 32, "Lua closure header");
static_assert(offsetof(CClosure, upvalue) == 32, "C closure header");

// Charges: a Lua closure 32 + 16n, a C closure 40 + 16n, upvalues 40, prototypes 128.
#define LCL_CHARGE(n) (32 + 16 * (size_t)(n))
#define CCL_CHARGE(n) (40 + 16 * (size_t)(n))
#define UPVAL_CHARGE 40
#define PROTO_CHARGE 128

CClosure *luaF_newCclosure(lua_State *L, int nupvals) {
  GCObject *o = luaC_newobj(L, LUA_VCCL, (size_t)sizeCclosure_(nupvals), CCL_CHARGE(nupvals));
  CClosure *c = gco2ccl(o);
  c->nupvalues = cast_byte(nupvals);
  c->gclist = NULL;
  return c;
}

LClosure *luaF_newLclosure(lua_State *L, int nupvals) {
  GCObject *o = luaC_newobj(L, LUA_VLCL, (size_t)sizeLclosure_(nupvals), LCL_CHARGE(nupvals));
  LClosure *c = gco2lcl(o);
  c->p = NULL;
  c->gclist = NULL;
  c->nupvalues = cast_byte(nupvals);
  while (nupvals--) c->upvals[nupvals] = NULL;
  return c;
}

void luaF_initupvals(lua_State *L, LClosure *cl) {
  for (int i = 0; i < cl->nupvalues; i++) {
    GCObject *o = luaC_newobj(L, LUA_VUPVAL, sizeof(UpVal), UPVAL_CHARGE);
    UpVal *uv = gco2upv(o);
    uv->tbc = 0;
    uv->v = &uv->u.value;  // closed from the start
    setnilvalue(uv->v);
    cl->upvals[i] = uv;
    luaC_objbarrier(L, cl, uv);
  }
}

// Creates an open upvalue for 'level' and links it where 'prev' points.
static UpVal *newupval(lua_State *L, int tbc, StkId level, UpVal **prev) {
  GCObject *o = luaC_newobj(L, LUA_VUPVAL, sizeof(UpVal), UPVAL_CHARGE);
  UpVal *uv = gco2upv(o);
  UpVal *next = *prev;
  uv->v = s2v(level);
  uv->tbc = cast_byte(tbc);
  uv->u.open.next = next;
  uv->u.open.previous = prev;
  if (next) next->u.open.previous = &uv->u.open.next;
  *prev = uv;
  if (!isintwups(L)) {  // first open upvalue: join the list of such threads
    L->twups = G(L)->twups;
    G(L)->twups = L;
  }
  return uv;
}

UpVal *luaF_findupval(lua_State *L, StkId level) {
  UpVal **pp = &L->openupval;
  UpVal *p;
  while ((p = *pp) != NULL && uplevel(p) >= level) {  // the list is deepest first
    if (uplevel(p) == level) return p;
    pp = &p->u.open.next;
  }
  return newupval(L, 0, level, pp);
}

void luaF_unlinkupval(UpVal *uv) {
  lua_assert(upisopen(uv));
  *uv->u.open.previous = uv->u.open.next;
  if (uv->u.open.next) uv->u.open.next->u.open.previous = uv->u.open.previous;
}

// Raises 'msg' with the name of the local at 'level' of the running function.
[[noreturn]] static void varerror(lua_State *L, StkId level, const char *msg) {
  int idx = cast_int(level - L->ci->func);
  const char *vname = luaG_findlocal(L, L->ci, idx, NULL);
  if (vname == NULL) vname = "?";
  luaG_runerror(L, msg, vname);
}

// Pushes the closing method of 'obj' and its arguments (obj, err); 0 when there is none.
static int prepclosingmethod(lua_State *L, const TValue *obj, const TValue *err) {
  StkId top = L->top;
  const TValue *tm = luaT_gettmbyobj(L, obj, TM_CLOSE);
  if (ttisnil(tm)) return 0;
  TValue o, e;
  setobj(L, &o, obj);  // obj and err may lie in the slots about to be written
  setobj(L, &e, err);
  setobj2s(L, top, tm);
  setobj2s(L, top + 1, &o);
  setobj2s(L, top + 2, &e);
  L->top = top + 3;
  return 1;
}

static void callclose(lua_State *L, void *ud) {
  UNUSED(ud);
  luaD_callnoyield(L, L->top - 3, 0);
}

static const TValue nilobject = {{NULL}, LUA_VNIL};

// Runs the closing method of the variable at 'level'; the variable is already closed, so a
// method that raises is never run a second time by an outer handler.
static int callclosemth(lua_State *L, StkId level, int status) {
  TValue *uv = s2v(level);
  if (l_likely(status == LUA_OK)) {
    if (prepclosingmethod(L, uv, &nilobject))
      callclose(L, NULL);  // a normal exit: non-yieldable, errors propagate
    else if (!l_isfalse(uv))
      varerror(L, level, "attempt to close non-closable variable '%s'");
  } else {  // an error is propagating, or closing in protected mode
    StkId errslot = level + 1;
    ptrdiff_t oldtop = savestack(L, level + 2);
    if (status == CLOSEPROTECT) {
      setnilvalue(s2v(errslot));
      L->top = errslot + 1;
    } else {
      luaD_seterrorobj(L, status, errslot);
    }
    if (prepclosingmethod(L, s2v(level), s2v(errslot))) {
      int newstatus = luaD_pcall(L, callclose, NULL, oldtop, 0);
      if (newstatus != LUA_OK && status == CLOSEPROTECT) {
        status = newstatus;  // the first error: it becomes the status, its object on top
      } else {
        if (newstatus != LUA_OK) luaE_warnerror(L, "__close metamethod");
        L->top = restorestack(L, oldtop);  // the original error (or nil) stays on top
      }
    }
  }
  return status;
}

// Creates the to-be-closed upvalue; run protected so that a memory error can be handled.
static void trynewtbcupval(lua_State *L, void *ud) {
  StkId level = cast(StkId, ud);
  UpVal **pp = &L->openupval;
  UpVal *p;
  while ((p = *pp) != NULL && uplevel(p) > level) pp = &p->u.open.next;
  if (p != NULL && uplevel(p) == level)
    p->tbc = 1;
  else
    newupval(L, 1, level, pp);
}

void luaF_newtbcupval(lua_State *L, StkId level) {
  TValue *obj = s2v(level);
  if (l_isfalse(obj)) return;  // nil and false need no closing
  const TValue *tm = luaT_gettmbyobj(L, obj, TM_CLOSE);
  if (ttisnil(tm)) varerror(L, level, "variable '%s' got a non-closable value");
  ptrdiff_t levelrel = savestack(L, level);
  int status = luaD_rawrunprotected(L, trynewtbcupval, level);
  if (l_unlikely(status != LUA_OK)) {  // no memory for the upvalue: close it right now
    level = restorestack(L, levelrel);
    luaD_seterrorobj(L, LUA_ERRMEM, level + 1);
    if (prepclosingmethod(L, s2v(level), s2v(level + 1))) callclose(L, NULL);
    luaD_throw(L, LUA_ERRMEM);
  }
}

int luaF_close(lua_State *L, StkId level, int status) {
  ptrdiff_t levelrel = savestack(L, level);
  UpVal *uv;
  while ((uv = L->openupval) != NULL && uplevel(uv) >= restorestack(L, levelrel)) {
    StkId vlevel = uplevel(uv);
    ptrdiff_t vrel = savestack(L, vlevel);
    int tbc = uv->tbc;
    TValue *slot = &uv->u.value;
    luaF_unlinkupval(uv);
    setobj(L, slot, uv->v);  // the value moves into the upvalue
    uv->v = slot;
    if (!iswhite(uv)) {  // a closed upvalue cannot be gray
      nw2black(uv);
      luaC_barrier(L, uv, slot);
    }
    if (tbc && status != NOCLOSINGMETH)
      status = callclosemth(L, restorestack(L, vrel), status);
  }
  return status;
}

Proto *luaF_newproto(lua_State *L) {
  GCObject *o = luaC_newobj(L, LUA_VPROTO, sizeof(Proto), PROTO_CHARGE);
  Proto *f = gco2p(o);
  f->numparams = 0;
  f->is_vararg = 0;
  f->maxstacksize = 0;
  f->sizeupvalues = 0;
  f->sizek = 0;
  f->sizecode = 0;
  f->sizelineinfo = 0;
  f->sizep = 0;
  f->sizelocvars = 0;
  f->sizeabslineinfo = 0;
  f->linedefined = 0;
  f->lastlinedefined = 0;
  f->k = NULL;
  f->code = NULL;
  f->p = NULL;
  f->upvalues = NULL;
  f->lineinfo = NULL;
  f->abslineinfo = NULL;
  f->locvars = NULL;
  f->source = NULL;
  f->gclist = NULL;
  return f;
}

void luaF_freeproto(lua_State *L, Proto *f) {
  luaM_freearray(L, f->code, cast_sizet(f->sizecode));
  luaM_freearray(L, f->p, cast_sizet(f->sizep));
  luaM_freearray(L, f->k, cast_sizet(f->sizek));
  luaM_freearray(L, f->lineinfo, cast_sizet(f->sizelineinfo));
  luaM_freearray(L, f->abslineinfo, cast_sizet(f->sizeabslineinfo));
  luaM_freearray(L, f->locvars, cast_sizet(f->sizelocvars));
  luaM_freearray(L, f->upvalues, cast_sizet(f->sizeupvalues));
  luaM_free_(L, f, sizeof(Proto));
}

const char *luaF_getlocalname(const Proto *f, int local_number, int pc) {
  for (int i = 0; i < f->sizelocvars && f->locvars[i].startpc <= pc; i++) {
    if (pc < f->locvars[i].endpc) {  // active at pc
      local_number--;
      if (local_number == 0) return getstr(f->locvars[i].varname);
    }
  }
  return NULL;
}
