-- Vector and matrix services: peek/poke, mutate, lerp, magnitude, distance, dot, cross,
-- matmul, matmul3d, matmul2d, transpose, row, column and blit.
local function none(...) return select('#', ...) == 0 end
local function mk(t, ...)
  local v = {...}
  local u = userdata(t, #v)
  set(u, 0, ...)
  return u
end
local function mat(w, h, ...)
  local m = userdata("f64", w, h)
  set(m, 0, 0, ...)
  return m
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
local function shape(u) return table.concat({u:attribs()}, " ") end

-- poke and peek through process memory
local u = mk("u8", 1, 2, 3, 4)
assert(u:poke(0x10000) == u)
local r = userdata("u8", 4)
assert(r:peek(0x10000) == r)
check(r, {1, 2, 3, 4}, "u8 round trip")
local w16 = mk("i16", -2, 300)
w16:poke(0x10100)
check(userdata("u8", 4):peek(0x10100), {0xfe, 0xff, 0x2c, 0x01}, "little-endian")
check(userdata("i16", 2):peek(0x10100), {-2, 300}, "i16 sign-extends")
mk("i32", -5, 70000):poke(0x10200)
check(userdata("i32", 2):peek(0x10200), {-5, 70000})
mk("i64", math.mininteger, 12345678901):poke(0x10300)
check(userdata("i64", 2):peek(0x10300), {math.mininteger, 12345678901})
r = userdata("u8", 4)
r:peek(0x10000, 1, 2)
check(r, {0, 1, 2, 0}, "offset and count")
r = userdata("u8", 4)
r:peek(0x10000, 2, 100)
check(r, {0, 0, 1, 2}, "count clipped to the elements")
r = userdata("u8", 4)
r:peek(0x10000, -2, 4)
check(r, {3, 4, 0, 0}, "negative offset clips, the address follows")
mk("u8", 9, 9, 9, 9):poke(0x10400, -2, 4)
check(userdata("u8", 4):peek(0x10400), {0, 0, 9, 9}, "poke clipped")
mk("u8", 7):poke(0x10500, 5, 10)
check(userdata("u8", 1):peek(0x10500), {0}, "offset past the end writes nothing")
mk("u8", 5, 6):poke(0x1fff)                    -- across a page boundary
check(userdata("u8", 2):peek(0x1fff), {5, 6})
assert(none(vec(1):peek(0)) and none(vec(1):poke(0)))
assert(none(USERDATA.peek(5, 0)))

-- mutate
u = mk("u8", 1, 0, 2, 0, 3, 0, 4, 0)
assert(none(u:mutate("i16")))
assert(shape(u) == "4 1 i16 1")
check(u, {1, 2, 3, 4}, "reinterpreted")
assert(u:mutate("f64") == "can not mutate between integer and float data types")
assert(vec(1):mutate("u8") == "can not mutate between integer and float data types")
assert(u:mutate("i16", 5) == "new size is larger than old size")
assert(none(u:mutate("u8", 2, 4)))
assert(shape(u) == "2 4 u8 2")
assert(none(u:mutate("i64", 1)))
assert(shape(u) == "1 1 i64 1" and u[0] == 0x0004000300020001)
assert(none(u:mutate()))
local m2 = userdata("u8", 4, 2)
assert(none(m2:mutate("i16")))
assert(shape(m2) == "2 2 i16 2", "rows keep their byte length")
assert(none(m2:mutate("u8", 0)) and shape(m2) == "2 2 i16 2")
assert(userdata("u8", 3, 2):mutate("i64") == "new size is larger than old size")
assert(userdata("u8", 4):mutate("i64") == "new size is larger than old size")
assert(none(USERDATA.mutate(5, "u8")))

-- lerp
local v = vec(0, 0, 0, 0, 10)
assert(v:lerp() == v)
check(v, {0.0, 2.5, 5.0, 7.5, 10.0})
check(mk("u8", 0, 0, 0, 0, 255):lerp(), {0, 64, 128, 191, 255}, "rounded")
check(mk("i16", 100, 0, -100):lerp(), {100, 0, -100})
local lm = mat(3, 2, 0, 0, 2, 10, 0, 20)
lm:lerp()
check(lm, {0.0, 1.0, 2.0, 10.0, 15.0, 20.0}, "each row")
v = vec(0, 1, 0, 5, 9)
v:lerp(1, 3)
check(v, {0.0, 1.0, 3.0, 5.0, 9.0}, "offset and length")
v = vec(0, 9, 4, 9, 8)
v:lerp(0, 3, 2, 2)
check(v, {0.0, 2.0, 4.0, 6.0, 8.0}, "stride and runs")
v = vec(1, 2, 3)
v:lerp(2, 3)
check(v, {1.0, 2.0, 3.0}, "a run past the end is left alone")

-- magnitude, distance, dot
assert(vec(3, 4):magnitude() == 5)
assert(mat(2, 2, 3, 4, 100, 100):magnitude() == 5, "first width elements")
assert(none(mk("u8", 3, 4):magnitude()))
assert(vec(1, 1):distance(vec(4, 5)) == 5)
assert(vec(1, 1, 100):distance(vec(4, 5)) == 5, "over the smaller width")
assert(vec(1, 2, 3):dot(vec(4, 5, 6)) == 32)
assert(vec(1, 2):dot(vec(4, 5, 6)) == 14)
assert(none(vec(1):dot(mk("i32", 1))) and none(vec(1):distance(5)) and none(USERDATA.dot(5, 5)))

-- cross
check(vec(1, 0, 0):cross(vec(0, 1, 0)), {0.0, 0.0, 1.0})
check(vec(2, 3, 4, 99):cross(vec(5, 6, 7)), {-3.0, 6.0, -3.0})
local a = vec(1, 0, 0)
assert(a:cross(vec(0, 0, 1), true) == a)
check(a, {0.0, -1.0, 0.0}, "in place")
local d = userdata("f64", 4)
assert(vec(0, 1, 0):cross(vec(1, 0, 0), d) == d)
check(d, {0.0, 0.0, -1.0, 0.0})
assert(none(vec(1, 2):cross(vec(1, 2, 3))) and none(vec(1, 2, 3):cross(mk("u8", 1, 2, 3))))
assert(none(vec(1, 2, 3):cross(vec(1, 2, 3), userdata("f64", 2))))

-- matmul
local A = mat(3, 2, 1, 2, 3, 4, 5, 6)
local B = mat(2, 3, 7, 8, 9, 10, 11, 12)
local C = A:matmul(B)
assert(shape(C) == "2 2 f64 2")
check(C, {58.0, 64.0, 139.0, 154.0})
assert(none(A:matmul(A)), "width must equal the other's height")
local M = mat(2, 2, 1, 2, 3, 4)
assert(M:matmul(M, true) == M)
check(M, {7.0, 10.0, 15.0, 22.0}, "in place reads a copy")
M = mat(2, 2, 1, 2, 3, 4)
local N = mat(2, 2, 0, 1, 1, 0)
assert(M:matmul(N, N) == N)
check(N, {2.0, 1.0, 4.0, 3.0}, "destination is the second operand")
local rv = vec(1, 2):matmul(mat(2, 2, 1, 2, 3, 4))
assert(shape(rv) == "2 1 f64 1", "a row vector gives a vector")
check(rv, {7.0, 10.0})
assert(none(A:matmul(B, userdata("f64", 3, 3))))
assert(none(A:matmul(mk("u8", 1))))

-- matmul3d and matmul2d
local T = mat(3, 4, 1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 20, 30)
check(vec(1, 2, 3):matmul3d(T), {11.0, 22.0, 33.0})
local pts = mat(3, 2, 1, 2, 3, 4, 5, 6)
local moved = pts:matmul3d(T)
check(moved, {11.0, 22.0, 33.0, 14.0, 25.0, 36.0}, "each row is a point")
check(pts, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0})
local S = mat(3, 4, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0)
assert(pts:matmul3d(S, true) == pts)
check(pts, {2.0, 6.0, 12.0, 8.0, 15.0, 24.0}, "in place")
local R = mat(3, 4, 0, 1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0)
check(vec(1, 0, 5):matmul3d(R), {0.0, 1.0, 5.0}, "rotation about z")
check(vec(1, 2, 3, 7):matmul3d(T), {11.0, 22.0, 33.0, 7.0}, "extra columns kept")
assert(none(vec(1, 2):matmul3d(T)) and none(vec(1, 2, 3):matmul3d(mat(3, 3))))
local T2 = mat(2, 3, 0, 1, -1, 0, 5, 5)
check(vec(1, 2):matmul2d(T2), {3.0, 6.0})
check(mat(2, 2, 1, 2, 0, 0):matmul2d(T2), {3.0, 6.0, 5.0, 5.0})
assert(none(vec(1):matmul2d(T2)) and none(vec(1, 2):matmul2d(mat(2, 2))))

