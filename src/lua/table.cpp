// Tables: an array part for the keys 1..n and a hash part of chained nodes (Brent's
// variation: a colliding node that is not in its main position is moved out of the way).
#include "lua/table.h"

#include "kernel/kernel.h"
#include "lua/debug.h"
#include "lua/do.h"
#include "lua/gc.h"
#include "lua/mem.h"
#include "lua/state.h"
#include "lua/string.h"

static_assert(sizeof(Node) == 24, "node layout");
static_assert(sizeof(Table) == 56, "table record layout");

// Largest array part: 2^MAXABITS slots.
#define MAXABITS cast_int(sizeof(int) * CHAR_BIT - 1)
#define MAXASIZE luaM_limitN(1u << MAXABITS, TValue)
// Largest hash part: 2^MAXHBITS nodes.
#define MAXHBITS (MAXABITS - 1)
#define MAXHSIZE luaM_limitN(1u << MAXHBITS, Node)

// Charges: the record 56, array slots 16 each, nodes 16 each (24 requested).
#define TABLE_CHARGE 56

// The index stays unsigned, sparing a sign extension.
#define hashpow2(t, n) ((t)->node + ((n) & ((1u << (t)->lsizenode) - 1u)))
#define hashmod(t, n) (gnode(t, ((n) % ((unsigned int)(sizenode(t) - 1) | 1u))))
#define hashstr(t, str) hashpow2(t, (str)->hash)
#define hashboolean(t, p) hashpow2(t, (unsigned int)(p))
#define hashint(t, i) hashpow2(t, (unsigned int)l_castS2U(i))
#define hashpointer(t, p) hashmod(t, point2uint(p))

#define limitequalsasize(t) (isrealasize(t) || ispow2((t)->alimit))

// The shared hash part of every table without one: a single free node, never written.
static const Node dummynode_ = {{{NULL}, LUA_VEMPTY, LUA_VNIL, 0, {NULL}}};
#define dummynode (&dummynode_)

const TValue luaH_absentkey = {ABSTKEYCONSTANT};
#define absentkey luaH_absentkey
const TValue luaH_longkey = {ABSTKEYCONSTANT};

// A float with an exact integer value in range becomes that integer (NaN fails the test).
static int flttoint(lua_Number n, lua_Integer *p) {
  return std::floor(n) == n && lua_numbertointeger(n, p);
}

static int l_hashfloat(lua_Number n) {
  int i;
  lua_Integer ni;
  n = std::frexp(n, &i) * -cast_num(INT_MIN);
  if (!lua_numbertointeger(n, &ni)) return 0;  // inf or NaN
  unsigned int u = cast_uint(i) + cast_uint(l_castS2U(ni));
  return cast_int(u <= cast_uint(INT_MAX) ? u : ~u);
}

static Node *mainposition(const Table *t, int ktt, const Value *kvl) {
  switch (withvariant(ktt)) {
    case LUA_VNUMINT: return hashint(t, ivalueraw(*kvl));
    case LUA_VNUMFLT: return hashmod(t, cast_uint(l_hashfloat(fltvalueraw(*kvl))));
    case LUA_VSHRSTR: return hashstr(t, tsvalueraw(*kvl));
    case LUA_VLNGSTR: return hashpow2(t, luaS_hashlongstr(tsvalueraw(*kvl)));
    case LUA_VFALSE: return hashboolean(t, 0);
    case LUA_VTRUE: return hashboolean(t, 1);
    case LUA_VLIGHTUSERDATA: return hashpointer(t, pvalueraw(*kvl));
    case LUA_VLCF: return hashpointer(t, (void *)fvalueraw(*kvl));
    default: return hashpointer(t, gcvalueraw(*kvl));
  }
}

// With the two commonest kinds of key inline.
static inline Node *mainpositionkey(const Table *t, int ktt, const Value *kvl) {
  if (ktt == ctb(LUA_VSHRSTR)) return hashstr(t, gco2ts(kvl->gc));
  if (ktt == LUA_VNUMINT) return hashint(t, kvl->i);
  return mainposition(t, ktt, kvl);
}

