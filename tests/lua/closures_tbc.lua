-- To-be-closed variables: each closing method runs exactly once, in reverse order, with the
-- error object; failures on a normal exit propagate, failures during an error are dropped.

-- A method that raises on a normal block exit runs once, even though the error is caught.
local calls = 0
local ok, err = pcall(function()
  local x <close> = setmetatable({}, {__close = function() calls = calls + 1; error("boom") end})
end)
assert(not ok and err:find("boom"), err)
assert(calls == 1, "closing method ran " .. calls .. " times")

-- Two variables, the inner one failing on a normal exit: the outer one still closes, once,
-- and sees the error.
local log = {}
ok, err = pcall(function()
  local a <close> = setmetatable({}, {__close = function(_, e) log[#log + 1] = "a:" .. tostring(e) end})
  local b <close> = setmetatable({}, {__close = function() log[#log + 1] = "b"; error("fromb", 0) end})
end)
assert(not ok and err == "fromb", err)
assert(#log == 2 and log[1] == "b" and log[2] == "a:fromb", table.concat(log, ","))

-- Order and arguments on a normal exit and on an error.
log = {}
do
  local a <close> = setmetatable({}, {__close = function(o, e) log[#log + 1] = "a" .. tostring(e) end})
  local b <close> = setmetatable({}, {__close = function(o, e) log[#log + 1] = "b" .. tostring(e) end})
end
assert(table.concat(log, ",") == "bnil,anil")

log = {}
ok, err = pcall(function()
  local a <close> = setmetatable({}, {__close = function(_, e) log[#log + 1] = "a:" .. tostring(e) end})
  local b <close> = setmetatable({}, {__close = function(_, e) log[#log + 1] = "b:" .. tostring(e); error("fromb", 0) end})
  error("orig", 0)
end)
-- A method failing while an error propagates is dropped: the original error goes on.
assert(not ok and err == "orig", err)
assert(table.concat(log, ",") == "b:orig,a:orig", table.concat(log, ","))

-- nil and false need no closing; other values need a __close.
do
  local n <close> = nil
  local f <close> = false
end
ok, err = pcall(function() local x <close> = {} end)
assert(not ok and err:find("variable 'x' got a non%-closable value"), err)
ok, err = pcall(function() local x <close> = 42 end)
assert(not ok and err:find("non%-closable value"), err)

-- A closing method removed after the declaration.
local mt = {__close = function() end}
ok, err = pcall(function()
  local v <close> = setmetatable({}, mt)
  mt.__close = nil
end)
assert(not ok and err:find("attempt to close non%-closable variable 'v'"), err)

-- Closing on return, break and through a generic for.
local closed = 0
local function closer() return setmetatable({}, {__close = function() closed = closed + 1 end}) end
local function f()
  local c <close> = closer()
  return "r"
end
assert(f() == "r" and closed == 1)
for i = 1, 3 do
  local c <close> = closer()
  if i == 2 then break end
end
assert(closed == 3)
local function iter()
  return function(_, i) if i < 5 then return i + 1 end end, nil, 0, closer()
end
for i in iter() do if i == 2 then break end end
assert(closed == 4)

-- A closed variable captured by a closure keeps its value.
local get
do
  local v <close> = setmetatable({tag = "kept"}, {__close = function() end})
  get = function() return v.tag end
end
assert(get() == "kept")

-- Closing inside a coroutine that is closed before finishing.
log = {}
local co = coroutine.create(function()
  local x <close> = setmetatable({}, {__close = function(_, e) log[#log + 1] = "co:" .. tostring(e) end})
  coroutine.yield(1)
end)
assert(coroutine.resume(co))
assert(coroutine.close(co))
assert(log[1] == "co:nil", log[1])

-- A closing method on a normal exit runs as a non-yieldable call.
local cw = coroutine.wrap(function()
  local x <close> = setmetatable({}, {__close = function() coroutine.yield("from close") end})
  return "done"
end)
ok, err = pcall(cw)
assert(not ok and err:find("attempt to yield across a C%-call boundary"), err)

print("ok")
