// Loading binary chunks. Chunks come from outside (load accepts them by default), so the
// loader trusts nothing: every count is checked against the bytes left before anything is
// allocated, and every prototype is verified before the closure is handed out, so that code
// the compiler could not have produced never reaches the interpreter.
#include <climits>
#include <cstring>

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/func.h"
#include "lua/gc.h"
#include "lua/mem.h"
#include "lua/opcodes.h"
#include "lua/string.h"
#include "lua/tm.h"
#include "lua/undump.h"

namespace {

// Deepest nesting of functions in a chunk.
constexpr int MAXNESTING = 200;

// The whole chunk, read before parsing so that sizes can be checked against what is left.
struct ChunkBuffer {
  lua_State *L;
  char *b = nullptr;
  size_t size = 0;
  size_t n = 0;
  explicit ChunkBuffer(lua_State *L_) : L(L_) {}
  ~ChunkBuffer() {
    if (b != nullptr) luaM_free_(L, b, size);
  }
};

// A scratch vector of the verifier, freed also when verification fails.
template <typename T>
struct TempVector {
  lua_State *L;
  T *v;
  size_t n;
  TempVector(lua_State *L_, size_t n_) : L(L_), v(nullptr), n(n_) {
    if (n > 0) {
      v = static_cast<T *>(luaM_malloc_(L, n * sizeof(T), 0, n * sizeof(T)));
      for (size_t i = 0; i < n; i++) v[i] = T();
    }
  }
  ~TempVector() {
    if (v != nullptr) luaM_free_(L, v, n * sizeof(T));
  }
  TempVector(const TempVector &) = delete;
  TempVector &operator=(const TempVector &) = delete;
};

struct LoadState {
  lua_State *L;
  const char *name;
  const lu_byte *p;
  const lu_byte *end;
  size_t reserved; // bytes still owed to the nested functions of enclosing levels
};

[[noreturn]] void error(LoadState *S, const char *why) {
  luaO_pushfstring(S->L, "%s: bad binary format (%s)", S->name, why);
  luaD_throw(S->L, LUA_ERRSYNTAX);
}

void readall(lua_State *L, Zio *z, ChunkBuffer *cb) {
  for (;;) {
    if (z->n == 0) {
      if (luaZ_fill(z) == EOZ) break;
      z->n++; // give back the byte luaZ_fill took
      z->p--;
    }
    size_t need = cb->n + z->n;
    if (need < cb->n) luaM_toobig(L);
    if (need > cb->size) {
      size_t newsize = cb->size < 64 ? 64 : cb->size;
      while (newsize < need) {
        if (newsize > MAX_SIZET / 2) {
          newsize = need;
          break;
        }
        newsize *= 2;
      }
      cb->b = cast_charp(luaM_saferealloc_(L, cb->b, cb->size, newsize, newsize));
      cb->size = newsize;
    }
    memcpy(cb->b + cb->n, z->p, z->n);
    cb->n += z->n;
    z->p += z->n;
    z->n = 0;
  }
}

size_t remaining(LoadState *S) { return cast_sizet(S->end - S->p); }

// What is left once the records that enclosing levels still owe are set aside.
size_t available(LoadState *S) {
  size_t left = remaining(S);
  return left > S->reserved ? left - S->reserved : 0;
}

void loadBlock(LoadState *S, void *b, size_t size) {
  if (size > remaining(S)) error(S, "truncated chunk");
  if (size > 0) memcpy(b, S->p, size);
  S->p += size;
}

#define loadVector(S, b, n) loadBlock(S, b, (n) * sizeof((b)[0]))
#define loadVar(S, x) loadVector(S, &x, 1)

lu_byte loadByte(LoadState *S) {
  if (S->p >= S->end) error(S, "truncated chunk");
  return *S->p++;
}

// Groups of 7 bits, most significant first, the last byte flagged by bit 7. The value so far
// must be below limit >> 7 before each shift.
size_t loadUnsigned(LoadState *S, size_t limit) {
  size_t x = 0;
  int b;
  limit >>= 7;
  do {
    b = loadByte(S);
    if (x >= limit) error(S, "integer overflow");
    x = (x << 7) | (b & 0x7f);
  } while ((b & 0x80) == 0);
  return x;
}

size_t loadSize(LoadState *S) { return loadUnsigned(S, MAX_SIZET); }

int loadInt(LoadState *S) { return cast_int(loadUnsigned(S, INT_MAX)); }

// A count of elements that take at least 'minbytes' bytes each in the chunk: a count the rest
// of the chunk cannot hold is a truncated chunk, found before anything is allocated.
int loadCount(LoadState *S, size_t minbytes) {
  int n = loadInt(S);
  if (cast_sizet(n) > available(S) / minbytes) error(S, "truncated chunk");
  return n;
}

lua_Number loadNumber(LoadState *S) {
  lua_Number x;
  loadVar(S, x);
  return x;
}

lua_Integer loadInteger(LoadState *S) {
  lua_Integer x;
  loadVar(S, x);
  return x;
}

// A string or NULL; the new string is stored in 'p' by the caller at once (barrier here).
TString *loadStringN(LoadState *S, Proto *p) {
  lua_State *L = S->L;
  TString *ts;
  size_t size = loadSize(S);
  if (size == 0) return NULL;
  size--; // the length
  if (size > available(S)) error(S, "truncated chunk");
  if (size <= LUAI_MAXSHORTLEN)
    ts = luaS_newlstr(L, reinterpret_cast<const char *>(S->p), size);
  else {
    ts = luaS_createlngstrobj(L, size);
    memcpy(getstr(ts), S->p, size);
  }
  S->p += size;
  luaC_objbarrier(L, p, ts);
  return ts;
}

void loadFunction(LoadState *S, Proto *f, TString *psource, const Proto *parent, int depth);

void loadCode(LoadState *S, Proto *f) {
  int n = loadCount(S, sizeof(Instruction));
  f->code = luaM_newvectorchecked(S->L, n, Instruction);
  f->sizecode = n;
  loadVector(S, f->code, n);
}

void loadConstants(LoadState *S, Proto *f) {
  int n = loadCount(S, 1);
  f->k = luaM_newvectorchecked(S->L, n, TValue);
  for (int i = 0; i < n; i++) setnilvalue(&f->k[i]);
  f->sizek = n;
  for (int i = 0; i < n; i++) {
    TValue *o = &f->k[i];
    switch (loadByte(S)) {
      case LUA_VNIL: setnilvalue(o); break;
      case LUA_VFALSE: setbfvalue(o); break;
      case LUA_VTRUE: setbtvalue(o); break;
      case LUA_VNUMFLT: setfltvalue(o, loadNumber(S)); break;
      case LUA_VNUMINT: setivalue(o, loadInteger(S)); break;
      case LUA_VSHRSTR:
      case LUA_VLNGSTR: {
        TString *ts = loadStringN(S, f);
        if (ts == NULL) error(S, "bad format for constant string");
        setsvalue2n(S->L, o, ts);
        break;
      }
      default: break; // unknown tag: the constant stays nil
    }
  }
}

void loadUpvalues(LoadState *S, Proto *f) {
  int n = loadCount(S, 3);
  f->upvalues = luaM_newvectorchecked(S->L, n, Upvaldesc);
  for (int i = 0; i < n; i++) f->upvalues[i].name = NULL;
  f->sizeupvalues = n;
  for (int i = 0; i < n; i++) {
    f->upvalues[i].instack = loadByte(S);
    f->upvalues[i].idx = loadByte(S);
    f->upvalues[i].kind = loadByte(S);
  }
}

// The fewest bytes a function record takes: an absent source, two lines, three bytes and
// eight counts.
constexpr size_t MINFUNCTION = 14;

void loadProtos(LoadState *S, Proto *f, int depth) {
  int n = loadCount(S, MINFUNCTION);
  if (n > 0 && depth >= MAXNESTING) error(S, "functions nested too deeply");
  f->p = luaM_newvectorchecked(S->L, n, Proto *);
  for (int i = 0; i < n; i++) f->p[i] = NULL;
  f->sizep = n;
  // The records not loaded yet stay owed while the earlier ones (and their own nests) load,
  // so that the counts of all levels together cannot claim more than the chunk holds.
  S->reserved += cast_sizet(n) * MINFUNCTION;
  for (int i = 0; i < n; i++) {
    S->reserved -= MINFUNCTION;
    f->p[i] = luaF_newproto(S->L);
    luaC_objbarrier(S->L, f, f->p[i]);
    loadFunction(S, f->p[i], f->source, f, depth + 1);
  }
}

void loadDebug(LoadState *S, Proto *f) {
  int n = loadCount(S, 1);
  f->lineinfo = luaM_newvectorchecked(S->L, n, ls_byte);
  f->sizelineinfo = n;
  loadVector(S, f->lineinfo, n);
  n = loadCount(S, 2);
  f->abslineinfo = luaM_newvectorchecked(S->L, n, AbsLineInfo);
  f->sizeabslineinfo = n;
  for (int i = 0; i < n; i++) {
    f->abslineinfo[i].pc = loadInt(S);
    f->abslineinfo[i].line = loadInt(S);
  }
  n = loadCount(S, 3);
  f->locvars = luaM_newvectorchecked(S->L, n, LocVar);
  for (int i = 0; i < n; i++) f->locvars[i].varname = NULL;
  f->sizelocvars = n;
  for (int i = 0; i < n; i++) {
    f->locvars[i].varname = loadStringN(S, f);
    f->locvars[i].startpc = loadInt(S);
    f->locvars[i].endpc = loadInt(S);
  }
  n = loadCount(S, 1);
  if (n != 0 && n != f->sizeupvalues) error(S, "bad upvalue names");
  for (int i = 0; i < n; i++) f->upvalues[i].name = loadStringN(S, f);
}

// ---------------------------------------------------------------------------------------------
// Verification of one prototype (its nested prototypes are verified when they are loaded).

struct Verifier {
  LoadState *S;
  const Proto *f;
  const Proto *parent;
  lu_byte *istarget;

