-- Arithmetic in registers, constants and immediates, with the dialect's division by zero.
local MAX, MIN = math.maxinteger, math.mininteger
local HUGE = 1.7976931348623157e308

-- values in registers so that nothing is folded at compile time
local function id(x) return x end
local z, zf, nz = id(0), id(0.0), id(-0.0)
local seven, mseven = id(7), id(-7)

-- integer floor division and modulo by zero
assert(seven // z == MAX)
assert(mseven // z == -MAX)
assert(z // z == MAX)
assert(seven % z == 0)
assert(mseven % z == 0)
assert(math.type(seven // z) == "integer")
-- constant divisor (K form) and literal operands
assert(seven // 0 == MAX and mseven // 0 == -MAX and seven % 0 == 0)
assert(7 // 0 == MAX and -7 // 0 == -MAX and 0 // 0 == MAX and 7 % 0 == 0)
-- minint // -1 and % -1
local mi, m1 = id(MIN), id(-1)
assert(mi // m1 == MIN)
assert(mi % m1 == 0)
assert(MIN // -1 == MIN and MIN % -1 == 0)
-- ordinary floor division and modulo, signs
assert(seven // 2 == 3 and mseven // 2 == -4 and seven // -2 == -4 and mseven // -2 == 3)
assert(seven % 3 == 1 and mseven % 3 == 2 and seven % -3 == -2 and mseven % -3 == -1)
assert(id(6) // id(-3) == -2 and id(-6) % id(3) == 0)

-- float division by zero: the largest finite double with the dividend's sign
assert(id(1) / z == HUGE)
assert(id(-1) / z == -HUGE)
assert(z / z == HUGE)
assert(id(1) / nz == HUGE)
assert(id(-1) / nz == -HUGE)
assert(id(5) // zf == HUGE and id(-5) // zf == -HUGE)
assert(id(5.0) // z == HUGE)
assert(1 / 0 == HUGE and -1 / 0 == -HUGE and 0 / 0 == HUGE)
assert(5 // 0.0 == HUGE)
local nan = id(5.0) % z
assert(nan ~= nan)
local x = id(2.5)
assert(x / 0 == HUGE and -x / 0 == -HUGE)
assert(math.type(id(4) / id(2)) == "float" and id(4) / id(2) == 2.0)

-- float modulo keeps the divisor's sign
assert(id(5.5) % id(2) == 1.5)
assert(id(-5.5) % id(2) == 0.5)
assert(id(5.5) % id(-2) == -0.5)
assert(id(-5.5) % id(-2) == -1.5)
assert(id(-6.0) % id(2) == 0.0)

-- wrap-around of + - * and unary minus
assert(id(MAX) + 1 == MIN and id(MIN) - 1 == MAX)
assert(id(MAX) * 2 == -2)
assert(-id(MIN) == MIN)
assert(id(MAX) + id(1) == MIN)
-- immediates and constants, integer and float operands
local f = id(1.5)
assert(f + 1 == 2.5 and f - 1 == 0.5 and f * 2 == 3.0 and 1 + f == 2.5)
assert(id(10) - 3 == 7 and id(10) + 300 == 310 and id(10) * 1000000 == 10000000)
assert(id(2) ^ 10 == 1024.0 and math.type(id(2) ^ 2) == "float")
assert(id(3) ^ id(2) == 9.0)

-- bitwise operations and shifts
assert(id(1) << 64 == 0 and id(1) << 63 == MIN)
assert(id(-1) >> 1 == MAX)
assert(id(1) << -1 == 0 and id(2) >> -1 == 4)
assert(id(1) << id(MIN) == 0 and id(-1) >> id(MIN) == 0)
assert(1 << id(3) == 8 and 256 >> id(4) == 16)
assert(id(5) & 3 == 1 and id(5) | 3 == 7 and id(5) ~ 3 == 6 and ~id(0) == -1)
assert(id(3.0) & 1 == 1 and id(2^53) | 0 == 2^53)
assert(id("3") + 1 == 4 and id("0x10") * 2 == 32)
local ok, msg = pcall(function() return id(1.5) & 1 end)
assert(not ok and msg:find("number has no integer representation"))
ok, msg = pcall(function() return {} & 1 end)
assert(not ok and msg:find("perform bitwise operation on a table value"))
ok, msg = pcall(function() return ~id(1.5) end)
assert(not ok and msg:find("no integer representation"))
ok, msg = pcall(function() local t = {} return t + 1 end)
assert(not ok and msg:find("attempt to perform arithmetic on a table value %(local 't'%)"))
ok, msg = pcall(function() return -{} end)
assert(not ok and msg:find("perform arithmetic on a table value"))

-- comparisons of integers and floats without rounding
assert(id(2^53) < id(2^53 + 1) == false) -- same float
assert(id(MAX) < id(2^63) and not (id(MAX) >= 2^63))
assert(id(MIN) <= id(-2^63) and id(MIN) >= id(-2^63) and id(MIN) == id(-2^63))
assert(id(MAX) ~= id(2^63))
assert(id(9007199254740993) > id(9007199254740992.0))
assert(id(9007199254740993) ~= id(9007199254740992.0))
assert(id(1) < id(1.5) and id(1.5) < id(2) and id(2) <= id(2.0) and id(2.0) <= id(2))
local n = id(5.0) % 0
assert(not (n < 1) and not (n > 1) and not (n <= 1) and not (n >= 1) and n ~= n)
assert(not (id(1) < n) and not (id(MAX) < n) and not (n < id(MIN)))
assert(id(1) < 2 and id(1.0) < 2 and id(3) > 2 and id(3.5) >= 3 and id(2) <= 2)
assert(id("a") < id("b") and id("a\0b") > id("a\0a") and id("a") < id("a\0"))
ok, msg = pcall(function() return id({}) < id(1) end)
assert(not ok and msg:find("attempt to compare table with number"))
ok, msg = pcall(function() return id({}) < id({}) end)
assert(not ok and msg:find("attempt to compare two table values"))
assert(id(1) == id(1.0) and id("1") ~= id(1))

-- length and concatenation
assert(#id("abc") == 3 and #id({1, 2, 3}) == 3)
assert(id(1) .. id(2) == "12" and id(1.0) .. "" == "1.0" and id(-0.0) .. "x" == "-0.0x")
assert(id("a") .. id("b") .. id(3) .. id("c") == "ab3c")
local long = string.rep("x", 50)
assert(#(long .. long .. 1) == 101)
ok, msg = pcall(function() return "a" .. {} end)
assert(not ok and msg:find("attempt to concatenate a table value"))
print("ok")
