// Public embedding interface of the Halvoran language engine (a Lua 5.4 dialect).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define LUA_VERSION_NUM 504
#define LUA_VERSION "Lua 5.4"
#define LUA_SIGNATURE "\x1bLua"

#define LUA_MULTRET (-1)

// Stack limits.
#define LUAI_MAXSTACK 100000
#define LUA_REGISTRYINDEX (-LUAI_MAXSTACK - 1000)
#define lua_upvalueindex(i) (LUA_REGISTRYINDEX - (i))

// Status codes.
#define LUA_OK 0
#define LUA_YIELD 1
#define LUA_ERRRUN 2
#define LUA_ERRSYNTAX 3
#define LUA_ERRMEM 4
#define LUA_ERRERR 5
#define LUA_ERRFILE 6

// Basic types.
#define LUA_TNONE (-1)
#define LUA_TNIL 0
#define LUA_TBOOLEAN 1
#define LUA_TLIGHTUSERDATA 2
#define LUA_TNUMBER 3
#define LUA_TSTRING 4
#define LUA_TTABLE 5
#define LUA_TFUNCTION 6
#define LUA_TUSERDATA 7
#define LUA_TTHREAD 8
#define LUA_NUMTYPES 9

#define LUA_MINSTACK 20

// Registry slots.
#define LUA_RIDX_MAINTHREAD 1
#define LUA_RIDX_GLOBALS 2
#define LUA_RIDX_LAST LUA_RIDX_GLOBALS

typedef double lua_Number;
typedef int64_t lua_Integer;
typedef uint64_t lua_Unsigned;
typedef intptr_t lua_KContext;

#define LUA_MAXINTEGER INT64_MAX
#define LUA_MININTEGER INT64_MIN

struct lua_State;
struct lua_Debug;

typedef int (*lua_CFunction)(lua_State *L);
typedef int (*lua_KFunction)(lua_State *L, int status, lua_KContext ctx);
typedef const char *(*lua_Reader)(lua_State *L, void *ud, size_t *sz);
typedef int (*lua_Writer)(lua_State *L, const void *p, size_t sz, void *ud);
// The allocator: (user data, block, old size, new size, final attempt, charge).
// When block is NULL, old size carries the kind of object being created.
typedef void *(*lua_Alloc)(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt,
                           size_t charge);
typedef void (*lua_WarnFunction)(void *ud, const char *msg, int tocont);
typedef void (*lua_Hook)(lua_State *L, lua_Debug *ar);

// State manipulation.
lua_State *lua_newstate(lua_Alloc f, void *ud);
void lua_close(lua_State *L);
lua_State *lua_newthread(lua_State *L);
int lua_resetthread(lua_State *L);
lua_CFunction lua_atpanic(lua_State *L, lua_CFunction panicf);
lua_Number lua_version(lua_State *L);

// Basic stack manipulation.
int lua_absindex(lua_State *L, int idx);
int lua_gettop(lua_State *L);
void lua_settop(lua_State *L, int idx);
void lua_pushvalue(lua_State *L, int idx);
void lua_rotate(lua_State *L, int idx, int n);
void lua_copy(lua_State *L, int fromidx, int toidx);
int lua_checkstack(lua_State *L, int n);
void lua_xmove(lua_State *from, lua_State *to, int n);

// Access functions.
int lua_isnumber(lua_State *L, int idx);
int lua_isstring(lua_State *L, int idx);
int lua_iscfunction(lua_State *L, int idx);
int lua_isinteger(lua_State *L, int idx);
int lua_isuserdata(lua_State *L, int idx);
int lua_type(lua_State *L, int idx);
const char *lua_typename(lua_State *L, int tp);

lua_Number lua_tonumberx(lua_State *L, int idx, int *isnum);
lua_Integer lua_tointegerx(lua_State *L, int idx, int *isnum);
int lua_toboolean(lua_State *L, int idx);
const char *lua_tolstring(lua_State *L, int idx, size_t *len);
lua_Unsigned lua_rawlen(lua_State *L, int idx);
lua_CFunction lua_tocfunction(lua_State *L, int idx);
void *lua_touserdata(lua_State *L, int idx);
lua_State *lua_tothread(lua_State *L, int idx);
const void *lua_topointer(lua_State *L, int idx);

// Comparison and arithmetic.
#define LUA_OPADD 0
#define LUA_OPSUB 1
#define LUA_OPMUL 2
#define LUA_OPMOD 3
#define LUA_OPPOW 4
#define LUA_OPDIV 5
#define LUA_OPIDIV 6
#define LUA_OPBAND 7
#define LUA_OPBOR 8
#define LUA_OPBXOR 9
#define LUA_OPSHL 10
#define LUA_OPSHR 11
#define LUA_OPUNM 12
#define LUA_OPBNOT 13

