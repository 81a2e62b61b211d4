// The compiler's internals a script cannot see: the token stream with its <eol> accounting and
// parenthesis depth, line information entries, OP_LOADKX, the constant cache and the opcode
// mode table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lua/auxlib.h"
#include "lua/code.h"
#include "lua/debug.h"
#include "lua/do.h"
#include "lua/lexer.h"
#include "lua/object.h"
#include "lua/opcodes.h"
#include "lua/parser.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "test_alloc.h"

namespace {

struct Compiler : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override { L = lua_newstate(test_alloc, &alloc); }
  void TearDown() override {
    if (L) lua_close(L);
  }

  // Compiles a chunk and returns its main prototype (left on the stack).
  const Proto *compile(const std::string &src) {
    int st = luaL_loadbufferx(L, src.data(), src.size(), "=test", "t");
    if (st != LUA_OK) {
      ADD_FAILURE() << lua_tostring(L, -1);
      return nullptr;
    }
    return clLvalue(s2v(L->top - 1))->p;
  }
};

// A scanner over a string, set up as the parser sets it up.
struct Scanner {
  lua_State *L;
  std::string src;
  bool given = false;
  Zio z;
  Mbuffer buff;
  ParserData dyd{};
  LexState ls;

  static const char *reader(lua_State *, void *ud, size_t *sz) {
    Scanner *s = static_cast<Scanner *>(ud);
    if (s->given) {
      *sz = 0;
      return nullptr;
    }
    s->given = true;
    *sz = s->src.size();
    return s->src.data();
  }

  Scanner(lua_State *L_, const std::string &text) : L(L_), src(text) {
    luaZ_init(L, &z, reader, this);
    luaZ_initbuffer(L, &buff);
    ls.h = luaH_new(L);
    sethvalue(L, s2v(L->top), ls.h);
    luaD_inctop(L);
    ls.buff = &buff;
    ls.dyd = &dyd;
    luaX_setinput(L, &ls, &z, luaS_new(L, "=scan"), zgetc(&z));
  }
  ~Scanner() {
    luaZ_freebuffer(L, &buff);
    L->top--;
  }
  int next() {
    luaX_next(&ls);
    return ls.t.token;
  }
  // Every token up to the end, with the scanner's line after each one.
  std::vector<std::pair<int, int>> all() {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < 1000; i++) {
      int t = next();
      out.push_back({t, ls.linenumber});
      if (t == TK_EOS) break;
    }
    return out;
  }
  static void scanall(lua_State *, void *ud) { static_cast<Scanner *>(ud)->all(); }
  // The error message of a scan that fails.
  std::string error() {
    ptrdiff_t top = savestack(L, L->top);
    int st = luaD_rawrunprotected(L, scanall, this);
    std::string msg = "(no error)";
    if (st != LUA_OK) {
      EXPECT_EQ(st, LUA_ERRSYNTAX);
      msg = lua_tostring(L, -1);
    }
    L->top = restorestack(L, top);
    return msg;
  }
};

std::vector<int> tokens(lua_State *L, const std::string &src) {
  Scanner s(L, src);
  std::vector<int> out;
  for (auto &p : s.all()) out.push_back(p.first);
  return out;
}

