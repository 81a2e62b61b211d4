// Auxiliary library: helpers built on the embedding interface.
#pragma once

#include <cstdio>

#include "lua/lua.h"

#define LUA_GNAME "_G"
#define LUA_ERRFILE_AUX (LUA_ERRFILE)
#define LUA_LOADED_TABLE "_LOADED"
#define LUA_PRELOAD_TABLE "_PRELOAD"

struct luaL_Reg {
  const char *name;
  lua_CFunction func;
};

#define LUAL_NUMSIZES (sizeof(lua_Integer) * 16 + sizeof(lua_Number))

void luaL_checkversion_(lua_State *L, lua_Number ver, size_t sz);
#define luaL_checkversion(L) luaL_checkversion_(L, LUA_VERSION_NUM, LUAL_NUMSIZES)

int luaL_getmetafield(lua_State *L, int obj, const char *e);
int luaL_callmeta(lua_State *L, int obj, const char *e);
const char *luaL_tolstring(lua_State *L, int idx, size_t *len);
int luaL_argerror(lua_State *L, int arg, const char *extramsg);
int luaL_typeerror(lua_State *L, int arg, const char *tname);
const char *luaL_checklstring(lua_State *L, int arg, size_t *l);
const char *luaL_optlstring(lua_State *L, int arg, const char *def, size_t *l);
lua_Number luaL_checknumber(lua_State *L, int arg);
lua_Number luaL_optnumber(lua_State *L, int arg, lua_Number def);
lua_Integer luaL_checkinteger(lua_State *L, int arg);
lua_Integer luaL_optinteger(lua_State *L, int arg, lua_Integer def);

void luaL_checkstack(lua_State *L, int sz, const char *msg);
void luaL_checktype(lua_State *L, int arg, int t);
void luaL_checkany(lua_State *L, int arg);

int luaL_newmetatable(lua_State *L, const char *tname);
void luaL_setmetatable(lua_State *L, const char *tname);
void *luaL_testudata(lua_State *L, int ud, const char *tname);
void *luaL_checkudata(lua_State *L, int ud, const char *tname);

void luaL_where(lua_State *L, int lvl);
int luaL_error(lua_State *L, const char *fmt, ...);

int luaL_checkoption(lua_State *L, int arg, const char *def, const char *const lst[]);

int luaL_fileresult(lua_State *L, int stat, const char *fname);
int luaL_execresult(lua_State *L, int stat);

#define LUA_NOREF (-2)
#define LUA_REFNIL (-1)

int luaL_ref(lua_State *L, int t);
void luaL_unref(lua_State *L, int t, int ref);

int luaL_loadbufferx(lua_State *L, const char *buff, size_t sz, const char *name,
                     const char *mode);
int luaL_loadstring(lua_State *L, const char *s);

lua_State *luaL_newstate(void);

lua_Integer luaL_len(lua_State *L, int idx);

const char *luaL_gsub(lua_State *L, const char *s, const char *p, const char *r);

void luaL_setfuncs(lua_State *L, const luaL_Reg *l, int nup);

int luaL_getsubtable(lua_State *L, int idx, const char *fname);

void luaL_traceback(lua_State *L, lua_State *L1, const char *msg, int level);

void luaL_requiref(lua_State *L, const char *modname, lua_CFunction openf, int glb);

#define luaL_newlibtable(L, l) lua_createtable(L, 0, sizeof(l) / sizeof((l)[0]) - 1)
#define luaL_newlib(L, l) (luaL_checkversion(L), luaL_newlibtable(L, l), luaL_setfuncs(L, l, 0))
#define luaL_argcheck(L, cond, arg, extramsg) \
  ((void)((cond) || luaL_argerror(L, (arg), (extramsg))))
#define luaL_argexpected(L, cond, arg, tname) \
  ((void)((cond) || luaL_typeerror(L, (arg), (tname))))
#define luaL_checkstring(L, n) (luaL_checklstring(L, (n), NULL))
#define luaL_optstring(L, n, d) (luaL_optlstring(L, (n), (d), NULL))
#define luaL_typename(L, i) lua_typename(L, lua_type(L, (i)))
#define luaL_getmetatable(L, n) (lua_getfield(L, LUA_REGISTRYINDEX, (n)))
#define luaL_opt(L, f, n, d) (lua_isnoneornil(L, (n)) ? (d) : f(L, (n)))
#define luaL_loadbuffer(L, s, sz, n) luaL_loadbufferx(L, s, sz, n, NULL)

#define luaL_intop(op, v1, v2) ((lua_Integer)((lua_Unsigned)(v1)op(lua_Unsigned)(v2)))
#define luaL_pushfail(L) lua_pushnil(L)

// String buffer. Stays on the C stack until it outgrows LUAL_BUFFERSIZE, then moves into a
// userdata box on the Lua stack.
#define LUAL_BUFFERSIZE 1024

struct luaL_Buffer {
  char *b;     // buffer address
  size_t size; // buffer size
  size_t n;    // number of characters in buffer
  lua_State *L;
  union {
    double n;
    void *p;
    long long i;
    char b[LUAL_BUFFERSIZE]; // initial buffer
  } init;
  luaL_Buffer() : b(init.b) {}
  luaL_Buffer(const luaL_Buffer &) = delete;
  luaL_Buffer &operator=(const luaL_Buffer &) = delete;
  // Frees the block of a buffer left on the stack, as an error unwinds past it.
  ~luaL_Buffer();
};

#define luaL_bufflen(bf) ((bf)->n)
#define luaL_buffaddr(bf) ((bf)->b)
#define luaL_addchar(B, c) \
  ((void)((B)->n < (B)->size || luaL_prepbuffsize((B), 1)), ((B)->b[(B)->n++] = (c)))
#define luaL_addsize(B, s) ((B)->n += (s))
#define luaL_buffsub(B, s) ((B)->n -= (s))

void luaL_buffinit(lua_State *L, luaL_Buffer *B);
char *luaL_prepbuffsize(luaL_Buffer *B, size_t sz);
void luaL_addlstring(luaL_Buffer *B, const char *s, size_t l);
void luaL_addstring(luaL_Buffer *B, const char *s);
void luaL_addgsub(luaL_Buffer *B, const char *s, const char *p, const char *r);
void luaL_addvalue(luaL_Buffer *B);
void luaL_pushresult(luaL_Buffer *B);
void luaL_pushresultsize(luaL_Buffer *B, size_t sz);
char *luaL_buffinitsize(lua_State *L, luaL_Buffer *B, size_t sz);

#define luaL_prepbuffer(B) luaL_prepbuffsize(B, LUAL_BUFFERSIZE)

// True when the value at idx is the box of a buffer. A box is told by its size alone, which no
// program can change: no other userdata of the engine has a 16-byte payload (a typed userdata
// has at least 24 bytes).
bool luaL_isbufferbox(lua_State *L, int idx);
