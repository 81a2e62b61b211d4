// Stacks, calls, errors, protected runs, the protected parser and coroutines.
#include "lua/do.h"

#include <cstdlib>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/debug.h"
#include "lua/func.h"
#include "lua/gc.h"
#include "lua/lexer.h"
#include "lua/mem.h"
#include "lua/object.h"
#include "lua/opcodes.h"
#include "lua/parser.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/tm.h"
#include "lua/undump.h"
#include "lua/vm.h"

#define errorstatus(s) ((s) > LUA_YIELD)

// A native function wanting all results may have pushed past its frame's top.
#define adjustresults(L, nres) \
  { if ((nres) <= LUA_MULTRET && L->ci->top < L->top) L->ci->top = L->top; }

// Results wanted below LUA_MULTRET mark a native frame holding to-be-closed slots.
#define hastocloseCfunc(n) ((n) < LUA_MULTRET)
#define codeNresults(n) (-(n)-3)

#define next_ci(L) (L->ci->next ? L->ci->next : luaE_extendCI(L))

// A yield from a native function that the interpreter called at the resume's own depth needs
// no unwinding: lua_yieldk marks the thread suspended and returns, and every caller between
// it and the resume (luaD_precall, luaV_execute, ccall, resume, unroll) returns on seeing the
// mark, leaving the thread exactly as a thrown yield would. Deeper yields still throw.
struct ResumeMark {
  lua_State *L;    // the thread being resumed
  uint32_t depth;  // its nCcalls while the resumed frames run at the base level
};
static thread_local ResumeMark resume_mark = {NULL, 0};

#define fastyielded(L) (l_unlikely((L)->status == LUA_YIELD))

// ---------------------------------------------------------------------------------------------
// Errors

void luaD_seterrorobj(lua_State *L, int errcode, StkId oldtop) {
  switch (errcode) {
    case LUA_ERRMEM:
      setsvalue2s(L, oldtop, G(L)->memerrmsg);
      break;
    case LUA_ERRERR:
      setsvalue2s(L, oldtop, luaS_newliteral(L, "error in error handling"));
      break;
    case CLOSEPROTECT:
      setnilvalue(s2v(oldtop));
      break;
    default:
      setobjs2s(L, oldtop, L->top - 1);
      break;
  }
  L->top = oldtop + 1;
}

void luaD_throw(lua_State *L, int errcode) {
  if (L->errorJmp) {
    L->errorJmp->status = errcode;
    throw LuaThrow{errcode};
  }
  // no protection in this thread: it dies with the error
  global_State *g = G(L);
  errcode = luaF_close(L, L->stack, errcode);
  L->status = cast_byte(errcode);
  if (g->mainthread->errorJmp) { // let the main thread handle it
    setobjs2s(L, g->mainthread->top++, L->top - 1);
    luaD_throw(g->mainthread, errcode);
  }
  if (g->panic) {
    luaD_seterrorobj(L, errcode, L->top);
    if (L->ci->top < L->top) L->ci->top = L->top;
    g->panic(L);
  }
  abort();
}

int luaD_rawrunprotected(lua_State *L, Pfunc f, void *ud) {
  uint32_t oldnCcalls = L->nCcalls;
  struct lua_longjmp lj;
  lj.status = LUA_OK;
  lj.previous = L->errorJmp;
  L->errorJmp = &lj;
  try {
    (*f)(L, ud);
  } catch (const LuaThrow &t) {
    if (lj.status == LUA_OK) lj.status = (t.status != LUA_OK) ? t.status : -1;
  }
  L->errorJmp = lj.previous;
  L->nCcalls = oldnCcalls;
  return lj.status;
}

// ---------------------------------------------------------------------------------------------
// The stack

