-- args: --budget 1000000000
-- Conformance: base library argument checks (warn, print, raw functions, select, error levels, ipairs, load modes).
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
  {[=====[pcall(warn)]=====],
   [=====[false "bad argument #1 to 'warn' (string expected, got no value)"]=====]},
  {[=====[pcall(warn, {})]=====],
   [=====[false "bad argument #1 to 'warn' (string expected, got table)"]=====]},
  {[=====[pcall(warn, "a", {})]=====],
   [=====[false "bad argument #2 to 'warn' (string expected, got table)"]=====]},
  {[=====[pcall(warn, "a", 1, "b")]=====],
   [=====[true]=====]},
  {[=====[select('#', warn("x"))]=====],
   [=====[i:0]=====]},
  {[=====[pcall(print, setmetatable({}, {__tostring = function() error("ts err") end}))]=====],
   [=====[false ":1: ts err"]=====]},
  {[=====[pcall(print, setmetatable({}, {__tostring = function() return 1 end}))]=====],
   [=====[true]=====]},
  {[=====[pcall(tostring, setmetatable({}, {__tostring = function() return nil end}))]=====],
   [=====[false "'__tostring' must return a string"]=====]},
  {[=====[pcall(rawequal)]=====],
   [=====[false "bad argument #1 to 'rawequal' (value expected)"]=====]},
  {[=====[pcall(rawlen)]=====],
   [=====[false "bad argument #1 to 'rawlen' (table or string expected, got no value)"]=====]},
  {[=====[pcall(rawget, {})]=====],
   [=====[false "bad argument #2 to 'rawget' (value expected)"]=====]},
  {[=====[pcall(rawset, {}, 1)]=====],
   [=====[false "bad argument #3 to 'rawset' (value expected)"]=====]},
  {[=====[pcall(setmetatable, {}, nil), pcall(setmetatable, {})]=====],
   [=====[true false "bad argument #2 to 'setmetatable' (nil or table expected, got no value)"]=====]},
  {[=====[pcall(next, {}, nil, 1)]=====],
   [=====[true nil]=====]},
  {[=====[pcall(type, nil)]=====],
   [=====[true "nil"]=====]},
  {[=====[pcall(collectgarbage, 1)]=====],
   [=====[false "bad argument #1 to 'collectgarbage' (invalid option '1')"]=====]},
  {[=====[pcall(collectgarbage, "step", "x")]=====],
   [=====[false "bad argument #2 to 'collectgarbage' (number expected, got string)"]=====]},
  {[=====[pcall(tostring, nil), pcall(tostring, 1, 2)]=====],
   [=====[true true "1"]=====]},
  {[=====[select('#', pcall(pcall))]=====],
   [=====[i:2]=====]},
  {[=====[pcall(unpack)]=====],
   [=====[false "attempt to call a nil value"]=====]},
  {[=====[pcall(getmetatable, setmetatable({}, {__metatable = {1}}))]=====],
   [=====[true {[i:1]=i:1}]=====]},
  {[=====[string.format("%s %s", pcall(error, setmetatable({}, {__tostring = function() return "E!" end})))]=====],
   [=====["false E!"]=====]},
  {[=====[pcall(error, "lvl", 1.0)]=====],
   [=====[false "lvl"]=====]},
  {[=====[pcall(error, "lvl", "2")]=====],
   [=====[false ":1: lvl"]=====]},
  {[=====[pcall(error, "lvl", 1.5)]=====],
   [=====[false "bad argument #2 to 'error' (number has no integer representation)"]=====]},
  {[=====[pcall(select, "#x")]=====],
   [=====[true i:0]=====]},
  {[=====[pcall(select, "x#")]=====],
   [=====[false "bad argument #1 to 'select' (number expected, got string)"]=====]},
  {[=====[pcall(select, 2.0, "a", "b")]=====],
   [=====[true "b"]=====]},
  {[=====[pcall(select, "2", "a", "b")]=====],
   [=====[true "b"]=====]},
  {[=====[pcall(ipairs, 1)]=====],
   [=====[true function i:1 i:0]=====]},
  {[=====[pcall(ipairs, "abc")]=====],
   [=====[true function "abc" i:0]=====]},
  {[=====[!local r = {} for i, c in ipairs("abc") do r[#r+1] = c end return #r]=====],
   [=====[i:0]=====]},
  {[=====[!local ok, e = pcall(function() for i, c in ipairs(5) do end end) return e]=====],
   [=====["attempt to index a number value"]=====]},
  {[=====[!local ok, e = pcall(function() for k, v in pairs("str") do end end) return e]=====],
   [=====[":1: bad argument #1 to 'for iterator' (table expected, got string)"]=====]},
  {[=====[pcall(load, "return 1", "n", "x")]=====],
   [=====[true nil "attempt to load a text chunk (mode is 'x')"]=====]},
  {[=====[pcall(load("return 1", "n", "b"))]=====],
   [=====[false "attempt to call a nil value"]=====]},
  {[=====[pcall(load, "return 1", 5, "t")]=====],
   [=====[true function]=====]},
  {[=====[pcall(assert, 1 == 1, "msg")]=====],
   [=====[true true "msg"]=====]},
  {[=====[pcall(assert, 1 == 2, "msg")]=====],
   [=====[false "msg"]=====]},
  {[=====[pcall(assert, false, 42)]=====],
   [=====[false i:42]=====]},
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
