-- args: --cycles
-- expect-stderr: status=YIELD.*status=YIELD.*status=OK.*slices=3
-- The process's main thread runs under resume: it can yield, and a yield at the top level
-- ends the slice; the next slice continues after the call, which returns no values.
assert(coroutine.isyieldable())
local main, ismain = coroutine.running()
assert(ismain and coroutine.status(main) == "running")
local r = table.pack(coroutine.yield(1, 2))
assert(r.n == 0)
-- through pcall too (it has a continuation)
local ok, v = pcall(function()
  local x = table.pack(coroutine.yield("in pcall"))
  return x.n
end)
assert(ok and v == 0)
-- but not from inside a native function that calls Lua without a continuation
local ok2, e = pcall(string.gsub, "a", "a", function() coroutine.yield() end)
assert(not ok2 and e == "attempt to yield from outside a coroutine", e)
print("ok")
