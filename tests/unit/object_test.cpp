// Numerals, number formatting, formatted messages, chunk identifiers and constant arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "lua/do.h"
#include "lua/object.h"
#include "lua/state.h"
#include "lua/string.h"
#include "test_alloc.h"
#include <climits>
#include "lua/auxlib.h"
#include "lua/gc.h"
#include "lua/table.h"

namespace {

// Parses s; returns 'i' integer, 'f' float or 0 for not a numeral.
char parse(const char *s, TValue *o) {
  size_t n = luaO_str2num(s, o);
  if (n == 0) return 0;
  EXPECT_EQ(n, strlen(s) + 1) << s;
  return ttisinteger(o) ? 'i' : 'f';
}

lua_Integer asint(const char *s) {
  TValue o;
  EXPECT_EQ(parse(s, &o), 'i') << s;
  return ttisinteger(&o) ? ivalue(&o) : 0;
}

double asflt(const char *s) {
  TValue o;
  EXPECT_EQ(parse(s, &o), 'f') << s;
  return ttisfloat(&o) ? fltvalue(&o) : -12345.0;
}

bool rejected(const char *s) {
  TValue o;
  return luaO_str2num(s, &o) == 0;
}

std::string fmtnum(const TValue *o) {
  char buff[MAXNUMBER2STR];
  int n = luaO_tostringbuff(o, buff);
  return std::string(buff, (size_t)n);
}

std::string fmtflt(double d) {
  TValue o;
  setfltvalue(&o, d);
  return fmtnum(&o);
}

std::string chunkid(const std::string &src) {
  char out[LUA_IDSIZE];
  memset(out, 'X', sizeof(out));
  luaO_chunkid(out, src.c_str(), src.size());
  EXPECT_LT(strlen(out), (size_t)LUA_IDSIZE);
  return out;
}

TValue I(lua_Integer i) {
  TValue o;
  setivalue(&o, i);
  return o;
}
TValue F(double d) {
  TValue o;
  setfltvalue(&o, d);
  return o;
}

// Raw arithmetic on constants: returns the result, failing the test when not computable.
TValue arith(int op, TValue a, TValue b) {
  TValue r;
  setnilvalue(&r);
  EXPECT_EQ(luaO_rawarith(nullptr, op, &a, &b, &r), 1) << "op " << op;
  return r;
}

const double HUGE_DIV = 1.7976931348623157e308;

}  // namespace

TEST(Numerals, DecimalAndHexIntegers) {
  EXPECT_EQ(asint("0"), 0);
  EXPECT_EQ(asint("  42  "), 42);
  EXPECT_EQ(asint("-17"), -17);
  EXPECT_EQ(asint("+5"), 5);
  EXPECT_EQ(asint("0x10"), 16);
  EXPECT_EQ(asint("0XfF"), 255);
  EXPECT_EQ(asint("0xffffffffffffffff"), -1);  // wraps
  EXPECT_EQ(asint("0x10000000000000001"), 1);
  EXPECT_EQ(asint("-0x1"), -1);
  EXPECT_EQ(asint("9223372036854775807"), LUA_MAXINTEGER);
  EXPECT_EQ(asint("-9223372036854775808"), LUA_MININTEGER);
}

TEST(Numerals, DecimalOverflowBecomesFloat) {
  EXPECT_EQ(asflt("9223372036854775808"), 9223372036854775808.0);
  EXPECT_EQ(asflt("-9223372036854775809"), -9223372036854775809.0);
  EXPECT_EQ(asflt("100000000000000000000"), 1e20);
}

TEST(Numerals, BinaryIntegers) {
  EXPECT_EQ(asint("0b101"), 5);
  EXPECT_EQ(asint("  -0B11  "), -3);
  EXPECT_EQ(asint("0b0"), 0);
  // 65 ones wrap modulo 2^64.
  EXPECT_EQ(asint("0b11111111111111111111111111111111111111111111111111111111111111111"), -1);
  EXPECT_EQ(asint("0b1000000000000000000000000000000000000000000000000000000000000000"),
            LUA_MININTEGER);
  EXPECT_TRUE(rejected("0b"));
  EXPECT_TRUE(rejected("0b2"));
  EXPECT_TRUE(rejected("0b12"));
  EXPECT_TRUE(rejected("0b 1"));
  EXPECT_TRUE(rejected("b1"));
}

