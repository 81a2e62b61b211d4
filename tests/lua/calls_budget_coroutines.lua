-- args: --budget 50
-- Forced yields inside coroutines: the parent's resume returns true alone, the coroutine stays
-- suspended, and a later resume continues it (values sent with that resume are dropped).
local function busy(n) local s = 0 for i = 1, n do s = s + i end return s end
local co = coroutine.create(function(a)
  local s = busy(200) + a
  local b = coroutine.yield(s)
  return s + b + busy(100)
end)
local r = table.pack(coroutine.resume(co, 5))
assert(r[1] == true and r.n == 1, "forced yield expected")
assert(coroutine.status(co) == "suspended")
local forced = 1
while r.n == 1 do
  r = table.pack(coroutine.resume(co, "dropped", "too"))
  assert(r[1] == true)
  if r.n == 1 then forced = forced + 1 end
end
assert(r[2] == 20105 and forced > 2)
-- answer the explicit yield
r = table.pack(coroutine.resume(co, 1000))
while r.n == 1 do r = table.pack(coroutine.resume(co, -1)) end
assert(r[1] == true and r[2] == 20105 + 1000 + 5050 and coroutine.status(co) == "dead")

-- a wrapped generator: forced yields show up as calls returning nothing
local gen = coroutine.wrap(function()
  for i = 1, 5 do busy(30) coroutine.yield(i) end
  return "end"
end)
local got = {}
while true do
  local v = gen()
  if v ~= nil then
    got[#got + 1] = v
    if v == "end" then break end
  end
end
assert(table.concat(got, ",") == "1,2,3,4,5,end")

-- nested coroutines: the inner one is interrupted, the outer one sees true alone
local inner = coroutine.create(function() return busy(300) end)
local outer = coroutine.create(function()
  local res
  repeat
    local t = table.pack(coroutine.resume(inner))
    if t.n > 1 then res = t[2] end
  until res
  return res
end)
local res
repeat
  local t = table.pack(coroutine.resume(outer))
  assert(t[1])
  if t.n > 1 then res = t[2] end
until res
assert(res == 45150)

-- a pcall inside a coroutine interrupted by forced yields, then failing
co = coroutine.create(function()
  local ok, e = pcall(function() busy(200) error("late", 0) end)
  return ok, e, busy(10)
end)
repeat r = table.pack(coroutine.resume(co)) until r.n > 1
assert(r[1] == true and r[2] == false and r[3] == "late" and r[4] == 55)

-- an error thrown after a forced yield inside a metamethod called by the coroutine
local mt = {__index = function(t, k) busy(100) error("idx " .. k, 0) end}
co = coroutine.create(function() return setmetatable({}, mt).field end)
repeat r = table.pack(coroutine.resume(co)) until r.n > 1
assert(r[1] == false and r[2] == "idx field" and coroutine.status(co) == "dead")
print("ok")
