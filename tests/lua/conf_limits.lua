-- args: --budget 1000000000
-- Conformance: chain limits, C stack overflow, pattern and string size limits, debug argument checks.
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
  {[=====[!local t = {} setmetatable(t, {__index = t}) return pcall(function() return t.x end)]=====],
   [=====[false ":1: '__index' chain too long; possible loop"]=====]},
  {[=====[!local t = {} setmetatable(t, {__newindex = t}) return pcall(function() t.x = 1 end)]=====],
   [=====[false ":1: '__newindex' chain too long; possible loop"]=====]},
  {[=====[!local a, b = {}, {} setmetatable(a, {__index = b}) setmetatable(b, {__index = a}) return pcall(function() return a.x end)]=====],
   [=====[false ":1: '__index' chain too long; possible loop"]=====]},
  {[=====[!local t = setmetatable({}, {}) local p = t for i = 1, 1990 do p = setmetatable({}, {__index = p}) end return pcall(function() return p.x end)]=====],
   [=====[true nil]=====]},
  {[=====[!local t = setmetatable({}, {}) local p = t for i = 1, 2010 do p = setmetatable({}, {__index = p}) end return pcall(function() return p.x end)]=====],
   [=====[false ":1: '__index' chain too long; possible loop"]=====]},
  {[=====[!local function f(n) if n == 0 then return "bottom" end return pcall(f, n - 1) end return f(150)]=====],
   [=====[true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true true "bottom"]=====]},
  {[=====[!local function f(n) if n == 0 then return "bottom" end local ok, r = pcall(f, n - 1) return r end return f(250)]=====],
   [=====["C stack overflow"]=====]},
  {[=====[!local depth = 0 local function f() depth = depth + 1 return pcall(f) end local ok, a, b = f() return depth > 150, a, b]=====],
   [=====[true true true]=====]},
  {[=====[!local mt = {} mt.__index = function(t, k) return setmetatable({}, mt)[k] end return pcall(function() return setmetatable({}, mt).x end)]=====],
   [=====[false ":1: C stack overflow"]=====]},
  {[=====[!local t = setmetatable({}, {__tostring = function(s) return tostring(s) end}) local ok, e = pcall(tostring, t) return ok, e]=====],
   [=====[false "C stack overflow"]=====]},
  {[=====[!local mt = {} mt.__eq = function(a, b) return a == b end local x, y = setmetatable({}, mt), setmetatable({}, mt) local ok, e = pcall(function() return x == y end) return ok, e]=====],
   [=====[false ":1: C stack overflow"]=====]},
  {[=====[!local co = coroutine.wrap(function() local function f(n) if n == 0 then return coroutine.yield("deep") end return f(n - 1) end return f(150) end) return co()]=====],
   [=====["deep"]=====]},
  {[=====[!local s = string.rep("a", 1000) return #s:rep(1000, ",")]=====],
   [=====[i:1000999]=====]},
  {[=====[!return pcall(string.rep, "ab", math.maxinteger)]=====],
   [=====[false "resulting string too large"]=====]},
  {[=====[!return pcall(string.rep, "a", 10, string.rep("b", 10))]=====],
   [=====[true "abbbbbbbbbbabbbbbbbbbbabbbbbbbbbbabbbbbbbbbbabbbbbbbbbbabbbbbbbbbbabbbbbbbbbbabbbbbbbbbbabbbbbbbbbba"]=====]},
  {[=====[!local t = {} for i = 1, 199 do t[i] = "(" end return pcall(string.find, "x", table.concat(t))]=====],
   [=====[false "too many captures"]=====]},
  {[=====[!return pcall(string.find, "aaa", string.rep("(", 40) .. "a" .. string.rep(")", 40))]=====],
   [=====[false "too many captures"]=====]},
  {[=====[!return pcall(string.find, string.rep("a", 300), string.rep("a?", 300) .. string.rep("a", 300))]=====],
   [=====[false "pattern too complex"]=====]},
  {[=====[!return pcall(string.match, string.rep("a", 3000), ".-b")]=====],
   [=====[true nil]=====]},
  {[=====[!return pcall(string.match, string.rep("(", 10000), "%b()")]=====],
   [=====[true nil]=====]},
  {[=====[!local ok, r = pcall(string.gsub, string.rep("x", 100000), "x", "yy") return #r]=====],
   [=====[i:200000]=====]},
  {[=====[!return pcall(string.format, "%s", string.rep("x", 100000)) and #string.format("%s", string.rep("x", 100000))]=====],
   [=====[i:100000]=====]},
  {[=====[!return pcall(string.format, string.rep("%d", 300), table.unpack({}, 1, 300))]=====],
   [=====[false "bad argument #2 to 'string.format' (number expected, got nil)"]=====]},
  {[=====[!return pcall(select, 1e9)]=====],
   [=====[true]=====]},
  {[=====[!return pcall(select, math.mininteger, 1)]=====],
   [=====[false "bad argument #1 to 'select' (index out of range)"]=====]},
  {[=====[!return pcall(table.concat, {}, "", 1, math.maxinteger)]=====],
   [=====[false "invalid value (nil) at index 1 in table for 'concat'"]=====]},
  {[=====[!return pcall(debug.setlocal, 1, 1000, 1)]=====],
   [=====[true nil]=====]},
  {[=====[!return pcall(debug.getlocal, 1, 0)]=====],
   [=====[true nil]=====]},
  {[=====[!return pcall(debug.getlocal, 1, -100)]=====],
   [=====[true nil]=====]},
  {[=====[!return pcall(debug.setupvalue, print, 1, 1)]=====],
   [=====[true]=====]},
  {[=====[!return pcall(debug.getupvalue, print, 0)]=====],
   [=====[true]=====]},
  {[=====[!return pcall(debug.upvalueid, function() end, 0)]=====],
   [=====[true nil]=====]},
  {[=====[!local function f() end return pcall(debug.upvaluejoin, f, 1, f, 1)]=====],
   [=====[false "bad argument #2 to 'debug.upvaluejoin' (invalid upvalue index)"]=====]},
  {[=====[!local a = 1 local function f() return a end return pcall(debug.upvaluejoin, f, 1, print, 1)]=====],
   [=====[false "bad argument #4 to 'debug.upvaluejoin' (invalid upvalue index)"]=====]},
  {[=====[!return pcall(debug.getinfo, 1, "f>")]=====],
   [=====[false "bad argument #2 to 'debug.getinfo' (invalid option)"]=====]},
  {[=====[!return pcall(debug.getinfo, 0, "n")]=====],
   [=====[true {["namewhat"]=""}]=====]},
  {[=====[!return pcall(debug.getinfo, -1)]=====],
   [=====[true nil]=====]},
  {[=====[!return pcall(debug.traceback, "x", -1)]=====],
   [=====[true "x\092\010stack traceback:"]=====]},
  {[=====[!return pcall(debug.sethook, 1, 2)]=====],
   [=====[false "bad argument #1 to 'debug.sethook' (function expected, got number)"]=====]},
  {[=====[!local n = 0 debug.sethook(function() n = n + 1 error("hook err") end, "l") local ok, e = pcall(function() local x = 1 end) debug.sethook() return ok, e]=====],
   [=====[false ":1: hook err"]=====]},
  {[=====[!local co = coroutine.create(function() local x = 1 coroutine.yield() end) debug.sethook(co, function() end, "l") local f, m = debug.gethook(co) debug.sethook(co) return type(f), m]=====],
   [=====["function" "l"]=====]},
  {[=====[!return pcall(setmetatable, {}, {__gc = true})]=====],
   [=====[true {}]=====]},
  {[=====[!return pcall(load, string.rep("x = 1\n", 100000))]=====],
   [=====[true function]=====]},
  {[=====[!return select('#', load(string.rep("local a\n", 199))())]=====],
   [=====[i:0]=====]},
  {[=====[!local t = {} for i = 1, 100 do t[i] = "local a" .. i .. " = " .. i end t[101] = "return a1 + a100" return load(table.concat(t, "\n"))()]=====],
   [=====[i:101]=====]},
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
