// The math library, with the xoshiro256** pseudo-random generator.
#include <cmath>
#include <cstdint>
#include <ctime>

#include "lua/auxlib.h"
#include "lua/libs.h"
#include "lua/lua.h"
#include "userdata/userdata.h"

namespace {

constexpr lua_Number kPi = 3.141592653589793238462643383279502884;

// Pushes a float as an integer when it has an exact integer value in range.
void pushnumint(lua_State *L, lua_Number d) {
  // NaN fails both comparisons
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0)
    lua_pushinteger(L, static_cast<lua_Integer>(d));
  else
    lua_pushnumber(L, d);
}

int math_abs(lua_State *L) {
  if (lua_isinteger(L, 1)) {
    lua_Integer n = lua_tointeger(L, 1);
    // wraps for the minimum integer
    if (n < 0) n = static_cast<lua_Integer>(0u - static_cast<lua_Unsigned>(n));
    lua_pushinteger(L, n);
  } else {
    lua_pushnumber(L, std::fabs(luaL_checknumber(L, 1)));
  }
  return 1;
}

int math_sin(lua_State *L) {
  lua_pushnumber(L, std::sin(luaL_checknumber(L, 1)));
  return 1;
}

int math_cos(lua_State *L) {
  lua_pushnumber(L, std::cos(luaL_checknumber(L, 1)));
  return 1;
}

int math_tan(lua_State *L) {
  lua_pushnumber(L, std::tan(luaL_checknumber(L, 1)));
  return 1;
}

int math_asin(lua_State *L) {
  lua_pushnumber(L, std::asin(luaL_checknumber(L, 1)));
  return 1;
}

int math_acos(lua_State *L) {
  lua_pushnumber(L, std::acos(luaL_checknumber(L, 1)));
  return 1;
}

int math_atan(lua_State *L) {
  lua_Number y = luaL_checknumber(L, 1);
  lua_Number x = luaL_optnumber(L, 2, 1);
  lua_pushnumber(L, std::atan2(y, x));
  return 1;
}

int math_toint(lua_State *L) {
  int valid;
  lua_Integer n = lua_tointegerx(L, 1, &valid);
  if (valid) {
    lua_pushinteger(L, n);
  } else {
    luaL_checkany(L, 1);
    luaL_pushfail(L);
  }
  return 1;
}

int math_floor(lua_State *L) {
  if (lua_isinteger(L, 1)) {
    lua_settop(L, 1);  // an integer is its own floor
  } else {
    pushnumint(L, std::floor(luaL_checknumber(L, 1)));
  }
  return 1;
}

int math_ceil(lua_State *L) {
  if (lua_isinteger(L, 1)) {
    lua_settop(L, 1);
  } else {
    pushnumint(L, std::ceil(luaL_checknumber(L, 1)));
  }
  return 1;
}

int math_fmod(lua_State *L) {
  if (lua_isinteger(L, 1) && lua_isinteger(L, 2)) {
    lua_Integer d = lua_tointeger(L, 2);
    // 0 and -1 give 0: no error for 0, and no overflow for minimum integer by -1
    if (static_cast<lua_Unsigned>(d) + 1u <= 1u)
      lua_pushinteger(L, 0);
    else
      lua_pushinteger(L, lua_tointeger(L, 1) % d);
  } else {
    lua_pushnumber(L, std::fmod(luaL_checknumber(L, 1), luaL_checknumber(L, 2)));
  }
  return 1;
}

int math_modf(lua_State *L) {
  if (lua_isinteger(L, 1)) {
    lua_settop(L, 1);
    lua_pushnumber(L, 0);
  } else {
    lua_Number n = luaL_checknumber(L, 1);
    lua_Number ip = (n < 0) ? std::ceil(n) : std::floor(n);  // rounds toward zero
    pushnumint(L, ip);
    lua_pushnumber(L, (n == ip) ? 0.0 : (n - ip));  // infinities have no fraction
  }
  return 2;
}

int math_sqrt(lua_State *L) {
  lua_pushnumber(L, std::sqrt(luaL_checknumber(L, 1)));
  return 1;
}

