// The code generator: turns expression descriptors and statement requests into register
// machine instructions for one prototype at a time.
#include "lua/code.h"

#include <cmath>
#include <cstdlib>

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/gc.h"
#include "lua/mem.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/tm.h"

// Maximum number of registers in a Lua function (must fit in 8 bits).
#define MAXREGS_ 255

#define hasjumps(e) ((e)->t != (e)->f)

static int codesJ(FuncState *fs, OpCode o, int sj, int k);

// Semantic error: the message carries no "near" part.
void luaK_semerror(LexState *ls, const char *msg) {
  ls->t.token = 0; // remove "near <token>" from final message
  luaX_syntaxerror(ls, msg);
}

// Exact conversion of a float to an integer; NaN and out-of-range values fail.
static int flt2int(lua_Number n, lua_Integer *p) {
  lua_Number f = std::floor(n);
  if (n != f) return 0;
  return lua_numbertointeger(f, p);
}

// Integer value of a number without string coercion (floats only when exact).
static int tointegerns_(const TValue *o, lua_Integer *p) {
  if (ttisinteger(o)) {
    *p = ivalue(o);
    return 1;
  }
  if (ttisfloat(o)) return flt2int(fltvalue(o), p);
  return 0;
}

// If expression is a numeric constant, fills 'v' with its value and returns 1.
static int tonumeral(const expdesc *e, TValue *v) {
  if (hasjumps(e)) return 0; // not a numeral
  switch (e->k) {
    case VKINT:
      if (v) setivalue(v, e->u.ival);
      return 1;
    case VKFLT:
      if (v) setfltvalue(v, e->u.nval);
      return 1;
    default:
      return 0;
  }
}

// Value of a compile-time constant variable.
static TValue *const2val(FuncState *fs, const expdesc *e) {
  lua_assert(e->k == VCONST);
  return &fs->ls->dyd->actvar.arr[e->u.info].k;
}

int luaK_exp2const(FuncState *fs, const expdesc *e, TValue *v) {
  if (hasjumps(e)) return 0; // not a constant
  switch (e->k) {
    case VFALSE:
      setbfvalue(v);
      return 1;
    case VTRUE:
      setbtvalue(v);
      return 1;
    case VNIL:
      setnilvalue(v);
      return 1;
    case VKSTR: {
      setsvalue(fs->ls->L, v, e->u.strval);
      return 1;
    }
    case VCONST: {
      setobj(fs->ls->L, v, const2val(fs, e));
      return 1;
    }
    default:
      return tonumeral(e, v);
  }
}

// The previous instruction, or an invalid one when a jump target may sit in between.
static Instruction *previousinstruction(FuncState *fs) {
  static const Instruction invalidinstruction = ~(Instruction)0;
  if (fs->pc > fs->lasttarget)
    return &fs->f->code[fs->pc - 1];
  return cast(Instruction *, &invalidinstruction);
}

void luaK_nil(FuncState *fs, int from, int n) {
  int l = from + n - 1; // last register to set nil
  Instruction *previous = previousinstruction(fs);
  if (GET_OPCODE(*previous) == OP_LOADNIL) { // previous is LOADNIL?
    int pfrom = GETARG_A(*previous);
    int pl = pfrom + GETARG_B(*previous);
    if ((pfrom <= from && from <= pl + 1) || (from <= pfrom && pfrom <= l + 1)) { // can connect both?
      if (pfrom < from) from = pfrom;
      if (pl > l) l = pl;
      SETARG_A(*previous, from);
      SETARG_B(*previous, l - from);
      return;
    }
  }
  luaK_codeABC(fs, OP_LOADNIL, from, n - 1, 0);
}

// Destination of a jump, or NO_JUMP at the end of a list.
static int getjump(FuncState *fs, int pc) {
  int offset = GETARG_sJ(fs->f->code[pc]);
  if (offset == NO_JUMP) // point to itself represents end of list
    return NO_JUMP;
  return (pc + 1) + offset;
}

static void fixjump(FuncState *fs, int pc, int dest) {
  Instruction *jmp = &fs->f->code[pc];
  int offset = dest - (pc + 1);
  lua_assert(dest != NO_JUMP);
  if (!(-OFFSET_sJ <= offset && offset <= MAXARG_sJ - OFFSET_sJ))
    luaX_syntaxerror(fs->ls, "control structure too long");
  lua_assert(GET_OPCODE(*jmp) == OP_JMP);
  SETARG_sJ(*jmp, offset);
}

void luaK_concat(FuncState *fs, int *l1, int l2) {
  if (l2 == NO_JUMP) return;
  if (*l1 == NO_JUMP)
    *l1 = l2;
  else {
    int list = *l1;
    int next;
    while ((next = getjump(fs, list)) != NO_JUMP) list = next; // find last element
    fixjump(fs, list, l2);
  }
}

int luaK_jump(FuncState *fs) { return codesJ(fs, OP_JMP, NO_JUMP, 0); }

void luaK_ret(FuncState *fs, int first, int nret) {
  OpCode op;
  switch (nret) {
    case 0: op = OP_RETURN0; break;
    case 1: op = OP_RETURN1; break;
    default: op = OP_RETURN; break;
  }
  luaK_codeABC(fs, op, first, nret + 1, 0);
}

// A condition: the test instruction followed by a jump.
static int condjump(FuncState *fs, OpCode op, int A, int B, int C, int k) {
  luaK_codeABCk(fs, op, A, B, C, k);
  return luaK_jump(fs);
}

int luaK_getlabel(FuncState *fs) {
  fs->lasttarget = fs->pc;
  return fs->pc;
}

// The instruction that controls a jump (its condition), or the jump itself.
static Instruction *getjumpcontrol(FuncState *fs, int pc) {
  Instruction *pi = &fs->f->code[pc];
  if (pc >= 1 && testTMode(GET_OPCODE(*(pi - 1))))
    return pi - 1;
  return pi;
}

// Fixes the destination register of a TESTSET, or turns it into a TEST when no register is
// wanted; returns whether the jump produces a value.
static int patchtestreg(FuncState *fs, int node, int reg) {
  Instruction *i = getjumpcontrol(fs, node);
  if (GET_OPCODE(*i) != OP_TESTSET) return 0; // cannot patch other instructions
  if (reg != NO_REG && reg != GETARG_B(*i))
    SETARG_A(*i, reg);
  else // no register to put value or register already has the value
    *i = CREATE_ABCk(OP_TEST, GETARG_B(*i), 0, 0, GETARG_k(*i));
  return 1;
}