static Node *mainpositionTV(const Table *t, const TValue *key) {
  return mainpositionkey(t, rawtt(key), valraw(key));
}

// Whether a key equals a node's key. Dead keys match only during traversal, by identity.
static int equalkey(const TValue *k1, const Node *n2, int deadok) {
  if (rawtt(k1) != keytt(n2) && !(deadok && keyisdead(n2) && iscollectable(k1))) return 0;
  switch (keytt(n2)) {
    case LUA_VNIL: case LUA_VFALSE: case LUA_VTRUE: return 1;
    case LUA_VNUMINT: return ivalue(k1) == keyival(n2);
    case LUA_VNUMFLT: return luai_numeq(fltvalue(k1), fltvalueraw(keyval(n2)));
    case LUA_VLIGHTUSERDATA: return pvalue(k1) == pvalueraw(keyval(n2));
    case LUA_VLCF: return fvalue(k1) == fvalueraw(keyval(n2));
    case ctb(LUA_VLNGSTR): return luaS_eqlngstr(tsvalue(k1), keystrval(n2));
    default: return gcvalue(k1) == gcvalueraw(keyval(n2));
  }
}

unsigned int luaH_realasize(const Table *t) {
  if (limitequalsasize(t)) return t->alimit;
  unsigned int size = t->alimit;  // the smallest power of 2 not below the limit
  size |= (size >> 1);
  size |= (size >> 2);
  size |= (size >> 4);
  size |= (size >> 8);
  size |= (size >> 16);
  size++;
  lua_assert(ispow2(size) && size / 2 < t->alimit && t->alimit < size);
  return size;
}

// Whether the limit may act as a length hint: it is one already, or it is the real size
// and a power of 2.
static int ispow2realasize(const Table *t) { return (!isrealasize(t) || ispow2(t->alimit)); }

static unsigned int setlimittosize(Table *t) {
  t->alimit = luaH_realasize(t);
  setrealasize(t);
  return t->alimit;
}

#define limitasasize(t) check_exp(isrealasize(t), t->alimit)

static const TValue *getgeneric(Table *t, const TValue *key, int deadok) {
  Node *n = mainpositionTV(t, key);
  for (;;) {
    if (equalkey(key, n, deadok)) return gval(n);
    int nx = gnext(n);
    if (nx == 0) return &absentkey;
    n += nx;
  }
}

// Index of an integer key that may live in an array part, or 0.
static unsigned int arrayindex(lua_Integer k) {
  if (l_castS2U(k) - 1u < MAXASIZE) return cast_uint(k);
  return 0;
}

// getgeneric(t, key, 1) with the walks for integer and short-string keys inline. A dead key
// still matches a collectable key by identity.
static const TValue *findfornext(Table *t, const TValue *key) {
  if (ttisinteger(key)) {
    lua_Integer k = ivalue(key);
    for (Node *n = hashint(t, k);; n += gnext(n)) {
      if (keyisinteger(n) && keyival(n) == k) return gval(n);
      if (gnext(n) == 0) return &absentkey;
    }
  }
  if (ttisshrstring(key)) {
    GCObject *o = gcvalue(key);
    for (Node *n = hashstr(t, gco2ts(o));; n += gnext(n)) {
      if ((keyisshrstr(n) || keyisdead(n)) && keyval(n).gc == o) return gval(n);
      if (gnext(n) == 0) return &absentkey;
    }
  }
  return getgeneric(t, key, 1);
}

// Position of a key in traversal order: array slots first, then nodes.
static unsigned int findindex(lua_State *L, Table *t, TValue *key, unsigned int asize) {
  if (ttisnil(key)) return 0;
  if (ttisinteger(key) && l_castS2U(ivalue(key)) - 1u < asize)
    return cast_uint(ivalue(key));
  const TValue *n = findfornext(t, key);
  if (l_unlikely(isabstkey(n))) luaG_runerror(L, "invalid key to 'next'");
  unsigned int i = cast_uint(nodefromval(n) - gnode(t, 0));
  return (i + 1) + asize;
}

