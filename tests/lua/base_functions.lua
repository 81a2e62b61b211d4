-- The base library's globals: results, argument checks and their exact messages.

local src = debug.getinfo(1, "S").short_src

-- Runs f(...) expecting an error whose message is exactly msg.
local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok, "no error, expected: " .. msg)
  if err ~= msg then
    error(string.format("\n  got      %q\n  expected %q", tostring(err), msg), 2)
  end
end

-- The set of globals: no file, module or os access, no xpcall.
for _, name in ipairs({"dofile", "loadfile", "xpcall", "require", "io", "os", "package",
                       "unpack", "setfenv", "module"}) do
  assert(_G[name] == nil, name)
end
for _, name in ipairs({"assert", "collectgarbage", "error", "getmetatable", "ipairs", "next",
                       "pairs", "pcall", "print", "warn", "rawequal", "rawlen", "rawget",
                       "rawset", "select", "setmetatable", "tonumber", "tonum", "tostring",
                       "type"}) do
  assert(type(_G[name]) == "function", name)
end
assert(_G._G == _G and _VERSION == "Lua 5.4")
for _, lib in ipairs({"coroutine", "table", "string", "math", "utf8", "debug"}) do
  assert(type(_G[lib]) == "table", lib)
  assert(debug.getregistry()._LOADED[lib] == _G[lib], lib)
end
assert(debug.getregistry()._LOADED._G == _G)
assert(table.sort == nil)

-- assert
assert(select("#", assert(1, 2, 3)) == 3)
local a, b, c = assert(1, 2, 3)
assert(a == 1 and b == 2 and c == 3)
fails("bad argument #1 to 'assert' (value expected)", assert)
do
  local ok, e = pcall(function() assert(false) end)
  assert(e == src .. ":39: assertion failed!", e)
  ok, e = pcall(function() assert(nil, "boom") end)
  assert(e == src .. ":41: boom", e)
  ok, e = pcall(function() assert(nil, 42) end)
  assert(e == 42)
  local t = {}
  ok, e = pcall(function() assert(false, t) end)
  assert(e == t)
  -- a present nil message stays nil
  ok, e = pcall(function() assert(false, nil) end)
  assert(not ok and e == nil)
  -- directly under pcall there is no Lua caller, hence no position
  ok, e = pcall(assert, false, "m")
  assert(e == "m", e)
end

-- error
do
  local ok, e = pcall(error, "m", 0)
  assert(e == "m")
  ok, e = pcall(function() error("lvl1") end)
  assert(e == src .. ":60: lvl1", e)
  local function inner() error("lvl2", 2) end
  ok, e = pcall(function() inner() end) -- line 63
  assert(e == src .. ":63: lvl2", e)
  ok, e = pcall(function() error("far", 50) end)
  assert(e == "far", e)
  local t = {}
  ok, e = pcall(error, t)
  assert(e == t)
  ok, e = pcall(function() error(12) end)
  assert(e == 12 and math.type(e) == "integer")
  ok, e = pcall(error)
  assert(not ok and e == nil)
  fails("bad argument #2 to 'error' (number expected, got table)", error, "x", {})
end

-- getmetatable / setmetatable
do
  local t, mt = {}, {}
  assert(getmetatable(t) == nil)
  assert(setmetatable(t, mt) == t and getmetatable(t) == mt)
  mt.__metatable = "locked"
  assert(getmetatable(t) == "locked")
  fails("cannot change a protected metatable", setmetatable, t, {})
  mt.__metatable = nil
  assert(setmetatable(t, nil) == t and getmetatable(t) == nil)
  assert(getmetatable("abc").__index == string)
  fails("bad argument #1 to 'getmetatable' (value expected)", getmetatable)
  fails("bad argument #1 to 'setmetatable' (table expected, got number)", setmetatable, 1, {})
  fails("bad argument #2 to 'setmetatable' (nil or table expected, got number)", setmetatable, {}, 1)
  fails("bad argument #2 to 'setmetatable' (nil or table expected, got no value)", setmetatable, {})
end

