// Helpers shared by the typed-userdata source files (not part of the public interface).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "kernel/kernel.h"
#include "lua/lua.h"
#include "userdata/userdata.h"

// A typed userdata on the stack, checked against the size of its block.
struct UdView {
  UserdataHeader *h;
  uint8_t *data;
  int type;      // type code & 31, one of the five
  int esize;     // bytes per element
  int64_t count; // width * height * depth
  int64_t bytes; // data bytes the block holds
};

// True when the value at idx is a full userdata whose header describes one of the five
// element types and whose elements lie inside its block.
bool ud_view(lua_State *L, int idx, UdView *v);

// One whole call never processes more elements than this.
constexpr int64_t UD_WORK_MAX = INT32_MAX;

// An integer argument read with hvx_intp and used as a signed 32-bit integer (its low 32
// bits), so that products with counts below 2^31 stay exact in 64 bits.
int64_t ud_arg(lua_State *L, int idx, int64_t def);
// spend_cpu with a 64-bit amount clamped to the 32-bit range.
void ud_charge(int64_t n);

// Element access by element index (caller checks the bounds).
int64_t ud_get_int(const UdView &v, int64_t i);
double ud_get_num(const UdView &v, int64_t i);
void ud_set_int(const UdView &v, int64_t i, int64_t x);
void ud_set_num(const UdView &v, int64_t i, double x);
// Pushes element i as an integer (integer types) or a float (f64).
void ud_push_elem(lua_State *L, const UdView &v, int64_t i);

// Float to integer conversions with the range checked first (NaN fails every check).
// floor, then the signed 32-bit value; outside that range INT32_MIN.
int32_t f64_floor_i32(double d);
// floor, then the signed 64-bit value; outside that range INT64_MIN.
int64_t f64_floor_i64(double d);
// truncation toward zero, with the same out-of-range values.
int32_t f64_trunc_i32(double d);
int64_t f64_trunc_i64(double d);
// Stores a float into an element of any type by the conversion rule above.
void ud_set_from_f64(const UdView &v, int64_t i, double d);
