// Debug interface: activation records, line information, hooks, and the text of run-time errors.
#include <cstring>

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/func.h"
#include "lua/gc.h"
#include "lua/lua.h"
#include "lua/object.h"
#include "lua/opcodes.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "lua/tm.h"
#include "lua/vm.h"

#define LUA_ENV "_ENV"

#define noLuaClosure(f) ((f) == NULL || (f)->c.tt == LUA_VCCL)

static const char *funcnamefromcall(lua_State *L, CallInfo *ci, const char **name);

static int currentpc(CallInfo *ci) { return pcRel(ci->u.l.savedpc, ci_func(ci)->p); }

// ---------------------------------------------------------------------------------------------
// Line information

// The absolute entry that governs pc: the last one at or before it, or the function's first line
// (base pc -1) when there is none.
static int getbaseline(const Proto *f, int pc, int *basepc) {
  int n = f->sizeabslineinfo;
  if (n == 0 || pc < f->abslineinfo[0].pc) {
    *basepc = -1;
    return f->linedefined;
  }
  int i;
  if (pc >= f->abslineinfo[n - 1].pc) {
    i = n - 1;
  } else { // abslineinfo[lo].pc <= pc < abslineinfo[hi].pc
    int lo = 0, hi = n - 1;
    while (hi - lo > 1) {
      int m = lo + (hi - lo) / 2;
      if (f->abslineinfo[m].pc <= pc) lo = m;
      else hi = m;
    }
    i = lo;
  }
  *basepc = f->abslineinfo[i].pc;
  return f->abslineinfo[i].line;
}

int luaG_getfuncline(const Proto *f, int pc) {
  if (f->lineinfo == NULL) return -1; // no debug information
  int basepc;
  int baseline = getbaseline(f, pc, &basepc);
  while (basepc++ < pc) baseline += f->lineinfo[basepc];
  return baseline;
}

static int getcurrentline(CallInfo *ci) { return luaG_getfuncline(ci_func(ci)->p, currentpc(ci)); }

// ---------------------------------------------------------------------------------------------
// Hooks

// Every Lua activation of the thread re-checks its hooks before its next instruction.
static void settraps(CallInfo *ci) {
  for (; ci != NULL; ci = ci->previous)
    if (isLua(ci)) ci->u.l.trap = 1;
}

void lua_sethook(lua_State *L, lua_Hook func, int mask, int count) {
  if (func == NULL || mask == 0) { // turn off hooks
    mask = 0;
    func = NULL;
  }
  L->hook = func;
  L->basehookcount = count;
  resethookcount(L);
  L->hookmask = mask;
  if (mask) settraps(L->ci);
}

lua_Hook lua_gethook(lua_State *L) { return L->hook; }

int lua_gethookmask(lua_State *L) { return L->hookmask; }

int lua_gethookcount(lua_State *L) { return L->basehookcount; }

// ---------------------------------------------------------------------------------------------
// Activations and locals

int lua_getstack(lua_State *L, int level, lua_Debug *ar) {
  if (level < 0) return 0;
  CallInfo *ci;
  for (ci = L->ci; level > 0 && ci != &L->base_ci; ci = ci->previous) level--;
  if (level == 0 && ci != &L->base_ci) {
    ar->i_ci = ci;
    return 1;
  }
  return 0;
}

static const char *upvalname(const Proto *p, int uv) {
  TString *s = p->upvalues[uv].name;
  return (s == NULL) ? "?" : getstr(s);
}

// The (-n)-th extra argument of a vararg function sits below the function slot.
static const char *findvararg(CallInfo *ci, int n, StkId *pos) {
  if (clLvalue(s2v(ci->func))->p->is_vararg) {
    int nextra = ci->u.l.nextraargs;
    if (n >= -nextra) { // n is negative
      *pos = ci->func - nextra - (n + 1);
      return "(vararg)";
    }
  }
  return NULL;
}