// Empty slots skipped in one step count as native work: a table emptied after it was large
// would otherwise let each call scan all of it for a few cycles.
static void meterskip(unsigned int from, unsigned int to) {
  if (l_unlikely(to - from > 64)) native_work_add((int64_t)(to - from) * WORK_BYTE_SCANNED);
}

int luaH_next(lua_State *L, Table *t, TValue *key) {
  unsigned int asize = luaH_realasize(t);
  unsigned int start = findindex(L, t, s2v(key), asize);
  unsigned int i = start;
  for (; i < asize; i++) {
    if (!isempty(&t->array[i])) {
      meterskip(start, i);
      setivalue(s2v(key), (lua_Integer)i + 1);
      setobj2s(L, key + 1, &t->array[i]);
      return 1;
    }
  }
  for (i -= asize; cast_int(i) < sizenode(t); i++) {
    if (!isempty(gval(gnode(t, i)))) {
      meterskip(start, i + asize);
      Node *n = gnode(t, i);
      getnodekey(L, s2v(key), n);
      setobj2s(L, key + 1, gval(n));
      return 1;
    }
  }
  meterskip(start, i + asize);
  return 0;
}

static void freehash(lua_State *L, Table *t) {
  if (!isdummy(t)) luaM_freearray(L, t->node, cast_sizet(sizenode(t)));
}

// ---- Rehash ----

// Picks the largest power of 2 n such that more than n/2 of the slots 1..n would be used.
static unsigned int computesizes(unsigned int nums[], unsigned int *pna) {
  int i;
  unsigned int twotoi;
  unsigned int a = 0;
  unsigned int na = 0;
  unsigned int optimal = 0;
  for (i = 0, twotoi = 1; twotoi > 0 && *pna > twotoi / 2; i++, twotoi *= 2) {
    a += nums[i];
    if (a > twotoi / 2) {
      optimal = twotoi;
      na = a;
    }
  }
  lua_assert((optimal == 0 || optimal / 2 < na) && na <= optimal);
  *pna = na;
  return optimal;
}

static int countint(lua_Integer key, unsigned int *nums) {
  unsigned int k = arrayindex(key);
  if (k != 0) {
    nums[luaO_ceillog2(k)]++;
    return 1;
  }
  return 0;
}

// Counts the used array slots per slice (2^(lg-1), 2^lg].
static unsigned int numusearray(const Table *t, unsigned int *nums) {
  int lg;
  unsigned int ttlg;
  unsigned int ause = 0;
  unsigned int i = 1;
  unsigned int asize = limitasasize(t);
  for (lg = 0, ttlg = 1; lg <= MAXABITS; lg++, ttlg *= 2) {
    unsigned int lc = 0;
    unsigned int lim = ttlg;
    if (lim > asize) {
      lim = asize;
      if (i > lim) break;
    }
    for (; i <= lim; i++) {
      if (!isempty(&t->array[i - 1])) lc++;
    }
    nums[lg] += lc;
    ause += lc;
  }
  return ause;
}

static int numusehash(const Table *t, unsigned int *nums, unsigned int *pna) {
  int totaluse = 0;
  int ause = 0;
  int i = sizenode(t);
  while (i--) {
    Node *n = &t->node[i];
    if (!isempty(gval(n))) {
      if (keyisinteger(n)) ause += countint(keyival(n), nums);
      totaluse++;
    }
  }
  *pna += cast_uint(ause);
  return totaluse;
}

static void setnodevector(lua_State *L, Table *t, unsigned int size) {
  if (size == 0) {
    t->node = cast(Node *, dummynode);
    t->lsizenode = 0;
    t->lastfree = NULL;  // marks the dummy
  } else {
    int lsize = luaO_ceillog2(size);
    if (lsize > MAXHBITS || (1u << lsize) > MAXHSIZE) luaG_runerror(L, "table overflow");
    size = twoto(lsize);
    t->node = luaM_newvector(L, size, Node);
    for (unsigned int i = 0; i < size; i++) {
      Node *n = gnode(t, i);
      gnext(n) = 0;
      setnilkey(n);
      setempty(gval(n));
    }
    t->lsizenode = cast_byte(lsize);
    t->lastfree = gnode(t, size);  // every node is free
  }
}

