// Numbers and text: numeral conversion (with binary numerals), number formatting, formatted
// messages, chunk identifiers and constant arithmetic with the dialect's division by zero.
#include "lua/object.h"

#include <climits>
#include <clocale>
#include <cstdio>

#include "kernel/kernel.h"
#include "lua/debug.h"
#include "lua/do.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/tm.h"
#include "lua/vm.h"

// Character classes of the language (ASCII only, independent of the C locale).
static inline bool l_isdigit(int c) { return c >= '0' && c <= '9'; }
static inline bool l_isxdigit(int c) {
  return l_isdigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
static inline bool l_isspace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static inline int l_tolower(int c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

static char l_decpoint() {
  const struct lconv *lc = localeconv();
  return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

// Number of significant bits of each byte value: the ceiling-log2 table.
static constexpr struct Log2Table {
  lu_byte v[256];
  constexpr Log2Table() : v() {
    for (int i = 0; i < 256; i++) {
      int n = 0;
      for (int x = i; x > 0; x >>= 1) n++;
      v[i] = (lu_byte)n;
    }
  }
} log_2;

int luaO_ceillog2(unsigned int x) {
  int l = 0;
  x--;
  while (x >= 256) {
    l += 8;
    x >>= 8;
  }
  return l + log_2.v[x];
}

int luaO_utf8esc(char *buff, unsigned long x) {
  int n = 1;  // bytes written, backwards from the end
  lua_assert(x <= 0x7FFFFFFFu);
  if (x < 0x80) {
    buff[UTF8BUFFSZ - 1] = cast_char(x);
  } else {
    unsigned int mfb = 0x3f;  // largest value that fits the first byte
    do {
      buff[UTF8BUFFSZ - (n++)] = cast_char(0x80 | (x & 0x3f));
      x >>= 6;
      mfb >>= 1;
    } while (x > mfb);
    buff[UTF8BUFFSZ - n] = cast_char((~mfb << 1) | x);
  }
  return n;
}

int luaO_hexavalue(int c) {
  if (l_isdigit(c)) return c - '0';
  return (l_tolower(c) - 'a') + 10;
}

int luaO_binavalue(int c) { return c - '0'; }

// Integer arithmetic. Division and modulo by zero never fail; the -1 cases avoid the one
// quotient that overflows.
lua_Integer luaO_idiv(lua_Integer m, lua_Integer n) {
  if (l_unlikely(l_castS2U(n) + 1u <= 1u)) {  // n is 0 or -1
    if (n == 0) return (m >= 0) ? LUA_MAXINTEGER : -LUA_MAXINTEGER;
    return intop(-, 0, m);
  }
  lua_Integer q = m / n;
  if ((m ^ n) < 0 && m % n != 0) q -= 1;  // round toward minus infinity
  return q;
}

lua_Integer luaO_imod(lua_Integer m, lua_Integer n) {
  if (l_unlikely(l_castS2U(n) + 1u <= 1u)) return 0;  // n is 0 or -1
  lua_Integer r = m % n;
  if (r != 0 && (r ^ n) < 0) r += n;  // result takes the divisor's sign
  return r;
}

#define NBITS 64

lua_Integer luaO_shiftl(lua_Integer x, lua_Integer y) {
  if (y < 0) {
    if (y <= -NBITS) return 0;
    return l_castU2S(l_castS2U(x) >> (unsigned)(-y));
  }
  if (y >= NBITS) return 0;
  return l_castU2S(l_castS2U(x) << (unsigned)y);
}

static lua_Integer shiftr(lua_Integer x, lua_Integer y) {
  return luaO_shiftl(x, intop(-, 0, y));  // mininteger stays mininteger: a shift to nothing
}

static lua_Integer intarith(int op, lua_Integer v1, lua_Integer v2) {
  switch (op) {
    case LUA_OPADD: return intop(+, v1, v2);
    case LUA_OPSUB: return intop(-, v1, v2);
    case LUA_OPMUL: return intop(*, v1, v2);
    case LUA_OPMOD: return luaO_imod(v1, v2);
    case LUA_OPIDIV: return luaO_idiv(v1, v2);
    case LUA_OPBAND: return intop(&, v1, v2);
    case LUA_OPBOR: return intop(|, v1, v2);
    case LUA_OPBXOR: return intop(^, v1, v2);
    case LUA_OPSHL: return luaO_shiftl(v1, v2);
    case LUA_OPSHR: return shiftr(v1, v2);
    case LUA_OPUNM: return intop(-, 0, v1);
    case LUA_OPBNOT: return intop(^, ~l_castS2U(0), v1);
    default: lua_assert(0); return 0;
  }
}

static lua_Number numarith(lua_State *L, int op, lua_Number v1, lua_Number v2) {
  switch (op) {
    case LUA_OPADD: return luai_numadd(L, v1, v2);
    case LUA_OPSUB: return luai_numsub(L, v1, v2);
    case LUA_OPMUL: return luai_nummul(L, v1, v2);
    case LUA_OPDIV: return luai_numdiv(L, v1, v2);
    case LUA_OPPOW: return luai_numpow(L, v1, v2);
    case LUA_OPIDIV: return luai_numidiv(L, v1, v2);
    case LUA_OPUNM: return luai_numunm(L, v1);
    case LUA_OPMOD: return luai_nummod(L, v1, v2);
    default: lua_assert(0); return 0;
  }
}

// Bitwise operands: integers, or floats with an exact integer value (no string coercion).
static int tointexact(const TValue *o, lua_Integer *i) {
  if (ttisinteger(o)) {
    *i = ivalue(o);
    return 1;
  }
  if (ttisfloat(o)) {
    lua_Number n = fltvalue(o);
    return (std::floor(n) == n) && lua_numbertointeger(n, i);
  }
  return 0;
}

static int tonumexact(const TValue *o, lua_Number *n) {
  if (ttisfloat(o)) {
    *n = fltvalue(o);
    return 1;
  }
  if (ttisinteger(o)) {
    *n = cast_num(ivalue(o));
    return 1;
  }
  return 0;
}

int luaO_rawarith(lua_State *L, int op, const TValue *p1, const TValue *p2, TValue *res) {
  switch (op) {
    case LUA_OPBAND: case LUA_OPBOR: case LUA_OPBXOR:
    case LUA_OPSHL: case LUA_OPSHR: case LUA_OPBNOT: {
      lua_Integer i1, i2;
      if (tointexact(p1, &i1) && tointexact(p2, &i2)) {
        setivalue(res, intarith(op, i1, i2));
        return 1;
      }
      return 0;
    }
    case LUA_OPDIV: case LUA_OPPOW: {  // always floats
      lua_Number n1, n2;
      if (tonumexact(p1, &n1) && tonumexact(p2, &n2)) {
        setfltvalue(res, numarith(L, op, n1, n2));
        return 1;
      }
      return 0;
    }
    default: {
      lua_Number n1, n2;
      if (ttisinteger(p1) && ttisinteger(p2)) {
        setivalue(res, intarith(op, ivalue(p1), ivalue(p2)));
        return 1;
      }
      if (tonumexact(p1, &n1) && tonumexact(p2, &n2)) {
        setfltvalue(res, numarith(L, op, n1, n2));
        return 1;
      }
      return 0;
    }
  }
}

void luaO_arith(lua_State *L, int op, const TValue *p1, const TValue *p2, TValue *res) {
  TValue temp;
  if (!luaO_rawarith(L, op, p1, p2, &temp))
    luaT_trybinTM(L, p1, p2, res, cast(TMS, (op - LUA_OPADD) + TM_ADD));
  else
    setobj(L, res, &temp);
}

// ---- Numerals ----

static int isneg(const char **s) {
  if (**s == '-') {
    (*s)++;
    return 1;
  }
  if (**s == '+') (*s)++;
  return 0;
}

#define MAXBY10 cast(lua_Unsigned, LUA_MAXINTEGER / 10)
#define MAXLASTD cast_int(LUA_MAXINTEGER % 10)

// Integer numerals: decimal (overflow turns them into floats), hexadecimal and binary (both
// wrap modulo 2^64).
static const char *l_str2int(const char *s, lua_Integer *result) {
  lua_Unsigned a = 0;
  int empty = 1;
  while (l_isspace(cast_uchar(*s))) s++;
  int neg = isneg(&s);
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s += 2;
    for (; l_isxdigit(cast_uchar(*s)); s++) {
      a = a * 16 + (lua_Unsigned)luaO_hexavalue(*s);
      empty = 0;
    }
  } else if (s[0] == '0' && (s[1] == 'b' || s[1] == 'B')) {
    s += 2;
    for (; *s == '0' || *s == '1'; s++) {
      a = a * 2 + (lua_Unsigned)luaO_binavalue(*s);
      empty = 0;
    }
  } else {
    for (; l_isdigit(cast_uchar(*s)); s++) {
      int d = *s - '0';
      if (a >= MAXBY10 && (a > MAXBY10 || d > MAXLASTD + neg)) return NULL;  // overflow
      a = a * 10 + (lua_Unsigned)d;
      empty = 0;
    }
  }
  while (l_isspace(cast_uchar(*s))) s++;
  if (empty || *s != '\0') return NULL;
  *result = l_castU2S(neg ? 0u - a : a);
  return s;
}

// Binary significant digits kept; later ones only scale the value.
#define MAXSIGBIN 64
// The exponent is summed exactly (digit counts are bounded by the text's length; the "p" power
// saturates far beyond any length); only the final sum is clamped for ldexp, where anything
// past this gives 0 or infinity anyway.
#define MAXPEXP (LLONG_MAX / 100)
#define MAXEXPCLAMP 100000

// Binary float: "0b" digits with at most one point, optionally "p" and a decimal power of two.
static lua_Number l_strb2number(const char *s, char **endptr) {
  lua_Number r = 0.0;
  long long e = 0;
  int sigdig = 0, nosigdig = 0, hasdot = 0;
  *endptr = cast_charp(s);  // nothing valid yet
  while (l_isspace(cast_uchar(*s))) s++;
  int neg = isneg(&s);
  if (!(s[0] == '0' && (s[1] == 'b' || s[1] == 'B'))) return 0.0;
  for (s += 2;; s++) {
    if (*s == '.') {
      if (hasdot) break;
      hasdot = 1;
    } else if (*s == '0' || *s == '1') {
      if (sigdig == 0 && *s == '0') {
        nosigdig = 1;  // leading zero
      } else if (sigdig < MAXSIGBIN) {
        sigdig++;
        r = r * 2.0 + luaO_binavalue(*s);
      } else {
        e++;  // too many digits: only the magnitude counts
      }
      if (hasdot) e--;
    } else {
      break;
    }
  }
  if (nosigdig + sigdig == 0) return 0.0;  // no digits at all
  *endptr = cast_charp(s);
  if (*s == 'p' || *s == 'P') {
    const char *ps = s + 1;
    int neg1 = isneg(&ps);
    if (l_isdigit(cast_uchar(*ps))) {
      long long exp1 = 0;
      while (l_isdigit(cast_uchar(*ps))) {
        if (exp1 < MAXPEXP) exp1 = exp1 * 10 + (*ps - '0');
        ps++;
      }
      e += neg1 ? -exp1 : exp1;
      *endptr = cast_charp(ps);
    }
  }
  if (e > MAXEXPCLAMP) e = MAXEXPCLAMP;
  if (e < -MAXEXPCLAMP) e = -MAXEXPCLAMP;
  if (neg) r = -r;
  return std::ldexp(r, (int)e);
}

static const char *l_str2dloc(const char *s, lua_Number *result, int mode) {
  char *endptr;
  *result = (mode == 'b') ? l_strb2number(s, &endptr) : lua_str2number(s, &endptr);
  if (endptr == s) return NULL;
  while (l_isspace(cast_uchar(*endptr))) endptr++;
  return (*endptr == '\0') ? endptr : NULL;
}

#define L_MAXLENNUM 200

static const char *l_str2d(const char *s, lua_Number *result) {
  const char *pmode = strpbrk(s, ".xXnNbB");  // the first of these decides the reader
  int mode = pmode ? l_tolower(cast_uchar(*pmode)) : 0;
  if (mode == 'n') return NULL;  // no infinity or not-a-number numerals
  const char *endptr = l_str2dloc(s, result, mode);
  if (endptr == NULL) {  // maybe the locale writes its decimal point differently
    char buff[L_MAXLENNUM + 1];
    const char *pdot = strchr(s, '.');
    if (pdot == NULL || strlen(s) > L_MAXLENNUM) return NULL;
    strcpy(buff, s);
    buff[pdot - s] = l_decpoint();
    endptr = l_str2dloc(buff, result, mode);
    if (endptr != NULL) endptr = s + (endptr - buff);
  }
  return endptr;
}

// Long texts count as native work: the readers pass over every byte (a failed one maybe up to
// the end), and blanks around a numeral have no bound.
static void meterscan(size_t n) {
  if (l_unlikely(n > 64)) native_work_add((int64_t)n * WORK_BYTE_SCANNED);
}

size_t luaO_str2num(const char *s, TValue *o) {
  lua_Integer i;
  lua_Number n;
  const char *e;
  if ((e = l_str2int(s, &i)) != NULL) {
    setivalue(o, i);
  } else if ((e = l_str2d(s, &n)) != NULL) {
    setfltvalue(o, n);
  } else {
    meterscan(strlen(s));
    return 0;
  }
  meterscan((size_t)(e - s));
  return (size_t)(e - s) + 1;
}

// ---- Number to text ----

// The digits by hand: the formatting engine costs several times more.
int luaO_int2str(char *buff, lua_Integer v) {
  lua_Unsigned u = v < 0 ? 0u - (lua_Unsigned)v : (lua_Unsigned)v;
  char digits[24];
  int k = 0;
  do {
    digits[k++] = (char)('0' + u % 10);
    u /= 10;
  } while (u != 0);
  int len = 0;
  if (v < 0) buff[len++] = '-';
  while (k > 0) buff[len++] = digits[--k];
  buff[len] = '\0';
  return len;
}

int luaO_tostringbuff(const TValue *obj, char *buff) {
  int len;
  lua_assert(ttisnumber(obj));
  if (ttisinteger(obj)) {
    len = luaO_int2str(buff, ivalue(obj));
  } else {
    len = snprintf(buff, MAXNUMBER2STR, LUAI_NUMFFORMAT, fltvalue(obj));
    if (buff[strspn(buff, "-0123456789")] == '\0') {  // looks like an integer: mark it a float
      buff[len++] = l_decpoint();
      buff[len++] = '0';
      buff[len] = '\0';
    }
  }
  return len;
}

void luaO_tostring(lua_State *L, TValue *obj) {
  char buff[MAXNUMBER2STR];
  int len = luaO_tostringbuff(obj, buff);
  setsvalue(L, obj, luaS_newlstr(L, buff, (size_t)len));
}

// ---- Formatted strings ----

#define BUFVFS 200

struct BuffFS {
  lua_State *L;
  int pushed;  // a part of the result is already on the stack
  int blen;
  char space[BUFVFS];
};

static void pushstr(BuffFS *buff, const char *str, size_t l) {
  lua_State *L = buff->L;
  setsvalue2s(L, L->top, luaS_newlstr(L, str, l));
  L->top++;  // may use an extra slot
  if (!buff->pushed)
    buff->pushed = 1;
  else
    luaV_concat(L, 2);
}

static void clearbuff(BuffFS *buff) {
  pushstr(buff, buff->space, (size_t)buff->blen);
  buff->blen = 0;
}

static char *getbuff(BuffFS *buff, int sz) {
  lua_assert(buff->blen <= BUFVFS && sz <= BUFVFS);
  if (sz > BUFVFS - buff->blen) clearbuff(buff);
  return buff->space + buff->blen;
}

#define addsize(b, sz) ((b)->blen += (sz))

static void addstr2buff(BuffFS *buff, const char *str, size_t slen) {
  if (slen <= BUFVFS) {
    char *bf = getbuff(buff, cast_int(slen));
    if (slen > 0) memcpy(bf, str, slen);
    addsize(buff, cast_int(slen));
  } else {  // too long for the buffer: goes straight to the stack
    clearbuff(buff);
    pushstr(buff, str, slen);
  }
}

static void addnum2buff(BuffFS *buff, TValue *num) {
  char *numbuff = getbuff(buff, MAXNUMBER2STR);
  int len = luaO_tostringbuff(num, numbuff);
  addsize(buff, len);
}

const char *luaO_pushvfstring(lua_State *L, const char *fmt, va_list argp) {
  BuffFS buff;
  const char *e;
  buff.pushed = buff.blen = 0;
  buff.L = L;
  while ((e = strchr(fmt, '%')) != NULL) {
    addstr2buff(&buff, fmt, (size_t)(e - fmt));
    switch (*(e + 1)) {
      case 's': {
        const char *s = va_arg(argp, char *);
        if (s == NULL) s = "(null)";
        addstr2buff(&buff, s, strlen(s));
        break;
      }
      case 'c': {
        char c = cast_char(cast_uchar(va_arg(argp, int)));
        addstr2buff(&buff, &c, sizeof(char));
        break;
      }
      case 'd': {
        TValue num;
        setivalue(&num, va_arg(argp, int));
        addnum2buff(&buff, &num);
        break;
      }
      case 'I': {
        TValue num;
        setivalue(&num, cast(lua_Integer, va_arg(argp, lua_Integer)));
        addnum2buff(&buff, &num);
        break;
      }
      case 'f': {
        TValue num;
        setfltvalue(&num, cast_num(va_arg(argp, lua_Number)));
        addnum2buff(&buff, &num);
        break;
      }
      case 'p': {
        const int sz = 3 * sizeof(void *) + 8;
        char *bf = getbuff(&buff, sz);
        void *p = va_arg(argp, void *);
        int len = snprintf(bf, (size_t)sz, "%p", p);
        addsize(&buff, len);
        break;
      }
      case 'U': {
        char bf[UTF8BUFFSZ];
        int len = luaO_utf8esc(bf, (unsigned long)va_arg(argp, long));
        addstr2buff(&buff, bf + UTF8BUFFSZ - len, (size_t)len);
        break;
      }
      case '%': {
        addstr2buff(&buff, "%", 1);
        break;
      }
      default: {
        luaG_runerror(L, "invalid option '%%%c' to 'lua_pushfstring'", *(e + 1));
      }
    }
    fmt = e + 2;
  }
  addstr2buff(&buff, fmt, strlen(fmt));
  clearbuff(&buff);
  lua_assert(buff.pushed == 1);
  return svalue(s2v(L->top - 1));
}

const char *luaO_pushfstring(lua_State *L, const char *fmt, ...) {
  va_list argp;
  va_start(argp, fmt);
  const char *msg = luaO_pushvfstring(L, fmt, argp);
  va_end(argp);
  return msg;
}

// ---- Chunk identifiers ----

#define RETS "..."

void luaO_chunkid(char *out, const char *source, size_t srclen) {
  size_t bufflen = LUA_IDSIZE_;  // room left, NUL included
  if (*source == '=') {
    if (srclen <= bufflen) {
      memcpy(out, source + 1, srclen * sizeof(char));  // the rest and its NUL
    } else {
      memcpy(out, source + 1, (bufflen - 1) * sizeof(char));
      out[bufflen - 1] = '\0';
    }
  } else if (*source == '@') {
    if (srclen <= bufflen) {
      memcpy(out, source + 1, srclen * sizeof(char));
    } else {  // keep the end of the name, which says most
      memcpy(out, RETS, LL(RETS));
      bufflen -= LL(RETS);
      memcpy(out + LL(RETS), source + 1 + srclen - bufflen, bufflen * sizeof(char));
    }
  } else {
    out[0] = '\0';  // other sources are not named in messages
  }
}