// Traverses a list of tests ensuring no one produces a value.
static void removevalues(FuncState *fs, int list) {
  for (; list != NO_JUMP; list = getjump(fs, list)) patchtestreg(fs, list, NO_REG);
}

static void patchlistaux(FuncState *fs, int list, int vtarget, int reg, int dtarget) {
  while (list != NO_JUMP) {
    int next = getjump(fs, list);
    if (patchtestreg(fs, list, reg))
      fixjump(fs, list, vtarget);
    else
      fixjump(fs, list, dtarget); // jump to default target
    list = next;
  }
}

void luaK_patchlist(FuncState *fs, int list, int target) {
  lua_assert(target <= fs->pc);
  patchlistaux(fs, list, target, NO_REG, target);
}

void luaK_patchtohere(FuncState *fs, int list) {
  int hr = luaK_getlabel(fs); // mark "here" as a jump target
  luaK_patchlist(fs, list, hr);
}

// Line information: a signed delta per instruction, with an absolute entry when the delta
// does not fit or after a long run of relative ones.
static void savelineinfo(FuncState *fs, Proto *f, int line) {
  int linedif = line - fs->previousline;
  int pc = fs->pc - 1; // last instruction coded
  if (std::abs(linedif) >= 128 || fs->iwthabs++ >= LINE_MAXRELATIVE) {
    luaM_growvector(fs->ls->L, f->abslineinfo, fs->nabslineinfo, f->sizeabslineinfo, AbsLineInfo,
                    MAX_INT, "lines");
    f->abslineinfo[fs->nabslineinfo].pc = pc;
    f->abslineinfo[fs->nabslineinfo++].line = line;
    linedif = ABSLINEINFO; // signal that there is absolute information
    fs->iwthabs = 0;       // restart counter
  }
  luaM_growvector(fs->ls->L, f->lineinfo, pc, f->sizelineinfo, ls_byte, MAX_INT, "opcodes");
  f->lineinfo[pc] = cast(ls_byte, linedif);
  fs->previousline = line; // last line saved
}

// Removes the line information of the last instruction.
static void removelastlineinfo(FuncState *fs) {
  Proto *f = fs->f;
  int pc = fs->pc - 1; // last instruction coded
  if (f->lineinfo[pc] != ABSLINEINFO) { // relative line info?
    fs->previousline -= f->lineinfo[pc];
    fs->iwthabs--;
  } else { // absolute line information
    lua_assert(f->abslineinfo[fs->nabslineinfo - 1].pc == pc);
    fs->nabslineinfo--;
    fs->iwthabs = LINE_MAXRELATIVE; // force next line info to be absolute
  }
}

static void removelastinstruction(FuncState *fs) {
  removelastlineinfo(fs);
  fs->pc--;
}

int luaK_code(FuncState *fs, Instruction i) {
  Proto *f = fs->f;
  luaM_growvector(fs->ls->L, f->code, fs->pc, f->sizecode, Instruction, MAX_INT, "opcodes");
  f->code[fs->pc++] = i;
  savelineinfo(fs, f, fs->ls->lastline);
  return fs->pc - 1; // index of new instruction
}

int luaK_codeABCk(FuncState *fs, OpCode o, int a, int b, int c, int k) {
  lua_assert(getOpMode(o) == iABC);
  lua_assert(a <= MAXARG_A && b <= MAXARG_B && c <= MAXARG_C && (k & ~1) == 0);
  return luaK_code(fs, CREATE_ABCk(o, a, b, c, k));
}

int luaK_codeABx(FuncState *fs, OpCode o, int a, unsigned int bc) {
  lua_assert(getOpMode(o) == iABx);
  lua_assert(a <= MAXARG_A && bc <= MAXARG_Bx);
  return luaK_code(fs, CREATE_ABx(o, a, bc));
}

int luaK_codeAsBx(FuncState *fs, OpCode o, int a, int bc) {
  unsigned int b = bc + OFFSET_sBx;
  lua_assert(getOpMode(o) == iAsBx);
  lua_assert(a <= MAXARG_A && b <= MAXARG_Bx);
  return luaK_code(fs, CREATE_ABx(o, a, b));
}

static int codesJ(FuncState *fs, OpCode o, int sj, int k) {
  unsigned int j = sj + OFFSET_sJ;
  lua_assert(getOpMode(o) == isJ);
  lua_assert(j <= MAXARG_sJ && (k & ~1) == 0);
  return luaK_code(fs, CREATE_sJ(o, j, k));
}

static int codeextraarg(FuncState *fs, int a) {
  lua_assert(a <= MAXARG_Ax);
  return luaK_code(fs, CREATE_Ax(OP_EXTRAARG, a));
}

// Loads constant k: LOADK when the index fits Bx, else LOADKX with an EXTRAARG.
static int luaK_codek(FuncState *fs, int reg, int k) {
  if (k <= MAXARG_Bx) return luaK_codeABx(fs, OP_LOADK, reg, k);
  int p = luaK_codeABx(fs, OP_LOADKX, reg, 0);
  codeextraarg(fs, k);
  return p;
}

void luaK_checkstack(FuncState *fs, int n) {
  int newstack = fs->freereg + n;
  if (newstack > fs->f->maxstacksize) {
    if (newstack >= MAXREGS_)
      luaX_syntaxerror(fs->ls, "function or expression needs too many registers");
    fs->f->maxstacksize = cast_byte(newstack);
  }
}

void luaK_reserveregs(FuncState *fs, int n) {
  luaK_checkstack(fs, n);
  fs->freereg += n;
}

// Frees a register unless it belongs to an active local variable.
static void freereg(FuncState *fs, int reg) {
  if (reg >= luaY_nvarstack(fs)) {
    fs->freereg--;
    lua_assert(reg == fs->freereg); // free regs in stack order
  }
}

static void freeregs(FuncState *fs, int r1, int r2) {
  if (r1 > r2) { // free the higher one first
    freereg(fs, r1);
    freereg(fs, r2);
  } else {
    freereg(fs, r2);
    freereg(fs, r1);
  }
}

static void freeexp(FuncState *fs, expdesc *e) {
  if (e->k == VNONRELOC) freereg(fs, e->u.info);
}

static void freeexps(FuncState *fs, expdesc *e1, expdesc *e2) {
  int r1 = (e1->k == VNONRELOC) ? e1->u.info : -1;
  int r2 = (e2->k == VNONRELOC) ? e2->u.info : -1;
  freeregs(fs, r1, r2);
}

