// States and threads: creation, the first stack, the CallInfo list, call depth and closing.
#include "lua/state.h"

#include <ctime>

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/func.h"
#include "lua/gc.h"
#include "lua/lexer.h"
#include "lua/mem.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/tm.h"

// A thread's block: the per-thread user slot followed by the thread record.
struct LX {
  lu_byte extra_[sizeof(void *)];
  lua_State l;
};

// The main block: the main thread and the global record.
struct LG {
  LX l;
  global_State g;
};

static_assert(sizeof(lua_State) == 192, "thread record layout");
static_assert(sizeof(CallInfo) == 64, "call record layout");
static_assert(sizeof(global_State) == 1416, "global record layout");
static_assert(sizeof(LX) == LUAE_THREAD_SIZE, "thread block size");
static_assert(sizeof(LG) == LUAE_MAINSTATE_SIZE, "main block size");
static_assert(offsetof(LX, l) == sizeof(void *), "extra slot precedes the thread");

#define fromstate(L) (cast(LX *, cast(lu_byte *, (L)) - offsetof(LX, l)))

// First stack: 40 usable slots and 5 extra, 720 bytes requested and charged.
#define FIRSTSTACK_SLOTS (BASIC_STACK_SIZE + EXTRA_STACK)
#define FIRSTSTACK_BYTES (FIRSTSTACK_SLOTS * sizeof(TValue))

// The seed mixes the clock with three addresses (the thread, a local of lua_newstate and
// lua_newstate itself), so it differs per run and per state.
static unsigned int makeseed(lua_State *L, const void *local) {
#ifdef HALVORAN_FIXED_SEEDS
  // Runs that must repeat exactly (comparisons of cycle traces between two builds).
  (void)L;
  (void)local;
  return 0x2545F491u;
#endif
  char buff[3 * sizeof(size_t)];
  unsigned int h = cast_uint(time(NULL));
  size_t t;
  int p = 0;
  t = (size_t)L;
  memcpy(buff + p, &t, sizeof(t));
  p += sizeof(t);
  t = (size_t)local;
  memcpy(buff + p, &t, sizeof(t));
  p += sizeof(t);
  t = (size_t)&lua_newstate;
  memcpy(buff + p, &t, sizeof(t));
  p += sizeof(t);
  return luaS_hash(buff, (size_t)p, h);
}

void luaE_setdebt(global_State *g, l_mem debt) {
  l_mem tb = (l_mem)gettotalbytes(g);
  if (debt < tb - MAX_LMEM) debt = tb - MAX_LMEM;  // keeps totalbytes within range
  g->totalbytes = tb - debt;
  g->GCdebt = debt;
}

CallInfo *luaE_extendCI(lua_State *L) {
  CallInfo *ci = luaM_new(L, CallInfo, LUAE_CI_SIZE);
  L->ci->next = ci;
  ci->previous = L->ci;
  ci->next = NULL;
  ci->u.l.trap = 0;
  L->nci++;
  return ci;
}

// Frees every record after the current one.
void luaE_freeCI(lua_State *L) {
  CallInfo *ci = L->ci;
  CallInfo *next = ci->next;
  ci->next = NULL;
  while ((ci = next) != NULL) {
    next = ci->next;
    luaM_free(L, ci);
    L->nci--;
  }
}

// Frees every second free record, keeping half of them for later calls.
void luaE_shrinkCI(lua_State *L) {
  CallInfo *ci = L->ci->next;
  CallInfo *next;
  if (ci == NULL) return;
  while ((next = ci->next) != NULL) {
    CallInfo *next2 = next->next;
    ci->next = next2;
    L->nci--;
    luaM_free(L, next);
    if (next2 == NULL) break;
    next2->previous = ci;
    ci = next2;
  }
}

// Called when the native depth reaches the limit: an ordinary error at exactly the limit,
// and past the handler's margin an error in error handling.
void luaE_checkcstack(lua_State *L) {
  if (getCcalls(L) == LUAI_MAXCCALLS)
    luaG_runerror(L, "C stack overflow");
  else if (getCcalls(L) >= LUAI_MAXCCALLS_ERR)
    luaD_throw(L, LUA_ERRERR);
}

