-- tonum: the non-raising numeric conversion of the dialect.

-- Exactly the given results, types included.
local function same(got, expected)
  return got == expected and math.type(got) == math.type(expected)
end

local function count(...) return select("#", ...) end

-- numbers pass unchanged; extra arguments are ignored
assert(same(tonum(7), 7) and same(tonum(3.5), 3.5) and same(tonum(-0.0), -0.0))
assert(same(tonum(7.0), 7.0))
assert(count(tonum(7, "x", {})) == 1)
local nan = math.huge - math.huge
assert(tonum(nan) ~= tonum(nan)) -- NaN stays NaN
assert(same(tonum(math.maxinteger), math.maxinteger))

-- booleans become integers
assert(same(tonum(true), 1) and same(tonum(false), 0))

-- strings that are wholly one numeral
assert(same(tonum("12"), 12) and same(tonum(" 12 "), 12) and same(tonum("\t-12\n"), -12))
assert(same(tonum("0x10"), 16) and same(tonum("0XfF"), 255))
assert(same(tonum("1e2"), 100.0) and same(tonum("1.5"), 1.5) and same(tonum(".5"), 0.5))
assert(same(tonum("0x1p4"), 16.0))
assert(same(tonum("0b101"), 5) and same(tonum("0B11"), 3) and same(tonum(" 0b1 "), 1))
assert(same(tonum("-0b11"), -3))
assert(same(tonum("9223372036854775807"), math.maxinteger))
assert(same(tonum("9223372036854775808"), 9.2233720368547758e18)) -- too big: a float
assert(same(tonum("0xffffffffffffffff"), -1)) -- hexadecimal wraps

-- everything else gives no value at all, and never an error
assert(count(tonum("x")) == 0)
assert(count(tonum("12a")) == 0 and count(tonum("")) == 0 and count(tonum("  ")) == 0)
assert(count(tonum("1 2")) == 0 and count(tonum("0b")) == 0 and count(tonum("0b2")) == 0)
assert(count(tonum("1\0")) == 0) -- a zero byte ends the numeral early
assert(count(tonum({})) == 0 and count(tonum()) == 0 and count(tonum(nil)) == 0)
assert(count(tonum(print)) == 0 and count(tonum(coroutine.create(print))) == 0)
assert(count(tonum(setmetatable({}, {__tostring = function() return "5" end}))) == 0)
assert(tonum("nope") == nil)
local t = {1, tonum("x")}
assert(#t == 1 and select("#", table.unpack(t)) == 1)
t = {tonum("x"), 2} -- not last: cut to one value, nil
assert(t[1] == nil and t[2] == 2)

-- as a callee in the middle of other values
assert(select("#", 1, tonum("x"), 3) == 3)
assert(select("#", 1, 2, tonum("x")) == 2)

print("ok")