TEST(Numerals, BinaryFloats) {
  EXPECT_EQ(asflt("0b1.1"), 1.5);
  EXPECT_EQ(asflt("0b1p4"), 16.0);
  EXPECT_EQ(asflt("0b.01"), 0.25);
  EXPECT_EQ(asflt("0b1."), 1.0);
  EXPECT_EQ(asflt("-0b10.1p-1"), -1.25);
  EXPECT_EQ(asflt("0B1P+3"), 8.0);
  EXPECT_EQ(asflt(" 0b0.0001 "), 0.0625);
  // Digits past 64 significant ones scale the value.
  std::string big = "0b1" + std::string(70, '0');
  EXPECT_EQ(asflt((big + ".0").c_str()), std::ldexp(1.0, 70));
  // Huge exponents saturate instead of overflowing the counter.
  EXPECT_EQ(asflt("0b1p99999999999999999999"), HUGE_VAL);
  EXPECT_EQ(asflt("0b1p-99999999999999999999"), 0.0);
  EXPECT_TRUE(rejected("0b."));
  EXPECT_TRUE(rejected("0b1.1.1"));
  EXPECT_TRUE(rejected("0b1p"));
  EXPECT_TRUE(rejected("0b1e4"));
  EXPECT_TRUE(rejected("0b1.2"));
}

TEST(Numerals, DecimalAndHexFloats) {
  EXPECT_EQ(asflt("1.5"), 1.5);
  EXPECT_EQ(asflt(".5"), 0.5);
  EXPECT_EQ(asflt("5."), 5.0);
  EXPECT_EQ(asflt("1e2"), 100.0);
  EXPECT_EQ(asflt(" -2.5E-1 "), -0.25);
  EXPECT_EQ(asflt("0x1p4"), 16.0);
  EXPECT_EQ(asflt("0x.8"), 0.5);
  EXPECT_EQ(asflt("0xA.8p1"), 21.0);
}

TEST(Numerals, NotNumerals) {
  for (const char *s : {"", " ", "inf", "-inf", "nan", "NaN", "INF", "infinity", "1n",
                        "0x", "1e", "1.5x", "abc", "1 2", "--1", "0x1g", "1..2", "e5", "."})
    EXPECT_TRUE(rejected(s)) << '"' << s << '"';
}

TEST(NumberText, FloatsKeepAMark) {
  EXPECT_EQ(fmtflt(3.0), "3.0");
  EXPECT_EQ(fmtflt(-0.0), "-0.0");
  EXPECT_EQ(fmtflt(1e100), "1e+100");
  EXPECT_EQ(fmtflt(HUGE_VAL), "inf");
  EXPECT_EQ(fmtflt(-HUGE_VAL), "-inf");
  EXPECT_EQ(fmtflt(0.1), "0.1");
  EXPECT_EQ(fmtflt(1e15), "1e+15");
  EXPECT_EQ(fmtflt(123456789012345.0), "1.2345678901234e+14");
  EXPECT_EQ(fmtflt(2.0 / 3.0), "0.66666666666667");
  EXPECT_EQ(fmtflt(HUGE_DIV), "1.7976931348623e+308");
  TValue i = I(LUA_MININTEGER);
  EXPECT_EQ(fmtnum(&i), "-9223372036854775808");
  i = I(0);
  EXPECT_EQ(fmtnum(&i), "0");
}

TEST(ChunkId, Forms) {
  EXPECT_EQ(chunkid("=stdin"), "stdin");
  EXPECT_EQ(chunkid("@prog.lua"), "prog.lua");
  EXPECT_EQ(chunkid("print(1)"), "");
  EXPECT_EQ(chunkid("local x = 1\nreturn x"), "");
  std::string longeq = "=" + std::string(100, 'a');
  EXPECT_EQ(chunkid(longeq), std::string(59, 'a'));
  std::string eq60 = "=" + std::string(59, 'b');  // exactly fits
  EXPECT_EQ(chunkid(eq60), std::string(59, 'b'));
  std::string at60 = "@" + std::string(59, 'c');
  EXPECT_EQ(chunkid(at60), std::string(59, 'c'));
  std::string name;
  for (int i = 0; i < 80; i++) name += (char)('a' + i % 26);
  std::string got = chunkid("@" + name);
  EXPECT_EQ(got, "..." + name.substr(80 - 56));
  EXPECT_EQ(got.size(), 59u);
}