-- transpose, row, column
local t = A:transpose()
assert(shape(t) == "2 3 f64 2")
check(t, {1.0, 4.0, 2.0, 5.0, 3.0, 6.0})
local tu = mk("u8", 1, 2, 3):transpose()
assert(shape(tu) == "1 3 u8 2")
check(tu, {1, 2, 3})
check(A:row(1), {4.0, 5.0, 6.0})
assert(shape(A:row(0)) == "3 1 f64 1")
check(A:column(2), {3.0, 6.0})
check(A:column(), {1.0, 4.0})
assert(none(A:row(2)) and none(A:row(-1)) and none(A:column(3)) and none(A:column(-1)))
assert(none(A:row(2^32)))

-- blit
local src = userdata("u8", 4, 4)
for i = 0, 15 do src[i] = i end
local dst = userdata("u8", 8, 8)
src:blit(dst, 1, 1, 2, 3, 2, 2)
assert(dst[3 * 8 + 2] == 5 and dst[3 * 8 + 3] == 6 and dst[4 * 8 + 2] == 9 and dst[4 * 8 + 3] == 10)
local n = 0
for i = 0, 63 do if dst[i] ~= 0 then n = n + 1 end end
assert(n == 4)
dst = userdata("u8", 8, 8)
src:blit(dst, 0, 0, -1, -1, 4, 4)
assert(dst[0] == 5 and dst[2] == 7 and dst[16] == 13 and dst[3] == 0 and dst[24] == 0)
dst = userdata("u8", 8, 8)
src:blit(dst, 0, 0, 6, 6)
assert(dst[6 * 8 + 6] == 0 and dst[6 * 8 + 7] == 1 and dst[7 * 8 + 7] == 5)
src:blit(src, 0, 0, 1, 1, 3, 3)
check(src, {0, 1, 2, 3, 4, 0, 1, 2, 8, 4, 5, 6, 12, 8, 9, 10}, "overlapping blit")
assert(none(src:blit(userdata("i16", 4, 4))) and none(src:blit(5)))

print("ok")