// Raw equality for the kinds of values that can be constants.
static int rawequalk(const TValue *a, const TValue *b) {
  if (ttypetag(a) != ttypetag(b)) return 0;
  switch (ttypetag(a)) {
    case LUA_VNIL:
    case LUA_VFALSE:
    case LUA_VTRUE: return 1;
    case LUA_VNUMINT: return ivalue(a) == ivalue(b);
    case LUA_VNUMFLT: return fltvalue(a) == fltvalue(b);
    case LUA_VSHRSTR: return tsvalue(a) == tsvalue(b);
    case LUA_VLNGSTR: return luaS_eqlngstr(tsvalue(a), tsvalue(b));
    default: return gcvalue(a) == gcvalue(b);
  }
}

// Adds constant 'v' to the prototype's list, reusing an equal one found through the scanner's
// table under 'key'.
static int addk(FuncState *fs, TValue *key, TValue *v) {
  TValue val;
  lua_State *L = fs->ls->L;
  Proto *f = fs->f;
  const TValue *idx = luaH_get(fs->ls->h, key);
  int k, oldsize;
  if (ttisinteger(idx)) { // is there an index there?
    k = cast_int(ivalue(idx));
    // correct value? (must distinguish floats from integers!)
    if (k < fs->nk && rawequalk(&f->k[k], v)) return k;
  }
  // constant not found; create a new entry
  oldsize = f->sizek;
  k = fs->nk;
  setivalue(&val, k);
  luaH_set(L, fs->ls->h, key, &val);
  luaM_growvector(L, f->k, k, f->sizek, TValue, MAXARG_Ax, "constants");
  while (oldsize < f->sizek) setnilvalue(&f->k[oldsize++]);
  setobj(L, &f->k[k], v);
  fs->nk++;
  luaC_barrier(L, f, v);
  return k;
}

static int stringK(FuncState *fs, TString *s) {
  TValue o;
  setsvalue(fs->ls->L, &o, s);
  return addk(fs, &o, &o); // use string itself as key
}

// Integers are keyed by a light userdata with the same bits, apart from equal floats.
static int luaK_intK(FuncState *fs, lua_Integer n) {
  TValue k, o;
  setpvalue(&k, cast_voidp(cast_sizet(l_castS2U(n))));
  setivalue(&o, n);
  return addk(fs, &k, &o);
}

static int luaK_numberK(FuncState *fs, lua_Number r) {
  TValue o;
  setfltvalue(&o, r);
  return addk(fs, &o, &o); // use number itself as key
}

static int boolF(FuncState *fs) {
  TValue o;
  setbfvalue(&o);
  return addk(fs, &o, &o);
}

static int boolT(FuncState *fs) {
  TValue o;
  setbtvalue(&o);
  return addk(fs, &o, &o);
}

// nil cannot be a key: the scanner's table itself stands for it.
static int nilK(FuncState *fs) {
  TValue k, v;
  setnilvalue(&v);
  sethvalue(fs->ls->L, &k, fs->ls->h);
  return addk(fs, &k, &v);
}

// Whether an integer fits the signed 8-bit immediate field (-127..128).
static int fitsC(lua_Integer i) { return (l_castS2U(i) + OFFSET_sC <= cast_uint(MAXARG_C)); }

// Whether an integer fits sBx (-65535..65536).
static int fitsBx(lua_Integer i) { return (-OFFSET_sBx <= i && i <= MAXARG_Bx - OFFSET_sBx); }

void luaK_int(FuncState *fs, int reg, lua_Integer i) {
  if (fitsBx(i))
    luaK_codeAsBx(fs, OP_LOADI, reg, cast_int(i));
  else
    luaK_codek(fs, reg, luaK_intK(fs, i));
}

static void luaK_float(FuncState *fs, int reg, lua_Number f) {
  lua_Integer fi;
  if (flt2int(f, &fi) && fitsBx(fi))
    luaK_codeAsBx(fs, OP_LOADF, reg, cast_int(fi));
  else
    luaK_codek(fs, reg, luaK_numberK(fs, f));
}

// Turns a compile-time constant into a literal expression.
static void const2exp(TValue *v, expdesc *e) {
  switch (ttypetag(v)) {
    case LUA_VNUMINT:
      e->k = VKINT;
      e->u.ival = ivalue(v);
      break;
    case LUA_VNUMFLT:
      e->k = VKFLT;
      e->u.nval = fltvalue(v);
      break;
    case LUA_VFALSE: e->k = VFALSE; break;
    case LUA_VTRUE: e->k = VTRUE; break;
    case LUA_VNIL: e->k = VNIL; break;
    case LUA_VSHRSTR:
    case LUA_VLNGSTR:
      e->k = VKSTR;
      e->u.strval = tsvalue(v);
      break;
    default: lua_assert(0);
  }
}

void luaK_setreturns(FuncState *fs, expdesc *e, int nresults) {
  Instruction *pc = &getinstruction(fs, e);
  if (e->k == VCALL) // expression is an open function call?
    SETARG_C(*pc, nresults + 1);
  else {
    lua_assert(e->k == VVARARG);
    SETARG_C(*pc, nresults + 1);
    SETARG_A(*pc, fs->freereg);
    luaK_reserveregs(fs, 1);
  }
}

// A string literal becomes a constant.
static void str2K(FuncState *fs, expdesc *e) {
  lua_assert(e->k == VKSTR);
  e->u.info = stringK(fs, e->u.strval);
  e->k = VK;
}

void luaK_setoneret(FuncState *fs, expdesc *e) {
  if (e->k == VCALL) { // expression is an open function call?
    lua_assert(GETARG_C(getinstruction(fs, e)) == 2);
    e->k = VNONRELOC; // result has fixed position
    e->u.info = GETARG_A(getinstruction(fs, e));
  } else if (e->k == VVARARG) {
    SETARG_C(getinstruction(fs, e), 2);
    e->k = VRELOC; // can relocate its simple result
  }
}

void luaK_dischargevars(FuncState *fs, expdesc *e) {
  switch (e->k) {
    case VCONST: {
      const2exp(const2val(fs, e), e);
      break;
    }
    case VLOCAL: {
      e->u.info = e->u.var.ridx;
      e->k = VNONRELOC;
      break;
    }
    case VUPVAL: {
      e->u.info = luaK_codeABC(fs, OP_GETUPVAL, 0, e->u.info, 0);
      e->k = VRELOC;
      break;
    }
    case VINDEXUP: {
      e->u.info = luaK_codeABC(fs, OP_GETTABUP, 0, e->u.ind.t, e->u.ind.idx);
      e->k = VRELOC;
      break;
    }
    case VINDEXI: {
      freereg(fs, e->u.ind.t);
      e->u.info = luaK_codeABC(fs, OP_GETI, 0, e->u.ind.t, e->u.ind.idx);
      e->k = VRELOC;
      break;
    }
    case VINDEXSTR: {
      freereg(fs, e->u.ind.t);
      e->u.info = luaK_codeABC(fs, OP_GETFIELD, 0, e->u.ind.t, e->u.ind.idx);
      e->k = VRELOC;
      break;
    }
    case VINDEXED: {
      freeregs(fs, e->u.ind.t, e->u.ind.idx);
      e->u.info = luaK_codeABC(fs, OP_GETTABLE, 0, e->u.ind.t, e->u.ind.idx);
      e->k = VRELOC;
      break;
    }
    case VVARARG:
    case VCALL: {
      luaK_setoneret(fs, e);
      break;
    }
    default: break; // there is one value available (somewhere)
  }
}

