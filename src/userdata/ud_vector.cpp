// Vector and matrix services of the typed userdata: blit, lerp, magnitude, distance, dot,
// cross, matmul, matmul3d, matmul2d, transpose, row and column.
#include "userdata/ud_internal.h"

static inline double rd(const uint8_t *p, int64_t i) {
  double x;
  memcpy(&x, p + i * 8, 8);
  return x;
}

static inline void wr(uint8_t *p, int64_t i, double x) { memcpy(p + i * 8, &x, 8); }

// Rows of a userdata counted over all layers.
static int64_t rows_of(const UdView &v) { return v.count / v.h->width; }

int lua54_ud_blit(lua_State *L) {
  UdView s, d;
  if (!ud_view(L, 1, &s) || !ud_view(L, 2, &d) || s.type != d.type) return 0;
  int64_t sx = ud_arg(L, 3, 0), sy = ud_arg(L, 4, 0), dx = ud_arg(L, 5, 0), dy = ud_arg(L, 6, 0);
  int64_t w = ud_arg(L, 7, s.h->width), h = ud_arg(L, 8, rows_of(s));
  int64_t sw = s.h->width, sh = rows_of(s), dw = d.h->width, dh = rows_of(d);
  // Clip the rectangle to both surfaces.
  if (sx < 0) { w += sx; dx -= sx; sx = 0; }
  if (sy < 0) { h += sy; dy -= sy; sy = 0; }
  if (dx < 0) { w += dx; sx -= dx; dx = 0; }
  if (dy < 0) { h += dy; sy -= dy; dy = 0; }
  if (w > sw - sx) w = sw - sx;
  if (w > dw - dx) w = dw - dx;
  if (h > sh - sy) h = sh - sy;
  if (h > dh - dy) h = dh - dy;
  if (w <= 0 || h <= 0) return 0;
  const int es = s.esize;
  // Rows run bottom-up when a surface is copied onto itself further down.
  bool up = s.data == d.data && dy > sy;
  for (int64_t r = 0; r < h; r++) {
    int64_t y = up ? h - 1 - r : r;
    memmove(d.data + ((dy + y) * dw + dx) * es, s.data + ((sy + y) * sw + sx) * es,
            (size_t)(w * es));
  }
  return 0;
}

static int64_t round_to_i64(double x) { return f64_floor_i64(x + 0.5); }

// lerp(ud, [offset = 0], [length = width], [stride = length], [runs = rows]): the inner
// elements of each run become the straight line between its first and last element. Runs
// that do not lie wholly inside the elements are left alone.
int lua54_ud_lerp(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  int64_t off = ud_arg(L, 2, 0), len = ud_arg(L, 3, v.h->width);
  int64_t stride = ud_arg(L, 4, len), runs = ud_arg(L, 5, rows_of(v));
  int64_t work = 0;
  // Interpolating a run twice changes nothing, so a stride of 0 needs one run.
  if (len < 3) runs = 0;
  else if (stride == 0 && runs > 1) runs = 1;
  for (int64_t r = 0; r < runs && work < UD_WORK_MAX; r++) {
    int64_t start = off + r * stride;
    if ((stride > 0 && start > v.count - len) || (stride < 0 && start < 0)) break;
    if (stride > 0 && start < 0) { // pass over the runs before the elements at once
      r += (-start + stride - 1) / stride - 1;
      continue;
    }
    if (stride < 0 && start > v.count - len) {
      r += (start - (v.count - len) - stride - 1) / -stride - 1;
      continue;
    }
    work += len;
    if (start < 0 || start > v.count - len) continue;
    double a = ud_get_num(v, start), b = ud_get_num(v, start + len - 1);
    for (int64_t j = 1; j < len - 1; j++) {
      double x = a + (b - a) * (double)j / (double)(len - 1);
      if (v.type == UT_F64) ud_set_num(v, start + j, x);
      else ud_set_int(v, start + j, round_to_i64(x));
    }
  }
  lua_pushvalue(L, 1);
  return 1;
}

static bool f64_view(lua_State *L, int idx, UdView *v) {
  return ud_view(L, idx, v) && v->type == UT_F64;
}

