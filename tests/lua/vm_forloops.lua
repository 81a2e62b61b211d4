-- Numeric and generic for loops, including float loops and the edges of the integer range.
local MAX, MIN = math.maxinteger, math.mininteger
local function count(a, b, c)
  local n, last = 0, nil
  if c then for i = a, b, c do n = n + 1; last = i end
  else for i = a, b do n = n + 1; last = i end end
  return n, last
end
assert(select(1, count(1, 10)) == 10)
assert(select(1, count(10, 1)) == 0)
assert(select(1, count(10, 1, -1)) == 10)
assert(select(1, count(1, 10, 3)) == 4 and select(2, count(1, 10, 3)) == 10)
-- no overflow at the ends of the range
local n, last = count(MAX - 2, MAX)
assert(n == 3 and last == MAX)
n, last = count(MIN + 2, MIN, -1)
assert(n == 3 and last == MIN)
n, last = count(MIN, MIN + 4, 2)
assert(n == 3 and last == MIN + 4)
n = count(MAX, MAX, MAX)
assert(n == 1)
n, last = count(MIN, MAX, MAX)
assert(n == 3 and last == MAX - 1)
n = count(MAX - 1, MAX, MIN)
assert(n == 0)
n, last = count(0, MIN, MIN)
assert(n == 2 and last == MIN)
-- float limits with an integer loop: floor or ceil, out of range clipped
n, last = count(1, 3.7)
assert(n == 3 and last == 3 and math.type(last) == "integer")
n, last = count(3, 1.2, -1)
assert(n == 2 and last == 2)
n = count(1, -1e300)
assert(n == 0)
n = count(1, 1e300, -1)
assert(n == 0)
n, last = count(MAX - 1, 1e300)
assert(n == 2 and last == MAX)
n, last = count(MIN + 1, -1e300, -1)
assert(n == 2 and last == MIN)
n = count(1, "3")
assert(n == 3)
-- float loops
n, last = count(1.0, 2.0, 0.25)
assert(n == 5 and last == 2.0 and math.type(last) == "float")
n, last = count(0.1, 1.0, 0.1)
assert(n >= 9 and n <= 10)
n, last = count(1, 0, -0.5)
assert(n == 3 and last == 0.0)
n, last = count("1", 3)
assert(n == 3 and math.type(last) == "float")
n = count(1.5, 1.0)
assert(n == 0)
-- errors
local ok, msg = pcall(count, 1, 10, 0)
assert(not ok and msg:find("'for' step is zero"))
ok, msg = pcall(count, 1.0, 10, 0.0)
assert(not ok and msg:find("'for' step is zero"))
ok, msg = pcall(count, 1, {}, 1)
assert(not ok and msg:find("'for' limit must be a number") or msg:find("bad 'for' limit %(number expected, got table%)"), msg)
ok, msg = pcall(count, 1.0, 2, "x")
assert(not ok and msg:find("bad 'for' step %(number expected, got string%)"), msg)
ok, msg = pcall(count, {}, 2, 1.0)
assert(not ok and msg:find("bad 'for' initial value %(number expected, got table%)"), msg)
-- the control variable is a copy
local s = 0
for i = 1, 3 do i = i * 10; s = s + i end
assert(s == 60)
-- closures capture a fresh variable per iteration
local fs = {}
for i = 1, 3 do fs[i] = function() return i end end
assert(fs[1]() == 1 and fs[3]() == 3)
-- debug.setlocal on the hidden state: a value of the loop's own kind steers it as in standard
-- Lua (index, remaining count, step of an integer loop; index, limit, step of a float one)
local function steer(slot, value, a, b, c)
  local seen = {}
  for i = a, b, c do
    seen[#seen + 1] = i
    if #seen == 1 then assert(debug.setlocal(1, 6 + slot, value) == "(for state)") end
  end
  return table.concat(seen, " ")
end
assert(steer(1, 10, 1, 20, 1) == "1 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29")
assert(steer(2, 1, 1, 20, 1) == "1 2")
assert(steer(2, 0, 1, 20, 1) == "1")
assert(steer(3, 5, 1, 4, 1) == "1 6 11 16")
assert(steer(1, 3.0, 0.5, 5.5, 1.0) == "0.5 4.0 5.0")
assert(steer(2, 2.5, 0.5, 5.5, 1.0) == "0.5 1.5 2.5")
assert(steer(3, 2.0, 0.5, 5.5, 1.0) == "0.5 2.5 4.5")
assert(steer(3, -1.0, 0.5, 5.5, 1.0) == "0.5")

-- generic for: pairs, ipairs, custom iterators, to-be-closed state
local t = {10, 20, 30, x = 1}
local sum, keys = 0, 0
for k, v in pairs(t) do sum = sum + v; keys = keys + 1 end
assert(sum == 61 and keys == 4)
sum = 0
for i, v in ipairs(t) do sum = sum + i * v end
assert(sum == 140)
local function range(n)
  return function(_, i) if i < n then return i + 1 end end, nil, 0
end
sum = 0
for i in range(5) do sum = sum + i end
assert(sum == 15)
local closed = 0
do
  local mt = {__close = function() closed = closed + 1 end}
  for i in function(_, i) if i < 3 then return i + 1 end end, nil, 0, setmetatable({}, mt) do
    if i == 2 then break end
  end
end
assert(closed == 1)
-- iterator returning many values
local function multi() local done = false
  return function() if not done then done = true return 1, 2, 3, 4 end end end
for a, b, c, d in multi() do assert(a + b + c + d == 10) end
print("ok")