// Puts the value of an expression (without its jumps) into register 'reg'.
static void discharge2reg(FuncState *fs, expdesc *e, int reg) {
  luaK_dischargevars(fs, e);
  switch (e->k) {
    case VNIL: {
      luaK_nil(fs, reg, 1);
      break;
    }
    case VFALSE: {
      luaK_codeABC(fs, OP_LOADFALSE, reg, 0, 0);
      break;
    }
    case VTRUE: {
      luaK_codeABC(fs, OP_LOADTRUE, reg, 0, 0);
      break;
    }
    case VKSTR: {
      str2K(fs, e);
    } // FALLTHROUGH
    case VK: {
      luaK_codek(fs, reg, e->u.info);
      break;
    }
    case VKFLT: {
      luaK_float(fs, reg, e->u.nval);
      break;
    }
    case VKINT: {
      luaK_int(fs, reg, e->u.ival);
      break;
    }
    case VRELOC: {
      Instruction *pc = &getinstruction(fs, e);
      SETARG_A(*pc, reg); // instruction will put result in 'reg'
      break;
    }
    case VNONRELOC: {
      if (reg != e->u.info) luaK_codeABC(fs, OP_MOVE, reg, e->u.info, 0);
      break;
    }
    default: {
      lua_assert(e->k == VJMP);
      return; // nothing to do...
    }
  }
  e->u.info = reg;
  e->k = VNONRELOC;
}

static void discharge2anyreg(FuncState *fs, expdesc *e) {
  if (e->k != VNONRELOC) { // no fixed register yet?
    luaK_reserveregs(fs, 1);
    discharge2reg(fs, e, fs->freereg - 1);
  }
}

static int code_loadbool(FuncState *fs, int A, OpCode op) {
  luaK_getlabel(fs); // those instructions may be jump targets
  return luaK_codeABC(fs, op, A, 0, 0);
}

// Whether some jump of the list needs a value (is not after a TESTSET).
static int need_value(FuncState *fs, int list) {
  for (; list != NO_JUMP; list = getjump(fs, list)) {
    Instruction i = *getjumpcontrol(fs, list);
    if (GET_OPCODE(i) != OP_TESTSET) return 1;
  }
  return 0; // not found
}

// Puts the final value of an expression, jumps included, into register 'reg'.
static void exp2reg(FuncState *fs, expdesc *e, int reg) {
  discharge2reg(fs, e, reg);
  if (e->k == VJMP) // expression itself is a test?
    luaK_concat(fs, &e->t, e->u.info); // put this jump in 't' list
  if (hasjumps(e)) {
    int final; // position after whole expression
    int p_f = NO_JUMP; // position of an eventual LOAD false
    int p_t = NO_JUMP; // position of an eventual LOAD true
    if (need_value(fs, e->t) || need_value(fs, e->f)) {
      int fj = (e->k == VJMP) ? NO_JUMP : luaK_jump(fs);
      p_f = code_loadbool(fs, reg, OP_LFALSESKIP); // skip next inst.
      p_t = code_loadbool(fs, reg, OP_LOADTRUE);
      // jump around these booleans if 'e' is not a test
      luaK_patchtohere(fs, fj);
    }
    final = luaK_getlabel(fs);
    patchlistaux(fs, e->f, final, reg, p_f);
    patchlistaux(fs, e->t, final, reg, p_t);
  }
  e->f = e->t = NO_JUMP;
  e->u.info = reg;
  e->k = VNONRELOC;
}

void luaK_exp2nextreg(FuncState *fs, expdesc *e) {
  luaK_dischargevars(fs, e);
  freeexp(fs, e);
  luaK_reserveregs(fs, 1);
  exp2reg(fs, e, fs->freereg - 1);
}

int luaK_exp2anyreg(FuncState *fs, expdesc *e) {
  luaK_dischargevars(fs, e);
  if (e->k == VNONRELOC) { // expression already has a register?
    if (!hasjumps(e)) return e->u.info; // result is already in a register
    if (e->u.info >= luaY_nvarstack(fs)) { // register is not a local?
      exp2reg(fs, e, e->u.info); // put final result in it
      return e->u.info;
    }
    // else expression has jumps and cannot change its register to hold the jump values,
    // because it is a local variable. Go through to the default case.
  }
  luaK_exp2nextreg(fs, e); // default: use next available register
  return e->u.info;
}

void luaK_exp2anyregup(FuncState *fs, expdesc *e) {
  if (e->k != VUPVAL || hasjumps(e)) luaK_exp2anyreg(fs, e);
}

void luaK_exp2val(FuncState *fs, expdesc *e) {
  if (hasjumps(e))
    luaK_exp2anyreg(fs, e);
  else
    luaK_dischargevars(fs, e);
}

int luaK_exp2K(FuncState *fs, expdesc *e) {
  if (!hasjumps(e)) {
    int info;
    switch (e->k) { // move constants to 'k'
      case VTRUE: info = boolT(fs); break;
      case VFALSE: info = boolF(fs); break;
      case VNIL: info = nilK(fs); break;
      case VKINT: info = luaK_intK(fs, e->u.ival); break;
      case VKFLT: info = luaK_numberK(fs, e->u.nval); break;
      case VKSTR: info = stringK(fs, e->u.strval); break;
      case VK: info = e->u.info; break;
      default: return 0; // not a constant
    }
    if (info <= MAXINDEXRK) { // does constant fit in 'argC'?
      e->k = VK; // make expression a 'K' expression
      e->u.info = info;
      return 1;
    }
  }
  // else, expression doesn't fit; leave it unchanged
  return 0;
}

int luaK_exp2RK(FuncState *fs, expdesc *e) {
  if (luaK_exp2K(fs, e)) return 1;
  luaK_exp2anyreg(fs, e);
  return 0;
}