TEST(Arith, IntegerDivisionByZeroAndMinusOne) {
  TValue r = arith(LUA_OPIDIV, I(7), I(0));
  EXPECT_EQ(ivalue(&r), LUA_MAXINTEGER);
  r = arith(LUA_OPIDIV, I(-7), I(0));
  EXPECT_EQ(ivalue(&r), -LUA_MAXINTEGER);
  r = arith(LUA_OPIDIV, I(0), I(0));
  EXPECT_EQ(ivalue(&r), LUA_MAXINTEGER);
  r = arith(LUA_OPMOD, I(7), I(0));
  EXPECT_EQ(ivalue(&r), 0);
  r = arith(LUA_OPIDIV, I(LUA_MININTEGER), I(-1));
  EXPECT_EQ(ivalue(&r), LUA_MININTEGER);
  r = arith(LUA_OPMOD, I(LUA_MININTEGER), I(-1));
  EXPECT_EQ(ivalue(&r), 0);
  r = arith(LUA_OPIDIV, I(7), I(-2));
  EXPECT_EQ(ivalue(&r), -4);
  r = arith(LUA_OPMOD, I(-7), I(2));
  EXPECT_EQ(ivalue(&r), 1);
  r = arith(LUA_OPMOD, I(7), I(-2));
  EXPECT_EQ(ivalue(&r), -1);
  EXPECT_EQ(luaO_idiv(LUA_MININTEGER, 0), -LUA_MAXINTEGER);
  EXPECT_EQ(luaO_imod(5, -1), 0);
}

TEST(Arith, FloatDivisionByZero) {
  TValue r = arith(LUA_OPDIV, I(7), I(0));
  EXPECT_TRUE(ttisfloat(&r));
  EXPECT_EQ(fltvalue(&r), HUGE_DIV);
  r = arith(LUA_OPDIV, F(7.0), I(0));
  EXPECT_EQ(fltvalue(&r), HUGE_DIV);
  r = arith(LUA_OPDIV, I(-7), F(0.0));
  EXPECT_EQ(fltvalue(&r), -HUGE_DIV);
  r = arith(LUA_OPDIV, I(-7), F(-0.0));
  EXPECT_EQ(fltvalue(&r), -HUGE_DIV);
  r = arith(LUA_OPDIV, I(0), F(0.0));
  EXPECT_EQ(fltvalue(&r), HUGE_DIV);
  r = arith(LUA_OPIDIV, F(-1.5), F(0.0));
  EXPECT_EQ(fltvalue(&r), -HUGE_DIV);
  r = arith(LUA_OPIDIV, F(7.0), F(2.0));
  EXPECT_EQ(fltvalue(&r), 3.0);
  r = arith(LUA_OPMOD, F(-7.0), F(2.0));
  EXPECT_EQ(fltvalue(&r), 1.0);
  r = arith(LUA_OPMOD, F(5.5), F(-2.0));
  EXPECT_EQ(fltvalue(&r), -0.5);
}

TEST(Arith, WrappingAndTypes) {
  TValue r = arith(LUA_OPADD, I(LUA_MAXINTEGER), I(1));
  EXPECT_EQ(ivalue(&r), LUA_MININTEGER);
  r = arith(LUA_OPMUL, I(LUA_MININTEGER), I(-1));
  EXPECT_EQ(ivalue(&r), LUA_MININTEGER);
  r = arith(LUA_OPUNM, I(LUA_MININTEGER), I(LUA_MININTEGER));
  EXPECT_EQ(ivalue(&r), LUA_MININTEGER);
  r = arith(LUA_OPSUB, I(1), F(0.5));
  EXPECT_TRUE(ttisfloat(&r));
  EXPECT_EQ(fltvalue(&r), 0.5);
  r = arith(LUA_OPPOW, I(2), I(10));
  EXPECT_TRUE(ttisfloat(&r));
  EXPECT_EQ(fltvalue(&r), 1024.0);
  r = arith(LUA_OPPOW, F(1.5), I(2));
  EXPECT_EQ(fltvalue(&r), 2.25);
  r = arith(LUA_OPDIV, I(6), I(3));
  EXPECT_TRUE(ttisfloat(&r));
  r = arith(LUA_OPBNOT, I(0), I(0));
  EXPECT_EQ(ivalue(&r), -1);
}