// Moves every pointer into the stack by the displacement of a reallocation. The offsets are
// taken as integers because the old block no longer exists.
static void correctstack(lua_State *L, StkId oldstack, StkId newstack) {
  uintptr_t o = (uintptr_t)oldstack;
  char *n = (char *)newstack;
#define fixp(p) ((p) = (StkId)(n + ((uintptr_t)(p) - o)))
  fixp(L->top);
  for (UpVal *up = L->openupval; up != NULL; up = up->u.open.next) fixp(up->v);
  for (CallInfo *ci = L->ci; ci != NULL; ci = ci->previous) {
    fixp(ci->top);
    fixp(ci->func);
    if (isLua(ci)) ci->u.l.trap = 1; // the interpreter must reload its base
  }
#undef fixp
}

int luaD_reallocstack(lua_State *L, int newsize, int raiseerror) {
  int lim = stacksize(L);
  StkId oldstack = L->stack;
  StkId newstack = luaM_reallocvector(L, L->stack, lim + EXTRA_STACK, newsize + EXTRA_STACK, TValue);
  if (l_unlikely(newstack == NULL)) {
    if (raiseerror) luaM_error(L);
    return 0;
  }
  for (; lim < newsize; lim++) setnilvalue(s2v(newstack + lim + EXTRA_STACK));
  correctstack(L, oldstack, newstack);
  L->stack = newstack;
  L->stack_last = L->stack + newsize;
  return 1;
}

int luaD_growstack(lua_State *L, int n, int raiseerror) {
  int size = stacksize(L);
  if (l_unlikely(size > LUAI_MAXSTACK)) {
    // already on the error stack: an error while handling the overflow
    if (raiseerror) luaD_throw(L, LUA_ERRERR);
    return 0;
  }
  int newsize = 2 * size;
  int needed = cast_int(L->top - L->stack) + n;
  if (newsize > LUAI_MAXSTACK) newsize = LUAI_MAXSTACK;
  if (newsize < needed) newsize = needed;
  if (l_likely(newsize <= LUAI_MAXSTACK)) return luaD_reallocstack(L, newsize, raiseerror);
  // give the error handler room, then report the overflow
  luaD_reallocstack(L, ERRORSTACKSIZE, raiseerror);
  if (raiseerror) luaG_runerror(L, "stack overflow");
  return 0;
}

static int stackinuse(lua_State *L) {
  StkId lim = L->top;
  for (CallInfo *ci = L->ci; ci != NULL; ci = ci->previous)
    if (lim < ci->top) lim = ci->top;
  int res = cast_int(lim - L->stack) + 1;
  if (res < LUA_MINSTACK) res = LUA_MINSTACK;
  return res;
}

void luaD_shrinkstack(lua_State *L, bool caught) {
  int inuse = stackinuse(L);
  int limit = (inuse > LUAI_MAXSTACK / 3) ? LUAI_MAXSTACK : 3 * inuse;
  // Near the limit a thread keeps what it has unless an overflow was just caught: a collection
  // can come while an overflow is still being raised, and a thread that died of one still needs
  // LUA_MINSTACK free slots above its top (the host builds its traceback there). A live thread
  // that caught the overflow goes back to the normal size, or its next overflow would be an
  // error in the error handling.
  int room = (caught && !errorstatus(L->status)) ? 0 : LUA_MINSTACK;
  if (inuse <= LUAI_MAXSTACK - room && stacksize(L) > limit) {
    int nsize = (inuse > LUAI_MAXSTACK / 2) ? LUAI_MAXSTACK : 2 * inuse;
    luaD_reallocstack(L, nsize, 0); // a failure keeps the stack as it was
  }
  luaE_shrinkCI(L);
}

void luaD_inctop(lua_State *L) {
  luaD_checkstack(L, 1);
  L->top++;
}

// ---------------------------------------------------------------------------------------------
// Hooks

