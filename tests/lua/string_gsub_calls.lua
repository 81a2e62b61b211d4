-- gsub and gmatch calling back into Lua: replacement functions and tables with metamethods,
-- errors and yields inside them, and iterators resumed on other threads.

local function eq(got, want, what)
  if got ~= want then
    error(("%s: got %s, want %s"):format(what or "value", tostring(got), tostring(want)), 2)
  end
end

-- an error inside a replacement function propagates unchanged
local ok, m = pcall(string.gsub, "abc", "b", function() error({code = 7}) end)
eq(ok, false); eq(m.code, 7)

-- nested gsub inside a replacement function
eq(string.gsub("a-b", "%a", function(c) return (string.gsub(c, ".", "%0%0")) end), "aa-bb")

-- table replacement goes through __index
local t = setmetatable({}, {__index = function(_, k) return k:upper() end})
eq(string.gsub("hi there", "%a+", t), "HI THERE")

-- a yield inside a replacement function is refused, even inside a coroutine
local co = coroutine.create(function()
  return string.gsub("ab", ".", function(c) coroutine.yield(c) return c end)
end)
local okr, msg = coroutine.resume(co)
eq(okr, false)
assert(msg:find("yield across a C-call boundary", 1, true), msg)
eq(coroutine.status(co), "dead")

-- and through a table's __index
co = coroutine.create(function()
  local tt = setmetatable({}, {__index = function(_, k) coroutine.yield(k) return k end})
  return string.gsub("ab", ".", tt)
end)
okr, msg = coroutine.resume(co)
eq(okr, false)

-- a yield outside the replacement call is fine
co = coroutine.wrap(function()
  local r = string.gsub("ab", ".", "%0!")
  coroutine.yield(r)
  return "done"
end)
eq(co(), "a!b!"); eq(co(), "done")

-- a gmatch iterator made on one thread can run on another, errors included
local it = string.gmatch("one two three", "%a+")
eq(it(), "one")
eq(coroutine.wrap(function() return it() end)(), "two")
eq(it(), "three")
eq(it(), nil)
local bad = string.gmatch("abc", "(")
local okc, mc = coroutine.wrap(function() return pcall(bad) end)()
eq(okc, false)
assert(mc:find("unfinished capture", 1, true), mc)
-- a gmatch loop may yield between iterations
co = coroutine.wrap(function()
  for w in string.gmatch("x y", "%a") do coroutine.yield(w) end
  return "end"
end)
eq(co(), "x"); eq(co(), "y"); eq(co(), "end")

-- the iterator keeps its subject alive
local function make()
  return string.gmatch(string.rep("ab", 3) .. "!", "ab")
end
local it2 = make()
collectgarbage()
collectgarbage()
eq(it2(), "ab"); eq(it2(), "ab"); eq(it2(), "ab"); eq(it2(), nil)

-- string arithmetic that falls to a metamethod which yields is refused as well
local y = setmetatable({}, {__add = function(a, b) coroutine.yield("in") return 1 end})
co = coroutine.create(function() return "x" + y end)
okr, msg = coroutine.resume(co)
eq(okr, false)
assert(msg:find("yield across a C-call boundary", 1, true), msg)

-- tostring is used for %s of tables with __tostring, and its errors propagate
local obj = setmetatable({}, {__tostring = function() return "OBJ" end})
eq(string.format("[%s][%5s]", obj, obj), "[OBJ][  OBJ]")
local badobj = setmetatable({}, {__tostring = function() return {} end})
ok, m = pcall(string.format, "%s", badobj)
eq(ok, false)
assert(m:find("'__tostring' must return a string", 1, true), m)
local named = setmetatable({}, {__name = "MyType"})
assert(string.format("%s", named):find("^MyType: "))

print("ok")
