// Auxiliary library: argument checks, uniform error messages, string buffers, metatables,
// references, loading helpers and the traceback, built on the embedding interface; the
// argument checks read the running function's arguments directly on their common paths.
#include "lua/auxlib.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <sys/wait.h>

#include "kernel/kernel.h"
#include "lua/state.h"

// Levels shown before and after the skip line of a long traceback.
#define LEVELS1 10
#define LEVELS2 11

// ---------------------------------------------------------------------------------------------
// Traceback and function names

// A field visited by the search for a global name costs about as much as scanning this many
// bytes (a large table's fields miss the cache).
constexpr int64_t WORK_FIELD_VISITED = 64 * WORK_BYTE_SCANNED;

// Searches the table on the top for a field holding the value at objidx, one nested table deep
// per level. On success leaves the dotted name on the top. Counts the fields it visits.
static int findfield(lua_State *L, int objidx, int level, int64_t *visited) {
  if (level == 0 || !lua_istable(L, -1)) return 0;
  lua_pushnil(L);
  while (lua_next(L, -2)) {
    (*visited)++;
    if (lua_type(L, -2) == LUA_TSTRING) { // other keys cannot make a name
      if (lua_rawequal(L, objidx, -1)) {
        lua_pop(L, 1); // keep the key
        return 1;
      } else if (findfield(L, objidx, level - 1, visited)) {
        // stack: key, module table, field name
        lua_pushliteral(L, ".");
        lua_replace(L, -3);
        lua_concat(L, 3);
        return 1;
      }
    }
    lua_pop(L, 1);
  }
  return 0;
}