static int64_t vec_len(const UdView &v) {
  return (int64_t)v.h->width < v.count ? (int64_t)v.h->width : v.count;
}

int lua54_ud_magnitude(lua_State *L) {
  UdView v;
  if (!f64_view(L, 1, &v)) return 0;
  double s = 0;
  for (int64_t i = 0, n = vec_len(v); i < n; i++) s += rd(v.data, i) * rd(v.data, i);
  lua_pushnumber(L, std::sqrt(s));
  return 1;
}

int lua54_ud_distance(lua_State *L) {
  UdView a, b;
  if (!f64_view(L, 1, &a) || !f64_view(L, 2, &b)) return 0;
  int64_t n = vec_len(a) < vec_len(b) ? vec_len(a) : vec_len(b);
  double s = 0;
  for (int64_t i = 0; i < n; i++) {
    double d = rd(a.data, i) - rd(b.data, i);
    s += d * d;
  }
  lua_pushnumber(L, std::sqrt(s));
  return 1;
}

int lua54_ud_dot(lua_State *L) {
  UdView a, b;
  if (!f64_view(L, 1, &a) || !f64_view(L, 2, &b)) return 0;
  int64_t n = vec_len(a) < vec_len(b) ? vec_len(a) : vec_len(b);
  double s = 0;
  for (int64_t i = 0; i < n; i++) s += rd(a.data, i) * rd(b.data, i);
  lua_pushnumber(L, s);
  return 1;
}

// The destination of a vector or matrix result at argument idx: a userdata (checked by the
// caller), any other true value for `self_idx` itself, else none (0).
static int dest_arg(lua_State *L, int idx, int self_idx, UdView *out, const UdView &self) {
  if (lua_type(L, idx) == LUA_TUSERDATA) return ud_view(L, idx, out) ? idx : -1;
  if (lua_toboolean(L, idx)) {
    *out = self;
    return self_idx;
  }
  return 0;
}

int lua54_ud_cross(lua_State *L) {
  UdView a, b, d;
  if (!f64_view(L, 1, &a) || !f64_view(L, 2, &b) || vec_len(a) < 3 || vec_len(b) < 3) return 0;
  int didx = dest_arg(L, 3, 1, &d, a);
  if (didx < 0 || (didx > 0 && (d.type != UT_F64 || d.count < 3))) return 0;
  double a0 = rd(a.data, 0), a1 = rd(a.data, 1), a2 = rd(a.data, 2);
  double b0 = rd(b.data, 0), b1 = rd(b.data, 1), b2 = rd(b.data, 2);
  if (didx) {
    lua_pushvalue(L, didx);
  } else {
    create_userdata(L, "f64", 1, 3, 1, 1, nullptr);
    ud_view(L, -1, &d);
  }
  wr(d.data, 0, a1 * b2 - a2 * b1);
  wr(d.data, 1, a2 * b0 - a0 * b2);
  wr(d.data, 2, a0 * b1 - a1 * b0);
  return 1;
}

int lua54_ud_matmul(lua_State *L) {
  UdView a, b, d;
  if (!f64_view(L, 1, &a) || !f64_view(L, 2, &b)) return 0;
  int64_t aw = a.h->width, ah = rows_of(a), bw = b.h->width, bh = rows_of(b);
  if (aw != bh) return 0;
  int didx = dest_arg(L, 3, 1, &d, a);
  if (didx < 0) return 0;
  if (didx && (d.type != UT_F64 || d.h->width != bw || rows_of(d) != ah)) return 0;
  const uint8_t *A = a.data, *B = b.data;
  if (didx && d.data == a.data && !(A = (const uint8_t *)copy_dat(0, (double *)a.data, a.count)))
    return 0;
  if (didx && d.data == b.data && !(B = (const uint8_t *)copy_dat(1, (double *)b.data, b.count)))
    return 0;
  if (didx) {
    lua_pushvalue(L, didx);
  } else {
    int dims = a.h->dims >= 2 ? 2 : 1; // a row vector gives a vector
    if (ah > INT32_MAX || !create_userdata(L, "f64", dims, (int32_t)bw, (int32_t)ah, 1, nullptr))
      return 0;
    ud_view(L, -1, &d);
  }
  for (int64_t i = 0; i < ah; i++)
    for (int64_t j = 0; j < bw; j++) {
      double s = 0;
      for (int64_t k = 0; k < aw; k++) s += rd(A, i * aw + k) * rd(B, k * bw + j);
      wr(d.data, i * bw + j, s);
    }
  return 1;
}

