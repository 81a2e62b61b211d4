// Typed userdata: header checks, creation, the userdata/vec/get/set globals, the USERDATA
// table and its element-access and shape methods.
#include "userdata/userdata.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "storage/buffer.h"
#include "userdata/ud_internal.h"

const char *const utype_string[23] = {"?", "?",  "?",   "u8",  "?",   "?", "?", "?",
                                      "?", "?",  "?",   "?",   "i16", "i32", "i64", "?",
                                      "?", "?",  "?",   "?",   "?",   "?", "f64"};

const char *get_utype_string(int code) {
  if (code < 0 || code >= 23) code = 0;
  return utype_string[code];
}

int str_to_utype(const char *name) {
  if (!name || !name[0]) return UT_U8;
  int code = name[0] == 'f' ? UT_F64 : name[0] == 'i' ? UT_I64 : UT_U8;
  if (name[1] == '3') code = UT_I32;
  else if (name[1] == '1') code = UT_I16;
  return code;
}

static bool known_type(int code) {
  return code == UT_U8 || code == UT_I16 || code == UT_I32 || code == UT_I64 || code == UT_F64;
}

// ---------------------------------------------------------------------------------------
// Shared helpers

bool ud_view(lua_State *L, int idx, UdView *v) {
  if (lua_type(L, idx) != LUA_TUSERDATA) return false;
  auto *h = (UserdataHeader *)lua_touserdata(L, idx);
  size_t raw = (size_t)lua_rawlen(L, idx);
  if (!h || raw < sizeof(UserdataHeader)) return false;
  int type = h->type & 31;
  if (!known_type(type)) return false;
  unsigned __int128 count = (unsigned __int128)h->width * h->height * h->depth;
  int esize = ud_esize(type);
  int64_t bytes = (int64_t)(raw - sizeof(UserdataHeader));
  if (count == 0 || count * (unsigned)esize > (unsigned __int128)bytes) return false;
  v->h = h;
  v->data = ud_data(h);
  v->type = type;
  v->esize = esize;
  v->count = (int64_t)count;
  v->bytes = bytes;
  return true;
}

// The test of ud_view on a payload alone.
bool is_typed_payload(const void *payload, size_t size) {
  auto *h = static_cast<const UserdataHeader *>(payload);
  if (size < sizeof(UserdataHeader) || !known_type(h->type & 31)) return false;
  unsigned __int128 count = (unsigned __int128)h->width * h->height * h->depth;
  return count != 0 && count * (unsigned)ud_esize(h->type & 31) <= size - sizeof(UserdataHeader);
}

int64_t ud_arg(lua_State *L, int idx, int64_t def) {
  return (int32_t)(uint32_t)(uint64_t)hvx_intp(L, idx, def);
}

void ud_charge(int64_t n) {
  if (n > INT32_MAX) n = INT32_MAX;
  if (n < INT32_MIN) n = INT32_MIN;
  spend_cpu((int32_t)n);
}

int64_t ud_get_int(const UdView &v, int64_t i) {
  switch (v.type) {
    case UT_U8: return v.data[i];
    case UT_I16: { int16_t x; memcpy(&x, v.data + i * 2, 2); return x; }
    case UT_I32: { int32_t x; memcpy(&x, v.data + i * 4, 4); return x; }
    case UT_I64: { int64_t x; memcpy(&x, v.data + i * 8, 8); return x; }
    case UT_F64: { double x; memcpy(&x, v.data + i * 8, 8); return f64_trunc_i64(x); }
  }
  return 0;
}

double ud_get_num(const UdView &v, int64_t i) {
  if (v.type == UT_F64) {
    double x;
    memcpy(&x, v.data + i * 8, 8);
    return x;
  }
  return (double)ud_get_int(v, i);
}

