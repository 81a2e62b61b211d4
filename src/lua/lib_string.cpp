// The string library: byte strings, patterns, formatting and binary packing.
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/lua.h"
#include "lua/object.h"

namespace {

// Largest size any string operation of this library may produce.
constexpr size_t kMaxSize = 2147483647;

// Character classes of the default locale, spelled out so they never depend on it.
constexpr bool c_isdigit(int c) { return c >= '0' && c <= '9'; }
constexpr bool c_islower(int c) { return c >= 'a' && c <= 'z'; }
constexpr bool c_isupper(int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool c_isalpha(int c) { return c_islower(c) || c_isupper(c); }
constexpr bool c_isalnum(int c) { return c_isalpha(c) || c_isdigit(c); }
constexpr bool c_iscntrl(int c) { return c < 32 || c == 127; }
constexpr bool c_isgraph(int c) { return c > 32 && c < 127; }
constexpr bool c_ispunct(int c) { return c_isgraph(c) && !c_isalnum(c); }
constexpr bool c_isspace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool c_isxdigit(int c) {
  return c_isdigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr int c_tolower(int c) { return c_isupper(c) ? c + ('a' - 'A') : c; }
constexpr int c_toupper(int c) { return c_islower(c) ? c - ('a' - 'A') : c; }

inline unsigned char uchar(char c) { return static_cast<unsigned char>(c); }

// The pattern classes as bits, so that testing a byte against a class is one table load.
enum : uint16_t {
  kClsAlpha = 1 << 0, kClsCntrl = 1 << 1, kClsDigit = 1 << 2, kClsGraph = 1 << 3,
  kClsLower = 1 << 4, kClsPunct = 1 << 5, kClsSpace = 1 << 6, kClsUpper = 1 << 7,
  kClsAlnum = 1 << 8, kClsXdigit = 1 << 9, kClsZero = 1 << 10,
  kClsComplement = 1 << 15,  // an upper-case class letter names the complement
};

struct ClassTables {
  uint16_t of_byte[256];   // the classes each byte belongs to
  uint16_t of_letter[256];  // the classes a letter after '%' names; 0: the byte itself
};

constexpr ClassTables make_class_tables() {
  ClassTables t{};
  for (int c = 0; c < 256; c++) {
    uint16_t b = 0;
    if (c_isalpha(c)) b |= kClsAlpha;
    if (c_iscntrl(c)) b |= kClsCntrl;
    if (c_isdigit(c)) b |= kClsDigit;
    if (c_isgraph(c)) b |= kClsGraph;
    if (c_islower(c)) b |= kClsLower;
    if (c_ispunct(c)) b |= kClsPunct;
    if (c_isspace(c)) b |= kClsSpace;
    if (c_isupper(c)) b |= kClsUpper;
    if (c_isalnum(c)) b |= kClsAlnum;
    if (c_isxdigit(c)) b |= kClsXdigit;
    if (c == 0) b |= kClsZero;
    t.of_byte[c] = b;
    uint16_t m = 0;
    switch (c_tolower(c)) {
      case 'a': m = kClsAlpha; break;
      case 'c': m = kClsCntrl; break;
      case 'd': m = kClsDigit; break;
      case 'g': m = kClsGraph; break;
      case 'l': m = kClsLower; break;
      case 'p': m = kClsPunct; break;
      case 's': m = kClsSpace; break;
      case 'u': m = kClsUpper; break;
      case 'w': m = kClsAlnum; break;
      case 'x': m = kClsXdigit; break;
      case 'z': m = kClsZero; break;
      default: break;
    }
    if (m != 0 && c_isupper(c)) m |= kClsComplement;
    t.of_letter[c] = m;
  }
  return t;
}

constexpr ClassTables kClassTables = make_class_tables();

struct CaseTables {
  unsigned char lower[256];
  unsigned char upper[256];
};

constexpr CaseTables make_case_tables() {
  CaseTables t{};
  for (int c = 0; c < 256; c++) {
    t.lower[c] = static_cast<unsigned char>(c_tolower(c));
    t.upper[c] = static_cast<unsigned char>(c_toupper(c));
  }
  return t;
}

constexpr CaseTables kCaseTables = make_case_tables();

// A relative initial position: negative counts from the end, and anything before the start
// clamps to 1.
size_t posrelatI(lua_Integer pos, size_t len) {
  if (pos > 0) return static_cast<size_t>(pos);
  if (pos == 0) return 1;
  if (pos < -static_cast<lua_Integer>(len)) return 1;
  return len + static_cast<size_t>(pos) + 1;
}

// A relative end position taken from argument arg, clamped to [0, len].
size_t getendpos(lua_State *L, int arg, lua_Integer def, size_t len) {
  lua_Integer pos = luaL_optinteger(L, arg, def);
  if (pos > static_cast<lua_Integer>(len)) return len;
  if (pos >= 0) return static_cast<size_t>(pos);
  if (pos < -static_cast<lua_Integer>(len)) return 0;
  return len + static_cast<size_t>(pos) + 1;
}

int str_len(lua_State *L) {
  size_t l;
  luaL_checklstring(L, 1, &l);
  lua_pushinteger(L, static_cast<lua_Integer>(l));
  return 1;
}

int str_sub(lua_State *L) {
  size_t l;
  const char *s = luaL_checklstring(L, 1, &l);
  size_t start = posrelatI(luaL_optinteger(L, 2, 1), l);
  size_t end = getendpos(L, 3, -1, l);
  if (start <= end) {
    lua_pushlstring(L, s + start - 1, end - start + 1);
    native_work_add(static_cast<int64_t>(end - start + 1) * WORK_BYTE_COMPARED);
  } else {
    lua_pushliteral(L, "");
  }
  return 1;
}

int str_reverse(lua_State *L) {
  size_t l;
  luaL_Buffer b;
  const char *s = luaL_checklstring(L, 1, &l);
  char *p = luaL_buffinitsize(L, &b, l);
  for (size_t i = 0; i < l; i++) p[i] = s[l - i - 1];
  luaL_pushresultsize(&b, l);
  native_work_add(static_cast<int64_t>(l) * WORK_BYTE_SCANNED);
  return 1;
}

int str_lower(lua_State *L) {
  size_t l;
  luaL_Buffer b;
  const char *s = luaL_checklstring(L, 1, &l);
  char *p = luaL_buffinitsize(L, &b, l);
  for (size_t i = 0; i < l; i++) p[i] = static_cast<char>(kCaseTables.lower[uchar(s[i])]);
  luaL_pushresultsize(&b, l);
  native_work_add(static_cast<int64_t>(l) * WORK_BYTE_SCANNED);
  return 1;
}

int str_upper(lua_State *L) {
  size_t l;
  luaL_Buffer b;
  const char *s = luaL_checklstring(L, 1, &l);
  char *p = luaL_buffinitsize(L, &b, l);
  for (size_t i = 0; i < l; i++) p[i] = static_cast<char>(kCaseTables.upper[uchar(s[i])]);
  luaL_pushresultsize(&b, l);
  native_work_add(static_cast<int64_t>(l) * WORK_BYTE_SCANNED);
  return 1;
}

int str_rep(lua_State *L) {
  size_t l, lsep;
  const char *s = luaL_checklstring(L, 1, &l);
  lua_Integer n = luaL_checkinteger(L, 2);
  const char *sep = luaL_optlstring(L, 3, "", &lsep);
  // n must be known positive before it divides the limit.
  if (n <= 0) {
    lua_pushliteral(L, "");
    return 1;
  }
  if (l + lsep < l || l + lsep > kMaxSize / static_cast<size_t>(n))
    return luaL_error(L, "resulting string too large");
  size_t total = static_cast<size_t>(n) * l + static_cast<size_t>(n - 1) * lsep;
  if (total == 0) {  // nothing to copy, however many copies
    lua_pushliteral(L, "");
    return 1;
  }
  luaL_Buffer b;
  char *p = luaL_buffinitsize(L, &b, total);
  while (n-- > 1) {
    memcpy(p, s, l);
    p += l;
    if (lsep > 0) {
      memcpy(p, sep, lsep);
      p += lsep;
    }
  }
  memcpy(p, s, l);
  luaL_pushresultsize(&b, total);
  native_work_add(2 * static_cast<int64_t>(total) * WORK_BYTE_COMPARED);  // filled, then copied
  return 1;
}

int str_byte(lua_State *L) {
  size_t l;
  const char *s = luaL_checklstring(L, 1, &l);
  lua_Integer pi = luaL_optinteger(L, 2, 1);
  size_t posi = posrelatI(pi, l);
  size_t pose = getendpos(L, 3, pi, l);
  if (posi > pose) return 0;
  if (pose - posi >= static_cast<size_t>(INT_MAX)) return luaL_error(L, "string slice too long");
  int n = static_cast<int>(pose - posi) + 1;
  if (n > 1) luaL_checkstack(L, n, "string slice too long");  // one fits in any frame
  for (int i = 0; i < n; i++) lua_pushinteger(L, uchar(s[posi + i - 1]));
  native_work_add(static_cast<int64_t>(n) * WORK_BYTE_SCANNED);
  return n;
}

int str_char(lua_State *L) {
  int n = lua_gettop(L);
  luaL_Buffer b;
  char *p = luaL_buffinitsize(L, &b, static_cast<size_t>(n));
  for (int i = 1; i <= n; i++) {
    lua_Unsigned c = static_cast<lua_Unsigned>(luaL_checkinteger(L, i));
    luaL_argcheck(L, c <= 255u, i, "value out of range");
    p[i - 1] = static_cast<char>(static_cast<unsigned char>(c));
  }
  luaL_pushresultsize(&b, static_cast<size_t>(n));
  native_work_add(static_cast<int64_t>(n) * WORK_BYTE_SCANNED);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Arithmetic on strings through the string metatable.

// Pushes the argument as a number when it is one or a string that converts entirely.
bool tonum(lua_State *L, int arg) {
  if (lua_type(L, arg) == LUA_TNUMBER) {
    lua_pushvalue(L, arg);
    return true;
  }
  size_t len;
  const char *s = lua_tolstring(L, arg, &len);
  if (s == nullptr) return false;
  native_work_add(static_cast<int64_t>(len) * WORK_BYTE_SCANNED);
  return lua_stringtonumber(L, s) == len + 1;
}

void trymt(lua_State *L, const char *mtname) {
  lua_settop(L, 2);
  if (lua_type(L, 2) == LUA_TSTRING || !luaL_getmetafield(L, 2, mtname)) {
    luaL_error(L, "attempt to %s a '%s' with a '%s'", mtname + 2, luaL_typename(L, -2),
               luaL_typename(L, -1));
    return;
  }
  lua_insert(L, -3);
  lua_call(L, 2, 1);
}

int arith(lua_State *L, int op, const char *mtname) {
  if (tonum(L, 1) && tonum(L, 2))
    lua_arith(L, op);
  else
    trymt(L, mtname);
  return 1;
}

int arith_add(lua_State *L) { return arith(L, LUA_OPADD, "__add"); }
int arith_sub(lua_State *L) { return arith(L, LUA_OPSUB, "__sub"); }
int arith_mul(lua_State *L) { return arith(L, LUA_OPMUL, "__mul"); }
int arith_mod(lua_State *L) { return arith(L, LUA_OPMOD, "__mod"); }
int arith_pow(lua_State *L) { return arith(L, LUA_OPPOW, "__pow"); }
int arith_div(lua_State *L) { return arith(L, LUA_OPDIV, "__div"); }
int arith_idiv(lua_State *L) { return arith(L, LUA_OPIDIV, "__idiv"); }
int arith_unm(lua_State *L) { return arith(L, LUA_OPUNM, "__unm"); }

// ---------------------------------------------------------------------------------------------
// Pattern matching.

constexpr int kMaxCaptures = 32;
constexpr int kMaxMatchDepth = 200;
constexpr int CAP_UNFINISHED = -1;
constexpr int CAP_POSITION = -2;
constexpr char L_ESC = '%';
const char kSpecials[] = "^$*+?.([%-";

// A match runs inside one native call that no cycle budget can interrupt, and backtracking can
// take exponential time. Every call gets an allowance of work, counted in ticks (a tick is a
// byte looked at by a class; entering the matcher is kEntryTicks; memcmp reads kComparedPerTick
// bytes a tick), and gives up with "pattern too complex" when it is spent. Whatever the kind of
// work, the allowance is spent in one to one and a half seconds on the reference machine
// (bench/patterns.lua): searches the reference interpreter finishes in a second pass, ones that
// would run for minutes stop. The ticks of a call also go to the native work meter.
// The allowance is measured in the matcher's own ticks, so that a change of the meter's scale
// moves no refusal; the meter gets WORK_MATCH_STEP per entry's worth of ticks.
constexpr int64_t kEntryTicks = 10;
constexpr int64_t kTickUnits = WORK_MATCH_STEP / kEntryTicks > 0 ? WORK_MATCH_STEP / kEntryTicks : 1;
constexpr int64_t kComparedPerTick = 48;
constexpr size_t kCachedCompare = 32768;
// Sanitized builds run many times slower: a smaller allowance gives up in about as long, and
// a fuzzing build, which tries thousands of patterns a second, gives up sooner still.
#if defined(__has_feature)
#if __has_feature(coverage_sanitizer)
#define HALVORAN_MATCH_SCALE 1024
#elif __has_feature(address_sanitizer)
#define HALVORAN_MATCH_SCALE 32
#endif
#endif
#if !defined(HALVORAN_MATCH_SCALE) && defined(__SANITIZE_ADDRESS__)
#define HALVORAN_MATCH_SCALE 32
#endif
#ifndef HALVORAN_MATCH_SCALE
#define HALVORAN_MATCH_SCALE 1
#endif
constexpr int64_t kMatchTicks = int64_t(1800000000) / HALVORAN_MATCH_SCALE;

struct MatchState {
  int64_t budget;        // ticks left in this call
  const char *src_init;  // start of the subject
  const char *src_end;   // end ('\0') of the subject
  const char *p_end;     // end ('\0') of the pattern
  lua_State *L;
  int matchdepth;  // nesting left before "pattern too complex"
  unsigned char level;  // number of captures, finished or not
  struct {
    const char *init;
    ptrdiff_t len;
  } capture[kMaxCaptures];
};

// Hands the ticks a call used to the native work meter, however the call ends.
struct MatchWork {
  MatchState *ms;
  int64_t start;
  explicit MatchWork(MatchState *m) : ms(m), start(m->budget) {}
  ~MatchWork() {
    native_work_add((start - ms->budget) * kTickUnits);
  }
  MatchWork(const MatchWork &) = delete;
  MatchWork &operator=(const MatchWork &) = delete;
};

[[noreturn]] void too_complex(MatchState *ms) {
  luaL_error(ms->L, "pattern too complex");
  __builtin_unreachable();
}

inline void spend(MatchState *ms, int64_t ticks) {
  ms->budget -= ticks;
  if (__builtin_expect(ms->budget < 0, 0)) too_complex(ms);
}

// Copying results is bounded by the memory it fills: metered, never refused.
inline void charge(MatchState *ms, int64_t ticks) { ms->budget -= ticks; }

const char *match(MatchState *ms, const char *s, const char *p);

int check_capture(MatchState *ms, int l) {
  l -= '1';
  if (l < 0 || l >= ms->level || ms->capture[l].len == CAP_UNFINISHED)
    return luaL_error(ms->L, "invalid capture index %%%d", l + 1);
  return l;
}

int capture_to_close(MatchState *ms) {
  int level = ms->level;
  for (level--; level >= 0; level--)
    if (ms->capture[level].len == CAP_UNFINISHED) return level;
  return luaL_error(ms->L, "invalid pattern capture");
}

// The end of the set starting at p ('[').
const char *setEndChecked(MatchState *ms, const char *p) {
  p++;
  if (*p == '^') p++;
  do {  // look for a ']'
    if (p == ms->p_end) luaL_error(ms->L, "malformed pattern (missing ']')");
    if (*(p++) == L_ESC && p < ms->p_end) p++;  // skip escapes such as '%]'
  } while (*p != ']');
  return p + 1;
}

// The end of the single-character class starting at p.
inline const char *classEnd(MatchState *ms, const char *p) {
  switch (*p) {
    case L_ESC:
      if (p + 1 == ms->p_end) luaL_error(ms->L, "malformed pattern (ends with '%%')");
      return p + 2;
    case '[':
      return setEndChecked(ms, p);
    default:
      return p + 1;
  }
}

// Ticks of one test of the class p..ep: a set is read byte by byte.
inline int64_t class_ticks(const char *p, const char *ep) { return *p == '[' ? ep - p : 1; }

// Whether byte c is in the class named by the letter: m is the letter's entry, nonzero.
inline bool in_class(int c, uint16_t m) {
  bool res = (kClassTables.of_byte[c] & m) != 0;
  return res != ((m & kClsComplement) != 0);
}

inline bool match_class(int c, int cl) {
  uint16_t m = kClassTables.of_letter[cl];
  if (m == 0) return cl == c;
  return in_class(c, m);
}

// p points at '[' and ec at its closing ']'.
inline bool matchbracketclass(int c, const char *p, const char *ec) {
  bool sig = true;
  if (*(p + 1) == '^') {
    sig = false;
    p++;
  }
  while (++p < ec) {
    if (*p == L_ESC) {
      p++;
      if (match_class(c, uchar(*p))) return sig;
    } else if (*(p + 1) == '-' && (p + 2 < ec)) {
      p += 2;
      if (uchar(*(p - 2)) <= c && c <= uchar(*p)) return sig;
    } else if (uchar(*p) == c) {
      return sig;
    }
  }
  return !sig;
}

// Whether byte c is in the class p..ep.
inline bool classmatch(int c, const char *p, const char *ep) {
  switch (*p) {
    case '.': return true;
    case L_ESC: return match_class(c, uchar(*(p + 1)));
    case '[': return matchbracketclass(c, p, ep - 1);
    default: return uchar(*p) == c;
  }
}

inline bool singlematch(MatchState *ms, const char *s, const char *p, const char *ep) {
  return s < ms->src_end && classmatch(uchar(*s), p, ep);
}

// The set p..ep as a bitmap of the bytes it holds.
struct ByteSet {
  uint64_t w[4];
  bool has(int c) const { return (w[c >> 6] >> (c & 63)) & 1; }
  void add(int c) { w[c >> 6] |= uint64_t(1) << (c & 63); }
};

void build_set(ByteSet *bs, const char *p, const char *ec) {
  *bs = ByteSet{};
  bool sig = true;
  if (*(p + 1) == '^') {
    sig = false;
    p++;
  }
  while (++p < ec) {
    if (*p == L_ESC) {
      p++;
      uint16_t m = kClassTables.of_letter[uchar(*p)];
      if (m == 0) {
        bs->add(uchar(*p));
      } else {
        for (int c = 0; c < 256; c++)
          if (in_class(c, m)) bs->add(c);
      }
    } else if (*(p + 1) == '-' && (p + 2 < ec)) {
      p += 2;
      for (int c = uchar(*(p - 2)); c <= uchar(*p); c++) bs->add(c);
    } else {
      bs->add(uchar(*p));
    }
  }
  if (!sig)
    for (uint64_t &x : bs->w) x = ~x;
}

// The length of the run from s (at most max bytes) of bytes in the set p..ep. A long run is
// read through a bitmap of the set.
size_t setrun(const char *s, size_t max, const char *p, const char *ep) {
  constexpr size_t kDirect = 16;
  size_t i = 0;
  size_t direct = max < kDirect ? max : kDirect;
  while (i < direct && matchbracketclass(uchar(s[i]), p, ep - 1)) i++;
  if (i < kDirect || i == max) return i;
  ByteSet bs;
  build_set(&bs, p, ep - 1);
  while (i < max && bs.has(uchar(s[i]))) i++;
  return i;
}

// The length of the run of bytes from s that the class p..ep matches, charged as it is read.
size_t classrun(MatchState *ms, const char *s, const char *p, const char *ep) {
  size_t max = static_cast<size_t>(ms->src_end - s);
  if (*p == '.') return max;  // nothing to read
  int64_t cost = class_ticks(p, ep);
  // never read further than the allowance pays for
  uint64_t afford = static_cast<uint64_t>(ms->budget / cost) + 1;
  if (max > afford) max = static_cast<size_t>(afford);
  size_t i = 0;
  switch (*p) {
    case L_ESC: {
      int cl = uchar(*(p + 1));
      uint16_t m = kClassTables.of_letter[cl];
      if (m == 0) {
        char c = static_cast<char>(cl);
        while (i < max && s[i] == c) i++;
      } else {
        while (i < max && in_class(uchar(s[i]), m)) i++;
      }
      break;
    }
    case '[':
      i = setrun(s, max, p, ep);
      break;
    default: {
      char c = *p;
      while (i < max && s[i] == c) i++;
      break;
    }
  }
  spend(ms, static_cast<int64_t>(i) * cost);
  return i;
}

const char *matchbalance(MatchState *ms, const char *s, const char *p) {
  if (p >= ms->p_end - 1) luaL_error(ms->L, "malformed pattern (missing arguments to '%%b')");
  if (s >= ms->src_end || *s != *p) return nullptr;
  int b = *p;
  int e = *(p + 1);
  int cont = 1;
  // the scan is linear work inside one step: it is charged by the byte
  const char *start = s;
  const char *res = nullptr;
  while (++s < ms->src_end) {
    if (*s == e) {
      if (--cont == 0) {
        res = s + 1;
        break;
      }
    } else if (*s == b) {
      cont++;
    }
  }
  spend(ms, s - start);
  return res;
}

const char *setEnd(const char *p, const char *p_end);

// The end of the single-character class at q (a character, an escape, a set, or a '$' that
// is not the last), or nullptr when none starts there: ')', a final '$', %b, %f, a
// back-reference or a malformed set.
const char *single_class_end(const char *q, const char *p_end) {
  switch (*q) {
    case ')':
      return nullptr;
    case '$':
      return q + 1 == p_end ? nullptr : q + 1;
    case L_ESC:
      if (q + 1 >= p_end) return nullptr;
      if (*(q + 1) == 'b' || *(q + 1) == 'f' || c_isdigit(uchar(*(q + 1)))) return nullptr;
      return q + 2;
    case '[':
      return setEnd(q, p_end);
    default:
      return q + 1;
  }
}

// When the rest of the pattern begins (perhaps after closing captures) with a single class
// that must match once, a try of the rest where the class does not match enters the matcher
// once per ')' and once more, tests the class and fails, leaving everything as it was. Such
// tries are charged their ticks without being made.
struct QuickFail {
  const char *p = nullptr;  // the class; nullptr: every try is made
  const char *ep = nullptr;
  int entries = 0;    // nesting the try takes
  int64_t ticks = 0;  // and its ticks
};

QuickFail quick_fail(MatchState *ms, const char *q) {
  QuickFail r;
  int closes = 0;
  while (q < ms->p_end && *q == ')') {
    q++;
    closes++;
  }
  if (q >= ms->p_end) return r;
  if (closes > 0) {  // each ')' must find a capture to close
    int unfinished = 0;
    for (int l = 0; l < ms->level; l++)
      if (ms->capture[l].len == CAP_UNFINISHED) unfinished++;
    if (unfinished < closes) return r;
  }
  if (*q == '(' || *q == '.') return r;
  const char *ep = single_class_end(q, ms->p_end);
  if (ep == nullptr) return r;
  if (ep < ms->p_end && (*ep == '*' || *ep == '?' || *ep == '-')) return r;
  r.p = q;
  r.ep = ep;
  r.entries = 1 + closes;
  r.ticks = kEntryTicks * (1 + closes) + 2 * class_ticks(q, ep);
  return r;
}

// Whether the try at s fails at once; it is then charged. A try the allowance or the nesting
// limit would stop is left to be made.
inline bool quick_failed(MatchState *ms, const QuickFail &qf, const char *s) {
  if (qf.p == nullptr) return false;
  if (s < ms->src_end && classmatch(uchar(*s), qf.p, qf.ep)) return false;
  if (ms->budget < qf.ticks || ms->matchdepth < qf.entries) return false;
  ms->budget -= qf.ticks;
  return true;
}

const char *max_expand(MatchState *ms, const char *s, const char *p, const char *ep) {
  ptrdiff_t i = static_cast<ptrdiff_t>(classrun(ms, s, p, ep));
  QuickFail qf;
  if (i > 1) qf = quick_fail(ms, ep + 1);
  // try with the longest run first, then give back one at a time
  while (i >= 0) {
    if (!quick_failed(ms, qf, s + i)) {
      const char *res = match(ms, s + i, ep + 1);
      if (res) return res;
    }
    i--;
  }
  return nullptr;
}

const char *min_expand(MatchState *ms, const char *s, const char *p, const char *ep) {
  int64_t cost = class_ticks(p, ep);
  QuickFail qf = quick_fail(ms, ep + 1);
  for (;;) {
    const char *res = quick_failed(ms, qf, s) ? nullptr : match(ms, s, ep + 1);
    if (res != nullptr) return res;
    spend(ms, cost);
    if (singlematch(ms, s, p, ep))
      s++;
    else
      return nullptr;
  }
}

const char *start_capture(MatchState *ms, const char *s, const char *p, int what) {
  int level = ms->level;
  if (level >= kMaxCaptures) luaL_error(ms->L, "too many captures");
  ms->capture[level].init = s;
  ms->capture[level].len = what;
  ms->level = static_cast<unsigned char>(level + 1);
  const char *res = match(ms, s, p);
  if (res == nullptr) ms->level--;  // undo the capture
  return res;
}

const char *end_capture(MatchState *ms, const char *s, const char *p) {
  int l = capture_to_close(ms);
  ms->capture[l].len = s - ms->capture[l].init;
  const char *res = match(ms, s, p);
  if (res == nullptr) ms->capture[l].len = CAP_UNFINISHED;
  return res;
}

const char *match_capture(MatchState *ms, const char *s, int l) {
  l = check_capture(ms, l);
  size_t len = static_cast<size_t>(ms->capture[l].len);
  if (static_cast<size_t>(ms->src_end - s) < len) return nullptr;
  // the comparison is linear work inside one step: it is charged by the byte, and a block
  // too long for the caches is compared at the speed of memory, a third slower
  int64_t ticks = 1 + static_cast<int64_t>(len / kComparedPerTick);
  if (len > kCachedCompare) ticks += ticks / 2;
  spend(ms, ticks);
  if (memcmp(ms->capture[l].init, s, len) == 0) return s + len;
  return nullptr;
}

const char *match(MatchState *ms, const char *s, const char *p) {
  if (ms->matchdepth-- == 0) too_complex(ms);
  spend(ms, kEntryTicks);
  for (;;) {
    if (p == ms->p_end) break;  // end of pattern: s is the end of the match
    switch (*p) {
      case '(':
        if (*(p + 1) == ')')
          s = start_capture(ms, s, p + 2, CAP_POSITION);
        else
          s = start_capture(ms, s, p + 1, CAP_UNFINISHED);
        goto done;
      case ')':
        s = end_capture(ms, s, p + 1);
        goto done;
      case '$':
        if (p + 1 != ms->p_end) goto dflt;  // a '$' inside the pattern is literal
        s = (s == ms->src_end) ? s : nullptr;
        goto done;
      case L_ESC:
        switch (*(p + 1)) {
          case 'b':
            s = matchbalance(ms, s, p + 2);
            if (s != nullptr) {
              p += 4;
              continue;
            }
            goto done;
          case 'f': {
            p += 2;
            if (*p != '[') luaL_error(ms->L, "missing '[' after '%%f' in pattern");
            const char *ep = classEnd(ms, p);
            spend(ms, 3 * class_ticks(p, ep));  // its end, then two tests
            int previous = (s == ms->src_init) ? '\0' : uchar(*(s - 1));
            int current = (s < ms->src_end) ? uchar(*s) : '\0';
            if (!matchbracketclass(previous, p, ep - 1) && matchbracketclass(current, p, ep - 1)) {
              p = ep;
              continue;
            }
            s = nullptr;
            goto done;
          }
          case '0': case '1': case '2': case '3': case '4':
          case '5': case '6': case '7': case '8': case '9':
            s = match_capture(ms, s, uchar(*(p + 1)));
            if (s != nullptr) {
              p += 2;
              continue;
            }
            goto done;
          default:
            goto dflt;
        }
      default:
      dflt: {
        const char *ep = classEnd(ms, p);
        spend(ms, 2 * class_ticks(p, ep));  // finding its end, then testing it
        if (!singlematch(ms, s, p, ep)) {
          if (*ep == '*' || *ep == '?' || *ep == '-') {
            // the item may match nothing: go on with the rest, no nesting
            p = ep + 1;
            continue;
          }
          s = nullptr;
        } else {
          switch (*ep) {
            case '?': {
              const char *res = match(ms, s + 1, ep + 1);
              if (res != nullptr) {
                s = res;
              } else {
                p = ep + 1;
                continue;
              }
              break;
            }
            case '+':
              s = max_expand(ms, s + 1, p, ep);
              break;
            case '*':
              s = max_expand(ms, s, p, ep);
              break;
            case '-':
              s = min_expand(ms, s, p, ep);
              break;
            default:
              s++;
              p = ep;
              continue;
          }
        }
        goto done;
      }
    }
  }
done:
  ms->matchdepth++;
  return s;
}

// Skipping starts that cannot match.
//
// When a pattern begins (perhaps inside captures) with a single-character class under '*',
// '-' or '+', an attempt at start s tries the rest of the pattern at every position of the
// class's run from s (for '+', every position after s), and a later start inside the run
// tries a subset of those positions in the same state. Without back-references nothing the
// rest does depends on where the attempt began, so once the attempt at s fails, every start
// up to the end of the run fails too, and the search goes on after it.
//
// When a pattern begins (perhaps inside captures) with %bxy and the balance scan from s runs
// to the end of the subject without closing, a later start t closes only where the depth
// counted from s falls below its depth at t; one backward pass finds the first such t, and
// every start before it fails at its first item.
struct LeadingRun {
  enum Kind { kNone, kClass, kBalance } kind = kNone;
  const char *p = nullptr;   // the class, or the two characters of %b
  const char *ep = nullptr;  // the end of the class (at the quantifier)
};

// The end of a set at p ('['), or nullptr when it is malformed.
const char *setEnd(const char *p, const char *p_end) {
  p++;
  if (p < p_end && *p == '^') p++;
  do {
    if (p >= p_end) return nullptr;
    if (*(p++) == L_ESC && p < p_end) p++;
  } while (p >= p_end || *p != ']');
  return p + 1;
}

// Whether the pattern holds a back-reference; the walk reads the items as the matcher does.
bool has_backref(const char *q, const char *p_end) {
  while (q < p_end) {
    if (*q == L_ESC) {
      if (q + 1 >= p_end) return false;
      char d = *(q + 1);
      if (c_isdigit(uchar(d))) return true;
      if (d == 'b') {
        q += 4;
      } else if (d == 'f') {
        if (q + 2 >= p_end || *(q + 2) != '[') return false;
        q = setEnd(q + 2, p_end);
        if (q == nullptr) return false;
      } else {
        q += 2;
      }
    } else if (*q == '[') {
      q = setEnd(q, p_end);
      if (q == nullptr) return false;
    } else {
      q++;
    }
  }
  return false;
}

LeadingRun leading_run(const char *p, const char *p_end) {
  LeadingRun r;
  const char *q = p;
  while (q < p_end && *q == '(') q += (*(q + 1) == ')') ? 2 : 1;  // captures opened at the start
  if (q >= p_end) return r;
  if (*q == L_ESC && q + 1 < p_end && *(q + 1) == 'b') {
    if (p_end - q < 4) return r;
    r.kind = LeadingRun::kBalance;
    r.p = q + 2;
    return r;
  }
  const char *ep = single_class_end(q, p_end);  // a back-reference is ruled out below anyway
  if (ep == nullptr) return r;
  if (ep >= p_end || (*ep != '*' && *ep != '-' && *ep != '+')) return r;
  if (has_backref(p, p_end)) return r;
  r.kind = LeadingRun::kClass;
  r.p = q;
  r.ep = ep;
  return r;
}

// After a failed balance scan from s: the last start before the first that can close.
const char *skip_balance(MatchState *ms, const char *s, char b, char e) {
  const char *t = s;
  int64_t depth = 1;
  while (++t < ms->src_end) {
    if (*t == e) {
      if (--depth == 0) break;
    } else if (*t == b) {
      depth++;
    }
  }
  spend(ms, t - s);
  if (t < ms->src_end) return s;  // it closes: the rest of the pattern failed
  // backward: depth is the depth after byte t, low the least depth after t
  int64_t low = INT64_MAX;
  const char *first = ms->src_end;
  for (t = ms->src_end - 1; t > s; t--) {
    if (*t == e) {
      low = depth < low ? depth : low;
      depth++;
    } else if (*t == b) {
      if (low < depth) first = t;  // the depth falls back below its level here
      low = depth < low ? depth : low;
      depth--;
    } else {
      low = depth < low ? depth : low;
    }
  }
  spend(ms, ms->src_end - s);
  return first == ms->src_end ? first : first - 1;
}

// When a pattern begins (perhaps inside captures) with a single-character class that must
// match once (alone or under '+'), an attempt fails at once where the class does not match:
// it enters the matcher once per opened capture and once more, tests the class and does
// nothing else. Such starts are passed over in one scan and charged the same ticks, as long
// as the allowance pays for all of them; the start where it would run out is tried as usual.
struct FirstClass {
  const char *p = nullptr;  // the class; nullptr: no starts are passed over
  const char *ep = nullptr;
  int64_t ticks = 0;  // the ticks of an attempt that fails at the class
};

FirstClass first_class(const char *p, const char *p_end) {
  FirstClass r;
  const char *q = p;
  int opened = 0;
  while (q < p_end && *q == '(') {
    q += (*(q + 1) == ')') ? 2 : 1;
    opened++;
  }
  if (q >= p_end || opened > kMaxCaptures) return r;
  if (*q == '.') return r;  // fails only at the end of the subject
  const char *ep = single_class_end(q, p_end);
  if (ep == nullptr) return r;
  if (ep < p_end && (*ep == '*' || *ep == '?' || *ep == '-')) return r;
  r.p = q;
  r.ep = ep;
  r.ticks = kEntryTicks * (1 + opened) + 2 * class_ticks(q, ep);
  return r;
}

// The first start from s, before the end of the subject, where the first class matches;
// the starts passed over are charged as failed attempts.
const char *pass_failing(MatchState *ms, const FirstClass &fc, const char *s) {
  if (fc.p == nullptr || s >= ms->src_end) return s;
  size_t max = static_cast<size_t>(ms->src_end - s);
  // copying results may have overdrawn the allowance: then no start is passed over
  int64_t afford = ms->budget > 0 ? ms->budget / fc.ticks : 0;
  if (max > static_cast<uint64_t>(afford)) max = static_cast<size_t>(afford);
  size_t i = 0;
  const char *p = fc.p;
  switch (*p) {
    case L_ESC: {
      uint16_t m = kClassTables.of_letter[uchar(*(p + 1))];
      if (m == 0) {
        const void *hit = memchr(s, *(p + 1), max);
        i = hit ? static_cast<size_t>(static_cast<const char *>(hit) - s) : max;
      } else {
        while (i < max && !in_class(uchar(s[i]), m)) i++;
      }
      break;
    }
    case '[':
      while (i < max && !matchbracketclass(uchar(s[i]), p, fc.ep - 1)) i++;
      break;
    default: {
      const void *hit = memchr(s, *p, max);
      i = hit ? static_cast<size_t>(static_cast<const char *>(hit) - s) : max;
      break;
    }
  }
  ms->budget -= static_cast<int64_t>(i) * fc.ticks;
  return s + i;
}

// After a failed attempt at s: the last start the same failure rules out.
inline const char *skip_run(MatchState *ms, const LeadingRun &lr, const char *s) {
  switch (lr.kind) {
    case LeadingRun::kClass:
      return s + classrun(ms, s, lr.p, lr.ep);
    case LeadingRun::kBalance:
      if (s < ms->src_end && *s == lr.p[0]) return skip_balance(ms, s, lr.p[0], lr.p[1]);
      return s;
    default:
      return s;
  }
}

// Plain substring search.
//
// memchr and memcmp serve ordinary needles; when they have compared much more than the
// subject's length, the rest of the search goes to a two-way search, linear in the subject
// and the needle together.

// The maximal suffix of x[0..m) under the byte order (or its reverse): returns the position
// before it and sets *period to its period.
ptrdiff_t maximal_suffix(const unsigned char *x, ptrdiff_t m, ptrdiff_t *period, bool reverse) {
  ptrdiff_t ms = -1, j = 0, k = 1, p = 1;
  while (j + k < m) {
    unsigned char a = x[j + k], b = x[ms + k];
    if (reverse ? a > b : a < b) {
      j += k;
      k = 1;
      p = j - ms;
    } else if (a == b) {
      if (k != p) {
        k++;
      } else {
        j += p;
        k = 1;
      }
    } else {
      ms = j;
      j = ms + 1;
      k = p = 1;
    }
  }
  *period = p;
  return ms;
}

const char *two_way(const char *s1, size_t l1, const char *s2, size_t l2, int64_t *work) {
  const unsigned char *y = reinterpret_cast<const unsigned char *>(s1);
  const unsigned char *x = reinterpret_cast<const unsigned char *>(s2);
  ptrdiff_t n = static_cast<ptrdiff_t>(l1), m = static_cast<ptrdiff_t>(l2);
  *work += 4 * (n + m) * WORK_BYTE_SCANNED;  // each byte is read a bounded number of times
  ptrdiff_t p1, p2;
  ptrdiff_t i1 = maximal_suffix(x, m, &p1, false);
  ptrdiff_t i2 = maximal_suffix(x, m, &p2, true);
  ptrdiff_t ell = i1 > i2 ? i1 : i2;
  ptrdiff_t per = i1 > i2 ? p1 : p2;
  ptrdiff_t j = 0;
  if (memcmp(x, x + per, static_cast<size_t>(ell + 1)) == 0) {
    // periodic needle: remember how much of the left part is known to match
    ptrdiff_t memory = -1;
    while (j <= n - m) {
      ptrdiff_t i = (ell > memory ? ell : memory) + 1;
      while (i < m && x[i] == y[i + j]) i++;
      if (i >= m) {
        i = ell;
        while (i > memory && x[i] == y[i + j]) i--;
        if (i <= memory) return s1 + j;
        j += per;
        memory = m - per - 1;
      } else {
        j += i - ell;
        memory = -1;
      }
    }
  } else {
    per = (ell + 1 > m - ell - 1 ? ell + 1 : m - ell - 1) + 1;
    while (j <= n - m) {
      ptrdiff_t i = ell + 1;
      while (i < m && x[i] == y[i + j]) i++;
      if (i >= m) {
        i = ell;
        while (i >= 0 && x[i] == y[i + j]) i--;
        if (i < 0) return s1 + j;
        j += per;
      } else {
        j += i - ell;
      }
    }
  }
  return nullptr;
}

// Finds the block s2 of length l2 inside s1 of length l1; adds the work to *work.
const char *lmemfind(const char *s1, size_t l1, const char *s2, size_t l2, int64_t *work) {
  if (l2 == 0) return s1;
  if (l2 > l1) return nullptr;
  // a memchr and memcmp pair costs about as much as comparing this many bytes
  constexpr uint64_t kHitBytes = 16;
  // and as much as reading this many bytes in a loop
  constexpr int64_t kHitScanned = 5;
  const char *const start = s1;
  const char *const end = s1 + l1;
  // what the hits may cost before the search changes method
  uint64_t allowance = 2 * static_cast<uint64_t>(l1) + 256;
  uint64_t cost = 0;
  int64_t hits = 0;
  const char *found = nullptr;
  const char *last = end - l2;  // the last start that can hold the needle
  const char *init = s1;
  for (;;) {
    init = static_cast<const char *>(memchr(init, *s2, static_cast<size_t>(last - init) + 1));
    if (init == nullptr) {
      init = last + 1;
      break;
    }
    cost += l2 + kHitBytes;
    hits++;
    if (memcmp(init + 1, s2 + 1, l2 - 1) == 0) {
      found = init;
      break;
    }
    if (init == last) {
      init = last + 1;
      break;
    }
    init++;
    if (cost > allowance) {
      found = two_way(init, static_cast<size_t>(end - init), s2, l2, work);
      break;
    }
  }
  *work += (static_cast<int64_t>(init - start) + static_cast<int64_t>(cost)) * WORK_BYTE_COMPARED +
           hits * kHitScanned * WORK_BYTE_SCANNED;
  return found;
}

// Pushes capture i (or the whole match when there are no captures) and returns its length, or
// CAP_POSITION for a position capture.
size_t get_onecapture(MatchState *ms, int i, const char *s, const char *e, const char **cap) {
  if (i >= ms->level) {
    if (i != 0) luaL_error(ms->L, "invalid capture index %%%d", i + 1);
    *cap = s;
    return static_cast<size_t>(e - s);
  }
  ptrdiff_t capl = ms->capture[i].len;
  *cap = ms->capture[i].init;
  if (capl == CAP_UNFINISHED) luaL_error(ms->L, "unfinished capture");
  if (capl == CAP_POSITION)
    lua_pushinteger(ms->L, (ms->capture[i].init - ms->src_init) + 1);
  return static_cast<size_t>(capl);
}

void push_onecapture(MatchState *ms, int i, const char *s, const char *e) {
  const char *cap;
  ptrdiff_t l = static_cast<ptrdiff_t>(get_onecapture(ms, i, s, e, &cap));
  if (l != CAP_POSITION) {
    lua_pushlstring(ms->L, cap, static_cast<size_t>(l));
    charge(ms, 1 + l / kComparedPerTick);
  }
}

int push_captures(MatchState *ms, const char *s, const char *e) {
  int nlevels = (ms->level == 0 && s) ? 1 : ms->level;
  luaL_checkstack(ms->L, nlevels, "too many captures");
  for (int i = 0; i < nlevels; i++) push_onecapture(ms, i, s, e);
  return nlevels;
}

// A pattern without special characters is searched for as plain text.
bool nospecials(const char *p, size_t l) {
  size_t upto = 0;
  do {
    if (strpbrk(p + upto, kSpecials)) return false;
    upto += strlen(p + upto) + 1;  // look past an embedded zero
  } while (upto <= l);
  return true;
}

// A pattern the matcher reads as a literal: no special character and no ')' (which find
// takes literally but the matcher reads as the end of a capture).
bool literalpattern(const char *p, size_t l) {
  return memchr(p, ')', l) == nullptr && nospecials(p, l);
}

void prepstate(MatchState *ms, lua_State *L, const char *s, size_t ls, const char *p, size_t lp) {
  ms->L = L;
  ms->budget = kMatchTicks;
  ms->matchdepth = kMaxMatchDepth;
  ms->src_init = s;
  ms->src_end = s + ls;
  ms->p_end = p + lp;
  ms->level = 0;
}

void reprepstate(MatchState *ms) {
  ms->level = 0;
  ms->matchdepth = kMaxMatchDepth;
}

// A plain search inside a matching call: its work is charged like the matcher's.
const char *plainfind(MatchState *ms, const char *s, const char *p, size_t lp) {
  int64_t work = 0;
  const char *r = lmemfind(s, static_cast<size_t>(ms->src_end - s), p, lp, &work);
  spend(ms, work / kTickUnits);
  return r;
}

int str_find_aux(lua_State *L, bool find) {
  size_t ls, lp;
  const char *s = luaL_checklstring(L, 1, &ls);
  const char *p = luaL_checklstring(L, 2, &lp);
  size_t init = posrelatI(luaL_optinteger(L, 3, 1), ls) - 1;
  if (init > ls) {  // starts after the end: nothing can match
    luaL_pushfail(L);
    return 1;
  }
  MatchState ms;
  prepstate(&ms, L, s, ls, p, lp);
  MatchWork work(&ms);
  if (find ? (lua_toboolean(L, 4) || nospecials(p, lp)) : literalpattern(p, lp)) {
    const char *s2 = plainfind(&ms, s + init, p, lp);
    if (s2) {
      if (!find) {
        lua_pushlstring(L, s2, lp);
        return 1;
      }
      lua_pushinteger(L, (s2 - s) + 1);
      lua_pushinteger(L, static_cast<lua_Integer>((s2 - s) + lp));
      return 2;
    }
  } else {
    const char *s1 = s + init;
    bool anchor = (*p == '^');
    if (anchor) {
      p++;
      lp--;
    }
    ms.p_end = p + lp;
    // The pattern is analysed only when a first attempt fails: many calls match at once. An
    // attempt that fails at the first class costs what passing over its start costs, so the
    // order does not change the work counted.
    LeadingRun lr;
    FirstClass fc;
    bool analysed = anchor;
    do {
      s1 = pass_failing(&ms, fc, s1);
      reprepstate(&ms);
      const char *res = match(&ms, s1, p);
      if (res != nullptr) {
        if (find) {
          lua_pushinteger(L, (s1 - s) + 1);
          lua_pushinteger(L, res - s);
          return push_captures(&ms, nullptr, nullptr) + 2;
        }
        return push_captures(&ms, s1, res);
      }
      if (!analysed) {
        lr = leading_run(p, p + lp);
        fc = first_class(p, p + lp);
        analysed = true;
      }
      s1 = skip_run(&ms, lr, s1);
    } while (s1++ < ms.src_end && !anchor);
  }
  luaL_pushfail(L);
  return 1;
}

int str_find(lua_State *L) { return str_find_aux(L, true); }
int str_match(lua_State *L) { return str_find_aux(L, false); }

// The state of a gmatch iterator, its third upvalue. debug.setupvalue lets a program replace
// any upvalue of the iterator, or move a state into another iterator, so the state holds no
// pointers: positions are offsets into the subject, and every call checks the block, the
// subject and the pattern upvalues against what the state was made for.
struct GMatchState {
  const void *self;  // the block's own address: marks it as a state
  size_t ls;         // length of the subject
  size_t lp;         // length of the pattern
  size_t src;        // offset where the next search starts (ls + 1: no more matches)
  size_t lastmatch;  // offset of the end of the last match, plus one (0: none yet)
  // The pattern's analysis, made on the first call and kept while the pattern upvalue's bytes
  // stay where they were (only a tampering program can change them). It holds offsets into
  // the pattern, so a stale one can misguide the search but never read outside the pattern.
  const char *analysed;  // the pattern's bytes when it was made; nullptr: not made yet
  bool literal;
  LeadingRun::Kind lr_kind;
  size_t lr_p, lr_ep;
  bool fc_any;
  size_t fc_p, fc_ep;
  int64_t fc_ticks;
};
// The block keeps the size it always had: its allocation's charge is part of every program's
// cycle count.
constexpr size_t kGMatchStateSize = 584;
static_assert(sizeof(GMatchState) <= kGMatchStateSize, "gmatch state outgrew its block");

int gmatch_aux(lua_State *L) {
  size_t ls = 0, lp = 0;
  const char *s = nullptr, *p = nullptr;
  // A light userdata has no length, so the length test also rules it out. The strings are
  // tested first: a number in their place must not be converted.
  auto *gm = static_cast<GMatchState *>(lua_touserdata(L, lua_upvalueindex(3)));
  if (gm != nullptr && lua_rawlen(L, lua_upvalueindex(3)) == kGMatchStateSize && gm->self == gm &&
      lua_type(L, lua_upvalueindex(1)) == LUA_TSTRING &&
      lua_type(L, lua_upvalueindex(2)) == LUA_TSTRING) {
    s = lua_tolstring(L, lua_upvalueindex(1), &ls);
    p = lua_tolstring(L, lua_upvalueindex(2), &lp);
  }
  if (s == nullptr || p == nullptr || gm->ls != ls || gm->lp != lp || gm->src > ls + 1 ||
      gm->lastmatch > ls + 1)
    return luaL_error(L, "bad gmatch state");
  MatchState ms;
  prepstate(&ms, L, s, ls, p, lp);
  MatchWork work(&ms);
  const char *lastmatch = gm->lastmatch == 0 ? nullptr : s + gm->lastmatch - 1;
  if (gm->analysed != p) {
    gm->literal = literalpattern(p, lp);
    LeadingRun lr = gm->literal ? LeadingRun() : leading_run(p, p + lp);
    FirstClass fc = gm->literal ? FirstClass() : first_class(p, p + lp);
    gm->lr_kind = lr.kind;
    gm->lr_p = lr.p ? static_cast<size_t>(lr.p - p) : 0;
    gm->lr_ep = lr.ep ? static_cast<size_t>(lr.ep - p) : 0;
    gm->fc_any = fc.p != nullptr;
    gm->fc_p = fc.p ? static_cast<size_t>(fc.p - p) : 0;
    gm->fc_ep = fc.ep ? static_cast<size_t>(fc.ep - p) : 0;
    gm->fc_ticks = fc.ticks;
    gm->analysed = p;
  }
  if (gm->literal) {
    for (const char *src = s + gm->src; src <= ms.src_end; src++) {
      const char *e = plainfind(&ms, src, p, lp);
      if (e == nullptr) break;
      src = e;
      e += lp;
      if (e != lastmatch) {
        gm->src = gm->lastmatch = static_cast<size_t>(e - s);
        gm->lastmatch++;
        return push_captures(&ms, src, e);
      }
    }
  } else {
    LeadingRun lr;
    lr.kind = gm->lr_kind;
    if (lr.kind != LeadingRun::kNone) {
      lr.p = p + gm->lr_p;
      lr.ep = p + gm->lr_ep;
    }
    FirstClass fc;
    if (gm->fc_any) {
      fc.p = p + gm->fc_p;
      fc.ep = p + gm->fc_ep;
      fc.ticks = gm->fc_ticks;
    }
    for (const char *src = s + gm->src; src <= ms.src_end; src++) {
      src = pass_failing(&ms, fc, src);
      reprepstate(&ms);
      const char *e = match(&ms, src, p);
      if (e != nullptr && e != lastmatch) {
        gm->src = gm->lastmatch = static_cast<size_t>(e - s);
        gm->lastmatch++;
        return push_captures(&ms, src, e);
      }
      if (e == nullptr) src = skip_run(&ms, lr, src);
    }
  }
  gm->src = ls + 1;
  return 0;
}

int str_gmatch(lua_State *L) {
  size_t ls, lp;
  luaL_checklstring(L, 1, &ls);
  luaL_checklstring(L, 2, &lp);
  size_t init = posrelatI(luaL_optinteger(L, 3, 1), ls) - 1;
  lua_settop(L, 2);  // the subject and pattern become upvalues and stay alive
  GMatchState *gm = static_cast<GMatchState *>(lua_newuserdatauv(L, kGMatchStateSize, 0));
  memset(static_cast<void *>(gm), 0, kGMatchStateSize);
  if (init > ls) init = ls + 1;  // start past the end: no match at all
  gm->self = gm;
  gm->ls = ls;
  gm->lp = lp;
  gm->src = init;
  gm->lastmatch = 0;
  lua_pushcclosure(L, gmatch_aux, 3);
  return 1;
}

void add_s(MatchState *ms, luaL_Buffer *b, const char *s, const char *e) {
  size_t l;
  lua_State *L = ms->L;
  const char *news = lua_tolstring(L, 3, &l);
  spend(ms, 1 + static_cast<int64_t>(l));
  const char *p;
  while ((p = static_cast<const char *>(memchr(news, L_ESC, l))) != nullptr) {
    luaL_addlstring(b, news, static_cast<size_t>(p - news));
    p++;  // the character after '%'
    if (p < news + l && *p == L_ESC) {
      luaL_addchar(b, *p);
    } else if (p < news + l && *p == '0') {
      luaL_addlstring(b, s, static_cast<size_t>(e - s));
      charge(ms, 1 + (e - s) / kComparedPerTick);
    } else if (p < news + l && c_isdigit(uchar(*p))) {
      push_onecapture(ms, *p - '1', s, e);
      luaL_tolstring(L, -1, nullptr);  // a position capture becomes its digits
      lua_remove(L, -2);
      luaL_addvalue(b);
    } else {
      luaL_error(L, "invalid use of '%c' in replacement string", L_ESC);
    }
    l -= static_cast<size_t>(p + 1 - news);
    news = p + 1;
  }
  luaL_addlstring(b, news, l);
}

// Adds the replacement for the match s..e; returns whether the text changed.
bool add_value(MatchState *ms, luaL_Buffer *b, const char *s, const char *e, int tr) {
  lua_State *L = ms->L;
  switch (tr) {
    case LUA_TFUNCTION: {
      lua_pushvalue(L, 3);
      int n = push_captures(ms, s, e);
      lua_call(L, n, 1);  // no continuation: the replacement cannot yield
      break;
    }
    case LUA_TTABLE:
      push_onecapture(ms, 0, s, e);
      lua_gettable(L, 3);
      break;
    default:
      add_s(ms, b, s, e);
      return true;
  }
  if (lua_type(L, -1) == LUA_TSTRING) {  // the usual case, without the general checks
    size_t len;
    const char *v = lua_tolstring(L, -1, &len);
    charge(ms, 1 + static_cast<int64_t>(len) / kComparedPerTick);
    if (b->size - b->n < len) {
      luaL_addvalue(b);
      return true;
    }
    char *to = b->b + b->n;
    if (len <= 8) {
      for (size_t k = 0; k < len; k++) to[k] = v[k];
    } else {
      std::memcpy(to, v, len);
    }
    b->n += len;
    lua_pop(L, 1);
    return true;
  }
  if (!lua_toboolean(L, -1)) {  // nil or false: keep the original text
    lua_pop(L, 1);
    luaL_addlstring(b, s, static_cast<size_t>(e - s));
    return false;
  }
  if (!lua_isstring(L, -1))
    return luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1));
  charge(ms, 1 + static_cast<int64_t>(lua_rawlen(L, -1)) / kComparedPerTick);
  luaL_addvalue(b);
  return true;
}

// Adds l bytes to the buffer, growing it exactly as adding them one at a time would.
void add_bytewise(luaL_Buffer *b, const char *s, size_t l) {
  while (l > 0) {
    size_t room = b->size - b->n;
    if (room == 0) {
      luaL_addlstring(b, s, 1);
      s++;
      l--;
      continue;
    }
    size_t k = l < room ? l : room;
    luaL_addlstring(b, s, k);
    s += k;
    l -= k;
  }
}

int str_gsub(lua_State *L) {
  size_t srcl, lp;
  const char *src = luaL_checklstring(L, 1, &srcl);
  const char *p = luaL_checklstring(L, 2, &lp);
  const char *lastmatch = nullptr;
  int tr = lua_type(L, 3);
  lua_Integer max_s = luaL_optinteger(L, 4, static_cast<lua_Integer>(srcl) + 1);
  bool anchor = (*p == '^');
  bool plain = literalpattern(p, lp);  // holds no '^' either
  lua_Integer n = 0;
  bool changed = false;
  MatchState ms;
  luaL_Buffer b;
  luaL_argexpected(L, tr == LUA_TNUMBER || tr == LUA_TSTRING || tr == LUA_TFUNCTION ||
                          tr == LUA_TTABLE,
                   3, "string/function/table");
  luaL_buffinit(L, &b);
  if (anchor) {
    p++;
    lp--;
  }
  prepstate(&ms, L, src, srcl, p, lp);
  MatchWork work(&ms);
  // Analysed at the first failed attempt, as in str_find_aux.
  LeadingRun lr;
  FirstClass fc;
  bool analysed = anchor || plain;
  while (n < max_s) {
    const char *e;
    if (fc.p != nullptr) {
      const char *to = pass_failing(&ms, fc, src);
      add_bytewise(&b, src, static_cast<size_t>(to - src));
      src = to;
    }
    if (plain) {
      // the text up to the next occurrence holds no match
      const char *x = plainfind(&ms, src, p, lp);
      if (x == nullptr) break;
      luaL_addlstring(&b, src, static_cast<size_t>(x - src));
      src = x;
      e = x + lp;
    } else {
      reprepstate(&ms);
      e = match(&ms, src, p);
    }
    if (e != nullptr && e != lastmatch) {
      n++;
      changed = add_value(&ms, &b, src, e, tr) || changed;
      src = lastmatch = e;
    } else if (src < ms.src_end) {
      const char *to = src + 1;
      if (e == nullptr) {
        if (!analysed) {
          lr = leading_run(p, p + lp);
          fc = first_class(p, p + lp);
          analysed = true;
        }
        const char *last = skip_run(&ms, lr, src);
        if (last >= ms.src_end) break;  // no start up to the end can match
        to = last + 1;
      }
      luaL_addlstring(&b, src, static_cast<size_t>(to - src));
      src = to;
    } else {
      break;
    }
    if (anchor) break;
  }
  charge(&ms, 1 + static_cast<int64_t>(b.n / kComparedPerTick));
  if (!changed) {
    lua_pushvalue(L, 1);
  } else {
    luaL_addlstring(&b, src, static_cast<size_t>(ms.src_end - src));
    luaL_pushresult(&b);
  }
  lua_pushinteger(L, n);
  return 2;
}

// ---------------------------------------------------------------------------------------------
// string.format

constexpr const char kFmtFlags[] = "-+ #0";
constexpr int kMaxFlags = 5;
constexpr size_t kMaxItem = 120;
constexpr size_t kMaxItemF = 418;  // room for '%99.99f' of the largest double
constexpr size_t kMaxFormat = 32;

void addquoted(luaL_Buffer *b, const char *s, size_t len) {
  luaL_addchar(b, '"');
  while (len--) {
    unsigned char c = uchar(*s);
    if (c == '"' || c == '\\' || c == '\n') {
      luaL_addchar(b, '\\');
      luaL_addchar(b, static_cast<char>(c));
    } else if (c_iscntrl(c)) {
      char buff[10];
      // a following digit would otherwise be read as part of the escape
      if (!c_isdigit(uchar(*(s + 1))))
        snprintf(buff, sizeof(buff), "\\%d", static_cast<int>(c));
      else
        snprintf(buff, sizeof(buff), "\\%03d", static_cast<int>(c));
      luaL_addstring(b, buff);
    } else {
      luaL_addchar(b, static_cast<char>(c));
    }
    s++;
  }
  luaL_addchar(b, '"');
}

int quotefloat(char *buff, lua_Number n) {
  if (n == HUGE_VAL) return snprintf(buff, kMaxItem, "1e9999");
  if (n == -HUGE_VAL) return snprintf(buff, kMaxItem, "-1e9999");
  if (n != n) return snprintf(buff, kMaxItem, "(0/0)");
  int nb = snprintf(buff, kMaxItem, "%a", n);
  // keep the literal readable whatever the locale's decimal point
  if (memchr(buff, '.', static_cast<size_t>(nb)) == nullptr) {
    char point = localeconv()->decimal_point[0];
    char *ppoint = static_cast<char *>(memchr(buff, point, static_cast<size_t>(nb)));
    if (ppoint) *ppoint = '.';
  }
  return nb;
}

void addliteral(lua_State *L, luaL_Buffer *b, int arg) {
  switch (lua_type(L, arg)) {
    case LUA_TSTRING: {
      size_t len;
      const char *s = lua_tolstring(L, arg, &len);
      addquoted(b, s, len);
      native_work_add(static_cast<int64_t>(len) * WORK_BYTE_SCANNED);
      break;
    }
    case LUA_TNUMBER: {
      char *buff = luaL_prepbuffsize(b, kMaxItem);
      int nb;
      if (!lua_isinteger(L, arg)) {
        nb = quotefloat(buff, lua_tonumber(L, arg));
      } else {
        lua_Integer n = lua_tointeger(L, arg);
        // the minimum integer has no decimal literal of its own
        if (n == LUA_MININTEGER)
          nb = snprintf(buff, kMaxItem, "0x%llx", static_cast<unsigned long long>(n));
        else
          nb = snprintf(buff, kMaxItem, "%lld", static_cast<long long>(n));
      }
      luaL_addsize(b, static_cast<size_t>(nb));
      break;
    }
    case LUA_TNIL:
      luaL_addstring(b, "nil");
      break;
    case LUA_TBOOLEAN:
      luaL_addstring(b, lua_toboolean(L, arg) ? "true" : "false");
      break;
    default:
      luaL_argerror(L, arg, "value has no literal form");
  }
}

// Reads one conversion starting after the '%'; writes it with its '%' and letter into form
// and returns the position of the letter.
inline bool isfmtflag(char c) {
  return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

const char *getformat(lua_State *L, const char *strfrmt, char *form) {
  const char *p = strfrmt;
  while (isfmtflag(*p)) p++;
  if (p - strfrmt > kMaxFlags) luaL_error(L, "invalid format (repeated flags)");
  if (c_isdigit(uchar(*p))) p++;  // width
  if (c_isdigit(uchar(*p))) p++;  // (two digits at most)
  if (*p == '.') {
    p++;
    if (c_isdigit(uchar(*p))) p++;  // precision
    if (c_isdigit(uchar(*p))) p++;
  }
  if (c_isdigit(uchar(*p))) luaL_error(L, "invalid format (width or precision too long)");
  size_t n = static_cast<size_t>(p - strfrmt) + 1;
  form[0] = '%';
  memcpy(form + 1, strfrmt, n);
  form[n + 1] = '\0';
  return p;
}

// Rebuilds form for the C formatter keeping only the flags the conversion defines, so no
// flag reaches printf where its effect is undefined. lenmod goes before the letter.
void cleanformat(char *form, const char *allowed, bool keepprec, const char *lenmod) {
  char out[kMaxFormat];
  size_t o = 0;
  const char *p = form + 1;
  out[o++] = '%';
  for (; isfmtflag(*p); p++)
    if (strchr(allowed, *p) != nullptr) out[o++] = *p;
  while (c_isdigit(uchar(*p))) out[o++] = *p++;
  if (*p == '.') {
    if (keepprec) out[o++] = '.';
    p++;
    while (c_isdigit(uchar(*p))) {
      if (keepprec) out[o++] = *p;
      p++;
    }
  }
  for (const char *m = lenmod; *m; m++) out[o++] = *m;
  out[o++] = *p;  // the conversion letter
  out[o] = '\0';
  memcpy(form, out, o + 1);
}

// Writes a pointer the way the C library's "%p" does under every flag the format accepts
// (sign flags, zero padding and a precision giving the least number of digits), without
// handing printf a combination whose effect C leaves undefined.
int formatpointer(char *buff, const char *form, const void *ptr) {
  bool left = false, plus = false, space = false, zero = false, hasprec = false;
  int width = 0, prec = 0;
  const char *p = form + 1;
  for (; *p != '\0' && strchr(kFmtFlags, *p) != nullptr; p++) {
    if (*p == '-') left = true;
    else if (*p == '+') plus = true;
    else if (*p == ' ') space = true;
    else if (*p == '0') zero = true;
  }
  while (c_isdigit(uchar(*p))) width = width * 10 + (*p++ - '0');
  if (*p == '.') {
    hasprec = true;
    for (p++; c_isdigit(uchar(*p)); p++) prec = prec * 10 + (*p - '0');
  }
  char digits[24];
  int nd = snprintf(digits, sizeof(digits), "%llx",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ptr)));
  int zeros = (hasprec && prec > nd) ? prec - nd : 0;
  int len = (plus || space ? 1 : 0) + 2 + zeros + nd;
  if (zero && !left && !hasprec && width > len) {  // zeros fill the width after the "0x"
    zeros += width - len;
    len = width;
  }
  int pad = (width > len) ? width - len : 0;
  // at most 102 bytes (99 digits, a sign and "0x"): within the 120 reserved for a conversion
  char *o = buff;
  if (!left) o = static_cast<char *>(memset(o, ' ', static_cast<size_t>(pad))) + pad;
  if (plus) *o++ = '+';
  else if (space) *o++ = ' ';
  *o++ = '0';
  *o++ = 'x';
  o = static_cast<char *>(memset(o, '0', static_cast<size_t>(zeros))) + zeros;
  o = static_cast<char *>(memcpy(o, digits, static_cast<size_t>(nd))) + nd;
  if (left) o = static_cast<char *>(memset(o, ' ', static_cast<size_t>(pad))) + pad;
  return static_cast<int>(o - buff);
}

// The common plain hexadecimal conversions, written without the formatting engine (the
// decimal one is the engine's own number-to-text).
int plainhex(char *buff, lua_Unsigned u, bool upper) {
  const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char tmp[16];
  int k = 0;
  do {
    tmp[k++] = digits[u & 15];
    u >>= 4;
  } while (u != 0);
  int nb = 0;
  while (k > 0) buff[nb++] = tmp[--k];
  buff[nb] = '\0';
  return nb;
}

int str_format(lua_State *L) {
  int top = lua_gettop(L);
  int arg = 1;
  size_t sfl;
  const char *strfrmt = luaL_checklstring(L, arg, &sfl);
  const char *strfrmt_end = strfrmt + sfl;
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  while (strfrmt < strfrmt_end) {
    if (*strfrmt != L_ESC) {
      luaL_addchar(&b, *strfrmt++);
      continue;
    }
    if (*++strfrmt == L_ESC) {
      luaL_addchar(&b, *strfrmt++);
      continue;
    }
    char form[kMaxFormat];
    size_t maxitem = kMaxItem;
    int nb = 0;
    if (++arg > top) return luaL_argerror(L, arg, "no value");
    strfrmt = getformat(L, strfrmt, form);
    char conv = *strfrmt++;
    if (conv == 'f') maxitem = kMaxItemF;
    char *buff = luaL_prepbuffsize(&b, maxitem);
    switch (conv) {
      case 'c': {
        lua_Integer n = luaL_checkinteger(L, arg);
        cleanformat(form, "-", false, "");
        nb = snprintf(buff, maxitem, form, static_cast<int>(n & 0xff));
        break;
      }
      case 'd':
      case 'i': {
        lua_Integer n = luaL_checkinteger(L, arg);
        if (form[2] == '\0') {  // no flags, width or precision
          nb = luaO_int2str(buff, n);
          break;
        }
        cleanformat(form, "-+ 0", true, "ll");
        nb = snprintf(buff, maxitem, form, static_cast<long long>(n));
        break;
      }
      case 'u': {
        lua_Integer n = luaL_checkinteger(L, arg);
        cleanformat(form, "-0", true, "ll");
        nb = snprintf(buff, maxitem, form, static_cast<unsigned long long>(n));
        break;
      }
      case 'o':
      case 'x':
      case 'X': {
        lua_Integer n = luaL_checkinteger(L, arg);
        if (form[2] == '\0' && conv != 'o') {
          nb = plainhex(buff, static_cast<lua_Unsigned>(n), conv == 'X');
          break;
        }
        cleanformat(form, "-#0", true, "ll");
        nb = snprintf(buff, maxitem, form, static_cast<unsigned long long>(n));
        break;
      }
      case 'a':
      case 'A':
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G': {
        lua_Number n = luaL_checknumber(L, arg);
        cleanformat(form, kFmtFlags, true, "");
        nb = snprintf(buff, maxitem, form, n);
        break;
      }
      case 'p': {
        // a string is an object too: its bytes live inside it, so their address names it
        const void *ptr = lua_type(L, arg) == LUA_TSTRING
                              ? static_cast<const void *>(lua_tostring(L, arg))
                              : lua_topointer(L, arg);
        if (ptr == nullptr) {  // no object behind the value: format "(null)" as a string
          cleanformat(form, "-", true, "");
          form[strlen(form) - 1] = 's';
          nb = snprintf(buff, maxitem, form, "(null)");
        } else {
          nb = formatpointer(buff, form, ptr);
        }
        break;
      }
      case 'q':
        if (form[2] != '\0') return luaL_error(L, "specifier '%%q' cannot have modifiers");
        addliteral(L, &b, arg);
        break;
      case 's': {
        size_t l;
        const char *s = luaL_tolstring(L, arg, &l);
        if (form[2] == '\0') {  // no modifiers: the whole string
          luaL_addvalue(&b);
        } else {
          luaL_argcheck(L, l == strlen(s), arg, "string contains zeros");
          if (strchr(form, '.') == nullptr && l >= 100) {
            luaL_addvalue(&b);  // too long to format: copied whole
          } else {
            cleanformat(form, "-", true, "");
            nb = snprintf(buff, maxitem, form, s);
            lua_pop(L, 1);
          }
        }
        break;
      }
      default:
        return luaL_error(L, "invalid conversion '%s' to 'format'", form);
    }
    luaL_addsize(&b, static_cast<size_t>(nb));
  }
  native_work_add(static_cast<int64_t>(sfl) * WORK_BYTE_SCANNED +
                  2 * static_cast<int64_t>(luaL_bufflen(&b)) * WORK_BYTE_COMPARED);
  luaL_pushresult(&b);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// string.pack, string.packsize, string.unpack

constexpr int NB = 8;          // bits in a byte
constexpr int MC = 0xff;       // mask of a byte
constexpr int SZINT = 8;       // bytes in a lua_Integer
constexpr int kMaxIntSize = 16;
constexpr int kMaxAlign = 8;
constexpr char kPackPad = 0;

struct Header {
  lua_State *L;
  bool islittle;
  int maxalign;
};

enum KOption {
  Kint,       // signed integer
  Kuint,      // unsigned integer
  Kfloat,     // single-precision float
  Knumber,    // Lua float
  Kdouble,    // double
  Kchar,      // fixed-size string
  Kstring,    // string with a length prefix
  Kzstr,      // zero-terminated string
  Kpadding,   // one padding byte
  Kpaddalign, // alignment to the next option
  Knop        // nothing
};

int getnum(const char **fmt, int df) {
  if (!c_isdigit(uchar(**fmt))) return df;
  int a = 0;
  do {
    a = a * 10 + (*((*fmt)++) - '0');
  } while (c_isdigit(uchar(**fmt)) && a <= (static_cast<int>(kMaxSize) - 9) / 10);
  return a;
}

int getnumlimit(Header *h, const char **fmt, int df) {
  int sz = getnum(fmt, df);
  if (sz > kMaxIntSize || sz <= 0)
    return luaL_error(h->L, "integral size (%d) out of limits [1,%d]", sz, kMaxIntSize);
  return sz;
}

void initheader(lua_State *L, Header *h) {
  h->L = L;
  h->islittle = true;
  h->maxalign = 1;
}

KOption getoption(Header *h, const char **fmt, int *size) {
  int opt = *((*fmt)++);
  *size = 0;
  switch (opt) {
    case 'b': *size = 1; return Kint;
    case 'B': *size = 1; return Kuint;
    case 'h': *size = 2; return Kint;
    case 'H': *size = 2; return Kuint;
    case 'l': *size = 8; return Kint;
    case 'L': *size = 8; return Kuint;
    case 'j': *size = 8; return Kint;
    case 'J': *size = 8; return Kuint;
    case 'T': *size = 8; return Kuint;
    case 'f': *size = 4; return Kfloat;
    case 'n': *size = 8; return Knumber;
    case 'd': *size = 8; return Kdouble;
    case 'i': *size = getnumlimit(h, fmt, 4); return Kint;
    case 'I': *size = getnumlimit(h, fmt, 4); return Kuint;
    case 's': *size = getnumlimit(h, fmt, 8); return Kstring;
    case 'c':
      *size = getnum(fmt, -1);
      if (*size == -1) luaL_error(h->L, "missing size for format option 'c'");
      return Kchar;
    case 'z': return Kzstr;
    case 'x': *size = 1; return Kpadding;
    case 'X': return Kpaddalign;
    case ' ': break;
    case '<': h->islittle = true; break;
    case '>': h->islittle = false; break;
    case '=': h->islittle = true; break;
    case '!': h->maxalign = getnumlimit(h, fmt, kMaxAlign); break;
    default: luaL_error(h->L, "invalid format option '%c'", opt);
  }
  return Knop;
}

// Reads the next option with its size and the padding needed before it at totalsize.
KOption getdetails(Header *h, size_t totalsize, const char **fmt, int *psize, int *ntoalign) {
  KOption opt = getoption(h, fmt, psize);
  int align = *psize;
  if (opt == Kpaddalign) {
    if (**fmt == '\0' || getoption(h, fmt, &align) == Kchar || align == 0)
      luaL_argerror(h->L, 1, "invalid next option for option 'X'");
  }
  if (align <= 1 || opt == Kchar) {
    *ntoalign = 0;
  } else {
    if (align > h->maxalign) align = h->maxalign;
    if ((align & (align - 1)) != 0)
      luaL_argerror(h->L, 1, "format asks for alignment not power of 2");
    *ntoalign = (align - static_cast<int>(totalsize & static_cast<size_t>(align - 1))) & (align - 1);
  }
  return opt;
}

void packint(luaL_Buffer *b, lua_Unsigned n, bool islittle, int size, bool neg) {
  char *buff = luaL_prepbuffsize(b, static_cast<size_t>(size));
  buff[islittle ? 0 : size - 1] = static_cast<char>(n & MC);
  for (int i = 1; i < size; i++) {
    n >>= NB;
    buff[islittle ? i : size - 1 - i] = static_cast<char>(n & MC);
  }
  if (neg && size > SZINT) {  // sign-extend past the integer's own bytes
    for (int i = SZINT; i < size; i++) buff[islittle ? i : size - 1 - i] = static_cast<char>(MC);
  }
  luaL_addsize(b, static_cast<size_t>(size));
}

// Copies size bytes in the chosen byte order (the host is little-endian).
void copywithendian(char *dest, const char *src, int size, bool islittle) {
  if (islittle) {
    memcpy(dest, src, static_cast<size_t>(size));
  } else {
    dest += size - 1;
    while (size-- != 0) *(dest--) = *(src++);
  }
}

// Double to single precision without relying on an out-of-range conversion.
float tofloat(double d) {
  if (std::isnan(d) || std::fabs(d) <= static_cast<double>(FLT_MAX)) return static_cast<float>(d);
  // values from FLT_MAX up to half an ulp above it round down; the rest overflow
  double halfulp = std::ldexp(1.0, 103);
  double a = std::fabs(d);
  float r = (a < static_cast<double>(FLT_MAX) + halfulp) ? FLT_MAX : HUGE_VALF;
  return d < 0 ? -r : r;
}

int str_pack(lua_State *L) {
  luaL_Buffer b;
  Header h;
  const char *fmt = luaL_checkstring(L, 1);
  const char *const fmt0 = fmt;
  int arg = 1;
  size_t totalsize = 0;
  initheader(L, &h);
  lua_pushnil(L);  // keeps the arguments apart from the buffer
  luaL_buffinit(L, &b);
  while (*fmt != '\0') {
    int size, ntoalign;
    KOption opt = getdetails(&h, totalsize, &fmt, &size, &ntoalign);
    totalsize += static_cast<size_t>(ntoalign) + static_cast<size_t>(size);
    while (ntoalign-- > 0) luaL_addchar(&b, kPackPad);
    arg++;
    switch (opt) {
      case Kint: {
        lua_Integer n = luaL_checkinteger(L, arg);
        if (size < SZINT) {
          lua_Integer lim = static_cast<lua_Integer>(1) << ((size * NB) - 1);
          luaL_argcheck(L, -lim <= n && n < lim, arg, "integer overflow");
        }
        packint(&b, static_cast<lua_Unsigned>(n), h.islittle, size, n < 0);
        break;
      }
      case Kuint: {
        lua_Integer n = luaL_checkinteger(L, arg);
        if (size < SZINT)
          luaL_argcheck(L, static_cast<lua_Unsigned>(n) < (static_cast<lua_Unsigned>(1) << (size * NB)),
                        arg, "unsigned overflow");
        packint(&b, static_cast<lua_Unsigned>(n), h.islittle, size, false);
        break;
      }
      case Kfloat: {
        float f = tofloat(luaL_checknumber(L, arg));
        char *buff = luaL_prepbuffsize(&b, sizeof(f));
        copywithendian(buff, reinterpret_cast<const char *>(&f), sizeof(f), h.islittle);
        luaL_addsize(&b, static_cast<size_t>(size));
        break;
      }
      case Knumber:
      case Kdouble: {
        double f = luaL_checknumber(L, arg);
        char *buff = luaL_prepbuffsize(&b, sizeof(f));
        copywithendian(buff, reinterpret_cast<const char *>(&f), sizeof(f), h.islittle);
        luaL_addsize(&b, static_cast<size_t>(size));
        break;
      }
      case Kchar: {
        size_t len;
        const char *s = luaL_checklstring(L, arg, &len);
        luaL_argcheck(L, len <= static_cast<size_t>(size), arg, "string longer than given size");
        luaL_addlstring(&b, s, len);
        while (len++ < static_cast<size_t>(size)) luaL_addchar(&b, kPackPad);
        break;
      }
      case Kstring: {
        size_t len;
        const char *s = luaL_checklstring(L, arg, &len);
        luaL_argcheck(L, size >= SZINT || len < (static_cast<size_t>(1) << (size * NB)), arg,
                      "string length does not fit in given size");
        packint(&b, static_cast<lua_Unsigned>(len), h.islittle, size, false);
        luaL_addlstring(&b, s, len);
        totalsize += len;
        break;
      }
      case Kzstr: {
        size_t len;
        const char *s = luaL_checklstring(L, arg, &len);
        luaL_argcheck(L, strlen(s) == len, arg, "string contains zeros");
        luaL_addlstring(&b, s, len);
        luaL_addchar(&b, '\0');
        totalsize += len + 1;
        break;
      }
      case Kpadding:
        luaL_addchar(&b, kPackPad);
        arg--;
        break;
      case Kpaddalign:
      case Knop:
        arg--;  // these take no argument
        break;
    }
  }
  native_work_add(static_cast<int64_t>(fmt - fmt0) * WORK_BYTE_SCANNED +
                  2 * static_cast<int64_t>(luaL_bufflen(&b)) * WORK_BYTE_COMPARED);
  luaL_pushresult(&b);
  return 1;
}

int str_packsize(lua_State *L) {
  Header h;
  const char *fmt = luaL_checkstring(L, 1);
  const char *const fmt0 = fmt;
  size_t totalsize = 0;
  initheader(L, &h);
  while (*fmt != '\0') {
    int size, ntoalign;
    KOption opt = getdetails(&h, totalsize, &fmt, &size, &ntoalign);
    luaL_argcheck(L, opt != Kstring && opt != Kzstr, 1, "variable-length format");
    size += ntoalign;
    luaL_argcheck(L, totalsize <= kMaxSize - static_cast<size_t>(size), 1,
                  "format result too large");
    totalsize += static_cast<size_t>(size);
  }
  native_work_add(static_cast<int64_t>(fmt - fmt0) * WORK_BYTE_SCANNED);
  lua_pushinteger(L, static_cast<lua_Integer>(totalsize));
  return 1;
}

lua_Integer unpackint(lua_State *L, const char *str, bool islittle, int size, bool issigned) {
  lua_Unsigned res = 0;
  int limit = (size <= SZINT) ? size : SZINT;
  for (int i = limit - 1; i >= 0; i--) {
    res <<= NB;
    res |= static_cast<lua_Unsigned>(uchar(str[islittle ? i : size - 1 - i]));
  }
  if (size < SZINT) {
    if (issigned) {  // sign-extend
      lua_Unsigned mask = static_cast<lua_Unsigned>(1) << (size * NB - 1);
      res = ((res ^ mask) - mask);
    }
  } else if (size > SZINT) {  // the extra bytes must only extend the sign
    int mask = (!issigned || static_cast<lua_Integer>(res) >= 0) ? 0 : MC;
    for (int i = limit; i < size; i++) {
      if (uchar(str[islittle ? i : size - 1 - i]) != mask)
        luaL_error(L, "%d-byte integer does not fit into Lua Integer", size);
    }
  }
  return static_cast<lua_Integer>(res);
}

int str_unpack(lua_State *L) {
  Header h;
  const char *fmt = luaL_checkstring(L, 1);
  const char *const fmt0 = fmt;
  size_t ld;
  const char *data = luaL_checklstring(L, 2, &ld);
  size_t pos = posrelatI(luaL_optinteger(L, 3, 1), ld) - 1;
  int n = 0;
  luaL_argcheck(L, pos <= ld, 3, "initial position out of string");
  initheader(L, &h);
  while (*fmt != '\0') {
    int size, ntoalign;
    KOption opt = getdetails(&h, pos, &fmt, &size, &ntoalign);
    luaL_argcheck(L, static_cast<size_t>(ntoalign) + static_cast<size_t>(size) <= ld - pos, 2,
                  "data string too short");
    pos += static_cast<size_t>(ntoalign);
    luaL_checkstack(L, 2, "too many results");
    n++;
    switch (opt) {
      case Kint:
      case Kuint: {
        lua_Integer res = unpackint(L, data + pos, h.islittle, size, opt == Kint);
        lua_pushinteger(L, res);
        break;
      }
      case Kfloat: {
        float f;
        copywithendian(reinterpret_cast<char *>(&f), data + pos, sizeof(f), h.islittle);
        lua_pushnumber(L, static_cast<lua_Number>(f));
        break;
      }
      case Knumber:
      case Kdouble: {
        double f;
        copywithendian(reinterpret_cast<char *>(&f), data + pos, sizeof(f), h.islittle);
        lua_pushnumber(L, f);
        break;
      }
      case Kchar:
        lua_pushlstring(L, data + pos, static_cast<size_t>(size));
        break;
      case Kstring: {
        size_t len = static_cast<size_t>(unpackint(L, data + pos, h.islittle, size, false));
        luaL_argcheck(L, len <= ld - pos - static_cast<size_t>(size), 2, "data string too short");
        lua_pushlstring(L, data + pos + size, len);
        pos += len;
        break;
      }
      case Kzstr: {
        size_t len = strlen(data + pos);
        luaL_argcheck(L, pos + len < ld, 2, "unfinished string for format 'z'");
        lua_pushlstring(L, data + pos, len);
        pos += len + 1;
        break;
      }
      case Kpaddalign:
      case Kpadding:
      case Knop:
        n--;  // no value
        break;
    }
    pos += static_cast<size_t>(size);
  }
  native_work_add(static_cast<int64_t>(fmt - fmt0) * WORK_BYTE_SCANNED +
                  static_cast<int64_t>(pos) * WORK_BYTE_COMPARED);
  lua_pushinteger(L, static_cast<lua_Integer>(pos) + 1);
  return n + 1;
}

const luaL_Reg strlib[] = {
    {"byte", str_byte},         {"char", str_char},       {"find", str_find},
    {"format", str_format},     {"gmatch", str_gmatch},   {"gsub", str_gsub},
    {"len", str_len},           {"lower", str_lower},     {"match", str_match},
    {"rep", str_rep},           {"reverse", str_reverse}, {"sub", str_sub},
    {"upper", str_upper},       {"pack", str_pack},       {"packsize", str_packsize},
    {"unpack", str_unpack},     {nullptr, nullptr}};

const luaL_Reg stringmetamethods[] = {
    {"__add", arith_add}, {"__sub", arith_sub}, {"__mul", arith_mul},
    {"__mod", arith_mod}, {"__pow", arith_pow}, {"__div", arith_div},
    {"__idiv", arith_idiv}, {"__unm", arith_unm}, {"__index", nullptr},
    {nullptr, nullptr}};

void createmetatable(lua_State *L) {
  luaL_newlibtable(L, stringmetamethods);
  luaL_setfuncs(L, stringmetamethods, 0);
  lua_pushliteral(L, "");  // a dummy string carries the metatable to every string
  lua_pushvalue(L, -2);
  lua_setmetatable(L, -2);
  lua_pop(L, 1);
  lua_pushvalue(L, -2);  // the library table
  lua_setfield(L, -2, "__index");
  lua_pop(L, 1);
}

}  // namespace

int luaopen_string(lua_State *L) {
  luaL_newlib(L, strlib);
  createmetatable(L);
  return 1;
}
