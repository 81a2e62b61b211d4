// The code generator: expression descriptors, the per-function compile state and the luaK_
// operations the parser drives.
#pragma once

#include "lua/lexer.h"
#include "lua/object.h"
#include "lua/opcodes.h"
#include "lua/parser.h"

// Marks the end of a patch list: an invalid jump index.
#define NO_JUMP (-1)
#define JUMP_NONE NO_JUMP

// Kinds of expressions (values fixed: the order matters for several range tests).
enum expkind {
  VVOID,     // empty expression list or no value
  VNIL,
  VTRUE,
  VFALSE,
  VK,        // constant in 'k'; info = index
  VKFLT,     // nval = numerical float value
  VKINT,     // ival = numerical integer value
  VKSTR,     // strval = string value
  VNONRELOC, // value in a fixed register; info = result register
  VLOCAL,    // local variable; var.ridx = register, var.vidx = index in actvar
  VUPVAL,    // upvalue variable; info = index of upvalue in 'upvalues'
  VCONST,    // compile-time <const> variable; info = absolute index in actvar
  VINDEXED,  // ind.t = table register; ind.idx = key's register
  VINDEXUP,  // ind.t = table upvalue; ind.idx = key's constant index
  VINDEXI,   // ind.t = table register; ind.idx = integer key
  VINDEXSTR, // ind.t = table register; ind.idx = key's constant index
  VJMP,      // info = instruction pc of the condition's jump
  VRELOC,    // info = instruction pc whose A is still to be set
  VCALL,     // info = instruction pc of the call
  VVARARG    // info = instruction pc of the vararg
};

#define vkisvar(k) (VLOCAL <= (k) && (k) <= VINDEXSTR)
#define vkisindexed(k) (VINDEXED <= (k) && (k) <= VINDEXSTR)

struct expdesc {
  expkind k;
  union {
    lua_Integer ival; // for VKINT
    lua_Number nval;  // for VKFLT
    TString *strval;  // for VKSTR
    int info;         // for generic use
    struct {          // for indexed variables
      unsigned short idx; // key: register, constant index or integer
      lu_byte t;      // table (register or upvalue)
    } ind;
    struct {              // for local variables
      lu_byte ridx;       // register holding the variable
      unsigned short vidx; // compiler index (in 'actvar')
    } var;
  } u;
  int t; // patch list of 'exit when true'
  int f; // patch list of 'exit when false'
};
typedef expdesc ExprDesc;

// Binary operators; the arithmetic ones follow the order of the LUA_OP* numbers.
enum BinOpr {
  OPR_ADD, OPR_SUB, OPR_MUL, OPR_MOD, OPR_POW, OPR_DIV, OPR_IDIV,
  OPR_BAND, OPR_BOR, OPR_BXOR, OPR_SHL, OPR_SHR,
  OPR_CONCAT,
  OPR_EQ, OPR_LT, OPR_LE, OPR_NE, OPR_GT, OPR_GE,
  OPR_AND, OPR_OR,
  OPR_NOBINOPR
};
typedef BinOpr BinaryOperator;

#define foldbinop(op) ((op) <= OPR_SHR)

// Unary operators, with the dialect's peeks of 1, 2, 4 and 8 bytes.
enum UnOpr {
  OPR_MINUS, OPR_BNOT, OPR_NOT, OPR_PEEK, OPR_PEEK2, OPR_PEEK4, OPR_PEEK8, OPR_LEN, OPR_NOUNOPR
};
typedef UnOpr UnaryOperator;

struct BlockCnt;