TEST(Arith, BitwiseNeedsExactIntegers) {
  TValue r = arith(LUA_OPBAND, F(3.0), I(1));
  EXPECT_TRUE(ttisinteger(&r));
  EXPECT_EQ(ivalue(&r), 1);
  TValue a = I(1), b = F(1.5), res;
  EXPECT_EQ(luaO_rawarith(nullptr, LUA_OPBAND, &a, &b, &res), 0);
  b = F(9223372036854775808.0);  // 2^63 has no integer representation
  EXPECT_EQ(luaO_rawarith(nullptr, LUA_OPBOR, &a, &b, &res), 0);
  b = F(std::nan(""));
  EXPECT_EQ(luaO_rawarith(nullptr, LUA_OPBXOR, &a, &b, &res), 0);
  b = F(-9223372036854775808.0);
  EXPECT_EQ(luaO_rawarith(nullptr, LUA_OPBOR, &a, &b, &res), 1);
  EXPECT_EQ(ivalue(&res), LUA_MININTEGER + 1);
}

TEST(Arith, Shifts) {
  EXPECT_EQ(luaO_shiftl(1, 63), LUA_MININTEGER);
  EXPECT_EQ(luaO_shiftl(1, 64), 0);
  EXPECT_EQ(luaO_shiftl(-1, -64), 0);
  EXPECT_EQ(luaO_shiftl(-1, -63), 1);
  EXPECT_EQ(luaO_shiftl(-1, LUA_MININTEGER), 0);
  EXPECT_EQ(luaO_shiftl(-1, LUA_MAXINTEGER), 0);
  TValue r = arith(LUA_OPSHR, I(-1), I(1));  // logical
  EXPECT_EQ(ivalue(&r), LUA_MAXINTEGER);
  r = arith(LUA_OPSHR, I(1), I(-2));
  EXPECT_EQ(ivalue(&r), 4);
  r = arith(LUA_OPSHR, I(8), I(LUA_MININTEGER));
  EXPECT_EQ(ivalue(&r), 0);
  r = arith(LUA_OPSHL, I(8), I(64));
  EXPECT_EQ(ivalue(&r), 0);
  r = arith(LUA_OPSHR, I(8), I(64));
  EXPECT_EQ(ivalue(&r), 0);
}

TEST(Utilities, SmallHelpers) {
  EXPECT_EQ(luaO_ceillog2(1), 0);
  EXPECT_EQ(luaO_ceillog2(2), 1);
  EXPECT_EQ(luaO_ceillog2(3), 2);
  EXPECT_EQ(luaO_ceillog2(4), 2);
  EXPECT_EQ(luaO_ceillog2(5), 3);
  EXPECT_EQ(luaO_ceillog2(256), 8);
  EXPECT_EQ(luaO_ceillog2(257), 9);
  EXPECT_EQ(luaO_ceillog2(1u << 31), 31);
  EXPECT_EQ(luaO_hexavalue('7'), 7);
  EXPECT_EQ(luaO_hexavalue('a'), 10);
  EXPECT_EQ(luaO_hexavalue('F'), 15);
  EXPECT_EQ(luaO_binavalue('1'), 1);
  char buff[UTF8BUFFSZ];
  struct {
    unsigned long cp;
    const char *utf8;
  } cases[] = {{0x41, "A"},
               {0xE9, "\xC3\xA9"},
               {0x20AC, "\xE2\x82\xAC"},
               {0x1F600, "\xF0\x9F\x98\x80"},
               {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"}};
  for (auto &c : cases) {
    int n = luaO_utf8esc(buff, c.cp);
    EXPECT_EQ(std::string(buff + UTF8BUFFSZ - n, (size_t)n), c.utf8) << c.cp;
  }
}

namespace {
struct FmtState : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override { L = lua_newstate(test_alloc, &alloc); }
  void TearDown() override { lua_close(L); }
};

const char *fmt(lua_State *L, const char *f, ...) {
  va_list ap;
  va_start(ap, f);
  const char *s = luaO_pushvfstring(L, f, ap);
  va_end(ap);
  L->top--;
  return s;
}

struct FmtArgs {
  const char *f;
  int c;
};
void badfmt(lua_State *L, void *ud) { luaO_pushfstring(L, static_cast<FmtArgs *>(ud)->f, 1); }
}  // namespace

TEST_F(FmtState, PushFString) {
  EXPECT_STREQ(fmt(L, "a%sb", "XY"), "aXYb");
  EXPECT_STREQ(fmt(L, "%s", (const char *)nullptr), "(null)");
  EXPECT_STREQ(fmt(L, "%c%c", 'h', 'i'), "hi");
  EXPECT_STREQ(fmt(L, "%d|%I", -5, (lua_Integer)LUA_MININTEGER), "-5|-9223372036854775808");
  EXPECT_STREQ(fmt(L, "%f %f", (lua_Number)2.0, (lua_Number)0.5), "2.0 0.5");
  EXPECT_STREQ(fmt(L, "100%%"), "100%");
  EXPECT_STREQ(fmt(L, "%U", (long)0x20AC), "\xE2\x82\xAC");
  std::string p = fmt(L, "%p", (void *)0x1234);
  EXPECT_NE(p.find("1234"), std::string::npos);
  // Results longer than the internal buffer are joined on the stack.
  std::string big(500, 'z');
  std::string got = fmt(L, "[%s][%s]%d", big.c_str(), big.c_str(), 7);
  EXPECT_EQ(got, "[" + big + "][" + big + "]7");
  // 150 numbers: the buffer is flushed to the stack many times.
  std::string expect, out;
  for (int i = 0; i < 150; i++) expect += std::to_string(i * 1000) + ",";
  const char *chunk = "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,"
                      "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,";
  for (int k = 0; k < 3; k++) {
    int a[50];
    for (int j = 0; j < 50; j++) a[j] = (k * 50 + j) * 1000;
    out += fmt(L, chunk, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
               a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19], a[20], a[21], a[22], a[23],
               a[24], a[25], a[26], a[27], a[28], a[29], a[30], a[31], a[32], a[33], a[34], a[35],
               a[36], a[37], a[38], a[39], a[40], a[41], a[42], a[43], a[44], a[45], a[46], a[47],
               a[48], a[49]);
  }
  EXPECT_EQ(out, expect);
}

