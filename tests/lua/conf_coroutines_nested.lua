-- args: --budget 1000000000
-- Conformance: coroutines with pcall, wrap, metamethods that yield, close and errors.
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
  {[=====[!local f = coroutine.wrap(function() return 1 end) f() local ok, e = pcall(f) return e]=====],
   [=====["cannot resume dead coroutine"]=====]},
  {[=====[!local f = coroutine.wrap(function() error("x") end) local ok, e = pcall(f) return e]=====],
   [=====[":1: x"]=====]},
  {[=====[!local f = coroutine.wrap(function() error("x", 2) end) local ok, e = pcall(f) return e]=====],
   [=====["x"]=====]},
  {[=====[!local f = coroutine.wrap(function() local t = nil; t.x = 1 end) local ok, e = pcall(f) return e]=====],
   [=====[":1: attempt to index a nil value (local 't')"]=====]},
  {[=====[!local f = coroutine.wrap(function() coroutine.yield(1) error("later") end) f() local ok, e = pcall(f) return e, pcall(f)]=====],
   [=====[":1: later" false "cannot resume dead coroutine"]=====]},
  {[=====[!local co = coroutine.create(function() coroutine.yield(1) end) coroutine.resume(co) coroutine.resume(co) return coroutine.resume(co)]=====],
   [=====[false "cannot resume dead coroutine"]=====]},
  {[=====[!local co = coroutine.wrap(function(...) local n = select('#', ...) local a = {coroutine.yield(n)} return #a end) return co(1, 2, 3), co(nil, nil)]=====],
   [=====[i:3 i:0]=====]},
  {[=====[!local function gen(n) return coroutine.wrap(function() for i = 1, n do coroutine.yield(i) end end) end local s = 0 for v in gen(5) do s = s + v end return s]=====],
   [=====[i:15]=====]},
  {[=====[!local function producer() return coroutine.create(function() for _, w in ipairs({"a", "b", "c"}) do coroutine.yield(w) end return "done" end) end local p = producer() local r = {} while coroutine.status(p) ~= "dead" do local _, v = coroutine.resume(p) r[#r+1] = v end return table.concat(r, ",")]=====],
   [=====["a,b,c,done"]=====]},
  {[=====[!local co = coroutine.create(function() local ok, e = pcall(function() coroutine.yield("in pcall") error("E", 0) end) coroutine.yield(ok, e) return "fin" end) local r = {} for i = 1, 4 do r[#r+1] = table.concat({tostring(select(2, coroutine.resume(co)))}, "") end return table.concat(r, "|")]=====],
   [=====["in pcall|false|fin|cannot resume dead coroutine"]=====]},
  {[=====[!local co = coroutine.create(function() local ok, a, b = pcall(coroutine.yield, "y1") return ok, a, b end) coroutine.resume(co) return coroutine.resume(co, "r1", "r2")]=====],
   [=====[true true "r1" "r2"]=====]},
  {[=====[!local co = coroutine.create(function() local r = {pcall(function() return pcall(function() return coroutine.yield("deep") end) end)} return table.unpack(r) end) local _, y = coroutine.resume(co) return y, coroutine.resume(co, "back")]=====],
   [=====["deep" true true true "back"]=====]},
  {[=====[!local t = setmetatable({}, {__index = function(t, k) return coroutine.yield("idx:" .. k) end, __newindex = function(t, k, v) coroutine.yield("set:" .. k) end}) local co = coroutine.wrap(function() local a = t.foo t.bar = 1 return "got " .. tostring(a) end) return co(), co("A"), co()]=====],
   [=====["idx:foo" "set:bar" "got A"]=====]},
  {[=====[!local mt = {__add = function(a, b) return coroutine.yield("add") end, __eq = function() return coroutine.yield("eq") end, __len = function() return coroutine.yield("len") end, __call = function(self, x) return coroutine.yield("call" .. x) end} local o = setmetatable({}, mt) local co = coroutine.wrap(function() local r1 = o + 1 local r2 = (o == setmetatable({}, mt)) local r3 = #o local r4 = o(7) return r1, r2, r3, r4 end) return co(), co(10), co(true), co(3), co("c")]=====],
   [=====["add" "eq" "len" "call7" i:10 true i:3 "c"]=====]},
  {[=====[!local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = function(_, e) coroutine.yield("closing " .. tostring(e)) end}) error("E", 0) end) local a = {coroutine.resume(co)} local b = {coroutine.resume(co)} return a[1], a[2], b[1], b[2], coroutine.status(co)]=====],
   [=====[false "E" false "cannot resume dead coroutine" "dead"]=====]},
  {[=====[!local log = {} local co = coroutine.create(function() local a <close> = setmetatable({}, {__close = function() log[#log+1] = "a" end}) local b <close> = setmetatable({}, {__close = function() log[#log+1] = "b" end}) coroutine.yield() end) coroutine.resume(co) local ok = coroutine.close(co) return ok, table.concat(log), coroutine.status(co), coroutine.resume(co)]=====],
   [=====[true "ba" "dead" false "cannot resume dead coroutine"]=====]},
  {[=====[!local co = coroutine.create(function() local a <close> = setmetatable({}, {__close = function() error("ce", 0) end}) coroutine.yield() end) coroutine.resume(co) return coroutine.close(co)]=====],
   [=====[false "ce"]=====]},
  {[=====[!local co = coroutine.create(function() return 1 end) coroutine.resume(co) return coroutine.close(co), coroutine.close(co)]=====],
   [=====[true true]=====]},
  {[=====[!local co = coroutine.wrap(function() return coroutine.isyieldable(), coroutine.running() end) local y, th = co() return y, type(th)]=====],
   [=====[true "thread"]=====]},
  {[=====[!local co = coroutine.create(function() return pcall(coroutine.wrap(function() coroutine.yield(1) end)) end) return coroutine.resume(co)]=====],
   [=====[true true i:1]=====]},
  {[=====[!local co = coroutine.create(function() local inner = coroutine.wrap(function() coroutine.yield("inner") return "inner done" end) return inner(), inner() end) return coroutine.resume(co)]=====],
   [=====[true "inner" "inner done"]=====]},
  {[=====[!local outer = coroutine.wrap(function() local inner = coroutine.wrap(function() coroutine.yield("to outer caller?") end) local v = inner() coroutine.yield("outer got " .. tostring(v)) return "end" end) return outer(), outer()]=====],
   [=====["outer got to outer caller?" "end"]=====]},
  {[=====[!local co = coroutine.create(function() local x = {} setmetatable(x, {__gc = function() end}) coroutine.yield(x) end) local _, x = coroutine.resume(co) return type(x)]=====],
   [=====["table"]=====]},
  {[=====[!local co = coroutine.create(function(...) return ... end) return coroutine.resume(co, 1, nil, 3, nil)]=====],
   [=====[true i:1 nil i:3 nil]=====]},
  {[=====[!local co = coroutine.create(function() coroutine.yield() end) coroutine.resume(co) return coroutine.status(co), coroutine.close(co), coroutine.status(co)]=====],
   [=====["suspended" true "dead"]=====]},
  {[=====[!local co = coroutine.create(function() local co2 = coroutine.running() return coroutine.status(co2), pcall(coroutine.close, co2) end) return coroutine.resume(co)]=====],
   [=====[true "running" false "cannot close a running coroutine"]=====]},
  {[=====[!local a a = coroutine.create(function() local b = coroutine.create(function() return pcall(coroutine.close, a) end) return coroutine.resume(b) end) return coroutine.resume(a)]=====],
   [=====[true true false "cannot close a normal coroutine"]=====]},
  {[=====[!local co = coroutine.create(function() coroutine.yield() end) return pcall(coroutine.resume, co, table.unpack({}, 1, 10))]=====],
   [=====[true true]=====]},
  {[=====[!return pcall(coroutine.wrap(function() return table.unpack({}, 1, 250) end))]=====],
   [=====[true nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil nil]=====]},
  {[=====[!local ok, e = pcall(coroutine.wrap(function() local t = setmetatable({}, {__index = function() error("ie") end}) return t.x end)) return e]=====],
   [=====[":1: ie"]=====]},
  {[=====[!local f = coroutine.wrap(function() error(setmetatable({}, {__tostring = function() return "obj" end})) end) local ok, e = pcall(f) return tostring(e)]=====],
   [=====["obj"]=====]},
  {[=====[!local f = coroutine.wrap(function() error() end) return pcall(f)]=====],
   [=====[false nil]=====]},
  {[=====[!local f = coroutine.wrap(function() error(42) end) return pcall(f)]=====],
   [=====[false i:42]=====]},
  {[=====[!local co = coroutine.create(function() error(nil) end) return coroutine.resume(co)]=====],
   [=====[false nil]=====]},
  {[=====[!local co = coroutine.create(string.rep) return coroutine.resume(co, "ab", 3)]=====],
   [=====[true "ababab"]=====]},
  {[=====[!local co = coroutine.create(coroutine.yield) return coroutine.resume(co, 1, 2), coroutine.resume(co, 3), coroutine.status(co)]=====],
   [=====[true true "dead"]=====]},
  {[=====[!local co = coroutine.wrap(pcall) return co(error, "e")]=====],
   [=====[false "e"]=====]},
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
