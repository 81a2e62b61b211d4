// Human-readable listing of compiled prototypes (the runner's --list). The format is stable:
// tests compare it byte for byte.
//
//   main <chunk:first,last> (N instructions)
//   P[+] params, S slots, U upvalues, L locals, K constants, F functions
//   <index> [<line>] <OPNAME> <operands> [; note]     one per instruction, index from 1
//   locals: name[first-last], ...                    instruction range where each is active
//
// Operands: A B C (signed immediates shown as values, " k" when the k bit is set), A Bx,
// A sBx, Ax or sJ by the opcode's format. Notes give constants, upvalue names, metamethod
// events, jump targets and call counts. Nested functions follow their parent, in order.
#include "lua/listing.h"

#include <string>

#include "lua/debug.h"
#include "lua/opcodes.h"
#include "lua/state.h"

static const char *const eventnames[] = {"__index", "__newindex", "__gc", "__mode", "__len",
                                         "__eq", "__add", "__sub", "__mul", "__mod", "__pow",
                                         "__div", "__idiv", "__band", "__bor", "__bxor", "__shl",
                                         "__shr", "__unm", "__bnot", "__lt", "__le", "__concat",
                                         "__call", "__close"};

static std::string fmt(const char *f, ...) {
  char buf[128];
  va_list ap;
  va_start(ap, f);
  vsnprintf(buf, sizeof(buf), f, ap);
  va_end(ap);
  return buf;
}

static std::string quoted(const TString *ts) {
  std::string s = "\"";
  const char *p = getstr(ts);
  size_t n = tsslen(ts);
  size_t shown = n > 40 ? 40 : n; // long literals are cut
  for (size_t i = 0; i < shown; i++) {
    unsigned char c = cast_uchar(p[i]);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += char(c);
    } else if (c >= 0x20 && c < 0x7F)
      s += char(c);
    else
      s += fmt("\\%d", c);
  }
  s += '"';
  if (shown < n) s += "...";
  return s;
}

static std::string constant(const Proto *f, int i) {
  if (i < 0 || i >= f->sizek) return "?";
  const TValue *o = &f->k[i];
  switch (ttypetag(o)) {
    case LUA_VNIL: return "nil";
    case LUA_VFALSE: return "false";
    case LUA_VTRUE: return "true";
    case LUA_VNUMINT: return fmt("%lld", (long long)ivalue(o));
    case LUA_VNUMFLT: {
      std::string s = fmt("%.14g", fltvalue(o));
      if (s.find_first_not_of("-0123456789") == std::string::npos) s += ".0";
      return s;
    }
    case LUA_VSHRSTR:
    case LUA_VLNGSTR: return quoted(tsvalue(o));
    default: return "?";
  }
}

static std::string upvalname(const Proto *f, int i) {
  if (i < 0 || i >= f->sizeupvalues || f->upvalues[i].name == NULL) return "-";
  return getstr(f->upvalues[i].name);
}

static std::string chunkname(const Proto *f) {
  if (f->source == NULL) return "=?";
  char buff[LUA_IDSIZE_];
  luaO_chunkid(buff, getstr(f->source), tsslen(f->source));
  return buff;
}

// Lines of every instruction, walking the relative deltas and absolute entries.
static void computelines(const Proto *f, int *lines) {
  int line = f->linedefined;
  int abs = 0;
  for (int pc = 0; pc < f->sizecode; pc++) {
    if (f->lineinfo == NULL || pc >= f->sizelineinfo) {
      lines[pc] = -1;
      continue;
    }
    if (f->lineinfo[pc] == ABSLINEINFO) {
      while (abs < f->sizeabslineinfo && f->abslineinfo[abs].pc < pc) abs++;
      if (abs < f->sizeabslineinfo && f->abslineinfo[abs].pc == pc) line = f->abslineinfo[abs].line;
    } else
      line += f->lineinfo[pc];
    lines[pc] = line;
  }
}

static void printheader(FILE *out, const Proto *f) {
  fprintf(out, "%s <%s:%d,%d> (%d instruction%s)\n", f->linedefined == 0 ? "main" : "function",
          chunkname(f).c_str(), f->linedefined, f->lastlinedefined, f->sizecode,
          f->sizecode == 1 ? "" : "s");
  fprintf(out, "%d%s params, %d slots, %d upvalues, %d locals, %d constants, %d functions\n",
          f->numparams, f->is_vararg ? "+" : "", f->maxstacksize, f->sizeupvalues, f->sizelocvars,
          f->sizek, f->sizep);
}