const char *luaG_findlocal(lua_State *L, CallInfo *ci, int n, StkId *pos) {
  StkId base = ci->func + 1;
  const char *name = NULL;
  if (isLua(ci)) {
    if (n < 0) return findvararg(ci, n, pos);
    name = luaF_getlocalname(ci_func(ci)->p, n, currentpc(ci));
  }
  if (name == NULL) { // no named local: maybe a temporary slot
    StkId limit = (ci == L->ci) ? L->top : ci->next->func;
    if (limit - base >= n && n > 0) name = isLua(ci) ? "(temporary)" : "(C temporary)";
    else return NULL;
  }
  if (pos) *pos = base + (n - 1);
  return name;
}

const char *lua_getlocal(lua_State *L, const lua_Debug *ar, int n) {
  const char *name;
  if (ar == NULL) { // parameters of the function on the top
    if (!isLfunction(s2v(L->top - 1))) name = NULL;
    else name = luaF_getlocalname(clLvalue(s2v(L->top - 1))->p, n, 0);
  } else {
    StkId pos = NULL;
    name = luaG_findlocal(L, ar->i_ci, n, &pos);
    if (name) {
      setobjs2s(L, L->top, pos);
      L->top++;
    }
  }
  return name;
}

const char *lua_setlocal(lua_State *L, const lua_Debug *ar, int n) {
  StkId pos = NULL;
  const char *name = luaG_findlocal(L, ar->i_ci, n, &pos);
  if (name) {
    setobjs2s(L, pos, L->top - 1);
    L->top--; // pop the value only when it was stored
  }
  return name;
}

// ---------------------------------------------------------------------------------------------
// lua_getinfo

static void funcinfo(lua_Debug *ar, Closure *cl) {
  if (noLuaClosure(cl)) {
    ar->source = "=[C]";
    ar->srclen = LL("=[C]");
    ar->linedefined = -1;
    ar->lastlinedefined = -1;
    ar->what = "C";
  } else {
    const Proto *p = cl->l.p;
    if (p->source) {
      ar->source = getstr(p->source);
      ar->srclen = tsslen(p->source);
    } else {
      ar->source = "=?";
      ar->srclen = LL("=?");
    }
    ar->linedefined = p->linedefined;
    ar->lastlinedefined = p->lastlinedefined;
    ar->what = (ar->linedefined == 0) ? "main" : "Lua";
  }
  luaO_chunkid(ar->short_src, ar->source, ar->srclen);
}

static int nextline(const Proto *p, int currentline, int pc) {
  if (p->lineinfo[pc] != ABSLINEINFO) return currentline + p->lineinfo[pc];
  return luaG_getfuncline(p, pc);
}

// Pushes the table of lines that carry code (nil for a C function).
static void collectvalidlines(lua_State *L, Closure *f) {
  if (noLuaClosure(f)) {
    setnilvalue(s2v(L->top));
    L->top++;
    return;
  }
  const Proto *p = f->l.p;
  int currentline = p->linedefined;
  Table *t = luaH_new(L);
  sethvalue2s(L, L->top, t);
  L->top++;
  if (p->lineinfo == NULL) return;
  TValue v;
  setbtvalue(&v);
  for (int i = 0; i < p->sizelineinfo; i++) {
    currentline = nextline(p, currentline, i);
    luaH_setint(L, t, currentline, &v);
  }
}

static const char *getfuncname(lua_State *L, CallInfo *ci, const char **name) {
  if (ci == NULL) return NULL;
  // the collector marks the frame that calls a finalizer
  if (ci->previous != NULL && (ci->previous->callstatus & CIST_FIN)) {
    *name = "__gc";
    return "metamethod";
  }
  if (ci->callstatus & CIST_TAIL) return NULL; // the caller is gone
  if (!isLua(ci->previous)) return NULL;      // called from C: no name
  return funcnamefromcall(L, ci->previous, name);
}

