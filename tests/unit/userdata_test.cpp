// Typed userdata internals a script cannot see: type-name rules, the sort comparators, the
// scratch copies of copy_dat, and create_userdata / push_duplicate_userdata from C.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "storage/buffer.h"
#include "userdata/userdata.h"

namespace {

TEST(UserdataTypes, NamesAndCodes) {
  EXPECT_EQ(str_to_utype(nullptr), UT_U8);
  EXPECT_EQ(str_to_utype(""), UT_U8);
  EXPECT_EQ(str_to_utype("u8"), UT_U8);
  EXPECT_EQ(str_to_utype("i16"), UT_I16);
  EXPECT_EQ(str_to_utype("i32"), UT_I32);
  EXPECT_EQ(str_to_utype("i64"), UT_I64);
  EXPECT_EQ(str_to_utype("f64"), UT_F64);
  EXPECT_EQ(str_to_utype("f32"), UT_I32);
  EXPECT_EQ(str_to_utype("u16"), UT_I16);
  EXPECT_EQ(str_to_utype("i8"), UT_I64);
  EXPECT_EQ(str_to_utype("u64"), UT_U8);
  EXPECT_EQ(str_to_utype("F64"), UT_U8);
  EXPECT_EQ(str_to_utype("f"), UT_F64);
  EXPECT_STREQ(get_utype_string(3), "u8");
  EXPECT_STREQ(get_utype_string(12), "i16");
  EXPECT_STREQ(get_utype_string(13), "i32");
  EXPECT_STREQ(get_utype_string(14), "i64");
  EXPECT_STREQ(get_utype_string(22), "f64");
  EXPECT_STREQ(get_utype_string(0), "?");
  EXPECT_STREQ(get_utype_string(21), "?");
  EXPECT_STREQ(get_utype_string(23), "?");
  EXPECT_STREQ(get_utype_string(255), "?");
  EXPECT_EQ(ud_esize(UT_U8), 1);
  EXPECT_EQ(ud_esize(UT_I16), 2);
  EXPECT_EQ(ud_esize(UT_I32), 4);
  EXPECT_EQ(ud_esize(UT_I64), 8);
  EXPECT_EQ(ud_esize(UT_F64), 8);
}

struct Comparators : ::testing::Test {
  void SetUp() override {
    score_index = 0;
    score_val1 = 0;
    score_valm1 = 0;
    num_compares = 0;
  }
};

TEST_F(Comparators, IntegersWithoutOverflow) {
  int64_t lo = INT64_MIN, hi = INT64_MAX;
  EXPECT_EQ(compare_i64(&lo, &hi), -1);
  EXPECT_EQ(compare_i64(&hi, &lo), 1);
  EXPECT_EQ(compare_i64(&lo, &lo), 0);
  int32_t a = INT32_MIN, b = INT32_MAX;
  EXPECT_EQ(compare_i32(&a, &b), -1);
  int16_t c = -1, d = 1;
  EXPECT_EQ(compare_i16(&c, &d), -1);
  uint8_t e = 200, f = 5;
  EXPECT_EQ(compare_u8(&e, &f), 1); // unsigned
  EXPECT_EQ(num_compares, 6);
}

TEST_F(Comparators, DescendingAndColumn) {
  score_val1 = 1;
  score_valm1 = 1;
  score_index = 2;
  int16_t r1[3] = {9, 9, 1}, r2[3] = {0, 0, 5};
  EXPECT_EQ(compare_i16(r1, r2), 1);
  EXPECT_EQ(compare_i16(r2, r1), -1);
  EXPECT_EQ(compare_i16(r1, r1), 0);
  EXPECT_EQ(num_compares, 3);
}

// The flags only negate: ascending with both clear, descending with both set.
TEST_F(Comparators, FlagsNegateEveryType) {
  uint8_t u[2] = {1, 250};
  int32_t i[2] = {-5, 5};
  int64_t l[2] = {INT64_MIN, 0};
  double d[2] = {-0.5, 0.25};
  for (int flag : {0, 1}) {
    score_val1 = score_valm1 = flag;
    int s = flag ? -1 : 1;
    EXPECT_EQ(compare_u8(&u[1], &u[0]), s);
    EXPECT_EQ(compare_u8(&u[0], &u[1]), -s);
    EXPECT_EQ(compare_i32(&i[1], &i[0]), s);
    EXPECT_EQ(compare_i32(&i[0], &i[1]), -s);
    EXPECT_EQ(compare_i64(&l[1], &l[0]), s);
    EXPECT_EQ(compare_i64(&l[0], &l[0]), 0);
    EXPECT_EQ(compare_f64(&d[1], &d[0]), s);
    EXPECT_EQ(compare_f64(&d[0], &d[1]), -s);
  }
  EXPECT_EQ(num_compares, 16);
}

TEST_F(Comparators, NanAfterEveryNumber) {
  double nan = std::nan(""), inf = INFINITY, one = 1.0;
  EXPECT_EQ(compare_f64(&nan, &inf), 1);
  EXPECT_EQ(compare_f64(&inf, &nan), -1);
  EXPECT_EQ(compare_f64(&nan, &nan), 0);
  EXPECT_EQ(compare_f64(&one, &inf), -1);
  score_val1 = 1;
  score_valm1 = 1;
  EXPECT_EQ(compare_f64(&nan, &one), -1);
  EXPECT_EQ(num_compares, 5);
}

struct UdStateFixture : ::testing::Test {
  Process proc{};
  lua_State *L = nullptr;
  void SetUp() override {
    std::memset(&proc, 0, sizeof proc);
    cproc = &proc;
    cpu_cycles = 0;
    L = lua_newstate(l_alloc, &proc);
    ASSERT_NE(L, nullptr);
    add_userdata_metatable_functions(L);
  }
  void TearDown() override {
    lua_close(L);
    free_process_memory(&proc);
    cproc = nullptr;
    cpu_cycles = 0;
  }
};

TEST_F(UdStateFixture, CopyDatGrowsAndCharges) {
  double src[1000];
  for (int i = 0; i < 1000; i++) src[i] = i * 0.5;
  copy_dat(1, src, 1); // the scratch buffers exist from here on
  int64_t bytes0 = buffer_stat_bytes;
  int64_t spent0 = proc.spend_cycles;
  double *p = copy_dat(0, src, 1000);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::memcmp(p, src, sizeof src), 0);
  // Capacity 1025 below 8001 grows to 16002.
  EXPECT_EQ(buffer_stat_bytes - bytes0, 16002 - 1025);
  EXPECT_EQ(proc.spend_cycles - spent0, 3);
  double *q = copy_dat(0, src + 10, 100);
  EXPECT_EQ(q, p);
  EXPECT_EQ(q[0], 5.0);
  EXPECT_EQ(buffer_stat_bytes - bytes0, 16002 - 1025); // kept
  EXPECT_EQ(proc.spend_cycles - spent0, 4);              // at least one cycle
  EXPECT_EQ(copy_dat(2, src, 1), nullptr);
  EXPECT_EQ(copy_dat(-1, src, 1), nullptr);
}