// Points (the rows of a, `dim` coordinates each) times a matrix whose last row is the
// translation.
static int transform_points(lua_State *L, int dim) {
  UdView a, m, d;
  if (!f64_view(L, 1, &a) || !f64_view(L, 2, &m)) return 0;
  int64_t pw = a.h->width, mw = m.h->width;
  if (pw < dim || mw < dim || rows_of(m) < dim + 1) return 0;
  int didx = dest_arg(L, 3, 1, &d, a);
  if (didx < 0) return 0;
  if (didx && (d.type != UT_F64 || d.h->width != a.h->width || d.count < a.count)) return 0;
  const uint8_t *A = a.data, *M = m.data;
  if (didx && d.data == a.data && !(A = (const uint8_t *)copy_dat(0, (double *)a.data, a.count)))
    return 0;
  if (didx && d.data == m.data && !(M = (const uint8_t *)copy_dat(1, (double *)m.data, m.count)))
    return 0;
  if (didx) {
    lua_pushvalue(L, didx);
  } else {
    push_duplicate_userdata(L, a.h);
    ud_view(L, -1, &d);
  }
  int64_t points = rows_of(a);
  for (int64_t p = 0; p < points; p++) {
    double in[3], out[3];
    for (int c = 0; c < dim; c++) in[c] = rd(A, p * pw + c);
    for (int c = 0; c < dim; c++) {
      double s = rd(M, dim * mw + c);
      for (int r = 0; r < dim; r++) s += in[r] * rd(M, r * mw + c);
      out[c] = s;
    }
    for (int c = 0; c < dim; c++) wr(d.data, p * pw + c, out[c]);
  }
  return 1;
}

int lua54_ud_matmul3d(lua_State *L) { return transform_points(L, 3); }
int lua54_ud_matmul2d(lua_State *L) { return transform_points(L, 2); }

int lua54_ud_transpose(lua_State *L) {
  UdView v, t;
  if (!ud_view(L, 1, &v)) return 0;
  int64_t w = v.h->width, h = rows_of(v);
  if (!create_userdata(L, get_utype_string(v.type), 2, (int32_t)h, (int32_t)w, 1, nullptr))
    return 0;
  ud_view(L, -1, &t);
  const int es = v.esize;
  for (int64_t y = 0; y < h; y++)
    for (int64_t x = 0; x < w; x++)
      memcpy(t.data + (x * h + y) * es, v.data + (y * w + x) * es, es);
  return 1;
}

int lua54_ud_row(lua_State *L) {
  UdView v, r;
  if (!ud_view(L, 1, &v)) return 0;
  int64_t y = hvx_intp(L, 2, 0), w = v.h->width;
  if (y < 0 || y >= rows_of(v)) return 0;
  if (!create_userdata(L, get_utype_string(v.type), 1, (int32_t)w, 1, 1, nullptr)) return 0;
  ud_view(L, -1, &r);
  memcpy(r.data, v.data + y * w * v.esize, (size_t)(w * v.esize));
  return 1;
}

int lua54_ud_column(lua_State *L) {
  UdView v, c;
  if (!ud_view(L, 1, &v)) return 0;
  int64_t x = hvx_intp(L, 2, 0), w = v.h->width, h = rows_of(v);
  if (x < 0 || x >= w) return 0;
  if (!create_userdata(L, get_utype_string(v.type), 1, (int32_t)h, 1, 1, nullptr)) return 0;
  ud_view(L, -1, &c);
  const int es = v.esize;
  for (int64_t y = 0; y < h; y++) memcpy(c.data + y * es, v.data + (y * w + x) * es, es);
  return 1;
}
