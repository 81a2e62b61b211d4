// Table library (no sort). insert with a position, remove, pack and unpack charge the running
// slice in proportion to the elements they move or push, once the work is done.
#include <climits>
#include <cstdint>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"

#define TAB_R 1 // read
#define TAB_W 2 // write
#define TAB_L 4 // length
#define TAB_RW (TAB_R | TAB_W)

// Charges a 64-bit element count through spend_cpu, whose count is 32-bit.
static void charge(lua_Integer n) {
  if (n > INT32_MAX) n = INT32_MAX;
  if (n < 0) n = -1;
  spend_cpu((int32_t)n);
}

static int checkfield(lua_State *L, const char *key, int n) {
  lua_pushstring(L, key);
  return lua_rawget(L, -n) != LUA_TNIL;
}

// A table, or a value whose metatable raw-holds the fields the access needs.
static void checktab(lua_State *L, int arg, int what) {
  if (lua_type(L, arg) == LUA_TTABLE) return;
  int n = 1; // values to pop: the metatable and the fields tested
  if (lua_getmetatable(L, arg) && (!(what & TAB_R) || checkfield(L, "__index", ++n)) &&
      (!(what & TAB_W) || checkfield(L, "__newindex", ++n)) &&
      (!(what & TAB_L) || checkfield(L, "__len", ++n))) {
    lua_pop(L, n);
  } else {
    luaL_checktype(L, arg, LUA_TTABLE); // raises the type error
  }
}

// The loops below run inside one native call, out of reach of the cycle budget, over ranges
// that the arguments or "__len" make up. One call visits at most MAX_VISITS elements, more
// than any table a process can hold, and then raises its argument error; what it did before
// stays done.
constexpr lua_Unsigned MAX_VISITS = lua_Unsigned(1) << 26;

// Of n elements, the number one call may visit.
static inline lua_Unsigned visitable(lua_Unsigned n) { return n < MAX_VISITS ? n : MAX_VISITS; }

static lua_Integer aux_getn(lua_State *L, int n, int w) {
  checktab(L, n, w | TAB_L);
  return luaL_len(L, n);
}

static int tinsert(lua_State *L) {
  lua_Integer e = aux_getn(L, 1, TAB_RW);
  e = luaL_intop(+, e, 1); // first empty slot
  lua_Integer pos;
  switch (lua_gettop(L)) {
  case 2:
    lua_seti(L, 1, e);
    return 0;
  case 3: {
    pos = luaL_checkinteger(L, 2);
    // 1 <= pos <= e, in one unsigned comparison
    luaL_argcheck(L, (lua_Unsigned)pos - 1u < (lua_Unsigned)e, 2, "position out of bounds");
    lua_Unsigned n = e > pos ? (lua_Unsigned)e - (lua_Unsigned)pos : 0; // elements to move up
    lua_Integer i = e;
    for (lua_Unsigned k = visitable(n); k > 0; k--, i--) {
      lua_geti(L, 1, i - 1);
      lua_seti(L, 1, i);
    }
    luaL_argcheck(L, n <= MAX_VISITS, 2, "position out of bounds");
    lua_seti(L, 1, pos);
    charge(luaL_intop(-, e, pos));
    return 0;
  }
  default:
    return luaL_error(L, "wrong number of arguments to 'insert'");
  }
}

static int tremove(lua_State *L) {
  lua_Integer size = aux_getn(L, 1, TAB_RW);
  lua_Integer pos = luaL_optinteger(L, 2, size);
  lua_Integer given = pos;
  if (pos != size) // 1 <= pos <= size + 1
    luaL_argcheck(L, (lua_Unsigned)pos - 1u <= (lua_Unsigned)size, 2, "position out of bounds");
  lua_geti(L, 1, pos);
  lua_Unsigned n = size > pos ? (lua_Unsigned)size - (lua_Unsigned)pos : 0; // to move down
  for (lua_Unsigned k = visitable(n); k > 0; k--, pos++) {
    lua_geti(L, 1, pos + 1);
    lua_seti(L, 1, pos);
  }
  luaL_argcheck(L, n <= MAX_VISITS, 2, "position out of bounds");
  lua_pushnil(L);
  lua_seti(L, 1, pos);
  charge(luaL_intop(-, size, given));
  return 1;
}