void ud_set_int(const UdView &v, int64_t i, int64_t x) {
  switch (v.type) {
    case UT_U8: v.data[i] = (uint8_t)x; break;
    case UT_I16: { int16_t y = (int16_t)x; memcpy(v.data + i * 2, &y, 2); break; }
    case UT_I32: { int32_t y = (int32_t)x; memcpy(v.data + i * 4, &y, 4); break; }
    case UT_I64: memcpy(v.data + i * 8, &x, 8); break;
    case UT_F64: { double d = (double)x; memcpy(v.data + i * 8, &d, 8); break; }
  }
}

void ud_set_num(const UdView &v, int64_t i, double x) {
  if (v.type == UT_F64) memcpy(v.data + i * 8, &x, 8);
  else ud_set_from_f64(v, i, x);
}

void ud_push_elem(lua_State *L, const UdView &v, int64_t i) {
  if (v.type == UT_F64) lua_pushnumber(L, ud_get_num(v, i));
  else lua_pushinteger(L, ud_get_int(v, i));
}

int32_t f64_floor_i32(double d) {
  d = std::floor(d);
  if (d >= -2147483648.0 && d < 2147483648.0) return (int32_t)d;
  return INT32_MIN;
}

int64_t f64_floor_i64(double d) {
  d = std::floor(d);
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return (int64_t)d;
  return INT64_MIN;
}

int32_t f64_trunc_i32(double d) {
  d = std::trunc(d);
  if (d >= -2147483648.0 && d < 2147483648.0) return (int32_t)d;
  return INT32_MIN;
}

int64_t f64_trunc_i64(double d) {
  d = std::trunc(d);
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return (int64_t)d;
  return INT64_MIN;
}

void ud_set_from_f64(const UdView &v, int64_t i, double d) {
  if (v.type == UT_F64) memcpy(v.data + i * 8, &d, 8);
  else if (v.type == UT_I64) ud_set_int(v, i, f64_floor_i64(d));
  else ud_set_int(v, i, f64_floor_i32(d));
}

// ---------------------------------------------------------------------------------------
// Creation

// Digit of the "[gfx]" radix-64 pixel text.
static int b64_val(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 36;
  if (c == '_') return 62;
  if (c == '-') return 63;
  return 0;
}

static void fill_from_text(UserdataHeader *h, int64_t count, const char *text, bool gfx) {
  uint8_t *d = ud_data(h);
  if (gfx) {
    const char *p = text + 9;
    for (int64_t i = 0; i < count && *p; i++, p++) d[i] = (uint8_t)b64_val((unsigned char)*p);
    return;
  }
  const char *p = text;
  if (strncmp(p, "hex:", 4) == 0) p += 4;
  switch (h->type) {
    case UT_U8:
      for (int64_t i = 0; i < count && *p; i++) d[i] = read_u8_from_hex_str(&p);
      break;
    case UT_I16:
      for (int64_t i = 0; i < count && *p; i++) {
        int16_t x = read_i16_from_hex_str(&p);
        memcpy(d + i * 2, &x, 2);
      }
      break;
    case UT_I32:
      for (int64_t i = 0; i < count && *p; i++) {
        int32_t x = read_i32_from_hex_str(&p);
        memcpy(d + i * 4, &x, 4);
      }
      break;
    case UT_I64:
      for (int64_t i = 0; i < count && *p; i++) {
        int64_t x = read_i64_from_hex_str(&p);
        memcpy(d + i * 8, &x, 8);
      }
      break;
    case UT_F64:
      for (int64_t i = 0; i < count; i++) {
        // strtod reads what sscanf's %lf would, without rescanning the rest of the text.
        char *end;
        double x = strtod(p, &end);
        if (end == p) x = 0;
        memcpy(d + i * 8, &x, 8);
        // The search for the separator starts where the numeral did, so the parenthesis of
        // "nan(...)" ends the text as any other parenthesis does.
        while (*p && *p != ',' && *p != ')' && *p != '"') p++;
        if (*p != ',') break;
        p++;
      }
      break;
  }
}

static int hex_val(unsigned char c) { return hex_digit_to_int[c]; }

