-- args: --budget 1000000000
-- Conformance: finalizers, weak tables and collectgarbage options.
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
  {[=====[!local log = {} local keep = {} for i = 1, 5 do keep[i] = setmetatable({}, {__gc = function() log[#log+1] = i end}) end keep = nil collectgarbage() return table.concat(log, ",")]=====],
   [=====["5,4,3,2,1"]=====]},
  {[=====[!local log = {} local mt = {__gc = function(o) log[#log+1] = o.id end} local a = setmetatable({id = "a"}, mt) local b = setmetatable({id = "b"}, mt) local c = setmetatable({id = "c"}, mt) a, b, c = nil collectgarbage() return table.concat(log, ",")]=====],
   [=====["c,b,a"]=====]},
  {[=====[!local log = {} local t = {} local mt = {} setmetatable(t, mt) mt.__gc = function() log[1] = "late" end t = nil collectgarbage() return log[1]]=====],
   [=====[nil]=====]},
  {[=====[!local log = {} local t = setmetatable({}, {__gc = false}) getmetatable(t).__gc = function() log[1] = "x" end t = nil collectgarbage() return log[1]]=====],
   [=====["x"]=====]},
  {[=====[!local saved local t = setmetatable({v = 7}, {__gc = function(o) saved = o end}) t = nil collectgarbage() return saved and saved.v]=====],
   [=====[i:7]=====]},
  {[=====[!local n = 0 local saved local mt = {__gc = function(o) n = n + 1 saved = o end} local t = setmetatable({}, mt) t = nil collectgarbage() saved = nil collectgarbage() return n]=====],
   [=====[i:1]=====]},
  {[=====[!local n = 0 local mt mt = {__gc = function(o) n = n + 1 if n < 3 then setmetatable({}, mt) end end} setmetatable({}, mt) collectgarbage() collectgarbage() collectgarbage() collectgarbage() return n]=====],
   [=====[i:3]=====]},
  {[=====[!local wk = setmetatable({}, {__mode = "k"}) local k1, k2 = {}, {} wk[k1] = 1 wk[k2] = 2 k1 = nil collectgarbage() local n = 0 for _ in pairs(wk) do n = n + 1 end return n, wk[k2]]=====],
   [=====[i:1 i:2]=====]},
  {[=====[!local wv = setmetatable({}, {__mode = "v"}) wv.a = {} wv.b = "s" wv.c = 1 wv.d = function() end local keep = {} wv.e = keep collectgarbage() return wv.a, wv.b, wv.c, wv.d, wv.e == keep]=====],
   [=====[nil "s" i:1 nil true]=====]},
  {[=====[!local e = setmetatable({}, {__mode = "k"}) local k = {} e[k] = {k} k = nil collectgarbage() return next(e)]=====],
   [=====[nil]=====]},
  {[=====[!local e = setmetatable({}, {__mode = "k"}) local k = {} e[k] = {k} collectgarbage() return e[k][1] == k]=====],
   [=====[true]=====]},
  {[=====[!local wv = setmetatable({}, {__mode = "v"}) local log = {} local o = setmetatable({}, {__gc = function() log[1] = "fin" end}) wv[1] = o o = nil collectgarbage() return wv[1], log[1]]=====],
   [=====[nil "fin"]=====]},
  {[=====[!local wk = setmetatable({}, {__mode = "k"}) local o = setmetatable({}, {__gc = function() end}) wk[o] = "val" o = nil collectgarbage() return next(wk)]=====],
   [=====[{} "val"]=====]},
  {[=====[!local c = collectgarbage("count") local t = {} for i = 1, 10000 do t[i] = {} end local c2 = collectgarbage("count") t = nil collectgarbage() local c3 = collectgarbage("count") return c2 > c, c3 < c2]=====],
   [=====[true true]=====]},
  {[=====[!return collectgarbage("setpause", 100), collectgarbage("setpause", 200), collectgarbage("setstepmul", 100), collectgarbage("setstepmul", 100)]=====],
   [=====[i:200 i:100 i:100 i:100]=====]},
  {[=====[!return collectgarbage("stop"), collectgarbage("isrunning"), collectgarbage("restart"), collectgarbage("isrunning")]=====],
   [=====[i:0 false i:0 true]=====]},
  {[=====[!return type(collectgarbage("count")), math.type(collectgarbage("count")), collectgarbage("collect"), collectgarbage()]=====],
   [=====["number" "float" i:0 i:0]=====]},
  {[=====[!local log = {} do local x <close> = setmetatable({}, {__close = function() log[#log+1] = "close" end, __gc = function() log[#log+1] = "gc" end}) end collectgarbage() return table.concat(log, ",")]=====],
   [=====["close,gc"]=====]},
  {[=====[!local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function() end}) coroutine.yield() end) coroutine.resume(co) co = nil collectgarbage() return "no crash"]=====],
   [=====["no crash"]=====]},
  {[=====[!local t = setmetatable({}, {__gc = function() error("in gc") end}) t = nil collectgarbage() return "survived"]=====],
   [=====["survived"]=====]},
  {[=====[!local s = setmetatable({}, {__mode = "k"}) s["str"] = 1 s[1] = 2 collectgarbage() return s.str, s[1]]=====],
   [=====[i:1 i:2]=====]},
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
