-- convert (the conversion table, palette mode) and sort (columns, order, comparators).
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
local function tn(u) local _, _, t = u:attribs() return t end
local mini, maxi = math.mininteger, math.maxinteger

-- f64 to integers: floor, out-of-range values through -2^31 (i64: mininteger)
local f = mk("f64", 1.5, -1.5, 255.9, 256)
check(f:convert("u8"), {1, 254, 255, 0}, "f64 to u8")
check(f:convert("i16"), {1, -2, 255, 256}, "f64 to i16")
check(f:convert("i32"), {1, -2, 255, 256})
check(f:convert("i64"), {1, -2, 255, 256})
check(mk("f64", 2.7, -0.5, 300, -0.5):convert("u8"), {2, 255, 44, 255})
check(mk("f64", -0.5, 40000.5, -40000):convert("i16"), {-1, -25536, 25536})
local odd = mk("f64", NaN, math.huge, -math.huge, 3e9, -3e9, 2147483647.5, -2147483648.5)
check(odd:convert("i32"), {-2147483648, -2147483648, -2147483648, -2147483648, -2147483648, 2147483647, -2147483648})
check(odd:convert("u8"), {0, 0, 0, 0, 0, 255, 0})
check(odd:convert("i16"), {0, 0, 0, 0, 0, -1, 0})
check(mk("f64", NaN, math.huge, -math.huge, 1e19, -1e19, 2^62, -2^63):convert("i64"),
      {mini, mini, mini, mini, mini, 1 << 62, mini})
-- integers to f64 and between integers
local i16 = mk("i16", -1, 300)
check(i16:convert("f64"), {-1.0, 300.0})
assert(math.type(i16:convert("f64")[0]) == "float")
check(i16:convert("u8"), {255, 44})
check(i16:convert("i32"), {-1, 300})
check(i16:convert("i64"), {-1, 300})
check(mk("u8", 200):convert("i16"), {200}, "u8 zero-extends")
check(mk("i32", 70000, -1):convert("i16"), {4464, -1})
check(mk("i64", (1 << 53) + 1, -(1 << 40)):convert("i32"), {1, 0})
check(mk("i64", 9007199254740993):convert("f64"), {9007199254740992.0})
check(mk("u8", 255):convert("f64"), {255.0})
-- same type: a byte copy
local i32 = mk("i32", 1, -2, 3)
local cp = i32:convert("i32")
assert(cp ~= i32)
check(cp, {1, -2, 3})
-- shape and names
local m = userdata("i16", 3, 2)
local mf = m:convert("f64")
assert(table.concat({mf:attribs()}, " ") == "3 2 f64 2")
assert(tn(m:convert("f32")) == "i32" and tn(m:convert(3)) == "u8" and tn(m:convert()) == "u8")
assert(tn(m:convert(nil, true)) == "u8")
assert(none(USERDATA.convert(5, "u8")) and none(USERDATA.convert()))
assert(none(userdata("u8", 16777216):convert("f64")), "too large")