void luaD_hook(lua_State *L, int event, int line, int ftransfer, int ntransfer) {
  lua_Hook hook = L->hook;
  if (hook && L->allowhook) {
    int mask = CIST_HOOKED;
    CallInfo *ci = L->ci;
    ptrdiff_t top = savestack(L, L->top);
    ptrdiff_t ci_top = savestack(L, ci->top);
    lua_Debug ar;
    ar.event = event;
    ar.currentline = line;
    ar.i_ci = ci;
    if (ntransfer != 0) {
      mask |= CIST_TRAN;
      ci->u2.transferinfo.ftransfer = cast(unsigned short, ftransfer);
      ci->u2.transferinfo.ntransfer = cast(unsigned short, ntransfer);
    }
    luaD_checkstack(L, LUA_MINSTACK);
    if (L->top + LUA_MINSTACK > ci->top) ci->top = L->top + LUA_MINSTACK;
    L->allowhook = 0; // no hooks inside a hook
    ci->callstatus |= mask;
    (*hook)(L, &ar);
    L->allowhook = 1;
    ci->top = restorestack(L, ci_top);
    L->top = restorestack(L, top);
    ci->callstatus &= ~mask;
  }
}

void luaD_hookcall(lua_State *L, CallInfo *ci) {
  int hook = (ci->callstatus & CIST_TAIL) ? LUA_HOOKTAILCALL : LUA_HOOKCALL;
  if (!(L->hookmask & LUA_MASKCALL)) return;
  Proto *p = clLvalue(s2v(ci->func))->p;
  L->top = ci->top;
  ci->u.l.savedpc++; // hooks assume the position is already advanced
  luaD_hook(L, hook, -1, 1, p->numparams);
  ci->u.l.savedpc--;
}

static void rethook(lua_State *L, CallInfo *ci, int nres) {
  if (L->hookmask & LUA_MASKRET) {
    StkId firstres = L->top - nres;
    ptrdiff_t oldtop = savestack(L, L->top);
    int delta = 0;
    if (isLua(ci)) {
      Proto *p = ci_func(ci)->p;
      if (p->is_vararg) delta = ci->u.l.nextraargs + p->numparams + 1;
      if (L->top < ci->top) L->top = ci->top; // the hook runs above the whole frame
    }
    ci->func += delta; // back to the virtual function slot
    int ftransfer = cast_int(firstres - ci->func);
    ptrdiff_t ffunc = savestack(L, ci->func);
    luaD_hook(L, LUA_HOOKRET, -1, ftransfer, nres);
    ci->func = restorestack(L, ffunc);
    ci->func -= delta;
    L->top = restorestack(L, oldtop);
  }
  if (isLua(ci = ci->previous)) L->oldpc = pcRel(ci->u.l.savedpc, ci_func(ci)->p);
}

// ---------------------------------------------------------------------------------------------
// Calls

// A __call metamethod that is not a function is called through its own __call, and so on: the
// links of such a chain go in front of the value in one step, each the first argument of the
// next, as many single steps would leave them, but with the arguments moved once and not once
// per link. A chain that has not reached a function after MAXTAGLOOP links fails at once with
// the error its ever growing arguments would end in. The stack does not move: the links taken
// are those the free slots can hold (the caller made room for one), and the caller, finding
// no function yet, makes more room and comes back for the rest.
[[gnu::noinline]] static void callchain(lua_State *L, StkId func, const TValue *first) {
  int links = 1;
  // Lookups have no side effects, so the chain found here is the one put in place below.
  for (const TValue *v = first; !ttisfunction(v); links++) {
    v = luaT_gettmbyobj(L, v, TM_CALL);
    if (ttisnil(v)) break; // cannot be called: the caller's next step raises the error
    if (l_unlikely(links == MAXTAGLOOP)) luaG_runerror(L, "stack overflow");
  }
  int room = cast_int(L->stack_last - L->top) - 1;
  if (links > room) links = room > 1 ? room : 1;
  for (StkId p = L->top; p-- > func;) setobjs2s(L, p + links, p);
  L->top += links;
  setobj2s(L, func + links - 1, first);
  for (StkId p = func + links - 1; p > func; p--)
    setobj2s(L, p - 1, luaT_gettmbyobj(L, s2v(p), TM_CALL));
}