// The keys of the old hash part are distinct and none of them is in the new parts yet, so
// only an integer key can find a slot (in the array part): the others go straight to a new
// node, as luaH_set would put them after a lookup that misses. A long key still takes the
// lookup, whose byte comparisons are metered native work.
static void reinsert(lua_State *L, Table *ot, Table *t) {
  int size = sizenode(ot);
  for (int j = 0; j < size; j++) {
    Node *old = gnode(ot, j);
    if (!isempty(gval(old))) {
      TValue k;
      getnodekey(L, &k, old);
      if (keyisinteger(old) && l_castS2U(keyival(old)) - 1u < t->alimit) {
        setobj2t(L, &t->array[keyival(old) - 1], gval(old));  // the limit is the real size here
        invalidateTMcache(t);
      } else if (keytt(old) == ctb(LUA_VLNGSTR)) {
        luaH_set(L, t, &k, gval(old));
      } else {
        TValue *cell = luaH_newkey(L, t, &k);
        setobj2t(L, cell, gval(old));
        invalidateTMcache(t);
      }
    }
  }
}

static void exchangehashpart(Table *t1, Table *t2) {
  lu_byte lsizenode = t1->lsizenode;
  Node *node = t1->node;
  Node *lastfree = t1->lastfree;
  t1->lsizenode = t2->lsizenode;
  t1->node = t2->node;
  t1->lastfree = t2->lastfree;
  t2->lsizenode = lsizenode;
  t2->node = node;
  t2->lastfree = lastfree;
}

void luaH_resize(lua_State *L, Table *t, unsigned int newasize, unsigned int nhsize) {
  Table newt;  // holds the new hash part until the array is in place
  unsigned int oldasize = setlimittosize(t);
  if (nhsize == 0 && isdummy(t) && newasize >= oldasize) {  // only an array part that grows
    TValue *newarray = luaM_reallocvector(L, t->array, oldasize, newasize, TValue);
    if (l_unlikely(newarray == NULL && newasize > 0)) luaM_error(L);
    t->array = newarray;
    t->alimit = newasize;
    for (unsigned int i = oldasize; i < newasize; i++) setempty(&t->array[i]);
    return;
  }
  setnodevector(L, &newt, nhsize);
  if (newasize < oldasize) {  // the vanishing slice goes into the new hash part
    t->alimit = newasize;
    exchangehashpart(t, &newt);
    for (unsigned int i = newasize; i < oldasize; i++) {
      if (!isempty(&t->array[i])) luaH_setint(L, t, (lua_Integer)i + 1, &t->array[i]);
    }
    t->alimit = oldasize;
    exchangehashpart(t, &newt);
  }
  TValue *newarray = luaM_reallocvector(L, t->array, oldasize, newasize, TValue);
  if (l_unlikely(newarray == NULL && newasize > 0)) {
    freehash(L, &newt);
    luaM_error(L);  // the table keeps its old parts
  }
  exchangehashpart(t, &newt);
  t->array = newarray;
  t->alimit = newasize;
  for (unsigned int i = oldasize; i < newasize; i++) setempty(&t->array[i]);
  reinsert(L, &newt, t);  // newt now holds the old hash part
  freehash(L, &newt);
}