void lua_arith(lua_State *L, int op);

#define LUA_OPEQ 0
#define LUA_OPLT 1
#define LUA_OPLE 2

int lua_rawequal(lua_State *L, int idx1, int idx2);
int lua_compare(lua_State *L, int idx1, int idx2, int op);

// Push functions.
void lua_pushnil(lua_State *L);
void lua_pushnumber(lua_State *L, lua_Number n);
void lua_pushinteger(lua_State *L, lua_Integer n);
const char *lua_pushlstring(lua_State *L, const char *s, size_t len);
const char *lua_pushstring(lua_State *L, const char *s);
const char *lua_pushvfstring(lua_State *L, const char *fmt, va_list argp);
const char *lua_pushfstring(lua_State *L, const char *fmt, ...);
void lua_pushcclosure(lua_State *L, lua_CFunction fn, int n);
void lua_pushboolean(lua_State *L, int b);
void lua_pushlightuserdata(lua_State *L, void *p);
int lua_pushthread(lua_State *L);

// Get functions.
int lua_getglobal(lua_State *L, const char *name);
int lua_gettable(lua_State *L, int idx);
int lua_getfield(lua_State *L, int idx, const char *k);
int lua_geti(lua_State *L, int idx, lua_Integer n);
int lua_rawget(lua_State *L, int idx);
int lua_rawgeti(lua_State *L, int idx, lua_Integer n);
int lua_rawgetp(lua_State *L, int idx, const void *p);

void lua_createtable(lua_State *L, int narr, int nrec);
void *lua_newuserdatauv(lua_State *L, size_t sz, int nuvalue);
int lua_getmetatable(lua_State *L, int objindex);
int lua_getiuservalue(lua_State *L, int idx, int n);

// Set functions.
void lua_setglobal(lua_State *L, const char *name);
void lua_settable(lua_State *L, int idx);
void lua_setfield(lua_State *L, int idx, const char *k);
void lua_seti(lua_State *L, int idx, lua_Integer n);
void lua_rawset(lua_State *L, int idx);
void lua_rawseti(lua_State *L, int idx, lua_Integer n);
void lua_rawsetp(lua_State *L, int idx, const void *p);
int lua_setmetatable(lua_State *L, int objindex);
int lua_setiuservalue(lua_State *L, int idx, int n);

// Load and call.
void lua_callk(lua_State *L, int nargs, int nresults, lua_KContext ctx, lua_KFunction k);
#define lua_call(L, n, r) lua_callk(L, (n), (r), 0, NULL)
int lua_pcallk(lua_State *L, int nargs, int nresults, int errfunc, lua_KContext ctx,
               lua_KFunction k);
#define lua_pcall(L, n, r, f) lua_pcallk(L, (n), (r), (f), 0, NULL)
int lua_load(lua_State *L, lua_Reader reader, void *dt, const char *chunkname, const char *mode);
int lua_dump(lua_State *L, lua_Writer writer, void *data, int strip);

// Coroutines.
int lua_yieldk(lua_State *L, int nresults, lua_KContext ctx, lua_KFunction k);
int lua_resume(lua_State *L, lua_State *from, int narg, int *nres);
int lua_status(lua_State *L);
int lua_isyieldable(lua_State *L);
#define lua_yield(L, n) lua_yieldk(L, (n), 0, NULL)

// Warnings.
void lua_setwarnf(lua_State *L, lua_WarnFunction f, void *ud);
void lua_warning(lua_State *L, const char *msg, int tocont);

// Garbage collection.
#define LUA_GCSTOP 0
#define LUA_GCRESTART 1
#define LUA_GCCOLLECT 2
#define LUA_GCCOUNT 3
#define LUA_GCCOUNTB 4
#define LUA_GCSTEP 5
#define LUA_GCSETPAUSE 6
#define LUA_GCSETSTEPMUL 7
#define LUA_GCISRUNNING 9
#define LUA_GCGEN 10
#define LUA_GCINC 11

int lua_gc(lua_State *L, int what, ...);

// Miscellaneous.
int lua_error(lua_State *L);
int lua_next(lua_State *L, int idx);
void lua_concat(lua_State *L, int n);
void lua_len(lua_State *L, int idx);
size_t lua_stringtonumber(lua_State *L, const char *s);
lua_Alloc lua_getallocf(lua_State *L, void **ud);
void lua_setallocf(lua_State *L, lua_Alloc f, void *ud);
void lua_toclose(lua_State *L, int idx);
int lua_setcstacklimit(lua_State *L, unsigned int limit);