static int auxgetinfo(lua_State *L, const char *what, lua_Debug *ar, Closure *f, CallInfo *ci) {
  int status = 1;
  for (; *what; what++) {
    switch (*what) {
      case 'S': funcinfo(ar, f); break;
      case 'l': ar->currentline = (ci && isLua(ci)) ? getcurrentline(ci) : -1; break;
      case 'u':
        ar->nups = (f == NULL) ? 0 : f->c.nupvalues;
        if (noLuaClosure(f)) {
          ar->isvararg = 1;
          ar->nparams = 0;
        } else {
          ar->isvararg = f->l.p->is_vararg;
          ar->nparams = f->l.p->numparams;
        }
        break;
      case 't': ar->istailcall = (ci) ? ((ci->callstatus & CIST_TAIL) != 0) : 0; break;
      case 'n':
        ar->namewhat = getfuncname(L, ci, &ar->name);
        if (ar->namewhat == NULL) {
          ar->namewhat = "";
          ar->name = NULL;
        }
        break;
      case 'r':
        if (ci == NULL || !(ci->callstatus & CIST_TRAN)) {
          ar->ftransfer = ar->ntransfer = 0;
        } else {
          ar->ftransfer = ci->u2.transferinfo.ftransfer;
          ar->ntransfer = ci->u2.transferinfo.ntransfer;
        }
        break;
      case 'L':
      case 'f': break; // handled by lua_getinfo
      default: status = 0; // unknown option
    }
  }
  return status;
}

int lua_getinfo(lua_State *L, const char *what, lua_Debug *ar) {
  CallInfo *ci;
  TValue *func;
  bool popfunc = false;
  if (*what == '>') { // the function is on the top, with no activation
    ci = NULL;
    func = s2v(L->top - 1);
    what++;
    popfunc = true; // removed at the end: it stays anchored while the line table is built
  } else {
    ci = ar->i_ci;
    func = s2v(ci->func);
  }
  Closure *cl = ttisclosure(func) ? clvalue(func) : NULL;
  int status = auxgetinfo(L, what, ar, cl, ci);
  int pushed = 0;
  if (strchr(what, 'f')) {
    setobj2s(L, L->top, func);
    L->top++;
    pushed++;
  }
  if (strchr(what, 'L')) {
    collectvalidlines(L, cl);
    pushed++;
  }
  if (popfunc) {
    StkId fslot = L->top - pushed - 1;
    for (int i = 0; i < pushed; i++) setobjs2s(L, fslot + i, fslot + i + 1);
    L->top--;
  }
  return status;
}

// ---------------------------------------------------------------------------------------------
// Names of values, from the code that produced them

static const char *getobjname(const Proto *p, int lastpc, int reg, const char **name);

static void kname(const Proto *p, int c, const char **name) {
  const TValue *kvalue = &p->k[c];
  *name = ttisstring(kvalue) ? svalue(kvalue) : "?";
}

// Register c as a key: named only when it holds a constant.
static void rname(const Proto *p, int pc, int c, const char **name) {
  const char *what = getobjname(p, pc, c, name);
  if (!(what && *what == 'c')) *name = "?";
}

static void rkname(const Proto *p, int pc, Instruction i, const char **name) {
  int c = GETARG_C(i);
  if (GETARG_k(i)) kname(p, c, name);
  else rname(p, pc, c, name);
}

static int filterpc(int pc, int jmptarget) {
  return (pc < jmptarget) ? -1 : pc; // a setter before a jump target may have been skipped
}

// The last instruction before lastpc that changed register reg, or -1.
static int findsetreg(const Proto *p, int lastpc, int reg) {
  int setreg = -1;
  int jmptarget = 0;
  if (lastpc < 0) return -1;
  // at a metamethod fallback the arithmetic instruction before it is the current one
  if (testMMMode(GET_OPCODE(p->code[lastpc]))) lastpc--;
  for (int pc = 0; pc < lastpc; pc++) {
    Instruction i = p->code[pc];
    OpCode op = GET_OPCODE(i);
    int a = GETARG_A(i);
    int change;
    switch (op) {
      case OP_LOADNIL: {
        int b = GETARG_B(i);
        change = (a <= reg && reg <= a + b);
        break;
      }
      case OP_TFORCALL: change = (reg >= a + 2); break;
      case OP_CALL:
      case OP_TAILCALL: change = (reg >= a); break;
      case OP_JMP: {
        int dest = pc + 1 + GETARG_sJ(i);
        if (dest <= lastpc && dest > jmptarget) jmptarget = dest;
        change = 0;
        break;
      }
      default: change = (testAMode(op) && reg == a); break;
    }
    if (change) setreg = filterpc(pc, jmptarget);
  }
  return setreg;
}

