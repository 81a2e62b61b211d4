-- Typed userdata creation: userdata() argument forms, type names, size limits, text
-- initialisers (hex groups, "hex:", f64 lists, "[gfx]") and vec().
local NaN = math.huge - math.huge
local function none(...) return select('#', ...) == 0 end
local function check(u, e, msg)
  local t = {get(u)}
  assert(#t == #e, (msg or "") .. ": " .. #t .. " elements, expected " .. #e)
  for i = 1, #e do
    if t[i] ~= e[i] then
      error((msg or "") .. ": element " .. (i - 1) .. " is " .. tostring(t[i]) .. ", expected " .. tostring(e[i]), 2)
    end
  end
end
local function attribs(u) return table.concat({u:attribs()}, " ") end

-- sizes
assert(none(userdata("u8", 0)))
assert(none(userdata("u8")))
assert(none(userdata()))
assert(none(userdata("u8", -1)))
assert(none(userdata("u8", "4")))               -- width must be a number
assert(none(userdata("f64", 2097153)))          -- 16 MiB + 8 bytes
assert(#userdata("f64", 2097152) == 2097152)
assert(#userdata("u8", 16777216) == 16777216)
assert(none(userdata("u8", 16777217)))
assert(none(userdata("u8", 65536, 65537)))      -- exact product, no wrap-around
assert(none(userdata("u8", 65536, 257)))
assert(#userdata("u8", 65536, 256) == 16777216)
assert(none(userdata("i16", 4096, 2049)))
assert(none(userdata("u8", 2^32 + 4)))          -- float outside 32 bits
assert(none(userdata("u8", 4294967300)))        -- integer outside 32 bits
assert(none(userdata("u8", 4, 2^32 + 1)))
assert(none(userdata("u8", NaN)))
assert(none(userdata("u8", math.huge)))
assert(none(userdata("u8", -math.huge)))
assert(none(userdata("u8", 4, 0)))
assert(none(userdata("u8", 4, -3)))
assert(attribs(userdata("u8", 3.9)) == "3 1 u8 1")   -- truncated toward zero
assert(attribs(userdata("u8", 2, 2.5)) == "2 2 u8 2")

-- dimensions and where the text goes
assert(attribs(userdata("u8", 4, 2)) == "4 2 u8 2")
assert(attribs(userdata("u8", 4, 1)) == "4 1 u8 2")
assert(none(userdata("u8", 4, nil)))            -- 2-D with a height that is not a number
assert(none(userdata("u8", 4, nil, "01")))
local u = userdata("u8", 4, "0102")
assert(attribs(u) == "4 1 u8 1")
check(u, {1, 2, 0, 0}, "1-D with text")
u = userdata("u8", 4, 2, "0102030405060708")
assert(attribs(u) == "4 2 u8 2")
check(u, {1, 2, 3, 4, 5, 6, 7, 8}, "2-D with text")
u = userdata("u8", 2, 2, 7)                     -- a number in the text slot is a size
assert(attribs(u) == "2 2 u8 2")
check(u, {0, 0, 0, 0})
assert(u:height() == 2 and userdata("u8", 5):height() == nil)
assert(u:width() == 2)

-- type names
local function tname(n) local _, _, t = userdata(n, 1):attribs() return t end
assert(tname("u8") == "u8" and tname("i16") == "i16" and tname("i32") == "i32")
assert(tname("i64") == "i64" and tname("f64") == "f64")
assert(tname("f32") == "i32" and tname("u32") == "i32" and tname("u16") == "i16")
assert(tname("i8") == "i64" and tname("u64") == "u8" and tname("F64") == "u8")
assert(tname("x") == "u8" and tname("") == "u8" and tname("f") == "f64" and tname("i") == "i64")
assert(tname(nil) == "u8" and tname(13) == "i32" and tname(true) == "u8")

-- the data area is rounded up to 8 bytes, the padding is zero
u = userdata("u8", 3, "010203")
assert(none(u:mutate("u8", 8)))
check(u, {1, 2, 3, 0, 0, 0, 0, 0}, "padding")
assert(u:mutate("u8", 9) == "new size is larger than old size")

-- hex text
check(userdata("u8", 4, "01ff0a10"), {1, 255, 10, 16})
check(userdata("u8", 2, "hex:01ff"), {1, 255}, "hex: prefix")
check(userdata("u8", 2, "HEX:01"), {14, 0}, "prefix is lower case only")
check(userdata("u8", 3, "01ffAB"), {1, 255, 171})
check(userdata("u8", 4, "01f"), {1, 0, 0, 0}, "short group")
check(userdata("u8", 4, "zz1g"), {0, 16, 0, 0}, "non-hex digits")
check(userdata("u8", 2, "0102030405"), {1, 2}, "longer text")
check(userdata("i16", 2, 2, "0001fffe00030004"), {1, -2, 3, 4}, "i16")
check(userdata("i16", 3, "80007fff0"), {-32768, 32767, 0}, "i16 sign and short")
check(userdata("i32", 3, "ffffffff8000000000000001"), {-1, -2147483648, 1})
check(userdata("i32", 2, "7fffffff"), {2147483647, 0})
check(userdata("i64", 3, "ffffffffffffffff7fffffffffffffff"), {-1, math.maxinteger, 0})
check(userdata("i64", 1, "8000000000000000"), {math.mininteger})
check(userdata("u8", 2, ""), {0, 0}, "empty text")

-- f64 text
check(userdata("f64", 3, "1.5,-2,3e2"), {1.5, -2.0, 300.0})
check(userdata("f64", 3, "1,,3"), {1.0, 0.0, 3.0})
check(userdata("f64", 3, "7)abc,5"), {7.0, 0.0, 0.0})
check(userdata("f64", 3, '1,2",3'), {1.0, 2.0, 0.0})
check(userdata("f64", 3, " 4 , 5"), {4.0, 5.0, 0.0})
check(userdata("f64", 2, "abc,2"), {0.0, 2.0})
check(userdata("f64", 2, "hex:1,2"), {1.0, 2.0})
check(userdata("f64", 2, 2, "1,2,3,4,5,6"), {1.0, 2.0, 3.0, 4.0})
check(userdata("f64", 4, "1,2"), {1.0, 2.0, 0.0, 0.0})
-- the separator search starts where the numeral does: the ")" of "nan(1)" ends the text
local nanp = userdata("f64", 3, "nan(1),5")
assert(nanp[0] ~= nanp[0] and nanp[1] == 0.0 and nanp[2] == 0.0)
check(userdata("f64", 3, "1e,5,0x10"), {1.0, 5.0, 16.0})
check(userdata("f64", 2, "-,5"), {0.0, 5.0})
local f = userdata("f64", 1, "-0.25")
assert(f[0] == -0.25 and math.type(f[0]) == "float")

-- "[gfx]" surfaces
u = userdata("[gfx]0201zZ")
assert(attribs(u) == "2 1 u8 2")
check(u, {35, 61})
check(userdata("[gfx]0201_-"), {62, 63})
check(userdata("[gfx]0202a"), {10, 0, 0, 0}, "gfx text ends early")
check(userdata("[gfx]0101Z", 100, "ff"), {61}, "gfx ignores the width and the text")
assert(none(userdata("[gfx]0000")))
assert(none(userdata("[gfx]00ff")))
local pix = string.rep("0123456789abcdef", 4)
u = userdata("[gfx]0808" .. pix)
assert(attribs(u) == "8 8 u8 2")
assert(u[0] == 0 and u[15] == 15 and u[63] == 15)
u = userdata("[gfx]02", 3)                      -- shorter than 9 characters: a plain name
assert(attribs(u) == "3 1 u8 1")
u = userdata("[gfx]0A0b")
assert(attribs(u) == "10 11 u8 2")

-- vec
local v = vec(1, "2", nil)
assert(attribs(v) == "3 1 f64 1")
check(v, {1.0, 2.0, 0.0})
assert(math.type(v[0]) == "float")
check(vec(1, {}, "x", true, 2.5), {1.0, 0.0, 0.0, 0.0, 2.5})
assert(none(vec("1", 2)))
assert(none(vec()))
assert(none(vec(nil, 1)))
assert(#vec(7) == 1)

-- metatable
assert(getmetatable(userdata("u8", 1)) == USERDATA)
assert(getmetatable(vec(1)) == USERDATA)
local saved = USERDATA
USERDATA = 5
assert(getmetatable(userdata("u8", 1)) == nil)
local mt = {}
USERDATA = mt
assert(getmetatable(userdata("u8", 1)) == mt)
USERDATA = saved
assert(getmetatable(userdata("u8", 1)) == USERDATA)

print("ok")