void luaD_tryfuncTM(lua_State *L, StkId func) {
  const TValue *tm = luaT_gettmbyobj(L, s2v(func), TM_CALL);
  if (l_unlikely(ttisnil(tm))) luaG_callerror(L, s2v(func));
  if (l_unlikely(!ttisfunction(tm))) {
    callchain(L, func, tm);
    return;
  }
  for (StkId p = L->top; p > func; p--) setobjs2s(L, p, p - 1);
  L->top++; // the caller made room for it
  setobj2s(L, func, tm);
}

// Moves nres results from the top to res, adjusted to the wanted count.
static inline void moveresults(lua_State *L, StkId res, int nres, int wanted) {
  switch (wanted) {
    case 0:
      L->top = res;
      return;
    case 1:
      if (nres == 0)
        setnilvalue(s2v(res));
      else
        setobjs2s(L, res, L->top - nres);
      L->top = res + 1;
      return;
    case LUA_MULTRET:
      wanted = nres;
      break;
    default:
      if (hastocloseCfunc(wanted)) { // close the frame's to-be-closed slots first
        ptrdiff_t savedres = savestack(L, res);
        luaF_close(L, res, LUA_OK);
        res = restorestack(L, savedres);
        wanted = codeNresults(wanted);
        if (wanted == LUA_MULTRET) wanted = nres;
      }
      break;
  }
  StkId firstresult = L->top - nres;
  if (nres > wanted) nres = wanted;
  int i;
  for (i = 0; i < nres; i++) setobjs2s(L, res + i, firstresult + i);
  for (; i < wanted; i++) setnilvalue(s2v(res + i));
  L->top = res + wanted;
}

void luaD_poscall(lua_State *L, CallInfo *ci, int nres) {
  if (l_unlikely(L->hookmask)) rethook(L, ci, nres);
  L->ci = ci->previous;
  moveresults(L, ci->func, nres, ci->nresults);
}

CallInfo *luaD_precall(lua_State *L, StkId func, int nresults) {
  lua_CFunction f;
retry:
  switch (ttypetag(s2v(func))) {
    case LUA_VCCL:
      f = clCvalue(s2v(func))->f;
      goto Cfunc;
    case LUA_VLCF:
      f = fvalue(s2v(func));
    Cfunc: {
      CallInfo *ci = luaD_enternative(L, func, nresults);
      if (l_unlikely(L->hookmask & LUA_MASKCALL)) {
        int narg = cast_int(L->top - func) - 1;
        luaD_hook(L, LUA_HOOKCALL, -1, 1, narg);
      }
      int n = (*f)(L);
      if (fastyielded(L)) return NULL; // suspended in place: the callers return
      luaD_poscall(L, ci, n);
      return NULL;
    }
    case LUA_VLCL: {
      Proto *p = clLvalue(s2v(func))->p;
      int narg = cast_int(L->top - func) - 1;
      int nfixparams = p->numparams;
      int fsize = p->maxstacksize;
      checkstackGCp(L, fsize, func);
      CallInfo *ci = next_ci(L);
      L->ci = ci;
      ci->nresults = cast(short, nresults);
      ci->u.l.savedpc = p->code;
      ci->top = func + 1 + fsize;
      ci->func = func;
      ci->callstatus = 0; // a reused record must not keep an old resume mark
      for (; narg < nfixparams; narg++) setnilvalue(s2v(L->top++));
      return ci;
    }
    default: // not a function: call its __call metamethod
      checkstackGCp(L, 1, func);
      luaD_tryfuncTM(L, func);
      goto retry;
  }
}

