-- args: --budget 1000000000
-- Conformance: load with reader functions (split tokens, numbers as pieces, bad pieces, reader errors).
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
  {[=====[!local src = "local x = 'split string' return x .. #x, 12345.5e1, [[long\nbracket]]" local i = 0 local f = load(function() i = i + 1 return src:sub(i, i) ~= "" and src:sub(i, i) or nil end) return f()]=====],
   [=====["split string12" f:123455/123455.0 "long\092\010bracket"]=====]},
  {[=====[!local parts = {"ret", "urn 1", "0 + ", 5} local i = 0 return load(function() i = i + 1 return parts[i] end)()]=====],
   [=====[i:15]=====]},
  {[=====[!local parts = {"return 1", "", "+ 2"} local i = 0 local f, e = load(function() i = i + 1 return parts[i] end) return f and f(), e]=====],
   [=====[i:1 nil]=====]},
  {[=====[!local n = 0 local f, e = load(function() n = n + 1 if n > 1 then return nil end return "return 7" end, "=reader") return f(), n]=====],
   [=====[i:7 i:2]=====]},
  {[=====[!local i = 0 return load(function() i = i + 1 if i == 1 then return "return " end return true end)]=====],
   [=====[nil ":1: reader function must return a string"]=====]},
  {[=====[!local i = 0 return load(function() i = i + 1 if i == 1 then return "x = " end error("reader broke", 0) end)]=====],
   [=====[nil "reader broke"]=====]},
  {[=====[!local i = 0 return load(function() i = i + 1 if i == 1 then return "x = " end error({}) end)]=====],
   [=====[nil {}]=====]},
  {[=====[!local i = 0 return load(function() i = i + 1 if i == 1 then return "return 1 +" end return nil end, "=r")]=====],
   [=====[nil "r:1: unexpected symbol near <eof>"]=====]},
  {[=====[!return load(function() return nil end)()]=====],
   [=====[]=====]},
  {[=====[!local f = load(function() return nil end) return type(f), select('#', f())]=====],
   [=====["function" i:0]=====]},
  {[=====[!return load("", "=empty")()]=====],
   [=====[]=====]},
  {[=====[!return select('#', load("")())]=====],
   [=====[i:0]=====]},
  {[=====[!local src = string.rep("x = x + 1\n", 1000) .. "return x" local pos = 1 local f = load(function() local p = src:sub(pos, pos + 6) pos = pos + 7 return p end, "=chunks", "t", {x = 0}) return f()]=====],
   [=====[i:1000]=====]},
  {[=====[!return pcall(load, function() coroutine.yield() end)]=====],
   [=====[true nil "attempt to yield from outside a coroutine"]=====]},
  {[=====[!local co = coroutine.wrap(function() return load(function() coroutine.yield("y") end) end) return pcall(co)]=====],
   [=====[true nil "attempt to yield across a C-call boundary"]=====]},
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