int math_ult(lua_State *L) {
  lua_Integer a = luaL_checkinteger(L, 1);
  lua_Integer b = luaL_checkinteger(L, 2);
  lua_pushboolean(L, static_cast<lua_Unsigned>(a) < static_cast<lua_Unsigned>(b));
  return 1;
}

int math_log(lua_State *L) {
  lua_Number x = luaL_checknumber(L, 1);
  lua_Number res;
  if (lua_isnoneornil(L, 2)) {
    res = std::log(x);
  } else {
    lua_Number base = luaL_checknumber(L, 2);
    if (base == 2.0)
      res = std::log2(x);
    else if (base == 10.0)
      res = std::log10(x);
    else
      res = std::log(x) / std::log(base);
  }
  lua_pushnumber(L, res);
  return 1;
}

int math_exp(lua_State *L) {
  lua_pushnumber(L, std::exp(luaL_checknumber(L, 1)));
  return 1;
}

int math_deg(lua_State *L) {
  lua_pushnumber(L, luaL_checknumber(L, 1) * (180.0 / kPi));
  return 1;
}

int math_rad(lua_State *L) {
  lua_pushnumber(L, luaL_checknumber(L, 1) * (kPi / 180.0));
  return 1;
}

int math_min(lua_State *L) {
  int n = lua_gettop(L);
  int imin = 1;
  luaL_argcheck(L, n >= 1, 1, "value expected");
  for (int i = 2; i <= n; i++)
    if (lua_compare(L, i, imin, LUA_OPLT)) imin = i;
  lua_pushvalue(L, imin);
  return 1;
}

int math_max(lua_State *L) {
  int n = lua_gettop(L);
  int imax = 1;
  luaL_argcheck(L, n >= 1, 1, "value expected");
  for (int i = 2; i <= n; i++)
    if (lua_compare(L, imax, i, LUA_OPLT)) imax = i;
  lua_pushvalue(L, imax);
  return 1;
}

int math_type(lua_State *L) {
  if (lua_type(L, 1) == LUA_TNUMBER) {
    lua_pushstring(L, lua_isinteger(L, 1) ? "integer" : "float");
  } else {
    luaL_checkany(L, 1);
    luaL_pushfail(L);
  }
  return 1;
}

// ---------------------------------------------------------------------------------------------
// xoshiro256**

struct RanState {
  uint64_t s[4];
};

inline uint64_t rotl(uint64_t x, int n) { return (x << n) | (x >> (64 - n)); }

uint64_t nextrand(uint64_t *s) {
  uint64_t res = rotl(s[1] * 5, 7) * 9;
  uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return res;
}

// The top 53 bits as a float in [0, 1).
lua_Number I2d(uint64_t x) { return static_cast<lua_Number>(x >> 11) * 0x1.0p-53; }

// Projects a random value into [0, n], drawing again while it falls outside.
lua_Unsigned project(lua_Unsigned ran, lua_Unsigned n, RanState *state) {
  if ((n & (n + 1)) == 0) return ran & n;  // n + 1 is a power of two
  lua_Unsigned lim = n;
  // the smallest 2^b - 1 not below n
  lim |= (lim >> 1);
  lim |= (lim >> 2);
  lim |= (lim >> 4);
  lim |= (lim >> 8);
  lim |= (lim >> 16);
  lim |= (lim >> 32);
  while ((ran &= lim) > n) ran = nextrand(state->s);
  return ran;
}

// The generator's state is an upvalue of random and randomseed, which debug.setupvalue can
// replace with any value. A full userdata of its size is a state unless it is a typed userdata:
// one whose first 16 bytes are a header describing elements inside it, which four random words
// match only by a chance of about 2^-80. No other userdata of the engine has this size.
RanState *getranstate(lua_State *L) {
  const int up = lua_upvalueindex(1);
  void *p = lua_touserdata(L, up); // not NULL: a userdata, full or light (whose length is 0)
  if (p == nullptr || lua_rawlen(L, up) != sizeof(RanState) ||
      is_typed_payload(p, sizeof(RanState)))
    luaL_error(L, "bad random generator state");
  return static_cast<RanState *>(p);
}