static void codeABRK(FuncState *fs, OpCode o, int a, int b, expdesc *ec) {
  int k = luaK_exp2RK(fs, ec);
  luaK_codeABCk(fs, o, a, b, ec->u.info, k);
}

void luaK_storevar(FuncState *fs, expdesc *var, expdesc *ex) {
  switch (var->k) {
    case VLOCAL: {
      freeexp(fs, ex);
      exp2reg(fs, ex, var->u.var.ridx); // compute 'ex' into proper place
      return;
    }
    case VUPVAL: {
      int e = luaK_exp2anyreg(fs, ex);
      luaK_codeABC(fs, OP_SETUPVAL, e, var->u.info, 0);
      break;
    }
    case VINDEXUP: {
      codeABRK(fs, OP_SETTABUP, var->u.ind.t, var->u.ind.idx, ex);
      break;
    }
    case VINDEXI: {
      codeABRK(fs, OP_SETI, var->u.ind.t, var->u.ind.idx, ex);
      break;
    }
    case VINDEXSTR: {
      codeABRK(fs, OP_SETFIELD, var->u.ind.t, var->u.ind.idx, ex);
      break;
    }
    case VINDEXED: {
      codeABRK(fs, OP_SETTABLE, var->u.ind.t, var->u.ind.idx, ex);
      break;
    }
    default: lua_assert(0); // invalid var kind to store
  }
  freeexp(fs, ex);
}

void luaK_self(FuncState *fs, expdesc *e, expdesc *key) {
  int ereg;
  luaK_exp2anyreg(fs, e);
  ereg = e->u.info; // register where 'e' was placed
  freeexp(fs, e);
  e->u.info = fs->freereg; // base register for op_self
  e->k = VNONRELOC;       // self expression has a fixed register
  luaK_reserveregs(fs, 2); // function and 'self' produced by op_self
  codeABRK(fs, OP_SELF, e->u.info, ereg, key);
  freeexp(fs, key);
}

// Negates the condition 'e' (where 'e' is a comparison).
static void negatecondition(FuncState *fs, expdesc *e) {
  Instruction *pc = getjumpcontrol(fs, e->u.info);
  lua_assert(testTMode(GET_OPCODE(*pc)) && GET_OPCODE(*pc) != OP_TESTSET && GET_OPCODE(*pc) != OP_TEST);
  SETARG_k(*pc, (GETARG_k(*pc) ^ 1));
}

// Emits a jump taken when 'e' is 'cond'. A 'not' just coded is folded into the test.
static int jumponcond(FuncState *fs, expdesc *e, int cond) {
  if (e->k == VRELOC) {
    Instruction ie = getinstruction(fs, e);
    if (GET_OPCODE(ie) == OP_NOT) {
      removelastinstruction(fs); // remove previous OP_NOT
      return condjump(fs, OP_TEST, GETARG_B(ie), 0, 0, !cond);
    }
    // else go through
  }
  discharge2anyreg(fs, e);
  freeexp(fs, e);
  return condjump(fs, OP_TESTSET, NO_REG, e->u.info, 0, cond);
}

void luaK_goiftrue(FuncState *fs, expdesc *e) {
  int pc; // pc of new jump
  luaK_dischargevars(fs, e);
  switch (e->k) {
    case VJMP: { // condition?
      negatecondition(fs, e); // jump when it is false
      pc = e->u.info;         // save jump position
      break;
    }
    case VK:
    case VKFLT:
    case VKINT:
    case VKSTR:
    case VTRUE: {
      pc = NO_JUMP; // always true; do nothing
      break;
    }
    default: {
      pc = jumponcond(fs, e, 0); // jump when false
      break;
    }
  }
  luaK_concat(fs, &e->f, pc); // insert new jump in false list
  luaK_patchtohere(fs, e->t); // true list jumps to here (to go through)
  e->t = NO_JUMP;
}

void luaK_goiffalse(FuncState *fs, expdesc *e) {
  int pc; // pc of new jump
  luaK_dischargevars(fs, e);
  switch (e->k) {
    case VJMP: {
      pc = e->u.info; // already jump if true
      break;
    }
    case VNIL:
    case VFALSE: {
      pc = NO_JUMP; // always false; do nothing
      break;
    }
    default: {
      pc = jumponcond(fs, e, 1); // jump if true
      break;
    }
  }
  luaK_concat(fs, &e->t, pc); // insert new jump in 't' list
  luaK_patchtohere(fs, e->f); // false list jumps to here (to go through)
  e->f = NO_JUMP;
}

static void codenot(FuncState *fs, expdesc *e) {
  switch (e->k) {
    case VNIL:
    case VFALSE: {
      e->k = VTRUE; // true == not nil == not false
      break;
    }
    case VK:
    case VKFLT:
    case VKINT:
    case VKSTR:
    case VTRUE: {
      e->k = VFALSE; // false == not "x" == not 0.5 == not 1 == not true
      break;
    }
    case VJMP: {
      negatecondition(fs, e);
      break;
    }
    case VRELOC:
    case VNONRELOC: {
      discharge2anyreg(fs, e);
      freeexp(fs, e);
      e->u.info = luaK_codeABC(fs, OP_NOT, 0, e->u.info, 0);
      e->k = VRELOC;
      break;
    }
    default: lua_assert(0); // cannot happen
  }
  // interchange true and false lists
  {
    int temp = e->f;
    e->f = e->t;
    e->t = temp;
  }
  removevalues(fs, e->f); // values are useless when negated
  removevalues(fs, e->t);
}

// Whether expression 'e' is a short literal string (a key for the string forms).
static int isKstr(FuncState *fs, expdesc *e) {
  return (e->k == VK && !hasjumps(e) && e->u.info <= MAXARG_B &&
          ttisshrstring(&fs->f->k[e->u.info]));
}

int luaK_isKint(expdesc *e) { return (e->k == VKINT && !hasjumps(e)); }

// Whether 'e' is an integer constant in the range of an unsigned C operand (0..255).
static int isCint(expdesc *e) { return luaK_isKint(e) && (l_castS2U(e->u.ival) <= l_castS2U(MAXARG_C)); }

// Whether 'e' is an integer constant that fits the signed immediate operand.
static int isSCint(expdesc *e) { return luaK_isKint(e) && fitsC(e->u.ival); }

// Whether 'e' is a number (integer or integral float) that fits the signed immediate operand;
// gives the coded immediate and whether it was a float.
static int isSCnumber(expdesc *e, int *pi, int *isfloat) {
  lua_Integer i;
  int flt = 0;
  if (e->k == VKINT)
    i = e->u.ival;
  else if (e->k == VKFLT && flt2int(e->u.nval, &i))
    flt = 1;
  else
    return 0; // not a number
  if (!hasjumps(e) && fitsC(i)) {
    *pi = int2sC(cast_int(i));
    *isfloat = flt; // only an immediate carries the float flag
    return 1;
  }
  return 0;
}

