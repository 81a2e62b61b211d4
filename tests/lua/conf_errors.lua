-- args: --budget 1000000000
-- Conformance: runtime error messages with variable names and argument errors.
-- Each case is run as a chunk through load; its results (or its error) are rendered
-- as text and compared with the text the reference Lua 5.4 interpreter gives.
local function ser(v, depth)
  local t = type(v)
  if t == "number" then
    if math.type(v) == "integer" then return "i:" .. tostring(v) end
    if v ~= v then return "f:nan" end
    return "f:" .. string.format("%.17g", v) .. "/" .. tostring(v)
  elseif t == "string" then
    return string.format("%q", (v:gsub('%[string ".-"%]:', ':')))
  elseif t == "table" then
    if (depth or 0) > 1 then return "{...}" end
    local mt = getmetatable(v)
    if mt ~= nil and type(mt) ~= "table" then return "table(protected)" end
    local keys = {}
    for k in next, v do keys[#keys + 1] = k end
    if #keys > 20 then return "{" .. #keys .. " keys}" end
    local parts = {}
    for _, k in ipairs(keys) do parts[#parts + 1] = "[" .. ser(k, 2) .. "]=" .. ser(v[k], (depth or 0) + 1) end
    -- keys come out in table order; sort the rendered pairs by hand (no table.sort here)
    for i = 2, #parts do
      local x, j = parts[i], i - 1
      while j >= 1 and parts[j] > x do parts[j + 1] = parts[j]; j = j - 1 end
      parts[j + 1] = x
    end
    return "{" .. table.concat(parts, ",") .. "}"
  elseif t == "nil" or t == "boolean" then return tostring(v)
  else return t end
end
local function run(src)
  local code
  if src:sub(1, 1) == "!" then code = src:sub(2) else code = "return " .. src end
  local f, err = load(code)
  if not f then return "COMPILE:" .. ser(err) end
  local r = table.pack(pcall(f))
  if not r[1] then return "ERR:" .. ser(r[2]) end
  local out = {}
  for i = 2, r.n do out[#out + 1] = ser(r[i]) end
  return table.concat(out, " ")
end
local function esc(s)
  return (s:gsub("[%c\\]", function(ch) return string.format("\\%03d", ch:byte()) end))
end
local cases = {
  {[=====[!local ok, e = pcall(function() aaa.bbb = 1 end) return e]=====],
   [=====[":1: attempt to index a nil value (global 'aaa')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} a.bbb.ccc = 1 end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'bbb')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a.b.c.d end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'b')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {b = {}} return a.b.c.d end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'c')"]=====]},
  {[=====[!local ok, e = pcall(function() return math.sin.x end) return e]=====],
   [=====[":1: attempt to index a function value (field 'sin')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} a[1][2] = 3 end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'integer index')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} local k = "key" return a[k].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field '?')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a[1 + 1].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'integer index')"]=====]},
  {[=====[!local ok, e = pcall(function() return ("abc")() end) return e]=====],
   [=====[":1: attempt to call a string value (constant 'abc')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} t.m() end) return e]=====],
   [=====[":1: attempt to call a nil value (field 'm')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} t:m() end) return e]=====],
   [=====[":1: attempt to call a nil value (method 'm')"]=====]},
  {[=====[!local ok, e = pcall(function() string.nope() end) return e]=====],
   [=====[":1: attempt to call a nil value (field 'nope')"]=====]},
  {[=====[!local ok, e = pcall(function() local f = 5 f() end) return e]=====],
   [=====[":1: attempt to call a number value (local 'f')"]=====]},
  {[=====[!local ok, e = pcall(function() (nil)() end) return e]=====],
   [=====[":1: attempt to call a nil value"]=====]},
  {[=====[!local ok, e = pcall(function() local up = 1 return (function() up() end)() end) return e]=====],
   [=====[":1: attempt to call a number value (upvalue 'up')"]=====]},
  {[=====[!local ok, e = pcall(function() local up = {} return (function() return up.a.b end)() end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'a')"]=====]},
  {[=====[!local ok, e = pcall(function() return 1 + {} end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value"]=====]},
  {[=====[!local ok, e = pcall(function() local x = {} return x + 1 end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value (local 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local x = {} return 1 + x end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value (local 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() return glob + 1 end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a nil value (global 'glob')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} return t.f + 1 end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a nil value (field 'f')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} return t.f .. "x" end) return e]=====],
   [=====[":1: attempt to concatenate a nil value (field 'f')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = "x" .. {} end) return e]=====],
   [=====[":1: attempt to concatenate a table value"]=====]},
  {[=====[!local ok, e = pcall(function() local a, b = 1, nil return a .. b end) return e]=====],
   [=====[":1: attempt to concatenate a nil value (local 'b')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return -a end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value (local 'a')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return #a.b end) return e]=====],
   [=====[":1: attempt to get length of a nil value (field 'b')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a.b < 1 end) return e]=====],
   [=====[":1: attempt to compare nil with number"]=====]},
  {[=====[!local ok, e = pcall(function() return {} < "x" end) return e]=====],
   [=====[":1: attempt to compare table with string"]=====]},
  {[=====[!local ok, e = pcall(function() return print < print end) return e]=====],
   [=====[":1: attempt to compare two function values"]=====]},
  {[=====[!local ok, e = pcall(function() return true < false end) return e]=====],
   [=====[":1: attempt to compare two boolean values"]=====]},
  {[=====[!local ok, e = pcall(function() return 1 <= nil end) return e]=====],
   [=====[":1: attempt to compare number with nil"]=====]},
  {[=====[!local ok, e = pcall(function() local a = 2^63 return a | 1 end) return e]=====],
   [=====[":1: number (local 'a') has no integer representation"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} return t.x | 1 end) return e]=====],
   [=====[":1: attempt to perform bitwise operation on a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {x = 1.5} return t.x | 1 end) return e]=====],
   [=====[":1: number (field 'x') has no integer representation"]=====]},
  {[=====[!local ok, e = pcall(function() return math.huge // 1 | 0 end) return e]=====],
   [=====[":1: number has no integer representation"]=====]},
  {[=====[!local ok, e = pcall(function() local s = "abc" return s | 1 end) return e]=====],
   [=====[":1: attempt to perform bitwise operation on a string value (local 's')"]=====]},
  {[=====[!local ok, e = pcall(function() local s = "1.0" return s | 1 end) return e]=====],
   [=====[":1: attempt to perform bitwise operation on a string value (local 's')"]=====]},
  {[=====[!local ok, e = pcall(function() for k, v in nil do end end) return e]=====],
   [=====[":1: attempt to call a nil value"]=====]},
  {[=====[!local ok, e = pcall(function() for k, v in 5 do end end) return e]=====],
   [=====[":1: attempt to call a number value"]=====]},
  {[=====[!local ok, e = pcall(function() for k, v in {} do end end) return e]=====],
   [=====[":1: attempt to call a table value"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__index = function(t, k) return nil + k end}) return t.x end) return e]=====],
   [=====[":1: attempt to add a 'nil' with a 'string'"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__newindex = function(t, k, v) local a = nil; a.b = 1 end}) t.x = 1 end) return e]=====],
   [=====[":1: attempt to index a nil value (local 'a')"]=====]},
  {[=====[!local ok, e = pcall(function() return #setmetatable({}, {__len = function() error("lenerr") end}) end) return e]=====],
   [=====[":1: lenerr"]=====]},
  {[=====[!local ok, e = pcall(function() error("msg", 1) end) return e]=====],
   [=====[":1: msg"]=====]},
  {[=====[!local ok, e = pcall(function() error("msg", 2) end) return e]=====],
   [=====["msg"]=====]},
  {[=====[!local ok, e = pcall(function() error() end) return e]=====],
   [=====[nil]=====]},
  {[=====[!local ok, e = pcall(function() error(nil, 2) end) return e]=====],
   [=====[nil]=====]},
  {[=====[!local ok, e = pcall(function() error(setmetatable({}, {__tostring = function() return "X" end})) end) return tostring(e)]=====],
   [=====["X"]=====]},
  {[=====[!local ok, e = pcall(function() local x <close> = 1 end) return e]=====],
   [=====[":1: variable 'x' got a non-closable value"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} a.b:c() end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'b')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {b = {}} a.b:c() end) return e]=====],
   [=====[":1: attempt to call a nil value (method 'c')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {b = {}} a.b.c() end) return e]=====],
   [=====[":1: attempt to call a nil value (field 'c')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {b = {}} a.b["c"]() end) return e]=====],
   [=====[":1: attempt to call a nil value (field 'c')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {{}} a[1].c() end) return e]=====],
   [=====[":1: attempt to call a nil value (field 'c')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} local b = a[1] b() end) return e]=====],
   [=====[":1: attempt to call a nil value (local 'b')"]=====]},
  {[=====[!local ok, e = pcall(function() _ENV.x() end) return e]=====],
   [=====[":1: attempt to call a nil value (global 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local _ENV = {} y() end) return e]=====],
   [=====[":1: attempt to call a nil value (global 'y')"]=====]},
  {[=====[!local ok, e = pcall(function() local _ENV = {} return z.w end) return e]=====],
   [=====[":1: attempt to index a nil value (global 'z')"]=====]},
  {[=====[!local ok, e = pcall(function() return coroutine.wrap(1) end) return e]=====],
   [=====[":1: bad argument #1 to 'wrap' (function expected, got number)"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x"):rep("y") end) return e]=====],
   [=====[":1: bad argument #1 to 'rep' (number expected, got string)"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x"):bad() end) return e]=====],
   [=====[":1: attempt to call a nil value (method 'bad')"]=====]},
  {[=====[!local ok, e = pcall(function() return string.rep() end) return e]=====],
   [=====[":1: bad argument #1 to 'rep' (string expected, got no value)"]=====]},
  {[=====[!local ok, e = pcall(function() return math.floor({}) end) return e]=====],
   [=====[":1: bad argument #1 to 'floor' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return setmetatable(1) end) return e]=====],
   [=====[":1: bad argument #1 to 'setmetatable' (table expected, got number)"]=====]},
  {[=====[!local ok, e = pcall(function() return ipairs() end) return e]=====],
   [=====[":1: bad argument #1 to 'ipairs' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() return string.sub("x", {}) end) return e]=====],
   [=====[":1: bad argument #2 to 'sub' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return string.byte("x", 1.5) end) return e]=====],
   [=====[":1: bad argument #2 to 'byte' (number has no integer representation)"]=====]},
  {[=====[!local ok, e = pcall(function() return string.char(1, 2, "x") end) return e]=====],
   [=====[":1: bad argument #3 to 'char' (number expected, got string)"]=====]},
  {[=====[!local ok, e = pcall(function() return table.concat({}, 1, 2, 3) end) return e]=====],
   [=====[":1: invalid value (nil) at index 2 in table for 'concat'"]=====]},
  {[=====[!local ok, e = pcall(function() return tostring() end) return e]=====],
   [=====[":1: bad argument #1 to 'tostring' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() return math.random(1, 2.5) end) return e]=====],
   [=====[":1: bad argument #2 to 'random' (number has no integer representation)"]=====]},
  {[=====[!local ok, e = pcall(function() return math.random("a") end) return e]=====],
   [=====[":1: bad argument #1 to 'random' (number expected, got string)"]=====]},
  {[=====[!local ok, e = pcall(function() return select(1.5) end) return e]=====],
   [=====[":1: bad argument #1 to 'select' (number has no integer representation)"]=====]},
  {[=====[!local ok, e = pcall(function() return rawget() end) return e]=====],
   [=====[":1: bad argument #1 to 'rawget' (table expected, got no value)"]=====]},
  {[=====[!local ok, e = pcall(function() return next({}, 1) end) return e]=====],
   [=====["invalid key to 'next'"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} return t:x() end) return e]=====],
   [=====[":1: attempt to call a nil value (method 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() return utf8.char(1, -1) end) return e]=====],
   [=====[":1: bad argument #2 to 'char' (value out of range)"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x"):format() end) return e]=====],
   [=====["x"]=====]},
  {[=====[!local ok, e = pcall(function() return ("%d"):format() end) return e]=====],
   [=====[":1: bad argument #1 to 'format' (no value)"]=====]},
  {[=====[!local ok, e = pcall(function() local s = "x" return s:rep(1e100) end) return e]=====],
   [=====[":1: bad argument #1 to 'rep' (number has no integer representation)"]=====]},
  {[=====[!local ok, e = pcall(function() return math.tointeger() end) return e]=====],
   [=====[":1: bad argument #1 to 'tointeger' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() return math.abs() end) return e]=====],
   [=====[":1: bad argument #1 to 'abs' (number expected, got no value)"]=====]},
  {[=====[!local ok, e = pcall(function() return table.insert(1, 2) end) return e]=====],
   [=====[":1: bad argument #1 to 'insert' (table expected, got number)"]=====]},
  {[=====[!local ok, e = pcall(function() return setmetatable({}, {__index = function() error("deep", 2) end}).x end) return e]=====],
   [=====[":1: deep"]=====]},
  {[=====[!local ok, e = pcall(function() return tostring(setmetatable({}, {__tostring = function() return {} end})) end) return e]=====],
   [=====[":1: '__tostring' must return a string"]=====]},
  {[=====[!local ok, e = pcall(function() return tostring(setmetatable({}, {__name = "N", __tostring = function() return nil end})) end) return e]=====],
   [=====[":1: '__tostring' must return a string"]=====]},
  {[=====[!local ok, e = pcall(function() return load(1, 2, 3, 4, 5) end) return e]=====],
   [=====[nil]=====]},
  {[=====[!local ok, e = pcall(load, "x", {}) return e]=====],
   [=====["bad argument #2 to 'load' (string expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(load, "x", "n", {}) return e]=====],
   [=====["bad argument #3 to 'load' (string expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return getmetatable() end) return e]=====],
   [=====[":1: bad argument #1 to 'getmetatable' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() local a <const> = {} a.x.y = 1 end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local a <const> = "str" return a.x.y end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local a <const> = 10 return a.x end) return e]=====],
   [=====[":1: attempt to index a number value"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x").y.z end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'y')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} for i = 1, 2 do t = t[i] end end) return e]=====],
   [=====[":1: attempt to index a nil value (local 't')"]=====]},
}
local failed = 0
for i, c in ipairs(cases) do
  local got = esc(run(c[1]))
  if got ~= c[2] then
    failed = failed + 1
    print("case " .. i .. ": " .. c[1])
    print("  expected: " .. c[2])
    print("  got:      " .. got)
  end
end
assert(failed == 0, failed .. " case(s) differ")
print("ok")
