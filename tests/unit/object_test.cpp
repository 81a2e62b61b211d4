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
