// Strings: hashing, the interning table, long strings, the API cache and full userdata.
#include "lua/string.h"

#include "kernel/kernel.h"
#include "lua/debug.h"
#include "lua/do.h"
#include "lua/mem.h"

// The largest bucket count the table may double to.
#define MAXSTRTB cast_int(luaM_limitN(MAX_INT, TString *))

static_assert(offsetof(TString, contents) == 24, "string header is 24 bytes");
static_assert(offsetof(Udata0, bindata) == 32, "userdata header");
static_assert(offsetof(Udata, uv) == 40, "userdata with user values header");

// Charges: a string costs its length + 32, a userdata its payload + 56.
#define STRING_CHARGE(l) ((l) + 32)
#define UDATA_CHARGE(s) ((s) + 56)

size_t luaS_eqprefix(const char *a, const char *b, size_t n) {
  // Blocks double from 64 bytes: strings that differ early cost little, and what is looked
  // at stays within twice the common prefix.
  size_t done = 0, block = 64;
  while (done < n) {
    size_t k = n - done < block ? n - done : block;
    if (memcmp(a + done, b + done, k) != 0) {
      native_work_add((int64_t)(done + k) * WORK_BYTE_COMPARED);
      return done;
    }
    done += k;
    block <<= 1;
  }
  native_work_add((int64_t)n * WORK_BYTE_COMPARED);
  return n;
}

int luaS_eqlngstr(TString *a, TString *b) {
  size_t len = a->u.lnglen;
  lua_assert(a->tt == LUA_VLNGSTR && b->tt == LUA_VLNGSTR);
  return (a == b) || ((len == b->u.lnglen) && luaS_eqprefix(getstr(a), getstr(b), len) == len);
}

unsigned int luaS_hash(const char *str, size_t l, unsigned int seed) {
  unsigned int h = seed ^ cast_uint(l);
  for (; l > 0; l--) h ^= ((h << 5) + (h >> 2) + cast_byte(str[l - 1]));
  return h;
}

unsigned int luaS_hashlongstr(TString *ts) {
  lua_assert(ts->tt == LUA_VLNGSTR);
  if (ts->extra == 0) {  // hashed lazily, with the seed stored at creation
    native_work_add((int64_t)ts->u.lnglen * WORK_BYTE_HASHED);
    ts->hash = luaS_hash(getstr(ts), ts->u.lnglen, ts->hash);
    ts->extra = 1;
  }
  return ts->hash;
}

static void tablerehash(TString **vect, int osize, int nsize) {
  for (int i = osize; i < nsize; i++) vect[i] = NULL;
  for (int i = 0; i < osize; i++) {
    TString *p = vect[i];
    vect[i] = NULL;
    while (p) {
      TString *hnext = p->u.hnext;
      unsigned int h = lmod(p->hash, (unsigned int)nsize);
      p->u.hnext = vect[h];
      vect[h] = p;
      p = hnext;
    }
  }
}

void luaS_resize(lua_State *L, int nsize) {
  stringtable *tb = &G(L)->strt;
  int osize = tb->size;
  if (nsize < osize) tablerehash(tb->hash, osize, nsize);  // empty the vanishing part first
  TString **newvect = luaM_reallocvector(L, tb->hash, osize, nsize, TString *);
  if (l_unlikely(newvect == NULL)) {
    if (nsize < osize) tablerehash(tb->hash, nsize, osize);  // back to the old layout
  } else {
    tb->hash = newvect;
    tb->size = nsize;
    if (nsize > osize) tablerehash(newvect, osize, nsize);
  }
}

void luaS_clearcache(global_State *g) {
  for (int i = 0; i < STRCACHE_N; i++)
    for (int j = 0; j < STRCACHE_M; j++)
      if (iswhite(g->strcache[i][j])) g->strcache[i][j] = g->memerrmsg;
}

void luaS_init(lua_State *L) {
  global_State *g = G(L);
  stringtable *tb = &g->strt;
  tb->hash = luaM_newvector(L, MINSTRTABSIZE, TString *);
  tablerehash(tb->hash, 0, MINSTRTABSIZE);
  tb->size = MINSTRTABSIZE;
  g->memerrmsg = luaS_newliteral(L, MEMERRMSG);
  luaC_fix(L, obj2gco(g->memerrmsg));
  for (int i = 0; i < STRCACHE_N; i++)
    for (int j = 0; j < STRCACHE_M; j++) g->strcache[i][j] = g->memerrmsg;
}

