-- Tables: key normalisation, borders, traversal while clearing, and the error messages.

local t = {}
t[1.0] = "one"
assert(t[1] == "one" and next(t) == 1 and math.type(next(t)) == "integer")
t[2^53] = "big"
assert(t[math.tointeger(2^53)] == "big")
t[-0.0] = "zero"
assert(t[0] == "zero")
t[math.mininteger + 0.0] = "min"
assert(t[math.mininteger] == "min")
t[2^63] = "float"
assert(t[2^63] == "float" and t[math.maxinteger] == nil)
for k in pairs(t) do
  if k == 2^63 then assert(math.type(k) == "float") end
end

local ok, err = pcall(function() local u = {}; u[nil] = 1 end)
assert(not ok and err:find("index is nil"), err)
ok, err = pcall(function() local u = {}; u[math.huge - math.huge] = 1 end)
assert(not ok and err:find("index is NaN"), err)
ok, err = pcall(rawset, {}, nil, 1)
assert(not ok and err:find("index is nil"), err)
assert(({})[nil] == nil and ({})[math.huge * 0] == nil)

-- Borders.
local a = {1, 2, 3, 4}
a[4] = nil
assert(#a == 3)
a = {}
for i = 1, 100 do a[i] = i end
assert(#a == 100)
for i = 51, 100 do a[i] = nil end
assert(#a == 50)
a[51] = 51
assert(#a == 51)
local h = {}
h[1], h[2], h[3] = 1, 2, 3   -- filled through the hash part
assert(#h == 3)
local big = {n = 1}
for i = 1, 1000 do big[i] = true end
assert(#big == 1000)
assert(#{nil} == 0 and #{} == 0)

-- Mixed keys survive many rehashes.
local m = {}
for i = 1, 500 do
  m[i] = i
  m["s" .. i] = -i
  m[i + 0.5] = i * 2
end
for i = 1, 500 do
  assert(m[i] == i and m["s" .. i] == -i and m[i + 0.5] == i * 2)
end
assert(#m == 500)

-- Traversal visits every entry once, also while entries are cleared.
local count, sum = 0, 0
for k, v in pairs(m) do
  count = count + 1
  if type(k) == "string" then m[k] = nil end
end
assert(count == 1500)
for k in pairs(m) do assert(type(k) == "number") end
ok, err = pcall(next, {}, "absent")
assert(not ok and err:find("invalid key to 'next'"), err)
ok, err = pcall(next, {10, 20}, 3)
assert(not ok and err:find("invalid key to 'next'"), err)
assert(next({}, nil) == nil)
assert(select("#", next({})) == 1)

-- Keys of every kind.
local f = function() end
local co = coroutine.create(f)
local keys = {true, false, f, co, print, "x", 1, 1.5, {}}
local kt = {}
for i, k in ipairs(keys) do kt[k] = i end
for i, k in ipairs(keys) do assert(kt[k] == i) end
local long = string.rep("L", 100)
kt[long] = "long"
assert(kt[string.rep("L", 100)] == "long")

-- Traversal goes on from keys that a collection left dead in their nodes.
local dk = {}
for i = 1, 300 do dk["s" .. i] = i; dk[i * 1.5] = i; dk[{}] = i; dk[-i] = i end
local seen, sum = 0, 0
for k, v in pairs(dk) do
  seen, sum = seen + 1, sum + v
  dk[k] = nil
  if seen % 50 == 0 then collectgarbage() end
end
assert(seen == 1200 and sum == 4 * 45150 and next(dk) == nil)

print("ok")
