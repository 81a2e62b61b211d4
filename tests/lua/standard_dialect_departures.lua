-- args: --budget 1000000000
-- Conformance: the places where this system deliberately departs from Lua 5.4.
-- Each check states both behaviours, so the script also runs under a stock Lua 5.4.
local HALV = tonum ~= nil

local function msg(f, ...)
  local ok, e = pcall(f, ...)
  assert(not ok, "expected an error")
  return e
end
local function strip(e) return (e:gsub('^%[string ".-"%]:', ':')) end

local z, fz = 0, 0.0
local MAXF = 1.7976931348623157e308
local nan = math.huge - math.huge
assert(nan ~= nan)

-- division by zero never raises
if HALV then
  assert(7 // z == math.maxinteger and -7 // z == -math.maxinteger and 0 // z == math.maxinteger)
  assert(math.mininteger // z == -math.maxinteger)
  assert(7 % z == 0 and -7 % z == 0)
  assert(7 / z == MAXF and -7 / z == -MAXF and z / z == MAXF)
  assert(7 / fz == MAXF and -7 / -fz == -MAXF and 1 / -fz == MAXF)
  assert(7.5 // fz == MAXF and -7.5 // fz == -MAXF)
  assert(math.type(7 // z) == "integer" and math.type(7 / z) == "float")
  assert(("10" // "0") == math.maxinteger)
  assert(1 / 0 < math.huge and (0 / 0) == (0 / 0))
else
  assert(strip(msg(function() return 7 // z end)):find("attempt to divide by zero"))
  assert(strip(msg(function() return 7 % z end)):find("attempt to perform 'n%%0'"))
  assert(7 / z == math.huge and -7 / z == -math.huge)
  assert((z / z) ~= (z / z))
end
-- float modulo by zero is NaN in both
assert((5.5 % fz) ~= (5.5 % fz))
assert((5 % fz) ~= (5 % fz))

-- chunk names of plain-string chunks
local e = msg(load("error('boom')"))
if HALV then assert(e == ":1: boom", e) else assert(e == '[string "error(\'boom\')"]:1: boom', e) end
local f, cerr = load("x = = 1")
assert(f == nil)
if HALV then assert(cerr == ":1: unexpected symbol near '='", cerr) end
assert(select(2, load("x = = 1", "=named")) == "named:1: unexpected symbol near '='")
assert(select(2, load("x = = 1", "@file.lua")) == "file.lua:1: unexpected symbol near '='")

-- coroutine.close on a coroutine that died by an error
local co = coroutine.create(function() error("e", 0) end)
assert(coroutine.resume(co) == false)
if HALV then
  assert(coroutine.close(co) == true)
else
  local ok, ce = coroutine.close(co)
  assert(ok == false and ce == "e")
end
assert(coroutine.status(co) == "dead")

-- table.remove reports its position error on argument #2
e = msg(table.remove, {1, 2}, 5)
if HALV then
  assert(e == "bad argument #2 to 'remove' (position out of bounds)" or
         e == "bad argument #2 to 'table.remove' (position out of bounds)", e)
else
  assert(e:find("bad argument #1 to '.-remove' %(position out of bounds%)"), e)
end

-- math.fmod by zero
if HALV then
  assert(math.fmod(7, 0) == 0 and math.fmod(-7, 0) == 0 and math.type(math.fmod(7, 0)) == "integer")
else
  assert(msg(math.fmod, 7, 0):find("zero"))
end
assert(math.fmod(7, -1) == 0 and math.fmod(math.mininteger, -1) == 0)
assert(math.fmod(7, 0.0) ~= math.fmod(7, 0.0))

-- no __le fallback to __lt
local mt = {__lt = function() return true end}
local a, b = setmetatable({}, mt), setmetatable({}, mt)
assert(a < b)
if HALV then
  assert(strip(msg(function() return a <= b end)) == ":1: attempt to compare two table values" or
         msg(function() return a <= b end):find("attempt to compare two table values$"))
else
  assert(pcall(function() return a <= b end))
end

-- tonum exists only here
if HALV then
  assert(tonum("0x10") == 16 and tonum(true) == 1 and select("#", tonum("x")) == 0)
else
  assert(tonum == nil)
end

-- NaN keys are refused in both (made without dividing by zero)
assert(strip(msg(function() local t = {} t[nan] = 1 end)):find("table index is NaN"))
assert(msg(rawset, {}, nan, 1) == "table index is NaN")
assert(({})[nan] == nil)

-- %q of special floats
assert(string.format("%q", math.huge) == "1e9999")
assert(string.format("%q", -math.huge) == "-1e9999")
assert(string.format("%q", nan) == "(0/0)")

print("ok")
