-- The element-wise family: per-type arithmetic and wrapping, division by zero, scalars,
-- destinations, refusals, offsets, lengths, strides and spans.
local NaN = math.huge - math.huge
local function none(...) return select('#', ...) == 0 end
local function mk(t, ...)
  local v = {...}
  local u = userdata(t, #v)
  set(u, 0, ...)
  return u
end
local function check(u, e, msg)
  assert(u, (msg or "") .. ": no result")
  local t = {get(u)}
  assert(#t == #e, (msg or "") .. ": " .. #t .. " elements, expected " .. #e)
  for i = 1, #e do
    if t[i] ~= e[i] then
      error((msg or "") .. ": element " .. (i - 1) .. " is " .. tostring(t[i]) .. ", expected " .. tostring(e[i]), 2)
    end
  end
end
local MAXD = 1.7976931348623157e308
local maxi, mini = math.maxinteger, math.mininteger

-- wrapping in the element type; a new copy leaves a alone
local a = mk("u8", 255, 200, 7)
check(a + 1, {0, 201, 8}, "u8 + 1")
check(a, {255, 200, 7}, "a unchanged")
check(a + 100, {99, 44, 107}, "u8 200 + 100")
check(mk("i16", 32767, -32768) + 1, {-32768, -32767}, "i16 wrap")
check(mk("i32", 2147483647) + 1, {-2147483648}, "i32 wrap")
check(mk("i32", -2147483648) - 1, {2147483647})
check(mk("i32", 65536) * 65536, {0}, "i32 mul wraps")
check(mk("i64", maxi) + 1, {mini}, "i64 wrap")
check(mk("i64", maxi) * 2, {-2})
check(mk("f64", 1.5) + 1, {2.5})
check(mk("f64", 1.5) * 4, {6.0})

-- scalar first
a = mk("u8", 1, 2, 3)
check(5 - a, {4, 3, 2}, "5 - a")
check(a - 5, {252, 253, 254}, "a - 5")
check(2 ^ a, {2, 4, 8}, "2 ^ a")
check(a ^ 2, {1, 4, 9}, "a ^ 2")
check(100 // a, {100, 50, 33})
check(USERDATA.add("3", a), {4, 5, 6}, "numeric string first")
check(a:add("3"), {1, 2, 3}, "a string second is 0")
check(a:add({}), {1, 2, 3}, "a table second is 0")
check(a:sub(true), {1, 2, 3})

-- the scalar passes once through a double, truncated
check(mk("i64", 0) + 9007199254740993, {9007199254740992}, "2^53 + 1")
check(mk("i64", 0) + 2.9, {2})
check(mk("i64", 0) + (-2.9), {-2})
check(mk("i32", 10) + 2.9, {12})
check(mk("u8", 10) + (-1), {9}, "u8 scalar keeps its low 8 bits")
check(mk("u8", 10) / -1, {0}, "10 / 255")
check(mk("i16", 0) + 70000, {4464})
check(mk("i32", 1) + NaN, {-2147483647}, "NaN converts like an out-of-range value")
check(mk("i32", 1) + 2^40, {-2147483647})
check(mk("u8", 1) + NaN, {1})
check(mk("i64", 1) + math.huge, {mini + 1})
check(mk("i64", 1) + (-math.huge), {mini + 1})
check(mk("i64", 1) + 2^63, {mini + 1})
check(mk("f64", 1) + math.huge, {math.huge})

-- destinations
a = mk("u8", 1, 2, 3)
local b = mk("u8", 10, 20, 30)
local r = a:add(b, true)
assert(r == a)
check(a, {11, 22, 33}, "in place")
local c = userdata("u8", 3)
r = a:add(b, c)
assert(r == c)
check(c, {21, 42, 63}, "into c")
check(a, {11, 22, 33})
r = USERDATA.add(5, a, true)
assert(r == a)
check(a, {16, 27, 38}, "scalar first, in place")
r = a:add(1, 1)
assert(r == a, "a number destination means in place")
r = a:add(1, "x")
assert(r == a)
check(a, {18, 29, 40})
r = a:sub(1, false)
assert(r ~= a)
check(a, {18, 29, 40})

-- refusals
local i16 = mk("i16", 1, 2, 3)
assert(none(a:add(i16)) and a + i16 == nil)
assert(none(a:copy(i16)))
assert(none(a:add(b, userdata("u8", 4))))
assert(none(a:add(b, userdata("u8", 3, 2))))
local m = userdata("u8", 3, 1)          -- 2-D with the same width and height 1 passes
assert(a:add(b, m) == m)
check(m, {28, 49, 70})
assert(none(a:add()) and none(a:add(nil)) and none(a:sub()) and none(a:mul(nil)) and none(a:pow()))
assert(none(USERDATA.add(1, 2)) and none(USERDATA.div(1)) and none(USERDATA.band(nil, 3)))
local f = mk("f64", 1, 2)
assert(none(f:band(1.0)) and none(f:bor(1)) and none(f:bxor(1)) and none(f:shl(1)) and none(f:shr(1)))
assert(f & 1 == nil)
-- destination with smaller elements is refused; nothing is written
local d8 = userdata("u8", 3)
assert(none(i16:add(1, d8)))
check(d8, {0, 0, 0})
assert(none(f:add(1, userdata("i32", 2))))

-- a missing argument 2 is the scalar 0 for the other members
check(mk("u8", 0, 5, 200):div(), {255, 255, 255}, "u8 / 0")
check(mk("i16", 5, -5, 0):div(), {32767, -32767, 32767}, "i16 / 0")
check(mk("u8", 7, 9):band(), {0, 0})
check(mk("u8", 7, 9):bor(), {7, 9})

-- division by zero per type
for _, op in ipairs({"div", "idiv"}) do
  check(mk("u8", 0, 5, 200)[op](mk("u8", 0, 5, 200), 0), {255, 255, 255}, "u8 " .. op)
  check(mk("i16", 0, 5, -5)[op](mk("i16", 0, 5, -5), 0), {32767, 32767, -32767}, "i16 " .. op)
  check(mk("i32", 0, 5, -5)[op](mk("i32", 0, 5, -5), 0), {2147483647, 2147483647, -2147483647}, "i32 " .. op)
  check(mk("i64", 0, 5, -5)[op](mk("i64", 0, 5, -5), 0), {maxi, maxi, -maxi}, "i64 " .. op)
  check(mk("f64", 0, 5, -5)[op](mk("f64", 0, 5, -5), 0), {MAXD, MAXD, -MAXD}, "f64 " .. op)
  check(mk("i16", 5, -5)[op](mk("i16", 5, -5), mk("i16", 0, 0)), {32767, -32767}, "userdata zero divisor")
end
for _, t in ipairs({"u8", "i16", "i32", "i64", "f64"}) do
  check(mk(t, 0, 5, 7) % 0, {0, 0, 0}, t .. " % 0")
end
check(100 / mk("u8", 0, 3), {255, 33}, "scalar first, zero element")
check(-100 / mk("i16", 0, 3), {-32767, -33})
check(-100 / mk("i64", 0), {-maxi})
check(-1.5 / mk("f64", 0), {-MAXD})

-- quotients and remainders
check(mk("i16", -32768) / -1, {-32768}, "i16 min / -1")
check(mk("i32", -2147483648) / -1, {-2147483648}, "i32 min / -1 wraps")
check(mk("i32", -2147483648) // -1, {-2147483648})
check(mk("i32", -2147483648) % -1, {0})
check(mk("i64", mini) / -1, {mini})
check(mk("i64", mini) % -1, {0})
check(mk("i32", -7, 7) / 2, {-3, 3}, "truncated toward zero")
check(mk("i32", -7) // 2, {-3}, "integer idiv is div")
check(mk("f64", -7) / 2, {-3.5})
check(mk("f64", -7) // 2, {-4.0})
check(mk("i32", -7) % 3, {2})
check(mk("i32", -7) % -3, {-1})
check(mk("i32", 7) % -3, {-2})
check(mk("i64", -7) % 3, {2})
check(mk("i16", -7) % 3, {2})
check(mk("u8", 7, 250) % 3, {1, 1})
check(mk("f64", 5.5) % -2, {-0.5})
check(mk("f64", -5.5) % 2, {0.5})
check(mk("f64", 6) % 3, {0.0})

-- pow
check(mk("u8", 3, 16) ^ 2, {9, 0}, "u8 squares wrap")
check(mk("u8", 2) ^ 8, {0})
check(mk("i16", 300) ^ 2, {24464})
check(mk("i32", 2) ^ 10, {1024})
check(mk("i32", 2) ^ 31, {-2147483648}, "out of range pow result")
check(mk("i32", 0) ^ -1, {-2147483648}, "infinite pow result")
check(mk("i32", 46341) ^ 2, {-2147479015}, "squares wrap in 32 bits")
check(mk("i64", 3) ^ 2, {9})
check(mk("i64", 2) ^ 62, {4611686018427387904})
check(mk("i64", 2) ^ 64, {mini})
check(mk("u8", 5, 6) ^ 0.5, {1, 1}, "fraction truncated to exponent 0")
check(mk("f64", 2) ^ 0.5, {math.sqrt(2)})
check(mk("f64", -3) ^ 2, {9.0})
check(2 ^ mk("i32", 3, 0), {8, 1})

-- bitwise and shifts
check(mk("u8", 0xf0) & 0x3c, {0x30})
check(mk("u8", 0xf0) | 0x3c, {0xfc})
check(mk("u8", 0xf0) ~ 0x3c, {0xcc})
check(mk("i64", -1) & 0xff, {255})
check(mk("i64", -1) & maxi, {mini}, "maxinteger passes through a double")
check(mk("u8", 0x80, 0xff) >> 1, {0x40, 0x7f})
check(mk("u8", 200) << 1, {144})
check(mk("u8", 255) >> 8, {0})
check(mk("u8", 255) << 8, {0})
check(mk("u8", 0xff) >> 4, {15}, "u8 shr is logical")
check(mk("i16", -2) >> 1, {-1})
check(mk("i16", -2) >> 16, {-1}, "i16 beyond its width keeps the sign")
check(mk("i16", 2) >> 16, {0})
check(mk("i16", 5) << 16, {0})
check(mk("i16", 1) << 15, {-32768})
check(mk("i32", 1) << 31, {-2147483648})
check(mk("i32", 1) << 32, {0})
check(mk("i32", -8) >> 40, {-1})
check(mk("i32", -8) >> 1, {-4})
check(mk("i32", 4) << -1, {2}, "negative counts shift the other way")
check(mk("i32", 4) >> -1, {8})
check(mk("i64", mini) >> 1, {-4611686018427387904}, "i64 shr keeps the sign")
check(mk("i64", 1) << 63, {mini})
check(mk("i64", 1) << 64, {0})
check(mk("i64", -1) >> 64, {-1})
check(mk("i64", 1) << (2^40), {0})
check(1 << mk("u8", 3), {8})
-- the most negative count: compared before it is negated
check(mk("i64", -8) << mini, {-1}, "shl by mininteger shifts right past the width")
check(mk("i64", 8) << mini, {0})
check(mk("i64", -8) >> mini, {0}, "shr by mininteger shifts left past the width")
check(mk("i64", 5, -5) << mk("i64", mini, mini), {0, -1})
check(mk("i64", 5) >> mk("i64", mini), {0})
check(mk("i64", 8) >> -63, {0})
check(mk("i64", -8) << -64, {-1})

-- userdata operands
a = userdata("u8", 100)
for i = 0, 99 do a[i] = 1 end
b = userdata("u8", 10)
for i = 0, 9 do b[i] = i end
r = a + b
for i = 0, 9 do assert(r[i] == i + 1) end
for i = 10, 99 do assert(r[i] == 1) end
r = b + a
for i = 0, 9 do assert(r[i] == i + 1) end

-- offsets, lengths, strides, spans
a = userdata("u8", 10)
r = a:add(1, true, 0, 4)
assert(r == a)
check(a, {0, 0, 0, 0, 1, 1, 1, 1, 1, 1}, "offset 4")
r = a:add(1, true, 0, 50)
assert(r == a, "offset beyond the elements still returns a")
check(a, {0, 0, 0, 0, 1, 1, 1, 1, 1, 1})
a:add(1, true, 0, 2, 3)
check(a, {0, 0, 1, 1, 2, 1, 1, 1, 1, 1}, "offset 2 length 3")
a = userdata("u8", 100)
a:add(1, true, 0, -2, 10)
for i = 0, 5 do assert(a[i] == 1, i) end
for i = 6, 99 do assert(a[i] == 0, i) end
a = userdata("u8", 16, 4)
a:add(1, true, 0, 0, 4, 1, 16, 3)
for y = 0, 3 do
  for x = 0, 15 do assert(a[y * 16 + x] == ((y < 3 and x < 4) and 1 or 0), y .. "," .. x) end
end
-- a 4 x 4 block of b into a 16 x 16 array at row 3, column 2
a = userdata("u8", 16, 16)
b = userdata("u8", 4, 4)
for i = 0, 15 do b[i] = i + 1 end
a:add(b, true, 0, 50, 4, 4, 16, 4)
for y = 0, 15 do
  for x = 0, 15 do
    local e = (y >= 3 and y <= 6 and x >= 2 and x <= 5) and ((y - 3) * 4 + (x - 2) + 1) or 0
    assert(a[y * 16 + x] == e, y .. "," .. x)
  end
end
-- a negative b start shortens the span by its overhang and ends the run
a = userdata("u8", 10)
b = userdata("u8", 10)
for i = 0, 9 do a[i] = 1; b[i] = i + 1 end
a:add(b, true, -3, 0, 5, 1, 1, 3)
check(a, {2, 3, 1, 1, 1, 1, 1, 1, 1, 1}, "b start -3")
-- spans stop at the first short one
a = userdata("u8", 10)
a:add(1, true, 0, 8, 4, 1, -4, 3)
check(a, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1}, "a short first span ends the run")
-- a stride of 0 repeats the same span
a = userdata("u8", 4)
a:add(1, true, 0, 0, 2, 0, 0, 5)
check(a, {5, 5, 0, 0}, "stride 0")
-- negative stride walks backwards
a = userdata("u8", 6)
a:add(1, true, 0, 4, 2, 1, -2, 3)
check(a, {1, 1, 1, 1, 1, 1})
-- b stride differs from a stride
a = userdata("u8", 4)
b = userdata("u8", 8)
for i = 0, 7 do b[i] = i end
a:add(b, true, 0, 0, 1, 2, 1, 4)
check(a, {0, 2, 4, 6}, "b stride 2")
-- length 0 and negative lengths process nothing
a = userdata("u8", 4)
a:add(1, true, 0, 0, 0, 1, 1, 100)
a:add(1, true, 0, 0, -5, 1, 1, 100)
check(a, {0, 0, 0, 0})
-- arguments read with hvx_intp: floored numbers and numeric strings
a = userdata("u8", 6)
a:add(1, true, "0", 2.9, "2")
check(a, {0, 0, 1, 1, 0, 0}, "floored arguments")

-- max, min, abs, sgn, sgn0
a = mk("u8", 1, 5, 3)
check(a:max(2), {2, 5, 3})
check(a:min(2), {1, 2, 2})
check(USERDATA.max(4, a), {4, 5, 4})
check(a:max(mk("u8", 9, 0, 3)), {9, 5, 3})
check(mk("f64", -1.5, 2):max(0), {0.0, 2.0})
check(mk("i64", mini, maxi):min(0), {mini, 0})
local s = mk("i16", -3, 0, 4, -32768)
check(s:abs(), {3, 0, 4, -32768})
check(s:sgn(), {-1, 1, 1, -1})
check(s:sgn0(), {-1, 0, 1, -1})
check(mk("i32", -2147483648, -5):abs(), {-2147483648, 5})
check(mk("i64", mini, -5):abs(), {mini, 5})
check(mk("u8", 0, 200):sgn0(), {0, 1})
check(mk("u8", 0, 200):sgn(), {1, 1})
check(mk("f64", -2.5, 0, 3):abs(), {2.5, 0.0, 3.0})
check(mk("f64", -2.5, 0, 3):sgn(), {-1.0, 1.0, 1.0})
check(mk("f64", -2.5, 0, 3):sgn0(), {-1.0, 0.0, 1.0})
assert(s:abs(true) == s)
check(s, {3, 0, 4, -32768}, "abs in place")
local dd = userdata("i16", 4)
assert(mk("i16", -1, -2, -3, -4):abs(dd) == dd)
check(dd, {1, 2, 3, 4}, "abs into a destination")
s = mk("i16", -1, -2, -3, -4)
s:abs(nil, true, 0, 1, 2)
check(s, {-1, 2, 3, -4}, "abs over a span")
assert(none(USERDATA.abs(5)) and none(USERDATA.sgn()))

print("ok")