// Pushes the global name of the function of ar ("module.field", "_G." stripped) and returns 1,
// or pushes nothing and returns 0. The loaded-modules table is the program's to fill, so the
// search is native work in proportion to what it holds.
static int pushglobalfuncname(lua_State *L, lua_Debug *ar) {
  int top = lua_gettop(L);
  int64_t visited = 0;
  lua_getinfo(L, "f", ar);
  lua_getfield(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
  int found = findfield(L, top + 1, 2, &visited);
  native_work_add(visited * WORK_FIELD_VISITED);
  if (found) {
    const char *name = lua_tostring(L, -1);
    if (std::strncmp(name, LUA_GNAME ".", 3) == 0) {
      lua_pushstring(L, name + 3);
      lua_remove(L, -2);
    }
    lua_copy(L, -1, top + 1);
    lua_settop(L, top + 1);
    return 1;
  }
  lua_settop(L, top);
  return 0;
}

static void pushfuncname(lua_State *L, lua_Debug *ar) {
  if (pushglobalfuncname(L, ar)) {
    lua_pushfstring(L, "function '%s'", lua_tostring(L, -1));
    lua_remove(L, -2);
  } else if (ar->namewhat != nullptr && *ar->namewhat != '\0') {
    lua_pushfstring(L, "%s '%s'", ar->namewhat, ar->name ? ar->name : "?");
  } else if (ar->what != nullptr && *ar->what == 'm') {
    lua_pushliteral(L, "main chunk");
  } else if (ar->what != nullptr && *ar->what != 'C') {
    lua_pushfstring(L, "function <%s:%d>", ar->short_src, ar->linedefined);
  } else {
    lua_pushliteral(L, "?");
  }
}

// The deepest level the thread has: doubling, then halving.
static int lastlevel(lua_State *L) {
  lua_Debug ar;
  int li = 1, le = 1;
  while (lua_getstack(L, le, &ar)) {
    li = le;
    if (le > INT_MAX / 2) break;
    le *= 2;
  }
  while (li < le) {
    int m = li + (le - li) / 2;
    if (lua_getstack(L, m, &ar))
      li = m + 1;
    else
      le = m;
  }
  return le - 1;
}

void luaL_traceback(lua_State *L, lua_State *L1, const char *msg, int level) {
  luaL_Buffer b;
  lua_Debug ar;
  int last = lastlevel(L1);
  // levels come from Lua as any int: keep the arithmetic out of overflow
  int limit2show = ((long long)last - level > LEVELS1 + LEVELS2) ? LEVELS1 : -1;
  luaL_buffinit(L, &b);
  if (msg) {
    luaL_addstring(&b, msg);
    luaL_addchar(&b, '\n');
  }
  luaL_addstring(&b, "stack traceback:");
  while (lua_getstack(L1, level, &ar)) {
    level++; // only past a level that exists, so never past INT_MAX
    if (limit2show-- == 0) {
      // level already points past the level being replaced by the skip line
      int n = last - level - LEVELS2 + 1;
      lua_pushfstring(L, "\n\t...\t(skipping %d levels)", n);
      luaL_addvalue(&b);
      level += n;
    } else {
      lua_getinfo(L1, "Slnt", &ar);
      if (ar.currentline <= 0)
        lua_pushfstring(L, "\n\t%s: in ", ar.short_src);
      else
        lua_pushfstring(L, "\n\t%s:%d: in ", ar.short_src, ar.currentline);
      luaL_addvalue(&b);
      pushfuncname(L, &ar);
      luaL_addvalue(&b);
      if (ar.istailcall) luaL_addstring(&b, "\n\t(...tail calls...)");
    }
  }
  luaL_pushresult(&b);
}

// ---------------------------------------------------------------------------------------------
// Errors

int luaL_argerror(lua_State *L, int arg, const char *extramsg) {
  lua_Debug ar;
  if (!lua_getstack(L, 0, &ar)) // no running function
    return luaL_error(L, "bad argument #%d (%s)", arg, extramsg);
  lua_getinfo(L, "n", &ar);
  if (ar.namewhat != nullptr && std::strcmp(ar.namewhat, "method") == 0) {
    arg--; // the object is not counted
    if (arg == 0)
      return luaL_error(L, "calling '%s' on bad self (%s)", ar.name ? ar.name : "?", extramsg);
  }
  if (ar.name == nullptr) ar.name = pushglobalfuncname(L, &ar) ? lua_tostring(L, -1) : "?";
  return luaL_error(L, "bad argument #%d to '%s' (%s)", arg, ar.name, extramsg);
}

int luaL_typeerror(lua_State *L, int arg, const char *tname) {
  const char *typearg;
  if (luaL_getmetafield(L, arg, "__name") == LUA_TSTRING)
    typearg = lua_tostring(L, -1);
  else if (lua_type(L, arg) == LUA_TLIGHTUSERDATA)
    typearg = "light userdata";
  else
    typearg = luaL_typename(L, arg);
  const char *msg = lua_pushfstring(L, "%s expected, got %s", tname, typearg);
  return luaL_argerror(L, arg, msg);
}

static void tag_error(lua_State *L, int arg, int tag) {
  luaL_typeerror(L, arg, lua_typename(L, tag));
}

void luaL_where(lua_State *L, int level) {
  lua_Debug ar;
  if (lua_getstack(L, level, &ar)) {
    lua_getinfo(L, "Sl", &ar);
    if (ar.currentline > 0) { // only Lua code has a position
      lua_pushfstring(L, "%s:%d: ", ar.short_src, ar.currentline);
      return;
    }
  }
  lua_pushliteral(L, "");
}

int luaL_error(lua_State *L, const char *fmt, ...) {
  va_list argp;
  va_start(argp, fmt);
  luaL_where(L, 1);
  lua_pushvfstring(L, fmt, argp);
  va_end(argp);
  lua_concat(L, 2);
  return lua_error(L);
}

int luaL_fileresult(lua_State *L, int stat, const char *fname) {
  int en = errno;
  if (stat) {
    lua_pushboolean(L, 1);
    return 1;
  }
  luaL_pushfail(L);
  if (fname)
    lua_pushfstring(L, "%s: %s", fname, std::strerror(en));
  else
    lua_pushstring(L, std::strerror(en));
  lua_pushinteger(L, en);
  return 3;
}

int luaL_execresult(lua_State *L, int stat) {
  if (stat != 0 && errno != 0) return luaL_fileresult(L, 0, nullptr);
  const char *what = "exit";
  if (stat != -1) {
    if (WIFEXITED(stat)) {
      stat = WEXITSTATUS(stat);
    } else if (WIFSIGNALED(stat)) {
      stat = WTERMSIG(stat);
      what = "signal";
    }
  }
  if (*what == 'e' && stat == 0)
    lua_pushboolean(L, 1);
  else
    luaL_pushfail(L);
  lua_pushstring(L, what);
  lua_pushinteger(L, stat);
  return 3;
}

// ---------------------------------------------------------------------------------------------
// Metatables

int luaL_newmetatable(lua_State *L, const char *tname) {
  if (luaL_getmetatable(L, tname) != LUA_TNIL) return 0; // the existing one stays pushed
  lua_pop(L, 1);
  lua_createtable(L, 0, 2);
  lua_pushstring(L, tname);
  lua_setfield(L, -2, "__name");
  lua_pushvalue(L, -1);
  lua_setfield(L, LUA_REGISTRYINDEX, tname);
  return 1;
}

void luaL_setmetatable(lua_State *L, const char *tname) {
  luaL_getmetatable(L, tname);
  lua_setmetatable(L, -2);
}

void *luaL_testudata(lua_State *L, int ud, const char *tname) {
  if (lua_type(L, ud) != LUA_TUSERDATA) return nullptr;
  void *p = lua_touserdata(L, ud);
  if (!lua_getmetatable(L, ud)) return nullptr;
  luaL_getmetatable(L, tname);
  if (!lua_rawequal(L, -1, -2)) p = nullptr;
  lua_pop(L, 2);
  return p;
}

void *luaL_checkudata(lua_State *L, int ud, const char *tname) {
  void *p = luaL_testudata(L, ud, tname);
  luaL_argexpected(L, p != nullptr, ud, tname);
  return p;
}

int luaL_getmetafield(lua_State *L, int obj, const char *event) {
  if (!lua_getmetatable(L, obj)) return LUA_TNIL;
  lua_pushstring(L, event);
  int tt = lua_rawget(L, -2);
  if (tt == LUA_TNIL)
    lua_pop(L, 2);
  else
    lua_remove(L, -2);
  return tt;
}

int luaL_callmeta(lua_State *L, int obj, const char *event) {
  obj = lua_absindex(L, obj);
  if (luaL_getmetafield(L, obj, event) == LUA_TNIL) return 0;
  lua_pushvalue(L, obj);
  lua_call(L, 1, 1);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Argument checks

int luaL_checkoption(lua_State *L, int arg, const char *def, const char *const lst[]) {
  const char *name = def ? luaL_optstring(L, arg, def) : luaL_checkstring(L, arg);
  for (int i = 0; lst[i]; i++)
    if (std::strcmp(lst[i], name) == 0) return i;
  return luaL_argerror(L, arg, lua_pushfstring(L, "invalid option '%s'", name));
}

void luaL_checkstack(lua_State *L, int space, const char *msg) {
  if (!lua_checkstack(L, space)) {
    if (msg)
      luaL_error(L, "stack overflow (%s)", msg);
    else
      luaL_error(L, "stack overflow");
  }
}

void luaL_checktype(lua_State *L, int arg, int t) {
  if (lua_type(L, arg) != t) tag_error(L, arg, t);
}

void luaL_checkany(lua_State *L, int arg) {
  if (lua_type(L, arg) == LUA_TNONE) luaL_argerror(L, arg, "value expected");
}

// The argument arg of the running native function, or nullptr when arg is not a positive
// index below the top. Argument checks read it directly on their common paths.
static inline const TValue *argvalue(lua_State *L, int arg) {
  if (arg <= 0) return nullptr;
  StkId func = L->ci->func;
  if (arg >= L->top - func) return nullptr;
  return s2v(func + arg);
}

const char *luaL_checklstring(lua_State *L, int arg, size_t *len) {
  const TValue *o = argvalue(L, arg);
  if (o != nullptr && ttisstring(o)) {
    if (len != nullptr) *len = vslen(o);
    return svalue(o);
  }
  const char *s = lua_tolstring(L, arg, len);
  if (!s) tag_error(L, arg, LUA_TSTRING);
  return s;
}

const char *luaL_optlstring(lua_State *L, int arg, const char *def, size_t *len) {
  const TValue *o = argvalue(L, arg);
  if (o != nullptr && ttisstring(o)) {
    if (len != nullptr) *len = vslen(o);
    return svalue(o);
  }
  if (lua_isnoneornil(L, arg)) {
    if (len) *len = def ? std::strlen(def) : 0;
    return def;
  }
  return luaL_checklstring(L, arg, len);
}

lua_Number luaL_checknumber(lua_State *L, int arg) {
  const TValue *o = argvalue(L, arg);
  if (o != nullptr) {
    if (ttisfloat(o)) return fltvalue(o);
    if (ttisinteger(o)) return cast_num(ivalue(o));
  }
  int isnum;
  lua_Number d = lua_tonumberx(L, arg, &isnum);
  if (!isnum) tag_error(L, arg, LUA_TNUMBER);
  return d;
}

lua_Number luaL_optnumber(lua_State *L, int arg, lua_Number def) {
  return luaL_opt(L, luaL_checknumber, arg, def);
}

static void interror(lua_State *L, int arg) {
  if (lua_isnumber(L, arg))
    luaL_argerror(L, arg, "number has no integer representation");
  else
    tag_error(L, arg, LUA_TNUMBER);
}

lua_Integer luaL_checkinteger(lua_State *L, int arg) {
  const TValue *o = argvalue(L, arg);
  if (o != nullptr && ttisinteger(o)) return ivalue(o);
  int isnum;
  lua_Integer d = lua_tointegerx(L, arg, &isnum);
  if (!isnum) interror(L, arg);
  return d;
}

lua_Integer luaL_optinteger(lua_State *L, int arg, lua_Integer def) {
  if (arg > 0) {
    const TValue *o = argvalue(L, arg);
    if (o == nullptr) return def;  // none
    if (ttisinteger(o)) return ivalue(o);
  }
  return luaL_opt(L, luaL_checkinteger, arg, def);
}

void luaL_checkversion_(lua_State *L, lua_Number ver, size_t sz) {
  lua_Number v = lua_version(L);
  if (sz != LUAL_NUMSIZES)
    luaL_error(L, "core and library have incompatible numeric types");
  else if (v != ver)
    luaL_error(L, "version mismatch: app. needs %f, Lua core provides %f", ver, v);
}

// ---------------------------------------------------------------------------------------------
// String buffers. A buffer lives in its inline area until it outgrows it; then its bytes move
// into a block owned by a box (a userdata) on the stack, closed when the result is pushed or
// when an error unwinds past it.
//
// The box metatable sits in the registry, where a program can replace it or change its fields
// at any time, even while a buffer is in use (from a callback of gsub, a __index of concat...).
// So nothing here trusts it: a box is told by its size, a new box gets a metatable that has
// just been checked (or rebuilt), and the owner frees the block itself, at the result and when
// an error unwinds past the buffer, rather than leaving that to whatever __close the box then
// has. What the box's metamethods find afterwards is an empty box.

struct UBox {
  void *box;
  size_t bsize;
};

bool luaL_isbufferbox(lua_State *L, int idx) {
  return lua_type(L, idx) == LUA_TUSERDATA && lua_rawlen(L, idx) == sizeof(UBox);
}

static void freebox(lua_State *L, UBox *box) {
  void *ud;
  lua_Alloc allocf = lua_getallocf(L, &ud);
  if (box->box) allocf(ud, box->box, box->bsize, 0, 0, 0);
  box->box = nullptr;
  box->bsize = 0;
}

static void *resizebox(lua_State *L, int idx, size_t newsize) {
  void *ud;
  lua_Alloc allocf = lua_getallocf(L, &ud);
  UBox *box = static_cast<UBox *>(lua_touserdata(L, idx));
  // One plain allocator call: a buffer failure needs no emergency collection.
  void *temp = allocf(ud, box->box, box->bsize, newsize, 0, newsize);
  if (temp == nullptr && newsize > 0) {
    lua_pushliteral(L, "not enough memory"); // the state's memory error message
    lua_error(L);
  }
  box->box = temp;
  box->bsize = newsize;
  return temp;
}

static int boxgc(lua_State *L) {
  // Reachable from Lua through the registry: anything but a box is left alone.
  if (luaL_isbufferbox(L, 1)) freebox(L, static_cast<UBox *>(lua_touserdata(L, 1)));
  return 0;
}

static const luaL_Reg boxmt[] = {{"__gc", boxgc}, {"__close", boxgc}, {nullptr, nullptr}};

// True when the table on the top is a box metatable as newbox builds it. Without a metatable of
// its own, its fields are read raw.
static bool isboxmt(lua_State *L) {
  if (!lua_istable(L, -1)) return false;
  if (lua_getmetatable(L, -1)) {
    lua_pop(L, 1);
    return false;
  }
  bool ok = true;
  for (const char *e : {"__gc", "__close"}) {
    lua_getfield(L, -1, e);
    ok = ok && lua_tocfunction(L, -1) == boxgc;
    lua_pop(L, 1);
  }
  return ok;
}

static void newbox(lua_State *L) {
  UBox *box = static_cast<UBox *>(lua_newuserdatauv(L, sizeof(UBox), 0));
  box->box = nullptr;
  box->bsize = 0;
  luaL_getmetatable(L, "_UBOX*");
  if (!isboxmt(L)) { // none yet, or replaced or changed by a program: a fresh one
    lua_pop(L, 1);
    lua_createtable(L, 0, 2);
    lua_pushstring(L, "_UBOX*");
    lua_setfield(L, -2, "__name");
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, "_UBOX*");
    luaL_setfuncs(L, boxmt, 0);
  }
  lua_setmetatable(L, -2);
}

#define buffonstack(B) ((B)->b != (B)->init.b)

// The box of a buffer on the stack. Its address is kept in the inline area, unused by then.
static UBox *bufferbox(luaL_Buffer *B) { return static_cast<UBox *>(B->init.p); }

luaL_Buffer::~luaL_Buffer() {
  // Still on the stack: an error is unwinding past the buffer, whose box is still open.
  if (buffonstack(this) && bufferbox(this)->box == b) freebox(L, bufferbox(this));
}

// Makes room for sz more bytes; boxidx is where the box is (or is to be) on the stack.
static char *prepbuffsize(luaL_Buffer *B, size_t sz, int boxidx) {
  if (B->size - B->n >= sz) return B->b + B->n;
  lua_State *L = B->L;
  if (SIZE_MAX - sz < B->n) luaL_error(L, "buffer too large");
  size_t newsize = B->size * 2;
  if (newsize / 2 != B->size || newsize < B->n + sz) newsize = B->n + sz;
  char *newbuff;
  if (buffonstack(B)) {
    newbuff = static_cast<char *>(resizebox(L, boxidx, newsize));
  } else {
    lua_pushnil(L); // slot for the result
    newbox(L);
    // move the reserved slot and the box down to the box's position
    lua_rotate(L, boxidx - 1, 2);
    lua_toclose(L, boxidx);
    newbuff = static_cast<char *>(resizebox(L, boxidx, newsize));
    std::memcpy(newbuff, B->b, B->n);
    B->init.p = lua_touserdata(L, boxidx);
  }
  B->b = newbuff;
  B->size = newsize;
  return newbuff + B->n;
}

char *luaL_prepbuffsize(luaL_Buffer *B, size_t sz) { return prepbuffsize(B, sz, -1); }

void luaL_addlstring(luaL_Buffer *B, const char *s, size_t l) {
  if (l > 0) {
    char *b = prepbuffsize(B, l, -1);
    std::memcpy(b, s, l);
    luaL_addsize(B, l);
  }
}

void luaL_addstring(luaL_Buffer *B, const char *s) { luaL_addlstring(B, s, std::strlen(s)); }

void luaL_pushresult(luaL_Buffer *B) {
  lua_State *L = B->L;
  lua_pushlstring(L, B->b, B->n);
  if (buffonstack(B)) {
    lua_copy(L, -1, -3); // into the reserved slot
    freebox(L, bufferbox(B));
    luaL_buffinit(L, B); // done: nothing left for the destructor
    lua_pop(L, 2); // string and box; popping closes the (now empty) box
  }
}

void luaL_pushresultsize(luaL_Buffer *B, size_t sz) {
  luaL_addsize(B, sz);
  luaL_pushresult(B);
}

void luaL_addvalue(luaL_Buffer *B) {
  lua_State *L = B->L;
  size_t len;
  const char *s = lua_tolstring(L, -1, &len);
  char *b = prepbuffsize(B, len, -2);
  if (len > 0) std::memcpy(b, s, len);
  luaL_addsize(B, len);
  lua_pop(L, 1);
}

void luaL_buffinit(lua_State *L, luaL_Buffer *B) {
  B->L = L;
  B->b = B->init.b;
  B->n = 0;
  B->size = LUAL_BUFFERSIZE;
}

char *luaL_buffinitsize(lua_State *L, luaL_Buffer *B, size_t sz) {
  luaL_buffinit(L, B);
  return prepbuffsize(B, sz, -1);
}

void luaL_addgsub(luaL_Buffer *b, const char *s, const char *p, const char *r) {
  size_t l = std::strlen(p);
  const char *wild;
  while ((wild = std::strstr(s, p)) != nullptr) {
    luaL_addlstring(b, s, (size_t)(wild - s));
    luaL_addstring(b, r);
    s = wild + l;
  }
  luaL_addstring(b, s);
}

const char *luaL_gsub(lua_State *L, const char *s, const char *p, const char *r) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  luaL_addgsub(&b, s, p, r);
  luaL_pushresult(&b);
  return lua_tostring(L, -1);
}

