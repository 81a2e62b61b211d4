// The interpreter loop and the operations whose semantics it shares with the interface.
#include "lua/vm.h"

#include <clocale>
#include <cmath>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/debug.h"
#include "lua/do.h"
#include "lua/func.h"
#include "lua/gc.h"
#include "lua/object.h"
#include "lua/opcodes.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/tm.h"

// Integers in [-2^53, 2^53] convert to a double exactly.
#define MAXINTFITSF ((lua_Unsigned)1 << 53)
#define l_intfitsf(i) ((MAXINTFITSF + l_castS2U(i)) <= (2 * MAXINTFITSF))

// ---------------------------------------------------------------------------------------------
// Conversions

// A string that is a whole numeral becomes the number in *result.
static int l_strton(const TValue *obj, TValue *result) {
  if (!cvt2num(obj)) return 0;
  return luaO_str2num(svalue(obj), result) == vslen(obj) + 1;
}

int luaV_tonumber_(lua_State *L, const TValue *obj, lua_Number *n) {
  TValue v;
  UNUSED(L);
  if (ttisinteger(obj)) {
    *n = cast_num(ivalue(obj));
    return 1;
  }
  if (ttisfloat(obj)) {
    *n = fltvalue(obj);
    return 1;
  }
  if (l_strton(obj, &v)) {
    *n = nvalue(&v);
    return 1;
  }
  return 0;
}

int luaV_flttointns(lua_Number n, lua_Integer *p, F2Imod mode) {
  lua_Number f = std::floor(n);
  if (n != f) { // not integral (or NaN)
    if (mode == F2Ieq) return 0;
    if (mode == F2Iceil) f += 1;
  }
  // the range test fails for NaN
  return lua_numbertointeger(f, p);
}

int luaV_tointegerns(const TValue *obj, lua_Integer *p, F2Imod mode) {
  if (ttisfloat(obj)) return luaV_flttointns(fltvalue(obj), p, mode);
  if (ttisinteger(obj)) {
    *p = ivalue(obj);
    return 1;
  }
  return 0;
}

int luaV_tointeger(const TValue *obj, lua_Integer *p, F2Imod mode) {
  TValue v;
  if (l_strton(obj, &v)) obj = &v;
  return luaV_tointegerns(obj, p, mode);
}

// ---------------------------------------------------------------------------------------------
// Integer and float arithmetic with the dialect's division rules

lua_Integer luaV_idiv(lua_State *L, lua_Integer m, lua_Integer n) {
  UNUSED(L);
  if (l_unlikely(l_castS2U(n) + 1u <= 1u)) { // n is 0 or -1
    if (n == 0) return (m >= 0) ? LUA_MAXINTEGER : -LUA_MAXINTEGER;
    return intop(-, 0, m); // avoids overflow of minint / -1
  }
  lua_Integer q = m / n;
  if ((m ^ n) < 0 && m % n != 0) q -= 1; // round toward minus infinity
  return q;
}

lua_Integer luaV_mod(lua_State *L, lua_Integer m, lua_Integer n) {
  UNUSED(L);
  if (l_unlikely(l_castS2U(n) + 1u <= 1u)) return 0; // n is 0 or -1
  lua_Integer r = m % n;
  if (r != 0 && (r ^ n) < 0) r += n;
  return r;
}

lua_Number luaV_modf(lua_State *L, lua_Number a, lua_Number b) {
  UNUSED(L);
  lua_Number m = std::fmod(a, b);
  if ((m > 0 && b < 0) || (m < 0 && b > 0)) m += b;
  return m;
}

#define NBITS 64

lua_Integer luaV_shiftl(lua_Integer x, lua_Integer y) {
  if (y < 0) { // shift right
    if (y <= -NBITS) return 0;
    return intop(>>, x, -y);
  }
  if (y >= NBITS) return 0;
  return intop(<<, x, y);
}

// ---------------------------------------------------------------------------------------------
// Comparisons

// Compares two strings with strcoll, piece by piece across embedded zeros. The bytes looked
// at count as native work: an equal piece its length and a call, the differing one its common
// prefix (found only for long strings: short ones cost less than the instruction).
static int l_strcmp(const TString *ls, const TString *rs) {
  const char *l = getstr(ls);
  size_t ll = tsslen(ls);
  const char *r = getstr(rs);
  size_t lr = tsslen(rs);
  for (;;) {
    int temp = strcoll(l, r);
    if (temp != 0) {
      size_t n = ll < lr ? ll : lr;
      if (l_unlikely(n > 256)) luaS_eqprefix(l, r, n);
      return temp;
    }
    size_t len = strlen(l); // both are equal up to a zero byte
    // strcoll and strlen both pass over it, the second in cache
    native_work_add((int64_t)len * WORK_BYTE_COMPARED * 3 / 2 + WORK_PIECE);
    if (len == lr) return (len == ll) ? 0 : 1;
    if (len == ll) return -1;
    len++;
    l += len;
    ll -= len;
    r += len;
    lr -= len;
  }
}

// i < f, exactly.
static inline int LTintfloat(lua_Integer i, lua_Number f) {
  if (l_intfitsf(i)) return luai_numlt(cast_num(i), f);
  lua_Integer fi;
  if (luaV_flttointns(f, &fi, F2Iceil)) return i < fi;
  return f > 0; // f is out of range (or NaN: false)
}

static inline int LEintfloat(lua_Integer i, lua_Number f) {
  if (l_intfitsf(i)) return luai_numle(cast_num(i), f);
  lua_Integer fi;
  if (luaV_flttointns(f, &fi, F2Ifloor)) return i <= fi;
  return f > 0;
}

static inline int LTfloatint(lua_Number f, lua_Integer i) {
  if (l_intfitsf(i)) return luai_numlt(f, cast_num(i));
  lua_Integer fi;
  if (luaV_flttointns(f, &fi, F2Ifloor)) return fi < i;
  return f < 0;
}

static inline int LEfloatint(lua_Number f, lua_Integer i) {
  if (l_intfitsf(i)) return luai_numle(f, cast_num(i));
  lua_Integer fi;
  if (luaV_flttointns(f, &fi, F2Iceil)) return fi <= i;
  return f < 0;
}

static inline int LTnum(const TValue *l, const TValue *r) {
  if (ttisinteger(l)) {
    lua_Integer li = ivalue(l);
    if (ttisinteger(r)) return li < ivalue(r);
    return LTintfloat(li, fltvalue(r));
  }
  lua_Number lf = fltvalue(l);
  if (ttisfloat(r)) return luai_numlt(lf, fltvalue(r));
  return LTfloatint(lf, ivalue(r));
}

static inline int LEnum(const TValue *l, const TValue *r) {
  if (ttisinteger(l)) {
    lua_Integer li = ivalue(l);
    if (ttisinteger(r)) return li <= ivalue(r);
    return LEintfloat(li, fltvalue(r));
  }
  lua_Number lf = fltvalue(l);
  if (ttisfloat(r)) return luai_numle(lf, fltvalue(r));
  return LEfloatint(lf, ivalue(r));
}

static int lessthanothers(lua_State *L, const TValue *l, const TValue *r) {
  if (ttisstring(l) && ttisstring(r)) return l_strcmp(tsvalue(l), tsvalue(r)) < 0;
  return luaT_callorderTM(L, l, r, TM_LT);
}

int luaV_lessthan(lua_State *L, const TValue *l, const TValue *r) {
  if (ttisnumber(l) && ttisnumber(r)) return LTnum(l, r);
  return lessthanothers(L, l, r);
}

static int lessequalothers(lua_State *L, const TValue *l, const TValue *r) {
  if (ttisstring(l) && ttisstring(r)) return l_strcmp(tsvalue(l), tsvalue(r)) <= 0;
  return luaT_callorderTM(L, l, r, TM_LE);
}

int luaV_lessequal(lua_State *L, const TValue *l, const TValue *r) {
  if (ttisnumber(l) && ttisnumber(r)) return LEnum(l, r);
  return lessequalothers(L, l, r);
}

int luaV_equalobj(lua_State *L, const TValue *t1, const TValue *t2) {
  const TValue *tm;
  if (ttypetag(t1) != ttypetag(t2)) {
    if (ttype(t1) != ttype(t2) || ttype(t1) != LUA_TNUMBER) return 0;
    // an integer and a float: equal when the float has that integral value
    lua_Integer i1, i2;
    return luaV_tointegerns(t1, &i1, F2Ieq) && luaV_tointegerns(t2, &i2, F2Ieq) && i1 == i2;
  }
  switch (ttypetag(t1)) {
    case LUA_VNIL:
    case LUA_VFALSE:
    case LUA_VTRUE:
      return 1;
    case LUA_VNUMINT:
      return ivalue(t1) == ivalue(t2);
    case LUA_VNUMFLT:
      return luai_numeq(fltvalue(t1), fltvalue(t2));
    case LUA_VLIGHTUSERDATA:
      return pvalue(t1) == pvalue(t2);
    case LUA_VLCF:
      return fvalue(t1) == fvalue(t2);
    case LUA_VSHRSTR:
      return tsvalue(t1) == tsvalue(t2);
    case LUA_VLNGSTR:
      return luaS_eqlngstr(tsvalue(t1), tsvalue(t2));
    case LUA_VUSERDATA: {
      if (uvalue(t1) == uvalue(t2)) return 1;
      if (L == NULL) return 0;
      tm = fasttm(L, uvalue(t1)->metatable, TM_EQ);
      if (tm == NULL) tm = fasttm(L, uvalue(t2)->metatable, TM_EQ);
      break;
    }
    case LUA_VTABLE: {
      if (hvalue(t1) == hvalue(t2)) return 1;
      if (L == NULL) return 0;
      tm = fasttm(L, hvalue(t1)->metatable, TM_EQ);
      if (tm == NULL) tm = fasttm(L, hvalue(t2)->metatable, TM_EQ);
      break;
    }
    default:
      return gcvalue(t1) == gcvalue(t2);
  }
  if (tm == NULL) return 0;
  luaT_callTMres(L, tm, t1, t2, L->top);
  return !l_isfalse(s2v(L->top));
}

// ---------------------------------------------------------------------------------------------
// Indexing

// The interpreter leaves the lookup of long keys to luaV_finishget and luaV_finishset (see
// luaH_getnolong). Out of line, so that the common entries stay as they were.
[[gnu::noinline, gnu::cold]] static void finishgetlong(lua_State *L, const TValue *t, TValue *key,
                                                     StkId val) {
  const TValue *slot = luaH_get(hvalue(t), key);
  if (isempty(slot)) return luaV_finishget(L, t, key, val, slot);
  setobj2s(L, val, slot);
}

[[gnu::noinline, gnu::cold]] static void finishsetlong(lua_State *L, const TValue *t, TValue *key,
                                                     TValue *val) {
  const TValue *slot = luaH_get(hvalue(t), key);
  if (isempty(slot)) return luaV_finishset(L, t, key, val, slot);
  luaV_finishfastset(L, t, slot, val);
}