// A constructor's table is fresh (no array, the shared dummy node): it gets its parts as
// luaH_resize would give them, the nodes first and then the array, with the same requests,
// but without the moves and reinsertion that only a used table needs.
void luaH_presize(lua_State *L, Table *t, unsigned int nasize, unsigned int nhsize) {
  lua_assert(t->array == NULL && t->alimit == 0 && isdummy(t) && isrealasize(t));
  Table newt;
  setnodevector(L, &newt, nhsize);
  if (nasize > 0) {  // a zero-size request for no block is no request at all
    TValue *newarray = luaM_reallocvector(L, NULL, 0, nasize, TValue);
    if (l_unlikely(newarray == NULL)) {
      freehash(L, &newt);
      luaM_error(L);  // the table keeps the dummy node
    }
    for (unsigned int i = 0; i < nasize; i++) setempty(&newarray[i]);
    t->array = newarray;
    t->alimit = nasize;
  }
  t->node = newt.node;
  t->lsizenode = newt.lsizenode;
  t->lastfree = newt.lastfree;
}

void luaH_resizearray(lua_State *L, Table *t, unsigned int nasize) {
  unsigned int nsize = cast_uint(allocsizenode(t));
  luaH_resize(L, t, nasize, nsize);
}

// No free node is left: size both parts again from the keys present and the one coming.
static void rehash(lua_State *L, Table *t, const TValue *ek) {
  unsigned int nums[MAXABITS + 1];
  for (int i = 0; i <= MAXABITS; i++) nums[i] = 0;
  setlimittosize(t);
  unsigned int na = numusearray(t, nums);  // integer keys that may go to the array
  unsigned int totaluse = na;
  totaluse += cast_uint(numusehash(t, nums, &na));
  if (ttisinteger(ek)) na += cast_uint(countint(ivalue(ek), nums));
  totaluse++;  // the new key
  unsigned int asize = computesizes(nums, &na);
  // The new key is already in totaluse: the hash part holds exactly the keys left over.
  luaH_resize(L, t, asize, totaluse - na);
}

Table *luaH_new(lua_State *L) {
  GCObject *o = luaC_newobj(L, LUA_VTABLE, sizeof(Table), TABLE_CHARGE);
  Table *t = gco2t(o);
  t->metatable = NULL;
  t->flags = cast_byte(maskflags);  // no metamethods known to be present
  t->array = NULL;
  t->alimit = 0;
  t->gclist = NULL;
  setnodevector(L, t, 0);
  return t;
}

void luaH_free(lua_State *L, Table *t) {
  freehash(L, t);
  luaM_freearray(L, t->array, cast_sizet(luaH_realasize(t)));
  luaM_free_(L, t, sizeof(Table));
}

static Node *getfreepos(Table *t) {
  if (!isdummy(t)) {
    while (t->lastfree > t->node) {
      t->lastfree--;
      if (keyisnil(t->lastfree)) return t->lastfree;
    }
  }
  return NULL;
}

static TValue *getorcreate(lua_State *L, Table *t, const TValue *key) {
  const TValue *slot = luaH_get(t, key);
  if (isabstkey(slot)) return luaH_newkey(L, t, key);
  return cast(TValue *, slot);
}

// Puts an absent key, already normalised, at its main position mp or in a free node; NULL
// when no free node is left (the caller rehashes).
[[gnu::always_inline]] static inline TValue *insertkey(lua_State *L, Table *t, const TValue *key,
                                                      Node *mp) {
  if (!isempty(gval(mp)) || isdummy(t)) {  // main position taken
    Node *f = getfreepos(t);
    if (f == NULL) return NULL;
    lua_assert(!isdummy(t));
    Node *othern = mainpositionkey(t, keytt(mp), &keyval(mp));
    if (othern != mp) {  // the occupant is out of its main position: move it
      while (othern + gnext(othern) != mp) othern += gnext(othern);
      gnext(othern) = cast_int(f - othern);
      *f = *mp;
      if (gnext(mp) != 0) {
        gnext(f) += cast_int(mp - f);
        gnext(mp) = 0;
      }
      setempty(gval(mp));
    } else {  // the occupant belongs here: the new key takes the free node
      if (gnext(mp) != 0)
        gnext(f) = cast_int((mp + gnext(mp)) - f);
      else
        lua_assert(gnext(f) == 0);
      gnext(mp) = cast_int(f - mp);
      mp = f;
    }
  }
  setnodekey(L, mp, key);
  luaC_barrierback(L, obj2gco(t), key);
  lua_assert(isempty(gval(mp)));
  return gval(mp);
}