// ---------------------------------------------------------------------------------------------
// References. Key 0 of the table heads the list of free references.

#define freelist 0

int luaL_ref(lua_State *L, int t) {
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    return LUA_REFNIL;
  }
  t = lua_absindex(L, t);
  lua_rawgeti(L, t, freelist);
  int ref = (int)lua_tointeger(L, -1);
  lua_pop(L, 1);
  if (ref != 0) {
    lua_rawgeti(L, t, ref);
    lua_rawseti(L, t, freelist);
  } else {
    ref = (int)lua_rawlen(L, t) + 1;
  }
  lua_rawseti(L, t, ref);
  return ref;
}

void luaL_unref(lua_State *L, int t, int ref) {
  if (ref >= 0) {
    t = lua_absindex(L, t);
    lua_rawgeti(L, t, freelist);
    lua_rawseti(L, t, ref);
    lua_pushinteger(L, ref);
    lua_rawseti(L, t, freelist);
  }
}

// ---------------------------------------------------------------------------------------------
// Loading

namespace {
struct LoadS {
  const char *s;
  size_t size;
};
} // namespace

static const char *getS(lua_State *L, void *ud, size_t *size) {
  (void)L;
  LoadS *ls = static_cast<LoadS *>(ud);
  if (ls->size == 0) return nullptr;
  *size = ls->size;
  ls->size = 0;
  return ls->s;
}