void luaK_indexed(FuncState *fs, expdesc *t, expdesc *k) {
  if (k->k == VKSTR) str2K(fs, k);
  lua_assert(!hasjumps(t) && (t->k == VLOCAL || t->k == VNONRELOC || t->k == VUPVAL));
  if (t->k == VUPVAL && !isKstr(fs, k)) // upvalue indexed by non 'Kstr'?
    luaK_exp2anyreg(fs, t); // put it in a register
  if (t->k == VUPVAL) {
    t->u.ind.t = cast_byte(t->u.info); // upvalue index
    t->u.ind.idx = cast(unsigned short, k->u.info); // literal string
    t->k = VINDEXUP;
  } else {
    // register index of the table
    t->u.ind.t = cast_byte((t->k == VLOCAL) ? t->u.var.ridx : t->u.info);
    if (isKstr(fs, k)) {
      t->u.ind.idx = cast(unsigned short, k->u.info); // literal string
      t->k = VINDEXSTR;
    } else if (isCint(k)) {
      t->u.ind.idx = cast(unsigned short, k->u.ival); // int. constant in proper range
      t->k = VINDEXI;
    } else {
      t->u.ind.idx = cast(unsigned short, luaK_exp2anyreg(fs, k)); // register
      t->k = VINDEXED;
    }
  }
}

// Whether folding an operation on these constants is allowed and safe.
static int validop(int op, TValue *v1, TValue *v2) {
  switch (op) {
    case LUA_OPBAND:
    case LUA_OPBOR:
    case LUA_OPBXOR:
    case LUA_OPSHL:
    case LUA_OPSHR:
    case LUA_OPBNOT: { // conversion errors
      lua_Integer i;
      return (tointegerns_(v1, &i) && tointegerns_(v2, &i));
    }
    case LUA_OPDIV:
    case LUA_OPIDIV:
    case LUA_OPMOD: // a zero divisor is left to run time
      return (ttisinteger(v2) ? ivalue(v2) != 0 : fltvalue(v2) != 0);
    default: return 1; // everything else is valid
  }
}

// Tries to fold an operation on numeric constants, with the run-time arithmetic.
static int constfolding(FuncState *fs, int op, expdesc *e1, const expdesc *e2) {
  TValue v1, v2, res;
  lua_Number n;
  if (!tonumeral(e1, &v1) || !tonumeral(e2, &v2) || !validop(op, &v1, &v2))
    return 0; // non-numeric operands or not safe to fold
  if (!luaO_rawarith(fs->ls->L, op, &v1, &v2, &res)) return 0;
  if (ttisinteger(&res)) {
    e1->k = VKINT;
    e1->u.ival = ivalue(&res);
  } else { // folds neither NaN nor 0.0 (to avoid problems with -0.0)
    n = fltvalue(&res);
    if (luai_numisnan(n) || n == 0) return 0;
    e1->k = VKFLT;
    e1->u.nval = n;
  }
  return 1;
}

// Unary operators that need a register: the result is relocatable.
static void codeunexpval(FuncState *fs, OpCode op, expdesc *e, int line) {
  int r = luaK_exp2anyreg(fs, e); // opcodes operate only on registers
  freeexp(fs, e);
  e->u.info = luaK_codeABC(fs, op, 0, r, 0); // generate opcode
  e->k = VRELOC; // all those operations are relocatable
  luaK_fixline(fs, line);
}

// Emits a binary instruction and its metamethod follow-up; both operands are then freed.
static void finishbinexpval(FuncState *fs, expdesc *e1, expdesc *e2, OpCode op, int v2, int flip,
                            int line, OpCode mmop, TMS event) {
  int v1 = luaK_exp2anyreg(fs, e1);
  int pc = luaK_codeABCk(fs, op, 0, v1, v2, 0);
  freeexps(fs, e1, e2);
  e1->u.info = pc;
  e1->k = VRELOC; // all those operations are relocatable
  luaK_fixline(fs, line);
  luaK_codeABCk(fs, mmop, v1, v2, event, flip); // to call metamethod
  luaK_fixline(fs, line);
}

// Both operands in registers.
static void codebinexpval(FuncState *fs, OpCode op, expdesc *e1, expdesc *e2, int line) {
  int v2 = luaK_exp2anyreg(fs, e2); // make sure 'e2' is in a register
  lua_assert(OP_ADD <= op && op <= OP_SHR);
  finishbinexpval(fs, e1, e2, op, v2, 0, line, OP_MMBIN, cast(TMS, (op - OP_ADD) + TM_ADD));
}

// Second operand an immediate.
static void codebini(FuncState *fs, OpCode op, expdesc *e1, expdesc *e2, int flip, int line,
                     TMS event) {
  int v2 = int2sC(cast_int(e2->u.ival)); // immediate operand
  lua_assert(e2->k == VKINT);
  finishbinexpval(fs, e1, e2, op, v2, flip, line, OP_MMBINI, event);
}

// Second operand a constant: the K form.
static void codebinK(FuncState *fs, BinOpr opr, expdesc *e1, expdesc *e2, int flip, int line) {
  TMS event = cast(TMS, cast_int(opr) + cast_int(TM_ADD));
  int v2 = e2->u.info; // K index
  OpCode op = cast(OpCode, cast_int(opr) + cast_int(OP_ADDK));
  finishbinexpval(fs, e1, e2, op, v2, flip, line, OP_MMBINK, event);
}

// An immediate operand whose negation is coded ('x - k' as 'x + -k', 'x << k' as 'x >> -k');
// the metamethod instruction carries the value as written.
static int finishbinexpneg(FuncState *fs, expdesc *e1, expdesc *e2, OpCode op, int line, TMS event) {
  if (!luaK_isKint(e2)) return 0; // not an integer constant
  lua_Integer i2 = e2->u.ival;
  if (!(fitsC(i2) && fitsC(-i2))) return 0; // not in the proper range
  int v2 = cast_int(i2);
  finishbinexpval(fs, e1, e2, op, int2sC(-v2), 0, line, OP_MMBINI, event);
  // correct metamethod argument
  SETARG_B(fs->f->code[fs->pc - 1], int2sC(v2));
  return 1;
}

static void swapexps(expdesc *e1, expdesc *e2) {
  expdesc temp = *e1;
  *e1 = *e2;
  *e2 = temp;
}

