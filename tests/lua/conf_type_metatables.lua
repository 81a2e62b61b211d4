-- args: --budget 1000000000
-- Conformance: metatables of non-table types (nil, booleans, numbers, functions, threads, strings).
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
  {[=====[!debug.setmetatable(nil, {__index = function(t, k) return "nil." .. k end}) local r = (nil).foo local x = nil local r2 = x.bar debug.setmetatable(nil, nil) return r, r2]=====],
   [=====["nil.foo" "nil.bar"]=====]},
  {[=====[!debug.setmetatable(true, {__len = function(b) return 42 end, __call = function(b, a) return "called " .. tostring(a) end}) local r = #true local r2 = (false)(7) debug.setmetatable(true, nil) return r, r2]=====],
   [=====[i:42 "called 7"]=====]},
  {[=====[!debug.setmetatable(print, {__index = {name = "fn"}}) local r = print.name local r2 = (function() end).name debug.setmetatable(print, nil) return r, r2]=====],
   [=====["fn" "fn"]=====]},
  {[=====[!debug.setmetatable(1, {__concat = function(a, b) return "cc" end, __call = function(n, x) return n * x end}) local ok, r = pcall(function() return (5)(3) end) debug.setmetatable(1, nil) return ok, r]=====],
   [=====[true i:15]=====]},
  {[=====[!debug.setmetatable(1, {__index = math}) local r = (16):sqrt() local r2 = (2.5):floor() debug.setmetatable(1, nil) return r, r2]=====],
   [=====[f:4/4.0 i:2]=====]},
  {[=====[!local co = coroutine.create(print) debug.setmetatable(co, {__index = {kind = "thread"}}) local r = co.kind debug.setmetatable(co, nil) return r]=====],
   [=====["thread"]=====]},
  {[=====[!local smt = getmetatable("") local old = smt.__index smt.__index = function(s, k) return type(k) == "number" and s:sub(k, k) or old[k] end local r = ("hello")[2] smt.__index = old return r]=====],
   [=====["e"]=====]},
  {[=====[!local smt = getmetatable("") smt.__add = function(a, b) return "added" end local ok, r = pcall(function() return "a" + "b" end) smt.__add = nil return ok, r]=====],
   [=====[true "added"]=====]},
  {[=====[!local smt = getmetatable("") return smt.__name, smt.__add ~= nil, smt.__unm ~= nil, smt.__concat, smt.__len, smt.__eq, smt.__lt, smt.__band]=====],
   [=====[nil false true nil nil nil nil nil]=====]},
  {[=====[!return getmetatable("").__index == string, rawequal(getmetatable("a"), getmetatable("b"))]=====],
   [=====[true true]=====]},
  {[=====[!return ("10") + 5, ("10") * "2", "3" ^ 2, -"3", "7" // "2", "7" % "3", "1" / "4"]=====],
   [=====[ERR:":1: attempt to perform arithmetic on a string value (constant '10')"]=====]},
  {[=====[!return pcall(function() return "10" & 3 end)]=====],
   [=====[false ":1: attempt to perform bitwise operation on a string value (constant '10')"]=====]},
  {[=====[!return pcall(function() return "a" + 1 end)]=====],
   [=====[false ":1: attempt to perform arithmetic on a string value (constant 'a')"]=====]},
  {[=====[!return pcall(function() return {} + "1" end)]=====],
   [=====[false ":1: attempt to perform arithmetic on a table value"]=====]},
  {[=====[!return pcall(function() return "1" + setmetatable({}, {__add = function(a, b) return "mm" end}) end)]=====],
   [=====[true "mm"]=====]},
  {[=====[!return pcall(function() return setmetatable({}, {__add = function(a, b) return "mm" end}) + "1" end)]=====],
   [=====[true "mm"]=====]},
  {[=====[!return pcall(function() return "x" + setmetatable({}, {__add = function(a, b) return "mm2" end}) end)]=====],
   [=====[true "mm2"]=====]},
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