  [[noreturn]] void fail(const char *why) { error(S, why); }

  void reg(int r) {
    if (r < 0 || r >= f->maxstacksize) fail("register out of range");
  }
  // Registers first .. first + n - 1 (n may be 0).
  void regrange(int first, int n) {
    if (first < 0 || n < 0 || first + n > f->maxstacksize) fail("register out of range");
  }
  const TValue *kst(int k) {
    if (k < 0 || k >= f->sizek) fail("constant index out of range");
    return &f->k[k];
  }
  void kshortstr(int k) {
    if (!ttisshrstring(kst(k))) fail("wrong constant kind");
  }
  void rk(Instruction i, int c) {
    if (GETARG_k(i))
      kst(c);
    else
      reg(c);
  }
  void upv(int u) {
    if (u < 0 || u >= f->sizeupvalues) fail("upvalue index out of range");
  }

  // Second halves of instruction pairs and instructions that read the top left by the one
  // before them may only be reached from that instruction.
  bool reachableonlyfromprev(int pc) {
    Instruction i = f->code[pc];
    OpCode op = GET_OPCODE(i);
    if (op == OP_EXTRAARG || op == OP_MMBIN || op == OP_MMBINI || op == OP_MMBINK) return true;
    if (op == OP_TFORLOOP) return true;
    if (isIT(i) && op != OP_VARARGPREP) return true;
    return false;
  }