// Arithmetic with a K operand when the second operand is a numeral that fits, else the
// register form (back in the original order when the operands were swapped).
static void codearith(FuncState *fs, BinOpr opr, expdesc *e1, expdesc *e2, int flip, int line) {
  if (tonumeral(e2, NULL) && luaK_exp2K(fs, e2)) // K operand?
    codebinK(fs, opr, e1, e2, flip, line);
  else { // 'e2' is neither an immediate nor a K operand
    if (flip) swapexps(e1, e2); // back to original order
    codebinexpval(fs, cast(OpCode, cast_int(opr) + cast_int(OP_ADD)), e1, e2, line); // use standard operators
  }
}

// '+' and '*': a numeral first operand is moved second.
static void codecommutative(FuncState *fs, BinOpr op, expdesc *e1, expdesc *e2, int line) {
  int flip = 0;
  if (tonumeral(e1, NULL)) { // is first operand a numeric constant?
    swapexps(e1, e2); // change order
    flip = 1;
  }
  if (op == OPR_ADD && isSCint(e2)) // immediate operand?
    codebini(fs, OP_ADDI, e1, e2, flip, line, TM_ADD);
  else
    codearith(fs, op, e1, e2, flip, line);
}

// Bitwise operators: an integer constant operand (either side) gives the K form.
static void codebitwise(FuncState *fs, BinOpr opr, expdesc *e1, expdesc *e2, int line) {
  int flip = 0;
  if (e1->k == VKINT && luaK_exp2RK(fs, e1)) {
    swapexps(e1, e2); // 'e2' will be the constant operand
    flip = 1;
  } else if (!(e2->k == VKINT && luaK_exp2RK(fs, e2))) { // no constants?
    codebinexpval(fs, cast(OpCode, cast_int(opr) + cast_int(OP_ADD)), e1, e2, line); // all-register opcodes
    return;
  }
  codebinK(fs, opr, e1, e2, flip, line);
}

// Order comparisons: immediate forms when either operand is a small number.
static void codeorder(FuncState *fs, OpCode op, expdesc *e1, expdesc *e2) {
  int r1, r2;
  int im;
  int isfloat = 0;
  if (isSCnumber(e2, &im, &isfloat)) {
    // use immediate operand
    r1 = luaK_exp2anyreg(fs, e1);
    r2 = im;
    op = cast(OpCode, (op - OP_LT) + OP_LTI);
  } else if (isSCnumber(e1, &im, &isfloat)) {
    // transform (A < B) to (B > A) and (A <= B) to (B >= A)
    r1 = luaK_exp2anyreg(fs, e2);
    r2 = im;
    op = (op == OP_LT) ? OP_GTI : OP_GEI;
  } else { // regular case, compare two registers
    r1 = luaK_exp2anyreg(fs, e1);
    r2 = luaK_exp2anyreg(fs, e2);
  }
  freeexps(fs, e1, e2);
  e1->u.info = condjump(fs, op, r1, r2, isfloat, 1);
  e1->k = VJMP;
}

// Equality: immediate, constant or register second operand.
static void codeeq(FuncState *fs, BinOpr opr, expdesc *e1, expdesc *e2) {
  int r1, r2;
  int im;
  int isfloat = 0;
  OpCode op;
  if (e1->k != VNONRELOC) {
    lua_assert(e1->k == VK || e1->k == VKINT || e1->k == VKFLT);
    swapexps(e1, e2);
  }
  r1 = luaK_exp2anyreg(fs, e1); // 1st expression must be in register
  if (isSCnumber(e2, &im, &isfloat)) {
    op = OP_EQI;
    r2 = im; // immediate operand
  } else if (luaK_exp2RK(fs, e2)) { // 2nd expression is constant?
    op = OP_EQK;
    r2 = e2->u.info; // constant index
  } else {
    op = OP_EQ; // will compare two registers
    r2 = luaK_exp2anyreg(fs, e2);
  }
  freeexps(fs, e1, e2);
  e1->u.info = condjump(fs, op, r1, r2, isfloat, (opr == OPR_EQ));
  e1->k = VJMP;
}

void luaK_prefix(FuncState *fs, UnOpr opr, expdesc *e, int line) {
  static const expdesc ef = {VKINT, {0}, NO_JUMP, NO_JUMP};
  luaK_dischargevars(fs, e);
  switch (opr) {
    case OPR_MINUS:
    case OPR_BNOT: // use 'ef' as fake 2nd operand
      if (constfolding(fs, opr + LUA_OPUNM, e, &ef)) break;
      codeunexpval(fs, opr == OPR_MINUS ? OP_UNM : OP_BNOT, e, line);
      break;
    case OPR_LEN:
      codeunexpval(fs, OP_LEN, e, line);
      break;
    case OPR_PEEK:
    case OPR_PEEK2:
    case OPR_PEEK4:
    case OPR_PEEK8: // never folded: a constant address is loaded first
      codeunexpval(fs, cast(OpCode, OP_PEEK + (opr - OPR_PEEK)), e, line);
      break;
    case OPR_NOT:
      codenot(fs, e);
      break;
    default: lua_assert(0);
  }
}

void luaK_infix(FuncState *fs, BinOpr op, expdesc *v) {
  luaK_dischargevars(fs, v);
  switch (op) {
    case OPR_AND: {
      luaK_goiftrue(fs, v); // go ahead only if 'v' is true
      break;
    }
    case OPR_OR: {
      luaK_goiffalse(fs, v); // go ahead only if 'v' is false
      break;
    }
    case OPR_CONCAT: {
      luaK_exp2nextreg(fs, v); // operand must be on the stack
      break;
    }
    case OPR_ADD: case OPR_SUB: case OPR_MUL: case OPR_DIV: case OPR_IDIV: case OPR_MOD:
    case OPR_POW: case OPR_BAND: case OPR_BOR: case OPR_BXOR: case OPR_SHL: case OPR_SHR: {
      if (!tonumeral(v, NULL)) luaK_exp2anyreg(fs, v);
      // else keep numeral, which may be folded or used as an immediate operand
      break;
    }
    case OPR_EQ:
    case OPR_NE: {
      if (!tonumeral(v, NULL)) luaK_exp2RK(fs, v);
      // else keep numeral, which may be an immediate operand
      break;
    }
    case OPR_LT: case OPR_LE: case OPR_GT: case OPR_GE: {
      int dummy, dummy2;
      if (!isSCnumber(v, &dummy, &dummy2)) luaK_exp2anyreg(fs, v);
      // else keep numeral, which may be an immediate operand
      break;
    }
    default: lua_assert(0);
  }
}

