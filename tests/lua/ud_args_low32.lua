-- Offsets, lengths, strides and span counts of the element-wise family, copy and take are
-- used as signed 32-bit integers: the low 32 bits of the value hvx_intp reads.
local function elems(u) return table.concat({get(u)}, ",") end
local function ramp(t, n)
  local u = userdata(t, n)
  for i = 0, n - 1 do u[i] = i end
  return u
end

-- element-wise: length 2^32 + 1 is 1, offset 2^32 + 2 is 2, offset 2^32 - 1 is -1
local a = userdata("u8", 6)
assert(a:add(1, true, 0, 0, 2^32 + 1) == a)
assert(elems(a) == "1,0,0,0,0,0", elems(a))
a = userdata("u8", 6)
a:add(1, true, 0, 2^32 + 2)
assert(elems(a) == "0,0,1,1,1,1", elems(a))
a = userdata("u8", 6)
a:add(1, true, 0, 4294967295, 4)            -- offset -1: 4 - 1 - 1 = 2 elements
assert(elems(a) == "1,1,0,0,0,0", elems(a))
a = userdata("u8", 6)
a:add(1, true, 0, 0, 2^32)                  -- length 0: nothing
assert(elems(a) == "0,0,0,0,0,0")
-- a stride of 2^32 + 2 is 2 and a span count of 2^32 + 3 is 3
a = userdata("u8", 8)
a:add(1, true, 0, 0, 1, 1, 2^32 + 2, 2^32 + 3)
assert(elems(a) == "1,0,1,0,1,0,0,0", elems(a))
-- floats are floored before their low bits are taken: 2^32 + 1.5 is 1
a = userdata("u8", 4)
a:add(1, true, 0, 0, 2^32 + 1.5)
assert(elems(a) == "1,0,0,0", elems(a))
-- b's offset and stride too
local b = ramp("u8", 8)
a = userdata("u8", 4)
a:add(b, true, 2^32 + 4, 0, 1, 2^32 + 2, 1, 2)
assert(elems(a) == "4,6,0,0", elems(a))
-- numeric strings count with their value
a = userdata("u8", 4)
a:add(1, true, "0", "1", "2")
assert(elems(a) == "0,1,1,0", elems(a))

-- copy: the same convention
a = userdata("u8", 6)
assert(a:copy(9, true, nil, 2^32 + 1, 2^32 + 2) == a)
assert(elems(a) == "0,9,9,0,0,0", elems(a))
a = userdata("u8", 6)
a:copy(ramp("u8", 6), true, 2^32 + 3, 0, 2^32 + 16)
assert(elems(a) == "3,4,5,0,0,0", elems(a))

-- take: idx_offset, dest_offset, span, strides and count
local src = ramp("u8", 10)
local idx = userdata("i32", 4)
set(idx, 0, 1, 3, 5, 7)
local d = src:take(idx, nil, 2^32 + 1)          -- idx_offset 1
assert(elems(d) == "3,5,7,0", elems(d))
d = src:take(idx, nil, 0, 2^32 + 1, 1, 1, 1, 2^32 + 2)  -- dest_offset 1, count 2
assert(elems(d) == "0,1,3,0", elems(d))
d = src:take(idx, nil, 0, 0, 2^32 + 2, 2^32 + 2)        -- span 2, idx_stride 2, 2 runs
assert(d:width() == 2 and d:height() == 4)
assert(elems(d) == "1,2,5,6,0,0,0,0", elems(d))
d = userdata("u8", 8)
src:take(idx, d, 0, 0, 1, 1, 2^32 + 2)                   -- dest_stride 2
assert(elems(d) == "1,0,3,0,5,0,7,0", elems(d))

-- peek and poke: offset and count
local p = ramp("u8", 4)
assert(p:poke(0x4000, 2^32 + 1, 2^32 + 2) == p)          -- elements 1 and 2
local q = userdata("u8", 4)
q:peek(0x4000)
assert(elems(q) == "1,2,0,0", elems(q))
print("ok")