TEST_F(FmtState, BadOption) {
  FmtArgs a{"x%q", 0};
  StkId top = L->top;
  EXPECT_EQ(luaD_rawrunprotected(L, badfmt, &a), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "invalid option '%q' to 'lua_pushfstring'");
  L->top = top;
}

TEST_F(FmtState, ToStringInterns) {
  TValue o = F(1.0);
  luaO_tostring(L, &o);
  ASSERT_TRUE(ttisstring(&o));
  EXPECT_STREQ(svalue(&o), "1.0");
  EXPECT_EQ(tsvalue(&o), luaS_new(L, "1.0"));
}

// The object layer exactly: the allocator traffic of building a state, exact binary float
// exponents, main positions per key kind, the API string cache rows, failed resizes of the
// string table and of hash parts, size limits, and the call depth added by metamethods.
namespace object_layer {

namespace {

struct ObjectLayer : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override {
    L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
    luaE_setdebt(G(L), -(l_mem)100000000);  // no collection during a test
    alloc.reset_log();
  }
  void TearDown() override {
    if (L) lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
    EXPECT_EQ(alloc.charged, 0);
  }
};

double binfloat(const std::string &s) {
  TValue o;
  EXPECT_EQ(luaO_str2num(s.c_str(), &o), s.size() + 1);
  EXPECT_TRUE(ttisfloat(&o));
  return ttisfloat(&o) ? fltvalue(&o) : -1.0;
}

// Node index of the only key of a table (so it sits in its main position).
int onlynode(Table *t) {
  int found = -1;
  for (int i = 0; i < sizenode(t); i++)
    if (!keyisnil(gnode(t, i))) {
      EXPECT_EQ(found, -1);
      found = i;
    }
  return found;
}

}  // namespace

TEST(ObjectLayerExact, NewStateAllocatesInBuildingOrder) {
  static const char *const names[] = {
      "not enough memory", "__index", "__newindex", "__gc", "__mode", "__len", "__eq", "__add",
      "__sub", "__mul", "__mod", "__pow", "__div", "__idiv", "__band", "__bor", "__bxor", "__shl",
      "__shr", "__unm", "__bnot", "__lt", "__le", "__concat", "__call", "__close", "_ENV", "and",
      "break", "do", "else", "elseif", "end", "false", "for", "function", "goto", "if", "in",
      "local", "nil", "not", "or", "repeat", "return", "then", "true", "until", "while"};
  struct Want {
    size_t kind, nsize, charge;
  };
  // main block, first stack, registry, its array of 2, globals, string buckets, then strings
  std::vector<Want> want = {{LUA_TTHREAD, 1616, 1616}, {0, 720, 720}, {LUA_TTABLE, 56, 56},
                            {0, 32, 32},               {LUA_TTABLE, 56, 56}, {0, 1024, 2048}};
  for (const char *s : names) want.push_back({LUA_TSTRING, strlen(s) + 25, strlen(s) + 32});
  TestAlloc alloc;
  lua_State *L = lua_newstate(test_alloc, &alloc);
  ASSERT_NE(L, nullptr);
  ASSERT_EQ(alloc.calls.size(), want.size());
  long long requested = 0;
  for (size_t i = 0; i < want.size(); i++) {
    const AllocCall &c = alloc.calls[i];
    EXPECT_TRUE(c.fresh) << i;
    EXPECT_EQ(c.osize, want[i].kind) << i;
    EXPECT_EQ(c.nsize, want[i].nsize) << i;
    EXPECT_EQ(c.charge, want[i].charge) << i;
    EXPECT_EQ(c.final_attempt, 0) << i;
    if (i > 0) requested += (long long)c.nsize;
  }
  EXPECT_EQ(G(L)->totalbytes, 1616);
  EXPECT_EQ(G(L)->GCdebt, requested);
  EXPECT_EQ(alloc.charged, requested + 1616 + 1024 + 7 * (long long)(want.size() - 6));
  // Reserved words carry their number; "_ENV" and the event names carry none.
  EXPECT_EQ(luaS_new(L, "and")->extra, 1);
  EXPECT_EQ(luaS_new(L, "while")->extra, 22);
  EXPECT_EQ(luaS_new(L, "_ENV")->extra, 0);
  EXPECT_EQ(G(L)->tmname[TM_CLOSE]->extra, 0);
  lua_close(L);
  EXPECT_EQ(alloc.live_blocks(), 0u);
}

