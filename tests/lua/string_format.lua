-- string.format: conversions, flags, width and precision limits, %s, %p and %q.

local function err(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

local function eq(got, want, what)
  if got ~= want then
    error(("%s: got %q, want %q"):format(what or "value", tostring(got), tostring(want)), 2)
  end
end

local F = string.format

-- plain conversions
eq(F("%5.2f|%-5d|%+d|% d|%05d|%x|%X|%o|%#x|%#o|%e|%g|%G|%a|%A|%i|%u",
     3.14159, 3, 3, 3, -3, 255, 255, 8, 255, 8, 12345.678, 0.0001, 1e20, 1.0, 0.5, -7, 7),
   " 3.14|3    |+3| 3|-0003|ff|FF|10|0xff|010|1.234568e+04|0.0001|1E+20|0x1p+0|0X1P-1|-7|7")
eq(F("%5.2f", 3.14159), " 3.14")
eq(F("%d", 3.0), "3", "integral float for %d")
eq(F("%x", -1), "ffffffffffffffff", "64-bit unsigned view")
eq(F("%u", -1), "18446744073709551615")
eq(F("%d", math.mininteger), "-9223372036854775808")
eq(F("%5s|%-5s|", "ab", "ab"), "   ab|ab   |")
eq(F("%%"), "%")
eq(F("a%%b%s", "c"), "a%bc")
eq(F("%s", 12), "12")
eq(F("%s", 1.5), "1.5")
eq(F("%s %s %s", nil, true, false), "nil true false")
eq(F("%s", setmetatable({}, {__tostring = function() return "T!" end})), "T!")
eq(F("%10.4f", 1/3), "    0.3333")
eq(F("%-+8.3e|", 1234.5), "+1.234e+03|")
eq(F("%g", 1e300 * 1e300), "inf", "infinity still prints through the C formatter")
eq(F("%.0f", 0.5), "0")
eq(F("%99.99f", -1e308):len(), 410, "a long %f output fits")
eq(F("%99.99f", -1/0):len(), 410, "so does the largest")
eq(F("%.99f", 1.0):len(), 101)
eq(F("%99d", 1):len(), 99)

-- %c takes the low 8 bits
eq(F("%c%c%c", 72, 105, 0), "Hi\0")
eq(F("%c", 256 + 65), "A")
eq(F("%c", -191), "A")
eq(F("%3c|%-3c|", 65, 66), "  A|B  |")

-- arguments
eq(err(F, "%d"), "bad argument #2 to 'string.format' (no value)")
eq(err(F, "%d %d", 1), "bad argument #3 to 'string.format' (no value)")
eq(err(F, "%d", 1.5), "bad argument #2 to 'string.format' (number has no integer representation)")
eq(err(F, "%d", "x"), "bad argument #2 to 'string.format' (number expected, got string)")
eq(F("%d", "10"), "10", "numeric strings convert")
eq(err(F, "%f", {}), "bad argument #2 to 'string.format' (number expected, got table)")
eq(err(F), "bad argument #1 to 'string.format' (string expected, got no value)")
eq(err(function() return ("%d"):format() end), "bad argument #1 to 'format' (no value)")

-- flags, width and precision
eq(F("%-----d|", 1), "1|", "five flags are allowed")
eq(F("%-+ #0d", 7), "+7", "all five flags at once")
eq(err(F, "%------d", 1), "invalid format (repeated flags)")
eq(err(F, "%123d", 1), "invalid format (width or precision too long)")
eq(err(F, "%1.123f", 1), "invalid format (width or precision too long)")
eq(err(F, "%.100f", 1), "invalid format (width or precision too long)")
eq(err(F, "%F", 1), "invalid conversion '%F' to 'format'")
eq(err(F, "%10.3y", 1), "invalid conversion '%10.3y' to 'format'")
eq(err(F, "%", 1), "invalid conversion '%' to 'format'")
eq(err(F, "%ld", 1), "invalid conversion '%l' to 'format'")
-- no per-conversion flag check: flags the conversion does not define are dropped
eq(F("%#d", 12), "12")
eq(F("%#5d|", 12), "   12|")
eq(F("%+s", "x"), "x")
eq(F("%05s", "x"), "    x")
eq(F("%#u", 5), "5")
eq(F("%.3c", 65), "A")
eq(F("%+x", 255), "ff")
eq(F("% o", 8), "10")

-- %s with and without modifiers
eq(F("%s", "x\0y"), "x\0y", "no modifiers: the whole string")
eq(err(F, "%10s", "a\0b"), "bad argument #2 to 'string.format' (string contains zeros)")
eq(err(F, "%.1s", "a\0b"), "bad argument #2 to 'string.format' (string contains zeros)")
local s150 = string.rep("x", 150)
eq(F("%10s", s150), s150, "long strings are copied whole")
eq(err(F, "%-200s", "a"), "invalid format (width or precision too long)")
local s99 = string.rep("y", 99)
eq(F("%99s", s99:sub(2)), " " .. s99:sub(2), "under 100 bytes is formatted")
eq(F("%-99s|", s99), s99 .. "|")
eq(F("%-99s|", s99 .. "y"), s99 .. "y|", "100 bytes are copied whole")
eq(F("%.3s", "abcdef"), "abc")
eq(F("%5.1s|", "abc"), "    a|")
eq(F("%.99s", s150), string.rep("x", 99), "precision applies to long strings")
eq(F("%s", string.rep("z", 5000)), string.rep("z", 5000))
eq(F("%s%s", string.rep("a", 1500), string.rep("b", 1500)), string.rep("a", 1500) .. string.rep("b", 1500))

-- %p
eq(F("%p", 1), "(null)")
eq(F("%p", nil), "(null)")
eq(F("%p", true), "(null)")
eq(F("%10p", false), "    (null)")
eq(F("%-8p|", 2.5), "(null)  |")
eq(F("%.2p", nil), "(n", "the modifiers of a non-object apply to the text")
local t = {}
eq(F("%p", t), F("%p", t))
assert(F("%p", t) ~= F("%p", {}))
assert(F("%p", t) ~= "(null)")
assert(F("%p", print) ~= "(null)")
eq(#F("%30p", t), 30)
-- a string is an object: equal short strings are one interned object, long strings built
-- apart are two
local short = "abc"
assert(F("%p", short) ~= "(null)")
eq(F("%p", short), F("%p", ("ab") .. "c"))
local l1, l2 = string.rep("x", 100), string.rep("x", 100)
assert(F("%p", l1) ~= F("%p", l2))
eq(F("%p", l1), F("%p", l1))
assert(F("%p", "abc") ~= F("%p", "abd"))
eq(#F("%-30p", "s"), 30)

-- %q
eq(F("%q", "a\nb"), '"a\\\nb"')
eq(F("%q", 'a"b\\c'), '"a\\"b\\\\c"')
eq(F("%q", "\r\0\1\127"), '"\\13\\0\\1\\127"')
eq(F("%q", "\0001\r9\0a"), '"\\0001\\0139\\0a"', "three digits before a digit")
eq(F("%q", "\200\255"), '"\200\255"', "bytes above 127 pass through")
eq(F("%q", "\t"), '"\\9"')
eq(F("%q", 42), "42")
eq(F("%q", -7), "-7")
eq(F("%q", math.mininteger), "0x8000000000000000")
eq(F("%q", math.maxinteger), "9223372036854775807")
eq(F("%q", 1.0), "0x1p+0", "integral floats in hexadecimal")
eq(F("%q", 0.5), "0x1p-1")
eq(F("%q", -0.0), "-0x0p+0")
eq(F("%q", 0.1), "0x1.999999999999ap-4")
eq(F("%q", math.huge), "1e9999")
eq(F("%q", -math.huge), "-1e9999")
eq(F("%q", 1/0), "0x1.fffffffffffffp+1023", "1/0 is the largest finite double")
eq(F("%q", -1/0), "-0x1.fffffffffffffp+1023")
eq(F("%q", math.huge - math.huge), "(0/0)")
eq(F("%q", nil), "nil")
eq(F("%q", true), "true")
eq(F("%q", false), "false")
eq(err(F, "%q", {}), "bad argument #2 to 'string.format' (value has no literal form)")
eq(err(F, "%q", print), "bad argument #2 to 'string.format' (value has no literal form)")
eq(err(F, "%10q", "x"), "specifier '%q' cannot have modifiers")
eq(err(F, "%-q", "x"), "specifier '%q' cannot have modifiers")
-- %q output reads back as the same value
for _, v in ipairs{"a\0b\n\r\"\\", 0.1, -2.5e-300, 1e308, math.mininteger, 12, 1/0} do
  local back = load("return " .. F("%q", v))()
  eq(back, v, "round trip")
  eq(math.type(back), math.type(v), "round trip type")
end
local all = {}
for i = 0, 255 do all[#all + 1] = string.char(i) end
all = table.concat(all)
eq(load("return " .. F("%q", all))(), all, "every byte round-trips")

do
-- %p of an object: the flags act as the C library's "%p" makes them act
local t = {}
local plain = F("%p", t)
assert(plain:match("^0x%x+$"), plain)
local digits = plain:sub(3)
eq(F("%#p", t), plain, "'#' changes nothing")
eq(F("%+p", t), "+" .. plain)
eq(F("% p", t), " " .. plain)
eq(F("%+ p", t), "+" .. plain, "'+' wins over ' '")
eq(F("%30p", t), string.rep(" ", 30 - #plain) .. plain)
eq(F("%-30p|", t), plain .. string.rep(" ", 30 - #plain) .. "|")
eq(F("%030p", t), "0x" .. string.rep("0", 28 - #digits) .. digits, "zeros go after 0x")
eq(F("%+030p", t), "+0x" .. string.rep("0", 27 - #digits) .. digits)
eq(F("%-030p|", t), plain .. string.rep(" ", 30 - #plain) .. "|", "'-' overrides '0'")
eq(F("%.25p", t), "0x" .. string.rep("0", 25 - #digits) .. digits, "precision: least digits")
eq(F("%.1p", t), plain)
eq(F("%30.25p", t), "   0x" .. string.rep("0", 25 - #digits) .. digits)
eq(F("%030.25p", t), "   0x" .. string.rep("0", 25 - #digits) .. digits, "precision cancels '0'")
eq(#F("%-+ #099.99p", t), 102)
-- values without an object are the text "(null)" under the same spec
eq(F("%+08p|%-8.3p|", nil, 1), "  (null)|(nu     |")
end

-- plain integer conversions
eq(F("%d|%i|%x|%X|%d|%x|%X", 0, -1, 0, math.mininteger, math.maxinteger, 255, -2),
  "0|-1|0|8000000000000000|9223372036854775807|ff|FFFFFFFFFFFFFFFE")

print("ok")
