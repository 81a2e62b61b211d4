-- Arithmetic on strings through the string metatable, with the engine's division by zero.

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

local function s(x) return x end  -- keeps the compiler from folding constants

eq(s("10") + 1, 11)
eq(s("3") * s("4"), 12)
eq(s("1.5") + 1, 2.5)
eq(-s("2"), -2)
eq(-s("2.0"), -2.0)
eq(s("10") - s("4"), 6)
eq(s("7") % s("3"), 1)
eq(s("-7") % s("3"), 2)
eq(s("2") ^ s("3"), 8.0)
eq(s("7") / s("2"), 3.5)
eq(s("7") // s("2"), 3)
eq(s("7.5") // s("2"), 3.0)
eq(s("0x10") + 0, 16)
eq(s(" 5 ") + 0, 5, "surrounding blanks are allowed")
eq(s("0b101") + 0, 5, "binary numerals convert")
eq(s("1e2") + 0, 100.0)
eq(10 + s("5"), 15, "number first")
eq(s("9223372036854775807") + 1, math.mininteger, "integer addition wraps")

-- division by zero follows the engine: no errors
eq(s("10") // s("0"), 9223372036854775807)
eq(s("0") // s("0"), 9223372036854775807)
eq(s("-10") // s("0"), -9223372036854775807)
eq(s("10") % s("0"), 0)
eq(s("10") % s("-1"), 0)
eq(s("7") / s("0"), 1.7976931348623157e308)
eq(s("-7") / s("0"), -1.7976931348623157e308)
eq(s("7.0") // s("0"), 1.7976931348623157e308)
eq(s("-7") // s("0.0"), -1.7976931348623157e308)
eq(s(math.mininteger .. "") // s("-1"), math.mininteger)

-- failures name the event and both operand types
eq(err(function() return s("abc") + 1 end), "attempt to add a 'string' with a 'number'")
eq(err(function() return s("1") + {} end), "attempt to add a 'string' with a 'table'")
eq(err(function() return {} + s("1") end), "attempt to add a 'table' with a 'string'")
eq(err(function() return s("x") - s("1") end), "attempt to sub a 'string' with a 'string'")
eq(err(function() return s("x") * 2 end), "attempt to mul a 'string' with a 'number'")
eq(err(function() return s("x") % 2 end), "attempt to mod a 'string' with a 'number'")
eq(err(function() return s("x") ^ 2 end), "attempt to pow a 'string' with a 'number'")
eq(err(function() return s("x") / 2 end), "attempt to div a 'string' with a 'number'")
eq(err(function() return s("x") // 2 end), "attempt to idiv a 'string' with a 'number'")
eq(err(function() return -s("x") end), "attempt to unm a 'string' with a 'string'")
eq(err(function() return s("5\0") + 1 end), "attempt to add a 'string' with a 'number'",
   "a zero byte stops the conversion")
eq(err(function() return s("") + 1 end), "attempt to add a 'string' with a 'number'")
eq(err(function() return s("1") + true end), "attempt to add a 'string' with a 'boolean'")

-- the second operand's own metamethod is used when the string does not convert
local mt = {__add = function(a, b) return "added" end, __idiv = function(a, b) return 7 end}
local obj = setmetatable({}, mt)
eq(s("1") + obj, "added")
eq(s("x") + obj, "added")
eq(obj + s("1"), "added")
eq(s("3") // obj, 7)
eq(err(function() return s("1") - obj end), "attempt to sub a 'string' with a 'table'")

-- bitwise operators are not converted here
assert(not pcall(function() return s("3") & 1 end))
assert(not pcall(function() return s("3") | s("1") end))
assert(not pcall(function() return ~s("3") end))

-- the raw functions are callable
local m = getmetatable("")
eq(m.__add("2", "3"), 5)
eq(m.__unm("4", "4"), -4)
eq(m.__idiv(7, "0"), 9223372036854775807)

-- no string.dump in this library
eq(string.dump, nil)
local count = 0
for _ in pairs(string) do count = count + 1 end
eq(count, 16)
-- an empty string repeated any number of times costs nothing
eq(string.rep("", math.maxinteger), "")

print("ok")
