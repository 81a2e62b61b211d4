// Strings and full userdata: interning, long strings, the API cache, the string table's
// growth and the charges of each.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lua/do.h"
#include "lua/gc.h"
#include "lua/state.h"
#include "lua/string.h"
#include "test_alloc.h"

namespace {

struct StringFixture : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override {
    L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
    luaE_setdebt(G(L), -(l_mem)100000000);  // no collection during a test
  }
  void TearDown() override {
    lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
    EXPECT_EQ(alloc.charged, 0);
  }
  long long bytes() { return (long long)gettotalbytes(G(L)); }
};

}  // namespace

TEST(StringHash, FollowsTheFormula) {
  // h = seed ^ len; for each byte from the last: h ^= (h << 5) + (h >> 2) + byte.
  const char *s = "hello";
  unsigned int h = 1234u ^ 5u;
  for (int i = 4; i >= 0; i--) h ^= ((h << 5) + (h >> 2) + (unsigned char)s[i]);
  EXPECT_EQ(luaS_hash(s, 5, 1234u), h);
  EXPECT_NE(luaS_hash("ab", 2, 0), luaS_hash("ba", 2, 0));
  EXPECT_EQ(luaS_hash("", 0, 77u), 77u);
}

TEST_F(StringFixture, ShortStringsAreInterned) {
  TString *a = luaS_newlstr(L, "hello world", 11);
  TString *b = luaS_newlstr(L, "hello world", 11);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->tt, LUA_VSHRSTR);
  EXPECT_EQ(a->shrlen, 11);
  EXPECT_EQ(a->extra, 0);
  EXPECT_EQ(getstr(a)[11], '\0');
  EXPECT_EQ(a->hash, luaS_hash("hello world", 11, G(L)->seed));
  std::string s40(40, 'q');
  TString *c = luaS_newlstr(L, s40.data(), 40);
  EXPECT_EQ(c->tt, LUA_VSHRSTR);
  EXPECT_EQ(c, luaS_newlstr(L, s40.data(), 40));
  // Embedded zeros are part of the string.
  TString *z1 = luaS_newlstr(L, "a\0b", 3);
  TString *z2 = luaS_newlstr(L, "a\0c", 3);
  EXPECT_NE(z1, z2);
  EXPECT_EQ(tsslen(z1), 3u);
}

TEST_F(StringFixture, LongStringsAreNewObjects) {
  std::string s41(41, 'x');
  long long b0 = bytes();
  long long c0 = alloc.charged;
  TString *a = luaS_newlstr(L, s41.data(), 41);
  EXPECT_EQ(bytes() - b0, 41 + 25);
  EXPECT_EQ(alloc.charged - c0, 41 + 32);
  TString *b = luaS_newlstr(L, s41.data(), 41);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->tt, LUA_VLNGSTR);
  EXPECT_EQ(a->u.lnglen, 41u);
  EXPECT_TRUE(luaS_eqlngstr(a, b));
  // Hashed only on first use, with the seed stored at creation.
  EXPECT_EQ(a->extra, 0);
  EXPECT_EQ(a->hash, G(L)->seed);
  unsigned int h = luaS_hashlongstr(a);
  EXPECT_EQ(a->extra, 1);
  EXPECT_EQ(h, luaS_hash(s41.data(), 41, G(L)->seed));
  EXPECT_EQ(luaS_hashlongstr(a), h);
  s41[40] = 'y';
  TString *c = luaS_newlstr(L, s41.data(), 41);
  EXPECT_FALSE(luaS_eqlngstr(a, c));
}

TEST_F(StringFixture, EveryStringCostsLenPlus25AndCharge32More) {
  for (size_t len : {0u, 1u, 10u, 40u, 41u, 1000u}) {
    std::string s(len, 'k');
    s += std::to_string(len);  // distinct contents
    long long b0 = bytes();
    long long c0 = alloc.charged;
    alloc.reset_log();
    luaS_newlstr(L, s.data(), s.size());
    ASSERT_FALSE(alloc.calls.empty());
    // The string itself is the last request (the table may have grown first).
    const AllocCall &c = alloc.calls.back();
    EXPECT_EQ(c.osize, (size_t)LUA_TSTRING);
    EXPECT_EQ(c.nsize, s.size() + 25);
    EXPECT_EQ(c.charge, s.size() + 32);
    if (alloc.calls.size() == 1) {
      EXPECT_EQ(bytes() - b0, (long long)s.size() + 25);
      EXPECT_EQ(alloc.charged - c0, (long long)s.size() + 32);
    }
  }
}

