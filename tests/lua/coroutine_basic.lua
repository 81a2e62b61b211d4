-- The coroutine library: create, resume, yield, status, running, isyieldable, wrap, close.

local src = debug.getinfo(1, "S").short_src

local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok, "no error, expected: " .. msg)
  if err ~= msg then
    error(string.format("\n  got      %q\n  expected %q", tostring(err), msg), 2)
  end
end

-- the library table
do
  local names = {}
  for k in pairs(coroutine) do names[#names + 1] = k end
  assert(#names == 8)
  for _, k in ipairs({"create", "resume", "running", "status", "wrap", "yield",
                      "isyieldable", "close"}) do
    assert(type(coroutine[k]) == "function", k)
  end
end

-- values in and out
do
  local co = coroutine.create(function(a, b)
    assert(coroutine.status(coroutine.running()) == "running")
    local c, d = coroutine.yield(a + b, a - b)
    local e = coroutine.yield(c * d)
    return e, "done"
  end)
  assert(type(co) == "thread" and coroutine.status(co) == "suspended")
  local r = table.pack(coroutine.resume(co, 5, 3))
  assert(r.n == 3 and r[1] == true and r[2] == 8 and r[3] == 2)
  assert(coroutine.status(co) == "suspended")
  r = table.pack(coroutine.resume(co, 4, 6))
  assert(r.n == 2 and r[2] == 24)
  r = table.pack(coroutine.resume(co, "last"))
  assert(r.n == 3 and r[2] == "last" and r[3] == "done")
  assert(coroutine.status(co) == "dead")
  r = table.pack(coroutine.resume(co))
  assert(r.n == 2 and r[1] == false and r[2] == "cannot resume dead coroutine")
  -- no values at all
  co = coroutine.create(function() coroutine.yield() end)
  assert(select("#", coroutine.resume(co)) == 1)
  assert(select("#", coroutine.resume(co)) == 1)
  assert(coroutine.status(co) == "dead")
  -- nil values are counted
  co = coroutine.create(function(...) return select("#", ...), ... end)
  r = table.pack(coroutine.resume(co, nil, nil))
  assert(r.n == 4 and r[2] == 2)
end

-- errors inside a coroutine
do
  local co = coroutine.create(function() error("inside") end)
  local ok, e = coroutine.resume(co)
  assert(not ok and e == src .. ":56: inside", e)
  assert(coroutine.status(co) == "dead")
  ok, e = coroutine.resume(co)
  assert(not ok and e == "cannot resume dead coroutine")
  local t = {}
  co = coroutine.create(function() error(t) end)
  ok, e = coroutine.resume(co)
  assert(not ok and e == t)
  -- traceback of a dead coroutine still shows where it failed
  local tb = debug.traceback(co)
  assert(tb:find("stack traceback:", 1, true) and tb:find("in function <" .. src .. ":63>", 1, true), tb)
end

-- status: normal and running
do
  local outer
  local inner = coroutine.create(function()
    assert(coroutine.status(outer) == "normal")
    local ok, e = coroutine.resume(outer)
    assert(not ok and e == "cannot resume non-suspended coroutine")
    return "inner done"
  end)
  outer = coroutine.create(function()
    local ok, v = coroutine.resume(inner)
    assert(ok and v == "inner done")
    local ok2, e = coroutine.resume(coroutine.running())
    assert(not ok2 and e == "cannot resume non-suspended coroutine")
    return "outer done"
  end)
  local ok, v = coroutine.resume(outer)
  assert(ok and v == "outer done", v)
end

-- running, isyieldable: the main thread of a process is run by resume and can yield
do
  local main, ismain = coroutine.running()
  assert(type(main) == "thread" and ismain == true)
  assert(coroutine.isyieldable() == true)
  assert(coroutine.isyieldable(main) == true)
  assert(coroutine.status(main) == "running")
  local co = coroutine.create(function()
    local me, im = coroutine.running()
    assert(im == false and coroutine.isyieldable())
    assert(coroutine.isyieldable(me))
    assert(coroutine.status(main) == "normal")
    -- a native function calling Lua without a continuation is not yieldable
    local ok, e = pcall(string.gsub, "a", "a", function() return tostring(coroutine.isyieldable()) end)
    assert(ok and e == "false", tostring(e))
    ok, e = pcall(string.gsub, "a", "a", function() coroutine.yield() end)
    assert(not ok and e == "attempt to yield across a C-call boundary", e)
  end)
  assert(coroutine.resume(co))
  assert(coroutine.isyieldable(co) == true)
end

-- yield through pcall (it has a continuation)
do
  local co = coroutine.create(function()
    local ok, v = pcall(function()
      local x = coroutine.yield("from pcall")
      return x * 2
    end)
    coroutine.yield(ok, v)
    local ok2, e = pcall(function() coroutine.yield("again"); error("after") end)
    return ok2, e
  end)
  local _, v = coroutine.resume(co)
  assert(v == "from pcall")
  local _, ok, w = coroutine.resume(co, 21)
  assert(ok == true and w == 42)
  _, v = coroutine.resume(co)
  assert(v == "again")
  local r = table.pack(coroutine.resume(co))
  assert(r[1] == true and r[2] == false and r[3] == src .. ":121: after", r[3])
end

-- metamethods called by native functions cannot yield
do
  local function yields() coroutine.yield() end
  local cases = {
    function() for _ in pairs(setmetatable({}, {__pairs = yields})) do end end,
    function() return tostring(setmetatable({}, {__tostring = yields})) end,
    function() for _ in ipairs(setmetatable({}, {__index = yields})) do end end,
    function() return table.concat(setmetatable({}, {__len = yields})) end,
  }
  for i, f in ipairs(cases) do
    local ok, e = coroutine.resume(coroutine.create(f))
    assert(not ok and e == "attempt to yield across a C-call boundary", i .. ": " .. tostring(e))
  end
end

-- wrap
do
  local gen = coroutine.wrap(function(n)
    for i = 1, n do coroutine.yield(i) end
    return "end"
  end)
  assert(gen(3) == 1 and gen() == 2 and gen() == 3 and gen() == "end")
  local ok, e = pcall(gen)
  assert(not ok and e == "cannot resume dead coroutine", e)
  -- errors are raised with the wrap caller's position added to strings
  local here = debug.getinfo(1, "l").currentline + 1
  local w = coroutine.wrap(function() error("wrapped") end); ok, e = pcall(function() w() end)
  assert(e == src .. ":" .. here .. ": " .. src .. ":" .. here .. ": wrapped", e)
  here = debug.getinfo(1, "l").currentline + 1
  w = coroutine.wrap(function() error("plain", 0) end); ok, e = pcall(function() w() end)
  assert(e == src .. ":" .. here .. ": plain", e)
  local t = {}
  w = coroutine.wrap(function() error(t) end)
  ok, e = pcall(w)
  assert(e == t)
  w = coroutine.wrap(function() error(42) end)
  ok, e = pcall(function() w() end)
  assert(e == 42 and math.type(e) == "integer")
  -- directly under pcall there is no position to add
  w = coroutine.wrap(function() error("direct", 0) end)
  ok, e = pcall(w)
  assert(e == "direct", e)
  -- multiple values
  w = coroutine.wrap(function(...) coroutine.yield(...) end)
  local r = table.pack(w(1, nil, 3))
  assert(r.n == 3 and r[3] == 3)
  -- a wrapped coroutine that failed closes its pending variables
  local closed = false
  w = coroutine.wrap(function()
    local x <close> = setmetatable({}, {__close = function() closed = true end})
    coroutine.yield()
    error("late", 0)
  end)
  w()
  assert(not closed)
  ok, e = pcall(w)
  assert(e == "late" and closed)
end

-- close
do
  local co = coroutine.create(function() coroutine.yield() end)
  assert(coroutine.close(co) == true and coroutine.status(co) == "dead")
  -- not started
  co = coroutine.create(function() end)
  assert(coroutine.close(co) == true and coroutine.status(co) == "dead")
  -- pending to-be-closed variables run
  local log = {}
  co = coroutine.create(function()
    local a <close> = setmetatable({}, {__close = function() log[#log + 1] = "a" end})
    local b <close> = setmetatable({}, {__close = function() log[#log + 1] = "b" end})
    coroutine.yield()
  end)
  coroutine.resume(co)
  assert(coroutine.close(co) == true and table.concat(log) == "ba")
  -- a failing __close handler gives false and its error
  co = coroutine.create(function()
    local a <close> = setmetatable({}, {__close = function() error("in close", 0) end})
    coroutine.yield()
  end)
  coroutine.resume(co)
  local r = table.pack(coroutine.close(co))
  assert(r.n == 2 and r[1] == false and r[2] == "in close", tostring(r[2]))
  -- a coroutine dead by an error closes with true
  co = coroutine.create(function() error("died") end)
  coroutine.resume(co)
  r = table.pack(coroutine.close(co))
  assert(r.n == 1 and r[1] == true)
  -- closing twice is fine
  assert(coroutine.close(co) == true)
  -- running and normal coroutines cannot be closed
  local here = debug.getinfo(1, "l").currentline + 1
  fails(src .. ":" .. here .. ": cannot close a running coroutine", function() coroutine.close(coroutine.running()) end)
  local outer
  outer = coroutine.create(function()
    local inner = coroutine.create(function()
      return pcall(coroutine.close, outer)
    end)
    return coroutine.resume(inner)
  end)
  local _, _, ok, e = coroutine.resume(outer)
  assert(ok == false and e == "cannot close a normal coroutine", e)
end

-- argument checks
-- (called by pcall the functions have no name at the call site: their global name is used)
fails("bad argument #1 to 'coroutine.resume' (thread expected, got nil)", coroutine.resume, nil)
fails("bad argument #1 to 'coroutine.resume' (thread expected, got no value)", coroutine.resume)
fails("bad argument #1 to 'coroutine.status' (thread expected, got table)", coroutine.status, {})
fails("bad argument #1 to 'coroutine.close' (thread expected, got number)", coroutine.close, 1)
fails("bad argument #1 to 'coroutine.isyieldable' (thread expected, got number)",
      coroutine.isyieldable, 1)
fails("bad argument #1 to 'coroutine.create' (function expected, got no value)", coroutine.create)
fails("bad argument #1 to 'coroutine.wrap' (function expected, got number)", coroutine.wrap, 1)
do
  local ok, e = pcall(function() coroutine.resume(nil) end); local here = debug.getinfo(1, "l").currentline
  assert(e == src .. ":" .. here .. ": bad argument #1 to 'resume' (thread expected, got nil)", e)
end

print("ok")