// Returns -1 when a Lua callee has taken over the frame ci, or, for a native callee, the
// number of its results, left from func up to the top.
int luaD_pretailcall(lua_State *L, CallInfo *ci, StkId func, int narg1) {
  while (!ttisLclosure(s2v(func))) {
    if (!ttisfunction(s2v(func))) { // __call
      checkstackGCp(L, 1, func);
      luaD_tryfuncTM(L, func);
      continue;
    }
    // a native function: an ordinary call; its n results are left from func to the top
    ptrdiff_t f = savestack(L, func);
    luaD_precall(L, func, LUA_MULTRET);
    if (fastyielded(L)) return 0;
    return cast_int(L->top - restorestack(L, f));
  }
  // The callee and its arguments are all that lies above func: a __call chain puts any number
  // of links there, whoever counted them.
  narg1 = cast_int(L->top - func);
  Proto *p = clLvalue(s2v(func))->p;
  int fsize = p->maxstacksize;
  int nfixparams = p->numparams;
  for (int i = 0; i < narg1; i++) setobjs2s(L, ci->func + i, func + i);
  checkstackGC(L, fsize);
  func = ci->func;
  for (; narg1 <= nfixparams; narg1++) setnilvalue(s2v(func + narg1));
  ci->top = func + 1 + fsize;
  ci->u.l.savedpc = p->code;
  ci->callstatus = cast(unsigned short, (ci->callstatus & ~CIST_RESUMED) | CIST_TAIL);
  L->top = func + narg1;
  return -1;
}

static inline void ccall(lua_State *L, StkId func, int nResults, uint32_t inc) {
  L->nCcalls += inc;
  if (l_unlikely(getCcalls(L) >= LUAI_MAXCCALLS)) luaE_checkcstack(L);
  CallInfo *ci = luaD_precall(L, func, nResults);
  if (ci != NULL) { // a Lua function: run it in a fresh invocation
    ci->callstatus = CIST_FRESH;
    luaV_execute(L, ci);
  }
  L->nCcalls -= inc;
}

void luaD_call(lua_State *L, StkId func, int nResults) { ccall(L, func, nResults, 1); }

// A native function called from native code (a metamethod of lua_geti in a library loop, a
// gsub replacement) runs no instruction: the call is native work, and a loop of such calls meets
// the ceiling of code that cannot yield, as a loop of instructions would.
[[gnu::noinline]] static void nativecallwork(lua_State *L) {
  native_work_add(WORK_NATIVE_CALL);
  if (l_unlikely(native_work > native_work_limit) &&
      (int64_t)cpu_cycles - (int64_t)cpu_cycles_max + native_work_cycles() > NONYIELD_CEILING)
    luaG_runerror(L, "cycle budget exceeded in non-yieldable code");
}

void luaD_callnoyield(lua_State *L, StkId func, int nResults) {
  if (ttislcf(s2v(func)) || ttisCclosure(s2v(func))) nativecallwork(L);
  ccall(L, func, nResults, nyci);
}

// ---------------------------------------------------------------------------------------------
// Protected calls

struct CloseP {
  StkId level;
  int status;
};

static void closepaux(lua_State *L, void *ud) {
  CloseP *pcl = cast(CloseP *, ud);
  pcl->status = luaF_close(L, pcl->level, pcl->status);
}

int luaD_closeprotected(lua_State *L, ptrdiff_t level, int status) {
  CallInfo *old_ci = L->ci;
  lu_byte old_allowhooks = L->allowhook;
  for (;;) { // until a closing run ends without a new error
    CloseP pcl;
    pcl.level = restorestack(L, level);
    pcl.status = status;
    int st = luaD_rawrunprotected(L, &closepaux, &pcl);
    if (l_likely(st == LUA_OK)) return pcl.status;
    L->ci = old_ci;
    L->allowhook = old_allowhooks;
    status = st;
  }
}

int luaD_pcall(lua_State *L, Pfunc func, void *u, ptrdiff_t old_top, ptrdiff_t ef) {
  CallInfo *old_ci = L->ci;
  lu_byte old_allowhooks = L->allowhook;
  ptrdiff_t old_errfunc = L->errfunc;
  L->errfunc = ef;
  int status = luaD_rawrunprotected(L, func, u);
  if (l_unlikely(status != LUA_OK)) {
    L->ci = old_ci;
    L->allowhook = old_allowhooks;
    status = luaD_closeprotected(L, old_top, status);
    luaD_seterrorobj(L, status, restorestack(L, old_top));
    luaD_shrinkstack(L, true); // back from the error stack after an overflow
  }
  L->errfunc = old_errfunc;
  return status;
}

// ---------------------------------------------------------------------------------------------
// The protected parser