static void stack_init(lua_State *L1, lua_State *L) {
  L1->stack = cast(StkId, luaM_malloc_(L, FIRSTSTACK_BYTES, 0, FIRSTSTACK_BYTES));
  for (int i = 0; i < FIRSTSTACK_SLOTS; i++) setnilvalue(s2v(L1->stack + i));
  L1->top = L1->stack;
  L1->stack_last = L1->stack + BASIC_STACK_SIZE;
  CallInfo *ci = &L1->base_ci;
  ci->next = ci->previous = NULL;
  ci->callstatus = CIST_C;
  ci->func = L1->top;
  ci->u.c.k = NULL;
  ci->u.c.old_errfunc = 0;
  ci->u.c.ctx = 0;
  ci->u2.funcidx = 0;
  ci->nresults = 0;
  setnilvalue(s2v(L1->top));  // the base record's function slot
  L1->top++;
  ci->top = L1->top + LUA_MINSTACK;
  L1->ci = ci;
}

static void freestack(lua_State *L) {
  if (L->stack == NULL) return;  // never got one
  L->ci = &L->base_ci;
  luaE_freeCI(L);
  lua_assert(L->nci == 0);
  luaM_freearray(L, L->stack, cast_sizet(stacksize(L) + EXTRA_STACK));
  L->stack = NULL;
}

static void init_registry(lua_State *L, global_State *g) {
  TValue temp;
  Table *registry = luaH_new(L);
  sethvalue(L, &g->l_registry, registry);
  luaH_resize(L, registry, LUA_RIDX_LAST, 0);
  setthvalue(L, &temp, L);
  luaH_setint(L, registry, LUA_RIDX_MAINTHREAD, &temp);
  sethvalue(L, &temp, luaH_new(L));  // the table of globals
  luaH_setint(L, registry, LUA_RIDX_GLOBALS, &temp);
}

// The building step, run protected: once it returns the state is complete.
static void f_luaopen(lua_State *L, void *ud) {
  global_State *g = G(L);
  UNUSED(ud);
  stack_init(L, L);
  init_registry(L, g);
  luaS_init(L);
  luaT_init(L);
  luaX_init(L);
  g->gcrunning = 1;
  setnilvalue(&g->nilvalue);
}

// The fields every new thread starts with (the main thread and coroutines alike).
static void preinit_thread(lua_State *L, global_State *g) {
  G(L) = g;
  L->stack = NULL;
  L->top = NULL;
  L->stack_last = NULL;
  L->ci = NULL;
  L->nci = 0;
  L->twups = L;  // no open upvalues yet
  L->errorJmp = NULL;
  L->gclist = NULL;
  L->hook = NULL;
  L->hookmask = 0;
  L->basehookcount = 0;
  L->allowhook = 1;
  L->hookcount = L->basehookcount;
  L->openupval = NULL;
  L->status = LUA_OK;
  L->errfunc = 0;
  L->oldpc = 0;
  L->nCcalls = 0;
  L->slice_escape = 0;
}

static void close_state(lua_State *L) {
  global_State *g = G(L);
  if (completestate(g)) {
    L->ci = &L->base_ci;
    L->errfunc = 0;
    // A process may be closed while suspended: its closing methods must run as ordinary calls.
    L->status = LUA_OK;
    luaF_close(L, L->stack, CLOSEPROTECT);  // pending closing methods, protected
  }
  luaC_freeallobjects(L);
  luaM_freearray(L, g->strt.hash, cast_sizet(g->strt.size));
  freestack(L);
  (*g->frealloc)(g->ud, fromstate(L), sizeof(LG), 0, 0, 0);
}

