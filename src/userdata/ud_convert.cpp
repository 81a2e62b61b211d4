// convert (element type conversion and palette reduction) and sort.
#include <algorithm>
#include <cstdlib>

#include "userdata/ud_internal.h"

// Palette key of an f64 element: truncated toward zero; NaN is 0 and values beyond the
// 64-bit range saturate.
static int64_t f64_key(double d) {
  if (d != d) return 0;
  d = std::trunc(d);
  if (d >= 9223372036854775808.0) return INT64_MAX;
  if (d < -9223372036854775808.0) return INT64_MIN;
  return (int64_t)d;
}

// Positions of the palette keys. The results are those of a linear search in insertion
// order; the table only keeps the search from costing 256 comparisons per element.
struct PaletteMap {
  static constexpr int SLOTS = 1024;
  int64_t key[SLOTS];
  int16_t pos[SLOTS];
  PaletteMap() {
    for (int i = 0; i < SLOTS; i++) pos[i] = -1;
  }
  int16_t *find(int64_t k) {
    uint32_t h = (uint32_t)(((uint64_t)k * UINT64_C(0x9E3779B97F4A7C15)) >> 54);
    while (pos[h] >= 0 && key[h] != k) h = (h + 1) & (SLOTS - 1);
    key[h] = k;
    return &pos[h];
  }
};

static int convert_palette(lua_State *L, const UdView &src) {
  const UserdataHeader *sh = src.h;
  if (!create_userdata(L, "u8", sh->dims, (int32_t)sh->width, (int32_t)sh->height,
                       (int32_t)sh->depth, nullptr))
    return 0;
  UdView iv;
  ud_view(L, -1, &iv);
  auto *map = new PaletteMap;
  int64_t entries[256];
  int n = 0;
  for (int64_t i = 0, end = std::min(src.count, iv.count); i < end; i++) {
    int64_t k = src.type == UT_F64 ? f64_key(ud_get_num(src, i)) : ud_get_int(src, i);
    int16_t *p = map->find(k);
    if (*p < 0 && n < 256) {
      *p = (int16_t)n;
      entries[n++] = k;
    }
    iv.data[i] = *p < 0 ? 255 : (uint8_t)*p;
  }
  delete map;
  if (!create_userdata(L, get_utype_string(src.type), 1, n, 1, 1, nullptr)) return 0;
  UdView pv;
  ud_view(L, -1, &pv);
  for (int i = 0; i < n; i++) {
    if (pv.type == UT_F64) ud_set_num(pv, i, (double)entries[i]);
    else ud_set_int(pv, i, entries[i]);
  }
  ud_charge(src.count);
  return 2;
}

int lua54_ud_convert(lua_State *L) {
  UdView src;
  if (!ud_view(L, 1, &src)) return 0;
  int t2 = lua_type(L, 2);
  size_t len = 0;
  const char *name = t2 == LUA_TSTRING || t2 == LUA_TNUMBER ? lua_tolstring(L, 2, &len) : nullptr;
  if (lua_toboolean(L, 3) && t2 == LUA_TSTRING && len == 2 && memcmp(name, "u8", 2) == 0)
    return convert_palette(L, src);
  const UserdataHeader *sh = src.h;
  // The name only selects the element type: a "[gfx]" name must not give the result its
  // own shape and pixels.
  if (!create_userdata(L, get_utype_string(str_to_utype(name)), sh->dims, (int32_t)sh->width,
                       (int32_t)sh->height, (int32_t)sh->depth, nullptr))
    return 0;
  UdView dv;
  ud_view(L, -1, &dv);
  // Equal counts unless a header holds a depth that creation ignores; never run past either.
  int64_t n = std::min(src.count, dv.count);
  if (dv.type == src.type) {
    memcpy(dv.data, src.data, (size_t)(n * src.esize));
    return 1;
  }
  for (int64_t i = 0; i < n; i++) {
    if (src.type == UT_F64) ud_set_from_f64(dv, i, ud_get_num(src, i));
    else if (dv.type == UT_F64) ud_set_num(dv, i, (double)ud_get_int(src, i));
    else ud_set_int(dv, i, ud_get_int(src, i));
  }
  ud_charge(2 * src.count);
  return 1;
}

// ---------------------------------------------------------------------------------------
// sort

int64_t score_index = 0;
int score_val1 = 0;
int score_valm1 = 0;

// The comparators' answer for a three-way order r (-1, 0 or 1) under the descending flags.
static int ordered(int r) {
  if (r > 0) return score_val1 ? -1 : 1;
  if (r < 0) return score_valm1 ? 1 : -1;
  return 0;
}
int64_t num_compares = 0;

template <class T>
static T key_at(const void *row) {
  T v;
  memcpy(&v, (const uint8_t *)row + score_index * (int64_t)sizeof(T), sizeof v);
  return v;
}

// Three-way comparison without subtraction, so the extremes of i64 cannot overflow.
template <class T>
static int compare_keys(const void *a, const void *b) {
  num_compares++;
  T x = key_at<T>(a), y = key_at<T>(b);
  return ordered(x > y ? 1 : x < y ? -1 : 0);
}

int compare_u8(const void *a, const void *b) { return compare_keys<uint8_t>(a, b); }
int compare_i16(const void *a, const void *b) { return compare_keys<int16_t>(a, b); }
int compare_i32(const void *a, const void *b) { return compare_keys<int32_t>(a, b); }
int compare_i64(const void *a, const void *b) { return compare_keys<int64_t>(a, b); }

// NaN sorts after every number (before them when descending), so the order stays total.
int compare_f64(const void *a, const void *b) {
  num_compares++;
  double x = key_at<double>(a), y = key_at<double>(b);
  bool xn = x != x, yn = y != y;
  int r;
  if (xn || yn) r = xn && yn ? 0 : xn ? 1 : -1;
  else r = x > y ? 1 : x < y ? -1 : 0;
  return ordered(r);
}

int lua54_ud_sort(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  int64_t column = hvx_intp(L, 2, 0);
  bool desc = lua_toboolean(L, 3);
  int64_t rowlen = v.h->height >= 2 ? v.h->width : 1;
  if (column < 0 || column >= rowlen) return 0;
  int64_t rows = v.count / rowlen;
  score_index = column;
  score_val1 = score_valm1 = desc ? 1 : 0;
  num_compares = 0;
  int (*cmp)(const void *, const void *) = nullptr;
  switch (v.type) {
    case UT_U8: cmp = compare_u8; break;
    case UT_I16: cmp = compare_i16; break;
    case UT_I32: cmp = compare_i32; break;
    case UT_I64: cmp = compare_i64; break;
    case UT_F64: cmp = compare_f64; break;
  }
  if (cmp) qsort(v.data, (size_t)rows, (size_t)(rowlen * v.esize), cmp);
  ud_charge(num_compares);
  lua_pushinteger(L, num_compares);
  return 1;
}