struct SParser {
  Zio *z;
  Mbuffer buff;
  ParserData dyd;
  const char *mode;
  const char *name;
};

static void checkmode(lua_State *L, const char *mode, const char *x) {
  if (mode && strchr(mode, x[0]) == NULL) {
    luaO_pushfstring(L, "attempt to load a %s chunk (mode is '%s')", x, mode);
    luaD_throw(L, LUA_ERRSYNTAX);
  }
}

static void f_parser(lua_State *L, void *ud) {
  LClosure *cl;
  SParser *p = cast(SParser *, ud);
  int c = zgetc(p->z);
  if (c == LUA_SIGNATURE[0]) {
    checkmode(L, p->mode, "binary");
    cl = luaU_undump(L, p->z, p->name);
  } else {
    checkmode(L, p->mode, "text");
    cl = luaY_parser(L, p->z, &p->buff, &p->dyd, p->name, c);
  }
  luaF_initupvals(L, cl);
}

int luaD_protectedparser(lua_State *L, Zio *z, const char *name, const char *mode) {
  SParser p;
  incnny(L); // a parse cannot yield
  p.z = z;
  p.name = name;
  p.mode = mode;
  p.dyd.actvar.arr = NULL;
  p.dyd.actvar.n = 0;
  p.dyd.actvar.size = 0;
  p.dyd.gt.arr = NULL;
  p.dyd.gt.n = 0;
  p.dyd.gt.size = 0;
  p.dyd.label.arr = NULL;
  p.dyd.label.n = 0;
  p.dyd.label.size = 0;
  luaZ_initbuffer(L, &p.buff);
  p.buff.n = 0;
  int status = luaD_pcall(L, f_parser, &p, savestack(L, L->top), L->errfunc);
  luaZ_freebuffer(L, &p.buff);
  luaM_freearray(L, p.dyd.actvar.arr, cast_sizet(p.dyd.actvar.size));
  luaM_freearray(L, p.dyd.gt.arr, cast_sizet(p.dyd.gt.size));
  luaM_freearray(L, p.dyd.label.arr, cast_sizet(p.dyd.label.size));
  decnny(L);
  return status;
}

// ---------------------------------------------------------------------------------------------
// Coroutines

// Completes a native frame that was interrupted by a yield (or by an error caught at its
// yieldable protected call) by calling its continuation.
static void finishCcall(lua_State *L, int status) {
  CallInfo *ci = L->ci;
  if (ci->callstatus & CIST_YPCALL) {
    ci->callstatus &= ~CIST_YPCALL;
    L->errfunc = ci->u.c.old_errfunc;
  }
  adjustresults(L, ci->nresults);
  int n = (*ci->u.c.k)(L, status, ci->u.c.ctx);
  if (fastyielded(L)) return;
  luaD_poscall(L, ci, n);
}

// Runs the frames below the one that was resumed, down to the base.
static void unroll(lua_State *L, void *ud) {
  if (ud != NULL) finishCcall(L, *(int *)ud);
  CallInfo *ci;
  while (!fastyielded(L) && (ci = L->ci) != &L->base_ci) {
    if (!isLua(ci))
      finishCcall(L, LUA_YIELD);
    else {
      luaV_finishOp(L);
      luaV_execute(L, ci);
    }
  }
}

// unroll for an error recovered at a yieldable protected call, at the depth of a resume.
static void unrollerror(lua_State *L, void *ud) {
  L->nCcalls++;
  unroll(L, ud);
}

static CallInfo *findpcall(lua_State *L) {
  for (CallInfo *ci = L->ci; ci != NULL; ci = ci->previous)
    if (ci->callstatus & CIST_YPCALL) return ci;
  return NULL;
}

static int resume_error(lua_State *L, const char *msg, int narg) {
  L->top -= narg;
  setsvalue2s(L, L->top, luaS_new(L, msg));
  L->top++;
  return LUA_ERRRUN;
}