TEST_F(Compiler, DialectTokens) {
  EXPECT_EQ(tokens(L, "a != b"), (std::vector<int>{TK_NAME, TK_BANGEQ, TK_NAME, TK_EOS}));
  EXPECT_EQ(tokens(L, "a ~= b ! ~"), (std::vector<int>{TK_NAME, TK_NE, TK_NAME, '!', '~', TK_EOS}));
  EXPECT_EQ(tokens(L, "x //= 2"), (std::vector<int>{TK_NAME, TK_IDIV, '=', TK_INT, TK_EOS}));
  EXPECT_EQ(tokens(L, "^^ ^^= ^= ^"), (std::vector<int>{'~', TK_BXOREQ, TK_POWEQ, '^', TK_EOS}));
  EXPECT_EQ(tokens(L, "+= -= *= /= %= \\= &= |= <<= >>= ..="),
            (std::vector<int>{TK_ADDEQ, TK_SUBEQ, TK_MULEQ, TK_DIVEQ, TK_MODEQ, TK_IDIVEQ, TK_BANDEQ,
                              TK_BOREQ, TK_SHLEQ, TK_SHREQ, TK_CONCATEQ, TK_EOS}));
  EXPECT_EQ(tokens(L, ">>>= <<>= >><="),
            (std::vector<int>{TK_SHR, TK_GE, TK_SHL, TK_GE, TK_SHR, TK_LE, TK_EOS}));
  EXPECT_EQ(tokens(L, "@ $ % * \\ & | ... .. ."),
            (std::vector<int>{'@', '$', '%', '*', '\\', '&', '|', TK_DOTS, TK_CONCAT, '.', TK_EOS}));
  EXPECT_EQ(TK_BANGEQ, 293);
  EXPECT_EQ(TK_EOL, 295);
  EXPECT_EQ(TK_CONCATEQ, 311);
  EXPECT_STREQ(luaX_tokens[TK_BOREQ - FIRST_RESERVED], "|=");
  EXPECT_STREQ(luaX_tokens[TK_IDIVEQ - FIRST_RESERVED], "\\=");
}

TEST_F(Compiler, TokenDisplayTexts) {
  Scanner s(L, "");
  EXPECT_STREQ(luaX_token2str(&s.ls, TK_ADDEQ), "+=");
  EXPECT_STREQ(luaX_token2str(&s.ls, TK_EOL), "<eol>");
  EXPECT_STREQ(luaX_token2str(&s.ls, TK_EOS), "<eof>");
  EXPECT_STREQ(luaX_token2str(&s.ls, TK_THEN), "'then'");
  EXPECT_STREQ(luaX_token2str(&s.ls, TK_DBCOLON), "'::'");
  EXPECT_STREQ(luaX_token2str(&s.ls, '?'), "'?'");
  EXPECT_STREQ(luaX_token2str(&s.ls, 0x80), "'<\\128>'");
}

TEST_F(Compiler, ReservedWordsAreNumberedFromOne) {
  TString *ts = luaS_new(L, "and");
  EXPECT_EQ(ts->extra, 1);
  EXPECT_EQ(luaS_new(L, "while")->extra, 22);
  EXPECT_EQ(luaS_new(L, "_ENV")->extra, 0);
  EXPECT_EQ(luaS_new(L, "print")->extra, 0);
}

TEST_F(Compiler, QuestionMarkOwesOneEolPerLineBreak) {
  Scanner s(L, "? 1\n? 2");
  auto t = s.all();
  std::vector<std::pair<int, int>> want = {
      {TK_QUESTION, 1}, {TK_INT, 1}, {TK_EOL, 2}, {TK_QUESTION, 2}, {TK_INT, 2}, {TK_EOS, 2}};
  EXPECT_EQ(t, want);
}

TEST_F(Compiler, PendingEolsAllDeliveredAtOneBreak) {
  // two units pending: two <eol> at the break, the line counted once, even after a trailing
  // blank and comment
  Scanner s(L, "? ? x  -- note\r\ny\n");
  auto t = s.all();
  std::vector<std::pair<int, int>> want = {{TK_QUESTION, 1}, {TK_QUESTION, 1}, {TK_NAME, 1},
                                           {TK_EOL, 1},      {TK_EOL, 2},      {TK_NAME, 2},
                                           {TK_EOS, 3}};
  EXPECT_EQ(t, want);
}

TEST_F(Compiler, NoEolInsideStringsCommentsOrAtEnd) {
  Scanner s(L, "? [[a\nb]] --[[c\nd]] 'e\\\nf' \"\\z\n  g\" x");
  std::vector<int> got;
  for (auto &p : s.all()) got.push_back(p.first);
  EXPECT_EQ(got, (std::vector<int>{TK_QUESTION, TK_STRING, TK_STRING, TK_STRING, TK_NAME, TK_EOS}));
  EXPECT_EQ(s.ls.linenumber, 5);
  EXPECT_EQ(s.ls.pending_eol, 1); // the end of the stream owes nothing
}