void luaV_finishget(lua_State *L, const TValue *t, TValue *key, StkId val, const TValue *slot) {
  const TValue *tm;
  for (int loop = 0; loop < MAXTAGLOOP; loop++) {
    if (slot == NULL) { // 't' is not a table
      tm = luaT_gettmbyobj(L, t, TM_INDEX);
      if (l_unlikely(notm(tm))) luaG_typeerror(L, t, "index");
    } else { // a table whose slot is empty
      if (l_unlikely(slot == &luaH_longkey)) return finishgetlong(L, t, key, val);
      tm = fasttm(L, hvalue(t)->metatable, TM_INDEX);
      if (tm == NULL) {
        setnilvalue(s2v(val));
        return;
      }
    }
    if (ttisfunction(tm)) {
      luaT_callTMres(L, tm, t, key, val);
      return;
    }
    t = tm; // index the metamethod value in turn
    if (luaV_fastget(L, t, key, slot, luaH_get)) {
      setobj2s(L, val, slot);
      return;
    }
  }
  luaG_runerror(L, "'__index' chain too long; possible loop");
}

void luaV_finishset(lua_State *L, const TValue *t, TValue *key, TValue *val, const TValue *slot) {
  for (int loop = 0; loop < MAXTAGLOOP; loop++) {
    const TValue *tm;
    if (slot != NULL) { // a table
      if (l_unlikely(slot == &luaH_longkey)) return finishsetlong(L, t, key, val);
      Table *h = hvalue(t);
      tm = fasttm(L, h->metatable, TM_NEWINDEX);
      if (tm == NULL) { // raw store
        TValue *dst = isabstkey(slot) ? luaH_newkey(L, h, key) : cast(TValue *, slot);
        setobj2t(L, dst, val);
        invalidateTMcache(h);
        luaC_barrierback(L, obj2gco(h), val);
        return;
      }
    } else {
      tm = luaT_gettmbyobj(L, t, TM_NEWINDEX);
      if (l_unlikely(notm(tm))) luaG_typeerror(L, t, "index");
    }
    if (ttisfunction(tm)) {
      luaT_callTM(L, tm, t, key, val);
      return;
    }
    t = tm;
    if (luaV_fastget(L, t, key, slot, luaH_get)) {
      luaV_finishfastset(L, t, slot, val);
      return;
    }
  }
  luaG_runerror(L, "'__newindex' chain too long; possible loop");
}

// ---------------------------------------------------------------------------------------------
// Concatenation and length

#define tostring(L, o) (ttisstring(o) || (cvt2str(o) && (luaO_tostring(L, o), 1)))
#define isemptystr(o) (ttisshrstring(o) && tsvalue(o)->shrlen == 0)

static void copy2buff(StkId top, int n, char *buff) {
  size_t tl = 0;
  do {
    size_t l = vslen(s2v(top - n));
    memcpy(buff + tl, svalue(s2v(top - n)), l);
    tl += l;
  } while (--n > 0);
}

void luaV_concat(lua_State *L, int total) {
  if (total == 1) return;
  do {
    StkId top = L->top;
    int n = 2; // values handled in this pass
    if (!(ttisstring(s2v(top - 2)) || cvt2str(s2v(top - 2))) || !tostring(L, s2v(top - 1))) {
      luaT_tryconcatTM(L);
    } else if (isemptystr(s2v(top - 1))) {
      cast_void(tostring(L, s2v(top - 2)));
    } else if (isemptystr(s2v(top - 2))) {
      setobjs2s(L, top - 2, top - 1);
    } else {
      // join as many strings and numbers as possible in one step
      size_t tl = vslen(s2v(top - 1));
      TString *ts;
      for (n = 1; n < total && tostring(L, s2v(top - n - 1)); n++) {
        size_t l = vslen(s2v(top - n - 1));
        if (l_unlikely(l >= MAX_SIZE - sizeof(TString) - tl))
          luaG_runerror(L, "string length overflow");
        tl += l;
      }
      if (tl <= LUAI_MAXSHORTLEN) {
        char buff[LUAI_MAXSHORTLEN];
        copy2buff(top, n, buff);
        ts = luaS_newlstr(L, buff, tl);
      } else {
        ts = luaS_createlngstrobj(L, tl);
        copy2buff(top, n, getstr(ts));
        native_work_add((int64_t)tl * WORK_BYTE_COMPARED);
      }
      setsvalue2s(L, top - n, ts);
    }
    total -= n - 1;
    L->top -= n - 1;
  } while (total > 1);
}

void luaV_objlen(lua_State *L, StkId ra, const TValue *rb) {
  const TValue *tm;
  switch (ttypetag(rb)) {
    case LUA_VTABLE: {
      Table *h = hvalue(rb);
      tm = fasttm(L, h->metatable, TM_LEN);
      if (tm) break;
      setivalue(s2v(ra), l_castU2S(luaH_getn(h)));
      return;
    }
    case LUA_VSHRSTR:
      setivalue(s2v(ra), tsvalue(rb)->shrlen);
      return;
    case LUA_VLNGSTR:
      setivalue(s2v(ra), cast(lua_Integer, tsvalue(rb)->u.lnglen));
      return;
    default:
      tm = luaT_gettmbyobj(L, rb, TM_LEN);
      if (l_unlikely(notm(tm))) luaG_typeerror(L, rb, "get length of");
      break;
  }
  luaT_callTMres(L, tm, rb, rb, ra);
}

// ---------------------------------------------------------------------------------------------
// Numeric for loops

// The payload of a value taken as an integer or a float whatever its tag (a copy of the bytes,
// defined for any variant).
static inline lua_Integer payloadint(const TValue *o) {
  lua_Integer v;
  memcpy(&v, &val_(o), sizeof(v));
  return v;
}
static inline lua_Number payloadflt(const TValue *o) {
  lua_Number v;
  memcpy(&v, &val_(o), sizeof(v));
  return v;
}

// OP_FORLOOP's jump back by Bx instructions, as bytes straight from the instruction word: one
// shift and one mask, which pays for the tag store that R[A] gets.
static_assert(sizeof(Instruction) == 4, "a jump of n instructions is 4n bytes");
#define forjumpback(pc, i)                                      \
  ((pc) = reinterpret_cast<const Instruction *>(                \
       reinterpret_cast<const char *>(pc) -                     \
       (((i) >> (POS_Bx - 2)) & (cast_uint(MAXARG_Bx) << 2))))

// Converts the limit of an integer loop; returns 1 when the loop must be skipped.
static int forlimit(lua_State *L, lua_Integer init, const TValue *lim, lua_Integer *p,
                    lua_Integer step) {
  if (!luaV_tointeger(lim, p, (step < 0 ? F2Iceil : F2Ifloor))) {
    lua_Number flim;
    if (!tonumber(lim, &flim)) luaG_forerror(L, lim, "limit");
    // a float out of the integer range
    if (luai_numlt(0, flim)) {
      if (step < 0) return 1;
      *p = LUA_MAXINTEGER;
    } else {
      if (step > 0) return 1;
      *p = LUA_MININTEGER;
    }
  }
  return step > 0 ? init > *p : init < *p;
}

