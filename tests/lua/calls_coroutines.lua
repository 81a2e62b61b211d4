-- Coroutines: resume/yield values, status, wrap, errors, yields across pcall and metamethods.
local co = coroutine.create(function(a, b)
  assert(coroutine.isyieldable())
  local c, d = coroutine.yield(a + b)
  local e = coroutine.yield(c * d)
  return e, "end"
end)
assert(coroutine.status(co) == "suspended")
local ok, v = coroutine.resume(co, 1, 2)
assert(ok and v == 3)
ok, v = coroutine.resume(co, 3, 4)
assert(ok and v == 12)
local ok2, r1, r2 = coroutine.resume(co, "x")
assert(ok2 and r1 == "x" and r2 == "end")
assert(coroutine.status(co) == "dead")
ok, v = coroutine.resume(co)
assert(not ok and v == "cannot resume dead coroutine")
-- resuming the running coroutine
local self
self = coroutine.create(function() return coroutine.resume(self) end)
local okr, okinner, msg = coroutine.resume(self)
assert(okr and not okinner and msg == "cannot resume non-suspended coroutine")
-- normal status of a resumer
local outer
outer = coroutine.create(function()
  local inner = coroutine.create(function() return coroutine.status(outer) end)
  return select(2, coroutine.resume(inner))
end)
assert(select(2, coroutine.resume(outer)) == "normal")
-- errors kill the coroutine
co = coroutine.create(function() error("oops", 0) end)
ok, v = coroutine.resume(co)
assert(not ok and v == "oops" and coroutine.status(co) == "dead")
co = coroutine.create(function() error({1}) end)
ok, v = coroutine.resume(co)
assert(not ok and type(v) == "table")
-- wrap
local gen = coroutine.wrap(function() for i = 1, 3 do coroutine.yield(i) end return "done" end)
assert(gen() == 1 and gen() == 2 and gen() == 3 and gen() == "done")
ok, v = pcall(gen)
assert(not ok and v:find("cannot resume dead coroutine"))
local bad = coroutine.wrap(function() error("wrapped", 0) end)
ok, v = pcall(bad)
assert(not ok and v == "wrapped")
-- yield across pcall, with an error after resumption caught by that pcall
co = coroutine.create(function()
  local ok3, e3 = pcall(function()
    local x = coroutine.yield("in pcall")
    error("after " .. x, 0)
  end)
  coroutine.yield(ok3, e3)
  local ok4, a4, b4 = pcall(function(...) return coroutine.yield(...) end, "p", "q")
  return ok4, a4, b4
end)
local _, y = coroutine.resume(co)
assert(y == "in pcall")
local _, okp, ep = coroutine.resume(co, "resume")
assert(okp == false and ep == "after resume")
local _, p1, p2 = coroutine.resume(co)
assert(p1 == "p" and p2 == "q")
local _, f1, f2, f3 = coroutine.resume(co, 7, 8)
assert(f1 == true and f2 == 7 and f3 == 8)
-- an error after a yield inside a pcall closes the pcall's to-be-closed variables first
local closedwith
co = coroutine.create(function()
  local ok3, e3 = pcall(function()
    local x <close> = setmetatable({}, {__close = function(_, err) closedwith = err end})
    coroutine.yield("waiting")
    error("fail", 0)
  end)
  return ok3, e3
end)
assert(select(2, coroutine.resume(co)) == "waiting")
local _, okc, ec = coroutine.resume(co)
assert(okc == false and ec == "fail" and closedwith == "fail")
-- yields inside metamethods and iterators
local mt = {__index = function(t, k) return coroutine.yield(k) end,
            __add = function(a, b) return coroutine.yield("add") end,
            __lt = function(a, b) return coroutine.yield("lt") end,
            __concat = function(a, b) return coroutine.yield("cat") end,
            __eq = function(a, b) return coroutine.yield("eq") end}
co = coroutine.wrap(function()
  local t = setmetatable({}, mt)
  local r = {}
  r[1] = t.field
  r[2] = t + 1
  r[3] = (t < t) and "yes" or "no"
  r[4] = "a" .. t .. "b"
  r[5] = (t == setmetatable({}, mt)) and "eq" or "ne"
  local s = 0
  for i in function(_, i) if i < 3 then return coroutine.yield(i) end end, nil, 0 do s = s + i end
  r[6] = s
  return r
end)
assert(co() == "field")
assert(co(10) == "add")
assert(co(20) == "lt")
assert(co(false) == "cat")
assert(co("C") == "eq")
assert(co(true) == 0)
assert(co(1) == 1)
assert(co(2) == 2)
local res = co(3)
assert(res[1] == 10 and res[2] == 20 and res[3] == "no" and res[4] == "aC" and res[5] == "eq" and res[6] == 6)
-- yield across a native boundary is refused
co = coroutine.create(function() return string.gsub("a", ".", function() coroutine.yield() end) end)
ok, v = coroutine.resume(co)
assert(not ok and v:find("attempt to yield across a C%-call boundary"), v)
ok, v = pcall(string.gsub, "a", ".", function() coroutine.yield() end)
assert(not ok and v:find("attempt to yield from outside a coroutine"), v)
-- isyieldable and running
assert(not coroutine.isyieldable() or true)
local main, ismain = coroutine.running()
assert(ismain == true)
co = coroutine.create(function() local c, m = coroutine.running(); return m end)
assert(select(2, coroutine.resume(co)) == false)
-- many values through yield and resume
co = coroutine.create(function(...) return coroutine.yield(...) end)
local t = {coroutine.resume(co, table.unpack({}, 1, 300))}
assert(#t <= 301)
t = {coroutine.resume(co, 1, 2, 3)}
assert(t[1] == true and t[4] == 3)
-- deep recursion inside a coroutine overflows its own stack; the work spans several slices,
-- so the resume returns true alone at each forced yield
co = coroutine.create(function() local function r() return 1 + r() end return r() end)
local forced = 0
repeat
  ok, v = coroutine.resume(co)
  if ok then forced = forced + 1 end
until not ok
assert(forced > 0 and coroutine.status(co) == "dead")
assert(not ok and v:find("stack overflow"))
-- nested coroutines to the native depth limit
local function nest(n)
  local c = coroutine.create(nest)
  local ok5, e5 = coroutine.resume(c, n + 1)
  if not ok5 then error(e5, 0) end
  return e5
end
ok, v = pcall(nest, 1)
assert(not ok and v:find("C stack overflow"), v)
-- coroutine.close
if coroutine.close then
  local closed = false
  co = coroutine.create(function()
    local x <close> = setmetatable({}, {__close = function() closed = true end})
    coroutine.yield()
  end)
  coroutine.resume(co)
  assert(coroutine.close(co) and closed and coroutine.status(co) == "dead")
end
print("ok")