int luaL_loadbufferx(lua_State *L, const char *buff, size_t size, const char *name,
                     const char *mode) {
  LoadS ls{buff, size};
  return lua_load(L, getS, &ls, name, mode);
}

int luaL_loadstring(lua_State *L, const char *s) { return luaL_loadbuffer(L, s, std::strlen(s), s); }

// ---------------------------------------------------------------------------------------------
// Values and registration

lua_Integer luaL_len(lua_State *L, int idx) {
  int isnum;
  lua_len(L, idx);
  lua_Integer l = lua_tointegerx(L, -1, &isnum);
  if (!isnum) luaL_error(L, "object length is not an integer");
  lua_pop(L, 1);
  return l;
}

const char *luaL_tolstring(lua_State *L, int idx, size_t *len) {
  idx = lua_absindex(L, idx);
  if (luaL_callmeta(L, idx, "__tostring")) {
    if (!lua_isstring(L, -1)) luaL_error(L, "'__tostring' must return a string");
  } else {
    switch (lua_type(L, idx)) {
    case LUA_TNUMBER:
      // converted in place on a copy: the same text, string and collector step as a
      // formatted push, without the formatter
      lua_pushvalue(L, idx);
      lua_tolstring(L, -1, nullptr);
      break;
    case LUA_TSTRING:
      lua_pushvalue(L, idx);
      break;
    case LUA_TBOOLEAN:
      lua_pushstring(L, lua_toboolean(L, idx) ? "true" : "false");
      break;
    case LUA_TNIL:
      lua_pushliteral(L, "nil");
      break;
    default: {
      int tt = luaL_getmetafield(L, idx, "__name");
      const char *kind = (tt == LUA_TSTRING) ? lua_tostring(L, -1) : luaL_typename(L, idx);
      lua_pushfstring(L, "%s: %p", kind, lua_topointer(L, idx));
      if (tt != LUA_TNIL) lua_remove(L, -2);
      break;
    }
    }
  }
  return lua_tolstring(L, -1, len);
}

