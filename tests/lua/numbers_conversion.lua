-- Numeral conversion and number formatting as seen through tonumber, tostring and coercions.

assert(tonumber("0b101") == 5 and math.type(tonumber("0b101")) == "integer")
assert(tonumber("  -0B11  ") == -3)
assert(tonumber("0b") == nil and tonumber("0b2") == nil)
assert(tonumber("0b1.1") == 1.5 and math.type(tonumber("0b1.1")) == "float")
assert(tonumber("0b1p4") == 16.0 and math.type(tonumber("0b1p4")) == "float")
assert(tonumber("0b.01") == 0.25)
assert(tonumber("0x10") == 16)
assert(tonumber("0xffffffffffffffff") == -1)
assert(tonumber("9223372036854775807") == math.maxinteger)
assert(math.type(tonumber("9223372036854775808")) == "float")
assert(tonumber("9223372036854775808") == 2^63)
assert(tonumber("-9223372036854775808") == math.mininteger)
assert(math.type(tonumber("-9223372036854775808")) == "integer")
for _, s in ipairs({"inf", "-inf", "nan", "NaN", "infinity", "1n", "0x", "", " ", "1e", "0b1e1"}) do
  assert(tonumber(s) == nil, s)
end
assert(tonumber(" 10 ") == 10 and tonumber("1e2") == 100.0 and tonumber(".5") == 0.5)
assert(tonumber("0x1p4") == 16.0 and tonumber("0xA.8p0") == 10.5)

-- Strings coerce in arithmetic with the same reader.
assert("0b11" + 1 == 4)
assert("10" * "2" == 20 and math.type("10" * "2") == "integer")
assert("1.5" + 1 == 2.5)

-- Formatting.
assert(tostring(3.0) == "3.0")
assert(tostring(-0.0) == "-0.0")
assert(tostring(1e100) == "1e+100")
assert(tostring(math.huge) == "inf" and tostring(-math.huge) == "-inf")
assert(tostring(2^63) == "9.2233720368548e+18")
assert(tostring(math.mininteger) == "-9223372036854775808")
assert(tostring(0.1) == "0.1")
assert(3 .. "" == "3" and 3.5 .. "" == "3.5" and 2^53 .. "" == "9.007199254741e+15")

-- Division and modulo by zero never fail.
local zero, fzero = 0, 0.0
assert(7 // zero == math.maxinteger)
assert(-7 // zero == -math.maxinteger)
assert(7 % zero == 0)
assert(7.0 / zero == 1.7976931348623157e308)
assert(-7 / fzero == -1.7976931348623157e308)
assert(0 / fzero == 1.7976931348623157e308)
assert(math.mininteger // -1 == math.mininteger)
assert(math.mininteger % -1 == 0)
local sixtyfour = 64
assert(1 << sixtyfour == 0 and -1 >> sixtyfour == 0 and 1 << 63 == math.mininteger)
assert(-1 >> 1 == math.maxinteger and 1 >> -2 == 4)

print("ok")
