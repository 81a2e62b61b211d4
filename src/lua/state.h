// Threads, call records and the global state shared by all threads of a process.
#pragma once

#include "lua/object.h"

// A stack slot.
typedef TValue *StkId;

#define savestack(L, p) ((char *)(p) - (char *)(L)->stack)
#define restorestack(L, n) ((StkId)((char *)(L)->stack + (n)))
#define s2v(o) (o)

// Kinds of collector.
#define KGC_INC 0 // incremental
#define KGC_GEN 1 // generational

struct stringtable {
  TString **hash;
  int nuse; // number of elements
  int size;
};

// Call-status bits.
#define CIST_OAH (1 << 0)       // original value of 'allowhook'
#define CIST_C (1 << 1)         // call is running a native function
#define CIST_FRESH (1 << 2)     // call is on a fresh luaV_execute frame
#define CIST_HOOKED (1 << 3)    // call is running a debug hook
#define CIST_YPCALL (1 << 4)    // doing a yieldable protected call
#define CIST_TAIL (1 << 5)      // call was tail called
#define CIST_HOOKYIELD (1 << 6) // last hook called yielded
#define CIST_RESUMED (1 << 6)   // resume mark: stopped by a forced yield
#define CIST_FIN (1 << 7)       // call is running a finalizer
#define CIST_TRAN (1 << 8)      // 'ci' has transfer information

#define isLua(ci) (!((ci)->callstatus & CIST_C))
#define isLuacode(ci) (!((ci)->callstatus & (CIST_C | CIST_HOOKED)))
#define setoah(st, v) ((st) = ((st) & ~CIST_OAH) | (v))
#define getoah(st) ((st)&CIST_OAH)

// One call record (64 bytes).
struct CallInfo {
  StkId func; // function index in the stack
  StkId top;  // top for this function
  struct CallInfo *previous, *next;
  union {
    struct { // only for Lua functions
      const Instruction *savedpc;
      volatile int trap;
      int nextraargs; // # of extra arguments in vararg functions
    } l;
    struct { // only for C functions
      lua_KFunction k;
      ptrdiff_t old_errfunc;
      lua_KContext ctx;
    } c;
  } u;
  union {
    int funcidx; // called-function index (protected calls)
    int nyield;  // number of values yielded
    struct {     // info about transferred values (for call/return hooks)
      unsigned short ftransfer;
      unsigned short ntransfer;
    } transferinfo;
  } u2;
  short nresults;
  unsigned short callstatus;
};

struct lua_longjmp; // recovery record of a protected run (do.cpp)

// One thread (192 bytes; 200 with its extra slot).
struct lua_State {
  CommonHeader;
  lu_byte status;
  lu_byte allowhook;
  unsigned short nci; // number of items in 'ci' list
  StkId top;          // first free slot in the stack
  struct global_State *l_G;
  CallInfo *ci;       // call info for current function
  StkId stack_last;   // end of usable stack
  StkId stack;        // stack base
  UpVal *openupval;   // list of open upvalues in this stack
  GCObject *gclist;
  struct lua_State *twups; // list of threads with open upvalues
  struct lua_longjmp *errorJmp;
  CallInfo base_ci; // CallInfo for first level (C calling Lua)
  volatile lua_Hook hook;
  ptrdiff_t errfunc;      // current error handling function (stack index)
  uint32_t nCcalls;       // call_nesting
  int oldpc;              // last pc traced
  int basehookcount;
  int hookcount;
  volatile int hookmask;
  int32_t slice_escape;   // set to 1 by the VM when it forces a yield
};

#define call_nesting nCcalls