static void resume(lua_State *L, void *ud) {
  int n = *(cast(int *, ud));
  StkId firstArg = L->top - n;
  CallInfo *ci = L->ci;
  if (L->status == LUA_OK) { // start the coroutine's body
    ccall(L, firstArg - 1, LUA_MULTRET, 1);
    return;
  }
  L->status = LUA_OK;
  luaE_incCstack(L);
  if (isLua(ci)) { // stopped by a forced yield or a yielding hook
    L->top = firstArg; // the arguments are not delivered
    // The frame's top may have been raised while it was suspended (lua_checkstack on the
    // thread, or a hook left by the yield); a Lua frame's top is fixed by its prototype.
    ci->top = ci->func + 1 + ci_func(ci)->p->maxstacksize;
    luaV_execute(L, ci);
  } else {
    if (ci->u.c.k != NULL) n = (*ci->u.c.k)(L, LUA_YIELD, ci->u.c.ctx);
    if (fastyielded(L)) return;
    luaD_poscall(L, ci, n);
  }
  unroll(L, NULL);
}

int lua_resume(lua_State *L, lua_State *from, int nargs, int *nresults) {
  if (L->status == LUA_OK) {
    if (L->ci != &L->base_ci) return resume_error(L, "cannot resume non-suspended coroutine", nargs);
    if (L->top - (L->ci->func + 1) == nargs) return resume_error(L, "cannot resume dead coroutine", nargs);
  } else if (L->status != LUA_YIELD)
    return resume_error(L, "cannot resume dead coroutine", nargs);
  L->nCcalls = (from) ? getCcalls(from) : 0;
  ResumeMark outer = resume_mark;
  resume_mark.L = L;
  resume_mark.depth = L->nCcalls + 1; // resume and unroll run the frames one level deeper
  int status = luaD_rawrunprotected(L, resume, &nargs);
  if (status == LUA_OK && L->status == LUA_YIELD) status = LUA_YIELD; // a returned yield
  // continue after errors caught by yieldable protected calls
  CallInfo *ci;
  while (errorstatus(status) && (ci = findpcall(L)) != NULL) {
    L->ci = ci;
    L->allowhook = getoah(ci->callstatus);
    status = luaD_closeprotected(L, ci->u2.funcidx, status);
    StkId oldtop = restorestack(L, ci->u2.funcidx);
    luaD_seterrorobj(L, status, oldtop);
    luaD_shrinkstack(L, true);
    L->errfunc = ci->u.c.old_errfunc;
    status = luaD_rawrunprotected(L, unrollerror, &status);
    if (status == LUA_OK && L->status == LUA_YIELD) status = LUA_YIELD;
  }
  resume_mark = outer;
  if (l_likely(!errorstatus(status))) {
    // normal end or yield
  } else { // the thread dies
    L->status = cast_byte(status);
    luaD_seterrorobj(L, status, L->top);
    L->ci->top = L->top;
  }
  *nresults = (status == LUA_YIELD) ? L->ci->u2.nyield : cast_int(L->top - (L->ci->func + 1));
  return status;
}

int lua_isyieldable(lua_State *L) { return yieldable(L); }

// A forced yield of a Lua frame that runs at the resume's own depth, outside any hook: the
// interpreter returns instead of throwing, as a native yield there does.
int luaD_yieldinplace(lua_State *L) {
  return L == resume_mark.L && L->nCcalls == resume_mark.depth && L->allowhook;
}

int lua_yieldk(lua_State *L, int nresults, lua_KContext ctx, lua_KFunction k) {
  CallInfo *ci = L->ci;
  if (l_unlikely(!yieldable(L))) {
    if (L != G(L)->mainthread)
      luaG_runerror(L, "attempt to yield across a C-call boundary");
    else
      luaG_runerror(L, "attempt to yield from outside a coroutine");
  }
  L->status = LUA_YIELD;
  if (isLua(ci)) { // a hook or the budget: the caller throws (or returns: luaD_yieldinplace)
    ci->u2.nyield = 0;
    return 0;
  }
  ci->u2.nyield = nresults;
  ci->u.c.k = k;
  if (k != NULL) ci->u.c.ctx = ctx;
  // Called at the resume's depth, outside any hook: the callers unwind by returning.
  if (L == resume_mark.L && L->nCcalls == resume_mark.depth && L->allowhook) return nresults;
  luaD_throw(L, LUA_YIELD);
}

