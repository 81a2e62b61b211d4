-- args: --budget 1000000000
-- Conformance: coroutine.wrap errors, recursive resumes, generators and status queries.
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
  {[=====[!local f f = coroutine.wrap(function() return pcall(f) end) return f()]=====],
   [=====[false "cannot resume non-suspended coroutine"]=====]},
  {[=====[!local f f = coroutine.wrap(function() f() end) return pcall(f)]=====],
   [=====[false ":1: cannot resume non-suspended coroutine"]=====]},
  {[=====[!local co co = coroutine.create(function() return coroutine.resume(co) end) return coroutine.resume(co)]=====],
   [=====[true false "cannot resume non-suspended coroutine"]=====]},
  {[=====[!local f = coroutine.wrap(function() return 1 end) f() local ok, e = pcall(f) return e]=====],
   [=====["cannot resume dead coroutine"]=====]},
  {[=====[!local co = coroutine.wrap(function() local x = {} x = x + 1 end) local ok, e = pcall(co) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value (local 'x')"]=====]},
  {[=====[!local co = coroutine.create(function() local x = {} x = x + 1 end) local ok, e = coroutine.resume(co) return e]=====],
   [=====[":1: attempt to perform arithmetic on a table value (local 'x')"]=====]},
  {[=====[!local function thrower() error("T") end local co = coroutine.wrap(function() thrower() end) local ok, e = pcall(co) return e]=====],
   [=====[":1: T"]=====]},
  {[=====[!local co = coroutine.wrap(function() error("T", 2) end) local ok, e = pcall(co) return e]=====],
   [=====["T"]=====]},
  {[=====[!local co = coroutine.wrap(function() coroutine.yield(1) end) co() co() local ok, e = pcall(co) return e]=====],
   [=====["cannot resume dead coroutine"]=====]},
  {[=====[!local gen = coroutine.wrap(function() error() end) return pcall(gen)]=====],
   [=====[false nil]=====]},
  {[=====[!return coroutine.status(coroutine.create(function() end)), coroutine.running() ~= nil]=====],
   [=====["suspended" true]=====]},
  {[=====[!local co = coroutine.create(function() local a, b = coroutine.yield() return a, b end) coroutine.resume(co) return coroutine.resume(co, 1)]=====],
   [=====[true i:1 nil]=====]},
  {[=====[!local t = {} local co = coroutine.create(function() t[1] = coroutine.status(coroutine.running()) end) coroutine.resume(co) return t[1]]=====],
   [=====["running"]=====]},
  {[=====[!local out = {} local function tree(n) if n > 0 then tree(n - 1) coroutine.yield(n) tree(n - 1) end end for v in coroutine.wrap(function() tree(3) end) do out[#out+1] = v end return table.concat(out)]=====],
   [=====["1213121"]=====]},
  {[=====[!local co = coroutine.wrap(function(...) while true do local a = coroutine.yield(...) if a == nil then return "end" end end end) return co(1, 2), co(3), co(nil)]=====],
   [=====[i:1 i:1 "end"]=====]},
  {[=====[!return select('#', coroutine.running())]=====],
   [=====[i:2]=====]},
  {[=====[!local co = coroutine.create(function() coroutine.yield() end) coroutine.resume(co) return pcall(coroutine.status, co), coroutine.isyieldable(co)]=====],
   [=====[true true]=====]},
  {[=====[!local co = coroutine.create(function() end) return coroutine.isyieldable(co)]=====],
   [=====[true]=====]},
  {[=====[!local co = coroutine.create(function() return coroutine.isyieldable(coroutine.running()) end) return coroutine.resume(co)]=====],
   [=====[true true]=====]},
  {[=====[!return pcall(coroutine.isyieldable, 1)]=====],
   [=====[false "bad argument #1 to 'coroutine.isyieldable' (thread expected, got number)"]=====]},
  {[=====[!local co = coroutine.create(function() pcall(function() local t = setmetatable({}, {__index = function() coroutine.yield("in meta") return "v" end}) return t.x end) return "done" end) return coroutine.resume(co), coroutine.resume(co)]=====],
   [=====[true true "done"]=====]},
  {[=====[!local results = {} local co = coroutine.create(function(a) for i = 1, 3 do a = coroutine.yield(a * 2) end return "fin", a end) local v = 1 for i = 1, 4 do local ok, r, r2 = coroutine.resume(co, v) results[#results+1] = tostring(r) .. tostring(r2) v = (tonumber(r) or 0) + 1 end return table.concat(results, ",")]=====],
   [=====["2nil,6nil,14nil,fin15"]=====]},
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
