// The collector: incremental tri-colour mark and sweep, the generational mode, weak tables,
// ephemerons and finalizers. Paced by the bytes the engine requests (GCdebt).
#include "lua/gc.h"

#include <cstdarg>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/do.h"
#include "lua/func.h"
#include "lua/mem.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/tm.h"

// Sweep at most this many objects per step.
#define GCSWEEPMAX 100
// Finalizers run per step, and the work each one counts for.
#define GCFINMAX 10
#define GCFINALIZECOST 50
// Bytes of debt per unit of work.
#define WORK2MEM ((l_mem)sizeof(TValue))
// The pause is a percentage of the estimate.
#define PAUSEADJ 100

#define maskcolors (bitmask(BLACKBIT) | WHITEBITS)
#define maskgcbits (maskcolors | AGEBITS)

#define makewhite(g, x) ((x)->marked = cast_byte(((x)->marked & ~maskcolors) | luaC_white(g)))
#define set2gray(x) resetbits((x)->marked, maskcolors)
#define set2black(x) ((x)->marked = cast_byte(((x)->marked & ~WHITEBITS) | bitmask(BLACKBIT)))

#define MARK_AHEAD 8u
#define prefetchvalue(v) \
  { \
    if (iscollectable(v)) __builtin_prefetch(gcvalue(v), 1); \
  }
#define valiswhite(x) (iscollectable(x) && iswhite(gcvalue(x)))
#define keyiswhite(n) (keyiscollectable(n) && iswhite(gckey(n)))
#define gcvalueN(o) (iscollectable(o) ? gcvalue(o) : NULL)

// Strings (the commonest values) turn black here without a call.
#define markvalue(g, o) \
  { \
    if (valiswhite(o)) { \
      if (ttisstring(o)) \
        set2black(gcvalue(o)); \
      else \
        reallymarkobject(g, gcvalue(o)); \
    } \
  }
#define markkey(g, n) \
  { \
    if (keyiswhite(n)) { \
      if (novariant(keytt(n)) == LUA_TSTRING) \
        set2black(gckey(n)); \
      else \
        reallymarkobject(g, gckey(n)); \
    } \
  }
#define markobject(g, t) \
  { if (iswhite(t)) reallymarkobject(g, obj2gco(t)); }
#define markobjectN(g, t) \
  { if (t) markobject(g, t); }

#define gnodelast(h) gnode(h, cast_sizet(sizenode(h)))

// The collector's work counts as native work of the running slice: the units of its step
// accounting, and each object it traverses or sweeps (what a small object costs lies mostly
// in reaching it). Tallied here and added to the meter once per step or collection. The
// collections that a stress build runs at every allocation are not the program's; a step
// that it asks for through lua_gc is.
static lu_mem gcunits = 0, gcvisits = 0;
#ifdef HALVORAN_GC_STRESS
static int stress_collection = 0, requested_step = 0;
#endif
static void meterwork() {
  int64_t units = cast(int64_t, gcunits) * WORK_GC_UNIT + cast(int64_t, gcvisits) * WORK_GC_OBJECT;
  gcunits = gcvisits = 0;
#ifdef HALVORAN_GC_STRESS
  if (stress_collection) return;
#endif
  native_work_add(units);
}

// The global record has no spare byte, so the "finalizers are running" flag lives in the main
// thread's spare mark bit, which the collector never repaints and which no object else uses.
#define INFINBIT TESTBIT
#define infinalizer(g) testbit((g)->mainthread->marked, INFINBIT)

static void reallymarkobject(global_State *g, GCObject *o);
static lu_mem atomic(lua_State *L);
static void entersweep(lua_State *L);

// ---------------------------------------------------------------------------------------------
// Gray lists

static GCObject **getgclist(GCObject *o) {
  switch (o->tt) {
    case LUA_VTABLE: return &gco2t(o)->gclist;
    case LUA_VLCL: return &gco2lcl(o)->gclist;
    case LUA_VCCL: return &gco2ccl(o)->gclist;
    case LUA_VTHREAD: return &gco2th(o)->gclist;
    case LUA_VPROTO: return &gco2p(o)->gclist;
    case LUA_VUSERDATA: return &gco2u(o)->gclist;
    default: lua_assert(0); return NULL;
  }
}

static void linkgclist_(GCObject *o, GCObject **pnext, GCObject **list) {
  lua_assert(!isgray(o));
  *pnext = *list;
  *list = o;
  set2gray(o);
}

#define linkgclist(o, p) linkgclist_(obj2gco(o), &(o)->gclist, &(p))
#define linkobjgclist(o, p) linkgclist_(obj2gco(o), getgclist(o), &(p))

// An empty entry's collectable key becomes a dead key (luaH_next still finds it).
static void clearkey(Node *n) {
  lua_assert(isempty(gval(n)));
  if (keyiscollectable(n)) setdeadkey(n);
}

// True when a weak entry refers to a collectable object that is not marked. Strings are
// values, never weak: they are marked instead.
static int iscleared(global_State *g, GCObject *o) {
  if (o == NULL) return 0;
  if (novariant(o->tt) == LUA_TSTRING) {
    markobject(g, o);
    return 0;
  }
  return iswhite(o);
}

// ---------------------------------------------------------------------------------------------
// Barriers

void luaC_barrier_(lua_State *L, GCObject *o, GCObject *v) {
  global_State *g = G(L);
  lua_assert(isblack(o) && iswhite(v) && !isdead(g, v) && !isdead(g, o));
  if (keepinvariant(g)) {
    reallymarkobject(g, v);
    if (isold(o)) {
      lua_assert(!isold(v));
      setage(v, G_OLD0);
    }
  } else {
    lua_assert(issweepphase(g));
    // Sweeping: whitening 'o' avoids further barriers until the sweep reaches it.
    if (g->gckind == KGC_INC) makewhite(g, o);
  }
}

