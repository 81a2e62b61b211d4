// Tables: layout and charges of both parts, key normalisation, rehash sizing, the length
// border and traversal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "lua/do.h"
#include "lua/gc.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"
#include "test_alloc.h"

namespace {

struct TableFixture : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  Table *t = nullptr;
  void SetUp() override {
    L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
    luaE_setdebt(G(L), -(l_mem)100000000);  // no collection during a test
    t = luaH_new(L);
    sethvalue(L, s2v(L->top), t);  // anchored
    L->top++;
  }
  void TearDown() override {
    lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
    EXPECT_EQ(alloc.charged, 0);
  }
  TValue str(const char *s) {
    TValue o;
    setsvalue(L, &o, luaS_new(L, s));
    return o;
  }
  void set(TValue k, TValue v) { luaH_set(L, t, &k, &v); }
  void seti(lua_Integer k, lua_Integer v) {
    TValue kv, vv;
    setivalue(&kv, k);
    setivalue(&vv, v);
    luaH_set(L, t, &kv, &vv);
  }
  void clear(lua_Integer k) {
    TValue kv, vv;
    setivalue(&kv, k);
    setnilvalue(&vv);
    luaH_set(L, t, &kv, &vv);
  }
  const TValue *get(TValue k) { return luaH_get(t, &k); }
  bool inarray(lua_Integer k) {
    const TValue *v = luaH_getint(t, k);
    return v >= t->array && v < t->array + luaH_realasize(t);
  }
};

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

}  // namespace

TEST_F(TableFixture, NewTableHasNoParts) {
  alloc.reset_log();
  Table *u = luaH_new(L);
  ASSERT_EQ(alloc.calls.size(), 1u);
  EXPECT_EQ(alloc.calls[0].osize, (size_t)LUA_TTABLE);
  EXPECT_EQ(alloc.calls[0].nsize, 56u);
  EXPECT_EQ(alloc.calls[0].charge, 56u);
  EXPECT_EQ(u->flags, 0x3F);
  EXPECT_EQ(u->alimit, 0u);
  EXPECT_EQ(u->array, nullptr);
  EXPECT_TRUE(isdummy(u));
  EXPECT_EQ(u->metatable, nullptr);
  EXPECT_EQ(luaH_getn(u), 0u);
}

TEST_F(TableFixture, FirstStringKeyCostsOneNode) {
  TValue k = str("name");
  alloc.reset_log();
  long long c0 = alloc.charged;
  set(k, I(1));
  int requests = 0;
  for (const AllocCall &c : alloc.calls) {
    if (c.nsize == 0) continue;  // an empty array part stays empty
    requests++;
    EXPECT_EQ(c.nsize, 24u);
    EXPECT_EQ(c.charge, 16u);
  }
  EXPECT_EQ(requests, 1);
  EXPECT_EQ(alloc.charged - c0, 16);
  EXPECT_EQ(t->lsizenode, 0);
  EXPECT_FALSE(isdummy(t));
  EXPECT_EQ(t->array, nullptr);
  // The second key doubles the hash part: two nodes, 48 requested and 32 charged.
  TValue k2 = str("other");
  alloc.reset_log();
  set(k2, I(2));
  EXPECT_EQ(t->lsizenode, 1);
  bool saw = false;
  for (const AllocCall &c : alloc.calls)
    if (c.nsize == 48 && c.charge == 32) saw = true;
  EXPECT_TRUE(saw);
  EXPECT_EQ(ivalue(get(k)), 1);
  EXPECT_EQ(ivalue(get(k2)), 2);
  TValue k3 = str("third");
  set(k3, I(3));
  EXPECT_EQ(t->lsizenode, 2);  // 3 keys: 4 nodes
  EXPECT_EQ(ivalue(get(k)), 1);
  EXPECT_EQ(ivalue(get(k3)), 3);
}