TEST(ObjectLayerExact, BinaryFloatExponentIsSummedExactly) {
  // Leading zeros after the point count however many there are.
  std::string s = "0b0." + std::string(100001, '0') + "1p100002";
  EXPECT_EQ(binfloat(s), 1.0);
  // Digits past the 64th significant one scale the value, however many there are.
  s = "0b1" + std::string(200000, '0') + "p-200000";
  EXPECT_EQ(binfloat(s), 1.0);
  s = "0b1" + std::string(150000, '0') + "." + std::string(150000, '0') + "p-149999";
  EXPECT_EQ(binfloat(s), 2.0);
  // Only the first 64 significant digits are kept (the rest count as zeros).
  s = "0b1" + std::string(63, '0') + "1.";
  EXPECT_EQ(binfloat(s), std::ldexp(1.0, 64));
  // The power of two still saturates far out.
  EXPECT_EQ(binfloat("0b1p-99999999999999999999999"), 0.0);
  EXPECT_EQ(binfloat("-0b1p99999999999999999999999"), -HUGE_VAL);
  EXPECT_EQ(binfloat("0b0p99999999999999999999999"), 0.0);
  EXPECT_EQ(binfloat("0b0.1p-1074"), std::ldexp(1.0, -1075));
  EXPECT_EQ(binfloat("0b1p1023"), std::ldexp(1.0, 1023));
}

TEST_F(ObjectLayer, MainPositionsFollowTheKeyKinds) {
  Table *t = luaH_new(L);
  sethvalue(L, s2v(L->top), t);
  L->top++;
  luaH_resize(L, t, 0, 8);
  ASSERT_EQ(sizenode(t), 8);
  TValue one;
  setivalue(&one, 1);
  auto posof = [&](const TValue &k) {
    TValue key = k;
    luaH_set(L, t, &key, &one);
    int n = onlynode(t);
    TValue nilv;
    setnilvalue(&nilv);
    luaH_set(L, t, &key, &nilv);
    luaH_resize(L, t, 0, 8);  // fresh nodes for the next key (empty entries are dropped)
    return n;
  };
  auto fltpos = [](double d) {
    int e;
    double n = std::frexp(d, &e) * 2147483648.0;
    unsigned int h = 0;
    if (n >= -9223372036854775808.0 && n < 9223372036854775808.0) {
      unsigned int u = (unsigned int)(long long)n + (unsigned int)e;
      h = (u <= (unsigned int)INT_MAX) ? u : ~u;
    }
    return (int)(h % 7u);  // (8 - 1) | 1
  };
  TValue k;
  for (double d : {0.5, -1.5, 3.25, 1e300, -1e-300, 0.1, -7.75, 123456.789}) {
    setfltvalue(&k, d);
    EXPECT_EQ(posof(k), fltpos(d)) << d;
  }
  setfltvalue(&k, HUGE_VAL);
  EXPECT_EQ(posof(k), 0);
  setivalue(&k, -1);
  EXPECT_EQ(posof(k), 7);
  setivalue(&k, (lua_Integer)0x100000005LL);  // only the low 32 bits count
  EXPECT_EQ(posof(k), 5);
  setbfvalue(&k);
  EXPECT_EQ(posof(k), 0);
  setbtvalue(&k);
  EXPECT_EQ(posof(k), 1);
  static int anchor;
  setpvalue(&k, &anchor);
  EXPECT_EQ(posof(k), (int)(point2uint(&anchor) % 7u));
  TString *s = luaS_new(L, "key");
  setsvalue(L, &k, s);
  EXPECT_EQ(posof(k), (int)(s->hash & 7u));
  std::string longtext(50, 'q');
  TString *ls = luaS_newlstr(L, longtext.data(), longtext.size());
  setsvalue(L, s2v(L->top), ls);  // anchored
  L->top++;
  EXPECT_EQ(ls->extra, 0);
  setsvalue(L, &k, ls);
  int lpos = posof(k);
  EXPECT_EQ(ls->extra, 1);  // hashed on first use as a key
  EXPECT_EQ(ls->hash, luaS_hash(longtext.data(), longtext.size(), G(L)->seed));
  EXPECT_EQ(lpos, (int)(ls->hash & 7u));
  L->top -= 2;
}

