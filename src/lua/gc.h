// The collector: colours, ages, barriers and the entry points other components call.
#pragma once

#include "lua/object.h"
#include "lua/state.h"

// Collector states.
#define GCSpropagate 0
#define GCSenteratomic 1
#define GCSatomic 2
#define GCSswpallgc 3
#define GCSswpfinobj 4
#define GCSswptobefnz 5
#define GCSswpend 6
#define GCScallfin 7
#define GCSpause 8

#define issweepphase(g) (GCSswpallgc <= (g)->gcstate && (g)->gcstate <= GCSswpend)
#define keepinvariant(g) ((g)->gcstate <= GCSatomic)

#define resetbits(x, m) ((x) &= cast_byte(~(m)))
#define setbits(x, m) ((x) |= (m))
#define testbits(x, m) ((x) & (m))
#define bitmask(b) (1 << (b))
#define bit2mask(b1, b2) (bitmask(b1) | bitmask(b2))
#define l_setbit(x, b) setbits(x, bitmask(b))
#define resetbit(x, b) resetbits(x, bitmask(b))
#define testbit(x, b) testbits(x, bitmask(b))

// Bits of 'marked': 0-2 age (generational), 3-4 white, 5 black, 6 finalizer marked.
#define WHITE0BIT 3
#define WHITE1BIT 4
#define BLACKBIT 5
#define FINALIZEDBIT 6
#define TESTBIT 7

#define WHITEBITS bit2mask(WHITE0BIT, WHITE1BIT)

#define iswhite(x) testbits((x)->marked, WHITEBITS)
#define isblack(x) testbit((x)->marked, BLACKBIT)
#define isgray(x) (!testbits((x)->marked, WHITEBITS | bitmask(BLACKBIT)))
#define tofinalize(x) testbit((x)->marked, FINALIZEDBIT)

#define otherwhite(g) ((g)->currentwhite ^ WHITEBITS)
#define isdeadm(ow, m) ((m) & (ow))
#define isdead(g, v) isdeadm(otherwhite(g), (v)->marked)
#define changewhite(x) ((x)->marked ^= WHITEBITS)
#define nw2black(x) check_exp(!iswhite(x), l_setbit((x)->marked, BLACKBIT))
#define luaC_white(g) cast_byte((g)->currentwhite &WHITEBITS)

// Object ages (generational mode).
#define G_NEW 0
#define G_SURVIVAL 1
#define G_OLD0 2
#define G_OLD1 3
#define G_OLD 4
#define G_TOUCHED1 5
#define G_TOUCHED2 6
#define AGEBITS 7
#define getage(o) ((o)->marked & AGEBITS)
#define setage(o, a) ((o)->marked = cast_byte(((o)->marked & (~AGEBITS)) | a))
#define isold(o) (getage(o) > G_SURVIVAL)
#define changeage(o, f, t) check_exp(getage(o) == (f), (o)->marked ^= ((f) ^ (t)))

// Defaults (pause and step multiplier are stored divided by 4).
#define LUAI_GENMAJORMUL 100
#define LUAI_GENMINORMUL 20
#define LUAI_GCPAUSE 200
#define LUAI_GCMUL 100
#define LUAI_GCSTEPSIZE 13 // log2 of 8 KB
#define getgcparam(p) ((p)*4)
#define setgcparam(p, v) ((p) = (v) / 4)

#define isdecGCmodegen(g) (g->gckind == KGC_GEN || g->lastatomic != 0)

// Runs a collector step when the debt is positive. 'pre' runs before, 'pos' after it.
// Under HALVORAN_GC_STRESS every check runs the collector (a full collection), so missing
// barriers and dangling pointers show up at once.
#ifdef HALVORAN_GC_STRESS
#define luaC_condGC(L, pre, pos) \
  { pre; luaC_step(L); pos; }
#else
#define luaC_condGC(L, pre, pos) \
  { if (G(L)->GCdebt > 0) { pre; luaC_step(L); pos; } }
#endif
#define luaC_checkGC(L) luaC_condGC(L, (void)0, (void)0)

#define luaC_barrier(L, p, v) \
  ((iscollectable(v) && isblack(p) && iswhite(gcvalue(v))) ? luaC_barrier_(L, obj2gco(p), gcvalue(v)) : cast_void(0))
#define luaC_barrierback(L, p, v) \
  ((iscollectable(v) && isblack(p) && iswhite(gcvalue(v))) ? luaC_barrierback_(L, p) : cast_void(0))
#define luaC_objbarrier(L, p, o) \
  ((isblack(p) && iswhite(o)) ? luaC_barrier_(L, obj2gco(p), obj2gco(o)) : cast_void(0))

void luaC_fix(lua_State *L, GCObject *o);
void luaC_freeallobjects(lua_State *L);
void luaC_step(lua_State *L);
void luaC_runtilstate(lua_State *L, int statesmask);
// A full collection; an emergency one (isemergency = 1) runs no finalizers and shrinks no stack.
void luaC_fullgc(lua_State *L, int isemergency);
// Creates an object: requests sz bytes (tag passed as the kind) with the given charge.
GCObject *luaC_newobj(lua_State *L, int tt, size_t sz, size_t charge);
void luaC_barrier_(lua_State *L, GCObject *o, GCObject *v);
void luaC_barrierback_(lua_State *L, GCObject *o);
void luaC_checkfinalizer(lua_State *L, GCObject *o, Table *mt);
void luaC_changemode(lua_State *L, int newmode);
// True while finalizers are being run (collector calls from a __gc method do nothing).
int luaC_infinalizer(lua_State *L);