TEST_F(UdStateFixture, CreateRefusalsPushNothing) {
  int top = lua_gettop(L);
  EXPECT_EQ(create_userdata(L, "u8", 1, 0, 1, 1, nullptr), nullptr);
  EXPECT_EQ(create_userdata(L, "u8", 3, 4, 4, 4, nullptr), nullptr);
  EXPECT_EQ(create_userdata(L, "u8", 0, 4, 4, 4, nullptr), nullptr);
  EXPECT_EQ(create_userdata(L, "u8", 2, 4, -1, 1, nullptr), nullptr);
  EXPECT_EQ(create_userdata(L, "u8", 2, 65536, 65537, 1, nullptr), nullptr);
  EXPECT_EQ(create_userdata(L, "u8", 2, INT32_MAX, INT32_MAX, 1, nullptr), nullptr);
  EXPECT_EQ(create_userdata(L, "f64", 1, 2097153, 1, 1, nullptr), nullptr);
  EXPECT_EQ(create_userdata(L, "[gfx]0000", 1, 1, 1, 1, nullptr), nullptr);
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(proc.spend_cycles, 0);
}

TEST_F(UdStateFixture, CreateHeaderDataAndCharge) {
  UserdataHeader *h = create_userdata(L, "i16", 2, 3, 2, 9, "0001fffe");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->type, UT_I16);
  EXPECT_EQ(h->dims, 2);
  EXPECT_EQ(h->reserved[0] | h->reserved[1], 0);
  EXPECT_EQ(h->width, 3u);
  EXPECT_EQ(h->height, 2u);
  EXPECT_EQ(h->depth, 1u); // depth only from a third dimension
  EXPECT_EQ(lua_rawlen(L, -1), 16u + 16u); // 12 bytes rounded up to 16
  int16_t v[8];
  std::memcpy(v, ud_data(h), sizeof v);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1], -2);
  for (int i = 2; i < 8; i++) EXPECT_EQ(v[i], 0) << i;
  EXPECT_EQ(proc.spend_cycles, 6 * 16 / 32);
  ASSERT_TRUE(lua_getmetatable(L, -1));
  lua_getglobal(L, "USERDATA");
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  lua_pop(L, 2);

  // The duplicate is a byte copy that charges nothing.
  int64_t spent = proc.spend_cycles;
  UserdataHeader *d = push_duplicate_userdata(L, h);
  ASSERT_NE(d, nullptr);
  EXPECT_NE(d, h);
  EXPECT_EQ(std::memcmp(d, h, 16 + 16), 0);
  EXPECT_EQ(lua_rawlen(L, -1), 32u);
  EXPECT_EQ(proc.spend_cycles, spent);

  // Span lengths of two operands.
  UserdataHeader *b = create_userdata(L, "i16", 1, 4, 1, 1, nullptr);
  EXPECT_EQ(get_userdata_len2(h, b, 0, 100, 0), 4);
  EXPECT_EQ(get_userdata_len2(h, b, 5, 100, 0), 1);
  EXPECT_EQ(get_userdata_len2(h, nullptr, 2, 3, 0), 3);
  EXPECT_EQ(get_userdata_len2(nullptr, b, 0, 100, 3), 1);
  EXPECT_EQ(get_userdata_len2(h, b, 10, 100, 0), -4);
}

