// The element-wise family (add .. shr, max, min, abs, sgn, sgn0) and copy: one calling
// convention, one span walker, and a straight loop per element type, operator and operand
// form.
#include <cfloat>
#include <type_traits>

#include "userdata/ud_internal.h"
#include "userdata/ud_ops.h"

namespace {

template <int CODE>
struct Tr;
template <>
struct Tr<UT_U8> {
  using S = uint8_t;
  using C = int32_t;
  static constexpr C imax = 255, imin = 0;
};
template <>
struct Tr<UT_I16> {
  using S = int16_t;
  using C = int32_t;
  static constexpr C imax = 32767, imin = -32767;
};
template <>
struct Tr<UT_I32> {
  using S = int32_t;
  using C = int32_t;
  static constexpr C imax = INT32_MAX, imin = -INT32_MAX;
};
template <>
struct Tr<UT_I64> {
  using S = int64_t;
  using C = int64_t;
  static constexpr C imax = INT64_MAX, imin = -INT64_MAX;
};
template <>
struct Tr<UT_F64> {
  using S = double;
  using C = double;
};

template <class C>
constexpr int cbits = (int)sizeof(C) * 8;

// Arithmetic right shift (the computing value of u8 is never negative, so for u8 it is the
// logical one); counts past the width give the sign fill; negative counts shift left.
// Negative counts are compared before they are negated: -INT64_MIN does not exist.
template <class C>
C shift_right(C x, int64_t y) {
  using U = std::make_unsigned_t<C>;
  if (y < 0) return y <= -cbits<C> ? (C)0 : (C)((U)x << -y);
  if (y >= cbits<C>) return x < 0 ? (C)-1 : (C)0;
  return (C)(x >> y);
}

template <class C>
C shift_left(C x, int64_t y) {
  using U = std::make_unsigned_t<C>;
  if (y < 0) return y <= -cbits<C> ? (x < 0 ? (C)-1 : (C)0) : (C)(x >> -y);
  if (y >= cbits<C>) return 0;
  return (C)((U)x << y);
}

template <int CODE, UdOp OP>
inline typename Tr<CODE>::C apply(typename Tr<CODE>::C x, typename Tr<CODE>::C y) {
  using C = typename Tr<CODE>::C;
  if constexpr (CODE == UT_F64) {
    if constexpr (OP == UdOp::Add) return x + y;
    else if constexpr (OP == UdOp::Sub) return x - y;
    else if constexpr (OP == UdOp::Mul) return x * y;
    else if constexpr (OP == UdOp::Div) return y == 0.0 ? (x < 0 ? -DBL_MAX : DBL_MAX) : x / y;
    else if constexpr (OP == UdOp::Idiv)
      return y == 0.0 ? (x < 0 ? -DBL_MAX : DBL_MAX) : std::floor(x / y);
    else if constexpr (OP == UdOp::Mod) {
      if (y == 0.0) return 0.0;
      double r = std::fmod(x, y);
      if ((r > 0 && y < 0) || (r < 0 && y > 0)) r += y;
      return r;
    } else if constexpr (OP == UdOp::Pow) return y == 2.0 ? x * x : std::pow(x, y);
    else if constexpr (OP == UdOp::Max) return x > y ? x : y;
    else if constexpr (OP == UdOp::Min) return x < y ? x : y;
    else if constexpr (OP == UdOp::Abs) return std::fabs(x);
    else if constexpr (OP == UdOp::Sgn) return x < 0 ? -1.0 : 1.0;
    else if constexpr (OP == UdOp::Sgn0) return x < 0 ? -1.0 : x > 0 ? 1.0 : 0.0;
    else if constexpr (OP == UdOp::Copy) return y;
    else return x; // bitwise members never reach f64
  } else {
    using U = std::make_unsigned_t<C>;
    constexpr C cmin = std::is_same_v<C, int32_t> ? INT32_MIN : INT64_MIN;
    if constexpr (OP == UdOp::Add) return (C)((U)x + (U)y);
    else if constexpr (OP == UdOp::Sub) return (C)((U)x - (U)y);
    else if constexpr (OP == UdOp::Mul) return (C)((U)x * (U)y);
    else if constexpr (OP == UdOp::Div || OP == UdOp::Idiv) {
      if (y == 0) return x < 0 ? Tr<CODE>::imin : Tr<CODE>::imax;
      if (x == cmin && y == -1) return x; // the quotient wraps to the dividend
      return x / y;
    } else if constexpr (OP == UdOp::Mod) {
      if (y == 0 || y == -1) return 0;
      C r = x % y;
      if (r != 0 && (r ^ y) < 0) r += y;
      return r;
    } else if constexpr (OP == UdOp::Pow) {
      double r = y == 2 ? (double)(C)((U)x * (U)x) : std::pow((double)x, (double)y);
      if constexpr (std::is_same_v<C, int32_t>) return f64_trunc_i32(r);
      else return f64_trunc_i64(r);
    } else if constexpr (OP == UdOp::Band) return x & y;
    else if constexpr (OP == UdOp::Bor) return x | y;
    else if constexpr (OP == UdOp::Bxor) return x ^ y;
    else if constexpr (OP == UdOp::Shl) return shift_left<C>(x, y);
    else if constexpr (OP == UdOp::Shr) return shift_right<C>(x, y);
    else if constexpr (OP == UdOp::Max) return x > y ? x : y;
    else if constexpr (OP == UdOp::Min) return x < y ? x : y;
    else if constexpr (OP == UdOp::Abs) return x < 0 ? (C)((U)0 - (U)x) : x;
    else if constexpr (OP == UdOp::Sgn) return x < 0 ? -1 : 1;
    else if constexpr (OP == UdOp::Sgn0) return (C)((x > 0) - (x < 0));
    else return y; // Copy
  }
}

enum Form { FORM_UD = 0, FORM_AFTER = 1, FORM_FIRST = 2 };

// The data is addressed bytewise: a userdata block promises no alignment for the element
// type, and destination and operands may overlap.
template <int CODE>
inline typename Tr<CODE>::C load(const uint8_t *p) {
  typename Tr<CODE>::S s;
  memcpy(&s, p, sizeof s);
  return (typename Tr<CODE>::C)s;
}

template <int CODE>
inline void store(uint8_t *p, typename Tr<CODE>::C c) {
  typename Tr<CODE>::S s = (typename Tr<CODE>::S)c;
  memcpy(p, &s, sizeof s);
}

using Kernel = void (*)(uint8_t *d, const uint8_t *a, const uint8_t *b, const void *sc,
                        int64_t n);

template <int CODE, UdOp OP, int FORM>
void kernel(uint8_t *d, const uint8_t *a, const uint8_t *b, const void *sc, int64_t n) {
  using C = typename Tr<CODE>::C;
  constexpr int es = sizeof(typename Tr<CODE>::S);
  C s;
  memcpy(&s, sc, sizeof s);
  for (int64_t i = 0; i < n; i++) {
    C x = load<CODE>(a + i * es);
    C r;
    if constexpr (FORM == FORM_UD) r = apply<CODE, OP>(x, load<CODE>(b + i * es));
    else if constexpr (FORM == FORM_AFTER) r = apply<CODE, OP>(x, s);
    else r = apply<CODE, OP>(s, x);
    store<CODE>(d + i * es, r);
  }
}

template <int CODE, UdOp OP>
Kernel pick_form(int form) {
  switch (form) {
    case FORM_UD: return kernel<CODE, OP, FORM_UD>;
    case FORM_AFTER: return kernel<CODE, OP, FORM_AFTER>;
    default: return kernel<CODE, OP, FORM_FIRST>;
  }
}

template <int CODE>
Kernel pick_op(UdOp op, int form) {
  switch (op) {
    case UdOp::Add: return pick_form<CODE, UdOp::Add>(form);
    case UdOp::Sub: return pick_form<CODE, UdOp::Sub>(form);
    case UdOp::Mul: return pick_form<CODE, UdOp::Mul>(form);
    case UdOp::Div: return pick_form<CODE, UdOp::Div>(form);
    case UdOp::Idiv: return pick_form<CODE, UdOp::Idiv>(form);
    case UdOp::Mod: return pick_form<CODE, UdOp::Mod>(form);
    case UdOp::Pow: return pick_form<CODE, UdOp::Pow>(form);
    case UdOp::Band: return pick_form<CODE, UdOp::Band>(form);
    case UdOp::Bor: return pick_form<CODE, UdOp::Bor>(form);
    case UdOp::Bxor: return pick_form<CODE, UdOp::Bxor>(form);
    case UdOp::Shl: return pick_form<CODE, UdOp::Shl>(form);
    case UdOp::Shr: return pick_form<CODE, UdOp::Shr>(form);
    case UdOp::Max: return pick_form<CODE, UdOp::Max>(form);
    case UdOp::Min: return pick_form<CODE, UdOp::Min>(form);
    case UdOp::Abs: return pick_form<CODE, UdOp::Abs>(form);
    case UdOp::Sgn: return pick_form<CODE, UdOp::Sgn>(form);
    case UdOp::Sgn0: return pick_form<CODE, UdOp::Sgn0>(form);
    case UdOp::Copy: return pick_form<CODE, UdOp::Copy>(form);
  }
  return nullptr;
}

Kernel pick_kernel(int type, UdOp op, int form) {
  switch (type) {
    case UT_U8: return pick_op<UT_U8>(op, form);
    case UT_I16: return pick_op<UT_I16>(op, form);
    case UT_I32: return pick_op<UT_I32>(op, form);
    case UT_I64: return pick_op<UT_I64>(op, form);
    case UT_F64: return pick_op<UT_F64>(op, form);
  }
  return nullptr;
}

bool is_bitwise(UdOp op) {
  return op == UdOp::Band || op == UdOp::Bor || op == UdOp::Bxor || op == UdOp::Shl ||
         op == UdOp::Shr;
}

bool is_unary(UdOp op) { return op == UdOp::Abs || op == UdOp::Sgn || op == UdOp::Sgn0; }

// Divisor k of the charge E / k + spans / 4.
int64_t charge_divisor(UdOp op, int type) {
  bool wide = type == UT_I64 || type == UT_F64;
  switch (op) {
    case UdOp::Mul: return wide ? 8 : 16;
    case UdOp::Div:
    case UdOp::Idiv:
    case UdOp::Mod: return type == UT_I64 ? 2 : 4;
    case UdOp::Pow: return wide ? 4 : 2;
    default: return wide ? 12 : 24;
  }
}

// The scalar operand: the number (or numeric string) as a float, converted once by the
// element type; any other value is 0.
void convert_scalar(lua_State *L, int idx, int type, void *out) {
  double d = lua_tonumberx(L, idx, nullptr);
  switch (type) {
    case UT_U8: { int32_t v = (uint8_t)f64_trunc_i32(d); memcpy(out, &v, 4); break; }
    case UT_I16: { int32_t v = (int16_t)f64_trunc_i32(d); memcpy(out, &v, 4); break; }
    case UT_I32: { int32_t v = f64_trunc_i32(d); memcpy(out, &v, 4); break; }
    case UT_I64: { int64_t v = f64_trunc_i64(d); memcpy(out, &v, 8); break; }
    default: memcpy(out, &d, 8); break;
  }
}

} // namespace