TEST_F(TableFixture, ArrayPartGrowsByPowersOfTwo) {
  std::vector<unsigned> sizes;
  for (int i = 1; i <= 33; i++) {
    alloc.reset_log();
    seti(i, i * 10);
    if (sizes.empty() || sizes.back() != luaH_realasize(t)) {
      sizes.push_back(luaH_realasize(t));
      // The array reallocation: 16 bytes a slot, requested and charged.
      bool saw = false;
      for (const AllocCall &c : alloc.calls)
        if (c.nsize == 16u * sizes.back() && c.charge == 16u * sizes.back()) saw = true;
      EXPECT_TRUE(saw) << i;
    }
  }
  EXPECT_EQ(sizes, (std::vector<unsigned>{1, 2, 4, 8, 16, 32, 64}));
  EXPECT_TRUE(isdummy(t));  // every key went to the array
  for (int i = 1; i <= 33; i++) {
    EXPECT_TRUE(inarray(i));
    EXPECT_EQ(ivalue(luaH_getint(t, i)), i * 10);
  }
  EXPECT_EQ(luaH_getn(t), 33u);
}

TEST_F(TableFixture, SparseKeyStaysInHash) {
  seti(1, 1);
  seti(2, 2);
  seti(1000, 3);
  EXPECT_TRUE(inarray(1));
  EXPECT_TRUE(inarray(2));
  EXPECT_FALSE(inarray(1000));
  EXPECT_EQ(ivalue(luaH_getint(t, 1000)), 3);
  EXPECT_EQ(luaH_getn(t), 2u);
}

TEST_F(TableFixture, OnlyPositiveIndicesUseTheArray) {
  for (int i = 1; i <= 4; i++) seti(i, i);
  seti(0, 100);
  seti(-1, 101);
  seti(LUA_MININTEGER, 102);
  seti(LUA_MAXINTEGER, 103);
  EXPECT_FALSE(inarray(0));
  EXPECT_FALSE(inarray(-1));
  EXPECT_FALSE(inarray(LUA_MININTEGER));
  EXPECT_EQ(ivalue(luaH_getint(t, 0)), 100);
  EXPECT_EQ(ivalue(luaH_getint(t, -1)), 101);
  EXPECT_EQ(ivalue(luaH_getint(t, LUA_MININTEGER)), 102);
  EXPECT_EQ(ivalue(luaH_getint(t, LUA_MAXINTEGER)), 103);
  EXPECT_TRUE(isabstkey(luaH_getint(t, 5)));
}

TEST_F(TableFixture, FloatKeysWithIntegerValuesAreIntegers) {
  set(F(1.0), I(11));
  EXPECT_EQ(ivalue(luaH_getint(t, 1)), 11);
  EXPECT_TRUE(inarray(1));
  set(F(9007199254740992.0), I(53));  // 2^53
  EXPECT_EQ(ivalue(luaH_getint(t, 9007199254740992LL)), 53);
  EXPECT_EQ(ivalue(get(F(9007199254740992.0))), 53);
  set(F(-0.0), I(0));
  EXPECT_EQ(ivalue(luaH_getint(t, 0)), 0);
  set(F(-9223372036854775808.0), I(7));
  EXPECT_EQ(ivalue(luaH_getint(t, LUA_MININTEGER)), 7);
  set(F(9223372036854775808.0), I(8));  // 2^63 has no integer form
  EXPECT_TRUE(isabstkey(luaH_getint(t, LUA_MAXINTEGER)));
  EXPECT_EQ(ivalue(get(F(9223372036854775808.0))), 8);
  set(F(0.5), I(9));
  EXPECT_EQ(ivalue(get(F(0.5))), 9);
  set(F(HUGE_VAL), I(10));
  EXPECT_EQ(ivalue(get(F(HUGE_VAL))), 10);
  // Stored keys come back as integers.
  TValue kv[2];
  setnilvalue(&kv[0]);
  int ints = 0;
  while (luaH_next(L, t, kv)) {
    if (ttisinteger(&kv[0]) && (ivalue(&kv[0]) == 1 || ivalue(&kv[0]) == 0)) ints++;
  }
  EXPECT_EQ(ints, 2);
}