void luaC_barrierback_(lua_State *L, GCObject *o) {
  global_State *g = G(L);
  lua_assert(isblack(o) && !isdead(g, o));
  if (getage(o) == G_TOUCHED2)
    set2gray(o); // already in a gray list
  else
    linkobjgclist(o, g->grayagain);
  if (isold(o)) setage(o, G_TOUCHED1);
}

void luaC_fix(lua_State *L, GCObject *o) {
  global_State *g = G(L);
  GCObject **p = &g->allgc;
  while (*p != NULL && *p != o) p = &(*p)->next;
  if (*p == NULL) return; // not in the all-objects list (already fixed)
  set2gray(o);
  setage(o, G_OLD);
  *p = o->next;
  o->next = g->fixedgc;
  g->fixedgc = o;
}

GCObject *luaC_newobj(lua_State *L, int tt, size_t sz, size_t charge) {
  global_State *g = G(L);
  GCObject *o = cast(GCObject *, luaM_malloc_(L, sz, novariant(tt), charge));
  o->marked = luaC_white(g);
  o->tt = cast_byte(tt);
  o->next = g->allgc;
  g->allgc = o;
  return o;
}

// ---------------------------------------------------------------------------------------------
// Marking

static void reallymarkobject(global_State *g, GCObject *o) {
  switch (o->tt) {
    case LUA_VSHRSTR:
    case LUA_VLNGSTR: set2black(o); break;
    case LUA_VUPVAL: {
      UpVal *uv = gco2upv(o);
      if (upisopen(uv))
        set2gray(uv); // open upvalues stay gray
      else
        set2black(uv);
      markvalue(g, uv->v);
      break;
    }
    case LUA_VUSERDATA: {
      Udata *u = gco2u(o);
      if (u->nuvalue == 0) {
        markobjectN(g, u->metatable);
        set2black(u);
        break;
      }
      linkobjgclist(o, g->gray);
      break;
    }
    case LUA_VLCL:
    case LUA_VCCL:
    case LUA_VTABLE:
    case LUA_VTHREAD:
    case LUA_VPROTO: linkobjgclist(o, g->gray); break;
    default: lua_assert(0); break;
  }
}

static void markmt(global_State *g) {
  for (int i = 0; i < LUA_NUMTYPES; i++) markobjectN(g, g->mt[i]);
}

// Objects waiting for their finalizers stay alive.
static lu_mem markbeingfnz(global_State *g) {
  lu_mem count = 0;
  for (GCObject *o = g->tobefnz; o != NULL; o = o->next) {
    count++;
    markobject(g, o);
  }
  return count;
}

// Open upvalues of threads that are not marked (or have lost their upvalues) are not
// traversed through their thread: mark their values here, and drop such threads from the
// list of threads with upvalues.
static lu_mem remarkupvals(global_State *g) {
  lua_State *thread;
  lua_State **p = &g->twups;
  lu_mem work = 0;
  while ((thread = *p) != NULL) {
    work++;
    if (!iswhite(thread) && thread->openupval != NULL)
      p = &thread->twups;
    else {
      *p = thread->twups;
      thread->twups = thread; // out of the list
      for (UpVal *uv = thread->openupval; uv != NULL; uv = uv->u.open.next) {
        work++;
        if (!iswhite(uv)) markvalue(g, uv->v);
      }
    }
  }
  return work;
}

static void cleargraylists(global_State *g) {
  g->gray = g->grayagain = NULL;
  g->weak = g->allweak = g->ephemeron = NULL;
}

static void restartcollection(global_State *g) {
  cleargraylists(g);
  markobject(g, g->mainthread);
  markvalue(g, &g->l_registry);
  markmt(g);
  markbeingfnz(g);
}

// ---------------------------------------------------------------------------------------------
// Traversals

// In generational mode, a black object touched in this cycle goes back to 'grayagain'; one
// touched in the previous cycle becomes old.
static void genlink(global_State *g, GCObject *o) {
  lua_assert(isblack(o));
  if (getage(o) == G_TOUCHED1)
    linkobjgclist(o, g->grayagain);
  else if (getage(o) == G_TOUCHED2)
    changeage(o, G_TOUCHED2, G_OLD);
}

static void traverseweakvalue(global_State *g, Table *h) {
  Node *n, *limit = gnodelast(h);
  // an array part may hold white values; not worth checking now
  int hasclears = (h->alimit > 0);
  for (n = gnode(h, 0); n < limit; n++) {
    if (isempty(gval(n)))
      clearkey(n);
    else {
      markkey(g, n);
      if (!hasclears && iscleared(g, gcvalueN(gval(n)))) hasclears = 1;
    }
  }
  if (g->gcstate == GCSatomic && hasclears)
    linkgclist(h, g->weak); // to be cleared
  else
    linkgclist(h, g->grayagain); // revisit in the atomic phase
}

// Marks the values of entries whose keys are marked. Returns true when it marked something.
// 'inv' traverses the hash part backwards (alternated to converge faster on chains).
static int traverseephemeron(global_State *g, Table *h, int inv) {
  int marked = 0;
  int hasclears = 0; // white keys
  int hasww = 0;     // white key -> white value
  unsigned int asize = luaH_realasize(h);
  unsigned int nsize = sizenode(h);
  for (unsigned int i = 0; i < asize; i++) {
    if (valiswhite(&h->array[i])) {
      marked = 1;
      reallymarkobject(g, gcvalue(&h->array[i]));
    }
  }
  for (unsigned int i = 0; i < nsize; i++) {
    Node *n = inv ? gnode(h, nsize - 1 - i) : gnode(h, i);
    if (isempty(gval(n)))
      clearkey(n);
    else if (iscleared(g, gckeyN(n))) {
      hasclears = 1;
      if (valiswhite(gval(n))) hasww = 1;
    } else if (valiswhite(gval(n))) {
      marked = 1;
      reallymarkobject(g, gcvalue(gval(n)));
    }
  }
  if (g->gcstate == GCSpropagate)
    linkgclist(h, g->grayagain);
  else if (hasww)
    linkgclist(h, g->ephemeron);
  else if (hasclears)
    linkgclist(h, g->allweak);
  else
    genlink(g, obj2gco(h));
  return marked;
}

