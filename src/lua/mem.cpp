// The memory layer. Every block goes through the state's allocator with the charge billed to
// the owning process; the collector's debt counts the bytes requested, not the charges.
#include "lua/mem.h"

#include "lua/debug.h"
#include "lua/do.h"
#include "lua/gc.h"
#include "lua/state.h"

#define MINSIZEARRAY 4

// Second chance for a failed request: a full emergency collection (no finalizers), then the
// same request again flagged as the final attempt. A state still being built has nothing to
// collect, so its failures are final at once.
static void *tryagain(lua_State *L, void *block, size_t osize, size_t nsize, size_t charge) {
  global_State *g = G(L);
  if (!completestate(g)) return NULL;
  if (!g->gcemergency) {  // never nest a collection inside an emergency one
    g->gcemergency = 1;
    luaC_fullgc(L, 1);
    g->gcemergency = 0;
  }
  return (*g->frealloc)(g->ud, block, osize, nsize, 1, charge);
}

void *luaM_malloc_(lua_State *L, size_t size, int tag, size_t charge) {
  if (size == 0) return NULL;
  global_State *g = G(L);
  void *newblock = (*g->frealloc)(g->ud, NULL, (size_t)tag, size, 0, charge);
  if (l_unlikely(newblock == NULL)) {
    newblock = tryagain(L, NULL, (size_t)tag, size, charge);
    if (newblock == NULL) luaM_error(L);
  }
  g->GCdebt = (l_mem)((lu_mem)g->GCdebt + size);
  return newblock;
}

void *luaM_realloc_(lua_State *L, void *block, size_t osize, size_t nsize, size_t charge) {
  global_State *g = G(L);
  size_t realosize = (block != NULL) ? osize : 0;
  void *newblock = (*g->frealloc)(g->ud, block, osize, nsize, 0, charge);
  if (l_unlikely(newblock == NULL && nsize > 0)) {
    if (nsize <= realosize) return NULL;  // a failed shrink is not retried
    newblock = tryagain(L, block, osize, nsize, charge);
    if (newblock == NULL) return NULL;
  }
  g->GCdebt = (l_mem)((lu_mem)g->GCdebt + nsize - realosize);
  return newblock;
}

void *luaM_saferealloc_(lua_State *L, void *block, size_t osize, size_t nsize, size_t charge) {
  void *newblock = luaM_realloc_(L, block, osize, nsize, charge);
  if (l_unlikely(newblock == NULL && nsize > 0)) luaM_error(L);
  return newblock;
}

void luaM_free_(lua_State *L, void *block, size_t osize) {
  global_State *g = G(L);
  if (block == NULL) osize = 0;
  (*g->frealloc)(g->ud, block, osize, 0, 0, 0);
  g->GCdebt = (l_mem)((lu_mem)g->GCdebt - osize);
}

void *luaM_growaux_(lua_State *L, void *block, int nelems, int *psize, int size_elems, int limit,
                    const char *what) {
  int size = *psize;
  if (nelems + 1 <= size) return block;  // one more element still fits
  if (size >= limit / 2) {
    if (l_unlikely(size >= limit)) luaG_runerror(L, "too many %s (limit is %d)", what, limit);
    size = limit;
  } else {
    size *= 2;
    if (size < MINSIZEARRAY) size = MINSIZEARRAY;
  }
  void *newblock = luaM_saferealloc_(L, block, cast_sizet(*psize) * (size_t)size_elems,
                                     cast_sizet(size) * (size_t)size_elems, 16 * cast_sizet(size));
  *psize = size;  // only once the block is really there
  return newblock;
}

void *luaM_shrinkvector_(lua_State *L, void *block, int *size, int final_n, int size_elem) {
  size_t oldsize = cast_sizet(*size) * (size_t)size_elem;
  size_t newsize = cast_sizet(final_n) * (size_t)size_elem;
  lua_assert(newsize <= oldsize);
  void *newblock = luaM_saferealloc_(L, block, oldsize, newsize, 16 * cast_sizet(final_n));
  *size = final_n;
  return newblock;
}

void luaM_toobig(lua_State *L) {
  luaG_runerror(L, "memory allocation error: block too big");
}