UserdataHeader *create_userdata(lua_State *L, const char *type, int dims, int32_t width,
                                int32_t height, int32_t depth, const char *text) {
  int code = str_to_utype(type);
  int64_t w = width;
  int64_t h = dims >= 2 ? height : 1;
  int64_t dp = dims >= 3 ? depth : 1;
  bool gfx = type && strncmp(type, "[gfx]", 5) == 0 && strlen(type) >= 9;
  if (gfx) {
    const unsigned char *t = (const unsigned char *)type;
    w = hex_val(t[5]) * 16 + hex_val(t[6]);
    h = hex_val(t[7]) * 16 + hex_val(t[8]);
    dp = 1;
    code = UT_U8;
    dims = 2;
    text = type;
  } else if (dims != 1 && dims != 2) {
    return nullptr;
  }
  if (w <= 0 || h <= 0 || dp <= 0) return nullptr;
  // Each factor is below 2^31, so checking the partial product keeps everything exact.
  int64_t count = w * h;
  if (count > UD_MAX_DATA) return nullptr;
  count *= dp;
  int esize = ud_esize(code);
  int64_t bytes = count * esize;
  if (bytes > UD_MAX_DATA) return nullptr;
  bytes = (bytes + 7) & ~INT64_C(7);
  if (bytes < 1) return nullptr;

  auto *hd = (UserdataHeader *)lua_newuserdatauv(L, (size_t)bytes + sizeof(UserdataHeader), 0);
  if (lua_getglobal(L, "USERDATA") == LUA_TTABLE) lua_setmetatable(L, -2);
  else lua_pop(L, 1);
  hd->type = (uint8_t)code;
  hd->dims = (uint8_t)dims;
  hd->reserved[0] = hd->reserved[1] = 0;
  hd->width = (uint32_t)w;
  hd->height = (uint32_t)h;
  hd->depth = (uint32_t)dp;
  memset(ud_data(hd), 0, (size_t)bytes);
  if (!text) return hd;
  spend_cpu((int32_t)((uint32_t)(count * esize * 8) / 32));
  fill_from_text(hd, count, text, gfx);
  return hd;
}

static int64_t header_data_bytes(const UserdataHeader *h) {
  unsigned __int128 n = (unsigned __int128)h->width * h->height * h->depth;
  n *= (unsigned)ud_esize(h->type & 31);
  n = (n + 7) & ~(unsigned __int128)7;
  return n > (unsigned __int128)UD_MAX_DATA ? UD_MAX_DATA : (int64_t)n;
}

UserdataHeader *push_duplicate_userdata(lua_State *L, UserdataHeader *ud) {
  int64_t bytes = header_data_bytes(ud);
  auto *hd = (UserdataHeader *)lua_newuserdatauv(L, (size_t)bytes + sizeof(UserdataHeader), 0);
  if (lua_getglobal(L, "USERDATA") == LUA_TTABLE) lua_setmetatable(L, -2);
  else lua_pop(L, 1);
  memcpy(hd, ud, (size_t)bytes + sizeof(UserdataHeader));
  return hd;
}

int32_t get_userdata_len2(UserdataHeader *a, UserdataHeader *b, int32_t aoff, int32_t len,
                          int32_t boff) {
  int64_t n = len;
  if (a) {
    int64_t c = (int64_t)a->width * a->height * a->depth - aoff;
    if (c < n) n = c;
  }
  if (b) {
    int64_t c = (int64_t)b->width * b->height * b->depth - boff;
    if (c < n) n = c;
  }
  if (n < INT32_MIN) n = INT32_MIN;
  return (int32_t)n;
}

// A size argument: a number truncated toward zero into the signed 32-bit range; anything
// else, or a value outside that range, is -1 (refused).
static int32_t size_arg(lua_State *L, int idx) {
  if (lua_type(L, idx) != LUA_TNUMBER) return -1;
  if (lua_isinteger(L, idx)) {
    lua_Integer i = lua_tointeger(L, idx);
    return (i >= INT32_MIN && i <= INT32_MAX) ? (int32_t)i : -1;
  }
  double d = std::trunc(lua_tonumber(L, idx));
  if (d >= -2147483648.0 && d < 2147483648.0) return (int32_t)d;
  return -1;
}