// "global" when the indexed table is _ENV, else "field".
static const char *gxf(const Proto *p, int pc, Instruction i, int isup) {
  int t = GETARG_B(i);
  const char *name = NULL;
  if (isup) name = upvalname(p, t);
  else getobjname(p, pc, t, &name);
  return (name && strcmp(name, LUA_ENV) == 0) ? "global" : "field";
}

static const char *getobjname(const Proto *p, int lastpc, int reg, const char **name) {
  *name = luaF_getlocalname(p, reg + 1, lastpc);
  if (*name) return "local";
  int pc = findsetreg(p, lastpc, reg);
  if (pc == -1) return NULL;
  Instruction i = p->code[pc];
  OpCode op = GET_OPCODE(i);
  switch (op) {
    case OP_MOVE: {
      int b = GETARG_B(i);
      if (b < GETARG_A(i)) return getobjname(p, pc, b, name);
      break;
    }
    case OP_GETTABUP:
      kname(p, GETARG_C(i), name);
      return gxf(p, pc, i, 1);
    case OP_GETTABLE:
      rname(p, pc, GETARG_C(i), name);
      return gxf(p, pc, i, 0);
    case OP_GETI:
      *name = "integer index";
      return "field";
    case OP_GETFIELD:
      kname(p, GETARG_C(i), name);
      return gxf(p, pc, i, 0);
    case OP_GETUPVAL:
      *name = upvalname(p, GETARG_B(i));
      return "upvalue";
    case OP_LOADK:
    case OP_LOADKX: {
      int b = (op == OP_LOADK) ? GETARG_Bx(i) : GETARG_Ax(p->code[pc + 1]);
      if (ttisstring(&p->k[b])) {
        *name = svalue(&p->k[b]);
        return "constant";
      }
      break;
    }
    case OP_SELF:
      rkname(p, pc, i, name);
      return "method";
    default: break; // arithmetic, peeks and the rest carry no name
  }
  *name = NULL;
  return NULL;
}

// Name of the function called by the current instruction of a Lua activation.
static const char *funcnamefromcode(lua_State *L, const Proto *p, int pc, const char **name) {
  TMS tm;
  Instruction i = p->code[pc];
  switch (GET_OPCODE(i)) {
    case OP_CALL:
    case OP_TAILCALL: return getobjname(p, pc, GETARG_A(i), name);
    case OP_TFORCALL:
      *name = "for iterator";
      return "for iterator";
    case OP_SELF:
    case OP_GETTABUP:
    case OP_GETTABLE:
    case OP_GETI:
    case OP_GETFIELD: tm = TM_INDEX; break;
    case OP_SETTABUP:
    case OP_SETTABLE:
    case OP_SETI:
    case OP_SETFIELD: tm = TM_NEWINDEX; break;
    case OP_MMBIN:
    case OP_MMBINI:
    case OP_MMBINK: tm = cast(TMS, GETARG_C(i)); break;
    case OP_UNM: tm = TM_UNM; break;
    case OP_BNOT: tm = TM_BNOT; break;
    case OP_LEN: tm = TM_LEN; break;
    case OP_CONCAT: tm = TM_CONCAT; break;
    case OP_EQ: tm = TM_EQ; break;
    case OP_LT:
    case OP_LE:
    case OP_LTI:
    case OP_LEI:
      *name = "order";
      return "metamethod";
    case OP_CLOSE:
    case OP_RETURN:
      *name = "close";
      return "metamethod";
    default: return NULL; // EQK, EQI, GTI, GEI, the peeks, ...
  }
  *name = getstr(G(L)->tmname[tm]) + 2; // without the leading "__"
  return "metamethod";
}