static void addfield(lua_State *L, luaL_Buffer *b, lua_Integer i) {
  int t = lua_geti(L, 1, i);
  if (!lua_isstring(L, -1))
    luaL_error(L, "invalid value (%s) at index %I in table for 'concat'", lua_typename(L, t), i);
  luaL_addvalue(b);
}

static int tconcat(lua_State *L) {
  luaL_Buffer b;
  lua_Integer last = aux_getn(L, 1, TAB_R);
  size_t lsep;
  const char *sep = luaL_optlstring(L, 2, "", &lsep);
  lua_Integer i = luaL_optinteger(L, 3, 1);
  last = luaL_optinteger(L, 4, last);
  luaL_buffinit(L, &b);
  lua_Unsigned n = last > i ? (lua_Unsigned)last - (lua_Unsigned)i : 0; // all but the last
  for (lua_Unsigned k = visitable(n); k > 0; k--, i++) {
    addfield(L, &b, i);
    luaL_addlstring(&b, sep, lsep);
  }
  luaL_argcheck(L, n < MAX_VISITS, 1, "too many elements");
  if (i == last) addfield(L, &b, i);
  luaL_pushresult(&b);
  return 1;
}

static int tpack(lua_State *L) {
  int n = lua_gettop(L);
  lua_createtable(L, n, 1);
  lua_insert(L, 1);
  for (int i = n; i >= 1; i--) lua_seti(L, 1, i);
  lua_pushinteger(L, n);
  lua_setfield(L, 1, "n");
  charge(2 * (lua_Integer)n);
  return 1;
}

static int tunpack(lua_State *L) {
  lua_Integer i, e;
  if (lua_type(L, 1) == LUA_TUSERDATA) { // typed userdata are indexed from 0
    i = luaL_optinteger(L, 2, 0);
    e = lua_isnoneornil(L, 3) ? luaL_intop(-, luaL_len(L, 1), 1) : luaL_checkinteger(L, 3);
  } else {
    i = luaL_optinteger(L, 2, 1);
    e = luaL_opt(L, luaL_checkinteger, 3, luaL_len(L, 1));
  }
  if (i > e) return 0;
  lua_Unsigned n = (lua_Unsigned)e - (lua_Unsigned)i; // count minus 1, without overflow
  if (n >= (unsigned int)INT_MAX || !lua_checkstack(L, (int)(++n)))
    return luaL_error(L, "too many results to unpack");
  for (; i < e; i++) lua_geti(L, 1, i);
  lua_geti(L, 1, e);
  charge(2 * (lua_Integer)n);
  return (int)n;
}

static int tmove(lua_State *L) {
  lua_Integer f = luaL_checkinteger(L, 2);
  lua_Integer e = luaL_checkinteger(L, 3);
  lua_Integer t = luaL_checkinteger(L, 4);
  int tt = !lua_isnoneornil(L, 5) ? 5 : 1; // destination
  checktab(L, 1, TAB_R);
  checktab(L, tt, TAB_W);
  if (e >= f) {
    luaL_argcheck(L, f > 0 || e < LUA_MAXINTEGER + f, 3, "too many elements to move");
    lua_Integer n = e - f + 1;
    luaL_argcheck(L, t <= LUA_MAXINTEGER - n + 1, 4, "destination wrap around");
    lua_Integer m = (lua_Integer)visitable((lua_Unsigned)n);
    if (t > e || t <= f || (tt != 1 && !lua_compare(L, 1, tt, LUA_OPEQ))) {
      for (lua_Integer i = 0; i < m; i++) {
        lua_geti(L, 1, f + i);
        lua_seti(L, tt, t + i);
      }
    } else { // overlapping move up within one table: copy backwards
      for (lua_Integer i = n - 1; i >= n - m; i--) {
        lua_geti(L, 1, f + i);
        lua_seti(L, tt, t + i);
      }
    }
    luaL_argcheck(L, n == m, 3, "too many elements to move");
  }
  lua_pushvalue(L, tt);
  return 1;
}

static const luaL_Reg tab_funcs[] = {{"concat", tconcat}, {"insert", tinsert},
                                     {"pack", tpack},     {"unpack", tunpack},
                                     {"remove", tremove}, {"move", tmove},
                                     {nullptr, nullptr}};

int luaopen_table(lua_State *L) {
  luaL_newlib(L, tab_funcs);
  return 1;
}