lua_State *lua_newstate(lua_Alloc f, void *ud) {
  LG *l = cast(LG *, (*f)(ud, NULL, LUA_TTHREAD, sizeof(LG), 0, sizeof(LG)));
  if (l == NULL) return NULL;
  lua_State *L = &l->l.l;
  global_State *g = &l->g;
  memset(l->l.extra_, 0, sizeof(l->l.extra_));
  L->tt = LUA_VTHREAD;
  g->currentwhite = bitmask(WHITE0BIT);
  L->marked = luaC_white(g);
  preinit_thread(L, g);
  L->next = NULL;
  incnny(L);  // the main thread is not yieldable on its own
  g->allgc = obj2gco(L);
  g->frealloc = f;
  g->ud = ud;
  g->warnf = NULL;
  g->ud_warn = NULL;
  g->mainthread = L;
  g->seed = makeseed(L, &l);
  g->gcrunning = 0;  // no collection while building
  g->strt.size = g->strt.nuse = 0;
  g->strt.hash = NULL;
  setnilvalue(&g->l_registry);
  g->panic = NULL;
  g->gcstate = GCSpause;
  g->gckind = KGC_INC;
  g->gcemergency = 0;
  g->finobj = g->tobefnz = g->fixedgc = NULL;
  g->firstold1 = g->survival = g->old1 = g->reallyold = NULL;
  g->finobjsur = g->finobjold1 = g->finobjrold = NULL;
  g->sweepgc = NULL;
  g->gray = g->grayagain = NULL;
  g->weak = g->ephemeron = g->allweak = NULL;
  g->twups = NULL;
  g->totalbytes = sizeof(LG);
  g->GCdebt = 0;
  g->GCestimate = 0;
  g->lastatomic = 0;
  g->memerrmsg = NULL;
  setivalue(&g->nilvalue, 0);  // marks the state as incomplete
  setgcparam(g->gcpause, LUAI_GCPAUSE);
  setgcparam(g->gcstepmul, LUAI_GCMUL);
  g->gcstepsize = LUAI_GCSTEPSIZE;
  setgcparam(g->genmajormul, LUAI_GENMAJORMUL);
  g->genminormul = LUAI_GENMINORMUL;
  for (int i = 0; i < TM_N; i++) g->tmname[i] = NULL;
  for (int i = 0; i < LUA_NUMTYPES; i++) g->mt[i] = NULL;
  for (int i = 0; i < STRCACHE_N; i++)
    for (int j = 0; j < STRCACHE_M; j++) g->strcache[i][j] = NULL;
  if (luaD_rawrunprotected(L, f_luaopen, NULL) != LUA_OK) {
    close_state(L);
    L = NULL;
  }
  return L;
}

void lua_close(lua_State *L) {
  L = G(L)->mainthread;  // only the whole state can be closed
  close_state(L);
}

lua_State *lua_newthread(lua_State *L) {
  global_State *g = G(L);
  luaC_checkGC(L);
  LX *lx = cast(LX *, luaM_newobject(L, LUA_TTHREAD, sizeof(LX), LUAE_THREAD_CHARGE));
  lua_State *L1 = &lx->l;
  L1->marked = luaC_white(g);
  L1->tt = LUA_VTHREAD;
  L1->next = g->allgc;
  g->allgc = obj2gco(L1);
  setthvalue2s(L, L->top, L1);  // anchor it before anything else can collect
  L->top++;
  preinit_thread(L1, g);
  L1->hookmask = L->hookmask;
  L1->basehookcount = L->basehookcount;
  L1->hook = L->hook;
  L1->hookcount = L1->basehookcount;
  memcpy(lua_getextraspace(L1), lua_getextraspace(g->mainthread), sizeof(void *));
  stack_init(L1, L);
  return L1;
}

void luaE_freethread(lua_State *L, lua_State *L1) {
  LX *l = fromstate(L1);
  if (L1->stack != NULL) luaF_close(L1, L1->stack, NOCLOSINGMETH);
  lua_assert(L1->openupval == NULL);
  freestack(L1);
  luaM_free_(L, l, sizeof(LX));
}

int lua_resetthread(lua_State *L) {
  CallInfo *ci = L->ci = &L->base_ci;
  setnilvalue(s2v(L->stack));
  ci->func = L->stack;
  ci->callstatus = CIST_C;
  L->status = LUA_OK;  // so that closing methods can run
  L->errfunc = 0;
  int status = luaF_close(L, L->stack, CLOSEPROTECT);
  if (status != CLOSEPROTECT) {
    luaD_seterrorobj(L, status, L->stack + 1);
  } else {
    status = LUA_OK;
    L->top = L->stack + 1;
  }
  ci->top = L->top + LUA_MINSTACK;
  L->status = cast_byte(status);
  return status;
}

int lua_setcstacklimit(lua_State *L, unsigned int limit) {
  UNUSED(L);
  UNUSED(limit);
  return LUAI_MAXCCALLS;
}

void luaE_warning(lua_State *L, const char *msg, int tocont) {
  lua_WarnFunction wf = G(L)->warnf;
  if (wf != NULL) wf(G(L)->ud_warn, msg, tocont);
}

void luaE_warnerror(lua_State *L, const char *where) {
  TValue *errobj = s2v(L->top - 1);
  const char *msg = ttisstring(errobj) ? svalue(errobj) : "error object is not a string";
  luaE_warning(L, "error in ", 1);
  luaE_warning(L, where, 1);
  luaE_warning(L, " (", 1);
  luaE_warning(L, msg, 1);
  luaE_warning(L, ")", 0);
}
