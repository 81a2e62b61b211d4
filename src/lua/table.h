// Tables: array part and hash part.
#pragma once

#include "lua/gc.h"
#include "lua/object.h"
#include "lua/tm.h"

#define gnode(t, i) (&(t)->node[i])
#define gval(n) (&(n)->i_val)
#define gnext(n) ((n)->u.next)

// Clear the metamethod-absence cache: a key may have gained a value.
#define invalidateTMcache(t) ((t)->flags &= ~maskflags)
#define maskflags (~(~0u << (TM_EQ + 1)))

// True when 't' uses the shared dummy node.
#define isdummy(t) ((t)->lastfree == NULL)

#define allocsizenode(t) (isdummy(t) ? 0 : sizenode(t))

// Returns the node whose value is 'v'.
#define nodefromval(v) cast(Node *, (v))

const TValue *luaH_getint(Table *t, lua_Integer key);
void luaH_setint(lua_State *L, Table *t, lua_Integer key, TValue *value);
const TValue *luaH_getshortstr(Table *t, TString *key);
const TValue *luaH_getstr(Table *t, TString *key);
const TValue *luaH_get(Table *t, const TValue *key);
// As luaH_get, but a long string key always looks absent (the slot luaH_longkey). The
// interpreter's fast paths use it: comparing a long key's bytes is native work, which may end
// the slice, so such keys go through luaV_finishget and luaV_finishset, which look them up,
// after which the interpreter looks at the budget.
const TValue *luaH_getnolong(Table *t, const TValue *key);
extern const TValue luaH_longkey;
// The slot every lookup returns for an absent key (long keys aside, above).
extern const TValue luaH_absentkey;
TValue *luaH_newkey(lua_State *L, Table *t, const TValue *key);
// The raw store of an absent integer or short-string key into a table whose metatable is
// known to lack __newindex, when no rehash is needed; 0 (and no store) otherwise. It never
// allocates, raises, runs code or charges, so the interpreter may call it unprotected.
int luaH_setnewkey(lua_State *L, Table *t, const TValue *key, TValue *value);
// Puts an absent key and its value into mp, the key's main position, found free; the caller
// has cleared the metamethod cache.
[[gnu::always_inline]] inline void luaH_fillmainposition(lua_State *L, Table *t, Node *mp,
                                                        const TValue *key, const TValue *value) {
  setnodekey(L, mp, key);
  setobj2t(L, gval(mp), value);
  if (l_unlikely(isblack(obj2gco(t))) && ((iscollectable(key) && iswhite(gcvalue(key))) ||
                                          (iscollectable(value) && iswhite(gcvalue(value)))))
    luaC_barrierback_(L, obj2gco(t));
}
// Finds or creates the key, then stores value (no barrier: the caller applies it).
void luaH_set(lua_State *L, Table *t, const TValue *key, TValue *value);
Table *luaH_new(lua_State *L);
void luaH_resize(lua_State *L, Table *t, unsigned int nasize, unsigned int nhsize);
// Gives a fresh table from luaH_new its parts, as luaH_resize would.
void luaH_presize(lua_State *L, Table *t, unsigned int nasize, unsigned int nhsize);
void luaH_resizearray(lua_State *L, Table *t, unsigned int nasize);
void luaH_free(lua_State *L, Table *t);
// key points at a stack slot; the next key and value are written there and in the slot after.
int luaH_next(lua_State *L, Table *t, TValue *key);
lua_Unsigned luaH_getn(Table *t);
unsigned int luaH_realasize(const Table *t);