// Prepares a numeric for loop at ra; returns 1 when the loop does not run.
static int forprep(lua_State *L, StkId ra) {
  TValue *pinit = s2v(ra);
  TValue *plimit = s2v(ra + 1);
  TValue *pstep = s2v(ra + 2);
  if (ttisinteger(pinit) && ttisinteger(pstep)) {
    lua_Integer init = ivalue(pinit);
    lua_Integer step = ivalue(pstep);
    lua_Integer limit;
    if (step == 0) luaG_runerror(L, "'for' step is zero");
    setivalue(s2v(ra + 3), init);
    if (forlimit(L, init, plimit, &limit, step)) return 1;
    // the iteration count, computed unsigned so that the control value never overflows
    lua_Unsigned count;
    if (step > 0) {
      count = l_castS2U(limit) - l_castS2U(init);
      if (step != 1) count /= l_castS2U(step);
    } else {
      count = l_castS2U(init) - l_castS2U(limit);
      count /= l_castS2U(-(step + 1)) + 1u; // step+1 avoids negating minint
    }
    setivalue(plimit, l_castU2S(count));
  } else {
    lua_Number init, flimit, step;
    if (l_unlikely(!tonumber(plimit, &flimit))) luaG_forerror(L, plimit, "limit");
    if (l_unlikely(!tonumber(pstep, &step))) luaG_forerror(L, pstep, "step");
    if (l_unlikely(!tonumber(pinit, &init))) luaG_forerror(L, pinit, "initial value");
    if (step == 0) luaG_runerror(L, "'for' step is zero");
    if (luai_numlt(0, step) ? luai_numlt(flimit, init) : luai_numlt(init, flimit)) return 1;
    setfltvalue(plimit, flimit);
    setfltvalue(pstep, step);
    setfltvalue(s2v(ra), init);
    setfltvalue(s2v(ra + 3), init);
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Closures

static void pushclosure(lua_State *L, Proto *p, UpVal **encup, StkId base, StkId ra) {
  int nup = p->sizeupvalues;
  Upvaldesc *uv = p->upvalues;
  LClosure *ncl = luaF_newLclosure(L, nup);
  ncl->p = p;
  setclLvalue2s(L, ra, ncl); // anchor it before the upvalues are made
  for (int i = 0; i < nup; i++) {
    if (uv[i].instack)
      ncl->upvals[i] = luaF_findupval(L, base + uv[i].idx);
    else
      ncl->upvals[i] = encup[uv[i].idx];
    luaC_objbarrier(L, ncl, ncl->upvals[i]);
  }
}

// ---------------------------------------------------------------------------------------------
// Completing an instruction interrupted by a yield inside a metamethod

void luaV_finishOp(lua_State *L) {
  CallInfo *ci = L->ci;
  StkId base = ci->func + 1;
  Instruction inst = *(ci->u.l.savedpc - 1);
  OpCode op = GET_OPCODE(inst);
  switch (op) {
    case OP_MMBIN:
    case OP_MMBINI:
    case OP_MMBINK:
      setobjs2s(L, base + GETARG_A(*(ci->u.l.savedpc - 2)), --L->top);
      break;
    case OP_UNM:
    case OP_BNOT:
    case OP_LEN:
    case OP_GETTABUP:
    case OP_GETTABLE:
    case OP_GETI:
    case OP_GETFIELD:
    case OP_SELF:
      setobjs2s(L, base + GETARG_A(inst), --L->top);
      break;
    case OP_LT:
    case OP_LE:
    case OP_LTI:
    case OP_LEI:
    case OP_GTI:
    case OP_GEI:
    case OP_EQ: {
      int res = !l_isfalse(s2v(L->top - 1));
      L->top--;
      if (res != GETARG_k(inst)) ci->u.l.savedpc++; // condition failed: skip the jump
      break;
    }
    case OP_CONCAT: {
      StkId top = L->top - 1; // top when the metamethod was called
      int a = GETARG_A(inst);
      int total = cast_int(top - 1 - (base + a)); // values still to join
      setobjs2s(L, top - 2, top);
      L->top = top - 1;
      luaV_concat(L, total);
      break;
    }
    default: // calls, OP_TFORCALL and the set instructions need nothing
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// The cycle budget

// Out of line: the slice's budget is spent (or the kernel asked for a yield) before the
// instruction at pc. cpu_cycles is up to date. Returns 0 when the instruction may run, 1 when
// the thread is suspended and the interpreter must return.
[[gnu::noinline, gnu::cold]] static int budget_spent(lua_State *L, CallInfo *ci,
                                                    const Instruction *pc) {
  // Keep the instruction charges that follow from wrapping a saturated counter negative,
  // which would hide the spent budget from every later check.
  if (l_unlikely(cpu_cycles > INT32_MAX - 64)) cpu_cycles = INT32_MAX - 64;
  if (!yieldable(L)) {
    // Code that cannot yield overruns its slice, but not without bound; its native work counts
    // toward the same ceiling.
    if ((int64_t)cpu_cycles - (int64_t)cpu_cycles_max + native_work_cycles() > NONYIELD_CEILING) {
      ci->u.l.savedpc = pc + 1; // report the line of this instruction
      luaG_runerror(L, "cycle budget exceeded in non-yieldable code");
    }
    return 0;
  }
  L->slice_escape = 1;
  if (ci->callstatus & CIST_RESUMED) { // resumed here: run at least this instruction
    ci->callstatus &= ~CIST_RESUMED;
    return 0;
  }
  if (!isIT(*pc)) L->top = ci->top; // keep every register live while suspended
  ci->u.l.savedpc = pc;             // resume at this (uncharged) instruction
  lua_yieldk(L, 0, 0, NULL);
  ci->callstatus |= CIST_RESUMED;
  if (luaD_yieldinplace(L)) return 1;
  luaD_throw(L, LUA_YIELD);
}

// ---------------------------------------------------------------------------------------------
// The interpreter

// Register operands as byte offsets: one shift and one mask instead of shift, mask, scale.
static_assert(sizeof(TValue) == 16 && POS_A == 7 && POS_B == 16 && POS_C == 24 && SIZE_A == 8 &&
                  SIZE_B == 8 && SIZE_C == 8,
              "operand offsets below assume 16-byte values and 8-bit operands");
#define argoff_A(i) (((i) >> 3) & 0xff0u)
#define argoff_B(i) (((i) >> 12) & 0xff0u)
#define argoff_C(i) (((i) >> 20) & 0xff0u)
#define offptr(p, off) (cast(TValue *, cast(char *, p) + (off)))
#define RA(i) offptr(base, argoff_A(i))
#define RB(i) offptr(base, argoff_B(i))
#define vRB(i) s2v(RB(i))
#define KB(i) offptr(k, argoff_B(i))
#define RC(i) offptr(base, argoff_C(i))
#define vRC(i) s2v(RC(i))
#define KC(i) offptr(k, argoff_C(i))
#define RKC(i) offptr(TESTARG_k(i) ? k : s2v(base), argoff_C(i))

// The counter runs up to 'lim' as a negative distance ('ctr' = cycles - lim), so that each
// dispatch charges and tests in one add and a sign branch. While no hook is on and no forced
// yield is pending 'lim' is the budget plus one, plus the two cycles of the dispatch that
// tests it; else it is far below any count, so that the next fetch takes the slow path (which
// repeats the exact tests and resets 'lim'). 64 bits keep the distance exact for any count;
// the count itself wraps at 32 bits, as the global does.
#define LIM_TRAPPED (-((int64_t)1 << 62))
#define computelim() \
  (lim = (trap | cpu_superyielding) ? LIM_TRAPPED : (int64_t)cpu_cycles_max + 3)
#define curcycles() ((int32_t)(uint32_t)(uint64_t)(ctr + lim))
// A new 'lim' for the same count (after native work that may have asked for a yield).
#define setlim() \
  { \
    int32_t c_ = curcycles(); \
    computelim(); \
    ctr = (int64_t)c_ - lim; \
  }
#define updatetrap(ci) \
  (trap = ci->u.l.trap, \
   trap ? (void)(ctr = (int64_t)curcycles() - LIM_TRAPPED, lim = LIM_TRAPPED) : (void)0)
#define updatebase(ci) (base = ci->func + 1)
#define updatestack(ci) \
  { if (l_unlikely(trap)) { updatebase(ci); ra = RA(i); } }

// The cycle counter lives in a local; the global is written before anything that can
// allocate, call out, raise or read it, and read back afterwards.
#define savecycles() (cpu_cycles = curcycles())
#define loadcycles() (computelim(), ctr = (int64_t)cpu_cycles - lim)
#define addcycles(n) (ctr += (n))
// The 23 cheap opcodes give back one of the two cycles charged at dispatch.
#define cheap() (ctr -= 1)

// Hooks are only ever installed by code that runs under a call (every call reloads 'trap'),
// never asynchronously, so jumps need not look at the trap.
#define dojump(ci, i, e) { pc += GETARG_sJ(i) + e; }
#define donextjump(ci) { Instruction ni = *pc; dojump(ci, ni, 1); }
#define docondjump() if (cond != GETARG_k(i)) pc++; else donextjump(ci);
// As docondjump on a condition not yet reduced to 0/1: testing k first lets each arm branch on
// the comparison's flags directly.
#define condjump(c) \
  { \
    if (TESTARG_k(i)) { \
      if (c) donextjump(ci) else pc++; \
    } else { \
      if (c) pc++; else donextjump(ci); \
    } \
  }

#define savepc(L) (ci->u.l.savedpc = pc)
#define savestate(L, ci) (savepc(L), L->top = ci->top)

// Calls that may run Lua code, allocate or raise.
#define Protect(exp) { savestate(L, ci); savecycles(); exp; loadcycles(); updatetrap(ci); }
// As Protect, but the top is already right.
#define ProtectNT(exp) { savepc(L); savecycles(); exp; loadcycles(); updatetrap(ci); }
// Calls that can only raise or allocate (no Lua code runs).
#define halfProtect(exp) { savestate(L, ci); savecycles(); exp; loadcycles(); }

#define checkGC(L, c) \
  { luaC_condGC(L, (savepc(L), L->top = (c), savecycles()), (loadcycles(), updatetrap(ci))); }

// Charge and budget check, hooks and fetch of the next instruction. The slow path sees the
// count from before the charge, as the tests it repeats expect.
#define vmfetch_slow() \
  { \
      __asm__("" : "+r"(ctr)); /* keeps the count from before the charge off the fast path */ \
      addcycles(-2); \
      if ((curcycles() | cpu_superyielding) > cpu_cycles_max) { \
        savecycles(); \
        if (budget_spent(L, ci, pc)) goto suspended; \
        loadcycles(); \
      } \
      addcycles(2); \
      if (trap) { \
        savecycles(); \
        trap = luaG_traceexec(L, pc); \
        updatebase(ci); \
      } else \
        savecycles(); \
      loadcycles(); \
  }
#define vmfetch() \
  { \
    addcycles(2); \
    if (l_unlikely(ctr >= 0)) vmfetch_slow(); \
    i = *pc; \
    pc++; \
    ra = RA(i); \
  }
// vmfetch after skipping one instruction (the OP_MMBIN* behind an arithmetic fast path): the
// fast path reads past it and moves pc once.
#define vmfetch_skip() \
  { \
    addcycles(2); \
    if (l_unlikely(ctr >= 0)) { \
      pc++; \
      vmfetch_slow(); \
      i = *pc; \
      pc++; \
    } else { \
      i = pc[1]; \
      pc += 2; \
    } \
    ra = RA(i); \
  }

// The table covers the whole low byte, so that the top bit of the byte (the low bit of A)
// needs no mask.
#define vmdispatch(o) goto *disptab[o]
#define vmcase(l) L_##l:
#define vmbreak { vmfetch(); vmdispatch((uint8_t)i); }
#define vmbreak_skip { vmfetch_skip(); vmdispatch((uint8_t)i); }

// Arithmetic fast paths: on success the following OP_MMBIN* is skipped (not dispatched).
#define l_addi(L, a, b) intop(+, a, b)
#define l_subi(L, a, b) intop(-, a, b)
#define l_muli(L, a, b) intop(*, a, b)
#define l_band(a, b) intop(&, a, b)
#define l_bor(a, b) intop(|, a, b)
#define l_bxor(a, b) intop(^, a, b)
#define l_lti(a, b) (a < b)
#define l_lei(a, b) (a <= b)
#define l_gti(a, b) (a > b)
#define l_gei(a, b) (a >= b)

#define fadd(L, a, b) ((a) + (b))
#define fsub(L, a, b) ((a) - (b))
#define fmul(L, a, b) ((a) * (b))

#define l_cat_(a, b) a##b
#define l_cat(a, b) l_cat_(a, b)
// GCC moves the code after a cold label out of the hot path; clang has no label attribute.
#if defined(__GNUC__) && !defined(__clang__)
#define l_coldlabel __attribute__((cold))
#else
#define l_coldlabel
#endif

// A tag test as one compare against memory: GCC otherwise loads the tag into a register to
// keep it for the tests that follow, which costs a load and a compare per operand.
// A macro, not a function, so that the tag is an immediate at every optimisation level; the
// sanitizers keep the plain test, which they instrument.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && \
    defined(__GCC_ASM_FLAG_OUTPUTS__) && !defined(__SANITIZE_ADDRESS__)
#define memtagis(o, t) \
  ({ \
    bool memtag_eq_; \
    __asm__("cmpb %2, %1" : "=@cce"(memtag_eq_) : "m"(rawtt(o)), "i"(t)); \
    memtag_eq_; \
  })
#else
#define memtagis(o, t) checktag((o), (t))
#endif

// 'c' charges the instruction (cheap() or nothing) just before each dispatch, so that the
// adjusted counter need not be kept live across the type tests.
// Each fast path dispatches the next instruction itself, so that the hot paths fall through
// and only the failing case (which runs the OP_MMBIN*) reaches the handler's own dispatch.
#define op_arithI(L, iop, fop, c) \
  { \
    TValue *v1 = vRB(i); \
    int imm = GETARG_sC(i); \
    if (l_unlikely(!memtagis(v1, LUA_VNUMINT))) goto l_cat(arith_flt_, __LINE__); \
    { \
      lua_Integer iv1 = ivalue(v1); \
      setivalue(s2v(ra), iop(L, iv1, imm)); \
      c; \
      vmbreak_skip; \
    } \
  l_cat(arith_flt_, __LINE__): \
    if (!memtagis(v1, LUA_VNUMFLT)) goto l_cat(arith_slow_, __LINE__); \
    { \
      lua_Number nb = fltvalue(v1); \
      lua_Number fimm = cast_num(imm); \
      setfltvalue(s2v(ra), fop(L, nb, fimm)); \
      c; \
      vmbreak_skip; \
    } \
  l_cat(arith_slow_, __LINE__): l_coldlabel; \
  }

#define op_arithf_aux(L, v1, v2, fop, c) \
  { \
    lua_Number n1; \
    lua_Number n2; \
    if (tonumberns(v1, n1) && tonumberns(v2, n2)) { \
      setfltvalue(s2v(ra), fop(L, n1, n2)); \
      c; \
      vmbreak_skip; \
    } \
  }

#define op_arithf(L, fop, c) { TValue *v1 = vRB(i); TValue *v2 = vRC(i); op_arithf_aux(L, v1, v2, fop, c); }
#define op_arithfK(L, fop, c) { TValue *v1 = vRB(i); TValue *v2 = KC(i); op_arithf_aux(L, v1, v2, fop, c); }

// Each pairing of number kinds takes its own path to its own dispatch.
#define op_arith_fop(L, x1, x2, fop, c) \
  { \
    lua_Number n1 = (x1); \
    lua_Number n2 = (x2); \
    setfltvalue(s2v(ra), fop(L, n1, n2)); \
    c; \
    vmbreak_skip; \
  }

#define op_arith_aux(L, v1, v2, iop, fop, c) \
  { \
    if (l_unlikely(!memtagis(v1, LUA_VNUMINT))) goto l_cat(arith_flt_, __LINE__); \
    if (l_unlikely(!memtagis(v2, LUA_VNUMINT))) goto l_cat(arith_intflt_, __LINE__); \
    { \
      lua_Integer i1 = ivalue(v1); \
      lua_Integer i2 = ivalue(v2); \
      setivalue(s2v(ra), iop(L, i1, i2)); \
      c; \
      vmbreak_skip; \
    } \
  l_cat(arith_flt_, __LINE__): \
    if (l_unlikely(!memtagis(v1, LUA_VNUMFLT))) goto l_cat(arith_mm_, __LINE__); \
    if (l_unlikely(!memtagis(v2, LUA_VNUMFLT))) goto l_cat(arith_fltint_, __LINE__); \
    op_arith_fop(L, fltvalue(v1), fltvalue(v2), fop, c); \
  l_cat(arith_intflt_, __LINE__): \
    if (l_unlikely(!memtagis(v2, LUA_VNUMFLT))) goto l_cat(arith_mm_, __LINE__); \
    op_arith_fop(L, cast_num(ivalue(v1)), fltvalue(v2), fop, c); \
  l_cat(arith_fltint_, __LINE__): \
    if (l_unlikely(!memtagis(v2, LUA_VNUMINT))) goto l_cat(arith_mm_, __LINE__); \
    op_arith_fop(L, fltvalue(v1), cast_num(ivalue(v2)), fop, c); \
  l_cat(arith_mm_, __LINE__): l_coldlabel; \
  }

#define op_arith(L, iop, fop, c) { TValue *v1 = vRB(i); TValue *v2 = vRC(i); op_arith_aux(L, v1, v2, iop, fop, c); }
#define op_arithK(L, iop, fop, c) { TValue *v1 = vRB(i); TValue *v2 = KC(i); op_arith_aux(L, v1, v2, iop, fop, c); }

#define op_bitwiseK(L, op, c) \
  { \
    TValue *v1 = vRB(i); \
    TValue *v2 = KC(i); \
    lua_Integer i1; \
    lua_Integer i2 = ivalue(v2); \
    if (ttisinteger(v1)) { \
      i1 = ivalue(v1); \
      setivalue(s2v(ra), op(i1, i2)); \
      c; \
      vmbreak_skip; \
    } \
    goto l_cat(bit_slow_, __LINE__); \
  l_cat(bit_slow_, __LINE__): l_coldlabel; \
    if (luaV_tointegerns(v1, &i1, F2Ieq)) { \
      setivalue(s2v(ra), op(i1, i2)); \
      c; \
      vmbreak_skip; \
    } \
  }

#define op_bitwise(L, op, c) \
  { \
    TValue *v1 = vRB(i); \
    TValue *v2 = vRC(i); \
    lua_Integer i1; \
    lua_Integer i2; \
    if (memtagis(v1, LUA_VNUMINT) && memtagis(v2, LUA_VNUMINT)) { \
      i1 = ivalue(v1); \
      i2 = ivalue(v2); \
      setivalue(s2v(ra), op(i1, i2)); \
      c; \
      vmbreak_skip; \
    } \
    goto l_cat(bit_slow_, __LINE__); \
  l_cat(bit_slow_, __LINE__): l_coldlabel; \
    if (tointegerns(v1, &i1) && tointegerns(v2, &i2)) { \
      setivalue(s2v(ra), op(i1, i2)); \
      c; \
      vmbreak_skip; \
    } \
  }

#define op_order(L, opi, opn, other) \
  { \
    int cond; \
    TValue *rb = vRB(i); \
    if (l_unlikely(!memtagis(s2v(ra), LUA_VNUMINT))) goto l_cat(order_other_, __LINE__); \
    if (l_unlikely(!memtagis(rb, LUA_VNUMINT))) goto l_cat(order_other_, __LINE__); \
    condjump(opi(ivalue(s2v(ra)), ivalue(rb))); \
    vmbreak; \
  l_cat(order_other_, __LINE__): \
    if (ttisnumber(s2v(ra)) && ttisnumber(rb)) { \
      condjump(opn(s2v(ra), rb)); \
      vmbreak; \
    } \
    Protect(cond = other(L, s2v(ra), rb)); \
    docondjump(); \
  }

#define op_orderI(L, opi, opf, inv, tm) \
  { \
    int cond; \
    int im = GETARG_sB(i); \
    if (l_unlikely(!memtagis(s2v(ra), LUA_VNUMINT))) goto l_cat(order_flt_, __LINE__); \
    condjump(opi(ivalue(s2v(ra)), im)); \
    vmbreak; \
  l_cat(order_flt_, __LINE__): \
    if (l_unlikely(!memtagis(s2v(ra), LUA_VNUMFLT))) goto l_cat(order_tm_, __LINE__); \
    { \
      lua_Number fa = fltvalue(s2v(ra)); \
      lua_Number fim = cast_num(im); \
      condjump(opf(fa, fim)); \
      vmbreak; \
    } \
  l_cat(order_tm_, __LINE__): l_coldlabel; \
    { \
      int isf = GETARG_C(i); \
      Protect(cond = luaT_callorderiTM(L, s2v(ra), im, inv, isf, tm)); \
      docondjump(); \
    } \
  }

// Integer floor division and modulo inline; the rare divisors 0 and -1 go out of line.
static inline lua_Integer idiv_fast(lua_State *L, lua_Integer m, lua_Integer n) {
  if (l_likely(l_castS2U(n) + 1u > 1u)) {
    lua_Integer q = m / n;
    if ((m ^ n) < 0 && m % n != 0) q -= 1;
    return q;
  }
  return luaV_idiv(L, m, n);
}

static inline lua_Integer imod_fast(lua_State *L, lua_Integer m, lua_Integer n) {
  if (l_likely(l_castS2U(n) + 1u > 1u)) {
    lua_Integer r = m % n;
    if (r != 0 && (r ^ n) < 0) r += n;
    return r;
  }
  return luaV_mod(L, m, n);
}

static inline lua_Number fmod_fast(lua_State *L, lua_Number a, lua_Number b) {
  return luaV_modf(L, a, b);
}

// Peek operand: an integer, or a float with an integral value in [-2^63, 2^63).
static inline int peekaddr(const TValue *o, lua_Integer *addr) {
  if (ttisinteger(o)) {
    *addr = ivalue(o);
    return 1;
  }
  if (ttisfloat(o)) {
    lua_Number f = fltvalue(o);
    if (f == std::floor(f) && f >= -9223372036854775808.0 && f < 9223372036854775808.0) {
      *addr = (lua_Integer)f;
      return 1;
    }
  }
  return 0;
}

// Short-string lookup inlined into the field instructions (same walk as luaH_getshortstr).
// The node index stays unsigned (no sign extension).
[[gnu::always_inline]] static inline const TValue *getshortstr_fast(Table *t, TString *key) {
  Node *n = t->node + (key->hash & ((1u << t->lsizenode) - 1u));
  for (;;) {
    if (keyisshrstr(n) && keystrval(n) == key) return gval(n);
    int nx = gnext(n);
    if (nx == 0) return &luaH_absentkey;
    n += nx;
  }
}

// luaV_fastget with the misses branching off to 'label', so that hits fall through.
#define fastget_or_goto(t, key, slot, f, label) \
  { \
    if (l_unlikely(!ttistable(t))) { \
      slot = NULL; \
      goto label; \
    } \
    slot = f(hvalue(t), key); \
    if (l_unlikely(isempty(slot))) goto label; \
  }

// A raw store suits a table whose metatable is known to lack __newindex.
#define nonewindex(L, h) (fasttm(L, (h)->metatable, TM_NEWINDEX) == NULL)
// A missing key reads as nil without luaV_finishget.
#define noindex(L, h) (fasttm(L, (h)->metatable, TM_INDEX) == NULL)

// The __index chain of a short-string key missing from h, as luaV_finishget follows it
// while it runs through tables: the value found, nil when the chain ends, or NULL when it
// reaches a function or another kind of value (luaV_finishget then starts over: the lookups
// here change nothing but the metamethod-absence caches it would set as well).
static const TValue vm_nilvalue = {{NULL}, LUA_VNIL};
[[gnu::noinline]] static const TValue *indexchain(lua_State *L, Table *h, TString *key) {
  TString *ename = G(L)->tmname[TM_INDEX];
  for (int loop = 0; loop < MAXTAGLOOP; loop++) {
    Table *mt = h->metatable;  // fasttm, with luaT_gettm's lookup inline
    if (mt == NULL || (mt->flags & (1u << TM_INDEX))) return &vm_nilvalue;
    const TValue *tm = getshortstr_fast(mt, ename);
    if (notm(tm)) {
      mt->flags |= cast_byte(1u << TM_INDEX);
      return &vm_nilvalue;
    }
    if (!ttistable(tm)) return NULL;
    h = hvalue(tm);
    const TValue *slot = getshortstr_fast(h, key);
    if (!isempty(slot)) return slot;
  }
  return NULL;  // luaV_finishget raises
}

// A copy into a stack slot or a standalone value, field by field. One 16-byte load and store
// run fewer instructions, but the value was most often just written by two narrower stores,
// which the processor cannot forward to a wider load: it stalls (spectral_norm took 25% longer).
#define setslot(dst, src) setobj(L, static_cast<TValue *>(dst), static_cast<const TValue *>(src))

// Keep one dispatch jump per handler (direct threading) instead of a shared one.
[[gnu::optimize("no-crossjumping", "no-gcse", "no-code-hoisting")]] void luaV_execute(lua_State *L, CallInfo *ci) {
// Each opcode appears twice: the top bit of the byte is the low bit of A.
#define DISPATCH_HALF \
      &&L_OP_MOVE, &&L_OP_LOADI, &&L_OP_LOADF, &&L_OP_LOADK, &&L_OP_LOADKX, &&L_OP_LOADFALSE, \
      &&L_OP_LFALSESKIP, &&L_OP_LOADTRUE, &&L_OP_LOADNIL, &&L_OP_GETUPVAL, &&L_OP_SETUPVAL, \
      &&L_OP_GETTABUP, &&L_OP_GETTABLE, &&L_OP_GETI, &&L_OP_GETFIELD, &&L_OP_SETTABUP, \
      &&L_OP_SETTABLE, &&L_OP_SETI, &&L_OP_SETFIELD, &&L_OP_NEWTABLE, &&L_OP_SELF, \
      &&L_OP_ADDI, &&L_OP_ADDK, &&L_OP_SUBK, &&L_OP_MULK, &&L_OP_MODK, &&L_OP_POWK, \
      &&L_OP_DIVK, &&L_OP_IDIVK, &&L_OP_BANDK, &&L_OP_BORK, &&L_OP_BXORK, &&L_OP_SHRI, \
      &&L_OP_SHLI, &&L_OP_ADD, &&L_OP_SUB, &&L_OP_MUL, &&L_OP_MOD, &&L_OP_POW, &&L_OP_DIV, \
      &&L_OP_IDIV, &&L_OP_BAND, &&L_OP_BOR, &&L_OP_BXOR, &&L_OP_SHL, &&L_OP_SHR, \
      &&L_OP_MMBIN, &&L_OP_MMBINI, &&L_OP_MMBINK, &&L_OP_UNM, &&L_OP_BNOT, &&L_OP_NOT, \
      &&L_OP_PEEK, &&L_OP_PEEK2, &&L_OP_PEEK4, &&L_OP_PEEK8, &&L_OP_LEN, &&L_OP_CONCAT, \
      &&L_OP_CLOSE, &&L_OP_TBC, &&L_OP_JMP, &&L_OP_EQ, &&L_OP_LT, &&L_OP_LE, &&L_OP_EQK, \
      &&L_OP_EQI, &&L_OP_LTI, &&L_OP_LEI, &&L_OP_GTI, &&L_OP_GEI, &&L_OP_TEST, \
      &&L_OP_TESTSET, &&L_OP_CALL, &&L_OP_TAILCALL, &&L_OP_RETURN, &&L_OP_RETURN0, \
      &&L_OP_RETURN1, &&L_OP_FORLOOP, &&L_OP_FORPREP, &&L_OP_TFORPREP, &&L_OP_TFORCALL, \
      &&L_OP_TFORLOOP, &&L_OP_SETLIST, &&L_OP_CLOSURE, &&L_OP_VARARG, &&L_OP_VARARGPREP, \
      &&L_OP_EXTRAARG, \
  /* opcodes 87-127 do not exist; a corrupt chunk reaching one does nothing */ \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, &&L_OP_EXTRAARG, \
      &&L_OP_EXTRAARG
  static const void *const disptab[256] = {DISPATCH_HALF, DISPATCH_HALF};
#undef DISPATCH_HALF
  static_assert(NUM_OPCODES == 87 && POS_OP == 0 && SIZE_OP == 7, "dispatch table covers the opcodes");

  TValue *k;
  StkId base;
  // The running closure stays in its frame's function slot, just below 'base': reading it
  // from there costs the same load as a spilled local, and calls and returns need not store it.
  struct FrameClosure {
    const StkId &base;
    LClosure *operator->() const { return clLvalue(s2v(base - 1)); }
  } cl{base};
  const Instruction *pc;
  int trap;
  int64_t lim = 0;
  int64_t ctr = cpu_cycles;
  Instruction i;
  StkId ra;

startfunc:
returning:
  trap = L->hookmask;
  base = ci->func + 1;
  k = cl->p->k;
  pc = ci->u.l.savedpc;
  if (l_unlikely(trap)) {
    if (pc == cl->p->code) { // first instruction of a call
      if (cl->p->is_vararg)
        trap = 0; // hooks start after OP_VARARGPREP
      else if (!(ci->callstatus & CIST_RESUMED)) {
        savecycles();
        luaD_hookcall(L, ci);
        loadcycles();
      }
    }
    ci->u.l.trap = 1;
  }
  setlim();
  base = ci->func + 1;
  vmbreak;

  vmcase(OP_MOVE) {
    cheap();
    setslot(ra, RB(i));
    vmbreak;
  }
  vmcase(OP_LOADI) {
    cheap();
    lua_Integer b = GETARG_sBx(i);
    setivalue(s2v(ra), b);
    vmbreak;
  }
  vmcase(OP_LOADF) {
    int b = GETARG_sBx(i);
    setfltvalue(s2v(ra), cast_num(b));
    vmbreak;
  }
  vmcase(OP_LOADK) {
    cheap();
    TValue *rb = k + GETARG_Bx(i);
    setslot(ra, rb);
    vmbreak;
  }
  vmcase(OP_LOADKX) {
    cheap();
    TValue *rb = k + GETARG_Ax(*pc);
    pc++; // OP_EXTRAARG is consumed here
    setslot(ra, rb);
    vmbreak;
  }
  vmcase(OP_LOADFALSE) {
    cheap();
    setbfvalue(s2v(ra));
    vmbreak;
  }
  vmcase(OP_LFALSESKIP) {
    setbfvalue(s2v(ra));
    pc++;
    vmbreak;
  }
  vmcase(OP_LOADTRUE) {
    cheap();
    setbtvalue(s2v(ra));
    vmbreak;
  }
  vmcase(OP_LOADNIL) {
    cheap();
    int b = GETARG_B(i);
    do {
      setnilvalue(s2v(ra++));
    } while (b--);
    vmbreak;
  }
  vmcase(OP_GETUPVAL) {
    int b = GETARG_B(i);
    setslot(ra, cl->upvals[b]->v);
    vmbreak;
  }
  vmcase(OP_SETUPVAL) {
    UpVal *uv = cl->upvals[GETARG_B(i)];
    setslot(uv->v, s2v(ra));
    luaC_barrier(L, uv, s2v(ra));
    vmbreak;
  }
  vmcase(OP_GETTABUP) {
    const TValue *slot;
    TValue *upval = cl->upvals[GETARG_B(i)]->v;
    TValue *rc = KC(i);
    TString *key = tsvalue(rc);
    fastget_or_goto(upval, key, slot, getshortstr_fast, gettabup_finish);
    setobj2s(L, ra, slot);
    vmbreak;
  gettabup_finish:
    Protect(luaV_finishget(L, upval, rc, ra, slot));
    vmbreak;
  }
  vmcase(OP_GETTABLE) {
    const TValue *slot;
    TValue *rb = vRB(i);
    TValue *rc = vRC(i);
    if (l_unlikely(!ttisinteger(rc))) goto gettable_other;
    if (l_unlikely(!ttistable(rb))) {
      slot = NULL;
      goto gettable_finish;
    }
    {
      Table *h = hvalue(rb);
      lua_Integer n = ivalue(rc);
      slot = (l_castS2U(n) - 1u < h->alimit) ? &h->array[n - 1] : luaH_getint(h, n);
      if (l_unlikely(isempty(slot))) goto gettable_finish;
      setobj2s(L, ra, slot);
      vmbreak;
    }
  gettable_other:
    if (luaV_fastget(L, rb, rc, slot, luaH_getnolong)) {
      setobj2s(L, ra, slot);
      vmbreak;
    }
  gettable_finish:
    Protect(luaV_finishget(L, rb, rc, ra, slot));
    vmbreak;
  }
  vmcase(OP_GETI) {
    const TValue *slot;
    TValue *rb = vRB(i);
    lua_Integer c = GETARG_C(i);
    if (l_likely(ttistable(rb))) {
      Table *h = hvalue(rb);
      slot = (l_castS2U(c) - 1u < h->alimit) ? &h->array[c - 1] : luaH_getint(h, c);
      if (l_likely(!isempty(slot))) {
        setobj2s(L, ra, slot);
        vmbreak;
      }
      if (noindex(L, h)) {
        setnilvalue(s2v(ra));
        vmbreak;
      }
    } else
      slot = NULL;
    TValue key;
    setivalue(&key, c);
    Protect(luaV_finishget(L, rb, &key, ra, slot));
    vmbreak;
  }
  vmcase(OP_GETFIELD) {
    const TValue *slot;
    TValue *rb = vRB(i);
    TValue *rc = KC(i);
    TString *key = tsvalue(rc);
    fastget_or_goto(rb, key, slot, getshortstr_fast, getfield_miss);
    setobj2s(L, ra, slot);
    vmbreak;
  getfield_miss:
    if (slot != NULL) {
      const TValue *v = indexchain(L, hvalue(rb), key);
      if (v != NULL) {
        setobj2s(L, ra, v);
        vmbreak;
      }
    }
    Protect(luaV_finishget(L, rb, rc, ra, slot));
    vmbreak;
  }
  vmcase(OP_SETTABUP) {
    const TValue *slot;
    TValue *upval = cl->upvals[GETARG_A(i)]->v;
    TValue *rb = KB(i);
    TValue *rc = RKC(i);
    TString *key = tsvalue(rb);
    fastget_or_goto(upval, key, slot, getshortstr_fast, settabup_finish);
    luaV_finishfastset(L, upval, slot, rc);
    vmbreak;
  settabup_finish:
    Protect(luaV_finishset(L, upval, rb, rc, slot));
    vmbreak;
  }
  vmcase(OP_SETTABLE) {
    const TValue *slot;
    TValue *rb = vRB(i);
    TValue *rc = RKC(i);
    if (l_unlikely(!ttisinteger(rb))) goto settable_other;
    if (l_unlikely(!ttistable(s2v(ra)))) {
      slot = NULL;
      goto settable_finish;
    }
    {
      Table *h = hvalue(s2v(ra));
      lua_Integer n = ivalue(rb);
      slot = (l_castS2U(n) - 1u < h->alimit) ? &h->array[n - 1] : luaH_getint(h, n);
      if (l_unlikely(isempty(slot))) goto settable_miss;
      luaV_finishfastset(L, s2v(ra), slot, rc);
      vmbreak;
    }
  settable_other:
    if (luaV_fastget(L, s2v(ra), rb, slot, luaH_getnolong)) {
      luaV_finishfastset(L, s2v(ra), slot, rc);
      vmbreak;
    }
  settable_miss:
    if (slot == &luaH_absentkey && (ttisinteger(rb) || ttisshrstring(rb)) &&
        luaH_setnewkey(L, hvalue(s2v(ra)), rb, rc))
      vmbreak;
  settable_finish:
    Protect(luaV_finishset(L, s2v(ra), rb, rc, slot));
    vmbreak;
  }
  vmcase(OP_SETI) {
    const TValue *slot;
    lua_Integer c = GETARG_B(i);
    TValue *rc = RKC(i);
    if (l_likely(ttistable(s2v(ra)))) {
      Table *h = hvalue(s2v(ra));
      slot = (l_castS2U(c) - 1u < h->alimit) ? &h->array[c - 1] : luaH_getint(h, c);
      if (l_likely(!isempty(slot))) {
        luaV_finishfastset(L, s2v(ra), slot, rc);
        vmbreak;
      }
    } else
      slot = NULL;
    TValue key;
    setivalue(&key, c);
    Protect(luaV_finishset(L, s2v(ra), &key, rc, slot));
    vmbreak;
  }
  vmcase(OP_SETFIELD) {
    const TValue *slot;
    TValue *rb = KB(i);
    TValue *rc = RKC(i);
    TString *key = tsvalue(rb);
    fastget_or_goto(s2v(ra), key, slot, getshortstr_fast, setfield_miss);
    luaV_finishfastset(L, s2v(ra), slot, rc);
    vmbreak;
  setfield_miss:
    if (slot == &luaH_absentkey) {
      Table *h = hvalue(s2v(ra));
      Node *mp = h->node + (key->hash & ((1u << h->lsizenode) - 1u));
      if (isempty(gval(mp)) && !isdummy(h) && nonewindex(L, h)) {  // as luaH_setnewkey
        invalidateTMcache(h);
        luaH_fillmainposition(L, h, mp, rb, rc);
        vmbreak;
      }
      if (luaH_setnewkey(L, h, rb, rc)) vmbreak;
    }
    Protect(luaV_finishset(L, s2v(ra), rb, rc, slot));
    vmbreak;
  }
  vmcase(OP_NEWTABLE) {
    int b = GETARG_B(i); // log2(hash size) + 1
    unsigned int c = GETARG_C(i);
    if (b > 0) b = 1 << (b - 1);
    if (TESTARG_k(i)) c += cast_uint(GETARG_Ax(*pc)) * (MAXARG_C + 1);
    pc++; // the following OP_EXTRAARG is always consumed
    L->top = ra + 1; // correct top in case of an emergency collection
    savepc(L);
    savecycles();
    Table *t = luaH_new(L);
    sethvalue2s(L, ra, t);
    if (b != 0 || c != 0) luaH_presize(L, t, c, cast_uint(b));
    loadcycles();
    checkGC(L, ra + 1);
    vmbreak;
  }
  vmcase(OP_SELF) {
    const TValue *slot;
    TValue *rb = vRB(i);
    TValue *rc = RKC(i);
    TString *key = tsvalue(rc);
    setobj2s(L, ra + 1, rb);
    if (l_likely(key->tt == LUA_VSHRSTR)) {
      fastget_or_goto(rb, key, slot, getshortstr_fast, self_miss);
    } else {
      fastget_or_goto(rb, key, slot, luaH_getstr, self_finish);
    }
    setobj2s(L, ra, slot);
    vmbreak;
  self_miss:
    if (slot != NULL) {
      const TValue *v = indexchain(L, hvalue(rb), key);
      if (v != NULL) {
        setobj2s(L, ra, v);
        vmbreak;
      }
    } else if (ttisstring(rb)) {
      // s:method(): the string metatable's __index table, as luaV_finishget reads it first.
      Table *mt = G(L)->mt[LUA_TSTRING];
      if (mt != NULL) {
        const TValue *tm = getshortstr_fast(mt, G(L)->tmname[TM_INDEX]);
        if (ttistable(tm)) {
          const TValue *v = getshortstr_fast(hvalue(tm), key);
          if (!isempty(v)) {
            setobj2s(L, ra, v);
            vmbreak;
          }
        }
      }
    }
  self_finish:
    Protect(luaV_finishget(L, rb, rc, ra, slot));
    vmbreak;
  }
  vmcase(OP_ADDI) {
    op_arithI(L, l_addi, fadd, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_ADDK) {
    op_arithK(L, l_addi, fadd, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_SUBK) {
    op_arithK(L, l_subi, fsub, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_MULK) {
    op_arithK(L, l_muli, fmul, (void)0);
    vmbreak;
  }
  vmcase(OP_MODK) {
    op_arithK(L, imod_fast, fmod_fast, (void)0);
    vmbreak;
  }
  vmcase(OP_POWK) {
    op_arithfK(L, luai_numpow, (void)0);
    vmbreak;
  }
  vmcase(OP_DIVK) {
    op_arithfK(L, luai_numdiv, (void)0);
    vmbreak;
  }
  vmcase(OP_IDIVK) {
    op_arithK(L, idiv_fast, luai_numidiv, (void)0);
    vmbreak;
  }
  vmcase(OP_BANDK) {
    op_bitwiseK(L, l_band, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_BORK) {
    op_bitwiseK(L, l_bor, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_BXORK) {
    op_bitwiseK(L, l_bxor, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_SHRI) {
    cheap();
    TValue *rb = vRB(i);
    int ic = GETARG_sC(i);
    lua_Integer ib;
    if (tointegerns(rb, &ib)) {
      pc++;
      setivalue(s2v(ra), luaV_shiftl(ib, -ic));
    }
    vmbreak;
  }
  vmcase(OP_SHLI) {
    cheap();
    TValue *rb = vRB(i);
    int ic = GETARG_sC(i);
    lua_Integer ib;
    if (tointegerns(rb, &ib)) {
      pc++;
      setivalue(s2v(ra), luaV_shiftl(ic, ib));
    }
    vmbreak;
  }
  vmcase(OP_ADD) {
    op_arith(L, l_addi, fadd, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_SUB) {
    op_arith(L, l_subi, fsub, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_MUL) {
    op_arith(L, l_muli, fmul, (void)0);
    vmbreak;
  }
  vmcase(OP_MOD) {
    op_arith(L, imod_fast, fmod_fast, (void)0);
    vmbreak;
  }
  vmcase(OP_POW) {
    op_arithf(L, luai_numpow, (void)0);
    vmbreak;
  }
  vmcase(OP_DIV) {
    op_arithf(L, luai_numdiv, (void)0);
    vmbreak;
  }
  vmcase(OP_IDIV) {
    op_arith(L, idiv_fast, luai_numidiv, (void)0);
    vmbreak;
  }
  vmcase(OP_BAND) {
    op_bitwise(L, l_band, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_BOR) {
    op_bitwise(L, l_bor, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_BXOR) {
    op_bitwise(L, l_bxor, cheap());
    cheap(); // no fast path applied: the OP_MMBIN* follows
    vmbreak;
  }
  vmcase(OP_SHL) {
    cheap();
    TValue *v1 = vRB(i);
    TValue *v2 = vRC(i);
    lua_Integer i1, i2;
    if (tointegerns(v1, &i1) && tointegerns(v2, &i2)) {
      pc++;
      setivalue(s2v(ra), luaV_shiftl(i1, i2));
    }
    vmbreak;
  }
  vmcase(OP_SHR) {
    cheap();
    TValue *v1 = vRB(i);
    TValue *v2 = vRC(i);
    lua_Integer i1, i2;
    if (tointegerns(v1, &i1) && tointegerns(v2, &i2)) {
      pc++;
      setivalue(s2v(ra), luaV_shiftl(i1, intop(-, 0, i2)));
    }
    vmbreak;
  }
  vmcase(OP_MMBIN) {
    Instruction pi = *(pc - 2); // the arithmetic instruction
    TValue *rb = vRB(i);
    TMS tm = (TMS)GETARG_C(i);
    StkId result = RA(pi);
    Protect(luaT_trybinTM(L, s2v(ra), rb, result, tm));
    vmbreak;
  }
  vmcase(OP_MMBINI) {
    Instruction pi = *(pc - 2);
    int imm = GETARG_sB(i);
    TMS tm = (TMS)GETARG_C(i);
    int flip = GETARG_k(i);
    StkId result = RA(pi);
    Protect(luaT_trybiniTM(L, s2v(ra), imm, flip, result, tm));
    vmbreak;
  }
  vmcase(OP_MMBINK) {
    Instruction pi = *(pc - 2);
    TValue *imm = KB(i);
    TMS tm = (TMS)GETARG_C(i);
    int flip = GETARG_k(i);
    StkId result = RA(pi);
    Protect(luaT_trybinassocTM(L, s2v(ra), imm, flip, result, tm));
    vmbreak;
  }
  vmcase(OP_UNM) {
    cheap();
    TValue *rb = vRB(i);
    lua_Number nb;
    if (ttisinteger(rb)) {
      lua_Integer ib = ivalue(rb);
      setivalue(s2v(ra), intop(-, 0, ib));
    } else if (tonumberns(rb, nb)) {
      setfltvalue(s2v(ra), -nb);
    } else
      Protect(luaT_trybinTM(L, rb, rb, ra, TM_UNM));
    vmbreak;
  }
  vmcase(OP_BNOT) {
    TValue *rb = vRB(i);
    lua_Integer ib;
    if (tointegerns(rb, &ib)) {
      setivalue(s2v(ra), intop(^, ~l_castS2U(0), ib));
    } else
      Protect(luaT_trybinTM(L, rb, rb, ra, TM_BNOT));
    vmbreak;
  }
  vmcase(OP_NOT) {
    TValue *rb = vRB(i);
    if (l_isfalse(rb))
      setbtvalue(s2v(ra));
    else
      setbfvalue(s2v(ra));
    vmbreak;
  }
  vmcase(OP_PEEK) {
    lua_Integer addr;
    if (l_unlikely(!peekaddr(vRB(i), &addr))) halfProtect(luaG_typeerror(L, vRB(i), "perform arithmetic on"));
    lua_Integer v;
    savecycles(); // the kernel may attach a page
    v = (lua_Integer)(peek(addr) & 0xff);
    loadcycles();
    setivalue(s2v(ra), v);
    vmbreak;
  }
  vmcase(OP_PEEK2) {
    lua_Integer addr;
    if (l_unlikely(!peekaddr(vRB(i), &addr))) halfProtect(luaG_typeerror(L, vRB(i), "perform arithmetic on"));
    lua_Integer v;
    savecycles(); // the kernel may attach a page
    v = (lua_Integer)(int16_t)peek2(addr);
    loadcycles();
    setivalue(s2v(ra), v); // sign-extended
    vmbreak;
  }
  vmcase(OP_PEEK4) {
    lua_Integer addr;
    if (l_unlikely(!peekaddr(vRB(i), &addr))) halfProtect(luaG_typeerror(L, vRB(i), "perform arithmetic on"));
    lua_Integer v;
    savecycles(); // the kernel may attach a page
    v = (lua_Integer)(int32_t)peek4(addr);
    loadcycles();
    setivalue(s2v(ra), v); // sign-extended
    vmbreak;
  }
  vmcase(OP_PEEK8) {
    lua_Integer addr;
    if (l_unlikely(!peekaddr(vRB(i), &addr))) halfProtect(luaG_typeerror(L, vRB(i), "perform arithmetic on"));
    lua_Integer v;
    savecycles(); // the kernel may attach a page
    v = (lua_Integer)peek8(addr);
    loadcycles();
    setivalue(s2v(ra), v);
    vmbreak;
  }
  vmcase(OP_LEN) {
    TValue *rb = vRB(i);
    if (ttisshrstring(rb)) {
      setivalue(s2v(ra), tsvalue(rb)->shrlen);
    } else if (ttistable(rb) && hvalue(rb)->metatable == NULL) {
      setivalue(s2v(ra), l_castU2S(luaH_getn(hvalue(rb)))); // neither allocates nor raises
    } else {
      Protect(luaV_objlen(L, ra, rb));
    }
    vmbreak;
  }
  vmcase(OP_CONCAT) {
    int n = GETARG_B(i);
    L->top = ra + n; // end of the operands
    ProtectNT(luaV_concat(L, n));
    checkGC(L, L->top); // luaV_concat left the top right after the result
    vmbreak;
  }
  vmcase(OP_CLOSE) {
    Protect(luaF_close(L, ra, LUA_OK));
    vmbreak;
  }
  vmcase(OP_TBC) {
    halfProtect(luaF_newtbcupval(L, ra));
    vmbreak;
  }
  vmcase(OP_JMP) {
    dojump(ci, i, 0);
    vmbreak;
  }
  vmcase(OP_EQ) {
    int cond;
    TValue *rb = vRB(i);
    TValue *rav = s2v(ra);
    if (ttypetag(rav) == ttypetag(rb) && !ttistable(rb) && !ttisfulluserdata(rb) &&
        !ttislngstring(rb)) {
      // same variant without metamethods: compare the payloads
      if (ttisinteger(rb))
        cond = ivalue(rav) == ivalue(rb);
      else if (ttisfloat(rb))
        cond = luai_numeq(fltvalue(rav), fltvalue(rb));
      else if (ttisnil(rb) || ttisboolean(rb))
        cond = 1;
      else if (ttisshrstring(rb))
        cond = tsvalue(rav) == tsvalue(rb);
      else
        cond = luaV_rawequalobj(rav, rb);
    } else
      Protect(cond = luaV_equalobj(L, rav, rb));
    docondjump();
    vmbreak;
  }
  vmcase(OP_LT) {
    op_order(L, l_lti, LTnum, lessthanothers);
    vmbreak;
  }
  vmcase(OP_LE) {
    op_order(L, l_lei, LEnum, lessequalothers);
    vmbreak;
  }
  vmcase(OP_EQK) {
    TValue *rb = KB(i);
    TValue *rav = s2v(ra);
    int cond;
    if (ttypetag(rav) != ttypetag(rb))
      cond = ttisnumber(rav) && ttisnumber(rb) && luaV_rawequalobj(rav, rb);
    else if (ttisinteger(rb))
      cond = ivalue(rav) == ivalue(rb);
    else if (ttisshrstring(rb))
      cond = tsvalue(rav) == tsvalue(rb);
    else {
      cond = luaV_rawequalobj(rav, rb); // constants never have metamethods
      if (l_unlikely(ttislngstring(rb))) goto eqk_long;
    }
    docondjump();
    vmbreak;
  eqk_long: l_coldlabel; // comparing the bytes is native work, which may end the slice
    setlim();
    docondjump();
    vmbreak;
  }
  vmcase(OP_EQI) {
    int cond;
    int im = GETARG_sB(i);
    if (l_likely(memtagis(s2v(ra), LUA_VNUMINT))) {
      condjump(ivalue(s2v(ra)) == im);
      vmbreak;
    }
    if (ttisfloat(s2v(ra)))
      cond = luai_numeq(fltvalue(s2v(ra)), cast_num(im));
    else
      cond = 0;
    docondjump();
    vmbreak;
  }
  vmcase(OP_LTI) {
    op_orderI(L, l_lti, luai_numlt, 0, TM_LT);
    vmbreak;
  }
  vmcase(OP_LEI) {
    op_orderI(L, l_lei, luai_numle, 0, TM_LE);
    vmbreak;
  }
  vmcase(OP_GTI) {
    op_orderI(L, l_gti, luai_numgt, 1, TM_LT);
    vmbreak;
  }
  vmcase(OP_GEI) {
    op_orderI(L, l_gei, luai_numge, 1, TM_LE);
    vmbreak;
  }
  vmcase(OP_TEST) {
    condjump(!l_isfalse(s2v(ra)));
    vmbreak;
  }
  vmcase(OP_TESTSET) {
    TValue *rb = vRB(i);
    if (l_isfalse(rb) == GETARG_k(i))
      pc++;
    else {
      setslot(ra, rb);
      donextjump(ci);
    }
    vmbreak;
  }
  vmcase(OP_CALL) {
    CallInfo *newci;
    int b = GETARG_B(i);
    int nresults = GETARG_C(i) - 1;
    StkId top;
    if (b != 0)
      L->top = top = ra + b;
    else
      top = L->top; // the previous instruction set it
    savepc(L);
    if (l_likely(ttisLclosure(s2v(ra)))) {
      // a Lua function: set up its frame here (as luaD_precall does) and run it in place
      Proto *p = clLvalue(s2v(ra))->p;
      int narg = cast_int(top - ra) - 1;
      int fsize = p->maxstacksize;
      if (l_unlikely(L->stack_last - top <= fsize || ci->next == NULL)) {
        savecycles();
        checkstackGCp(L, fsize, ra);
        if (ci->next == NULL) luaE_extendCI(L);
        loadcycles();
        top = L->top;
      }
      newci = ci->next;
      newci->nresults = cast(short, nresults);
      newci->u.l.savedpc = p->code;
      newci->top = ra + 1 + fsize;
      newci->func = ra;
      newci->callstatus = 0; // a reused record must not keep an old resume mark
      L->ci = newci;
      for (; narg < p->numparams; narg++) setnilvalue(s2v(top++));
      L->top = top;
      ci = newci;
      if (l_unlikely(trap | L->hookmask)) goto startfunc;
      // No hook: the new frame's state is at hand, and the limit holds as it is.
      k = p->k;
      pc = p->code;
      base = ra + 1;
      vmbreak;
    }
    {
      lua_CFunction f = luaD_nativefunc(s2v(ra));
      if (f == NULL || l_unlikely(L->hookmask)) goto call_other;
      // A native function, run here as luaD_precall and luaD_poscall would. It may move the
      // stack: its results go to its frame's function slot, not to 'ra'.
      savecycles();
      newci = luaD_enternative(L, ra, nresults);
      int n = (*f)(L);
      if (l_unlikely(L->status == LUA_YIELD)) return; // it yielded in place (see lua_yieldk)
      if (l_likely(cast_uint(nresults) <= 1u && !L->hookmask)) {
        StkId res = newci->func;
        L->ci = ci;
        if (nresults == 0)
          L->top = res;
        else {
          if (n == 0)
            setnilvalue(s2v(res));
          else
            setslot(res, L->top - n);
          L->top = res + 1;
        }
      } else
        luaD_poscall(L, newci, n);
      loadcycles();
      updatetrap(ci);
      vmbreak;
    }
  call_other:
    savecycles();
    newci = luaD_precall(L, ra, nresults);
    loadcycles();
    if (newci == NULL) {
      if (l_unlikely(L->status == LUA_YIELD)) return; // it yielded in place (see lua_yieldk)
      updatetrap(ci); // a native function already ran
    } else {
      ci = newci; // a Lua function runs in this same invocation
      goto startfunc;
    }
    vmbreak;
  }
  vmcase(OP_TAILCALL) {
    int b = GETARG_B(i); // number of arguments + 1
    int nparams1 = GETARG_C(i);
    // distance between the virtual and the real function slot (vararg functions)
    int delta = (nparams1) ? ci->u.l.nextraargs + nparams1 : 0;
    if (b != 0)
      L->top = ra + b;
    else
      b = cast_int(L->top - ra);
    savepc(ci);
    if (l_likely(!TESTARG_k(i) && ttisLclosure(s2v(ra)))) {
      // A Lua function and nothing to close: it takes over this frame here (as
      // luaD_pretailcall does), and without a reload when no hook is on.
      Proto *p = clLvalue(s2v(ra))->p;
      int fsize = p->maxstacksize;
      ci->func -= delta;
      StkId func = ci->func;
      for (int j = 0; j < b; j++) setslot(func + j, ra + j);
      if (l_unlikely(L->stack_last - L->top <= fsize)) {
        savecycles();
        checkstackGC(L, fsize);
        loadcycles();
        func = ci->func;
      }
      for (; b <= p->numparams; b++) setnilvalue(s2v(func + b));
      ci->top = func + 1 + fsize;
      ci->u.l.savedpc = p->code;
      ci->callstatus = cast(unsigned short, (ci->callstatus & ~CIST_RESUMED) | CIST_TAIL);
      L->top = func + b;
      if (l_unlikely(trap | L->hookmask)) goto startfunc;
      k = p->k;
      pc = p->code;
      base = func + 1;
      vmbreak;
    }
    savecycles();
    if (TESTARG_k(i)) {
      // the compiler guarantees no to-be-closed variables here: the stack does not move
      luaF_close(L, base, NOCLOSINGMETH);
    }
    while (!ttisfunction(s2v(ra))) { // not a function: use its __call
      checkstackGCp(L, 1, ra);
      luaD_tryfuncTM(L, ra);
      b++;
    }
    if (!ttisLclosure(s2v(ra))) { // a native function: call it and return its results
      luaD_precall(L, ra, LUA_MULTRET);
      loadcycles();
      if (l_unlikely(L->status == LUA_YIELD)) return; // it yielded in place
      updatetrap(ci);
      updatestack(ci);
      ci->func -= delta;
      savecycles();
      luaD_poscall(L, ci, cast_int(L->top - ra));
      loadcycles();
      updatetrap(ci);
      if (l_likely(!(trap | L->hookmask))) goto ret_nohook;
      goto ret;
    }
    ci->func -= delta;
    luaD_pretailcall(L, ci, ra, b);
    loadcycles();
    goto startfunc;
  }
  vmcase(OP_RETURN) {
    int n = GETARG_B(i) - 1;
    int nparams1 = GETARG_C(i);
    if (n < 0) n = cast_int(L->top - ra);
    savepc(ci);
    if (TESTARG_k(i)) { // close upvalues and to-be-closed variables first
      if (L->top < ci->top) L->top = ci->top;
      savecycles();
      luaF_close(L, base, LUA_OK);
      loadcycles();
      updatetrap(ci);
      updatestack(ci);
    }
    if (nparams1) ci->func -= ci->u.l.nextraargs + nparams1;
    if (l_likely(!(trap | L->hookmask))) {
      // No hook and the stack in place: the results move here and the caller's state is
      // set without the reload.
      StkId res = ci->func;
      int wanted = ci->nresults;
      if (l_likely(wanted >= LUA_MULTRET)) {
        if (wanted == LUA_MULTRET) wanted = n;
        int j = 0;
        for (; j < n && j < wanted; j++) setslot(res + j, ra + j);
        for (; j < wanted; j++) setnilvalue(s2v(res + j));
        L->top = res + wanted;
        L->ci = ci->previous;
        goto ret_nohook;
      }
    }
    L->top = ra + n;
    savecycles();
    luaD_poscall(L, ci, n);
    loadcycles();
    updatetrap(ci);
    goto ret;
  }
  vmcase(OP_RETURN0) {
    if (l_unlikely(L->hookmask)) {
      L->top = ra;
      savepc(ci);
      savecycles();
      luaD_poscall(L, ci, 0);
      loadcycles();
      trap = 1;
    } else {
      L->ci = ci->previous;
      L->top = base - 1;
      for (int nres = ci->nresults; l_unlikely(nres > 0); nres--) setnilvalue(s2v(L->top++));
      if (l_likely(!trap)) goto ret_nohook;
    }
    goto ret;
  }
  vmcase(OP_RETURN1) {
    if (l_unlikely(L->hookmask)) {
      L->top = ra + 1;
      savepc(ci);
      savecycles();
      luaD_poscall(L, ci, 1);
      loadcycles();
      trap = 1;
    } else {
      int nres = ci->nresults;
      L->ci = ci->previous;
      if (nres == 0)
        L->top = base - 1;
      else {
        setslot(base - 1, ra);
        L->top = base;
        for (; l_unlikely(nres > 1); nres--) setnilvalue(s2v(L->top++));
      }
      if (l_likely(!trap)) goto ret_nohook;
    }
    goto ret;
  }
  vmcase(OP_FORLOOP) {
    // debug.setlocal can put any value in the loop's state: the count's tag picks the loop
    // kind, the other two registers are read as raw payloads and R[A] is stored whole, so a
    // tampered loop runs on meaningless numbers but never forges an object.
    if (l_likely(ttisinteger(s2v(ra + 1)))) { // integer loop
      lua_Unsigned count = l_castS2U(ivalue(s2v(ra + 1)));
      if (l_likely(count > 0)) {
        lua_Integer step = payloadint(s2v(ra + 2));
        lua_Integer idx = payloadint(s2v(ra));
        chgivalue(s2v(ra + 1), l_castU2S(count - 1));
        idx = intop(+, idx, step);
        setivalue(s2v(ra), idx);
        setivalue(s2v(ra + 3), idx);
        forjumpback(pc, i);
      }
      vmbreak;
    }
    { // float loop; NaN fails both tests and ends it
      lua_Number step = payloadflt(s2v(ra + 2));
      lua_Number limit = payloadflt(s2v(ra + 1));
      lua_Number idx = payloadflt(s2v(ra)) + step;
      if (luai_numlt(0, step)) {
        if (l_unlikely(!luai_numle(idx, limit))) goto forloop_done;
      } else if (l_unlikely(!luai_numle(limit, idx)))
        goto forloop_done;
      setfltvalue(s2v(ra), idx);
      setfltvalue(s2v(ra + 3), idx);
      forjumpback(pc, i);
      vmbreak;
    }
  forloop_done:
    vmbreak;
  }
  vmcase(OP_FORPREP) {
    // all-integer loops inline; forprep repeats these steps for the general case
    if (l_likely(ttisinteger(s2v(ra)) && ttisinteger(s2v(ra + 1)) && ttisinteger(s2v(ra + 2)) &&
                 ivalue(s2v(ra + 2)) != 0)) {
      lua_Integer init = ivalue(s2v(ra));
      lua_Integer limit = ivalue(s2v(ra + 1));
      lua_Integer step = ivalue(s2v(ra + 2));
      setivalue(s2v(ra + 3), init);
      if (step > 0 ? init > limit : init < limit) {
        pc += GETARG_Bx(i) + 1;
        vmbreak;
      }
      lua_Unsigned count;
      if (step > 0) {
        count = l_castS2U(limit) - l_castS2U(init);
        if (step != 1) count /= l_castS2U(step);
      } else {
        count = l_castS2U(init) - l_castS2U(limit);
        count /= l_castS2U(-(step + 1)) + 1u;
      }
      chgivalue(s2v(ra + 1), l_castU2S(count));
      vmbreak;
    }
    int skip;
    halfProtect(skip = forprep(L, ra));
    if (skip) pc += GETARG_Bx(i) + 1;
    vmbreak;
  }
  vmcase(OP_TFORPREP) {
    halfProtect(luaF_newtbcupval(L, ra + 3));
    pc += GETARG_Bx(i);
    i = *(pc++); // the OP_TFORCALL runs without being dispatched
    goto l_tforcall;
  }
  vmcase(OP_TFORCALL) {
  l_tforcall:
    // copy the iterator, state and control value, then call the copy
    memcpy(ra + 4, ra, 3 * sizeof(*ra));
    L->top = ra + 4 + 3;
    savepc(L);
    {
      // A native iterator (next, the ipairs step, a gmatch iterator) runs here as luaD_call
      // would run it: one more nested native call, its frame, its results moved into place.
      StkId func = ra + 4;
      lua_CFunction f = luaD_nativefunc(s2v(func));
      if (f == NULL || l_unlikely(L->hookmask)) goto tforcall_other;
      savecycles();
      luaE_incCstack(L);
      CallInfo *newci = luaD_enternative(L, func, GETARG_C(i));
      int n = (*f)(L);
      if (l_unlikely(L->status == LUA_YIELD)) { // yielded in place (see lua_yieldk)
        L->nCcalls--;
        return;
      }
      luaD_poscall(L, newci, n);
      L->nCcalls--;
      loadcycles();
      updatetrap(ci);
      updatestack(ci);
      i = *(pc++); // the OP_TFORLOOP runs without being dispatched
      goto l_tforloop;
    }
  tforcall_other:
    ProtectNT(luaD_call(L, ra + 4, GETARG_C(i)));
    updatestack(ci);
    i = *(pc++); // the OP_TFORLOOP runs without being dispatched
    goto l_tforloop;
  }
  vmcase(OP_TFORLOOP) {
  l_tforloop:
    if (!ttisnil(s2v(ra + 4))) {
      setslot(ra + 2, ra + 4);
      pc -= GETARG_Bx(i);
    }
    vmbreak;
  }
  vmcase(OP_SETLIST) {
    int n = GETARG_B(i);
    unsigned int last = GETARG_C(i);
    // The compiler always puts a fresh table here; only debug.setlocal can replace it.
    if (l_unlikely(!ttistable(s2v(ra)))) ProtectNT(luaG_typeerror(L, s2v(ra), "index"));
    Table *h = hvalue(s2v(ra));
    if (n == 0)
      n = cast_int(L->top - ra) - 1;
    else
      L->top = ci->top; // correct top in case of an emergency collection
    last += n;
    if (TESTARG_k(i)) {
      last += cast_uint(GETARG_Ax(*pc)) * (MAXARG_C + 1);
      pc++;
    }
    if (last > luaH_realasize(h)) {
      savepc(L);
      savecycles();
      luaH_resizearray(L, h, last);
      loadcycles();
    }
    for (; n > 0; n--) {
      TValue *val = s2v(ra + n);
      setobj2t(L, &h->array[last - 1], val);
      last--;
      luaC_barrierback(L, obj2gco(h), val);
    }
    vmbreak;
  }
  vmcase(OP_CLOSURE) {
    Proto *p = cl->p->p[GETARG_Bx(i)];
    halfProtect(pushclosure(L, p, cl->upvals, base, ra));
    checkGC(L, ra + 1);
    vmbreak;
  }
  vmcase(OP_VARARG) {
    int n = GETARG_C(i) - 1;
    int nextra = ci->u.l.nextraargs;
    // With room on the stack nothing can allocate: the copy runs here.
    if (l_likely(n >= 0 || L->stack_last - ci->top > nextra)) {
      if (n < 0) {
        n = nextra;
        L->top = ra + nextra;
      }
      StkId from = ci->func - nextra;
      int j = 0;
      for (; j < n && j < nextra; j++) setslot(ra + j, from + j);
      for (; j < n; j++) setnilvalue(s2v(ra + j));
      vmbreak;
    }
    Protect(luaT_getvarargs(L, ci, ra, n));
    vmbreak;
  }
  vmcase(OP_VARARGPREP) {
    int nfix = GETARG_A(i);
    if (l_likely(L->stack_last - L->top > cl->p->maxstacksize + 1)) {
      // Room for the moved frame: nothing can allocate, so the move runs here.
      StkId func = ci->func;
      StkId top = L->top;
      int actual = cast_int(top - func) - 1;
      ci->u.l.nextraargs = actual - nfix;
      setslot(top, func);
      for (int j = 1; j <= nfix; j++) {
        setslot(top + j, func + j);
        setnilvalue(s2v(func + j));
      }
      L->top = top + nfix + 1;
      ci->func = func + actual + 1;
      ci->top += actual + 1;
      updatetrap(ci); // the hooks of a vararg function start here
    } else
      ProtectNT(luaT_adjustvarargs(L, nfix, ci, cl->p));
    if (l_unlikely(trap)) {
      savecycles();
      luaD_hookcall(L, ci);
      loadcycles();
      L->oldpc = 1; // the next instruction counts as a new line
    }
    updatebase(ci);
    vmbreak;
  }
  vmcase(OP_EXTRAARG) {
    vmbreak;
  }

ret:
  if (ci->callstatus & CIST_FRESH) {
    savecycles();
    return;
  }
  ci = ci->previous;
  goto returning;

suspended: // a forced yield: the callers up to the resume return on seeing the thread's status
  return;

ret_nohook: // no hook before or after: the caller's state without the reload, the limit holds
  if (l_unlikely(ci->callstatus & CIST_FRESH)) {
    savecycles();
    return;
  }
  ci = ci->previous;
  base = ci->func + 1;
  k = cl->p->k;
  pc = ci->u.l.savedpc;
  vmbreak;
}