int ud_op(lua_State *L, UdOp op) {
  int top = lua_gettop(L);
  UdView ua, ub;
  bool hasa = ud_view(L, 1, &ua);
  bool hasb = ud_view(L, 2, &ub);
  bool unary = is_unary(op);
  if (unary) {
    if (!hasa) return 0;
    hasb = false;
  }
  if (!hasa && !hasb) return 0;
  int type = hasa ? ua.type : ub.type;
  bool check2 = op == UdOp::Add || op == UdOp::Sub || op == UdOp::Mul || op == UdOp::Pow;
  if (check2 && (top < 2 || lua_type(L, 2) == LUA_TNIL)) return 0;
  if (is_bitwise(op) && type == UT_F64) return 0;
  if (hasa && hasb && ua.type != ub.type) return 0;

  UdView a{}, b{};
  int aidx, form;
  alignas(8) uint8_t scalar[8] = {0};
  if (!hasa) {
    a = ub;
    aidx = 2;
    form = FORM_FIRST;
    convert_scalar(L, 1, type, scalar);
  } else {
    a = ua;
    aidx = 1;
    form = FORM_AFTER;
    if (op == UdOp::Copy && (top < 2 || lua_type(L, 2) == LUA_TNIL)) {
      b = ua; // a copy of a onto a fresh copy of a: the clone
      form = FORM_UD;
    } else if (hasb) {
      b = ub;
      form = FORM_UD;
    } else if (lua_type(L, 2) == LUA_TNUMBER) {
      convert_scalar(L, 2, type, scalar);
    }
  }

  // The unary members take their destination as argument 2 (argument 3 when 2 is nil).
  int destarg = unary && lua_type(L, 2) > LUA_TNIL ? 2 : 3;
  UdView dv;
  int didx = 0;
  if (lua_type(L, destarg) == LUA_TUSERDATA) {
    if (!ud_view(L, destarg, &dv)) return 0;
    didx = destarg;
  } else if (lua_toboolean(L, destarg)) {
    dv = a;
    didx = aidx;
  }
  if (didx) {
    if (dv.h->width != a.h->width || dv.h->height != a.h->height) return 0;
    // Results are written as a's element type: a destination with smaller elements or
    // fewer layers could not hold them.
    if (dv.esize < a.esize || dv.h->depth < a.h->depth) return 0;
  }

  int64_t boff = ud_arg(L, 4, 0), aoff = ud_arg(L, 5, 0), len = ud_arg(L, 6, 16777216);
  int64_t bstride = ud_arg(L, 7, 1), astride = ud_arg(L, 8, 1), spans = ud_arg(L, 9, 1);

  if (didx) {
    lua_pushvalue(L, didx);
  } else {
    push_duplicate_userdata(L, a.h);
    ud_view(L, -1, &dv);
    spend_cpu((int32_t)((uint32_t)a.count >> 7));
  }

  Kernel k = pick_kernel(type, op, form);
  const int es = a.esize;
  bool bud = form == FORM_UD;
  int64_t E = 0, work = 0;
  // A length below 1 processes nothing in any span; otherwise every span that does not end
  // the run processes at least one element, so the work bound also bounds the loop.
  int64_t runs = len > 0 ? spans : 0;
  for (int64_t s = 0; s < runs; s++) {
    int64_t sa = aoff + s * astride, sb = boff + s * bstride;
    int64_t n = len;
    if (a.count - sa < n) n = a.count - sa;
    if (bud && b.count - sb < n) n = b.count - sb;
    int64_t skipa = sa < 0 ? -sa : 0, skipb = bud && sb < 0 ? -sb : 0;
    int64_t count = n - 2 * skipa - skipb;
    if (count > 0) {
      if (count > UD_WORK_MAX - work) count = UD_WORK_MAX - work;
      int64_t pa = sa + skipa, pb = sb + skipb;
      k(dv.data + pa * es, a.data + pa * es, bud ? b.data + pb * es : nullptr, scalar, count);
      E += count;
      work += count;
    }
    if (count < len || work >= UD_WORK_MAX) break;
  }
  ud_charge(E / charge_divisor(op, type) + spans / 4);
  return 1;
}