// The state shared by all threads of a process (1416 bytes).
struct global_State {
  lua_Alloc frealloc;
  void *ud;
  l_mem totalbytes;   // gc_total
  l_mem GCdebt;       // gc_debt: bytes requested and not yet paid for
  lu_mem GCestimate;  // estimate of live bytes after a cycle
  lu_mem lastatomic;  // see generational mode
  stringtable strt;
  TValue l_registry;
  TValue nilvalue;    // an integer while the state is incomplete, nil once complete
  unsigned int seed;  // randomized seed for hashes
  lu_byte currentwhite;
  lu_byte gcstate;
  lu_byte gckind;
  lu_byte genminormul;
  lu_byte genmajormul;
  lu_byte gcrunning;
  lu_byte gcemergency;
  lu_byte gcpause;
  lu_byte gcstepmul;
  lu_byte gcstepsize;
  GCObject *allgc;       // all collectable objects
  GCObject **sweepgc;    // current position of sweep in list
  GCObject *finobj;      // objects with finalizers
  GCObject *gray;
  GCObject *grayagain;
  GCObject *weak;        // tables with weak values
  GCObject *ephemeron;   // tables with weak keys
  GCObject *allweak;     // all-weak tables
  GCObject *tobefnz;     // to be finalized
  GCObject *fixedgc;     // never collected
  GCObject *survival;    // generational: survived one cycle
  GCObject *old1;
  GCObject *reallyold;
  GCObject *firstold1;
  GCObject *finobjsur;
  GCObject *finobjold1;
  GCObject *finobjrold;
  struct lua_State *twups; // threads with open upvalues
  lua_CFunction panic;
  struct lua_State *mainthread;
  TString *memerrmsg;
  TString *tmname[25];          // metamethod names (TM_N)
  struct Table *mt[LUA_NUMTYPES]; // metatables for basic types
  TString *strcache[STRCACHE_N][STRCACHE_M];
  lua_WarnFunction warnf;
  void *ud_warn;
};

#define G(L) (L->l_G)
#define completestate(g) ttisnil(&g->nilvalue)

// Union of all collectable objects (for conversions).
union GCUnion {
  GCObject gc;
  struct TString ts;
  struct Udata u;
  union Closure cl;
  struct Table h;
  struct Proto p;
  struct lua_State th;
  struct UpVal upv;
};

#define cast_u(o) cast(union GCUnion *, (o))
#define gco2ts(o) check_exp(novariant((o)->tt) == LUA_TSTRING, &((cast_u(o))->ts))
#define gco2u(o) check_exp((o)->tt == LUA_VUSERDATA, &((cast_u(o))->u))
#define gco2lcl(o) check_exp((o)->tt == LUA_VLCL, &((cast_u(o))->cl.l))
#define gco2ccl(o) check_exp((o)->tt == LUA_VCCL, &((cast_u(o))->cl.c))
#define gco2cl(o) check_exp(novariant((o)->tt) == LUA_TFUNCTION, &((cast_u(o))->cl))
#define gco2t(o) check_exp((o)->tt == LUA_VTABLE, &((cast_u(o))->h))
#define gco2p(o) check_exp((o)->tt == LUA_VPROTO, &((cast_u(o))->p))
#define gco2th(o) check_exp((o)->tt == LUA_VTHREAD, &((cast_u(o))->th))
#define gco2upv(o) check_exp((o)->tt == LUA_VUPVAL, &((cast_u(o))->upv))
#define obj2gco(v) check_exp((v)->tt >= LUA_TSTRING, &(cast_u(v)->gc))

#define gettotalbytes(g) cast(lu_mem, (g)->totalbytes + (g)->GCdebt)

// Sizes requested for state blocks.
#define LUAE_MAINSTATE_SIZE 1616
#define LUAE_THREAD_SIZE 200
#define LUAE_THREAD_CHARGE 1616
#define LUAE_CI_SIZE 64

void luaE_setdebt(global_State *g, l_mem debt);
void luaE_freethread(lua_State *L, lua_State *L1);
CallInfo *luaE_extendCI(lua_State *L);
void luaE_freeCI(lua_State *L);
void luaE_shrinkCI(lua_State *L);
void luaE_checkcstack(lua_State *L);
// One more nested native call; the rare overflow check runs out of line.
inline void luaE_incCstack(lua_State *L) {
  L->nCcalls++;
  if (l_unlikely(getCcalls(L) >= LUAI_MAXCCALLS)) luaE_checkcstack(L);
}
void luaE_warning(lua_State *L, const char *msg, int tocont);
void luaE_warnerror(lua_State *L, const char *where);

#define luaE_exitCcall(L) ((L)->nCcalls--)