TEST_F(ObjectLayer, ApiCacheRowKeepsTwoEntries) {
  // Three texts 53 bytes apart share a row.
  static char buf[200];
  char *a = buf, *b = buf + 53, *c = buf + 106;
  strcpy(a, "first");
  strcpy(b, "second");
  strcpy(c, "third");
  unsigned int row = point2uint(a) % STRCACHE_N;
  ASSERT_EQ(point2uint(c) % STRCACHE_N, row);
  TString *sa = luaS_new(L, a);
  TString *sb = luaS_new(L, b);
  EXPECT_EQ(G(L)->strcache[row][0], sb);
  EXPECT_EQ(G(L)->strcache[row][1], sa);
  alloc.reset_log();
  EXPECT_EQ(luaS_new(L, a), sa);  // found in the second entry: nothing moves
  EXPECT_EQ(G(L)->strcache[row][0], sb);
  TString *sc = luaS_new(L, c);
  EXPECT_EQ(G(L)->strcache[row][0], sc);
  EXPECT_EQ(G(L)->strcache[row][1], sb);
  // The cache compares contents: the same address with new text gives the new string.
  strcpy(c, "fourth");
  TString *sd = luaS_new(L, c);
  EXPECT_STREQ(getstr(sd), "fourth");
  EXPECT_EQ(G(L)->strcache[row][0], sd);
  EXPECT_EQ(G(L)->strcache[row][1], sc);
}

TEST_F(ObjectLayer, StringTableResizeFailuresKeepTheOldLayout) {
  stringtable *tb = &G(L)->strt;
  for (int i = 0; i < 50; i++) {
    std::string s = "s" + std::to_string(i);
    luaS_newlstr(L, s.data(), s.size());
  }
  auto checklayout = [&](int size) {
    int counted = 0;
    for (int i = 0; i < tb->size; i++)
      for (TString *p = tb->hash[i]; p; p = p->u.hnext) {
        EXPECT_EQ((int)(p->hash & (unsigned)(size - 1)), i);
        counted++;
      }
    EXPECT_EQ(counted, tb->nuse);
  };
  ASSERT_EQ(tb->size, 128);
  long long charged = alloc.charged;
  l_mem debt = G(L)->GCdebt;
  // A failed shrink is not retried and puts every chain back.
  alloc.fail_from = alloc.requests;
  alloc.fail_to = alloc.requests + 100;
  alloc.fail_final = true;
  alloc.reset_log();
  luaS_resize(L, 32);
  ASSERT_EQ(alloc.calls.size(), 1u);
  EXPECT_FALSE(alloc.calls[0].ok);
  EXPECT_EQ(alloc.calls[0].nsize, 32u * 8);
  EXPECT_EQ(alloc.calls[0].charge, 32u * 16);
  EXPECT_EQ(tb->size, 128);
  EXPECT_EQ(alloc.charged, charged);
  EXPECT_EQ(G(L)->GCdebt, debt);
  checklayout(128);
  // A failed growth (after the emergency retry) changes nothing either.
  alloc.reset_log();
  luaS_resize(L, 256);
  ASSERT_GE(alloc.calls.size(), 2u);
  EXPECT_EQ(alloc.calls.front().final_attempt, 0);
  EXPECT_EQ(alloc.calls.back().final_attempt, 1);
  EXPECT_EQ(alloc.calls.back().nsize, 256u * 8);
  EXPECT_EQ(tb->size, 128);
  checklayout(128);
  alloc.fail_from = alloc.fail_to = -1;
  luaS_resize(L, 256);
  EXPECT_EQ(tb->size, 256);
  checklayout(256);
}