TEST_F(UdStateFixture, GfxFormAndRegistration) {
  UserdataHeader *h = create_userdata(L, "[gfx]0302zZ_-", 1, 99, 99, 1, "ignored");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->type, UT_U8);
  EXPECT_EQ(h->dims, 2);
  EXPECT_EQ(h->width, 3u);
  EXPECT_EQ(h->height, 2u);
  const uint8_t *d = ud_data(h);
  EXPECT_EQ(d[0], 35);
  EXPECT_EQ(d[1], 61);
  EXPECT_EQ(d[2], 62);
  EXPECT_EQ(d[3], 63);
  EXPECT_EQ(d[4], 0);
  EXPECT_EQ(proc.spend_cycles, 1); // 6 * 8 / 32 = 1
  for (const char *g : {"userdata", "vec", "get", "set"}) {
    EXPECT_EQ(lua_getglobal(L, g), LUA_TFUNCTION) << g;
    lua_pop(L, 1);
  }
  ASSERT_EQ(lua_getglobal(L, "USERDATA"), LUA_TTABLE);
  int n = 0;
  lua_pushnil(L);
  while (lua_next(L, -2)) {
    n++;
    lua_pop(L, 1);
  }
  EXPECT_EQ(n, 58);
}

// Exact spend_cpu charges of single calls, read from the process's spend tally.
struct UdCharges : UdStateFixture {
  int32_t saved_max = 0;
  void SetUp() override {
    UdStateFixture::SetUp();
    saved_max = cpu_cycles_max;
    cpu_cycles_max = INT32_MAX;
    run("A = userdata('u8', 480, 270) B = userdata('u8', 480, 270) "
        "F = userdata('f64', 1000) G = userdata('f64', 1000) I6 = userdata('i64', 1000) "
        "I3 = userdata('i32', 1000) U8 = userdata('u8', 1000) I16 = userdata('i16', 1000) "
        "S = userdata('u8', 4) set(S, 0, 10, 20, 30, 40) "
        "IDX = userdata('i32', 3) set(IDX, 0, 3, 0, 0)");
  }
  void TearDown() override {
    cpu_cycles_max = saved_max;
    UdStateFixture::TearDown();
  }
  void run(const char *code) {
    cpu_cycles = 0;
    ASSERT_EQ(luaL_loadstring(L, code), LUA_OK) << lua_tostring(L, -1);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_OK) << lua_tostring(L, -1);
  }
  int64_t spent(const char *code) {
    int64_t s0 = proc.spend_cycles;
    run(code);
    return proc.spend_cycles - s0;
  }
};