// ---------------------------------------------------------------------------------------------
// Calls and loading through the interface

static StkId errfuncslot(lua_State *L, int idx) {
  if (idx > 0) return L->ci->func + idx;
  return L->top + idx;
}

void lua_callk(lua_State *L, int nargs, int nresults, lua_KContext ctx, lua_KFunction k) {
  StkId func = L->top - (nargs + 1);
  if (k != NULL && yieldable(L)) { // the call may yield and continue in k
    L->ci->u.c.k = k;
    L->ci->u.c.ctx = ctx;
    luaD_call(L, func, nresults);
  } else
    luaD_callnoyield(L, func, nresults);
  adjustresults(L, nresults);
}

struct CallS {
  StkId func;
  int nresults;
};

static void f_call(lua_State *L, void *ud) {
  CallS *c = cast(CallS *, ud);
  luaD_callnoyield(L, c->func, c->nresults);
}

int lua_pcallk(lua_State *L, int nargs, int nresults, int errfunc, lua_KContext ctx,
               lua_KFunction k) {
  CallS c;
  int status;
  ptrdiff_t func = (errfunc == 0) ? 0 : savestack(L, errfuncslot(L, errfunc));
  c.func = L->top - (nargs + 1);
  if (k == NULL || !yieldable(L)) { // an ordinary protected call
    c.nresults = nresults;
    status = luaD_pcall(L, f_call, &c, savestack(L, c.func), func);
  } else {
    // A yieldable protected call: yields pass through to lua_resume, and an error after a
    // yield (when this native frame no longer exists) is recovered there at this record.
    CallInfo *ci = L->ci;
    ci->u.c.k = k;
    ci->u.c.ctx = ctx;
    ci->u2.funcidx = cast_int(savestack(L, c.func));
    ci->u.c.old_errfunc = L->errfunc;
    L->errfunc = func;
    setoah(ci->callstatus, L->allowhook);
    ci->callstatus |= CIST_YPCALL;
    lua_longjmp *jmp = L->errorJmp;
    uint32_t oldnCcalls = L->nCcalls;
    status = LUA_OK;
    try {
      luaD_call(L, c.func, nresults);
    } catch (const LuaThrow &t) {
      // An error while this frame still runs is recovered right here, the way lua_resume
      // would recover it, without unwinding the whole thread first.
      if (jmp == NULL || L->errorJmp != jmp || !errorstatus(jmp->status)) throw;
      status = jmp->status;
      jmp->status = LUA_OK; // the resume's record has not failed
      L->nCcalls = oldnCcalls;
      L->ci = ci;
      L->allowhook = getoah(ci->callstatus);
      status = luaD_closeprotected(L, ci->u2.funcidx, status);
      luaD_seterrorobj(L, status, restorestack(L, ci->u2.funcidx));
      luaD_shrinkstack(L, true);
    }
    ci->callstatus &= ~CIST_YPCALL;
    L->errfunc = ci->u.c.old_errfunc;
  }
  adjustresults(L, nresults);
  return status;
}

int lua_load(lua_State *L, lua_Reader reader, void *data, const char *chunkname, const char *mode) {
  Zio z;
  if (!chunkname) chunkname = "?";
  luaZ_init(L, &z, reader, data);
  int status = luaD_protectedparser(L, &z, chunkname, mode);
  if (status == LUA_OK) {
    LClosure *f = clLvalue(s2v(L->top - 1));
    if (f->nupvalues >= 1) { // the first upvalue is the globals table
      // A program can empty the registry's array part through debug.getregistry.
      const TValue *gt = luaH_getint(hvalue(&G(L)->l_registry), LUA_RIDX_GLOBALS);
      setobj(L, f->upvals[0]->v, gt);
      luaC_barrier(L, f->upvals[0], gt);
    }
  }
  return status;
}