static void traversestrongtable(global_State *g, Table *h) {
  Node *n, *limit = gnodelast(h);
  unsigned int asize = luaH_realasize(h);
  // Marking reads each child's header, which is usually cold: asking for the next few
  // children ahead lets those misses overlap instead of coming one after another.
  TValue *array = h->array;
  unsigned int ahead = asize < MARK_AHEAD ? asize : MARK_AHEAD;
  for (unsigned int i = 0; i < ahead; i++) prefetchvalue(&array[i]);
  for (unsigned int i = 0; i < asize; i++) {
    if (i + MARK_AHEAD < asize) prefetchvalue(&array[i + MARK_AHEAD]);
    markvalue(g, &array[i]);
  }
  for (n = gnode(h, 0); n < limit; n++) {
    if (n + MARK_AHEAD < limit) prefetchvalue(gval(n + MARK_AHEAD));
    if (isempty(gval(n)))
      clearkey(n);
    else {
      markkey(g, n);
      markvalue(g, gval(n));
    }
  }
  genlink(g, obj2gco(h));
}

static lu_mem traversetable(global_State *g, Table *h) {
  const char *weakkey = NULL, *weakvalue = NULL;
  const TValue *mode = gfasttm(g, h->metatable, TM_MODE);
  markobjectN(g, h->metatable);
  if (mode && ttisstring(mode)) {
    weakkey = strchr(svalue(mode), 'k');
    weakvalue = strchr(svalue(mode), 'v');
  }
  if (weakkey || weakvalue) {
    if (!weakkey)
      traverseweakvalue(g, h);
    else if (!weakvalue)
      traverseephemeron(g, h, 0);
    else
      linkgclist(h, g->allweak); // nothing to mark now
  } else
    traversestrongtable(g, h);
  return 1 + h->alimit + 2 * allocsizenode(h);
}

static int traverseudata(global_State *g, Udata *u) {
  markobjectN(g, u->metatable);
  for (int i = 0; i < u->nuvalue; i++) markvalue(g, &u->uv[i].uv);
  genlink(g, obj2gco(u));
  return 1 + u->nuvalue;
}

static int traverseproto(global_State *g, Proto *f) {
  markobjectN(g, f->source);
  for (int i = 0; i < f->sizek; i++) markvalue(g, &f->k[i]);
  for (int i = 0; i < f->sizeupvalues; i++) markobjectN(g, f->upvalues[i].name);
  for (int i = 0; i < f->sizep; i++) markobjectN(g, f->p[i]);
  for (int i = 0; i < f->sizelocvars; i++) markobjectN(g, f->locvars[i].varname);
  return 1 + f->sizek + f->sizeupvalues + f->sizep + f->sizelocvars;
}

static int traverseCclosure(global_State *g, CClosure *cl) {
  for (int i = 0; i < cl->nupvalues; i++) markvalue(g, &cl->upvalue[i]);
  return 1 + cl->nupvalues;
}

static int traverseLclosure(global_State *g, LClosure *cl) {
  markobjectN(g, cl->p);
  for (int i = 0; i < cl->nupvalues; i++) {
    UpVal *uv = cl->upvals[i];
    markobjectN(g, uv);
  }
  return 1 + cl->nupvalues;
}

// Threads are always revisited in the atomic phase (their stacks change without barriers).
// There the dead part of the stack is cleared and, outside emergencies, the stack and the
// CallInfo list are shrunk: an emergency collection may run inside a reallocation of the very
// stack it would shrink.
static int traversethread(global_State *g, lua_State *th) {
  StkId o = th->stack;
  if (isold(th) || g->gcstate == GCSpropagate) linkgclist(th, g->grayagain);
  if (o == NULL) return 1; // stack not built yet
  for (; o < th->top; o++) markvalue(g, s2v(o));
  for (UpVal *uv = th->openupval; uv != NULL; uv = uv->u.open.next) markobject(g, uv);
  if (g->gcstate == GCSatomic) {
    for (; o < th->stack_last + EXTRA_STACK; o++) setnilvalue(s2v(o));
    if (!isintwups(th) && th->openupval != NULL) { // 'remarkupvals' may have dropped it
      th->twups = g->twups;
      g->twups = th;
    }
    if (!g->gcemergency) luaD_shrinkstack(th, false);
  }
  return 1 + stacksize(th);
}

static lu_mem propagatemark(global_State *g) {
  GCObject *o = g->gray;
  gcvisits++;
  nw2black(o);
  g->gray = *getgclist(o);
  switch (o->tt) {
    case LUA_VTABLE: return traversetable(g, gco2t(o));
    case LUA_VUSERDATA: return traverseudata(g, gco2u(o));
    case LUA_VLCL: return traverseLclosure(g, gco2lcl(o));
    case LUA_VCCL: return traverseCclosure(g, gco2ccl(o));
    case LUA_VPROTO: return traverseproto(g, gco2p(o));
    case LUA_VTHREAD: return traversethread(g, gco2th(o));
    default: lua_assert(0); return 0;
  }
}

static lu_mem propagateall(global_State *g) {
  lu_mem tot = 0;
  while (g->gray) tot += propagatemark(g);
  return tot;
}

// Traverses the ephemeron tables until no more value gets marked.
static void convergeephemerons(global_State *g) {
  int changed;
  int dir = 0;
  do {
    GCObject *w;
    GCObject *next = g->ephemeron;
    g->ephemeron = NULL; // tables may come back while traversed
    changed = 0;
    while ((w = next) != NULL) {
      Table *h = gco2t(w);
      next = h->gclist;
      nw2black(h);
      gcunits += 1 + luaH_realasize(h) + sizenode(h); // each pass may traverse them all again
      if (traverseephemeron(g, h, dir)) {
        gcunits += propagateall(g);
        changed = 1;
      }
    }
    dir = !dir;
  } while (changed);
}