TEST_F(UdCharges, ElementWise) {
  const struct { const char *code; int64_t cycles; } cases[] = {
      {"local c = A + 1", 1012 + 5400},           // (129600 >> 7) for the copy, then E / 24
      {"A:add(1, true)", 5400},
      {"A:add(B, A)", 5400},
      {"local c = userdata('u8', 2) + 1", 1 + 1},  // both charges at least one cycle
      {"A:add(1, true, 0, 0, 4, 1, 480, 10)", 40 / 24 + 10 / 4},
      {"A:add(1, true, 0, 0, 4, 1, 480, 2^32 + 10)", 40 / 24 + 10 / 4},
      {"A:add(1, true, 0, 0, -1, 1, 480, 8)", 2},  // no span runs, spans / 4 still counts
      {"A:add(1, true, 0, 0, 4, 1, 480, -8)", 0},  // negative total: nothing
      {"A:add(1, true, 0, -5, 10)", 1},            // 10 - 5 - 5 = 0 elements
      {"A:add(1, true, 0, 200000)", 1},
      {"A:add(userdata('i16', 4))", 0},            // refused
      {"A:add()", 0},
      {"A:add(1, userdata('u8', 3))", 0},
      {"U8:sub(1, true)", 1000 / 24},
      {"I6:add(1, true)", 1000 / 12},
      {"F:add(1, true)", 1000 / 12},
      {"U8:mul(3, true)", 1000 / 16},
      {"I3:mul(3, true)", 1000 / 16},
      {"I6:mul(3, true)", 1000 / 8},
      {"F:mul(3, true)", 1000 / 8},
      {"U8:div(3, true)", 1000 / 4},
      {"I16:idiv(3, true)", 1000 / 4},
      {"I6:div(3, true)", 1000 / 2},
      {"I6:mod(3, true)", 1000 / 2},
      {"F:div(3, true)", 1000 / 4},
      {"F:mod(3, true)", 1000 / 4},
      {"U8:pow(3, true)", 1000 / 2},
      {"I3:pow(3, true)", 1000 / 2},
      {"I6:pow(3, true)", 1000 / 4},
      {"F:pow(3, true)", 1000 / 4},
      {"U8:band(3, true)", 1000 / 24},
      {"I16:shl(3, true)", 1000 / 24},
      {"I6:bxor(3, true)", 1000 / 12},
      {"F:bor(3, true)", 0},                       // refused
      {"local c = A:copy()", 1012 + 5400},
      {"A:copy(B, true)", 5400},
      {"F:copy(G)", 7 + 1000 / 12},
      {"I6:copy(7, true)", 1000 / 12},
      {"I3:copy(7, true)", 1000 / 24},
  };
  for (const auto &c : cases) EXPECT_EQ(spent(c.code), c.cycles) << c.code;
}