namespace {
struct KeyArgs {
  Table *t;
  TValue k;
};
void setkey(lua_State *L, void *ud) {
  KeyArgs *a = static_cast<KeyArgs *>(ud);
  TValue v;
  setivalue(&v, 1);
  luaH_set(L, a->t, &a->k, &v);
}
void nextkey(lua_State *L, void *ud) {
  KeyArgs *a = static_cast<KeyArgs *>(ud);
  setobj(L, s2v(L->top), &a->k);
  setnilvalue(s2v(L->top + 1));
  L->top += 2;
  luaH_next(L, a->t, L->top - 2);
}
}  // namespace

TEST_F(TableFixture, NilAndNaNKeysAreRejected) {
  KeyArgs a{t, {}};
  setnilvalue(&a.k);
  StkId top = L->top;
  EXPECT_EQ(luaD_rawrunprotected(L, setkey, &a), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "table index is nil");
  L->top = top;
  setfltvalue(&a.k, std::nan(""));
  EXPECT_EQ(luaD_rawrunprotected(L, setkey, &a), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "table index is NaN");
  L->top = top;
  // Lookups never fail.
  EXPECT_TRUE(isabstkey(get(F(std::nan("")))));
  TValue n;
  setnilvalue(&n);
  EXPECT_TRUE(isabstkey(luaH_get(t, &n)));
}

TEST_F(TableFixture, LengthBorders) {
  for (int i = 1; i <= 4; i++) seti(i, i);
  EXPECT_EQ(luaH_getn(t), 4u);
  clear(4);
  EXPECT_EQ(luaH_getn(t), 3u);
  EXPECT_EQ(luaH_getn(t), 3u);
  seti(4, 4);
  EXPECT_EQ(luaH_getn(t), 4u);
  // A border found by binary search, and continuing into the hash part.
  Table *u = luaH_new(L);
  sethvalue(L, s2v(L->top), u);
  L->top++;
  for (int i = 1; i <= 16; i++) {
    TValue v = I(i);
    luaH_setint(L, u, i, &v);
  }
  for (int i = 9; i <= 16; i++) {
    TValue v;
    setnilvalue(&v);
    luaH_setint(L, u, i, &v);
  }
  EXPECT_EQ(luaH_getn(u), 8u);
  Table *h = luaH_new(L);
  sethvalue(L, s2v(L->top), h);
  L->top++;
  luaH_resize(L, h, 0, 64);  // all keys in the hash part
  for (int i = 1; i <= 40; i++) {
    TValue v = I(i);
    luaH_setint(L, h, i, &v);
  }
  EXPECT_EQ(luaH_getn(h), 40u);
}

TEST_F(TableFixture, LengthHintMovesWithLookups) {
  for (int i = 1; i <= 8; i++) seti(i, i);
  clear(8);
  clear(7);
  EXPECT_EQ(luaH_getn(t), 6u);
  EXPECT_FALSE(isrealasize(t));
  EXPECT_EQ(t->alimit, 6u);
  EXPECT_EQ(luaH_realasize(t), 8u);
  // A store beyond the hint still lands in the array and moves the hint.
  seti(7, 7);
  EXPECT_TRUE(inarray(7));
  EXPECT_EQ(luaH_getn(t), 7u);
  seti(8, 8);
  EXPECT_EQ(luaH_getn(t), 8u);
  seti(9, 9);  // grows
  EXPECT_EQ(luaH_getn(t), 9u);
}

