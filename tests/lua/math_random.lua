-- math.random and math.randomseed: xoshiro256** with the reference seeding and projection.
-- The expected sequences are those a stock Lua 5.4 gives; this script runs under both.

local function err(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

local function eq(got, want, what)
  if got ~= want or math.type(got) ~= math.type(want) then
    error(("%s: got %s, want %s"):format(what or "value", tostring(got), tostring(want)), 2)
  end
end

local a, b = math.randomseed(42)
eq(a, 42); eq(b, 0)
local t = {}
for i = 1, 5 do t[#t + 1] = math.random(0) end
for i = 1, 5 do t[#t + 1] = math.random(1, 100) end
for i = 1, 3 do t[#t + 1] = string.format("%.17g", math.random()) end
for i = 1, 3 do t[#t + 1] = math.random(7) end
for i = 1, 3 do t[#t + 1] = math.random(-10, 10) end
for i = 1, 2 do t[#t + 1] = math.random(math.mininteger, math.maxinteger) end
for i = 1, 2 do t[#t + 1] = math.random(0, 1 << 40) end
eq(table.concat(t, ", "),
   "-1276290044721465627, 8333941968102511665, -8358531260401861301, -3807604385970496171, " ..
   "-7059243630996204619, 64, 7, 25, 3, 24, 0.46350184055174848, 0.07324191434827243, " ..
   "0.042617620006012435, 7, 6, 1, -1, -2, 2, -6231897288346500571, -1024037052410570872, " ..
   "68261882563, 497345298586")

a, b = math.randomseed(7, 9)
eq(a, 7); eq(b, 9)
eq(math.random(1000), 665)
a, b = math.randomseed(-1, -2)
eq(a, -1); eq(b, -2)
eq(math.random(0), 936461636035886155)
a, b = math.randomseed(42, nil)
eq(b, 0, "nil second seed is 0")
eq(math.random(0), -1276290044721465627)

-- the same seed gives the same sequence
math.randomseed(123)
local s1 = {}
for i = 1, 20 do s1[i] = math.random(1, 6) end
math.randomseed(123)
for i = 1, 20 do eq(math.random(1, 6), s1[i]) end

-- ranges
math.randomseed(1)
for _ = 1, 1000 do
  local x = math.random()
  assert(x >= 0 and x < 1 and math.type(x) == "float")
  local y = math.random(3)
  assert(y >= 1 and y <= 3 and math.type(y) == "integer")
  local z = math.random(-3, 2)
  assert(z >= -3 and z <= 2)
  local w = math.random(5, 8)  -- an interval of a power-of-two size
  assert(w >= 5 and w <= 8)
end
eq(math.random(3, 3), 3)
eq(math.random(math.maxinteger, math.maxinteger), math.maxinteger)
eq(math.random(math.mininteger, math.mininteger), math.mininteger)
local seen = {}
for _ = 1, 200 do seen[math.random(4)] = true end
assert(seen[1] and seen[2] and seen[3] and seen[4])
local neg = false
for _ = 1, 100 do if math.random(0) < 0 then neg = true end end
assert(neg, "random(0) uses all 64 bits")

-- errors
eq(err(math.random, 2, 1), "bad argument #1 to 'math.random' (interval is empty)")
eq(err(math.random, -1), "bad argument #1 to 'math.random' (interval is empty)")
eq(err(math.random, 1, 2, 3), "wrong number of arguments")
eq(err(math.random, 1.5), "bad argument #1 to 'math.random' (number has no integer representation)")
eq(err(math.random, "x"), "bad argument #1 to 'math.random' (number expected, got string)")
eq(err(math.randomseed, 1.5), "bad argument #1 to 'math.randomseed' (number has no integer representation)")
eq(math.random(3.0, 3), 3, "integral floats are accepted")

-- reseeding without arguments returns the two seeds it used
a, b = math.randomseed()
eq(math.type(a), "integer"); eq(math.type(b), "integer")

print("ok")
