// Binary chunks: the writer and the verifying loader.
#pragma once

#include "lua/lexer.h"
#include "lua/object.h"

#define LUAC_DATA "\x19\x93\r\n\x1a\n"
#define LUAC_INT 0x5678
#define LUAC_NUM cast_num(370.5)
#define LUAC_VERSION 0x54
#define LUAC_FORMAT 0

// Loads a precompiled chunk; raises "bad binary format" or "truncated chunk" errors.
LClosure *luaU_undump(lua_State *L, Zio *Z, const char *name);
// Dumps a function prototype.
int luaU_dump(lua_State *L, const Proto *f, lua_Writer w, void *data, int strip);