// Name of the function the Lua activation ci is calling.
static const char *funcnamefromcall(lua_State *L, CallInfo *ci, const char **name) {
  if (ci->callstatus & CIST_HOOKED) { // the call came from a hook
    *name = "?";
    return "hook";
  }
  return funcnamefromcode(L, ci_func(ci)->p, currentpc(ci), name);
}

// ---------------------------------------------------------------------------------------------
// Error messages

static bool isinstack(CallInfo *ci, const TValue *o) {
  uintptr_t base = reinterpret_cast<uintptr_t>(ci->func + 1);
  uintptr_t top = reinterpret_cast<uintptr_t>(ci->top);
  uintptr_t po = reinterpret_cast<uintptr_t>(o);
  return base <= po && po < top && (po - base) % sizeof(TValue) == 0;
}

static const char *getupvalname(CallInfo *ci, const TValue *o, const char **name) {
  LClosure *c = ci_func(ci);
  for (int i = 0; i < c->nupvalues; i++) {
    UpVal *uv = c->upvals[i];
    if (uv != NULL && uv->v == o) {
      *name = upvalname(c->p, i);
      return "upvalue";
    }
  }
  return NULL;
}

static const char *formatvarinfo(lua_State *L, const char *kind, const char *name) {
  if (kind == NULL) return "";
  return luaO_pushfstring(L, " (%s '%s')", kind, name);
}

// " (kind 'name')" for a value the running Lua code reached through a variable.
static const char *varinfo(lua_State *L, const TValue *o) {
  CallInfo *ci = L->ci;
  const char *name = NULL;
  const char *kind = NULL;
  if (isLuacode(ci)) { // a hook's values are not the function's variables
    kind = getupvalname(ci, o, &name); // upvalue cells first
    if (!kind && isinstack(ci, o)) {
      int reg = cast_int(cast(StkId, const_cast<TValue *>(o)) - (ci->func + 1));
      kind = getobjname(ci_func(ci)->p, currentpc(ci), reg, &name);
    }
  }
  return formatvarinfo(L, kind, name);
}

[[noreturn]] static void typeerror(lua_State *L, const TValue *o, const char *op, const char *extra) {
  const char *t = luaT_objtypename(L, o);
  luaG_runerror(L, "attempt to %s a %s value%s", op, t, extra);
}

void luaG_typeerror(lua_State *L, const TValue *o, const char *op) {
  typeerror(L, o, op, varinfo(L, o));
}

// A value that is not callable: named after the calling instruction when it tells.
// A value that cannot be called is described by its variable information only.
void luaG_callerror(lua_State *L, const TValue *o) { typeerror(L, o, "call", varinfo(L, o)); }

void luaG_forerror(lua_State *L, const TValue *o, const char *what) {
  luaG_runerror(L, "bad 'for' %s (number expected, got %s)", what, luaT_objtypename(L, o));
}

void luaG_concaterror(lua_State *L, const TValue *p1, const TValue *p2) {
  if (ttisstring(p1) || cvt2str(p1)) p1 = p2;
  luaG_typeerror(L, p1, "concatenate");
}

void luaG_opinterror(lua_State *L, const TValue *p1, const TValue *p2, const char *msg) {
  if (!ttisnumber(p1)) p2 = p1; // the first operand is the culprit
  luaG_typeerror(L, p2, msg);
}

void luaG_tointerror(lua_State *L, const TValue *p1, const TValue *p2) {
  lua_Integer temp;
  if (!luaV_tointegerns(p1, &temp, F2Ieq)) p2 = p1;
  luaG_runerror(L, "number%s has no integer representation", varinfo(L, p2));
}

void luaG_ordererror(lua_State *L, const TValue *p1, const TValue *p2) {
  const char *t1 = luaT_objtypename(L, p1);
  const char *t2 = luaT_objtypename(L, p2);
  if (strcmp(t1, t2) == 0) luaG_runerror(L, "attempt to compare two %s values", t1);
  luaG_runerror(L, "attempt to compare %s with %s", t1, t2);
}

