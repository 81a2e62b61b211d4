-- args: --budget 1000000000
-- Conformance: _ENV handling and the variable descriptions in runtime error messages.
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
  {[=====[!local ok, e = pcall(function() local _ENV = nil return x end) return e]=====],
   [=====[":1: attempt to index a nil value (local '_ENV')"]=====]},
  {[=====[!local ok, e = pcall(load("_ENV = nil return y")) return e]=====],
   [=====[":1: attempt to index a nil value (upvalue '_ENV')"]=====]},
  {[=====[!local ok, e = pcall(function() local _ENV = {} return x.y end) return e]=====],
   [=====[":1: attempt to index a nil value (global 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local _ENV = {} x() end) return e]=====],
   [=====[":1: attempt to call a nil value (global 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local _ENV = setmetatable({}, {__index = _G}) return undefinedfn() end) return e]=====],
   [=====[":1: attempt to call a nil value (global 'undefinedfn')"]=====]},
  {[=====[!local t = {} local f = load("a = 1; b = a + 1; return b", "c", "t", t) return f(), t.a, t.b, rawget(_G, "a")]=====],
   [=====[i:2 i:1 i:2 nil]=====]},
  {[=====[!local function f() local _ENV = {z = 5} return z end return f()]=====],
   [=====[i:5]=====]},
  {[=====[!local _ENV = {tostring = tostring} function gf() return 1 end return tostring(gf ~= nil)]=====],
   [=====["true"]=====]},
  {[=====[!local e = {} local f = load("function g() return 7 end", "x", "t", e) f() return e.g()]=====],
   [=====[i:7]=====]},
  {[=====[!local f = load("return _ENV") return f() == _G]=====],
   [=====[true]=====]},
  {[=====[!local f = load("local x = ... return _ENV, x", "x", "t", 42) return f("arg")]=====],
   [=====[i:42 "arg"]=====]},
  {[=====[!local f = load("return function() return _ENV end") local g = f() return g() == _G]=====],
   [=====[true]=====]},
  {[=====[!local up = 1 local f = function() return up end local name = debug.getupvalue(f, 1) return name]=====],
   [=====["up"]=====]},
  {[=====[!local f = load("return x") debug.setupvalue(f, 1, {x = "swapped"}) return f()]=====],
   [=====["swapped"]=====]},
  {[=====[!return _G._G == _G, _G._VERSION, type(_ENV)]=====],
   [=====[true "Lua 5.4" "table"]=====]},
  {[=====[!local ok, e = pcall(function() _ENV.x.y = 1 end) return e]=====],
   [=====[":1: attempt to index a nil value (global 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = _ENV t.nope.x = 1 end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'nope')"]=====]},
  {[=====[!local ok, e = pcall(function() return _ENV["a b"].c end) return e]=====],
   [=====[":1: attempt to index a nil value (global 'a b')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a["key with space"].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'key with space')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a[true].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field '?')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} local k = 1.5 return a[k].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field '?')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a[1.5].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field '?')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a[-1].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field '?')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a[300].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field '?')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a.x.y.z end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {x = {}} return a.x.y.z end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'y')"]=====]},
  {[=====[!local ok, e = pcall(function() return string.x.y end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local s = string return s.x.y end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} a.b.c.d = 1 end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'b')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} a[1] = a[2].x end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'integer index')"]=====]},
  {[=====[!local ok, e = pcall(function() local a <const> = nil return a.x end) return e]=====],
   [=====[":1: attempt to index a nil value"]=====]},
  {[=====[!local ok, e = pcall(function() local a <const> = {} return a.x.y end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = nil return a:m() end) return e]=====],
   [=====[":1: attempt to index a nil value (local 'a')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = {} return a:m() end) return e]=====],
   [=====[":1: attempt to call a nil value (method 'm')"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x"):m() end) return e]=====],
   [=====[":1: attempt to call a nil value (method 'm')"]=====]},
  {[=====[!local ok, e = pcall(function() return (1):m() end) return e]=====],
   [=====[":1: attempt to index a number value"]=====]},
  {[=====[!local ok, e = pcall(function() local a = 1 return a.x end) return e]=====],
   [=====[":1: attempt to index a number value (local 'a')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = 1 return #a end) return e]=====],
   [=====[":1: attempt to get length of a number value (local 'a')"]=====]},
  {[=====[!local ok, e = pcall(function() local a = "s" return -a end) return e]=====],
   [=====[":1: attempt to unm a 'string' with a 'string'"]=====]},
  {[=====[!local ok, e = pcall(function() local a = "s" return a + 1 end) return e]=====],
   [=====[":1: attempt to add a 'string' with a 'number'"]=====]},
  {[=====[!local ok, e = pcall(function() local a = "s" return 1 + a end) return e]=====],
   [=====[":1: attempt to add a 'number' with a 'string'"]=====]},
  {[=====[!local ok, e = pcall(function() local a = "s" return a * "2" end) return e]=====],
   [=====[":1: attempt to mul a 'string' with a 'string'"]=====]},
  {[=====[!local ok, e = pcall(function() local a = "1" return a + {} end) return e]=====],
   [=====[":1: attempt to add a 'string' with a 'table'"]=====]},
  {[=====[!local ok, e = pcall(function() return "1" + true end) return e]=====],
   [=====[":1: attempt to add a 'string' with a 'boolean'"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} return t.x + t.y end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {x = 1} return t.x + t.y end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a nil value (field 'y')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {x = 1} return t.x .. t.y end) return e]=====],
   [=====[":1: attempt to concatenate a nil value (field 'y')"]=====]},
  {[=====[!local ok, e = pcall(function() local up = {} return (function() return up + 1 end)() end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value (upvalue 'up')"]=====]},
  {[=====[!local ok, e = pcall(function() return math.pi + {} end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value"]=====]},
  {[=====[!local ok, e = pcall(function() return -math end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value (global 'math')"]=====]},
  {[=====[!local ok, e = pcall(function() return ~math.pi end) return e]=====],
   [=====[":1: number (field 'pi') has no integer representation"]=====]},
  {[=====[!local ok, e = pcall(function() local x = 2^63 return ~x end) return e]=====],
   [=====[":1: number (local 'x') has no integer representation"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {} return t.x & 1 end) return e]=====],
   [=====[":1: attempt to perform bitwise operation on a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {x = 1.5} return 1 | t.x end) return e]=====],
   [=====[":1: number (field 'x') has no integer representation"]=====]},
  {[=====[!local ok, e = pcall(function() return 1 < {} end) return e]=====],
   [=====[":1: attempt to compare number with table"]=====]},
  {[=====[!local ok, e = pcall(function() return {} <= 1 end) return e]=====],
   [=====[":1: attempt to compare table with number"]=====]},
  {[=====[!local ok, e = pcall(function() return "a" >= 1 end) return e]=====],
   [=====[":1: attempt to compare number with string"]=====]},
  {[=====[!local ok, e = pcall(function() return nil > nil end) return e]=====],
   [=====[":1: attempt to compare two nil values"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__name = "MyType"}) return t < 1 end) return e]=====],
   [=====[":1: attempt to compare MyType with number"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__name = "MyType"}) return t + 1 end) return e]=====],
   [=====[":1: attempt to perform arithmetic on a MyType value (local 't')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__name = "MyType"}) return t.x.y end) return e]=====],
   [=====[":1: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__name = "MyType"}) return #t .. t end) return e]=====],
   [=====[":1: attempt to concatenate a MyType value (local 't')"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__name = "MyType"}) return math.floor(t) end) return e]=====],
   [=====[":1: bad argument #1 to 'floor' (number expected, got MyType)"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__name = "MyType"}) return ("x"):rep(t) end) return e]=====],
   [=====[":1: bad argument #1 to 'rep' (number expected, got MyType)"]=====]},
  {[=====[!local ok, e = pcall(function() local t = setmetatable({}, {__name = "MyType"}) t() end) return e]=====],
   [=====[":1: attempt to call a MyType value (local 't')"]=====]},
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