void luaL_setfuncs(lua_State *L, const luaL_Reg *l, int nup) {
  luaL_checkstack(L, nup, "too many upvalues");
  for (; l->name != nullptr; l++) {
    if (l->func == nullptr) { // placeholder, filled later
      lua_pushboolean(L, 0);
    } else {
      for (int i = 0; i < nup; i++) lua_pushvalue(L, -nup);
      lua_pushcclosure(L, l->func, nup);
    }
    lua_setfield(L, -(nup + 2), l->name);
  }
  lua_pop(L, nup);
}

int luaL_getsubtable(lua_State *L, int idx, const char *fname) {
  if (lua_getfield(L, idx, fname) == LUA_TTABLE) return 1;
  lua_pop(L, 1);
  idx = lua_absindex(L, idx);
  lua_newtable(L);
  lua_pushvalue(L, -1);
  lua_setfield(L, idx, fname);
  return 0;
}

void luaL_requiref(lua_State *L, const char *modname, lua_CFunction openf, int glb) {
  luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
  lua_getfield(L, -1, modname);
  if (!lua_toboolean(L, -1)) { // not opened yet
    lua_pop(L, 1);
    lua_pushcfunction(L, openf);
    lua_pushstring(L, modname);
    lua_call(L, 1, 1);
    lua_pushvalue(L, -1);
    lua_setfield(L, -3, modname);
  }
  lua_remove(L, -2);
  if (glb) {
    lua_pushvalue(L, -1);
    lua_setglobal(L, modname);
  }
}