TEST_F(TableFixture, TraversalSeesEveryEntryOnce) {
  std::set<long long> want;
  for (int i = 1; i <= 10; i++) {
    seti(i, i);
    want.insert(i);
  }
  for (int i = 0; i < 20; i++) {
    std::string s = "k" + std::to_string(i);
    set(str(s.c_str()), I(100 + i));
    want.insert(100 + i);
  }
  StkId kv = L->top;
  L->top += 2;
  setnilvalue(s2v(kv));
  std::set<long long> seen;
  int n = 0;
  while (luaH_next(L, t, kv)) {
    seen.insert(ivalue(s2v(kv + 1)));
    n++;
    // Removing the current entry does not disturb the traversal.
    if (ttisstring(s2v(kv))) {
      TValue nil;
      setnilvalue(&nil);
      luaH_set(L, t, s2v(kv), &nil);
    }
  }
  EXPECT_EQ(n, 30);
  EXPECT_EQ(seen, want);
  L->top = kv;
}

TEST_F(TableFixture, NextWithAnUnknownKeyFails) {
  seti(1, 1);
  set(str("a"), I(2));
  KeyArgs a{t, str("never there")};
  StkId top = L->top;
  EXPECT_EQ(luaD_rawrunprotected(L, nextkey, &a), LUA_ERRRUN);
  EXPECT_STREQ(svalue(s2v(L->top - 1)), "invalid key to 'next'");
  L->top = top;
}

TEST_F(TableFixture, NewKeysClearTheMetamethodCache) {
  t->flags = 0x3F;
  set(str("x"), I(1));
  EXPECT_EQ(t->flags & 0x3F, 0);
  t->flags |= 0x3F;
  seti(1, 1);
  EXPECT_EQ(t->flags & 0x3F, 0);
  // The absence of "__index" is cached and forgotten once it is added.
  Table *mt = luaH_new(L);
  sethvalue(L, s2v(L->top), mt);
  L->top++;
  EXPECT_EQ(luaT_gettm(mt, TM_INDEX, G(L)->tmname[TM_INDEX]), nullptr);
  EXPECT_TRUE(mt->flags & 1);
  TValue k, v;
  setsvalue(L, &k, G(L)->tmname[TM_INDEX]);
  sethvalue(L, &v, t);
  luaH_set(L, mt, &k, &v);
  EXPECT_FALSE(mt->flags & 1);
  EXPECT_NE(fasttm(L, mt, TM_INDEX), nullptr);
  // Events past the fast ones never touch the flags (bit 7 marks the array limit).
  mt->flags = 0;
  EXPECT_EQ(luaT_gettm(mt, TM_SUB, G(L)->tmname[TM_SUB]), nullptr);
  EXPECT_EQ(mt->flags, 0);
}

TEST_F(TableFixture, ResizeChargesAndShrinkingMovesEntries) {
  alloc.reset_log();
  long long c0 = alloc.charged;
  luaH_resize(L, t, 8, 5);  // 8 slots and 8 nodes
  EXPECT_EQ(alloc.charged - c0, 8 * 16 + 8 * 16);
  EXPECT_EQ(t->lsizenode, 3);
  for (int i = 1; i <= 8; i++) seti(i, i);
  luaH_resize(L, t, 2, 8);  // slots 3..8 move to the hash part
  EXPECT_EQ(luaH_realasize(t), 2u);
  for (int i = 1; i <= 8; i++) EXPECT_EQ(ivalue(luaH_getint(t, i)), i);
  EXPECT_FALSE(inarray(3));
  for (int i = 1; i <= 8; i++) clear(i);
  luaH_resize(L, t, 0, 0);  // nothing left to place
  EXPECT_TRUE(isdummy(t));
  EXPECT_EQ(t->array, nullptr);
}

