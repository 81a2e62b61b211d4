// Basic types, limits and small helpers shared by every engine component.
#pragma once

#include <cassert>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lua/lua.h"

typedef size_t lu_mem;
typedef ptrdiff_t l_mem;
typedef unsigned char lu_byte;
typedef signed char ls_byte;
typedef uint32_t Instruction;
typedef int sig_atomic_t_;

#define MAX_SIZET ((size_t)(~(size_t)0))
#define MAX_SIZE (sizeof(size_t) < sizeof(lua_Integer) ? MAX_SIZET : (size_t)(LUA_MAXINTEGER))
#define MAX_LUMEM ((lu_mem)(~(lu_mem)0))
#define MAX_LMEM ((l_mem)(MAX_LUMEM >> 1))
#define MAX_INT INT_MAX

#define log2maxs(t) (sizeof(t) * 8 - 2)
#define ispow2(x) (((x) & ((x)-1)) == 0)
#define LL(x) (sizeof(x) / sizeof(char) - 1)

#define point2uint(p) ((unsigned int)((size_t)(p)&UINT_MAX))

#ifdef HALVORAN_ASSERT
#define lua_assert(c) assert(c)
#else
#define lua_assert(c) ((void)0)
#endif
#define check_exp(c, e) (lua_assert(c), (e))
#define lua_longassert(c) lua_assert(c)
#define api_check(l, e, msg) lua_assert((e) && msg)

#define UNUSED(x) ((void)(x))

#define cast(t, exp) ((t)(exp))
#define cast_void(i) cast(void, (i))
#define cast_voidp(i) cast(void *, (i))
#define cast_num(i) cast(lua_Number, (i))
#define cast_int(i) cast(int, (i))
#define cast_uint(i) cast(unsigned int, (i))
#define cast_byte(i) cast(lu_byte, (i))
#define cast_uchar(i) cast(unsigned char, (i))
#define cast_char(i) cast(char, (i))
#define cast_charp(i) cast(char *, (i))
#define cast_sizet(i) cast(size_t, (i))

#define l_castS2U(i) ((lua_Unsigned)(i))
#define l_castU2S(i) ((lua_Integer)(i))

#define l_likely(x) __builtin_expect(((x) != 0), 1)
#define l_unlikely(x) __builtin_expect(((x) != 0), 0)

// Limits fixed by the engine.
#define LUAI_MAXCCALLS 200      // nested native calls: "C stack overflow"
#define LUAI_MAXCCALLS_ERR 220  // from here an error in error handling
#define LUAI_MAXSHORTLEN 40     // longest interned string
#define MAXUPVAL 255            // upvalues of a closure
#define MAXVARS 200             // active locals of a function
#define MAXREGS 255             // freereg + n reaching this fails
#define LUAI_MAXCSTACK LUAI_MAXCCALLS
#define ERRORSTACKSIZE (LUAI_MAXSTACK + 200)
#define BASIC_STACK_SIZE (2 * LUA_MINSTACK)
#define EXTRA_STACK 5
#define MINSTRTABSIZE 128
#define STRCACHE_N 53
#define STRCACHE_M 2
#define LUA_IDSIZE_ 60
#define MAXTAGLOOP 2000
#define LUAI_MAXALIGN \
  lua_Number n;       \
  double u;           \
  void *s;            \
  lua_Integer i;      \
  long l

// Number primitives. Integer arithmetic wraps through unsigned types.
#define intop(op, v1, v2) l_castU2S(l_castS2U(v1) op l_castS2U(v2))
#define luai_numadd(L, a, b) ((a) + (b))
#define luai_numsub(L, a, b) ((a) - (b))
#define luai_nummul(L, a, b) ((a) * (b))
#define luai_numunm(L, a) (-(a))
#define luai_numeq(a, b) ((a) == (b))
#define luai_numlt(a, b) ((a) < (b))
#define luai_numle(a, b) ((a) <= (b))
#define luai_numgt(a, b) ((a) > (b))
#define luai_numge(a, b) ((a) >= (b))
#define luai_numisnan(a) (!luai_numeq((a), (a)))

// The dialect's float division: a zero divisor gives the largest finite double with the sign
// of the dividend (NaN and -0.0 dividends count as not negative).
#define LUAI_HUGE_DIV 1.7976931348623157e308
inline lua_Number luai_numdiv(lua_State *, lua_Number a, lua_Number b) {
  if (b == 0) return (a < 0) ? -LUAI_HUGE_DIV : LUAI_HUGE_DIV;
  return a / b;
}
inline lua_Number luai_numidiv(lua_State *L, lua_Number a, lua_Number b) {
  if (b == 0) return (a < 0) ? -LUAI_HUGE_DIV : LUAI_HUGE_DIV;
  (void)L;
  return std::floor(a / b);
}
inline lua_Number luai_numpow(lua_State *, lua_Number a, lua_Number b) {
  return (b == 2) ? a * a : std::pow(a, b);
}
// Float modulo: fmod, then the divisor added when the signs differ (zero divisor gives NaN).
inline lua_Number luai_nummod(lua_State *, lua_Number a, lua_Number b) {
  lua_Number m = std::fmod(a, b);
  if ((m > 0) ? b < 0 : (m < 0 && b > 0)) m += b;
  return m;
}

// Float -> integer range test that NaN fails.
#define lua_numbertointeger(n, p) \
  ((n) >= (lua_Number)(LUA_MININTEGER) && (n) < -(lua_Number)(LUA_MININTEGER) && \
   (*(p) = (lua_Integer)(n), 1))

#define lua_str2number(s, p) std::strtod((s), (p))
#define LUAI_NUMFFORMAT "%.14g"
#define LUA_INTEGER_FMT "%lld"
#define LUAI_MAXSHORTLEN_ 40

// Nested-call accounting (call_nesting): low 16 bits count native levels, each 0x10000 one
// non-yieldable level.
#define yieldable(L) (((L)->nCcalls & 0xffff0000) == 0)
#define getCcalls(L) ((L)->nCcalls & 0xffff)
#define incnny(L) ((L)->nCcalls += 0x10000)
#define decnny(L) ((L)->nCcalls -= 0x10000)
#define nyci (0x10000 | 1)