static void printcode(FILE *out, const Proto *f) {
  int *lines = new int[f->sizecode > 0 ? f->sizecode : 1];
  computelines(f, lines);
  for (int pc = 0; pc < f->sizecode; pc++) {
    Instruction i = f->code[pc];
    OpCode o = GET_OPCODE(i);
    int a = GETARG_A(i), b = GETARG_B(i), c = GETARG_C(i), k = GETARG_k(i);
    int bx = GETARG_Bx(i), sbx = GETARG_sBx(i), ax = GETARG_Ax(i), sj = GETARG_sJ(i);
    std::string ops, note;
    const char *name = (o < NUM_OPCODES) ? luaP_opnames[o] : "?";
    switch (o < NUM_OPCODES ? getOpMode(o) : iABC) {
      case iABC: {
        int shownb = b, shownc = c;
        switch (o) { // signed immediates are shown with their value
          case OP_ADDI: case OP_SHRI: case OP_SHLI: shownc = sC2int(c); break;
          case OP_MMBINI: case OP_EQI: case OP_LTI: case OP_LEI: case OP_GTI: case OP_GEI:
            shownb = sC2int(b); break;
          default: break;
        }
        ops = fmt("%d %d %d%s", a, shownb, shownc, k ? " k" : "");
        break;
      }
      case iABx: ops = fmt("%d %d", a, bx); break;
      case iAsBx: ops = fmt("%d %d", a, sbx); break;
      case iAx: ops = fmt("%d", ax); break;
      case isJ: ops = fmt("%d", sj); break;
    }
    switch (o) {
      case OP_LOADK: note = constant(f, bx); break;
      case OP_LOADKX:
        if (pc + 1 < f->sizecode && GET_OPCODE(f->code[pc + 1]) == OP_EXTRAARG)
          note = constant(f, GETARG_Ax(f->code[pc + 1]));
        break;
      case OP_GETUPVAL:
      case OP_SETUPVAL: note = upvalname(f, b); break;
      case OP_GETTABUP: note = upvalname(f, b) + " " + constant(f, c); break;
      case OP_SETTABUP:
        note = upvalname(f, a) + " " + constant(f, b);
        if (k) note += " " + constant(f, c);
        break;
      case OP_GETFIELD: note = constant(f, c); break;
      case OP_SETFIELD:
        note = constant(f, b);
        if (k) note += " " + constant(f, c);
        break;
      case OP_SETTABLE:
      case OP_SETI:
      case OP_SELF:
        if (k) note = constant(f, c);
        break;
      case OP_ADDK: case OP_SUBK: case OP_MULK: case OP_MODK: case OP_POWK: case OP_DIVK:
      case OP_IDIVK: case OP_BANDK: case OP_BORK: case OP_BXORK:
        note = constant(f, c);
        break;
      case OP_MMBIN:
      case OP_MMBINI: note = (c < 25) ? eventnames[c] : "?"; break;
      case OP_MMBINK: note = constant(f, b) + " " + ((c < 25) ? eventnames[c] : "?"); break;
      case OP_EQK: note = constant(f, b); break;
      case OP_JMP: note = fmt("to %d", pc + sj + 2); break;
      case OP_FORLOOP:
      case OP_TFORLOOP: note = fmt("to %d", pc - bx + 2); break;
      case OP_FORPREP: note = fmt("exit to %d", pc + bx + 3); break;
      case OP_TFORPREP: note = fmt("to %d", pc + bx + 2); break;
      case OP_CALL:
      case OP_TAILCALL:
        note = (b == 0 ? std::string("all") : fmt("%d", b - 1)) + " in " +
               (c == 0 ? std::string("all") : fmt("%d", c - 1)) + " out";
        break;
      case OP_CLOSURE:
        if (bx < f->sizep && f->p[bx]) note = fmt("function at line %d", f->p[bx]->linedefined);
        break;
      default: break;
    }
    std::string line = fmt("%5d [%d] %-10s %s", pc + 1, lines[pc], name, ops.c_str());
    if (!note.empty()) line += " ; " + note;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    fprintf(out, "%s\n", line.c_str());
  }
  delete[] lines;
  if (f->sizelocvars > 0) {
    std::string s = "locals:";
    for (int i = 0; i < f->sizelocvars; i++) {
      const LocVar *v = &f->locvars[i];
      s += " ";
      s += v->varname ? getstr(v->varname) : "?";
      s += fmt("[%d-%d]", v->startpc + 1, v->endpc);
      if (i + 1 < f->sizelocvars) s += ",";
    }
    fprintf(out, "%s\n", s.c_str());
  }
}

void print_listing(FILE *out, const Proto *p) {
  printheader(out, p);
  printcode(out, p);
  for (int i = 0; i < p->sizep; i++) {
    fprintf(out, "\n");
    print_listing(out, p->p[i]);
  }
}
