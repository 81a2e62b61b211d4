-- Yields reach the resume by every route: straight from a call in the coroutine's body (the
-- interpreter returns), from a tail call, as the body itself, from a continuation, and from
-- deeper native levels (pcall, metamethods, iterators, nested coroutines), where they unwind.
local co, yield, resume, wrap = coroutine, coroutine.yield, coroutine.resume, coroutine.wrap

-- plain call: values both ways, many times
local g = co.create(function(a, b)
  local s = a + b
  for i = 1, 1000 do
    local x, y = yield(s, i)
    s = s + x + (y or 0)
  end
  return "done", s
end)
local ok, s, i = resume(g, 1, 2)
assert(ok and s == 3 and i == 1)
local total = 3
for k = 1, 1000 do
  ok, s, i = resume(g, k, 1)
  total = total + k + 1
  if k < 1000 then
    assert(ok and s == total and i == k + 1, k)
  else
    assert(ok and s == "done" and i == total)
  end
end
assert(co.status(g) == "dead")
assert(select("#", resume(g)) == 2) -- false and the message

-- the frame around the call keeps its registers across the suspension
local h = wrap(function(...)
  local a, b, c = ...
  local t = {yield(a)}
  assert(#t == 2 and t[1] == "x" and t[2] == "y")
  local u = yield(b, c)
  return a + b + c + u
end)
assert(h(1, 2, 3) == 1)
local p, q = h("x", "y")
assert(p == 2 and q == 3)
assert(h(10) == 16)

-- tail call of yield: the coroutine ends with what the resume passes in
local t = co.create(function(x) return yield(x * 2) end)
assert(select(2, resume(t, 21)) == 42)
local ok2, r1, r2 = resume(t, "a", "b")
assert(ok2 and r1 == "a" and r2 == "b" and co.status(t) == "dead")

-- the body is yield itself
local y = co.create(yield)
local okb, v1, v2 = resume(y, 5, 6)
assert(okb and v1 == 5 and v2 == 6 and co.status(y) == "suspended")
okb, v1 = resume(y, 7)
assert(okb and v1 == 7 and co.status(y) == "dead")

-- yields across pcall, with errors before and after
local pc = co.create(function()
  local okp, v = pcall(function()
    local w = yield("in pcall")
    error({w})
  end)
  assert(not okp and v[1] == "resumed")
  local okq, e = pcall(yield, "yield as the pcall's function")
  assert(okq and e == "again")
  return "after"
end)
assert(select(2, resume(pc)) == "in pcall")
assert(select(2, resume(pc, "resumed")) == "yield as the pcall's function")
assert(select(2, resume(pc, "again")) == "after")

-- yields inside metamethods and iterators
local mt = {__index = function(_, k) return yield(k) end,
            __add = function(a, b) return yield("add") end}
local mm = wrap(function()
  local o = setmetatable({}, mt)
  local v = o.key
  local w = o + 1
  local acc = {}
  for x in function(_, last) last = (last or 0) + 1; if last <= 3 then yield(last) return last end end do
    acc[#acc + 1] = x
  end
  return v, w, #acc
end)
assert(mm() == "key")
assert(mm("K") == "add")
assert(mm("sum") == 1)
assert(mm() == 2)
assert(mm() == 3)
local v, w, n = mm()
assert(v == "K" and w == "sum" and n == 3)

-- nested coroutines: the inner one's yields go to the outer one's body only
local outer = co.create(function()
  local inner = wrap(function()
    for k = 1, 3 do yield("inner" .. k) end
    return "inner end"
  end)
  local got = {}
  for _ = 1, 4 do got[#got + 1] = inner() end
  local back = yield(table.concat(got, ","))
  return back .. "!"
end)
assert(select(2, resume(outer)) == "inner1,inner2,inner3,inner end")
assert(select(2, resume(outer, "bye")) == "bye!")

-- errors raised after a resumed yield still reach the resumer
local e = co.create(function() yield(1); error("boom") end)
assert(resume(e))
local oke, msg = resume(e)
assert(not oke and msg:find("boom"))
assert(co.status(e) == "dead")

-- yield across a C-call boundary (a gsub callback) fails the same way as before
local b = co.create(function()
  string.gsub("abc", ".", function(c) yield() return c end)
end)
local okc, mc = resume(b)
assert(not okc and mc:find("attempt to yield across a C%-call boundary"))

-- close of a suspended coroutine with pending to-be-closed variables
local closed = false
local tc = co.create(function()
  local x <close> = setmetatable({}, {__close = function() closed = true end})
  yield(1)
end)
assert(resume(tc))
assert(co.close(tc) and closed)

print("ok")