TEST_F(Compiler, LongCommentDelaysTheEol) {
  Scanner s(L, "? x --[[ a\nb ]] y\nz");
  std::vector<int> got;
  for (auto &p : s.all()) got.push_back(p.first);
  EXPECT_EQ(got, (std::vector<int>{TK_QUESTION, TK_NAME, TK_NAME, TK_EOL, TK_NAME, TK_EOS}));
}

TEST_F(Compiler, LookaheadOfQuestionMarkRaisesPending) {
  Scanner s(L, "a ?");
  s.next();
  EXPECT_EQ(s.ls.pending_eol, 0);
  EXPECT_EQ(luaX_lookahead(&s.ls), TK_QUESTION);
  EXPECT_EQ(s.ls.pending_eol, 1);
}

TEST_F(Compiler, ParenthesisDepth) {
  Scanner s(L, "(a) x (b) == f(c) y");
  EXPECT_EQ(s.ls.paren_depth, -1);
  EXPECT_EQ(s.next(), '(');
  EXPECT_EQ(luaX_trackbraces(&s.ls), 1);
  s.next(); // a
  s.next(); // )
  EXPECT_EQ(s.ls.paren_depth, 0);
  s.next(); // x
  EXPECT_EQ(s.ls.paren_depth, 0);
  s.next(); // (: from 0 it goes down
  EXPECT_EQ(s.ls.paren_depth, -1);
  EXPECT_EQ(luaX_trackbraces(&s.ls), 1);
  s.next(); // b
  s.next(); // )
  s.next(); // ==
  EXPECT_EQ(s.ls.paren_depth, 0);
  s.next(); // f
  s.next(); // (
  EXPECT_EQ(s.ls.paren_depth, -1);
  s.next(); // c
  s.next(); // )
  EXPECT_EQ(s.ls.paren_depth, -2);
  s.next(); // y
  EXPECT_EQ(luaX_trackbraces(&s.ls), -1);
  Scanner t(L, "((a))");
  t.next();
  luaX_trackbraces(&t.ls);
  t.next(); // (: above 0 it goes up
  EXPECT_EQ(t.ls.paren_depth, 2);
  t.next();
  t.next();
  t.next();
  EXPECT_EQ(t.ls.paren_depth, 0);
}

TEST_F(Compiler, EscapesAndNumerals) {
  Scanner s(L, "'\\*\\#\\-\\|\\+\\^' 0b101 0B1.1 0x10 3e2 1.5e-3 .5");
  ASSERT_EQ(s.next(), TK_STRING);
  EXPECT_EQ(std::string(getstr(s.ls.t.seminfo.ts), tsslen(s.ls.t.seminfo.ts)),
            std::string("\1\2\3\4\5\6"));
  ASSERT_EQ(s.next(), TK_INT);
  EXPECT_EQ(s.ls.t.seminfo.i, 5);
  ASSERT_EQ(s.next(), TK_FLT);
  EXPECT_EQ(s.ls.t.seminfo.r, 1.5);
  ASSERT_EQ(s.next(), TK_INT);
  EXPECT_EQ(s.ls.t.seminfo.i, 16);
  ASSERT_EQ(s.next(), TK_FLT);
  EXPECT_EQ(s.ls.t.seminfo.r, 300.0);
  ASSERT_EQ(s.next(), TK_FLT);
  EXPECT_EQ(s.ls.t.seminfo.r, 1.5e-3);
  ASSERT_EQ(s.next(), TK_FLT);
  EXPECT_EQ(s.ls.t.seminfo.r, 0.5);
}

TEST_F(Compiler, LexicalErrors) {
  EXPECT_EQ(Scanner(L, "0b1p4").error(), "scan:1: malformed number near '0b1p'");
  EXPECT_EQ(Scanner(L, "\n0b2").error(), "scan:2: malformed number near '0b2'");
  EXPECT_EQ(Scanner(L, "'\\q'").error(), "scan:1: invalid escape sequence near ''\\q'");
  EXPECT_EQ(Scanner(L, "[==[x").error(),
            "scan:1: unfinished long string (starting at line 1) near <eof>");
}

