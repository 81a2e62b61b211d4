// The memory layer: every engine allocation goes through here with its charge.
#pragma once

#include "lua/common.h"

// Raised when a size computation would overflow.
#define luaM_error(L) luaD_throw(L, LUA_ERRMEM)

#define luaM_testsize(n, e) (sizeof(n) >= sizeof(size_t) && cast_sizet((n)) + 1 > MAX_SIZET / (e))
#define luaM_checksize(L, n, e) (luaM_testsize(n, e) ? luaM_toobig(L) : cast_void(0))
#define luaM_limitN(n, t) \
  ((cast_sizet(n) <= MAX_SIZET / sizeof(t)) ? (n) : cast_uint((MAX_SIZET / sizeof(t))))

// Vectors (code, constants, line info, parser lists): charge 16 bytes per element.
#define luaM_reallocvchar(L, b, on, n, ch) \
  cast_charp(luaM_saferealloc_(L, (b), (on) * sizeof(char), (n) * sizeof(char), (ch)))
#define luaM_freemem(L, b, s) luaM_free_(L, (b), (s))
#define luaM_free(L, b) luaM_free_(L, (b), sizeof(*(b)))
#define luaM_freearray(L, b, n) luaM_free_(L, (b), (n) * sizeof(*(b)))

// new: (L, size, kind tag for a fresh block, charge)
#define luaM_new(L, t, ch) cast(t *, luaM_malloc_(L, sizeof(t), 0, (ch)))
#define luaM_newvector(L, n, t) cast(t *, luaM_malloc_(L, (n) * sizeof(t), 0, 16 * (size_t)(n)))
#define luaM_newvectorchecked(L, n, t) (luaM_checksize(L, n, sizeof(t)), luaM_newvector(L, n, t))
#define luaM_newobject(L, tag, s, ch) luaM_malloc_(L, (s), (tag), (ch))

#define luaM_growvector(L, v, nelems, size, t, limit, e) \
  ((v) = cast(t *, luaM_growaux_(L, v, nelems, &(size), sizeof(t), luaM_limitN(limit, t), e)))
#define luaM_reallocvector(L, v, oldn, n, t) \
  (cast(t *, luaM_realloc_(L, v, cast_sizet(oldn) * sizeof(t), cast_sizet(n) * sizeof(t), 16 * cast_sizet(n))))
#define luaM_shrinkvector(L, v, size, fs, t) \
  ((v) = cast(t *, luaM_shrinkvector_(L, v, &(size), fs, sizeof(t))))

[[noreturn]] void luaM_toobig(lua_State *L);

// Returns NULL on failure when growing (after the emergency retry) or shrinking.
void *luaM_realloc_(lua_State *L, void *block, size_t oldsize, size_t size, size_t charge);
// As luaM_realloc_, but raises the memory error for a failed non-zero request.
void *luaM_saferealloc_(lua_State *L, void *block, size_t oldsize, size_t size, size_t charge);
void luaM_free_(lua_State *L, void *block, size_t osize);
void *luaM_growaux_(lua_State *L, void *block, int nelems, int *size, int size_elem, int limit,
                    const char *what);
void *luaM_shrinkvector_(lua_State *L, void *block, int *nelem, int final_n, int size_elem);
// tag: the object kind passed as old size for a fresh block (0 for none).
void *luaM_malloc_(lua_State *L, size_t size, int tag, size_t charge);