TEST_F(StringFixture, TableDoublesWhenFull) {
  stringtable *tb = &G(L)->strt;
  EXPECT_EQ(tb->size, 128);
  int size0 = tb->size;
  int made = 0;
  // Fill until the count reaches the size; the next new string doubles the table.
  while (tb->nuse < tb->size) {
    std::string s = "fill" + std::to_string(made++);
    luaS_newlstr(L, s.data(), s.size());
  }
  EXPECT_EQ(tb->size, size0);
  alloc.reset_log();
  luaS_newlstr(L, "one more", 8);
  EXPECT_EQ(tb->size, 2 * size0);
  ASSERT_GE(alloc.calls.size(), 2u);
  EXPECT_EQ(alloc.calls[0].nsize, (size_t)(2 * size0) * 8);
  EXPECT_EQ(alloc.calls[0].charge, (size_t)(2 * size0) * 16);
  // Every string is still found after the rehash.
  for (int i = 0; i < made; i++) {
    std::string s = "fill" + std::to_string(i);
    TString *t = luaS_newlstr(L, s.data(), s.size());
    EXPECT_EQ(std::string(getstr(t), tsslen(t)), s);
  }
  EXPECT_EQ(tb->size, 2 * size0);
  // Shrinking keeps them all.
  int nuse = tb->nuse;
  luaS_resize(L, 64);
  EXPECT_EQ(tb->size, 64);
  EXPECT_EQ(tb->nuse, nuse);
  int counted = 0;
  for (int i = 0; i < tb->size; i++)
    for (TString *p = tb->hash[i]; p; p = p->u.hnext) {
      EXPECT_EQ((int)(p->hash & 63u), i);
      counted++;
    }
  EXPECT_EQ(counted, nuse);
}

TEST_F(StringFixture, ApiCacheReturnsTheSameString) {
  static const char text[] = "cached text";
  TString *a = luaS_new(L, text);
  alloc.reset_log();
  TString *b = luaS_new(L, text);
  EXPECT_EQ(a, b);
  EXPECT_TRUE(alloc.calls.empty());
  unsigned int row = point2uint(text) % STRCACHE_N;
  EXPECT_EQ(G(L)->strcache[row][0], a);
  // A different text with the same address row moves the first entry to the second.
  char other[64];
  strcpy(other, "other text");
  TString *c = luaS_new(L, other);
  unsigned int row2 = point2uint(other) % STRCACHE_N;
  EXPECT_EQ(G(L)->strcache[row2][0], c);
  // Long texts through the cache are long strings.
  std::string big(60, 'L');
  TString *d = luaS_new(L, big.c_str());
  EXPECT_EQ(d->tt, LUA_VLNGSTR);
}

TEST_F(StringFixture, UserdataSizesAndCharges) {
  long long b0 = bytes();
  long long c0 = alloc.charged;
  alloc.reset_log();
  Udata *u = luaS_newudata(L, 10, 0);
  ASSERT_EQ(alloc.calls.size(), 1u);
  EXPECT_EQ(alloc.calls[0].osize, (size_t)LUA_TUSERDATA);
  EXPECT_EQ(alloc.calls[0].nsize, 10u + 32);
  EXPECT_EQ(alloc.calls[0].charge, 10u + 56);
  EXPECT_EQ(bytes() - b0, 42);
  EXPECT_EQ(alloc.charged - c0, 66);
  EXPECT_EQ(u->len, 10u);
  EXPECT_EQ(u->nuvalue, 0);
  EXPECT_EQ(u->metatable, nullptr);
  EXPECT_EQ(getudatamem(u), (char *)u + 32);
  alloc.reset_log();
  Udata *v = luaS_newudata(L, 10, 3);
  EXPECT_EQ(alloc.calls[0].nsize, 10u + 40 + 48);
  EXPECT_EQ(alloc.calls[0].charge, 10u + 56);
  EXPECT_EQ(v->nuvalue, 3);
  for (int i = 0; i < 3; i++) EXPECT_TRUE(ttisnil(&v->uv[i].uv));
  EXPECT_EQ(getudatamem(v), (char *)v + 88);
}

namespace {
void hugeudata(lua_State *L, void *) { luaS_newudata(L, MAX_SIZE, 0); }
void hugestring(lua_State *L, void *) { luaS_createlngstrobj(L, MAX_SIZE - 32); }
}  // namespace

TEST_F(StringFixture, OversizedObjectsAreRefused) {
  StkId top = L->top;
  EXPECT_EQ(luaD_rawrunprotected(L, hugeudata, nullptr), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "memory allocation error: block too big");
  L->top = top;
  EXPECT_EQ(luaD_rawrunprotected(L, hugestring, nullptr), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "memory allocation error: block too big");
  L->top = top;
}

TEST_F(StringFixture, FixedStringsSurviveCollections) {
  TString *idx = G(L)->tmname[0];
  G(L)->GCdebt = 0;
  luaC_fullgc(L, 0);
  EXPECT_EQ(luaS_new(L, "__index"), idx);
  EXPECT_EQ(luaS_newlstr(L, "not enough memory", 17), G(L)->memerrmsg);
  luaE_setdebt(G(L), -(l_mem)100000000);
}

TEST_F(StringFixture, CollectedStringsLeaveTheTableAndTheCache) {
  stringtable *tb = &G(L)->strt;
  static const char text[] = "soon garbage";
  TString *s = luaS_new(L, text);
  unsigned int row = point2uint(text) % STRCACHE_N;
  ASSERT_EQ(G(L)->strcache[row][0], s);
  int nuse = tb->nuse;
  G(L)->GCdebt = 0;
  luaC_fullgc(L, 0);  // nothing refers to the string
  EXPECT_EQ(G(L)->strcache[row][0], G(L)->memerrmsg);
  EXPECT_EQ(tb->nuse, nuse - 1);
  // Interning the same text again makes a fresh, findable string.
  TString *again = luaS_new(L, text);
  EXPECT_EQ(std::string(getstr(again)), text);
  EXPECT_EQ(luaS_newlstr(L, text, strlen(text)), again);
  luaE_setdebt(G(L), -(l_mem)100000000);
}