  void target(long long t) {
    if (t < 0 || t >= f->sizecode) fail("jump out of range");
    if (reachableonlyfromprev(cast_int(t))) fail("bad jump target");
    if (t == 0 && f->is_vararg) fail("bad jump target");
    istarget[t] = 1;
  }

  void verifycode();
  void verifyflow();
  void verifyupvalues();
  void verifydebug();
};

// The metamethod event each arithmetic instruction's follow-up may carry.
bool mmbinmatches(OpCode prev, OpCode mm, int event) {
  if (prev >= OP_ADD && prev <= OP_SHR) return mm == OP_MMBIN && event == cast_int(prev) - 28;
  if (prev >= OP_ADDK && prev <= OP_BXORK) return mm == OP_MMBINK && event == cast_int(prev) - 16;
  if (mm != OP_MMBINI) return false;
  switch (prev) {
    case OP_ADDI: return event == TM_ADD || event == TM_SUB;
    case OP_SHRI: return event == TM_SHR || event == TM_SHL;
    case OP_SHLI: return event == TM_SHL;
    default: return false;
  }
}

bool isarith(OpCode op) { return op >= OP_ADDI && op <= OP_SHR; }

bool needsextraarg(Instruction i) {
  OpCode op = GET_OPCODE(i);
  return op == OP_LOADKX || op == OP_NEWTABLE || (op == OP_SETLIST && GETARG_k(i));
}

// Largest Ax that still keeps C + 256 * Ax inside an int.
constexpr int MAXEXTRASIZE = (INT_MAX - MAXARG_C) / (MAXARG_C + 1);

void Verifier::verifycode() {
  int n = f->sizecode;
  const Instruction *code = f->code;
  if (n == 0) fail("empty code");
  if (f->is_vararg && GET_OPCODE(code[0]) != OP_VARARGPREP) fail("missing vararg preparation");
  // opcodes first: the checks below look at neighbours and jump targets through the mode table
  for (int pc = 0; pc < n; pc++)
    if (cast_int(GET_OPCODE(code[pc])) >= NUM_OPCODES) fail("bad opcode");
  TempVector<lu_byte> targets(S->L, cast_sizet(n));
  istarget = targets.v;
  for (int pc = 0; pc < n; pc++) {
    Instruction i = code[pc];
    OpCode op = GET_OPCODE(i);
    int a = GETARG_A(i), b = GETARG_B(i), c = GETARG_C(i);
    // every instruction but jumps and returns continues with the next one
    if (op != OP_JMP && op != OP_RETURN && op != OP_RETURN0 && op != OP_RETURN1 && pc + 1 >= n)
      fail("code runs off the end");
    if (testTMode(op)) {
      if (pc + 2 >= n || GET_OPCODE(code[pc + 1]) != OP_JMP) fail("test without jump");
      target(pc + 2);
    }
    if (isIT(i) && op != OP_VARARGPREP) {
      if (pc == 0 || !isOT(code[pc - 1])) fail("open top without call");
      // the values run from this instruction's first register up to the top, which the
      // previous one left at or above its own register A
      int first = (op == OP_RETURN) ? a : a + 1;
      if (first > GETARG_A(code[pc - 1])) fail("open top without call");
    }
    if (isarith(op)) {
      // the fast path skips the follow-up instruction
      Instruction ni = code[pc + 1];
      if (!mmbinmatches(op, GET_OPCODE(ni), GETARG_C(ni))) fail("missing metamethod instruction");
    }
    if (needsextraarg(i)) {
      if (GET_OPCODE(code[pc + 1]) != OP_EXTRAARG) fail("missing extra argument");
    }
    switch (op) {
      case OP_MOVE: reg(a); reg(b); break;
      case OP_LOADI:
      case OP_LOADF:
      case OP_LOADFALSE:
      case OP_LOADTRUE: reg(a); break;
      case OP_LFALSESKIP:
        reg(a);
        target(cast(long long, pc) + 2);
        break;
      case OP_LOADK: reg(a); kst(GETARG_Bx(i)); break;
      case OP_LOADKX: reg(a); kst(GETARG_Ax(code[pc + 1])); break;
      case OP_LOADNIL: regrange(a, b + 1); break;
      case OP_GETUPVAL: reg(a); upv(b); break;
      case OP_SETUPVAL: reg(a); upv(b); break;
      case OP_GETTABUP: reg(a); upv(b); kshortstr(c); break;
      case OP_GETTABLE: reg(a); reg(b); reg(c); break;
      case OP_GETI: reg(a); reg(b); break;
      case OP_GETFIELD: reg(a); reg(b); kshortstr(c); break;
      case OP_SETTABUP: upv(a); kshortstr(b); rk(i, c); break;
      case OP_SETTABLE: reg(a); reg(b); rk(i, c); break;
      case OP_SETI: reg(a); rk(i, c); break;
      case OP_SETFIELD: reg(a); kshortstr(b); rk(i, c); break;
      case OP_NEWTABLE:
        reg(a);
        if (b > 31) fail("table size out of range");
        if (GETARG_k(i) && GETARG_Ax(code[pc + 1]) > MAXEXTRASIZE) fail("table size out of range");
        break;
      case OP_SELF:
        regrange(a, 2);
        reg(b);
        if (GETARG_k(i)) {
          if (!ttisstring(kst(c))) fail("wrong constant kind");
        } else {
          // a method name in a register is loaded by the instruction just before
          reg(c);
          Instruction pi = (pc > 0) ? code[pc - 1] : 0;
          int kidx = -1;
          if (pc > 0 && GET_OPCODE(pi) == OP_LOADK && GETARG_A(pi) == c)
            kidx = GETARG_Bx(pi);
          else if (pc > 1 && GET_OPCODE(pi) == OP_EXTRAARG && GET_OPCODE(code[pc - 2]) == OP_LOADKX &&
                   GETARG_A(code[pc - 2]) == c)
            kidx = GETARG_Ax(pi);
          if (kidx < 0 || !ttisstring(kst(kidx))) fail("wrong constant kind");
        }
        break;
      case OP_ADDI:
      case OP_SHRI:
      case OP_SHLI: reg(a); reg(b); break;
      case OP_ADDK:
      case OP_SUBK:
      case OP_MULK:
      case OP_MODK:
      case OP_POWK:
      case OP_DIVK:
      case OP_IDIVK:
        reg(a);
        reg(b);
        if (!ttisnumber(kst(c))) fail("wrong constant kind");
        break;
      case OP_BANDK:
      case OP_BORK:
      case OP_BXORK:
        reg(a);
        reg(b);
        if (!ttisinteger(kst(c))) fail("wrong constant kind");
        break;
      case OP_ADD:
      case OP_SUB:
      case OP_MUL:
      case OP_MOD:
      case OP_POW:
      case OP_DIV:
      case OP_IDIV:
      case OP_BAND:
      case OP_BOR:
      case OP_BXOR:
      case OP_SHL:
      case OP_SHR: reg(a); reg(b); reg(c); break;
      case OP_MMBIN:
      case OP_MMBINI:
      case OP_MMBINK:
        if (pc == 0 || !isarith(GET_OPCODE(code[pc - 1])) ||
            !mmbinmatches(GET_OPCODE(code[pc - 1]), op, c))
          fail("misplaced metamethod instruction");
        reg(a);
        if (op == OP_MMBIN) reg(b);
        if (op == OP_MMBINK) kst(b);
        break;
      case OP_UNM:
      case OP_BNOT:
      case OP_NOT:
      case OP_PEEK:
      case OP_PEEK2:
      case OP_PEEK4:
      case OP_PEEK8:
      case OP_LEN: reg(a); reg(b); break;
      case OP_CONCAT:
        if (b < 2) fail("bad concatenation");
        regrange(a, b);
        break;
      case OP_CLOSE:
      case OP_TBC: reg(a); break;
      case OP_JMP: target(cast(long long, pc) + 1 + GETARG_sJ(i)); break;
      case OP_EQ:
      case OP_LT:
      case OP_LE: reg(a); reg(b); break;
      case OP_EQK: reg(a); kst(b); break;
      case OP_EQI:
      case OP_LTI:
      case OP_LEI:
      case OP_GTI:
      case OP_GEI:
      case OP_TEST: reg(a); break;
      case OP_TESTSET: reg(a); reg(b); break;
      case OP_CALL:
      case OP_TAILCALL:
        reg(a);
        if (b != 0) regrange(a, b); // function and b - 1 arguments
        if (op == OP_CALL) {
          if (c != 0) regrange(a, c - 1); // c - 1 results
        } else if (c != (f->is_vararg ? f->numparams + 1 : 0))
          fail("bad return");
        break;
      case OP_RETURN:
        if (b != 0) regrange(a, b - 1);
        else reg(a);
        if (c != (f->is_vararg ? f->numparams + 1 : 0)) fail("bad return");
        break;
      case OP_RETURN0:
        if (f->is_vararg) fail("bad return");
        break;
      case OP_RETURN1:
        if (f->is_vararg) fail("bad return");
        reg(a);
        break;
      case OP_FORLOOP:
        regrange(a, 4);
        target(cast(long long, pc) + 1 - GETARG_Bx(i));
        break;
      case OP_FORPREP:
        regrange(a, 4);
        target(cast(long long, pc) + 2 + GETARG_Bx(i));
        break;
      case OP_TFORPREP: {
        regrange(a, 4);
        long long t = cast(long long, pc) + 1 + GETARG_Bx(i);
        // the interpreter runs the OP_TFORCALL there with this instruction's register A
        if (t < 0 || t >= n || GET_OPCODE(code[t]) != OP_TFORCALL || GETARG_A(code[t]) != a)
          fail("jump out of range");
        break;
      }
      case OP_TFORCALL: {
        // R[A+4..A+6] get the iterator, state and control; the results land from R[A+4]
        regrange(a, 7);
        regrange(a + 4, c > 3 ? c : 3);
        Instruction ni = code[pc + 1];
        if (GET_OPCODE(ni) != OP_TFORLOOP || GETARG_A(ni) != a) fail("generic for without loop");
        break;
      }
      case OP_TFORLOOP:
        if (pc == 0 || GET_OPCODE(code[pc - 1]) != OP_TFORCALL) fail("generic for without call");
        regrange(a, 5);
        target(cast(long long, pc) + 1 - GETARG_Bx(i));
        break;
      case OP_SETLIST:
        reg(a);
        if (b != 0) regrange(a, b + 1);
        if (GETARG_k(i) && GETARG_Ax(code[pc + 1]) > MAXEXTRASIZE) fail("table size out of range");
        break;
      case OP_CLOSURE:
        reg(a);
        if (GETARG_Bx(i) >= f->sizep) fail("function index out of range");
        break;
      case OP_VARARG:
        if (!f->is_vararg) fail("vararg in fixed-argument function");
        if (c != 0) regrange(a, c - 1);
        else reg(a);
        break;
      case OP_VARARGPREP:
        if (!f->is_vararg || pc != 0 || a != f->numparams) fail("misplaced vararg preparation");
        break;
      case OP_EXTRAARG:
        if (pc == 0 || !needsextraarg(code[pc - 1])) fail("misplaced extra argument");
        if (GET_OPCODE(code[pc - 1]) == OP_LOADKX) kst(GETARG_Ax(i));
        break;
    }
  }
  // nothing may jump past the load of a method name straight to its lookup
  for (int pc = 0; pc < n; pc++) {
    if (GET_OPCODE(code[pc]) == OP_SELF && !GETARG_k(code[pc]) && istarget[pc])
      fail("bad jump target");
  }
  verifyflow();
}

// What the interpreter takes for granted about registers, checked over every path: OP_SETLIST
// finds in R[A] the table OP_NEWTABLE made there, untouched since; OP_FORLOOP runs on the
// registers its OP_FORPREP prepared; a frame is left with its upvalues and to-be-closed
// variables closed. A register with an open upvalue may change under any call, so it holds no
// such fact.
namespace {

// Registers an instruction may write: [*lo, *hi] (empty when *lo > *hi).
void written(const Proto *f, int pc, int *lo, int *hi) {
  Instruction i = f->code[pc];
  OpCode op = GET_OPCODE(i);
  int a = GETARG_A(i);
  *lo = a;
  *hi = a;
  switch (op) {
    case OP_LOADNIL: *hi = a + GETARG_B(i); break;
    case OP_CONCAT: *hi = a + GETARG_B(i) - 1; break;
    case OP_SELF: *hi = a + 1; break;
    case OP_CALL:
    case OP_TAILCALL:
    case OP_VARARG: *hi = MAXARG_A; break;
    case OP_FORPREP:
    case OP_FORLOOP: *hi = a + 3; break;
    case OP_TFORLOOP: *hi = a + 2; break;
    case OP_TFORCALL:
      *lo = a + 4;
      *hi = MAXARG_A;
      break;
    case OP_MMBIN:
    case OP_MMBINI:
    case OP_MMBINK: *lo = *hi = GETARG_A(f->code[pc - 1]); break;
    default:
      if (!testAMode(op)) *hi = -1; // writes no register
      break;
  }
}

// The facts at one instruction, one bit per register of the frame, in three sets of 'words'
// 64-bit words: tables under construction, prepared numeric for loops (by their base
// register), and registers that may have an open upvalue.
struct Facts {
  uint64_t *w;
  int words;
  uint64_t *table() const { return w; }
  uint64_t *forl() const { return w + words; }
  uint64_t *open() const { return w + 2 * words; }
};

inline bool testbit64(const uint64_t *set, int r) { return (set[r >> 6] >> (r & 63)) & 1; }
inline void setbit64(uint64_t *set, int r) { set[r >> 6] |= uint64_t(1) << (r & 63); }
inline void clearbit64(uint64_t *set, int r) { set[r >> 6] &= ~(uint64_t(1) << (r & 63)); }

} // namespace

void Verifier::verifyflow() {
  int n = f->sizecode;
  const Instruction *code = f->code;
  int nregs = f->maxstacksize;
  int words = nregs / 64 + 1;
  int slot = 3 * words; // words per instruction
  TempVector<uint64_t> states(S->L, cast_sizet(n) * cast_sizet(slot));
  TempVector<lu_byte> seen(S->L, cast_sizet(n));
  TempVector<lu_byte> queued(S->L, cast_sizet(n));
  TempVector<int> work(S->L, cast_sizet(n));
  TempVector<uint64_t> scratch(S->L, cast_sizet(slot));
  int nwork = 0;
  auto at = [&](int pc) { return Facts{states.v + cast_sizet(pc) * cast_sizet(slot), words}; };
  // Forgets what registers lo..hi held: their tables, and the loops based on them or on the
  // two registers below them. Word at a time, so that a pass over a long function stays cheap.
  auto killrange = [&](const Facts &st, int lo, int hi) {
    if (hi >= nregs) hi = nregs - 1;
    if (lo < 0) lo = 0;
    for (int k = 0; k < words; k++) {
      int first = k * 64, last = first + 63;
      auto mask = [&](int from, int to) -> uint64_t {
        if (from < first) from = first;
        if (to > last) to = last;
        if (from > to) return 0;
        uint64_t m = (to - from == 63) ? ~uint64_t(0) : ((uint64_t(1) << (to - from + 1)) - 1);
        return m << (from - first);
      };
      st.table()[k] &= ~mask(lo, hi);
      st.forl()[k] &= ~mask(lo - 2, hi);
    }
  };
  // The same for every register that may have an open upvalue.
  auto killopen = [&](const Facts &st) {
    for (int k = 0; k < words; k++) {
      uint64_t o = st.open()[k];
      uint64_t next = (k + 1 < words) ? st.open()[k + 1] : 0;
      uint64_t down1 = (o >> 1) | (next << 63), down2 = (o >> 2) | (next << 62);
      st.table()[k] &= ~o;
      st.forl()[k] &= ~(o | down1 | down2);
    }
  };
  // merges 'out' into the facts of 'to': what holds on every path, and any open upvalue
  auto flow = [&](int to, const Facts &out) {
    Facts d = at(to);
    bool changed = false;
    if (!seen.v[to]) {
      std::memcpy(d.w, out.w, sizeof(uint64_t) * cast_sizet(slot));
      seen.v[to] = 1;
      changed = true;
    } else {
      for (int k = 0; k < words; k++) {
        uint64_t t = d.table()[k] & out.table()[k], fl = d.forl()[k] & out.forl()[k];
        uint64_t o = d.open()[k] | out.open()[k];
        if (t != d.table()[k] || fl != d.forl()[k] || o != d.open()[k]) changed = true;
        d.table()[k] = t;
        d.forl()[k] = fl;
        d.open()[k] = o;
      }
    }
    if (changed && !queued.v[to]) {
      queued.v[to] = 1;
      work.v[nwork++] = to;
    }
  };
  seen.v[0] = 1;
  queued.v[0] = 1;
  work.v[nwork++] = 0;
  Facts out{scratch.v, words};
  while (nwork > 0) {
    int pc = work.v[--nwork];
    queued.v[pc] = 0;
    Instruction i = code[pc];
    OpCode op = GET_OPCODE(i);
    int a = GETARG_A(i);
    Facts in = at(pc);
    if (op == OP_SETLIST && !testbit64(in.table(), a)) fail("table constructor without table");
    if (op == OP_FORLOOP && !testbit64(in.forl(), a)) fail("for loop without preparation");
    // leaving the frame with an upvalue or to-be-closed variable still open on it would leave
    // them pointing into a dead frame: such returns must close first
    if (op == OP_RETURN || op == OP_TAILCALL || op == OP_RETURN0 || op == OP_RETURN1) {
      bool anyopen = false;
      for (int k = 0; k < words; k++) anyopen = anyopen || in.open()[k] != 0;
      if (anyopen && ((op != OP_RETURN && op != OP_TAILCALL) || !GETARG_k(i)))
        fail("return without closing upvalues");
    }
    std::memcpy(out.w, in.w, sizeof(uint64_t) * cast_sizet(slot));
    int lo, hi;
    written(f, pc, &lo, &hi);
    if (lo <= hi) killrange(out, lo, hi);
    if (op == OP_NEWTABLE) setbit64(out.table(), a);
    if (op == OP_CLOSE)
      for (int r = a; r < nregs; r++) clearbit64(out.open(), r); // (at most 255 bits)
    if (op == OP_TBC) setbit64(out.open(), a);
    if (op == OP_TFORPREP) setbit64(out.open(), a + 3);
    if (op == OP_CLOSURE) {
      const Proto *np = f->p[GETARG_Bx(i)];
      for (int u = 0; u < np->sizeupvalues; u++)
        if (np->upvalues[u].instack) setbit64(out.open(), np->upvalues[u].idx);
    }
    killopen(out);
    // successors
    if (op == OP_JMP)
      flow(pc + 1 + GETARG_sJ(i), out);
    else if (op == OP_RETURN || op == OP_RETURN0 || op == OP_RETURN1)
      ;
    else if (op == OP_FORPREP) {
      flow(pc + 2 + GETARG_Bx(i), out);
      setbit64(out.forl(), a);
      flow(pc + 1, out);
    } else if (op == OP_FORLOOP) {
      flow(pc + 1, out);
      setbit64(out.forl(), a);
      flow(pc + 1 - GETARG_Bx(i), out);
    } else if (op == OP_TFORLOOP) {
      flow(pc + 1, out);
      flow(pc + 1 - GETARG_Bx(i), out);
    } else if (op == OP_TFORPREP)
      flow(pc + 1 + GETARG_Bx(i), out);
    else if (op == OP_LFALSESKIP || needsextraarg(i))
      flow(pc + 2, out);
    else if (testTMode(op) || isarith(op)) {
      flow(pc + 1, out);
      flow(pc + 2, out);
    } else if (op != OP_EXTRAARG)
      flow(pc + 1, out);
  }
}

// Upvalues of a nested function come from the parent's registers or upvalues.
void Verifier::verifyupvalues() {
  // a closure keeps its upvalue count in one byte
  if (f->sizeupvalues > MAXUPVAL) fail("too many upvalues");
  for (int i = 0; i < f->sizeupvalues; i++) {
    const Upvaldesc *uv = &f->upvalues[i];
    if (uv->instack > 1) fail("bad upvalue descriptor");
    if (parent == NULL) continue; // the main function's upvalues are set by the loader
    if (uv->instack ? uv->idx >= parent->maxstacksize : uv->idx >= parent->sizeupvalues)
      fail("bad upvalue descriptor");
  }
}

void Verifier::verifydebug() {
  if (f->sizelineinfo == 0) {
    if (f->sizeabslineinfo != 0) fail("bad line information");
  } else {
    if (f->sizelineinfo != f->sizecode) fail("bad line information");
    // every absolute entry is marked in the deltas, in order, and every line stays in range
    int k = 0;
    long long line = f->linedefined;
    for (int pc = 0; pc < f->sizecode; pc++) {
      if (f->lineinfo[pc] == ABSLINEINFO) {
        if (k >= f->sizeabslineinfo || f->abslineinfo[k].pc != pc) fail("bad line information");
        line = f->abslineinfo[k++].line;
      } else
        line += f->lineinfo[pc];
      if (line < 0 || line > INT_MAX) fail("bad line information");
    }
    if (k != f->sizeabslineinfo) fail("bad line information");
  }
  if (f->sizelocvars > 0) {
    // A local's value is read from its register: no more locals may be active at an
    // instruction than the frame has registers.
    int n = f->sizecode;
    TempVector<int> activev(S->L, cast_sizet(n) + 1);
    int *active = activev.v;
    const char *bad = NULL;
    for (int i = 0; i < f->sizelocvars && bad == NULL; i++) {
      const LocVar *lv = &f->locvars[i];
      if (lv->varname == NULL || lv->startpc < 0 || lv->startpc > lv->endpc || lv->endpc > n)
        bad = "bad local variable information";
      else {
        active[lv->startpc]++;
        active[lv->endpc]--;
      }
    }
    int count = 0;
    for (int pc = 0; pc < n && bad == NULL; pc++) {
      count += active[pc];
      if (count > f->maxstacksize) bad = "bad local variable information";
    }
    if (bad != NULL) fail(bad);
  }
}

void verify(LoadState *S, const Proto *f, const Proto *parent) {
  Verifier v{S, f, parent, nullptr};
  if (f->is_vararg > 1) v.fail("bad vararg flag");
  // (a vararg function's copy of itself goes above maxstack: the call reserves room for it)
  if (f->numparams > f->maxstacksize) v.fail("bad stack size");
  v.verifyupvalues();
  v.verifycode();
  v.verifydebug();
}

void loadFunction(LoadState *S, Proto *f, TString *psource, const Proto *parent, int depth) {
  f->source = loadStringN(S, f);
  if (f->source == NULL) {
    f->source = psource; // a nested function shares its parent's source
    if (psource != NULL) luaC_objbarrier(S->L, f, psource);
  }
  f->linedefined = loadInt(S);
  f->lastlinedefined = loadInt(S);
  f->numparams = loadByte(S);
  f->is_vararg = loadByte(S);
  f->maxstacksize = loadByte(S);
  loadCode(S, f);
  loadConstants(S, f);
  loadUpvalues(S, f);
  loadProtos(S, f, depth);
  loadDebug(S, f);
  verify(S, f, parent);
}

void checkliteral(LoadState *S, const char *s, const char *msg) {
  char buff[sizeof(LUA_SIGNATURE) + sizeof(LUAC_DATA)];
  size_t len = strlen(s);
  loadVector(S, buff, len);
  if (memcmp(s, buff, len) != 0) error(S, msg);
}

void fchecksize(LoadState *S, size_t size, const char *tname) {
  if (loadByte(S) != size) error(S, luaO_pushfstring(S->L, "%s size mismatch", tname));
}

#define checksize(S, t) fchecksize(S, sizeof(t), #t)

void checkHeader(LoadState *S) {
  // the first byte (0x1B) was read by the caller
  checkliteral(S, &LUA_SIGNATURE[1], "not a binary chunk");
  if (loadByte(S) != LUAC_VERSION) error(S, "version mismatch");
  if (loadByte(S) != LUAC_FORMAT) error(S, "format mismatch");
  checkliteral(S, LUAC_DATA, "corrupted chunk");
  checksize(S, Instruction);
  checksize(S, lua_Integer);
  checksize(S, lua_Number);
  if (loadInteger(S) != LUAC_INT) error(S, "integer format mismatch");
  if (loadNumber(S) != LUAC_NUM) error(S, "float format mismatch");
}

} // namespace

LClosure *luaU_undump(lua_State *L, Zio *Z, const char *name) {
  LoadState S;
  if (*name == '@' || *name == '=')
    S.name = name + 1;
  else if (*name == LUA_SIGNATURE[0])
    S.name = "binary string";
  else
    S.name = name;
  S.L = L;
  ChunkBuffer buf(L);
  readall(L, Z, &buf);
  S.p = reinterpret_cast<const lu_byte *>(buf.b);
  S.end = S.p + buf.n;
  S.reserved = 0;
  checkHeader(&S);
  int nupvalues = loadByte(&S);
  LClosure *cl = luaF_newLclosure(L, nupvalues);
  setclLvalue2s(L, L->top, cl);
  luaD_inctop(L);
  cl->p = luaF_newproto(L);
  luaC_objbarrier(L, cl, cl->p);
  loadFunction(&S, cl->p, NULL, NULL, 1);
  if (cl->p->sizeupvalues != nupvalues) error(&S, "wrong number of upvalues");
  return cl;
}