int lua54_userdata(lua_State *L) {
  int top = lua_gettop(L);
  const char *type = nullptr;
  int t1 = lua_type(L, 1);
  if (t1 == LUA_TSTRING || t1 == LUA_TNUMBER) type = lua_tostring(L, 1);
  int textidx = top <= 3 ? 3 : 4;
  const char *text = lua_type(L, textidx) == LUA_TSTRING ? lua_tostring(L, textidx) : nullptr;
  int n = top - 1 - (text ? 1 : 0);
  int32_t w = size_arg(L, 2);
  int dims = n >= 2 ? 2 : 1;
  int32_t h = dims == 2 ? size_arg(L, 3) : 1;
  return create_userdata(L, type, dims, w, h, 1, text) ? 1 : 0;
}

int lua54_vec(lua_State *L) {
  if (lua_type(L, 1) != LUA_TNUMBER) return 0;
  int n = lua_gettop(L);
  UserdataHeader *h = create_userdata(L, "f64", 1, n, 1, 1, nullptr);
  if (!h) return 0;
  double *d = (double *)ud_data(h);
  for (int i = 0; i < n; i++) {
    double x = lua_tonumberx(L, i + 1, nullptr);
    memcpy(d + i, &x, 8);
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// get and set

// Dimension count as get and set use it: the header byte read signed, kept within 1..3.
static int index_dims(const UdView &v) {
  int d = (int8_t)v.h->dims;
  return d < 1 ? 1 : d > 3 ? 3 : d;
}

int lua54_get_0(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  int d = index_dims(v);
  int64_t x = hvx_intp(L, 2, 0);
  int64_t y = d >= 2 ? hvx_intp(L, 3, 0) : 0;
  int64_t z = d >= 3 ? hvx_intp(L, 4, 0) : 0;
  int64_t count = hvx_intp(L, d + 2, 1);
  if (lua_gettop(L) == 1 || lua_type(L, 2) != LUA_TNUMBER) count = v.count;
  if (count < 1) return 0;
  if (count > INT32_MAX || !lua_checkstack(L, (int)count)) {
    printf(" ********** too many get() results (%" PRId64 ") stack limit reached **********\n",
           count);
    fflush(stdout);
    return 0;
  }
  const UserdataHeader *h = v.h;
  if (x < 0 || y < 0 || z < 0 || x >= (int64_t)h->width || y >= (int64_t)h->height ||
      z >= (int64_t)h->depth) {
    lua_pushnumber(L, 0.0);
    return 1;
  }
  int64_t start = (z * h->height + y) * h->width + x;
  int64_t n = v.count - start;
  if (count < n) n = count;
  for (int64_t i = 0; i < n; i++) ud_push_elem(L, v, start + i);
  for (int64_t i = n; i < count; i++) lua_pushinteger(L, 0);
  spend_cpu((int32_t)(count / 2));
  return (int)count;
}

int lua54_get(lua_State *L) { return lua54_get_0(L); }

// An index argument of set: numbers only, truncated toward zero; false when it lies outside
// the 64-bit range (then no index can match).
static bool set_index(lua_State *L, int idx, int64_t *out) {
  *out = 0;
  if (lua_type(L, idx) != LUA_TNUMBER) return true;
  if (lua_isinteger(L, idx)) {
    *out = lua_tointeger(L, idx);
    return true;
  }
  double dd = std::trunc(lua_tonumber(L, idx));
  if (!(dd >= -9223372036854775808.0 && dd < 9223372036854775808.0)) return false;
  *out = (int64_t)dd;
  return true;
}

int lua54_set_0(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  int d = index_dims(v);
  int64_t x, y = 0, z = 0;
  if (!set_index(L, 2, &x)) return 0;
  if (d >= 2 && !set_index(L, 3, &y)) return 0;
  if (d >= 3 && !set_index(L, 4, &z)) return 0;
  const UserdataHeader *h = v.h;
  if (x < 0 || y < 0 || z < 0 || x >= (int64_t)h->width || y >= (int64_t)h->height ||
      z >= (int64_t)h->depth)
    return 0;
  int64_t start = (z * h->height + y) * h->width + x;
  int first = d + 2;
  int64_t n = (int64_t)lua_gettop(L) - (first - 1);
  if (v.count - start < n) n = v.count - start;
  for (int64_t k = 0; k < n; k++) {
    int arg = first + (int)k;
    if (v.type == UT_F64) {
      double val = lua_type(L, arg) == LUA_TNUMBER ? lua_tonumber(L, arg) : 0.0;
      ud_set_num(v, start + k, val);
    } else {
      ud_set_int(v, start + k, hvx_intp(L, arg, 0));
    }
  }
  return 0;
}

int lua54_set(lua_State *L) { return lua54_set_0(L); }

int lua54_ud_get(lua_State *L) { return lua54_get_0(L); }
int lua54_ud_set(lua_State *L) { return lua54_set_0(L); }

// ---------------------------------------------------------------------------------------
// Metamethods and shape

// Element index of a key: integer keys (floats with an exact integer value too) and the
// one-letter names x y z u v w t. False for any other key.
static bool key_index(lua_State *L, int idx, int64_t *out) {
  int t = lua_type(L, idx);
  if (t == LUA_TNUMBER) {
    int ok = 0;
    lua_Integer k = lua_tointegerx(L, idx, &ok);
    if (!ok) return false;
    *out = k;
    return true;
  }
  if (t != LUA_TSTRING) return false;
  size_t len;
  const char *s = lua_tolstring(L, idx, &len);
  if (len != 1) return false;
  static const char names[] = "xyzuvwt";
  const char *p = strchr(names, s[0]);
  if (!p || !s[0]) return false;
  *out = p - names;
  return true;
}

int lua54_ud_index(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  if (lua_type(L, 2) == LUA_TSTRING) {
    size_t len;
    lua_tolstring(L, 2, &len);
    if (len != 1) {
      if (!lua_getmetatable(L, 1)) return 0;
      lua_pushvalue(L, 2);
      lua_rawget(L, -2);
      return 1;
    }
  }
  int64_t i;
  if (!key_index(L, 2, &i) || i < 0 || i >= v.count) return 0;
  ud_push_elem(L, v, i);
  return 1;
}

int lua54_ud_newindex(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  int64_t i;
  if (!key_index(L, 2, &i) || i < 0 || i >= v.count) return 0;
  // Unlike set, a numeric string stores its value; any other non-number stores 0.
  if (v.type == UT_F64) ud_set_num(v, i, lua_tonumberx(L, 3, nullptr));
  else ud_set_int(v, i, hvx_intp(L, 3, 0));
  return 0;
}

int lua54_ud_len(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  lua_pushinteger(L, v.count);
  return 1;
}

// A float as the engine prints it: %.14g, with ".0" when it reads as an integer.
static void add_number(luaL_Buffer *b, double x) {
  char s[64];
  int n = snprintf(s, sizeof s, "%.14g", x);
  if (strspn(s, "-0123456789") == (size_t)n) {
    s[n++] = '.';
    s[n++] = '0';
    s[n] = 0;
  }
  luaL_addstring(b, s);
}

// Vectors up to this width print their elements.
constexpr uint32_t TOSTRING_VEC_MAX = 16;

int lua54_ud_tostring(lua_State *L) {
  if (lua_type(L, 1) != LUA_TUSERDATA) return 0;
  UdView v;
  if (ud_view(L, 1, &v) && v.type == UT_F64) {
    const UserdataHeader *h = v.h;
    bool vec = h->dims == 1 && h->width <= TOSTRING_VEC_MAX && v.count == h->width;
    bool mat = h->dims == 2 && h->width == 3 && h->height == 4 && v.count == 12;
    if (vec || mat) {
      luaL_Buffer b;
      luaL_buffinit(L, &b);
      luaL_addstring(&b, vec ? "vec(" : "userdata(\"f64\",3,4,\"");
      for (int64_t i = 0; i < v.count; i++) {
        if (i) luaL_addchar(&b, ',');
        add_number(&b, ud_get_num(v, i));
      }
      luaL_addstring(&b, vec ? ")" : "\")");
      luaL_pushresult(&b);
      return 1;
    }
  }
  char s[32];
  snprintf(s, sizeof s, "userdata: 0x%x", (unsigned)(uintptr_t)lua_touserdata(L, 1));
  lua_pushstring(L, s);
  return 1;
}

int lua54_ud_width(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  lua_pushinteger(L, v.h->width);
  return 1;
}

int lua54_ud_height(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  if ((int8_t)v.h->dims > 1) lua_pushinteger(L, v.h->height);
  else lua_pushnil(L);
  return 1;
}

int lua54_ud_attribs(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  lua_pushinteger(L, v.h->width);
  lua_pushinteger(L, v.h->height);
  lua_pushstring(L, get_utype_string(v.type));
  lua_pushinteger(L, v.h->dims);
  return 4;
}

int lua54_ud_mutate(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  int ntype = v.type;
  int t2 = lua_type(L, 2);
  if (t2 == LUA_TSTRING || t2 == LUA_TNUMBER) ntype = str_to_utype(lua_tostring(L, 2));
  if ((ntype == UT_F64) != (v.type == UT_F64)) {
    lua_pushstring(L, "can not mutate between integer and float data types");
    return 1;
  }
  int nes = ud_esize(ntype);
  UserdataHeader *h = v.h;
  bool hw = lua_type(L, 3) == LUA_TNUMBER, hh = lua_type(L, 4) == LUA_TNUMBER;
  // Without a width the rows keep their byte length.
  int64_t w = hw ? size_arg(L, 3) : (int64_t)h->width * v.esize / nes;
  int64_t ht = hh ? size_arg(L, 4) : (hw ? 1 : (int64_t)h->height);
  int dims = hh ? 2 : (hw ? 1 : h->dims);
  if ((hw && w < 1) || (hh && ht < 1)) return 0; // sizes below 1 are refused silently
  unsigned __int128 nbytes = (unsigned __int128)w * ht * h->depth * nes;
  // w < 1: a row too short to hold one element of the new type.
  if (w < 1 || nbytes > (unsigned __int128)v.bytes) {
    lua_pushstring(L, "new size is larger than old size");
    return 1;
  }
  h->type = (uint8_t)ntype;
  h->dims = (uint8_t)dims;
  h->width = (uint32_t)w;
  h->height = (uint32_t)ht;
  return 0;
}

// Element range [first, last) of an offset and count clipped to the elements.
static void clip_range(int64_t count, int64_t off, int64_t n, int64_t *first, int64_t *last) {
  *first = off < 0 ? 0 : off;
  int64_t end = off + n;
  *last = end > count ? count : end;
}

int lua54_ud_peek(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v) || v.type == UT_F64) return 0;
  uint64_t addr = (uint64_t)hvx_intp(L, 2, 0);
  int64_t off = ud_arg(L, 3, 0), n = ud_arg(L, 4, v.count), first, last;
  clip_range(v.count, off, n, &first, &last);
  for (int64_t i = first; i < last; i++) {
    int64_t a = (int64_t)(addr + (uint64_t)((i - off) * v.esize));
    switch (v.type) {
      case UT_U8: ud_set_int(v, i, peek(a)); break;
      case UT_I16: ud_set_int(v, i, peek2(a)); break;
      case UT_I32: ud_set_int(v, i, peek4(a)); break;
      default: ud_set_int(v, i, peek8(a)); break;
    }
  }
  lua_pushvalue(L, 1);
  return 1;
}