const char *luaG_addinfo(lua_State *L, const char *msg, TString *src, int line) {
  char buff[LUA_IDSIZE];
  if (src) {
    luaO_chunkid(buff, getstr(src), tsslen(src));
  } else {
    buff[0] = '?';
    buff[1] = '\0';
  }
  return luaO_pushfstring(L, "%s:%d: %s", buff, line, msg);
}

void luaG_errormsg(lua_State *L) {
  if (L->errfunc != 0) { // a message handler: call it with the error object
    StkId errfunc = restorestack(L, L->errfunc);
    setobjs2s(L, L->top, L->top - 1);
    setobjs2s(L, L->top - 1, errfunc);
    L->top++;
    luaD_callnoyield(L, L->top - 2, 1);
  }
  luaD_throwhere(L, LUA_ERRRUN);
}

void luaG_runerror(lua_State *L, const char *fmt, ...) {
  CallInfo *ci = L->ci;
  luaC_checkGC(L);
  va_list argp;
  va_start(argp, fmt);
  const char *msg = luaO_pushvfstring(L, fmt, argp);
  va_end(argp);
  if (isLua(ci)) { // add the position
    luaG_addinfo(L, msg, ci_func(ci)->p->source, getcurrentline(ci));
    setobjs2s(L, L->top - 2, L->top - 1); // keep only the full message
    L->top--;
  }
  luaG_errormsg(L);
}

// ---------------------------------------------------------------------------------------------
// Line and count hooks

// True when some line between oldpc and newpc differs from the line of newpc.
static int changedline(const Proto *p, int oldpc, int newpc) {
  if (p->lineinfo == NULL) return 0;
  while (oldpc++ < newpc) {
    if (p->lineinfo[oldpc] != 0)
      return (luaG_getfuncline(p, oldpc - 1) != luaG_getfuncline(p, newpc));
  }
  return 0; // no line changes between positions
}

int luaG_traceexec(lua_State *L, const Instruction *pc) {
  CallInfo *ci = L->ci;
  int mask = L->hookmask;
  const Proto *p = ci_func(ci)->p;
  if (!(mask & (LUA_MASKLINE | LUA_MASKCOUNT))) {
    ci->u.l.trap = 0; // no line or count hooks: stop tracing
    return 0;
  }
  pc++; // the reference is always the next instruction
  ci->u.l.savedpc = pc;
  // the count runs down even without the count bit; it wraps instead of overflowing
  L->hookcount = static_cast<int>(static_cast<unsigned>(L->hookcount) - 1u);
  int counthook = (L->hookcount == 0 && (mask & LUA_MASKCOUNT));
  if (counthook) resethookcount(L);
  else if (!(mask & LUA_MASKLINE)) return 1; // no line hook and the count is not done
  if (ci->callstatus & CIST_HOOKYIELD) { // resumed after a yield at this instruction
    ci->callstatus &= ~CIST_HOOKYIELD;
    return 1; // do not run its hooks again
  }
  if (!isIT(*(ci->u.l.savedpc - 1))) L->top = ci->top; // the top is not in use
  if (counthook) luaD_hook(L, LUA_HOOKCOUNT, -1, 0, 0);
  if (mask & LUA_MASKLINE) {
    // the old pc may belong to another function
    int oldpc = (L->oldpc < p->sizecode) ? L->oldpc : 0;
    int npci = pcRel(pc, p);
    if (npci == 0 || npci <= oldpc || changedline(p, oldpc, npci)) {
      int newline = luaG_getfuncline(p, npci);
      luaD_hook(L, LUA_HOOKLINE, newline, 0, 0);
    }
    L->oldpc = npci;
  }
  if (L->status == LUA_YIELD) { // a hook yielded
    if (counthook) L->hookcount = 1; // undo the decrement to zero
    ci->u.l.savedpc--;              // the instruction runs again after the resume
    ci->callstatus |= CIST_HOOKYIELD;
    luaD_throw(L, LUA_YIELD);
  }
  return 1; // keep the trap on
}