// State needed to generate code for a given function.
struct FuncState {
  Proto *f;               // current function header
  struct FuncState *prev; // enclosing function
  struct LexState *ls;    // lexical state
  struct BlockCnt *bl;    // chain of current blocks
  int pc;                 // next position to code (equivalent to 'ncode')
  int lasttarget;         // 'label' of last 'jump label'
  int previousline;       // last line that was saved in 'lineinfo'
  int nk;                 // number of elements in 'k'
  int np;                 // number of elements in 'p'
  int nabslineinfo;       // number of elements in 'abslineinfo'
  int firstlocal;         // index of first local var (in ParserData array)
  int firstlabel;         // index of first label (in 'dyd->label->arr')
  short ndebugvars;       // number of elements in 'f->locvars'
  lu_byte nactvar;        // number of active local variables
  lu_byte nups;           // number of upvalues
  lu_byte freereg;        // first free register
  lu_byte iwthabs;        // instructions issued since last absolute line info
  lu_byte needclose;      // function needs to close upvalues when returning
};
typedef FuncState FunctionState;

// Longest run of relative line entries before an absolute one is forced.
#define LINE_MAXRELATIVE 121

#define luaK_codeABC(fs, o, a, b, c) luaK_codeABCk(fs, o, a, b, c, 0)
#define getinstruction(fs, e) ((fs)->f->code[(e)->u.info])
#define luaK_setmultret(fs, e) luaK_setreturns(fs, e, LUA_MULTRET)
#define luaK_jumpto(fs, t) luaK_patchlist(fs, luaK_jump(fs), t)

int luaK_code(FuncState *fs, Instruction i);
int luaK_codeABx(FuncState *fs, OpCode o, int A, unsigned int Bx);
int luaK_codeAsBx(FuncState *fs, OpCode o, int A, int Bx);
int luaK_codeABCk(FuncState *fs, OpCode o, int A, int B, int C, int k);
int luaK_isKint(expdesc *e);
int luaK_exp2const(FuncState *fs, const expdesc *e, TValue *v);
void luaK_fixline(FuncState *fs, int line);
void luaK_nil(FuncState *fs, int from, int n);
void luaK_reserveregs(FuncState *fs, int n);
void luaK_checkstack(FuncState *fs, int n);
void luaK_int(FuncState *fs, int reg, lua_Integer n);
void luaK_dischargevars(FuncState *fs, expdesc *e);
int luaK_exp2anyreg(FuncState *fs, expdesc *e);
void luaK_exp2anyregup(FuncState *fs, expdesc *e);
void luaK_exp2nextreg(FuncState *fs, expdesc *e);
void luaK_exp2val(FuncState *fs, expdesc *e);
int luaK_exp2K(FuncState *fs, expdesc *e);
int luaK_exp2RK(FuncState *fs, expdesc *e);
void luaK_self(FuncState *fs, expdesc *e, expdesc *key);
void luaK_indexed(FuncState *fs, expdesc *t, expdesc *k);
void luaK_goiftrue(FuncState *fs, expdesc *e);
void luaK_goiffalse(FuncState *fs, expdesc *e);
void luaK_storevar(FuncState *fs, expdesc *var, expdesc *e);
void luaK_setreturns(FuncState *fs, expdesc *e, int nresults);
void luaK_setoneret(FuncState *fs, expdesc *e);
int luaK_jump(FuncState *fs);
void luaK_ret(FuncState *fs, int first, int nret);
void luaK_patchlist(FuncState *fs, int list, int target);
void luaK_patchtohere(FuncState *fs, int list);
void luaK_concat(FuncState *fs, int *l1, int l2);
int luaK_getlabel(FuncState *fs);
void luaK_prefix(FuncState *fs, UnOpr op, expdesc *v, int line);
void luaK_infix(FuncState *fs, BinOpr op, expdesc *v);
void luaK_posfix(FuncState *fs, BinOpr op, expdesc *v1, expdesc *v2, int line);
void luaK_settablesize(FuncState *fs, int pc, int ra, int asize, int hsize);
void luaK_setlist(FuncState *fs, int base, int nelems, int tostore);
void luaK_finish(FuncState *fs);
[[noreturn]] void luaK_semerror(LexState *ls, const char *msg);
