// The standard libraries every process state opens.
#pragma once

#include "lua/lua.h"

#define LUA_COLIBNAME "coroutine"
#define LUA_TABLIBNAME "table"
#define LUA_STRLIBNAME "string"
#define LUA_MATHLIBNAME "math"
#define LUA_UTF8LIBNAME "utf8"
#define LUA_DBLIBNAME "debug"

int luaopen_base(lua_State *L);
int luaopen_coroutine(lua_State *L);
int luaopen_table(lua_State *L);
int luaopen_string(lua_State *L);
int luaopen_math(lua_State *L);
int luaopen_utf8(lua_State *L);
int luaopen_debug(lua_State *L);

// Opens the seven libraries in order: _G, coroutine, table, string, math, utf8, debug.
void luaL_openlibs(lua_State *L);

// The base library's load, which the kernel's global load wraps.
int luaB_load(lua_State *L);
