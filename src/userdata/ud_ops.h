// The element-wise calling convention shared by the operation family and copy.
#pragma once

#include "lua/lua.h"

enum class UdOp {
  Add, Sub, Mul, Div, Idiv, Mod, Pow, Band, Bor, Bxor, Shl, Shr,
  Max, Min, Abs, Sgn, Sgn0, Copy,
};

// Runs one member of the family on the arguments of L; returns its result count.
int ud_op(lua_State *L, UdOp op);
