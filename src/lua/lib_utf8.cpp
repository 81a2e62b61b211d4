// The utf8 library: encoding and decoding of UTF-8 sequences of up to six bytes.
#include <climits>
#include <cstdint>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/lua.h"

namespace {

typedef uint32_t utfint;

constexpr utfint kMaxUnicode = 0x10FFFFu;
constexpr utfint kMaxUtf = 0x7FFFFFFFu;
const char kMsgInvalid[] = "invalid UTF-8 code";

inline bool iscont(const char *p) { return (static_cast<unsigned char>(*p) & 0xC0) == 0x80; }

// A relative string position: negative counts from the end; too far back gives 0.
lua_Integer u_posrelat(lua_Integer pos, size_t len) {
  if (pos >= 0) return pos;
  if (0u - static_cast<size_t>(pos) > len) return 0;
  return static_cast<lua_Integer>(len) + pos + 1;
}

// Decodes the sequence at s; returns the byte after it, or NULL when it is invalid. strict
// also rejects surrogates and values above the Unicode range.
const char *utf8_decode(const char *s, utfint *val, bool strict) {
  static const utfint limits[] = {~static_cast<utfint>(0), 0x80, 0x800, 0x10000u, 0x200000u,
                                  0x4000000u};
  unsigned int c = static_cast<unsigned char>(s[0]);
  utfint res = 0;
  if (c < 0x80) {
    res = c;
  } else {
    int count = 0;
    for (; c & 0x40; c <<= 1) {  // one continuation byte for each further high bit
      unsigned int cc = static_cast<unsigned char>(s[++count]);
      if ((cc & 0xC0) != 0x80) return nullptr;  // the string's final NUL stops this too
      if (count > 5) return nullptr;
      res = (res << 6) | (cc & 0x3F);
    }
    if (count == 0) return nullptr;  // a lone continuation byte
    res |= (static_cast<utfint>(c & 0x7F) << (count * 5));
    if (res > kMaxUtf || res < limits[count]) return nullptr;
    s += count;
  }
  if (strict && (res > kMaxUnicode || (0xD800u <= res && res <= 0xDFFFu))) return nullptr;
  if (val) *val = res;
  return s + 1;
}

int utflen(lua_State *L) {
  lua_Integer n = 0;
  size_t len;
  const char *s = luaL_checklstring(L, 1, &len);
  lua_Integer posi = u_posrelat(luaL_optinteger(L, 2, 1), len);
  lua_Integer posj = u_posrelat(luaL_optinteger(L, 3, -1), len);
  bool lax = lua_toboolean(L, 4);
  luaL_argcheck(L, 1 <= posi && --posi <= static_cast<lua_Integer>(len), 2,
                "initial position out of bounds");
  luaL_argcheck(L, --posj < static_cast<lua_Integer>(len), 3, "final position out of bounds");
  lua_Integer start = posi;
  while (posi <= posj) {
    const char *s1 = utf8_decode(s + posi, nullptr, !lax);
    if (s1 == nullptr) {
      native_work_add((posi - start) * WORK_BYTE_DECODED);
      luaL_pushfail(L);
      lua_pushinteger(L, posi + 1);
      return 2;
    }
    posi = s1 - s;
    n++;
  }
  native_work_add((posi - start) * WORK_BYTE_DECODED);
  lua_pushinteger(L, n);
  return 1;
}

int codepoint(lua_State *L) {
  size_t len;
  const char *s = luaL_checklstring(L, 1, &len);
  lua_Integer posi = u_posrelat(luaL_optinteger(L, 2, 1), len);
  lua_Integer pose = u_posrelat(luaL_optinteger(L, 3, posi), len);
  bool lax = lua_toboolean(L, 4);
  luaL_argcheck(L, posi >= 1, 2, "out of bounds");
  luaL_argcheck(L, pose <= static_cast<lua_Integer>(len), 3, "out of bounds");
  if (posi > pose) return 0;
  if (pose - posi >= INT_MAX) return luaL_error(L, "string slice too long");
  int n = static_cast<int>(pose - posi) + 1;
  luaL_checkstack(L, n, "string slice too long");
  n = 0;
  const char *se = s + pose;
  native_work_add((pose - posi + 1) * WORK_BYTE_DECODED);
  for (s += posi - 1; s < se;) {
    utfint code;
    s = utf8_decode(s, &code, !lax);
    if (s == nullptr) return luaL_error(L, kMsgInvalid);
    lua_pushinteger(L, code);
    n++;
  }
  return n;
}

// Encodes x (at most 0x7FFFFFFF) backwards from the end of an 8-byte buffer; returns the count.
int utf8esc(char *buff, unsigned long x) {
  int n = 1;
  if (x < 0x80) {
    buff[7] = static_cast<char>(x);
  } else {
    unsigned int mfb = 0x3f;  // largest value that fits in the first byte
    do {
      buff[8 - (n++)] = static_cast<char>(0x80 | (x & 0x3f));
      x >>= 6;
      mfb >>= 1;
    } while (x > mfb);
    buff[8 - n] = static_cast<char>((~mfb << 1) | x);
  }
  return n;
}

void pushutfchar(lua_State *L, int arg) {
  lua_Unsigned code = static_cast<lua_Unsigned>(luaL_checkinteger(L, arg));
  luaL_argcheck(L, code <= kMaxUtf, arg, "value out of range");
  char buff[8];
  int n = utf8esc(buff, static_cast<unsigned long>(code));
  lua_pushlstring(L, buff + 8 - n, static_cast<size_t>(n));
}

int utfchar(lua_State *L) {
  int n = lua_gettop(L);
  if (n == 1) {
    pushutfchar(L, 1);
  } else {
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (int i = 1; i <= n; i++) {
      pushutfchar(L, i);
      luaL_addvalue(&b);
    }
    luaL_pushresult(&b);
  }
  return 1;
}

int byteoffset(lua_State *L) {
  size_t len;
  const char *s = luaL_checklstring(L, 1, &len);
  lua_Integer n = luaL_checkinteger(L, 2);
  lua_Integer posi = (n >= 0) ? 1 : static_cast<lua_Integer>(len) + 1;
  posi = u_posrelat(luaL_optinteger(L, 3, posi), len);
  luaL_argcheck(L, 1 <= posi && --posi <= static_cast<lua_Integer>(len), 3,
                "position out of bounds");
  lua_Integer start = posi;
  if (n == 0) {  // the start of the character holding byte posi
    while (posi > 0 && iscont(s + posi)) posi--;
  } else {
    if (iscont(s + posi)) return luaL_error(L, "initial position is a continuation byte");
    if (n < 0) {
      while (n < 0 && posi > 0) {
        do {
          posi--;
        } while (posi > 0 && iscont(s + posi));
        n++;
      }
    } else {
      n--;  // the first character is the one at posi
      while (n > 0 && posi < static_cast<lua_Integer>(len)) {
        do {
          posi++;
        } while (iscont(s + posi));  // the final NUL stops it
        n--;
      }
    }
  }
  native_work_add((posi > start ? posi - start : start - posi) * WORK_BYTE_SCANNED);
  if (n == 0)
    lua_pushinteger(L, posi + 1);
  else
    luaL_pushfail(L);
  return 1;
}

int iter_aux(lua_State *L, bool strict) {
  size_t len;
  const char *s = luaL_checklstring(L, 1, &len);
  lua_Unsigned n = static_cast<lua_Unsigned>(lua_tointeger(L, 2));
  if (n == 0) {  // first step: a stray continuation byte cannot be skipped as a tail
    if (len > 0 && iscont(s)) return luaL_error(L, kMsgInvalid);
  } else if (n < len) {
    lua_Unsigned start = n;
    while (iscont(s + n)) n++;  // skip the rest of the current character
    native_work_add(static_cast<int64_t>(n - start) * WORK_BYTE_SCANNED);
  }
  if (n >= len) return 0;
  utfint code;
  const char *next = utf8_decode(s + n, &code, strict);
  if (next == nullptr || iscont(next)) return luaL_error(L, kMsgInvalid);
  lua_pushinteger(L, static_cast<lua_Integer>(n) + 1);
  lua_pushinteger(L, code);
  return 2;
}

int iter_auxstrict(lua_State *L) { return iter_aux(L, true); }
int iter_auxlax(lua_State *L) { return iter_aux(L, false); }

int iter_codes(lua_State *L) {
  bool lax = lua_toboolean(L, 2);
  luaL_checkstring(L, 1);
  lua_pushcfunction(L, lax ? iter_auxlax : iter_auxstrict);
  lua_pushvalue(L, 1);
  lua_pushinteger(L, 0);
  return 3;
}

// One encoded character: a lead byte, then any continuation bytes.
const char kCharPattern[] = "[\0-\x7F\xC2-\xFD][\x80-\xBF]*";

const luaL_Reg funcs[] = {{"offset", byteoffset}, {"codepoint", codepoint}, {"char", utfchar},
                          {"len", utflen},        {"codes", iter_codes},    {"charpattern", nullptr},
                          {nullptr, nullptr}};

}  // namespace

int luaopen_utf8(lua_State *L) {
  luaL_newlib(L, funcs);
  lua_pushlstring(L, kCharPattern, sizeof(kCharPattern) / sizeof(char) - 1);
  lua_setfield(L, -2, "charpattern");
  return 1;
}