// Concatenation: merges with a concatenation just emitted for the second operand.
static void codeconcat(FuncState *fs, expdesc *e1, expdesc *e2, int line) {
  Instruction *ie2 = previousinstruction(fs);
  if (GET_OPCODE(*ie2) == OP_CONCAT) { // is 'e2' a concatenation?
    int n = GETARG_B(*ie2); // # of concatenated expressions
    lua_assert(e1->u.info + 1 == GETARG_A(*ie2));
    freeexp(fs, e2);
    SETARG_A(*ie2, e1->u.info); // correct first element ('e1')
    SETARG_B(*ie2, n + 1);      // will concatenate one more element
  } else { // 'e2' is not a concatenation
    luaK_codeABC(fs, OP_CONCAT, e1->u.info, 2, 0); // new instruction
    freeexp(fs, e2);
    luaK_fixline(fs, line);
  }
}

void luaK_posfix(FuncState *fs, BinOpr opr, expdesc *e1, expdesc *e2, int line) {
  luaK_dischargevars(fs, e2);
  if (foldbinop(opr) && constfolding(fs, opr + LUA_OPADD, e1, e2)) return; // done by folding
  switch (opr) {
    case OPR_AND: {
      lua_assert(e1->t == NO_JUMP); // list closed by 'luaK_infix'
      luaK_concat(fs, &e2->f, e1->f);
      *e1 = *e2;
      break;
    }
    case OPR_OR: {
      lua_assert(e1->f == NO_JUMP); // list closed by 'luaK_infix'
      luaK_concat(fs, &e2->t, e1->t);
      *e1 = *e2;
      break;
    }
    case OPR_CONCAT: { // e1 .. e2
      luaK_exp2nextreg(fs, e2);
      codeconcat(fs, e1, e2, line);
      break;
    }
    case OPR_ADD:
    case OPR_MUL: {
      codecommutative(fs, opr, e1, e2, line);
      break;
    }
    case OPR_SUB: {
      if (finishbinexpneg(fs, e1, e2, OP_ADDI, line, TM_SUB)) break; // coded as (r1 + -I)
      codearith(fs, opr, e1, e2, 0, line);
      break;
    }
    case OPR_DIV:
    case OPR_IDIV:
    case OPR_MOD:
    case OPR_POW: {
      codearith(fs, opr, e1, e2, 0, line);
      break;
    }
    case OPR_BAND:
    case OPR_BOR:
    case OPR_BXOR: {
      codebitwise(fs, opr, e1, e2, line);
      break;
    }
    case OPR_SHL: {
      if (isSCint(e1)) {
        swapexps(e1, e2);
        codebini(fs, OP_SHLI, e1, e2, 1, line, TM_SHL); // I << r2
      } else if (finishbinexpneg(fs, e1, e2, OP_SHRI, line, TM_SHL)) {
        // coded as (r1 >> -I)
      } else // regular case (two registers)
        codebinexpval(fs, OP_SHL, e1, e2, line);
      break;
    }
    case OPR_SHR: {
      if (isSCint(e2))
        codebini(fs, OP_SHRI, e1, e2, 0, line, TM_SHR); // r1 >> I
      else // regular case (two registers)
        codebinexpval(fs, OP_SHR, e1, e2, line);
      break;
    }
    case OPR_EQ:
    case OPR_NE: {
      codeeq(fs, opr, e1, e2);
      break;
    }
    case OPR_GT:
    case OPR_GE: {
      // '(a > b)' <=> '(b < a)';  '(a >= b)' <=> '(b <= a)'
      swapexps(e1, e2);
      opr = cast(BinOpr, (opr - OPR_GT) + OPR_LT);
    } // FALLTHROUGH
    case OPR_LT:
    case OPR_LE: {
      codeorder(fs, cast(OpCode, (opr - OPR_LT) + OP_LT), e1, e2);
      break;
    }
    default: lua_assert(0);
  }
}

void luaK_fixline(FuncState *fs, int line) {
  removelastlineinfo(fs);
  savelineinfo(fs, fs->f, line);
}

void luaK_settablesize(FuncState *fs, int pc, int ra, int asize, int hsize) {
  Instruction *inst = &fs->f->code[pc];
  int rb = (hsize != 0) ? luaO_ceillog2(hsize) + 1 : 0; // hash size
  int extra = asize / (MAXARG_C + 1); // higher bits of array size
  int rc = asize % (MAXARG_C + 1);    // lower bits of array size
  int k = (extra > 0); // true iff needs extra argument
  *inst = CREATE_ABCk(OP_NEWTABLE, ra, rb, rc, k);
  *(inst + 1) = CREATE_Ax(OP_EXTRAARG, extra);
}

void luaK_setlist(FuncState *fs, int base, int nelems, int tostore) {
  lua_assert(tostore != 0 && tostore <= LFIELDS_PER_FLUSH);
  if (tostore == LUA_MULTRET) tostore = 0;
  if (nelems <= MAXARG_C)
    luaK_codeABC(fs, OP_SETLIST, base, tostore, nelems);
  else {
    int extra = nelems / (MAXARG_C + 1);
    nelems %= (MAXARG_C + 1);
    luaK_codeABCk(fs, OP_SETLIST, base, tostore, nelems, 1);
    codeextraarg(fs, extra);
  }
  fs->freereg = cast_byte(base + 1); // free registers with list values
}

// Final target of a jump, following chained jumps.
static int finaltarget(Instruction *code, int i) {
  int count;
  for (count = 0; count < 100; count++) { // avoid infinite loops
    Instruction pc = code[i];
    if (GET_OPCODE(pc) != OP_JMP) break;
    i += GETARG_sJ(pc) + 1;
  }
  return i;
}

void luaK_finish(FuncState *fs) {
  Proto *p = fs->f;
  for (int i = 0; i < fs->pc; i++) {
    Instruction *pc = &p->code[i];
    switch (GET_OPCODE(*pc)) {
      case OP_RETURN0:
      case OP_RETURN1: {
        if (!(fs->needclose || p->is_vararg)) break; // no extra work
        // else use OP_RETURN with extra arguments
        SET_OPCODE(*pc, OP_RETURN);
      } // FALLTHROUGH
      case OP_RETURN:
      case OP_TAILCALL: {
        if (fs->needclose) SETARG_k(*pc, 1); // signal that it needs to close
        if (p->is_vararg) SETARG_C(*pc, p->numparams + 1); // signal that it is vararg
        break;
      }
      case OP_JMP: {
        int target = finaltarget(p->code, i);
        fixjump(fs, i, target);
        break;
      }
      default: break;
    }
  }
}