// Useful macros.
#define lua_getextraspace(L) ((void *)((char *)(L) - sizeof(void *)))
#define lua_tonumber(L, i) lua_tonumberx(L, (i), NULL)
#define lua_tointeger(L, i) lua_tointegerx(L, (i), NULL)
#define lua_pop(L, n) lua_settop(L, -(n)-1)
#define lua_newtable(L) lua_createtable(L, 0, 0)
#define lua_register(L, n, f) (lua_pushcfunction(L, (f)), lua_setglobal(L, (n)))
#define lua_pushcfunction(L, f) lua_pushcclosure(L, (f), 0)
#define lua_isfunction(L, n) (lua_type(L, (n)) == LUA_TFUNCTION)
#define lua_istable(L, n) (lua_type(L, (n)) == LUA_TTABLE)
#define lua_islightuserdata(L, n) (lua_type(L, (n)) == LUA_TLIGHTUSERDATA)
#define lua_isnil(L, n) (lua_type(L, (n)) == LUA_TNIL)
#define lua_isboolean(L, n) (lua_type(L, (n)) == LUA_TBOOLEAN)
#define lua_isthread(L, n) (lua_type(L, (n)) == LUA_TTHREAD)
#define lua_isnone(L, n) (lua_type(L, (n)) == LUA_TNONE)
#define lua_isnoneornil(L, n) (lua_type(L, (n)) <= 0)
#define lua_pushliteral(L, s) lua_pushstring(L, "" s)
#define lua_pushglobaltable(L) ((void)lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS))
#define lua_tostring(L, i) lua_tolstring(L, (i), NULL)
#define lua_insert(L, idx) lua_rotate(L, (idx), 1)
#define lua_remove(L, idx) (lua_rotate(L, (idx), -1), lua_pop(L, 1))
#define lua_replace(L, idx) (lua_copy(L, -1, (idx)), lua_pop(L, 1))
#define lua_newuserdata(L, s) lua_newuserdatauv(L, s, 1)
#define lua_getuservalue(L, idx) lua_getiuservalue(L, idx, 1)
#define lua_setuservalue(L, idx) lua_setiuservalue(L, idx, 1)

// Debug API.
#define LUA_HOOKCALL 0
#define LUA_HOOKRET 1
#define LUA_HOOKLINE 2
#define LUA_HOOKCOUNT 3
#define LUA_HOOKTAILCALL 4

#define LUA_MASKCALL (1 << LUA_HOOKCALL)
#define LUA_MASKRET (1 << LUA_HOOKRET)
#define LUA_MASKLINE (1 << LUA_HOOKLINE)
#define LUA_MASKCOUNT (1 << LUA_HOOKCOUNT)

#define LUA_IDSIZE 60

int lua_getstack(lua_State *L, int level, lua_Debug *ar);
int lua_getinfo(lua_State *L, const char *what, lua_Debug *ar);
const char *lua_getlocal(lua_State *L, const lua_Debug *ar, int n);
const char *lua_setlocal(lua_State *L, const lua_Debug *ar, int n);
const char *lua_getupvalue(lua_State *L, int funcindex, int n);
const char *lua_setupvalue(lua_State *L, int funcindex, int n);
void *lua_upvalueid(lua_State *L, int fidx, int n);
void lua_upvaluejoin(lua_State *L, int fidx1, int n1, int fidx2, int n2);
void lua_sethook(lua_State *L, lua_Hook func, int mask, int count);
lua_Hook lua_gethook(lua_State *L);
int lua_gethookmask(lua_State *L);
int lua_gethookcount(lua_State *L);

struct CallInfo;

struct lua_Debug {
  int event;
  const char *name;           // (n)
  const char *namewhat;       // (n) 'global', 'local', 'field', 'method'
  const char *what;           // (S) 'Lua', 'C', 'main', 'tail'
  const char *source;         // (S)
  size_t srclen;              // (S)
  int currentline;            // (l)
  int linedefined;            // (S)
  int lastlinedefined;        // (S)
  unsigned char nups;         // (u) number of upvalues
  unsigned char nparams;      // (u) number of parameters
  char isvararg;              // (u)
  char istailcall;            // (t)
  unsigned short ftransfer;   // (r) index of first value transferred
  unsigned short ntransfer;   // (r) number of transferred values
  char short_src[LUA_IDSIZE]; // (S)
  // private part
  CallInfo *i_ci; // active function
};
