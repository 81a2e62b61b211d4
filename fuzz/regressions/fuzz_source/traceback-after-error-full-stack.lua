-- copy (clone, fill, span copy, hand-over to take), take and clear.
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
local function seq(t, n, f)
  local u = userdata(t, n)
  for i = 0, n - 1 do u[i] = f(i) end
  return u
end

-- clone is independent")
check(a:copy(nil), {1, 2, 3})
local m = userdata("i16", 2, 3)
for i = 0, 5 do m[i] = -i end
local mc = m:copy()
assert(table.concat({mc:attribs()}, " ") == "2 3 i16 2")
check(mc, {0, -1, -2, -3, -4, -5})
assert(a:copy(nil, true) == a)

-- copy: fill
assert(a:copy(7, true) == a)
check(a, {7, 7, 7}, "fill in place")
a:copy(300, true)
check(a, {44, 44, 44}, "low 8 bits")
check(a:copy(5), {5, 5, 5}, "fill into a new copy")
check(a, {44, 44, 44})
check(mk("i16", 0, 0):copy(1.9), {1, 1})
check(mk("i16", 0, 0):copy(-1.9), {-1, -1}, "truncated toward zero")
check(mk("f64", 0, 0):copy(1.9), {1.9, 1.9})
local ten = userdata("u8", 10)
ten:copy(7, true, nil, 2, 3)
check(ten, {0, 0, 7, 7, 7, 0, 0, 0, 0, 0}, "fill a span")

-- copy: scalar first copies a's spans
a = mk("u8", 1, 2, 3)
assert(USERDATA.copy(5, a, true) == a)
check(a, {1, 2, 3}, "scalar first in place changes nothing")
c = USERDATA.copy(5, a)
assert(c ~= a)
check(c, {1, 2, 3})

-- copy: spans of b
a = userdata("u8", 10)
local b = seq("u8", 10, function(i) return i + 1 end)
assert(a:copy(b, true, 0, 4) == a)
check(a, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}, "b into a from 4")
a = userdata("u8", 10)
a:copy(b, true, 1, 0, 3)
check(a, {2, 3, 4, 0, 0, 0, 0, 0, 0, 0}, "b offset 1")
check(userdata("u8", 4):copy(b), {1, 2, 3, 4}, "a new copy overwritten by b")
check(seq("u8", 12, function() return 9 end):copy(b), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 9, 9})
local big = userdata("u8", 16, 16)
local blk = seq("u8", 16, function(i) return i + 1 end)
big:copy(blk, true, 0, 50, 4, 4, 16, 4)
for y = 0, 15 do
  for x = 0, 15 do
    local e = (y >= 3 and y <= 6 and x >= 2 and x <= 5) and ((y - 3) * 4 + (x - 2) + 1) or 0
    assert(big[y * 16 + x] == e, y .. "," .. x)
  end
end
-- towards lower positions within one userdata
a = seq("u8", 10, function(i) return i + 1 end)
a:copy(a, true, 2, 0, 5)
check(a, {3, 4, 5, 6, 7, 6, 7, 8, 9, 10}, "overlapping copy downwards")
-- into a third userdata
a = seq("i64", 3, function(i) return i end)
b = seq("i64", 3, function(i) return 100 + i end)
c = userdata("i64", 3)
assert(a:copy(b, c) == c)
check(c, {100, 101, 102})
check(a, {0, 1, 2})

-- copy refusals
assert(none(mk("u8", 1):copy(mk("f64", 1))))
a = userdata("u8", 3)
c = userdata("u8", 4)
assert(none(a:copy(mk("u8", 1, 2, 3), c)))
check(c, {0, 0, 0, 0}, "nothing written")
assert(none(USERDATA.copy(5)) and none(USERDATA.copy()) and none(USERDATA.copy(nil, 3)))

-- copy with an i32 second argument is take
local src = mk("u8", 10, 20, 30, 40)
local idx = mk("i32", 3, 0, 0)
check(src:copy(idx), {40, 10, 10}, "copy hands over to take")
local i32a = mk("i32", 1, 2, 3)
assert(none(USERDATA.copy(5, i32a, true)))
check(i32a, {1, 2, 3})
local i32b = mk("i32", 2, 1, 0)
check(i32a:copy(i32b, true), {3, 2, 3}, "i32 into i32 is a gather in place")