// ---------------------------------------------------------------------------------------------
// A stand-alone state: plain allocator, a panic function and a warning function. Processes use
// the kernel's lua_newstate instead.

static void *plain_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt,
                         size_t charge) {
  (void)ud;
  (void)osize;
  (void)final_attempt;
  (void)charge;
  if (nsize == 0) {
    std::free(ptr);
    return nullptr;
  }
  return std::realloc(ptr, nsize);
}

static int panic(lua_State *L) {
  const char *msg = lua_tostring(L, -1);
  if (msg == nullptr) msg = "error object is not a string";
  std::fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n", msg);
  std::fflush(stderr);
  return 0;
}

static void warnfoff(void *ud, const char *message, int tocont);
static void warnfon(void *ud, const char *message, int tocont);
static void warnfcont(void *ud, const char *message, int tocont);

// A control message ("@on", "@off") switches the warnings; returns 1 when it was one.
static int checkcontrol(lua_State *L, const char *message, int tocont) {
  if (tocont || *(message++) != '@') return 0;
  if (std::strcmp(message, "off") == 0)
    lua_setwarnf(L, warnfoff, L);
  else if (std::strcmp(message, "on") == 0)
    lua_setwarnf(L, warnfon, L);
  return 1;
}

static void warnfoff(void *ud, const char *message, int tocont) {
  checkcontrol(static_cast<lua_State *>(ud), message, tocont);
}

static void warnfcont(void *ud, const char *message, int tocont) {
  lua_State *L = static_cast<lua_State *>(ud);
  std::fputs(message, stderr);
  if (tocont) {
    lua_setwarnf(L, warnfcont, L);
  } else {
    std::fputs("\n", stderr);
    std::fflush(stderr);
    lua_setwarnf(L, warnfon, L);
  }
}

static void warnfon(void *ud, const char *message, int tocont) {
  if (checkcontrol(static_cast<lua_State *>(ud), message, tocont)) return;
  std::fputs("Lua warning: ", stderr);
  warnfcont(ud, message, tocont);
}

lua_State *luaL_newstate(void) {
  lua_State *L = lua_newstate(plain_alloc, nullptr);
  if (L) {
    lua_atpanic(L, &panic);
    lua_setwarnf(L, warnfoff, L); // off until "@on"
  }
  return L;
}