TValue *luaH_newkey(lua_State *L, Table *t, const TValue *key) {
  TValue aux;
  if (l_unlikely(ttisnil(key))) luaG_runerror(L, "table index is nil");
  if (ttisfloat(key)) {
    lua_Number f = fltvalue(key);
    lua_Integer k;
    if (flttoint(f, &k)) {
      setivalue(&aux, k);
      key = &aux;
    } else if (l_unlikely(luai_numisnan(f))) {
      luaG_runerror(L, "table index is NaN");
    }
  }
  invalidateTMcache(t);  // the key gains a value it lacked
  TValue *cell = insertkey(L, t, key, mainpositionTV(t, key));
  if (cell == NULL) {
    rehash(L, t, key);
    return getorcreate(L, t, key);  // the table has room now
  }
  return cell;
}

// The rest of luaH_setnewkey: a key whose main position is taken.
[[gnu::noinline]] static int setnewkey_taken(lua_State *L, Table *t, const TValue *key, Node *mp,
                                             TValue *value) {
  TValue *cell = insertkey(L, t, key, mp);
  if (l_unlikely(cell == NULL)) return 0;  // luaH_newkey will find no free node either
  setobj2t(L, cell, value);
  luaC_barrierback(L, obj2gco(t), value);
  return 1;
}

int luaH_setnewkey(lua_State *L, Table *t, const TValue *key, TValue *value) {
  lua_assert(ttisshrstring(key) || ttisinteger(key));
  if (isdummy(t) || fasttm(L, t->metatable, TM_NEWINDEX) != NULL) return 0;  // no free node
  invalidateTMcache(t);
  Node *mp = ttisinteger(key) ? hashint(t, ivalue(key)) : hashstr(t, tsvalue(key));
  if (l_unlikely(!isempty(gval(mp)))) return setnewkey_taken(L, t, key, mp, value);
  // The common case of a table being filled, kept free of calls but for the barriers.
  luaH_fillmainposition(L, t, mp, key, value);
  return 1;
}

const TValue *luaH_getint(Table *t, lua_Integer key) {
  if (l_castS2U(key) - 1u < t->alimit) return &t->array[key - 1];
  if (!limitequalsasize(t) &&
      (l_castS2U(key) == (lua_Unsigned)t->alimit + 1u ||
       l_castS2U(key) - 1u < luaH_realasize(t))) {
    t->alimit = cast_uint(key);  // the length is probably here now
    return &t->array[key - 1];
  }
  Node *n = hashint(t, key);
  for (;;) {
    if (keyisinteger(n) && keyival(n) == key) return gval(n);
    int nx = gnext(n);
    if (nx == 0) break;
    n += nx;
  }
  return &absentkey;
}

const TValue *luaH_getshortstr(Table *t, TString *key) {
  Node *n = hashstr(t, key);
  lua_assert(key->tt == LUA_VSHRSTR);
  for (;;) {
    if (keyisshrstr(n) && eqshrstr(keystrval(n), key)) return gval(n);
    int nx = gnext(n);
    if (nx == 0) return &absentkey;
    n += nx;
  }
}

const TValue *luaH_getstr(Table *t, TString *key) {
  if (key->tt == LUA_VSHRSTR) return luaH_getshortstr(t, key);
  TValue ko;
  setsvalue(cast(lua_State *, NULL), &ko, key);
  return getgeneric(t, &ko, 0);
}

const TValue *luaH_get(Table *t, const TValue *key) {
  switch (ttypetag(key)) {
    case LUA_VSHRSTR: return luaH_getshortstr(t, tsvalue(key));
    case LUA_VNUMINT: return luaH_getint(t, ivalue(key));
    case LUA_VNIL: case LUA_VEMPTY: case LUA_VABSTKEY: return &absentkey;
    case LUA_VNUMFLT: {
      lua_Integer k;
      if (flttoint(fltvalue(key), &k)) return luaH_getint(t, k);
      return getgeneric(t, key, 0);
    }
    default: return getgeneric(t, key, 0);
  }
}

