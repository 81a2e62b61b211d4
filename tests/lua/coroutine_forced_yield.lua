-- args: --budget 50
-- A coroutine that runs out of the slice's budget is yielded by force: resume returns true
-- alone, a wrapped function nothing, the coroutine stays suspended and continues where it
-- stopped; values passed with the resume that continues it are dropped.

local stop = false
local spins = 0
local co = coroutine.create(function(a)
  assert(a == "first")
  while not stop do spins = spins + 1 end
  local x = coroutine.yield("voluntary")
  return "finished", x
end)

local r = table.pack(coroutine.resume(co, "first"))
assert(r.n == 1 and r[1] == true, "forced yield should give true alone")
assert(coroutine.status(co) == "suspended")

-- the flag the kernel reads: set in the coroutine that was stopped
do
  local probe = coroutine.create(function()
    while not stop do end
    return _yielded_to_escape_slice()
  end)
  assert(coroutine.resume(probe))
  assert(coroutine.status(probe) == "suspended")
  stop = true
  local rr
  repeat rr = table.pack(coroutine.resume(probe)) until coroutine.status(probe) == "dead"
  assert(rr[1] == true and rr[2] == true)
  stop = false
end

-- resuming continues the loop (at least one instruction each time); these values go nowhere
repeat
  r = table.pack(coroutine.resume(co, "dropped", "too"))
  assert(r.n == 1 and r[1] == true and coroutine.status(co) == "suspended")
until spins > 10

stop = true
repeat
  r = table.pack(coroutine.resume(co, "dropped again"))
until r.n > 1
assert(r[2] == "voluntary", tostring(r[2]))
repeat
  r = table.pack(coroutine.resume(co, "kept"))
until coroutine.status(co) == "dead"
assert(r[1] == true and r[2] == "finished" and r[3] == "kept", tostring(r[3]))

-- a wrapped function returns nothing at a forced yield
stop = false
local w = coroutine.wrap(function()
  while not stop do end
  return "w done"
end)
assert(select("#", w()) == 0)
stop = true
local v
repeat v = table.pack(w()) until v.n > 0
assert(v[1] == "w done")

-- nested: the inner coroutine's forced yield reaches the middle one as true alone, and the
-- middle one is stopped in turn at its next instruction
stop = false
local seen
local inner = coroutine.create(function() while not stop do end return "inner" end)
local middle = coroutine.create(function()
  local rr = table.pack(coroutine.resume(inner))
  seen = rr
  while coroutine.status(inner) ~= "dead" do
    stop = true
    rr = table.pack(coroutine.resume(inner))
  end
  return rr[2]
end)
r = table.pack(coroutine.resume(middle))
assert(r.n == 1 and r[1] == true and coroutine.status(middle) == "suspended")
repeat r = table.pack(coroutine.resume(middle)) until coroutine.status(middle) == "dead"
assert(seen.n == 1 and seen[1] == true)
assert(r[1] == true and r[2] == "inner")

-- the main thread itself is stopped transparently many times over
local n = 0
for i = 1, 20000 do n = n + i end
assert(n == 200010000)

print("ok")