static TString *createstrobj(lua_State *L, size_t l, int tag, unsigned int h) {
  GCObject *o = luaC_newobj(L, tag, sizelstring(l), STRING_CHARGE(l));
  TString *ts = gco2ts(o);
  ts->hash = h;
  ts->extra = 0;
  getstr(ts)[l] = '\0';
  return ts;
}

TString *luaS_createlngstrobj(lua_State *L, size_t l) {
  if (l_unlikely(l >= (MAX_SIZE - sizeof(TString)) / sizeof(char))) luaM_toobig(L);
  TString *ts = createstrobj(L, l, LUA_VLNGSTR, G(L)->seed);
  ts->u.lnglen = l;
  return ts;
}

void luaS_remove(lua_State *L, TString *ts) {
  stringtable *tb = &G(L)->strt;
  TString **p = &tb->hash[lmod(ts->hash, (unsigned int)tb->size)];
  while (*p != ts) p = &(*p)->u.hnext;
  *p = (*p)->u.hnext;
  tb->nuse--;
}

static void growstrtab(lua_State *L, stringtable *tb) {
  if (l_unlikely(tb->nuse == MAX_INT)) {
    luaC_fullgc(L, 1);
    if (tb->nuse == MAX_INT) luaM_error(L);
  }
  if (tb->size <= MAXSTRTB / 2) luaS_resize(L, tb->size * 2);
}

// Short strings are mostly a few bytes: the first byte settles most mismatches, and a
// 1-byte string needs no call to compare.
static inline bool sameshort(const char *a, const char *b, size_t l) {
  if (l == 0) return true;
  if (a[0] != b[0]) return false;
  return l == 1 || memcmp(a + 1, b + 1, l - 1) == 0;
}

// A short string that is not in the table yet, out of line so that the lookup stays small.
[[gnu::noinline]] static TString *newshrstr(lua_State *L, const char *str, size_t l, unsigned int h) {
  stringtable *tb = &G(L)->strt;
  if (tb->nuse >= tb->size) growstrtab(L, tb);
  TString **list = &tb->hash[lmod(h, (unsigned int)tb->size)];
  TString *ts = createstrobj(L, l, LUA_VSHRSTR, h);
  if (l > 0) memcpy(getstr(ts), str, l * sizeof(char));
  ts->shrlen = cast_byte(l);
  ts->u.hnext = *list;
  *list = ts;
  tb->nuse++;
  return ts;
}

static TString *internshrstr(lua_State *L, const char *str, size_t l) {
  global_State *g = G(L);
  stringtable *tb = &g->strt;
  unsigned int h = luaS_hash(str, l, g->seed);
  // The stored hash settles most mismatches before the bytes are compared.
  for (TString *ts = tb->hash[lmod(h, (unsigned int)tb->size)]; ts != NULL; ts = ts->u.hnext) {
    if (ts->hash == h && l == ts->shrlen && sameshort(str, getstr(ts), l)) {
      if (isdead(g, ts)) changewhite(ts);  // dead but not yet swept: bring it back
      return ts;
    }
  }
  return newshrstr(L, str, l, h);
}

TString *luaS_newlstr(lua_State *L, const char *str, size_t l) {
  if (l <= LUAI_MAXSHORTLEN) return internshrstr(L, str, l);
  TString *ts = luaS_createlngstrobj(L, l);
  memcpy(getstr(ts), str, l * sizeof(char));
  return ts;
}

// C strings from the API go through a small cache keyed by their address.
TString *luaS_new(lua_State *L, const char *str) {
  unsigned int i = point2uint(str) % STRCACHE_N;
  TString **p = G(L)->strcache[i];
  for (int j = 0; j < STRCACHE_M; j++) {
    if (strcmp(str, getstr(p[j])) == 0) return p[j];
  }
  for (int j = STRCACHE_M - 1; j > 0; j--) p[j] = p[j - 1];
  p[0] = luaS_newlstr(L, str, strlen(str));
  return p[0];
}

Udata *luaS_newudata(lua_State *L, size_t s, int nuvalue) {
  if (l_unlikely(s > MAX_SIZE - udatamemoffset(nuvalue))) luaM_toobig(L);
  GCObject *o = luaC_newobj(L, LUA_VUSERDATA, sizeudata(nuvalue, s), UDATA_CHARGE(s));
  Udata *u = gco2u(o);
  u->len = s;
  u->nuvalue = cast(unsigned short, nuvalue);
  u->metatable = NULL;
  if (nuvalue > 0) u->gclist = NULL;
  for (int i = 0; i < nuvalue; i++) setnilvalue(&u->uv[i].uv);
  return u;
}