-- take
local t = src:take(idx)
assert(table.concat({t:attribs()}, " ") == "3 1 u8 1")
check(t, {40, 10, 10}, "take")
local idx2 = userdata("i32", 2, 2)
set(idx2, 0, 0, 3, 2, 1, 0)
t = src:take(idx2)
assert(table.concat({t:attribs()}, " ") == "2 2 u8 2")
check(t, {40, 30, 20, 10}, "2-D index")
t = src:take(mk("i32", 0, 2), nil, 0, 0, 2)
assert(table.concat({t:attribs()}, " ") == "2 2 u8 2")
check(t, {10, 20, 30, 40}, "span 2")
t = src:take(mk("i32", 3, 5, 1), nil, 0, 0, 2)
check(t, {40, 0, 0, 0, 20, 30}, "runs clipped at the source end")
-- idx_offset and idx_stride round up: six indices, offset 1, stride 2 use 1, 3 and 5
local s10 = seq("u8", 10, function(i) return i * 10 end)
local six = mk("i32", 9, 1, 8, 2, 7, 3)
check(s10:take(six, nil, 0, 0, 1, 2), {10, 20, 30, 0, 0, 0}, "offset 1 stride 2")
check(s10:take(six, nil, 1, 0, 1, 2, 1, 1), {10, 0, 0, 0, 0, 0}, "count 1")
check(s10:take(six, nil, 0, 0, 1, 3), {90, 20, 0, 0, 0, 0}, "stride 3")
check(s10:take(six, nil, 5, 0, 1, -1), {30, 70, 20, 80, 10, 90}, "negative stride reverses")
-- dest stride and offset
local d = userdata("u8", 8)
assert(s10:take(mk("i32", 1, 2, 3), d, 0, 1, 1, 1, 3) == d)
check(d, {0, 10, 0, 0, 20, 0, 0, 30}, "dest offset 1 stride 3")
-- negative starts
check(src:take(mk("i32", 0), nil, 0, -1, 3), {10, 20, 0}, "dest offset -1")
check(src:take(mk("i32", -1), nil, 0, 0, 3), {10, 20, 0}, "source start -1")
check(src:take(mk("i32", -1), nil, 0, -1, 3), {10, 0, 0}, "both negative")
check(src:take(mk("i32", -2), nil, 0, -1, 3), {0, 0, 0}, "both negative, nothing left")
-- in place: later runs read earlier writes
local ip = mk("u8", 10, 20, 30, 40)
assert(ip:take(mk("i32", 1, 0), true) == ip)
check(ip, {20, 20, 30, 40}, "in place")
-- index stride 0 repeats one index element
d = userdata("u8", 4)
src:take(mk("i32", 7, 2), d, 1, 0, 1, 0, 1, 4)
check(d, {30, 30, 30, 30}, "stride 0")
d = userdata("u8", 4)
assert(src:take(mk("i32", 2), d, 0, 0, 1, 0, 1, -1) == d)
check(d, {0, 0, 0, 0}, "stride 0 with no limit runs nothing")
assert(src:take(mk("i32", 2), d, 5, 0, 1, 0) == d)
check(d, {0, 0, 0, 0}, "stride 0 outside the index")
-- count limits and n < 1
check(src:take(mk("i32", 1, 2, 3), nil, 0, 0, 1, 1, 1, 2), {20, 30, 0})
check(src:take(mk("i32", 1, 2, 3), nil, 0, 0, 1, 1, 1, 0), {0, 0, 0})
check(src:take(mk("i32", 1, 2, 3), nil, 0, 0, 1, 1, 1, -1), {20, 30, 40}, "negative count: no limit")
check(src:take(mk("i32", 1, 2, 3), nil, 3), {0, 0, 0}, "offset past the index")
-- wide types
local s64 = mk("i64", math.mininteger, 5, math.maxinteger)
check(s64:take(mk("i32", 2, 0)), {math.maxinteger, math.mininteger})
check(mk("f64", 1.5, 2.5):take(mk("i32", 1, 1, 0)), {2.5, 2.5, 1.5})
-- a destination of another type is filled in source elements within its bytes
local d16 = userdata("i16", 2)
assert(src:take(mk("i32", 0, 1, 2, 3, 0, 1), d16) == d16)
check(d16, {20 * 256 + 10, 40 * 256 + 30})
-- refusals
assert(none(src:take(mk("u8", 1))))
assert(none(USERDATA.take(5, idx)))
assert(none(USERDATA.take(src)))
assert(none(src:take(idx, nil, 0, 0, 0)), "span 0: no destination can be made")
assert(none(src:take(mk("i32", 1, 2), nil, 0, 0, 3, 1, 3, 0)), "height 0")

-- clear
local z = mk("u8", 1, 2, 3)
assert(none(z:clear()))
check(z, {0, 0, 0})
local zf = mk("f64", 1.5, -2)
USERDATA.clear(zf)
check(zf, {0.0, 0.0})
assert(none(USERDATA.clear(5)) and none(USERDATA.clear()))

print("ok")
