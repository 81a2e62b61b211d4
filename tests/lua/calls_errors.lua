-- Errors, protected calls, stack overflow and the native call depth limit.
local ok, e = pcall(error, {code = 1})
assert(not ok and e.code == 1)
ok, e = pcall(error, "msg", 0)
assert(not ok and e == "msg")
ok, e = pcall(error)
assert(not ok and e == nil)
ok, e = pcall(function() error("here") end)
assert(not ok and e:find("calls_errors.lua:%d+: here"), e)
ok, e = pcall(function() error("lvl2", 2) end)
assert(not ok)
-- results pass through
local a, b, c = pcall(function(...) return ... end, 1, 2, 3)
assert(a == true and b == 1 and c == 2)
assert(select('#', pcall(function() end)) == 1)
-- nested pcall keeps outer state
ok, e = pcall(function()
  local ok2, e2 = pcall(error, "inner", 0)
  assert(not ok2 and e2 == "inner")
  error("outer", 0)
end)
assert(not ok and e == "outer")
assert(xpcall == nil)
-- error values of every type
for _, v in ipairs({1, 2.5, true, "s", {}, print}) do
  local ok2, e2 = pcall(error, v)
  assert(not ok2 and e2 == v)
end

-- stack overflow of a Lua recursion, recovered, and again
local depth = 0
local function rec(n) depth = n; return 1 + rec(n + 1) end
for round = 1, 2 do
  depth = 0
  local ok2, e2 = pcall(rec, 1)
  assert(not ok2 and type(e2) == "string" and e2:find("stack overflow"), e2)
  assert(depth > 40000, depth) -- close to 50000 two-slot frames
end
-- the same from code that cannot yield, where pcall is an ordinary protected call
string.gsub("ab", ".", function()
  local ok2, e2 = pcall(rec, 1)
  assert(not ok2 and e2:find("stack overflow"), e2)
end)
-- and inside a coroutine, where the error is recovered by the resume
local co = coroutine.wrap(function()
  for round = 1, 2 do
    local ok2, e2 = pcall(rec, 1)
    assert(not ok2 and e2:find("stack overflow"), e2)
  end
  return "done"
end)
local r
repeat r = co() until r == "done"
-- an overflow with to-be-closed variables pending on the way down
local closed = 0
local function tbcrec(n)
  local c <close> = (n % 1000 == 0) and setmetatable({}, {__close = function() closed = closed + 1 end}) or nil
  return 1 + tbcrec(n + 1)
end
ok, e = pcall(tbcrec, 1)
assert(not ok and e:find("stack overflow") and closed > 10, e)
-- and normal service after all that
ok, e = pcall(rec, 1)
assert(not ok and e:find("stack overflow"))
assert(select('#', table.unpack({}, 1, 10000)) == 10000)

-- nested native calls reach the limit of 200. The recursions run inside a gsub callback, where
-- no forced yield can unwind the native stack half-way (after such a yield the unrolled levels
-- no longer count, and the recursion would end in a plain stack overflow instead).
local function nonyield(f) local r; string.gsub("x", "x", function() r = {f()} end) return table.unpack(r) end
local mt = {}
mt.__index = function(t, k) return t[k] end -- each lookup re-enters through a metamethod call
local deep = setmetatable({}, mt)
ok, e = nonyield(function() return pcall(function() return deep.x end) end)
assert(not ok and e:find("C stack overflow"), e)
ok, e = nonyield(function() return pcall(function() return deep.x end) end)
assert(not ok and e:find("C stack overflow"), e)
-- through native functions calling Lua (gsub callbacks)
local function g(s) return (s:gsub(".", g)) end
ok, e = pcall(g, "a")
assert(not ok and e:find("C stack overflow"), e)
-- pcall nesting
local function pnest(n) local ok2, e2 = pcall(pnest, n + 1) if not ok2 then error(e2, 0) end end
ok, e = nonyield(function() return pcall(pnest, 1) end)
assert(not ok and e:find("C stack overflow"), e)
-- still healthy
assert(pcall(function() return deep.y end) == false)
assert(select(2, pcall(string.rep, "x", 3)) == "xxx")

-- errors from native functions carry the position of the caller
ok, e = pcall(string.rep)
assert(not ok and e:find("bad argument #1 to '"), e)
-- tostring of error positions in nested functions
local function lvl() error("deep") end
ok, e = pcall(function() lvl() end)
assert(e:find(":%d+: deep"))
print("ok")