-- raw access
do
  local t = setmetatable({}, {__index = function() return "meta" end,
                              __newindex = function() error("no") end,
                              __len = function() return 99 end,
                              __eq = function() return true end})
  assert(t.x == "meta" and rawget(t, "x") == nil)
  assert(rawset(t, "x", 1) == t and rawget(t, "x") == 1)
  assert(#t == 99 and rawlen(t) == 0)
  assert(rawlen("abcd") == 4)
  assert(rawequal(t, t) and not rawequal(t, setmetatable({}, getmetatable(t))))
  assert(rawequal(1, 1.0) and not rawequal("1", 1))
  fails("bad argument #1 to 'rawlen' (table or string expected, got number)", rawlen, 5)
  fails("bad argument #2 to 'rawequal' (value expected)", rawequal, 1)
  fails("bad argument #1 to 'rawget' (table expected, got string)", rawget, "s", 1)
  fails("bad argument #2 to 'rawget' (value expected)", rawget, {})
  fails("bad argument #3 to 'rawset' (value expected)", rawset, {}, 1)
  fails("table index is nil", rawset, {}, nil, 1)
end

-- next / pairs / ipairs
do
  local t = {10, 20, x = 1}
  local n = 0
  for k, v in pairs(t) do n = n + 1; assert(t[k] == v) end
  assert(n == 3)
  assert(next({}) == nil and select("#", next({})) == 1)
  local k, v = next({5})
  assert(k == 1 and v == 5)
  fails("bad argument #1 to 'next' (table expected, got no value)", next)
  fails("bad argument #1 to 'next' (table expected, got nil)", next, nil)
  fails("invalid key to 'next'", next, {}, "nokey")
  fails(src .. ":127: bad argument #1 to 'for iterator' (table expected, got number)", function()
    for _ in next, 1 do end
  end)
  -- __pairs gives the first three results of the metamethod
  local p = setmetatable({}, {__pairs = function(self)
    return function(_, i) if i < 3 then return i + 1, i * 10 end end, self, 0, "extra"
  end})
  local keys = {}
  for i, v in pairs(p) do keys[#keys + 1] = i .. "=" .. v end
  assert(table.concat(keys, ",") == "1=0,2=10,3=20")
  assert(select("#", pairs(p)) == 3)
  fails("bad argument #1 to 'pairs' (value expected)", pairs)
  -- ipairs goes through __index and stops at the first nil
  local proxy = setmetatable({}, {__index = function(_, i) if i <= 4 then return i * i end end})
  local sum = 0
  for i, v in ipairs(proxy) do sum = sum + v end
  assert(sum == 1 + 4 + 9 + 16)
  local f, s, i0 = ipairs(t)
  assert(s == t and i0 == 0 and math.type(i0) == "integer")
  assert(select("#", f(t, 2)) == 1 and f(t, 2) == nil)
  fails("bad argument #1 to 'ipairs' (value expected)", ipairs)
end

-- select
do
  assert(select("#") == 0 and select("#", nil, nil) == 2)
  assert(select(-1, "a", "b") == "b")
  assert(select(2, "a", "b", "c") == "b" and select("#", select(2, "a", "b", "c")) == 2)
  assert(select("#", select(9, "a")) == 0)
  assert(select("#x", 1, 2) == 2)
  fails("bad argument #1 to 'select' (index out of range)", select, 0, "a")
  fails("bad argument #1 to 'select' (index out of range)", select, -3, "a")
  fails("bad argument #1 to 'select' (number expected, got string)", select, "x")
  fails("bad argument #1 to 'select' (number has no integer representation)", select, 1.5)
end

-- type / tostring
do
  assert(type(nil) == "nil" and type(print) == "function" and type(2) == "number")
  fails("bad argument #1 to 'type' (value expected)", type)
  assert(tostring(nil) == "nil" and tostring(true) == "true" and tostring(false) == "false")
  assert(tostring(12) == "12" and tostring(-0.0) == "-0.0" and tostring(1e100) == "1e+100")
  assert(tostring(2^63) == "9.2233720368548e+18" and tostring(3.0) == "3.0")
  assert(tostring("x") == "x")
  assert(tostring({}):match("^table: 0x%x+$") or tostring({}):match("^table: "))
  assert(tostring(print):match("^function: "))
  assert(tostring(coroutine.create(print)):match("^thread: "))
  local named = setmetatable({}, {__name = "My.Type"})
  assert(tostring(named):match("^My%.Type: "))
  assert(tostring(setmetatable({}, {__name = 3})):match("^table: "))
  assert(tostring(setmetatable({}, {__tostring = function() return "custom" end})) == "custom")
  assert(tostring(setmetatable({}, {__tostring = function() return 42 end})) == "42")
  fails("'__tostring' must return a string", tostring,
        setmetatable({}, {__tostring = function() return {} end}))
  fails("bad argument #1 to 'tostring' (value expected)", tostring)
end

-- tonumber
do
  assert(tonumber("0x10") == 16 and tonumber("  12  ") == 12 and tonumber("1e2") == 100.0)
  assert(math.type(tonumber("10")) == "integer" and math.type(tonumber("10.0")) == "float")
  assert(tonumber(nil) == nil and tonumber({}) == nil and tonumber("abc") == nil)
  assert(tonumber(7) == 7 and tonumber(7.5) == 7.5)
  assert(tonumber("z", 36) == 35 and tonumber("  -ff  ", 16) == -255)
  assert(tonumber("8", 8) == nil and tonumber("777", 8) == 511 and tonumber("1010", 2) == 10)
  assert(tonumber("", 10) == nil and tonumber("-", 10) == nil and tonumber(" ", 16) == nil)
  assert(tonumber("1 2", 10) == nil and tonumber("+7", 10) == 7)
  assert(tonumber("ffffffffffffffff", 16) == -1) -- wraps
  assert(tonumber("10000000000000000", 16) == 0)
  assert(tonumber("1\0", 10) == nil)
  fails("bad argument #1 to 'tonumber' (value expected)", tonumber)
  fails("bad argument #1 to 'tonumber' (string expected, got number)", tonumber, 10, 16)
  fails("bad argument #2 to 'tonumber' (base out of range)", tonumber, "10", 1)
  fails("bad argument #2 to 'tonumber' (base out of range)", tonumber, "10", 37)
  fails("bad argument #2 to 'tonumber' (number has no integer representation)", tonumber, "1", 2.5)
end

-- collectgarbage
do
  assert(collectgarbage() == 0 and collectgarbage("collect") == 0)
  local k = collectgarbage("count")
  assert(math.type(k) == "float" and k > 0)
  assert(collectgarbage("isrunning") == true)
  assert(collectgarbage("stop") == 0 and collectgarbage("isrunning") == false)
  assert(collectgarbage("restart") == 0 and collectgarbage("isrunning") == true)
  assert(type(collectgarbage("step")) == "boolean")
  assert(type(collectgarbage("step", 1)) == "boolean")
  local p = collectgarbage("setpause", 100)
  assert(math.type(p) == "integer")
  assert(collectgarbage("setpause", 107) == 100)
  assert(collectgarbage("setpause", p) == 104) -- kept as a quarter
  local m = collectgarbage("setstepmul", 200)
  assert(collectgarbage("setstepmul", m) == 200)
  collectgarbage("incremental")
  assert(collectgarbage("generational") == "incremental")
  assert(collectgarbage("incremental") == "generational")
  assert(collectgarbage("incremental") == "incremental")
  fails("bad argument #1 to 'collectgarbage' (invalid option 'bogus')", collectgarbage, "bogus")
  fails("bad argument #1 to 'collectgarbage' (string expected, got table)", collectgarbage, {})
  -- count follows allocations
  collectgarbage()
  local before = collectgarbage("count")
  local keep = {}
  for i = 1, 1000 do keep[i] = {} end
  assert(collectgarbage("count") > before + 50)
  keep = nil
end

-- warn checks its arguments and is silent in a process
do
  warn("one", "two", 3)
  warn("@on")
  fails("bad argument #1 to 'warn' (string expected, got no value)", warn)
  fails("bad argument #2 to 'warn' (string expected, got table)", warn, "a", {})
end

-- pcall
do
  local r = table.pack(pcall(function(...) return ... end, 1, nil, 3))
  assert(r.n == 4 and r[1] == true and r[2] == 1 and r[3] == nil and r[4] == 3)
  r = table.pack(pcall(error, "x"))
  assert(r.n == 2 and r[1] == false and r[2] == "x")
  fails("bad argument #1 to 'pcall' (value expected)", pcall)
  local ok, e = pcall(pcall)
  assert(not ok and e == "bad argument #1 to 'pcall' (value expected)")
  assert(select("#", pcall(print == print and function() end)) == 1)
  ok, e = pcall(42)
  assert(not ok and e == "attempt to call a number value")
end

print("ok")
