// Input streams, the token buffer and the lexer.
#pragma once

#include "lua/mem.h"
#include "lua/object.h"

#define EOZ (-1) // end of stream

// Input stream over a reader function.
struct Zio {
  size_t n;          // bytes still unread
  const char *p;     // current position in buffer
  lua_Reader reader; // reader function
  void *data;        // additional data
  lua_State *L;
};
typedef Zio InputStream;

#define zgetc(z) (((z)->n--) > 0 ? cast_uchar(*(z)->p++) : luaZ_fill(z))

// Growable byte buffer used by the lexer and the loader (charge = size).
struct Mbuffer {
  char *buffer;
  size_t n;
  size_t buffsize;
};
typedef Mbuffer TokenBuffer;

#define luaZ_initbuffer(L, buff) ((buff)->buffer = NULL, (buff)->buffsize = 0)
#define luaZ_buffer(buff) ((buff)->buffer)
#define luaZ_sizebuffer(buff) ((buff)->buffsize)
#define luaZ_bufflen(buff) ((buff)->n)
#define luaZ_buffremove(buff, i) ((buff)->n -= (i))
#define luaZ_resetbuffer(buff) ((buff)->n = 0)
#define luaZ_resizebuffer(L, buff, size) \
  ((buff)->buffer = luaM_reallocvchar(L, (buff)->buffer, (buff)->buffsize, size, size), (buff)->buffsize = size)
#define luaZ_freebuffer(L, buff) luaZ_resizebuffer(L, buff, 0)

void luaZ_init(lua_State *L, Zio *z, lua_Reader reader, void *data);
size_t luaZ_read(Zio *z, void *b, size_t n); // read next n bytes; returns bytes missing
int luaZ_fill(Zio *z);

// Lexer entry points (the compiler owns the rest of this header).
void luaX_init(lua_State *L);
