-- The math library's members, integer/float results and the integer fmod by zero.

local function err(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

local function eq(got, want, what)
  if got ~= want or math.type(got) ~= math.type(want) then
    error(("%s: got %s (%s), want %s (%s)"):format(what or "value", tostring(got),
      tostring(math.type(got)), tostring(want), tostring(math.type(want))), 2)
  end
end

-- The keys of t, space-separated in byte order (no table.sort needed).
local function keys(t)
  local out = ""
  local last = ""
  while true do
    local best
    for k in pairs(t) do
      if k > last and (best == nil or k < best) then best = k end
    end
    if best == nil then return out end
    out = out == "" and best or out .. " " .. best
    last = best
  end
end

local function isnan(x) return x ~= x end

-- exactly these 27 members
eq(keys(math),
   "abs acos asin atan ceil cos deg exp floor fmod huge log max maxinteger min mininteger " ..
   "modf pi rad random randomseed sin sqrt tan tointeger type ult")

-- constants
eq(math.pi, 3.141592653589793)
eq(math.huge, 1e308 * 10)
assert(math.huge > 1.7976931348623157e308)
eq(math.maxinteger, 9223372036854775807)
eq(math.mininteger, -9223372036854775807 - 1)

-- fmod: integer division by 0 or -1 gives 0
eq(math.fmod(7, 0), 0)
eq(math.fmod(-7, 0), 0)
eq(math.fmod(7, -1), 0)
eq(math.fmod(math.mininteger, -1), 0)
eq(math.fmod(math.mininteger, 0), 0)
eq(math.fmod(-7, 3), -1)
eq(math.fmod(7, -3), 1)
eq(math.fmod(7, 3), 1)
eq(math.fmod(math.mininteger, math.maxinteger), -1)
eq(math.fmod(7.5, 2), 1.5)
eq(math.fmod(-7.5, 2), -1.5)
eq(math.fmod(7, 2.0), 1.0)
assert(isnan(math.fmod(7, 0.0)) and math.type(math.fmod(7, 0.0)) == "float")
assert(isnan(math.fmod(math.huge, 1)))
eq(math.fmod(1, math.huge), 1.0)
eq(err(math.fmod, 1), "bad argument #2 to 'math.fmod' (number expected, got no value)")
eq(err(math.fmod, "a", 1), "bad argument #1 to 'math.fmod' (number expected, got string)")
eq(math.fmod("7", "3"), 1.0, "strings are taken as floats")

-- abs
eq(math.abs(-3), 3)
eq(math.abs(3), 3)
eq(math.abs(-3.5), 3.5)
eq(math.abs(-0.0), 0.0)
eq(math.abs(math.mininteger), math.mininteger, "wraps")
eq(math.abs(math.maxinteger), math.maxinteger)
eq(math.abs("-2"), 2.0)
eq(err(math.abs), "bad argument #1 to 'math.abs' (number expected, got no value)")

-- floor and ceil
eq(math.floor(3.7), 3)
eq(math.floor(-0.5), -1)
eq(math.floor(5), 5)
eq(math.floor(2^70), 2^70)
eq(math.floor(-2^63), math.mininteger)
eq(math.floor(2^63), 2^63, "just out of integer range")
eq(math.ceil(3.2), 4)
eq(math.ceil(-3.7), -3)
eq(math.ceil(-0.5), 0)
eq(math.ceil(2^70), 2^70)
eq(math.ceil(7), 7)
eq(math.floor(math.huge), math.huge)
eq(math.ceil(-math.huge), -math.huge)
assert(isnan(math.floor(math.huge - math.huge)))
eq(math.floor("3.5"), 3)
eq(err(math.floor, {}), "bad argument #1 to 'math.floor' (number expected, got table)")

-- modf
local i, f = math.modf(3.7)
eq(i, 3); assert(math.abs(f - 0.7) < 1e-12 and math.type(f) == "float")
i, f = math.modf(-2.5)
eq(i, -2); eq(f, -0.5)
i, f = math.modf(5)
eq(i, 5); eq(f, 0.0)
i, f = math.modf(4.0)
eq(i, 4); eq(f, 0.0)
i, f = math.modf(math.huge)
eq(i, math.huge); eq(f, 0.0)
i, f = math.modf(-math.huge)
eq(i, -math.huge); eq(f, 0.0)
i, f = math.modf(2^70 + 0.0)
eq(i, 2^70); eq(f, 0.0)
i, f = math.modf(math.huge - math.huge)
assert(isnan(i) and isnan(f))

-- tointeger and type
eq(math.tointeger(3.0), 3)
eq(math.tointeger(3), 3)
eq(math.tointeger(8.5), nil)
eq(math.tointeger("8"), 8)
eq(math.tointeger("8.0"), 8)
eq(math.tointeger("x"), nil)
eq(math.tointeger({}), nil)
eq(math.tointeger(2^63), nil)
eq(math.tointeger(-2^63), math.mininteger)
eq(err(math.tointeger), "bad argument #1 to 'math.tointeger' (value expected)")
eq(math.type(1), "integer")
eq(math.type(1.0), "float")
eq(math.type("1"), nil)
eq(math.type(nil), nil)
eq(err(math.type), "bad argument #1 to 'math.type' (value expected)")

-- ult
eq(math.ult(1, 2), true)
eq(math.ult(-1, 2), false)
eq(math.ult(2, -1), true)
eq(math.ult(math.maxinteger, math.mininteger), true)
eq(err(math.ult, 1.5, 2), "bad argument #1 to 'math.ult' (number has no integer representation)")

-- max and min compare with the language's less-than
eq(math.max(1, 5, 3), 5)
eq(math.min(4, 2, 8), 2)
eq(math.max(1, 2.5), 2.5)
eq(math.max(2, 2.0), 2, "the first of equal values")
eq(math.min(2.0, 2), 2.0)
eq(math.max(-0.0, 0), -0.0)
eq(math.max("a", "b"), "b")
eq(math.max(7), 7)
eq(math.min(math.mininteger, math.maxinteger), math.mininteger)
eq(err(math.max), "bad argument #1 to 'math.max' (value expected)")
eq(err(math.min), "bad argument #1 to 'math.min' (value expected)")
eq(err(math.max, 1, {}), "attempt to compare number with table")

-- logarithms and exponentials
eq(math.log(8, 2), 3.0)
eq(math.log(1000, 10), 3.0)
eq(math.log(1), 0.0)
eq(math.log(math.exp(2)), 2.0)
eq(math.log(27, 3), math.log(27) / math.log(3))
eq(math.log(1024, 2.0), 10.0)
eq(math.log(0), -math.huge)
eq(math.exp(0), 1.0)
eq(math.sqrt(16), 4.0)
eq(math.sqrt(2), 2^0.5)
assert(isnan(math.sqrt(-1)))
eq(math.type(math.sqrt(4)), "float")

-- trigonometry
eq(math.sin(0), 0.0)
eq(math.cos(0), 1.0)
eq(math.tan(0), 0.0)
eq(math.asin(1), math.pi / 2)
eq(math.acos(1), 0.0)
eq(math.atan(1), math.pi / 4)
eq(math.atan(1, 1), math.pi / 4)
eq(math.atan(0, -1), math.pi)
eq(math.atan(-0.0, -1), -math.pi)
eq(math.atan(1, 0), math.pi / 2)
eq(math.deg(math.pi), 180.0)
eq(math.rad(180), math.pi)
eq(math.deg(1), 57.29577951308232)
eq(math.rad(1), 0.017453292519943295)
eq(err(math.sin, "x"), "bad argument #1 to 'math.sin' (number expected, got string)")

print("ok")