// Lines of every instruction from the line information.
std::vector<int> lines_of(const Proto *p) {
  std::vector<int> out;
  for (int pc = 0; pc < p->sizecode; pc++) out.push_back(luaG_getfuncline(p, pc));
  return out;
}

TEST_F(Compiler, AbsoluteLineEntryAfter121Relative) {
  std::string src = "local a = 0";
  for (int i = 0; i < 150; i++) src += " a = 1";
  const Proto *p = compile(src);
  ASSERT_NE(p, nullptr);
  // VARARGPREP, then LOADI per assignment, all on line 1
  ASSERT_GT(p->sizecode, 130);
  ASSERT_GE(p->sizeabslineinfo, 1);
  EXPECT_EQ(p->abslineinfo[0].pc, 121);
  EXPECT_EQ(p->abslineinfo[0].line, 1);
  for (int pc = 0; pc < 121; pc++) EXPECT_NE(p->lineinfo[pc], ABSLINEINFO) << pc;
  EXPECT_EQ(p->lineinfo[121], ABSLINEINFO);
  for (int line : lines_of(p)) EXPECT_EQ(line, 1);
}

TEST_F(Compiler, AbsoluteLineEntryForLongLineJumps) {
  std::string src = "local a = 0" + std::string(127, '\n') + "a = 1" + std::string(128, '\n') + "a = 2";
  const Proto *p = compile(src);
  ASSERT_NE(p, nullptr);
  // LOADI on line 128 is a delta of 127 (relative); LOADI on line 256 needs an absolute entry
  ASSERT_EQ(p->sizeabslineinfo, 1);
  EXPECT_EQ(p->abslineinfo[0].line, 256);
  std::vector<int> l = lines_of(p);
  EXPECT_EQ(l[2], 128);
  EXPECT_EQ(l[3], 256);
}

TEST_F(Compiler, LoadkxBeyond131071Constants) {
  std::string src = "local t = {";
  const int n = 131072 + 3;
  for (int i = 0; i < n; i++) src += std::to_string(i) + ".5,";
  src += "}";
  const Proto *p = compile(src);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->sizek, n);
  int loadk = 0, loadkx = 0;
  for (int pc = 0; pc < p->sizecode; pc++) {
    Instruction i = p->code[pc];
    if (GET_OPCODE(i) == OP_LOADK) {
      loadk++;
      EXPECT_LE(GETARG_Bx(i), MAXARG_Bx);
    } else if (GET_OPCODE(i) == OP_LOADKX) {
      ASSERT_LT(pc + 1, p->sizecode);
      Instruction x = p->code[pc + 1];
      ASSERT_EQ(GET_OPCODE(x), OP_EXTRAARG);
      EXPECT_EQ(GETARG_Ax(x), 131072 + loadkx);
      EXPECT_EQ(fltvalue(&p->k[GETARG_Ax(x)]), (131072 + loadkx) + 0.5);
      loadkx++;
    }
  }
  EXPECT_EQ(loadk, 131072);
  EXPECT_EQ(loadkx, 3);
}

TEST_F(Compiler, IntegerAndFloatConstantsAreSeparate) {
  const Proto *p = compile("local x = ... return x + 70000, x + 70000.0, x .. 's', x .. 's'");
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(p->sizek, 3);
  EXPECT_TRUE(ttisinteger(&p->k[0]));
  EXPECT_TRUE(ttisfloat(&p->k[1]));
  EXPECT_TRUE(ttisstring(&p->k[2]));
}

TEST_F(Compiler, NewtableAlwaysHasExtraarg) {
  const Proto *p = compile("local a = {} local b = {1, 2}");
  ASSERT_NE(p, nullptr);
  int seen = 0;
  for (int pc = 0; pc < p->sizecode; pc++) {
    if (GET_OPCODE(p->code[pc]) == OP_NEWTABLE) {
      seen++;
      EXPECT_EQ(GETARG_k(p->code[pc]), 0);
      EXPECT_EQ(GET_OPCODE(p->code[pc + 1]), OP_EXTRAARG);
      EXPECT_EQ(GETARG_Ax(p->code[pc + 1]), 0);
    }
  }
  EXPECT_EQ(seen, 2);
}