// ---------------------------------------------------------------------------------------------
// Clearing weak tables

static void clearbykeys(global_State *g, GCObject *l) {
  for (; l; l = gco2t(l)->gclist) {
    Table *h = gco2t(l);
    Node *limit = gnodelast(h);
    for (Node *n = gnode(h, 0); n < limit; n++) {
      if (iscleared(g, gckeyN(n))) setempty(gval(n));
      if (isempty(gval(n))) clearkey(n);
    }
  }
}

// Clears dead values from the tables of list 'l' up to (not including) 'f'.
static void clearbyvalues(global_State *g, GCObject *l, GCObject *f) {
  for (; l != f; l = gco2t(l)->gclist) {
    Table *h = gco2t(l);
    Node *limit = gnodelast(h);
    unsigned int asize = luaH_realasize(h);
    for (unsigned int i = 0; i < asize; i++) {
      TValue *o = &h->array[i];
      if (iscleared(g, gcvalueN(o))) setempty(o);
    }
    for (Node *n = gnode(h, 0); n < limit; n++) {
      if (iscleared(g, gcvalueN(gval(n)))) setempty(gval(n));
      if (isempty(gval(n))) clearkey(n);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Freeing and sweeping

static void freeupval(lua_State *L, UpVal *uv) {
  if (upisopen(uv)) luaF_unlinkupval(uv);
  luaM_free_(L, uv, 40);
}

static void freeobj(lua_State *L, GCObject *o) {
  switch (o->tt) {
    case LUA_VPROTO: luaF_freeproto(L, gco2p(o)); break;
    case LUA_VUPVAL: freeupval(L, gco2upv(o)); break;
    case LUA_VLCL: {
      LClosure *cl = gco2lcl(o);
      luaM_free_(L, cl, sizeLclosure_(cl->nupvalues));
      break;
    }
    case LUA_VCCL: {
      CClosure *cl = gco2ccl(o);
      luaM_free_(L, cl, sizeCclosure_(cl->nupvalues));
      break;
    }
    case LUA_VTABLE: luaH_free(L, gco2t(o)); break;
    case LUA_VTHREAD: luaE_freethread(L, gco2th(o)); break;
    case LUA_VUSERDATA: {
      Udata *u = gco2u(o);
      luaM_free_(L, o, sizeudata(u->nuvalue, u->len));
      break;
    }
    case LUA_VSHRSTR: {
      TString *ts = gco2ts(o);
      luaS_remove(L, ts);
      luaM_free_(L, ts, sizelstring(ts->shrlen));
      break;
    }
    case LUA_VLNGSTR: {
      TString *ts = gco2ts(o);
      luaM_free_(L, ts, sizelstring(ts->u.lnglen));
      break;
    }
    default: lua_assert(0);
  }
}

// Sweeps at most 'countin' objects of a list: frees the dead ones and paints the others with
// the current white. Returns where to continue, or NULL at the end of the list.
static GCObject **sweeplist(lua_State *L, GCObject **p, int countin, int *countout) {
  global_State *g = G(L);
  int ow = otherwhite(g);
  int white = luaC_white(g);
  int i;
  for (i = 0; *p != NULL && i < countin; i++) {
    GCObject *curr = *p;
    int marked = curr->marked;
    __builtin_prefetch(curr->next, 1); // the next step reads it; a list's objects lie apart
    if (isdeadm(ow, marked)) {
      *p = curr->next;
      freeobj(L, curr);
    } else {
      curr->marked = cast_byte((marked & ~maskgcbits) | white);
      p = &curr->next;
    }
  }
  gcvisits += i;
  if (countout) *countout = i;
  return (*p == NULL) ? NULL : p;
}

// Sweeps until a live object is found (or the list ends).
static GCObject **sweeptolive(lua_State *L, GCObject **p) {
  GCObject **old = p;
  do {
    p = sweeplist(L, p, 1, NULL);
  } while (p == old);
  return p;
}

// Halves the string table when it is less than a quarter full (never in an emergency: the
// collector must not allocate then).
static void checkSizes(lua_State *L, global_State *g) {
  if (!g->gcemergency) {
    if (g->strt.nuse < g->strt.size / 4) {
      l_mem olddebt = g->GCdebt;
      luaS_resize(L, g->strt.size / 2);
      g->GCestimate += g->GCdebt - olddebt;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Finalizers

// Takes the first object waiting for its finalizer back into the all-objects list.
static GCObject *udata2finalize(global_State *g) {
  GCObject *o = g->tobefnz;
  lua_assert(tofinalize(o));
  g->tobefnz = o->next;
  o->next = g->allgc;
  g->allgc = o;
  resetbit(o->marked, FINALIZEDBIT);
  if (issweepphase(g))
    makewhite(g, o);
  else if (getage(o) == G_OLD1)
    g->firstold1 = o;
  return o;
}

static void dothecall(lua_State *L, void *ud) {
  UNUSED(ud);
  luaD_callnoyield(L, L->top - 2, 0);
}

static void GCTM(lua_State *L) {
  global_State *g = G(L);
  TValue v;
  lua_assert(!g->gcemergency);
  setgcovalue(L, &v, udata2finalize(g));
  const TValue *tm = luaT_gettmbyobj(L, &v, TM_GC);
  if (!notm(tm)) {
    lu_byte oldah = L->allowhook;
    lu_byte running = g->gcrunning;
    // The thread may be suspended (the kernel collects between frames while the program is
    // yielded): the finalizer is an ordinary call on it, not a yield in progress.
    lu_byte oldstatus = L->status;
    L->status = LUA_OK;
    int wasinfin = infinalizer(g);
    L->allowhook = 0;  // no hooks inside a finalizer
    g->gcrunning = 0;  // no collector steps either
    l_setbit(g->mainthread->marked, INFINBIT);
    setobj2s(L, L->top, tm);
    L->top++;
    setobj2s(L, L->top, &v);
    L->top++;
    L->ci->callstatus |= CIST_FIN;
    int status = luaD_pcall(L, dothecall, NULL, savestack(L, L->top - 2), 0);
    L->ci->callstatus &= ~CIST_FIN;
    L->allowhook = oldah;
    g->gcrunning = running;
    L->status = oldstatus;
    if (!wasinfin) resetbit(g->mainthread->marked, INFINBIT);
    if (l_unlikely(status != LUA_OK)) {
      luaE_warnerror(L, "__gc metamethod");
      L->top--; // pops the error object
    }
  }
}

static int runafewfinalizers(lua_State *L, int n) {
  global_State *g = G(L);
  int i;
  for (i = 0; i < n && g->tobefnz; i++) GCTM(L);
  return i;
}

static void callallpendingfinalizers(lua_State *L) {
  global_State *g = G(L);
  while (g->tobefnz) GCTM(L);
}

static GCObject **findlast(GCObject **p) {
  while (*p != NULL) p = &(*p)->next;
  return p;
}

// Moves the unreachable objects with finalizers (all of them when 'all') to the end of the
// to-be-finalized list. 'finobj' holds the most recently marked first, so finalizers run in
// the reverse order of marking.
static void separatetobefnz(global_State *g, int all) {
  GCObject *curr;
  GCObject **p = &g->finobj;
  GCObject **lastnext = findlast(&g->tobefnz);
  while ((curr = *p) != g->finobjold1) { // the old part cannot hold dead objects
    lua_assert(tofinalize(curr));
    if (!(iswhite(curr) || all))
      p = &curr->next;
    else {
      if (curr == g->finobjsur) g->finobjsur = curr->next;
      *p = curr->next;
      curr->next = *lastnext;
      *lastnext = curr;
      lastnext = &curr->next;
    }
  }
}

static void checkpointer(GCObject **p, GCObject *o) {
  if (o == *p) *p = o->next;
}

// Moves the generational boundaries off an object leaving the all-objects list.
static void correctpointers(global_State *g, GCObject *o) {
  checkpointer(&g->survival, o);
  checkpointer(&g->old1, o);
  checkpointer(&g->reallyold, o);
  checkpointer(&g->firstold1, o);
}

void luaC_checkfinalizer(lua_State *L, GCObject *o, Table *mt) {
  global_State *g = G(L);
  if (tofinalize(o) || gfasttm(g, mt, TM_GC) == NULL) return;
  if (issweepphase(g)) {
    makewhite(g, o); // "sweep" it now
    if (g->sweepgc == &o->next) g->sweepgc = sweeptolive(L, g->sweepgc);
  } else
    correctpointers(g, o);
  GCObject **p;
  for (p = &g->allgc; *p != o; p = &(*p)->next) {
  }
  *p = o->next;
  o->next = g->finobj;
  g->finobj = o;
  l_setbit(o->marked, FINALIZEDBIT);
}

int luaC_infinalizer(lua_State *L) { return infinalizer(G(L)) != 0; }

// ---------------------------------------------------------------------------------------------
// Pacing

// Sets the debt so that the next cycle starts when the total reaches estimate × pause / 100.
static void setpause(global_State *g) {
  l_mem threshold, debt;
  l_mem pause = getgcparam(g->gcpause);
  l_mem estimate = cast(l_mem, g->GCestimate / PAUSEADJ);
  if (estimate <= 0) estimate = 1;
  threshold = (pause < MAX_LMEM / estimate) ? estimate * pause : MAX_LMEM;
  debt = cast(l_mem, gettotalbytes(g)) - threshold;
  if (debt > 0) debt = 0;
  luaE_setdebt(g, debt);
}

// ---------------------------------------------------------------------------------------------
// Generational mode

static void setminordebt(global_State *g) {
  luaE_setdebt(g, -(cast(l_mem, (gettotalbytes(g) / 100)) * g->genminormul));
}

// Sweeps a young part of a list (up to 'limit'), freeing dead objects and ageing the others.
// Records in *pfirstold1 the first object that becomes old1.
static GCObject **sweepgen(lua_State *L, global_State *g, GCObject **p, GCObject *limit,
                           GCObject **pfirstold1) {
  static const lu_byte nextage[] = {
      G_SURVIVAL, // from G_NEW
      G_OLD1,     // from G_SURVIVAL
      G_OLD1,     // from G_OLD0
      G_OLD,      // from G_OLD1
      G_OLD,      // from G_OLD
      G_TOUCHED1, // from G_TOUCHED1 (unchanged)
      G_TOUCHED2  // from G_TOUCHED2 (unchanged)
  };
  int white = luaC_white(g);
  GCObject *curr;
  lu_mem count = 0;
  while ((curr = *p) != limit) {
    count++;
    if (iswhite(curr)) {
      lua_assert(!isold(curr) && isdead(g, curr));
      *p = curr->next;
      freeobj(L, curr);
    } else {
      if (getage(curr) == G_NEW) { // new objects go back to white
        int marked = curr->marked & ~maskgcbits;
        curr->marked = cast_byte(marked | G_SURVIVAL | white);
      } else { // the others become older and keep their colour
        setage(curr, nextage[getage(curr)]);
        if (getage(curr) == G_OLD1 && *pfirstold1 == NULL) *pfirstold1 = curr;
      }
      p = &curr->next;
    }
  }
  gcvisits += count;
  return p;
}

static void whitelist(global_State *g, GCObject *p) {
  int white = luaC_white(g);
  lu_mem count = 0;
  for (; p != NULL; p = p->next, count++)
    p->marked = cast_byte((p->marked & ~maskgcbits) | white);
  gcvisits += count;
}

// Keeps in a gray list only what the next cycle must see: objects touched in this cycle
// (which become touched2 and black) and threads. Touched2 objects become old.
static GCObject **correctgraylist(GCObject **p) {
  GCObject *curr;
  while ((curr = *p) != NULL) {
    GCObject **next = getgclist(curr);
    if (iswhite(curr)) {
      *p = *next; // remove
      continue;
    } else if (getage(curr) == G_TOUCHED1) {
      lua_assert(isgray(curr));
      nw2black(curr);
      changeage(curr, G_TOUCHED1, G_TOUCHED2);
    } else if (curr->tt == LUA_VTHREAD) {
      lua_assert(isgray(curr));
    } else {
      lua_assert(isold(curr));
      if (getage(curr) == G_TOUCHED2) changeage(curr, G_TOUCHED2, G_OLD);
      nw2black(curr);
      *p = *next; // remove
      continue;
    }
    p = next;
  }
  return p;
}

static void correctgraylists(global_State *g) {
  GCObject **list = correctgraylist(&g->grayagain);
  *list = g->weak;
  g->weak = NULL;
  list = correctgraylist(list);
  *list = g->allweak;
  g->allweak = NULL;
  list = correctgraylist(list);
  *list = g->ephemeron;
  g->ephemeron = NULL;
  correctgraylist(list);
}

// Old1 objects become old; the black ones are marked again so that what they refer to (which
// may be young) is traversed.
static void markold(global_State *g, GCObject *from, GCObject *to) {
  lu_mem count = 0;
  for (GCObject *p = from; p != to; p = p->next, count++) {
    if (getage(p) == G_OLD1) {
      lua_assert(!iswhite(p));
      changeage(p, G_OLD1, G_OLD);
      if (isblack(p)) reallymarkobject(g, p);
    }
  }
  gcvisits += count;
}

static void finishgencycle(lua_State *L, global_State *g) {
  correctgraylists(g);
  checkSizes(L, g);
  g->gcstate = GCSpropagate; // skip the restart
  if (!g->gcemergency) callallpendingfinalizers(L);
}

// A minor collection: marks from the young and touched objects and sweeps the young part.
static void youngcollection(lua_State *L, global_State *g) {
  GCObject **psurvival;
  GCObject *dummy;
  lua_assert(g->gcstate == GCSpropagate);
  if (g->firstold1) {
    markold(g, g->firstold1, g->reallyold);
    g->firstold1 = NULL;
  }
  markold(g, g->finobj, g->finobjrold);
  markold(g, g->tobefnz, NULL);
  gcunits += atomic(L);

  g->gcstate = GCSswpallgc;
  psurvival = sweepgen(L, g, &g->allgc, g->survival, &g->firstold1);
  sweepgen(L, g, psurvival, g->old1, &g->firstold1);
  g->reallyold = g->old1;
  g->old1 = *psurvival;
  g->survival = g->allgc;

  dummy = NULL; // no 'firstold1' for the finalizer lists
  psurvival = sweepgen(L, g, &g->finobj, g->finobjsur, &dummy);
  sweepgen(L, g, psurvival, g->finobjold1, &dummy);
  g->finobjrold = g->finobjold1;
  g->finobjold1 = *psurvival;
  g->finobjsur = g->finobj;

  sweepgen(L, g, &g->tobefnz, NULL, &dummy);
  finishgencycle(L, g);
}

// Sweeps a whole list making every survivor old.
static void sweep2old(lua_State *L, GCObject **p) {
  GCObject *curr;
  global_State *g = G(L);
  lu_mem count = 0;
  while ((curr = *p) != NULL) {
    count++;
    if (iswhite(curr)) {
      lua_assert(isdead(g, curr));
      *p = curr->next;
      freeobj(L, curr);
    } else {
      setage(curr, G_OLD);
      if (curr->tt == LUA_VTHREAD) { // threads are always watched
        lua_State *th = gco2th(curr);
        linkgclist(th, g->grayagain);
      } else if (curr->tt == LUA_VUPVAL && upisopen(gco2upv(curr)))
        set2gray(curr); // open upvalues are always gray
      else
        nw2black(curr);
      p = &curr->next;
    }
  }
  gcvisits += count;
}

// Ends a cycle (after its atomic phase) by making everything alive old.
static void atomic2gen(lua_State *L, global_State *g) {
  cleargraylists(g);
  g->gcstate = GCSswpallgc;
  sweep2old(L, &g->allgc);
  g->reallyold = g->old1 = g->survival = g->allgc;
  g->firstold1 = NULL;
  sweep2old(L, &g->finobj);
  g->finobjrold = g->finobjold1 = g->finobjsur = g->finobj;
  sweep2old(L, &g->tobefnz);
  g->gckind = KGC_GEN;
  g->lastatomic = 0;
  g->GCestimate = gettotalbytes(g);
  finishgencycle(L, g);
}

static lu_mem entergen(lua_State *L, global_State *g) {
  luaC_runtilstate(L, bitmask(GCSpause));
  luaC_runtilstate(L, bitmask(GCSpropagate));
  lu_mem numobjs = atomic(L);
  gcunits += numobjs;
  atomic2gen(L, g);
  setminordebt(g);
  return numobjs;
}

static void enterinc(global_State *g) {
  whitelist(g, g->allgc);
  g->reallyold = g->old1 = g->survival = NULL;
  whitelist(g, g->finobj);
  whitelist(g, g->tobefnz);
  g->finobjrold = g->finobjold1 = g->finobjsur = NULL;
  g->gcstate = GCSpause;
  g->gckind = KGC_INC;
  g->lastatomic = 0;
}

void luaC_changemode(lua_State *L, int newmode) {
  global_State *g = G(L);
  if (newmode != g->gckind) {
    if (newmode == KGC_GEN)
      entergen(L, g);
    else
      enterinc(g);
  }
  g->lastatomic = 0;
  meterwork();
}

static lu_mem fullgen(lua_State *L, global_State *g) {
  enterinc(g);
  return entergen(L, g);
}

// After a bad major collection: a full cycle; back to generational mode when it traversed
// clearly fewer objects than the bad one, else stay incremental for this cycle.
static void stepgenfull(lua_State *L, global_State *g) {
  lu_mem lastatomic = g->lastatomic;
  if (g->gckind == KGC_GEN) enterinc(g);
  luaC_runtilstate(L, bitmask(GCSpropagate));
  lu_mem newatomic = atomic(L);
  gcunits += newatomic;
  if (newatomic < lastatomic + (lastatomic >> 3)) {
    atomic2gen(L, g);
    setminordebt(g);
  } else {
    g->GCestimate = gettotalbytes(g);
    entersweep(L);
    luaC_runtilstate(L, bitmask(GCSpause));
    setpause(g);
    g->lastatomic = newatomic;
  }
}

static void genstep(lua_State *L, global_State *g) {
  if (g->lastatomic != 0)
    stepgenfull(L, g);
  else {
    lu_mem majorbase = g->GCestimate;
    lu_mem majorinc = (majorbase / 100) * getgcparam(g->genmajormul);
    if (g->GCdebt > 0 && gettotalbytes(g) > majorbase + majorinc) {
      lu_mem numobjs = fullgen(L, g);
      if (gettotalbytes(g) < majorbase + (majorinc / 2)) {
        // collected at least half of the growth: keep doing minor collections
      } else {
        g->lastatomic = numobjs; // a bad collection
        setpause(g);
      }
    } else {
      youngcollection(L, g);
      setminordebt(g);
      g->GCestimate = majorbase;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Incremental mode

static void entersweep(lua_State *L) {
  global_State *g = G(L);
  g->gcstate = GCSswpallgc;
  g->sweepgc = sweeptolive(L, &g->allgc);
}

static void deletelist(lua_State *L, GCObject *p, GCObject *limit) {
  while (p != limit) {
    GCObject *next = p->next;
    freeobj(L, p);
    p = next;
  }
}

void luaC_freeallobjects(lua_State *L) {
  global_State *g = G(L);
  luaC_changemode(L, KGC_INC);
  separatetobefnz(g, 1); // every object with a finalizer
  lua_assert(g->finobj == NULL);
  callallpendingfinalizers(L);
  deletelist(L, g->allgc, obj2gco(g->mainthread));
  deletelist(L, g->finobj, NULL); // finalizers set while closing are not run
  g->finobj = NULL;
  deletelist(L, g->fixedgc, NULL);
  g->fixedgc = NULL;
  g->allgc = obj2gco(g->mainthread);
  g->mainthread->next = NULL;
}

static lu_mem atomic(lua_State *L) {
  global_State *g = G(L);
  lu_mem work = 0;
  GCObject *origweak, *origall;
  GCObject *grayagain = g->grayagain;
  g->grayagain = NULL;
  lua_assert(g->ephemeron == NULL && g->weak == NULL);
  g->gcstate = GCSatomic;
  markobject(g, L); // the running thread
  // the registry and the global metatables may have been changed through the API
  markvalue(g, &g->l_registry);
  markmt(g);
  work += propagateall(g);
  work += remarkupvals(g);
  work += propagateall(g);
  g->gray = grayagain;
  work += propagateall(g);
  convergeephemerons(g);
  // Everything strongly reachable is marked. Weak values go before the objects with
  // finalizers are separated (a resurrected object is not reachable through them)...
  clearbyvalues(g, g->weak, NULL);
  clearbyvalues(g, g->allweak, NULL);
  origweak = g->weak;
  origall = g->allweak;
  separatetobefnz(g, 0);
  work += markbeingfnz(g); // resurrect them
  work += propagateall(g);
  convergeephemerons(g);
  // ... weak keys after: a resurrected key keeps its entry until it is really collected.
  clearbykeys(g, g->ephemeron);
  clearbykeys(g, g->allweak);
  // values of tables found in the resurrection
  clearbyvalues(g, g->weak, origweak);
  clearbyvalues(g, g->allweak, origall);
  luaS_clearcache(g);
  g->currentwhite = cast_byte(otherwhite(g));
  lua_assert(g->gray == NULL);
  return work;
}

static int sweepstep(lua_State *L, global_State *g, int nextstate, GCObject **nextlist) {
  if (g->sweepgc) {
    l_mem olddebt = g->GCdebt;
    int count;
    g->sweepgc = sweeplist(L, g->sweepgc, GCSWEEPMAX, &count);
    g->GCestimate += g->GCdebt - olddebt; // what was freed
    return count;
  }
  g->gcstate = cast_byte(nextstate);
  g->sweepgc = nextlist;
  return 0;
}

static lu_mem singlestep(lua_State *L) {
  global_State *g = G(L);
  switch (g->gcstate) {
    case GCSpause:
      restartcollection(g);
      g->gcstate = GCSpropagate;
      return 1;
    case GCSpropagate:
      if (g->gray == NULL) {
        g->gcstate = GCSenteratomic;
        return 0;
      }
      return propagatemark(g);
    case GCSenteratomic: {
      lu_mem work = atomic(L);
      entersweep(L);
      g->GCestimate = gettotalbytes(g);
      return work;
    }
    case GCSswpallgc: return sweepstep(L, g, GCSswpfinobj, &g->finobj);
    case GCSswpfinobj: return sweepstep(L, g, GCSswptobefnz, &g->tobefnz);
    case GCSswptobefnz: return sweepstep(L, g, GCSswpend, NULL);
    case GCSswpend:
      checkSizes(L, g);
      g->gcstate = GCScallfin;
      return 0;
    case GCScallfin:
      if (g->tobefnz && !g->gcemergency) return runafewfinalizers(L, GCFINMAX) * GCFINALIZECOST;
      g->gcstate = GCSpause;
      return 0;
    default: lua_assert(0); return 0;
  }
}

void luaC_runtilstate(lua_State *L, int statesmask) {
  global_State *g = G(L);
  while (!testbit(statesmask, g->gcstate)) gcunits += singlestep(L);
  meterwork();
}

// One incremental step: work proportional to the debt (at least a step's worth), then the
// debt for the next step, or the pause at the end of a cycle.
static void incstep(lua_State *L, global_State *g) {
  l_mem stepmul = (getgcparam(g->gcstepmul) | 1);
  l_mem debt = (g->GCdebt / WORK2MEM) * stepmul;
  // the step bound saturates: large step sizes and multipliers mean "run the whole cycle"
  l_mem stepsize = MAX_LMEM;
  if (g->gcstepsize <= log2maxs(l_mem)) {
    l_mem units = (cast(l_mem, 1) << g->gcstepsize) / WORK2MEM;
    if (units <= MAX_LMEM / stepmul) stepsize = units * stepmul;
  }
  l_mem start = debt;
  do {
    lu_mem work = singlestep(L);
    debt -= cast(l_mem, work);
  } while (debt > -stepsize && g->gcstate != GCSpause);
  gcunits += cast(lu_mem, start) - cast(lu_mem, debt);
  if (g->gcstate == GCSpause)
    setpause(g);
  else {
    debt = (debt / stepmul) * WORK2MEM;
    luaE_setdebt(g, debt);
  }
}

static void fullinc(lua_State *L, global_State *g) {
  if (keepinvariant(g)) entersweep(L); // black objects: sweep them back to white
  luaC_runtilstate(L, bitmask(GCSpause));
  luaC_runtilstate(L, bitmask(GCScallfin));
  luaC_runtilstate(L, bitmask(GCSpause));
  setpause(g);
}

void luaC_fullgc(lua_State *L, int isemergency) {
  global_State *g = G(L);
  lu_byte oldemergency = g->gcemergency;
  g->gcemergency = cast_byte(isemergency || oldemergency);
  if (g->gckind == KGC_INC)
    fullinc(L, g);
  else
    fullgen(L, g);
  g->gcemergency = oldemergency;
  meterwork();
}

void luaC_step(lua_State *L) {
  global_State *g = G(L);
  // Stopped: the debt keeps growing, so that a "step" asked for later pays for all of it.
  if (!g->gcrunning) return;
#ifdef HALVORAN_GC_STRESS
  int saved = stress_collection;
  stress_collection = !requested_step;
  luaC_fullgc(L, 0);
  stress_collection = saved;
#else
  if (isdecGCmodegen(g))
    genstep(L, g);
  else
    incstep(L, g);
  meterwork();
#endif
}

// ---------------------------------------------------------------------------------------------
// The embedding interface's control of the collector

int lua_gc(lua_State *L, int what, ...) {
  va_list argp;
  int res = 0;
  global_State *g = G(L);
  // Inside a finalizer the collector is in the middle of its own work: every request that
  // would run or reconfigure it does nothing.
  if (infinalizer(g)) {
    switch (what) {
      case LUA_GCSTOP:
      case LUA_GCRESTART:
      case LUA_GCCOLLECT:
      case LUA_GCSTEP:
      case LUA_GCGEN:
      case LUA_GCINC: return 0;
      default: break;
    }
  }
  va_start(argp, what);
  switch (what) {
    case LUA_GCSTOP: g->gcrunning = 0; break;
    case LUA_GCRESTART:
      luaE_setdebt(g, 0);
      g->gcrunning = 1;
      break;
    case LUA_GCCOLLECT: luaC_fullgc(L, 0); break;
    case LUA_GCCOUNT: res = cast_int(gettotalbytes(g) >> 10); break;
    case LUA_GCCOUNTB: res = cast_int(gettotalbytes(g) & 0x3ff); break;
    case LUA_GCSTEP: {
      int data = va_arg(argp, int);
      l_mem debt = 1; // stays positive when a step really runs
      lu_byte oldrunning = g->gcrunning;
      g->gcrunning = 1;
#ifdef HALVORAN_GC_STRESS
      requested_step = 1;
#endif
      if (data == 0) {
        luaE_setdebt(g, 0);
        luaC_step(L);
      } else {
        debt = cast(l_mem, data) * 1024 + g->GCdebt;
        luaE_setdebt(g, debt);
        luaC_checkGC(L);
      }
#ifdef HALVORAN_GC_STRESS
      requested_step = 0;
#endif
      g->gcrunning = oldrunning;
      if (debt > 0 && g->gcstate == GCSpause) res = 1;
      break;
    }
    case LUA_GCSETPAUSE: {
      int data = va_arg(argp, int);
      res = getgcparam(g->gcpause);
      g->gcpause = cast_byte(data / 4);
      break;
    }
    case LUA_GCSETSTEPMUL: {
      int data = va_arg(argp, int);
      res = getgcparam(g->gcstepmul);
      g->gcstepmul = cast_byte(data / 4);
      break;
    }
    case LUA_GCISRUNNING: res = g->gcrunning; break;
    case LUA_GCGEN: {
      int minormul = va_arg(argp, int);
      int majormul = va_arg(argp, int);
      res = isdecGCmodegen(g) ? LUA_GCGEN : LUA_GCINC;
      if (minormul != 0) g->genminormul = cast_byte(minormul);
      if (majormul != 0) g->genmajormul = cast_byte(majormul / 4);
      luaC_changemode(L, KGC_GEN);
      break;
    }
    case LUA_GCINC: {
      int pause = va_arg(argp, int);
      int stepmul = va_arg(argp, int);
      int stepsize = va_arg(argp, int);
      res = isdecGCmodegen(g) ? LUA_GCGEN : LUA_GCINC;
      if (pause != 0) g->gcpause = cast_byte(pause / 4);
      if (stepmul != 0) g->gcstepmul = cast_byte(stepmul / 4);
      if (stepsize != 0) g->gcstepsize = cast_byte(stepsize);
      luaC_changemode(L, KGC_INC);
      break;
    }
    default: res = -1;
  }
  va_end(argp);
  return res;
}