namespace {
size_t lngsize;
void makelong(lua_State *L, void *) { luaS_createlngstrobj(L, lngsize); }
}  // namespace

TEST_F(ObjectLayer, LongStringSizeLimit) {
  StkId top = L->top;
  const size_t limit = ((size_t)1 << 63) - 33;  // from this length on: block too big
  lngsize = limit;
  EXPECT_EQ(luaD_rawrunprotected(L, makelong, nullptr), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "memory allocation error: block too big");
  L->top = top;
  // One byte less is requested from the allocator (len + 25, charge len + 32).
  alloc.refuse_kind = LUA_TSTRING;
  alloc.reset_log();
  lngsize = limit - 1;
  EXPECT_EQ(luaD_rawrunprotected(L, makelong, nullptr), LUA_ERRMEM);
  ASSERT_FALSE(alloc.calls.empty());
  EXPECT_EQ(alloc.calls.front().nsize, limit - 1 + 25);
  EXPECT_EQ(alloc.calls.front().charge, limit - 1 + 32);
  EXPECT_EQ(alloc.calls.front().osize, (size_t)LUA_TSTRING);
  EXPECT_EQ(alloc.calls.back().final_attempt, 1);
  alloc.refuse_kind = -1;
  L->top = top;
}

namespace {
unsigned int depth_seen[3];
int record_base(lua_State *L) {
  depth_seen[0] = L->nCcalls;
  return 0;
}
int index_mm(lua_State *L) {
  depth_seen[lua_tointeger(L, lua_upvalueindex(1))] = L->nCcalls;
  return 0;
}
int get_from_c(lua_State *L) {
  lua_getfield(L, 1, "x");  // the metamethod runs from a native function
  return 0;
}
}  // namespace

// A metamethod called from Lua code adds one native level; called from a native function it
// also adds a non-yieldable level.
TEST_F(ObjectLayer, MetamethodCallDepthDependsOnTheCaller) {
  lua_register(L, "base", record_base);
  lua_register(L, "getfromc", get_from_c);
  for (int which = 1; which <= 2; which++) {
    lua_newtable(L);  // object
    lua_newtable(L);  // its metatable
    lua_pushinteger(L, which);
    lua_pushcclosure(L, index_mm, 1);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);
    lua_setglobal(L, which == 1 ? "fromlua" : "fromc");
  }
  ASSERT_EQ(luaL_loadstring(L, "base() local _ = fromlua.x getfromc(fromc)"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK);
  EXPECT_EQ(depth_seen[1], depth_seen[0] + 1);
  EXPECT_EQ(depth_seen[2], depth_seen[0] + 0x10001);
}

namespace {
Table *bigt;
unsigned int bignh;
void resizebig(lua_State *L, void *) { luaH_resize(L, bigt, 0, bignh); }
}  // namespace

TEST_F(ObjectLayer, HashPartLimitAndFailedResize) {
  bigt = luaH_new(L);
  sethvalue(L, s2v(L->top), bigt);
  L->top++;
  TValue k, v;
  setivalue(&k, 100);
  setivalue(&v, 7);
  luaH_set(L, bigt, &k, &v);
  Node *oldnode = bigt->node;
  StkId top = L->top;
  // More than 2^30 nodes: refused before any allocation.
  bignh = (1u << 30) + 1;
  alloc.reset_log();
  EXPECT_EQ(luaD_rawrunprotected(L, resizebig, nullptr), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "table overflow");
  for (const AllocCall &c : alloc.calls) EXPECT_LT(c.nsize, 1000u);  // only the message
  L->top = top;
  // Exactly 2^30 nodes is allowed; when the memory is not there the table keeps its parts.
  bignh = 1u << 30;
  alloc.fail_from = alloc.requests;
  alloc.fail_to = alloc.requests + 10;
  alloc.fail_final = true;
  alloc.reset_log();
  EXPECT_EQ(luaD_rawrunprotected(L, resizebig, nullptr), LUA_ERRMEM);
  ASSERT_FALSE(alloc.calls.empty());
  EXPECT_EQ(alloc.calls.front().nsize, ((size_t)1 << 30) * 24);
  EXPECT_EQ(alloc.calls.front().charge, ((size_t)1 << 30) * 16);
  alloc.fail_from = alloc.fail_to = -1;
  L->top = top;
  EXPECT_EQ(bigt->node, oldnode);
  EXPECT_EQ(ivalue(luaH_getint(bigt, 100)), 7);
  L->top--;
}

} // namespace object_layer
