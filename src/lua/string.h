// Strings: interning, long strings, the API cache, and full userdata creation.
#pragma once

#include "lua/gc.h"
#include "lua/object.h"
#include "lua/state.h"

#define MEMERRMSG "not enough memory"

// Request: len + 25; charge: len + 32.
#define sizelstring(l) (offsetof(TString, contents) + ((l) + 1) * sizeof(char))
#define luaS_newliteral(L, s) (luaS_newlstr(L, "" s, (sizeof(s) / sizeof(char)) - 1))
#define isreserved(s) ((s)->tt == LUA_VSHRSTR && (s)->extra > 0)
#define eqshrstr(a, b) check_exp((a)->tt == LUA_VSHRSTR, (a) == (b))

unsigned int luaS_hash(const char *str, size_t l, unsigned int seed);
unsigned int luaS_hashlongstr(TString *ts);
int luaS_eqlngstr(TString *a, TString *b);
// The length of the common prefix of two blocks of n bytes, found block by block (n when
// they are equal); the bytes looked at count as native work.
size_t luaS_eqprefix(const char *a, const char *b, size_t n);
void luaS_resize(lua_State *L, int newsize);
void luaS_clearcache(global_State *g);
void luaS_init(lua_State *L);
void luaS_remove(lua_State *L, TString *ts);
Udata *luaS_newudata(lua_State *L, size_t s, int nuvalue);
TString *luaS_newlstr(lua_State *L, const char *str, size_t l);
TString *luaS_new(lua_State *L, const char *str);
TString *luaS_createlngstrobj(lua_State *L, size_t l);
