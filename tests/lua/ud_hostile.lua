-- Hostile arguments to every typed-userdata function: huge, negative, NaN and infinite
-- sizes, offsets, strides and counts, mismatched shapes and types, small destinations.
-- Nothing may raise an error, crash or touch memory outside an operand (run it under
-- AddressSanitizer), and every call must end promptly.
local NaN = math.huge - math.huge
local function none(...) return select('#', ...) == 0 end
local function elems(u) return table.concat({get(u)}, ",") end

-- sizes
local sizes = {0, -1, 1, 2^31 - 1, -2^31, 2^31, 2^32, 2^32 + 1, 4294967295, 4294967297,
  2^53, 2^63, -2^63, math.maxinteger, math.mininteger, NaN, math.huge, -math.huge, 1e300,
  0.5, -0.5, 16777217, 65536, 65537, "16", {}, true}
for _, t in ipairs({"u8", "i16", "i32", "i64", "f64", "[gfx]zzzz", "[gfx]ffff0"}) do
  for _, w in ipairs(sizes) do
    for _, h in ipairs(sizes) do
      local ok, u = pcall(userdata, t, w, h)
      assert(ok, u)
      assert(u == nil or #u <= 16777216)
      ok, u = pcall(userdata, t, w, h, "ffff")
      assert(ok, u)
    end
  end
end
assert(none(userdata("u8", 65536, 65537)) and none(userdata("i64", 2^31 - 1, 2^31 - 1)))
assert(none(userdata("u8", 2^32 + 1)), "not wrapped to 1")
collectgarbage()

-- element-wise spans that could wrap or overrun
local a = userdata("u8", 10)
local b = userdata("u8", 4)
for i = 0, 3 do b[i] = 9 end
local big = {2^31 - 1, -2^31, 2^31, 2^32, 2^32 + 3, -2^32, 2^63, -2^63, math.maxinteger,
  math.mininteger, NaN, math.huge, -math.huge, 16777216}
for _, v in ipairs(big) do
  for pos = 4, 9 do
    local args = {b, true, nil, nil, nil, nil, nil, nil}
    args[pos - 1] = v
    local ok, r = pcall(a.add, a, table.unpack(args, 1, 8))
    assert(ok and r == a, tostring(v) .. " at " .. pos)
    ok = pcall(a.copy, a, table.unpack(args, 1, 8))
    assert(ok)
  end
end
-- huge strides with several spans stay inside: only the first span can touch a
a = userdata("u8", 10)
a:add(1, true, 0, 0, 2, 1, 2^31 - 1, 3)
assert(elems(a) == "1,1,0,0,0,0,0,0,0,0")
a:add(1, true, 0, 2^31 - 1, 2, 1, 1, 3)
a:add(1, true, 0, -2^31, 2^31 - 1, 1, 1, 3)
a:add(b, true, 2^31 - 1, 0, 10, -2^31, 1, 3)
assert(elems(a) == "1,1,0,0,0,0,0,0,0,0")
-- a length larger than the operands, a b smaller than a
a:add(b, true, 0, 0, 2^31 - 1)
assert(elems(a) == "10,10,9,9,0,0,0,0,0,0")
-- a destination smaller than a, or with smaller elements, is refused
assert(none(userdata("i16", 10):add(1, userdata("u8", 10))))
assert(none(userdata("u8", 10):add(1, userdata("u8", 5))))
assert(none(userdata("u8", 4, 4):add(1, userdata("u8", 16))))
assert(none(userdata("f64", 3):add(1, userdata("i32", 3))))
assert(none(userdata("i16", 3):add(userdata("u8", 3))))
assert(none(userdata("f64", 3):shl(userdata("f64", 3))))

-- take: hostile index values, offsets, strides, spans and counts
local src = userdata("u8", 8)
for i = 0, 7 do src[i] = i + 1 end
local idx = userdata("i32", 6)
set(idx, 0, -2147483648, 2147483647, -1, 8, 7, 0)
for _, v in ipairs(big) do
  for pos = 4, 9 do
    local args = {nil, nil, nil, nil, nil, nil}
    args[pos - 3] = v
    local dest = userdata("u8", 3)
    local ok, r = pcall(src.take, src, idx, dest, table.unpack(args, 1, 6))
    assert(ok and r == dest, tostring(v) .. " at " .. pos)
    ok = pcall(src.take, src, idx, nil, table.unpack(args, 1, 6))
    assert(ok)
    ok = pcall(src.take, src, idx, true, table.unpack(args, 1, 6))
    assert(ok)
  end
end
for i = 0, 7 do src[i] = i + 1 end -- the in-place calls above rewrote it
local d = userdata("u8", 3)
src:take(idx, d, 0, 0, 1)
assert(elems(d) == "0,0,0", "indices outside the source copy nothing")
src:take(idx, d, 4, 0, 2^31 - 1)
assert(elems(d) == "8,0,0", "dest stride defaults to the span")
src:take(idx, d, 5, 2, 2^31 - 1, 0, 2^31 - 1, 2^31 - 1)
assert(elems(d) == "8,0,1")
d = userdata("u8", 3)
src:take(idx, d, 5, 1, 1, 0, 1, 2^31 - 1)       -- stride 0, huge count: bounded
assert(elems(d) == "0,1,1")
d = userdata("u8", 3)
src:take(idx, d, 5, -2^31, 1, 0, 1, 2^31 - 1)
assert(elems(d) == "0,0,0")
-- a destination of another element type is bounded by its own bytes
local d16 = userdata("i16", 2)
src:take(userdata("i32", 10), d16, 0, 0, 2^31 - 1)
assert(elems(d16) == "513,1027")
local d64 = userdata("f64", 1)
userdata("u8", 100):take(userdata("i32", 100), d64, 0, 0, 50)
assert(none(src:take(idx, nil, 0, 0, 2^31 - 1)), "the new destination would be too large")

-- get, set, index with hostile positions and counts
local u = userdata("i16", 4, 4)
for _, v in ipairs(big) do
  assert(pcall(get, u, v))
  assert(pcall(get, u, 0, v))
  assert(pcall(get, u, 0, 0, v))
  assert(pcall(set, u, v, 0, 1))
  assert(pcall(set, u, 0, v, 1))
  assert(pcall(function() return u[v] end))
  assert(pcall(function() u[v] = 1 end))
end
assert(elems(u) == "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0")

-- peek and poke clip offset plus count
local p = userdata("u8", 4)
for _, v in ipairs(big) do
  assert(pcall(p.peek, p, 0x20000, v))
  assert(pcall(p.peek, p, 0x20000, 0, v))
  assert(pcall(p.poke, p, 0x20000, v, v))
  assert(pcall(p.poke, p, v, 2^31 - 1, 2^31 - 1))
end

-- sort, convert, lerp, blit, mutate and the vector functions
for _, v in ipairs(big) do
  assert(pcall(userdata("u8", 4, 4).sort, userdata("u8", 4, 4), v, v))
  local l = userdata("u8", 10)
  assert(pcall(l.lerp, l, v, v, v, v))
  assert(pcall(l.lerp, l, 0, 3, v, v))
  assert(pcall(l.lerp, l, v, 3, 0, v))
  local s1, s2 = userdata("u8", 4, 4), userdata("u8", 3, 5)
  assert(pcall(s1.blit, s1, s2, v, v, v, v, v, v))
  assert(pcall(s1.blit, s1, s2, 0, 0, v, 0, v, v))
  assert(pcall(s1.blit, s1, s1, v, 1, 1, v, 2^31 - 1, 2^31 - 1))
  assert(pcall(s1.mutate, s1, "i64", v, v))
  assert(pcall(s1.row, s1, v) and pcall(s1.column, s1, v))
  assert(pcall(s1.mutate, s1, "i16", v))
end
local f1, f3, f34, f44 = vec(1), vec(1, 2, 3), userdata("f64", 3, 4), userdata("f64", 4, 4)
local nanv = vec(NaN, math.huge, -math.huge, 0)
for _, x in ipairs({f1, f3, f34, f44, nanv, userdata("u8", 3), 5}) do
  for _, y in ipairs({f1, f3, f34, f44, nanv, userdata("i64", 4), "x"}) do
    for _, z in ipairs({true, f1, f3, f34, f44, nanv}) do
      for _, fn in ipairs({"cross", "matmul", "matmul3d", "matmul2d", "dot", "distance"}) do
        assert(pcall(USERDATA[fn], x, y, z))
        assert(pcall(USERDATA[fn], x, y))
      end
    end
    assert(pcall(USERDATA.magnitude, x) and pcall(USERDATA.transpose, x))
  end
end
nanv:sort()
nanv:sort(0, true)
nanv:convert("u8", true)
nanv:convert("i32")

-- random calls over every function with mixed arguments
math.randomseed(12345)
local ops = {"sort", "convert", "copy", "take", "clear", "add", "sub", "mul", "div", "idiv",
  "mod", "pow", "band", "bor", "bxor", "shl", "shr", "max", "min", "abs", "sgn", "sgn0",
  "__len", "__tostring", "__index", "__newindex", "set", "get", "blit", "peek", "poke", "width",
  "height", "attribs", "mutate", "lerp", "magnitude", "distance", "dot", "cross", "matmul",
  "matmul3d", "matmul2d", "transpose", "row", "column"}
local operands = {
  userdata("u8", 16), userdata("u8", 4, 4), userdata("i16", 3), userdata("i32", 5),
  userdata("i64", 7), userdata("f64", 3), userdata("f64", 3, 4), userdata("i32", 2, 2), vec(1, 2),
}
set(operands[4], 0, -2147483648, 2147483647, -1, 0, 3)
set(operands[8], 0, 0, 5, -7, 100000, 1)
local pool = {0, 1, -1, 2, 3, 16, 255, 256, 2^31 - 1, -2^31, 2^32, 2^63, -2^63, NaN,
  math.huge, -math.huge, 0.5, -0.5, "x", "12", {}, true, false}
local counts = {0, 1, -1, 2, 3, 16, -2^31, NaN, -math.huge, 0.5, "x", true, false}
local function pick(i)
  local r = math.random(1, 10)
  if r <= 3 then return operands[math.random(1, #operands)] end
  if r == 4 then return nil end
  if i == 9 then return counts[math.random(1, #counts)] end
  return pool[math.random(1, #pool)]
end
local globals = {userdata = userdata, vec = vec, get = get, set = set}
for _, g in ipairs({"userdata", "vec", "get", "set"}) do ops[#ops + 1] = g end
local texts = {"ff00ff00", "hex:0", "1,2,3)", "[gfx]0202zz", "[gfx]ffff", "f64", "i16", "u8", "x"}
for iter = 1, 30000 do
  local name = ops[math.random(1, #ops)]
  local n = math.random(0, 9)
  local args = {}
  for i = 1, n do args[i] = pick(i) end
  if name == "userdata" and n >= 1 then args[1] = texts[math.random(1, #texts)] end
  if name == "userdata" and n >= 4 then args[4] = texts[math.random(1, #texts)] end
  local ok, err = pcall(globals[name] or USERDATA[name], table.unpack(args, 1, n))
  assert(ok, name .. ": " .. tostring(err))
  if iter % 500 == 0 then
    -- operands keep their shapes sane for the next round
    for i, o in ipairs(operands) do
      local _, _, t = o:attribs()
      if #o > 64 then operands[i] = userdata(t, 16) end
    end
  end
end

print("ok")