int math_random(lua_State *L) {
  lua_Integer low, up;
  RanState *g = getranstate(L);
  uint64_t rv = nextrand(g->s);
  switch (lua_gettop(L)) {
    case 0:
      lua_pushnumber(L, I2d(rv));
      return 1;
    case 1:
      low = 1;
      up = luaL_checkinteger(L, 1);
      if (up == 0) {  // all 64 bits
        lua_pushinteger(L, static_cast<lua_Integer>(rv));
        return 1;
      }
      break;
    case 2:
      low = luaL_checkinteger(L, 1);
      up = luaL_checkinteger(L, 2);
      break;
    default:
      return luaL_error(L, "wrong number of arguments");
  }
  luaL_argcheck(L, low <= up, 1, "interval is empty");
  lua_Unsigned p = project(rv, static_cast<lua_Unsigned>(up) - static_cast<lua_Unsigned>(low), g);
  lua_pushinteger(L, static_cast<lua_Integer>(p + static_cast<lua_Unsigned>(low)));
  return 1;
}

void setseed(lua_State *L, uint64_t *state, lua_Unsigned n1, lua_Unsigned n2) {
  state[0] = n1;
  state[1] = 0xff;  // keeps the state from being all zeros
  state[2] = n2;
  state[3] = 0;
  for (int i = 0; i < 16; i++) nextrand(state);  // spread the seed
  lua_pushinteger(L, static_cast<lua_Integer>(n1));
  lua_pushinteger(L, static_cast<lua_Integer>(n2));
}

void randseed(lua_State *L, RanState *g) {
#ifdef HALVORAN_FIXED_SEEDS
  lua_Unsigned seed1 = 0x9E3779B9u, seed2 = 0x7F4A7C15u;
#else
  lua_Unsigned seed1 = static_cast<lua_Unsigned>(time(nullptr));
  lua_Unsigned seed2 = static_cast<lua_Unsigned>(reinterpret_cast<uintptr_t>(L));
#endif
  setseed(L, g->s, seed1, seed2);
}

int math_randomseed(lua_State *L) {
  RanState *g = getranstate(L);
  if (lua_isnone(L, 1)) {
    randseed(L, g);
  } else {
    lua_Integer n1 = luaL_checkinteger(L, 1);
    lua_Integer n2 = luaL_optinteger(L, 2, 0);
    setseed(L, g->s, static_cast<lua_Unsigned>(n1), static_cast<lua_Unsigned>(n2));
  }
  return 2;
}

const luaL_Reg randfuncs[] = {{"random", math_random}, {"randomseed", math_randomseed},
                              {nullptr, nullptr}};

// Creates the generator state and shares it as the upvalue of random and randomseed.
void setrandfunc(lua_State *L) {
  RanState *state = static_cast<RanState *>(lua_newuserdatauv(L, sizeof(RanState), 0));
  randseed(L, state);
  lua_pop(L, 2);  // the two seeds
  luaL_setfuncs(L, randfuncs, 1);
}

const luaL_Reg mathlib[] = {
    {"abs", math_abs},     {"acos", math_acos},   {"asin", math_asin},
    {"atan", math_atan},   {"ceil", math_ceil},   {"cos", math_cos},
    {"deg", math_deg},     {"exp", math_exp},     {"tointeger", math_toint},
    {"floor", math_floor}, {"fmod", math_fmod},   {"ult", math_ult},
    {"log", math_log},     {"max", math_max},     {"min", math_min},
    {"modf", math_modf},   {"rad", math_rad},     {"sin", math_sin},
    {"sqrt", math_sqrt},   {"tan", math_tan},     {"type", math_type},
    // filled in by luaopen_math
    {"pi", nullptr},       {"huge", nullptr},     {"maxinteger", nullptr},
    {"mininteger", nullptr}, {"random", nullptr}, {"randomseed", nullptr},
    {nullptr, nullptr}};

}  // namespace

int luaopen_math(lua_State *L) {
  luaL_newlib(L, mathlib);
  lua_pushnumber(L, kPi);
  lua_setfield(L, -2, "pi");
  lua_pushnumber(L, HUGE_VAL);
  lua_setfield(L, -2, "huge");
  lua_pushinteger(L, LUA_MAXINTEGER);
  lua_setfield(L, -2, "maxinteger");
  lua_pushinteger(L, LUA_MININTEGER);
  lua_setfield(L, -2, "mininteger");
  setrandfunc(L);
  return 1;
}
