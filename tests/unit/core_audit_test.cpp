// Object layer audit: the exact allocator traffic of building a state, exact binary float
// exponents, main positions per key kind, the API string cache rows, failed resizes of the
// string table and of hash parts, size limits, and the call depth added by metamethods.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "lua/auxlib.h"
#include "lua/do.h"
#include "lua/gc.h"
#include "lua/object.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "test_alloc.h"

namespace {

struct AuditFixture : ::testing::Test {
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

TEST(CoreAudit, NewStateAllocatesInBuildingOrder) {
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

TEST(CoreAudit, BinaryFloatExponentIsSummedExactly) {
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

TEST_F(AuditFixture, MainPositionsFollowTheKeyKinds) {
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

TEST_F(AuditFixture, ApiCacheRowKeepsTwoEntries) {
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

TEST_F(AuditFixture, StringTableResizeFailuresKeepTheOldLayout) {
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

TEST_F(AuditFixture, LongStringSizeLimit) {
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
TEST_F(AuditFixture, MetamethodCallDepthDependsOnTheCaller) {
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

TEST_F(AuditFixture, HashPartLimitAndFailedResize) {
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