int lua54_ud_poke(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v) || v.type == UT_F64) return 0;
  uint64_t addr = (uint64_t)hvx_intp(L, 2, 0);
  int64_t off = ud_arg(L, 3, 0), n = ud_arg(L, 4, v.count), first, last;
  clip_range(v.count, off, n, &first, &last);
  for (int64_t i = first; i < last; i++) {
    int64_t a = (int64_t)(addr + (uint64_t)((i - off) * v.esize));
    int64_t x = ud_get_int(v, i);
    switch (v.type) {
      case UT_U8: poke(a, x); break;
      case UT_I16: poke2(a, x); break;
      case UT_I32: poke4(a, x); break;
      default: poke8(a, x); break;
    }
  }
  lua_pushvalue(L, 1);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Registration

static const luaL_Reg userdata_methods[] = {
    {"sort", lua54_ud_sort},         {"convert", lua54_ud_convert},
    {"copy", lua54_ud_copy},         {"take", lua54_ud_take},
    {"clear", lua54_ud_clear},       {"__add", lua54_ud_add},
    {"__sub", lua54_ud_sub},         {"__mul", lua54_ud_mul},
    {"__div", lua54_ud_div},         {"__idiv", lua54_ud_idiv},
    {"__mod", lua54_ud_mod},         {"__pow", lua54_ud_pow},
    {"__band", lua54_ud_band},       {"__bor", lua54_ud_bor},
    {"__bxor", lua54_ud_bxor},       {"__shl", lua54_ud_shl},
    {"__shr", lua54_ud_shr},         {"add", lua54_ud_add},
    {"sub", lua54_ud_sub},           {"mul", lua54_ud_mul},
    {"div", lua54_ud_div},           {"idiv", lua54_ud_idiv},
    {"mod", lua54_ud_mod},           {"pow", lua54_ud_pow},
    {"band", lua54_ud_band},         {"bor", lua54_ud_bor},
    {"bxor", lua54_ud_bxor},         {"shl", lua54_ud_shl},
    {"shr", lua54_ud_shr},           {"max", lua54_ud_max},
    {"min", lua54_ud_min},           {"abs", lua54_ud_abs},
    {"sgn", lua54_ud_sgn},           {"sgn0", lua54_ud_sgn0},
    {"__len", lua54_ud_len},         {"__tostring", lua54_ud_tostring},
    {"__index", lua54_ud_index},     {"__newindex", lua54_ud_newindex},
    {"set", lua54_ud_set},           {"get", lua54_ud_get},
    {"blit", lua54_ud_blit},         {"peek", lua54_ud_peek},
    {"poke", lua54_ud_poke},         {"width", lua54_ud_width},
    {"height", lua54_ud_height},     {"attribs", lua54_ud_attribs},
    {"mutate", lua54_ud_mutate},     {"lerp", lua54_ud_lerp},
    {"magnitude", lua54_ud_magnitude}, {"distance", lua54_ud_distance},
    {"dot", lua54_ud_dot},           {"cross", lua54_ud_cross},
    {"matmul", lua54_ud_matmul},     {"matmul3d", lua54_ud_matmul3d},
    {"matmul2d", lua54_ud_matmul2d}, {"transpose", lua54_ud_transpose},
    {"row", lua54_ud_row},           {"column", lua54_ud_column},
    {nullptr, nullptr},
};
static_assert(sizeof(userdata_methods) / sizeof(userdata_methods[0]) == 59, "58 keys");

void add_userdata_metatable_functions(lua_State *L) {
  lua_register(L, "userdata", lua54_userdata);
  lua_register(L, "vec", lua54_vec);
  lua_register(L, "get", lua54_get);
  lua_register(L, "set", lua54_set);
  lua_createtable(L, 0, 58);
  for (const luaL_Reg *r = userdata_methods; r->name; r++) {
    lua_pushcfunction(L, r->func);
    lua_setfield(L, -2, r->name);
  }
  lua_setglobal(L, "USERDATA");
}
