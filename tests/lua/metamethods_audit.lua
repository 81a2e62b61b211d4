-- Metamethod calls: yieldable when made from Lua code, not when made from a native function;
-- nested metamethod calls count against the native depth limit; closing in protected mode
-- keeps the first failure; the absence cache never hides a metamethod added later.

-- From Lua code a metamethod may yield; from a native function (table.concat reading
-- through __index) it may not.
local seen = {}
local co = coroutine.wrap(function()
  local y = setmetatable({}, {__index = function(_, k)
    seen[#seen + 1] = coroutine.isyieldable()
    return "v"
  end})
  local _ = y.a
  local _ = table.concat(y, "", 1, 1)
  return "done"
end)
assert(co() == "done")
assert(seen[1] == true and seen[2] == false, tostring(seen[1]) .. " " .. tostring(seen[2]))

local co2 = coroutine.create(function()
  local y = setmetatable({}, {__index = function() return coroutine.yield("from index") end})
  return table.concat(y, "", 1, 1)
end)
local ok, err = coroutine.resume(co2)
assert(not ok and err:find("attempt to yield across a C%-call boundary"), err)

-- Endless __index recursion through functions ends in "C stack overflow".
local loop = setmetatable({}, {__index = function(t, k) return t[k] end})
ok, err = pcall(function() return loop.x end)
assert(not ok and err:find("C stack overflow"), err)
-- The same depth is available again afterwards.
local depth = 0
local deep = setmetatable({}, {__index = function(t, k)
  depth = depth + 1
  if depth < 50 then return t[k] end
  return depth
end})
assert(deep.x == 50)

-- Closing a suspended coroutine: the first failing method's error becomes the result and is
-- what the remaining methods see; later failures are dropped.
local log = {}
local c = coroutine.create(function()
  local a <close> = setmetatable({}, {__close = function(_, e) log[#log + 1] = "a:" .. tostring(e); error("ea", 0) end})
  local b <close> = setmetatable({}, {__close = function(_, e) log[#log + 1] = "b:" .. tostring(e); error("eb", 0) end})
  coroutine.yield()
end)
coroutine.resume(c)
ok, err = coroutine.close(c)
assert(not ok and err == "eb", tostring(err))
assert(table.concat(log, ",") == "b:nil,a:eb", table.concat(log, ","))

-- The absence cache: a metatable found lacking __index or __eq learns about them once they
-- are added, also through rawset.
local mt = {}
local obj = setmetatable({}, mt)
assert(obj.k == nil and obj.k == nil)
rawset(mt, "__index", function(_, k) return k .. "!" end)
assert(obj.k == "k!")
local o1, o2 = setmetatable({}, mt), setmetatable({}, mt)
assert(o1 ~= o2 and o1 ~= o2)
mt.__eq = function() return true end
assert(o1 == o2)

-- __name is used in messages only when it is a string.
ok, err = pcall(function() return setmetatable({}, {__name = "Vec"}) < 1 end)
assert(not ok and err:find("attempt to compare Vec with number"), err)
ok, err = pcall(function() return #setmetatable({}, {__name = {}}) .. nil end)
assert(not ok and err:find("attempt to concatenate a nil value"), err)
ok, err = pcall(function() return -setmetatable({}, {__name = 7}) end)
assert(not ok and err:find("attempt to perform arithmetic on a table value"), err)

print("ok")