TEST_F(Compiler, HiddenCompoundLocalsLiveToTheEndOfTheBlock) {
  const Proto *p = compile("T.x += 1\nT[k .. ''] += 2\nlocal t = {}\nt.y += 3\ng += 4\n");
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(p->sizelocvars, 4);
  for (int i = 0; i < 3; i++) {
    EXPECT_STREQ(getstr(p->locvars[i].varname), "(for compound)");
    EXPECT_EQ(p->locvars[i].endpc, p->sizecode); // through the final return
  }
  EXPECT_STREQ(getstr(p->locvars[3].varname), "t");
  EXPECT_GE(p->maxstacksize, 4);
}

// Re-lining an instruction whose entry was absolute keeps it absolute, with the new line.
TEST_F(Compiler, FixlineOfAnAbsoluteEntryStaysAbsolute) {
  std::string src;
  for (int i = 0; i < 118; i++) src += "local a" + std::to_string(i) + " = 1 ";
  src += "\nf(\n1)"; // GETTABUP, LOADI, then the CALL as the 122nd instruction
  const Proto *p = compile(src);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(GET_OPCODE(p->code[121]), OP_CALL);
  ASSERT_EQ(p->sizeabslineinfo, 1);
  EXPECT_EQ(p->abslineinfo[0].pc, 121);
  EXPECT_EQ(p->abslineinfo[0].line, 2); // the call takes the line of its function
  EXPECT_EQ(p->lineinfo[121], ABSLINEINFO);
  std::vector<int> l = lines_of(p);
  EXPECT_EQ(l[120], 3);
  EXPECT_EQ(l[121], 2);
  EXPECT_EQ(l[122], 3); // the final return, relative to the re-lined call
}