TEST_F(TableFixture, ManyKeysOfEveryKind) {
  // Enough keys to force collisions and node moves; then everything must be found.
  std::vector<TValue> keys;
  for (int i = 0; i < 300; i++) {
    std::string s = "key" + std::to_string(i * 7919);
    keys.push_back(str(s.c_str()));
    keys.push_back(F(i + 0.25));
    keys.push_back(I((lua_Integer)i * 1000003));
  }
  TValue tru, fal;
  setbtvalue(&tru);
  setbfvalue(&fal);
  keys.push_back(tru);
  keys.push_back(fal);
  for (size_t i = 0; i < keys.size(); i++) set(keys[i], I((lua_Integer)i));
  for (size_t i = 0; i < keys.size(); i++) {
    const TValue *v = get(keys[i]);
    ASSERT_TRUE(ttisinteger(v)) << i;
    EXPECT_EQ(ivalue(v), (lua_Integer)i);
  }
}

TEST_F(TableFixture, RandomOperationsAgreeWithAMap) {
  // Integer keys near the array range, a few strings and floats; stores, deletes, lengths and
  // full traversals checked against a reference after every step.
  std::map<std::string, long long> ref;  // key spelled "i:N", "s:X" or "f:N.5"
  auto keyof = [&](int kind, long long n, TValue *k) {
    if (kind == 0) {
      setivalue(k, n);
      return "i:" + std::to_string(n);
    }
    if (kind == 1) {
      std::string s = "s" + std::to_string(n);
      setsvalue(L, k, luaS_newlstr(L, s.data(), s.size()));
      return "s:" + s;
    }
    setfltvalue(k, (double)n + 0.5);
    return "f:" + std::to_string(n);
  };
  unsigned seed = 4242;
  auto rnd = [&](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int step = 0; step < 6000; step++) {
    int kind = rnd(10) < 7 ? 0 : (rnd(2) ? 1 : 2);
    long long n = (long long)rnd(70) - 3;
    TValue k;
    std::string name = keyof(kind, n, &k);
    if (rnd(3) == 0) {
      TValue nil;
      setnilvalue(&nil);
      if (!isabstkey(luaH_get(t, &k))) luaH_set(L, t, &k, &nil);
      ref.erase(name);
    } else {
      TValue v;
      setivalue(&v, step);
      luaH_set(L, t, &k, &v);
      ref[name] = step;
    }
    if (step % 7 == 0) {
      // A border: t[j] present (or j == 0) and t[j + 1] absent.
      lua_Unsigned j = luaH_getn(t);
      if (j > 0) {
        EXPECT_TRUE(ref.count("i:" + std::to_string(j))) << step;
      }
      EXPECT_FALSE(ref.count("i:" + std::to_string(j + 1))) << step;
    }
    if (step % 50 == 0) {
      size_t seen = 0;
      StkId kv = L->top;
      L->top += 2;
      setnilvalue(s2v(kv));
      while (luaH_next(L, t, kv)) {
        std::string nm;
        if (ttisinteger(s2v(kv)))
          nm = "i:" + std::to_string(ivalue(s2v(kv)));
        else if (ttisstring(s2v(kv)))
          nm = "s:" + std::string(svalue(s2v(kv)));
        else
          nm = "f:" + std::to_string((long long)std::floor(fltvalue(s2v(kv))));
        auto it = ref.find(nm);
        ASSERT_NE(it, ref.end()) << nm;
        EXPECT_EQ(ivalue(s2v(kv + 1)), it->second);
        seen++;
      }
      L->top = kv;
      EXPECT_EQ(seen, ref.size()) << step;
    }
  }
  for (auto &e : ref) {
    TValue k;
    if (e.first[0] == 'i') {
      setivalue(&k, std::stoll(e.first.substr(2)));
    } else if (e.first[0] == 's') {
      setsvalue(L, &k, luaS_new(L, e.first.substr(2).c_str()));
    } else {
      setfltvalue(&k, (double)std::stoll(e.first.substr(2)) + 0.5);
    }
    const TValue *v = luaH_get(t, &k);
    ASSERT_TRUE(ttisinteger(v)) << e.first;
    EXPECT_EQ(ivalue(v), e.second);
  }
}