TEST_F(UdCharges, TakeClearConvertSort) {
  const struct { const char *code; int64_t cycles; } cases[] = {
      {"S:take(IDX)", 3 / 24 + 3 / 2},
      {"U8:take(userdata('i32', 100), nil, 0, 0, 10)", 1000 / 24 + 100 / 2},
      {"S:take(IDX, nil, 0, 0, 1, 1, 1, 0)", 1},   // n = 0: spend_cpu(0)
      {"S:take(IDX, nil, 0, 0, 1, 1, 1, -3)", 3 / 24 + 3 / 2}, // negative count: no limit
      {"I6:take(IDX)", 3 / 12 + 3 / 2},
      {"S:take(userdata('i32', 5))", 5 / 24 + 5 / 2},
      {"local i = userdata('i32', 4) set(i, 0, 0, 9, 9, 9) S:take(i)", 1 / 24 + 4 / 2},
      {"S:take(IDX, nil, 0, 0, 1, 1, 1, 2^32 + 2)", 2 / 24 + 2 / 2},
      {"USERDATA.take(S, userdata('u8', 3))", 0},
      {"A:clear()", 129600 * 8 / 512},
      {"F:clear()", 1000 * 64 / 512},
      {"S:clear()", 1},
      {"USERDATA.clear(5)", 0},
      {"local c = A:convert('i16')", 2 * 129600},
      {"local c = A:convert('u8')", 0},
      {"local c = I3:convert('i32')", 0},
      {"local c = I3:convert('f64')", 2000},
      {"local c = F:convert('[gfx]0101')", 2000},  // no text charge from the name
      {"local i, p = A:convert('u8', true)", 129600},
      {"local i, p = F:convert('u8', true)", 1000},
      {"local c = USERDATA.convert(5, 'u8')", 0},
      {"userdata('u8', 1):sort()", 1},
      {"S:sort(1)", 0},
      {"S:sort(-1)", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(spent(c.code), c.cycles) << c.code;
  // sort charges exactly the comparisons it reports
  int64_t s0 = proc.spend_cycles;
  run("N = userdata('i16', 50) for i = 0, 49 do N[i] = (i * 37) % 50 end R = N:sort(0, true)");
  lua_getglobal(L, "R");
  int64_t comps = lua_tointeger(L, -1);
  lua_pop(L, 1);
  EXPECT_GT(comps, 48);
  EXPECT_EQ(proc.spend_cycles - s0, comps);
  // descending sets both flags
  EXPECT_EQ(score_val1, 1);
  EXPECT_EQ(score_valm1, 1);
  run("N:sort()");
  EXPECT_EQ(score_val1, 0);
  EXPECT_EQ(score_valm1, 0);
}

TEST_F(UdCharges, CreateGetSet) {
  const struct { const char *code; int64_t cycles; } cases[] = {
      {"userdata('u8', 4, '01ff0a10')", 1},
      {"userdata('u8', 7, '')", 7 * 8 / 32},
      {"userdata('u8', 3, 'ff')", 1},              // 0: spend_cpu's minimum
      {"userdata('i16', 2, 2, '0001fffe00030004')", 2},
      {"userdata('i32', 10, 'x')", 10},
      {"userdata('i64', 3, '')", 6},
      {"userdata('f64', 3, '1,2,3')", 6},
      {"userdata('u8', 1000, 'hex:00')", 250},
      {"userdata('[gfx]0808')", 16},
      {"userdata('u8', 100)", 0},
      {"userdata('f64', 100, 7)", 0},
      {"userdata('u8', 0, '00')", 0},
      {"vec(1, 2, 3)", 0},
      {"get(A, 0, 0, 101)", 50},
      {"get(A, 0, 0, 1)", 1},
      {"get(A, 0, 0, 0)", 0},
      {"get(A, -1, 0, 10)", 0},
      {"get(A, 0, 270, 10)", 0},
      {"get(A, 479, 269, 3)", 1},
      {"get(S)", 2},
      {"get(A)", 0},                               // beyond the stack: nothing
      {"set(A, 0, 0, 1, 2, 3)", 0},
      {"local x = S[1] S[2] = 5 local n = #S", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(spent(c.code), c.cycles) << c.code;
}

} // namespace