const TValue *luaH_getnolong(Table *t, const TValue *key) {
  switch (ttypetag(key)) {
    case LUA_VSHRSTR: return luaH_getshortstr(t, tsvalue(key));
    case LUA_VNUMINT: return luaH_getint(t, ivalue(key));
    case LUA_VNIL: case LUA_VEMPTY: case LUA_VABSTKEY: return &absentkey;
    case LUA_VLNGSTR: return &luaH_longkey;
    case LUA_VNUMFLT: {
      lua_Integer k;
      if (flttoint(fltvalue(key), &k)) return luaH_getint(t, k);
      return getgeneric(t, key, 0);
    }
    default: return getgeneric(t, key, 0);
  }
}

void luaH_set(lua_State *L, Table *t, const TValue *key, TValue *value) {
  TValue *cell = getorcreate(L, t, key);
  setobj2t(L, cell, value);
  invalidateTMcache(t);
}

void luaH_setint(lua_State *L, Table *t, lua_Integer key, TValue *value) {
  const TValue *p = luaH_getint(t, key);
  TValue *cell;
  if (isabstkey(p)) {
    TValue k;
    setivalue(&k, key);
    cell = luaH_newkey(L, t, &k);
  } else {
    cell = cast(TValue *, p);
  }
  setobj2t(L, cell, value);
  invalidateTMcache(t);
}

// ---- Length ----

static lua_Unsigned hash_search(Table *t, lua_Unsigned j) {
  lua_Unsigned i;
  if (j == 0) j++;  // the caller made sure t[j + 1] is present
  do {
    i = j;  // a present index
    if (j <= l_castS2U(LUA_MAXINTEGER) / 2) {
      j *= 2;
    } else {
      j = LUA_MAXINTEGER;
      if (isempty(luaH_getint(t, l_castU2S(j)))) break;
      return j;  // max integer is a border
    }
  } while (!isempty(luaH_getint(t, l_castU2S(j))));
  while (j - i > 1u) {  // t[i] present, t[j] absent
    lua_Unsigned m = (i + j) / 2;
    if (isempty(luaH_getint(t, l_castU2S(m))))
      j = m;
    else
      i = m;
  }
  return i;
}

static unsigned int binsearch(const TValue *array, unsigned int i, unsigned int j) {
  while (j - i > 1u) {
    unsigned int m = (i + j) / 2;
    if (isempty(&array[m - 1]))
      j = m;
    else
      i = m;
  }
  return i;
}

lua_Unsigned luaH_getn(Table *t) {
  unsigned int limit = t->alimit;
  if (limit > 0 && isempty(&t->array[limit - 1])) {  // a border lies below the limit
    if (limit >= 2 && !isempty(&t->array[limit - 2])) {
      if (ispow2realasize(t) && !ispow2(limit - 1)) {
        t->alimit = limit - 1;
        setnorealasize(t);
      }
      return limit - 1;
    }
    unsigned int border = binsearch(t->array, 0, limit);
    if (ispow2realasize(t) && border > luaH_realasize(t) / 2) {
      t->alimit = border;
      setnorealasize(t);
    }
    return border;
  }
  if (!limitequalsasize(t)) {  // the limit is only a hint and t[limit] is present
    if (isempty(&t->array[limit])) return limit;
    limit = luaH_realasize(t);
    if (isempty(&t->array[limit - 1])) {
      unsigned int border = binsearch(t->array, t->alimit, limit);
      t->alimit = border;
      return border;
    }
    t->alimit = limit;  // the array is full
  }
  lua_assert(limit == luaH_realasize(t) && (limit == 0 || !isempty(&t->array[limit - 1])));
  if (isdummy(t) || isempty(luaH_getint(t, cast(lua_Integer, limit) + 1))) return limit;
  return hash_search(t, limit);
}