// A constructor stores its list in flushes of 50; once 256 or more items are stored the count
// passes to OP_SETLIST as C = count mod 256 with k set and an OP_EXTRAARG carrying count / 256.
TEST_F(Compiler, SetlistCountAbove255UsesExtraarg) {
  std::string src = "local t = {";
  for (int i = 0; i < 320; i++) src += "0,";
  src += "...}";
  const Proto *p = compile(src);
  ASSERT_NE(p, nullptr);
  std::vector<std::pair<int, int>> setlists; // (B, count) per OP_SETLIST
  for (int pc = 0; pc < p->sizecode; pc++) {
    Instruction i = p->code[pc];
    if (GET_OPCODE(i) != OP_SETLIST) continue;
    int count = GETARG_C(i);
    if (GETARG_k(i)) {
      ASSERT_EQ(GET_OPCODE(p->code[pc + 1]), OP_EXTRAARG);
      count += GETARG_Ax(p->code[pc + 1]) * (MAXARG_C + 1);
    } else {
      EXPECT_LE(count, MAXARG_C);
    }
    setlists.push_back({GETARG_B(i), count});
  }
  // six full flushes, then the 20 remaining zeros with the open '...' (B = 0) after 300 items
  std::vector<std::pair<int, int>> want = {{50, 0},   {50, 50},  {50, 100}, {50, 150},
                                           {50, 200}, {50, 250}, {0, 300}};
  EXPECT_EQ(setlists, want);
  // the last flush is the one with k set: C = 300 mod 256 = 44, EXTRAARG 1
  bool seen = false;
  for (int pc = 0; pc < p->sizecode; pc++) {
    Instruction i = p->code[pc];
    if (GET_OPCODE(i) == OP_SETLIST && GETARG_k(i)) {
      EXPECT_EQ(GETARG_C(i), 44);
      EXPECT_EQ(GETARG_Ax(p->code[pc + 1]), 1);
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
}

// luaK_finish points every jump at the end of a chain of jumps.
TEST_F(Compiler, JumpChainsAreFollowed) {
  const Proto *p = compile("local a, b = ... while a do if b then a = 1 else a = 2 end end");
  ASSERT_NE(p, nullptr);
  for (int pc = 0; pc < p->sizecode; pc++) {
    Instruction i = p->code[pc];
    if (GET_OPCODE(i) != OP_JMP) continue;
    int target = pc + 1 + GETARG_sJ(i);
    ASSERT_GE(target, 0);
    ASSERT_LT(target, p->sizecode);
    EXPECT_NE(GET_OPCODE(p->code[target]), OP_JMP) << "jump at " << pc;
  }
}

// The whole mode table as the instruction set lists it.
TEST_F(Compiler, EveryModeByte) {
  static const lu_byte want[NUM_OPCODES] = {
      0x08, 0x0A, 0x0A, 0x09, 0x09, 0x08, 0x08, 0x08, 0x08, 0x08, 0x00, 0x08, 0x08, 0x08, 0x08,
      0x00, 0x00, 0x00, 0x00, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,
      0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,
      0x08, 0x80, 0x80, 0x80, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x00, 0x00,
      0x04, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x18, 0x68, 0x68, 0x20,
      0x00, 0x00, 0x09, 0x09, 0x01, 0x00, 0x09, 0x20, 0x09, 0x48, 0x28, 0x03};
  ASSERT_EQ(NUM_OPCODES, 87);
  for (int op = 0; op < NUM_OPCODES; op++) EXPECT_EQ(luaP_opmodes[op], want[op]) << luaP_opnames[op];
  EXPECT_EQ(OP_PEEK, 52);
  EXPECT_EQ(OP_LEN, 56);
  EXPECT_EQ(OP_EXTRAARG, 86);
}

// Only an immediate operand carries the float flag: comparisons whose float constant does not
// fit an immediate leave C at 0.
TEST_F(Compiler, FloatFlagOnlyOnImmediates) {
  const Proto *p = compile("local a = ... return a < 1000.0, a == 1000.0, 5 < 1000.0, a <= 2.0, a == 1.0");
  ASSERT_NE(p, nullptr);
  std::vector<std::pair<int, int>> got; // (opcode, C) of each comparison
  for (int pc = 0; pc < p->sizecode; pc++) {
    Instruction i = p->code[pc];
    if (testTMode(GET_OPCODE(i))) got.push_back({GET_OPCODE(i), GETARG_C(i)});
  }
  std::vector<std::pair<int, int>> want = {
      {OP_LT, 0}, {OP_EQK, 0}, {OP_GTI, 0}, {OP_LEI, 1}, {OP_EQI, 1}};
  EXPECT_EQ(got, want);
}

TEST_F(Compiler, OpcodeModes) {
  EXPECT_EQ(luaP_opmodes[OP_MOVE], 0x08);
  EXPECT_EQ(luaP_opmodes[OP_LOADI], 0x0A);
  EXPECT_EQ(luaP_opmodes[OP_PEEK], 0x08);
  EXPECT_EQ(luaP_opmodes[OP_PEEK8], 0x08);
  EXPECT_EQ(luaP_opmodes[OP_MMBINK], 0x80);
  EXPECT_EQ(luaP_opmodes[OP_JMP], 0x04);
  EXPECT_EQ(luaP_opmodes[OP_TESTSET], 0x18);
  EXPECT_EQ(luaP_opmodes[OP_CALL], 0x68);
  EXPECT_EQ(luaP_opmodes[OP_RETURN], 0x20);
  EXPECT_EQ(luaP_opmodes[OP_TFORPREP], 0x01);
  EXPECT_EQ(luaP_opmodes[OP_VARARG], 0x48);
  EXPECT_EQ(luaP_opmodes[OP_VARARGPREP], 0x28);
  EXPECT_EQ(luaP_opmodes[OP_EXTRAARG], 0x03);
  EXPECT_STREQ(luaP_opnames[OP_PEEK], "PEEK");
  EXPECT_STREQ(luaP_opnames[OP_LEN], "LEN");
  EXPECT_STREQ(luaP_opnames[OP_EXTRAARG], "EXTRAARG");
  EXPECT_EQ(luaP_opnames[NUM_OPCODES], nullptr);
  for (int op = OP_EQ; op <= OP_TESTSET; op++) EXPECT_TRUE(testTMode(op)) << luaP_opnames[op];
  for (int op = OP_MMBIN; op <= OP_MMBINK; op++) EXPECT_TRUE(testMMMode(op)) << luaP_opnames[op];
}

} // namespace