-- palette mode
local idx, pal = mk("u8", 5, 7, 5, 9):convert("u8", true)
check(idx, {0, 1, 0, 2})
check(pal, {5, 7, 9})
assert(tn(pal) == "u8" and table.concat({pal:attribs()}, " ") == "3 1 u8 1")
assert(select('#', mk("i16", 1, 2):convert("i16", true)) == 1, "palette mode needs u8")
assert(select('#', mk("i16", 1, 2):convert("u8", false)) == 1)
assert(select('#', mk("i16", 1, 2):convert("u8", 1)) == 2)
local s = userdata("i16", 300)
for i = 0, 299 do s[i] = 1000 - i end
idx, pal = s:convert("u8", true)
assert(#pal == 256 and tn(pal) == "i16")
for i = 0, 255 do assert(idx[i] == i and pal[i] == 1000 - i) end
for i = 256, 299 do assert(idx[i] == 255) end
s[299] = 1000
idx = s:convert("u8", true)
assert(idx[299] == 0, "a known key still finds its position once full")
idx, pal = mk("f64", 1.2, 1.7, -0.5):convert("u8", true)
check(idx, {0, 0, 1})
check(pal, {1.0, 0.0})
assert(math.type(pal[1]) == "float")
idx, pal = mk("f64", NaN, 0.0, math.huge, -math.huge, 2^70):convert("u8", true)
check(idx, {0, 0, 1, 2, 1})
check(pal, {0.0, 2^63, -2^63})
idx, pal = mk("i64", mini, maxi, mini):convert("u8", true)
check(idx, {0, 1, 0})
check(pal, {mini, maxi})
local m2 = userdata("u8", 2, 2)
idx = m2:convert("u8", true)
assert(table.concat({idx:attribs()}, " ") == "2 2 u8 2")

-- sort
local a = mk("i16", 3, -1, 2)
local n = a:sort()
assert(math.type(n) == "integer" and n >= 2)
check(a, {-1, 2, 3})
a:sort(0, true)
check(a, {3, 2, -1}, "descending")
assert(none(a:sort(1)), "column outside a 1-D row")
assert(none(a:sort(-1)))
check(a, {3, 2, -1})
local r = userdata("u8", 3, 2)
set(r, 0, 0, 5, 1, 0)
set(r, 0, 1, 2, 9, 9)
r:sort(0)
check(r, {2, 9, 9, 5, 1, 0}, "rows by column 0")
r:sort(1)
check(r, {5, 1, 0, 2, 9, 9}, "rows by column 1")
r:sort(2, true)
check(r, {2, 9, 9, 5, 1, 0}, "descending by column 2")
assert(none(r:sort(3)))
local w = userdata("u8", 4, 1)
set(w, 0, 0, 4, 3, 2, 1)
w:sort()
check(w, {1, 2, 3, 4}, "height 1 sorts elements")
assert(mk("u8", 9):sort() == 0)
check(mk("u8", 200, 5):sort() and mk("u8", 200, 5), {200, 5})
local uu = mk("u8", 200, 5, 128)
uu:sort()
check(uu, {5, 128, 200}, "u8 is unsigned")
local ex = mk("i64", maxi, mini, 0, -1, 1)
ex:sort()
check(ex, {mini, -1, 0, 1, maxi}, "i64 extremes")
ex:sort(0, true)
check(ex, {maxi, 1, 0, -1, mini})
local i3 = mk("i32", 2147483647, -2147483648, 0)
i3:sort()
check(i3, {-2147483648, 0, 2147483647})
local nan = mk("f64", 3, NaN, 1, NaN, 2, -math.huge)
nan:sort()
assert(nan[0] == -math.huge and nan[1] == 1 and nan[2] == 2 and nan[3] == 3)
assert(nan[4] ~= nan[4] and nan[5] ~= nan[5], "NaN after every number")
nan:sort(0, true)
assert(nan[0] ~= nan[0] and nan[1] ~= nan[1] and nan[2] == 3 and nan[5] == -math.huge)
local fr = userdata("f64", 2, 3)
set(fr, 0, 0, 1, 30, 2, 10, 3, 20)
fr:sort(1)
check(fr, {2, 10, 3, 20, 1, 30}, "f64 rows")
assert(none(USERDATA.sort(5)))
local cnt = userdata("i32", 1000)
for i = 0, 999 do cnt[i] = (i * 7919) % 1000 end
-- the name only selects the element type: a "[gfx]" name is a u8 of the source's shape
local gsrc = userdata("f64", 5, 2)
for i = 0, 9 do gsrc[i] = i + 0.5 end
local g = gsrc:convert("[gfx]0101zz")
assert(g:width() == 5 and g:height() == 2 and #g == 10)
for i = 0, 9 do assert(g[i] == i, i) end
local g8 = userdata("u8", 100):convert("[gfx]0202")
assert(#g8 == 100 and g8:height() == nil)

local comps = cnt:sort()
assert(comps >= 999 and comps < 1000 * 20)
for i = 0, 999 do assert(cnt[i] == i) end

print("ok")