int lua54_ud_add(lua_State *L) { return ud_op(L, UdOp::Add); }
int lua54_ud_sub(lua_State *L) { return ud_op(L, UdOp::Sub); }
int lua54_ud_mul(lua_State *L) { return ud_op(L, UdOp::Mul); }
int lua54_ud_div(lua_State *L) { return ud_op(L, UdOp::Div); }
int lua54_ud_idiv(lua_State *L) { return ud_op(L, UdOp::Idiv); }
int lua54_ud_mod(lua_State *L) { return ud_op(L, UdOp::Mod); }
int lua54_ud_pow(lua_State *L) { return ud_op(L, UdOp::Pow); }
int lua54_ud_band(lua_State *L) { return ud_op(L, UdOp::Band); }
int lua54_ud_bor(lua_State *L) { return ud_op(L, UdOp::Bor); }
int lua54_ud_bxor(lua_State *L) { return ud_op(L, UdOp::Bxor); }
int lua54_ud_shl(lua_State *L) { return ud_op(L, UdOp::Shl); }
int lua54_ud_shr(lua_State *L) { return ud_op(L, UdOp::Shr); }
int lua54_ud_max(lua_State *L) { return ud_op(L, UdOp::Max); }
int lua54_ud_min(lua_State *L) { return ud_op(L, UdOp::Min); }
int lua54_ud_abs(lua_State *L) { return ud_op(L, UdOp::Abs); }
int lua54_ud_sgn(lua_State *L) { return ud_op(L, UdOp::Sgn); }
int lua54_ud_sgn0(lua_State *L) { return ud_op(L, UdOp::Sgn0); }
