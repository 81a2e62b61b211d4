-- args: --budget 1000000000
-- Conformance: closures, goto, numeric and generic for, to-be-closed variables, metamethods, weak tables.
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
  {[=====[!local t = {} t[math.huge - math.huge] = 1 ]=====],
   [=====[ERR:":1: table index is NaN"]=====]},
  {[=====[!local t = {} return pcall(rawset, t, math.huge - math.huge, 1)]=====],
   [=====[false "table index is NaN"]=====]},
  {[=====[!local t = {} return t[math.huge - math.huge]]=====],
   [=====[nil]=====]},
  {[=====[!local fs = {} for i = 1, 3 do fs[i] = function() return i end end return fs[1](), fs[2](), fs[3]()]=====],
   [=====[i:1 i:2 i:3]=====]},
  {[=====[!local fs = {} local i = 1 while i <= 3 do local j = i fs[i] = function() j = j + 10 return j end i = i + 1 end return fs[1](), fs[1](), fs[2]()]=====],
   [=====[i:11 i:21 i:12]=====]},
  {[=====[!local fs = {} for i = 1, 3 do fs[i] = function() i = i + 1 return i end end return fs[1](), fs[1](), fs[2]()]=====],
   [=====[i:2 i:3 i:3]=====]},
  {[=====[!local fs = {} for _, v in ipairs({"a", "b"}) do fs[#fs + 1] = function() return v end end return fs[1](), fs[2]()]=====],
   [=====["a" "b"]=====]},
  {[=====[!local function counter() local c = 0 return function() c = c + 1 return c end, function() return c end end local inc, get = counter() inc() inc() return get()]=====],
   [=====[i:2]=====]},
  {[=====[!local a = {} local x = 1 a[1] = function() return x end x = 2 return a[1]()]=====],
   [=====[i:2]=====]},
  {[=====[!local fs = {} repeat local k = #fs fs[#fs + 1] = function() return k end until #fs == 3 return fs[1](), fs[3]()]=====],
   [=====[i:0 i:2]=====]},
  {[=====[!for i = 1, 3 do local x = i goto cont ::cont:: end return "ok"]=====],
   [=====["ok"]=====]},
  {[=====[!local i = 1 ::top:: i = i + 1 if i < 5 then goto top end return i]=====],
   [=====[i:5]=====]},
  {[=====[!local r = {} for i = 1, 3 do for j = 1, 3 do if j == 2 then goto next end r[#r + 1] = i .. j end ::next:: end return table.concat(r, ",")]=====],
   [=====["11,21,31"]=====]},
  {[=====[!do goto l1 end ::l1:: return 1]=====],
   [=====[i:1]=====]},
  {[=====[!local fs = {} local i = 1 ::top:: local x = i fs[i] = function() return x end i = i + 1 if i <= 2 then goto top end return fs[1](), fs[2]()]=====],
   [=====[i:1 i:2]=====]},
  {[=====[!goto nolabel]=====],
   [=====[COMPILE:":1: no visible label 'nolabel' for <goto> at line 1"]=====]},
  {[=====[!do ::a:: ::a:: end]=====],
   [=====[COMPILE:":1: label 'a' already defined on line 1"]=====]},
  {[=====[!local x goto f local y ::f:: return y]=====],
   [=====[COMPILE:":1: <goto f> at line 1 jumps into the scope of local 'y'"]=====]},
  {[=====[!do local x ::l:: end goto l]=====],
   [=====[COMPILE:":1: no visible label 'l' for <goto> at line 1"]=====]},
  {[=====[!::e:: ::e::]=====],
   [=====[COMPILE:":1: label 'e' already defined on line 1"]=====]},
  {[=====[!repeat local x = 1 goto c local y ::c:: until x]=====],
   [=====[COMPILE:":1: <goto c> at line 1 jumps into the scope of local 'y'"]=====]},
  {[=====[!for i = 1, 3 do end return i]=====],
   [=====[nil]=====]},
  {[=====[!local r = {} for i = 3, 1, -1 do r[#r + 1] = i end return table.concat(r, ",")]=====],
   [=====["3,2,1"]=====]},
  {[=====[!local r = {} for i = 1, 2, 0.5 do r[#r + 1] = i end return table.concat(r, ",")]=====],
   [=====["1.0,1.5,2.0"]=====]},
  {[=====[!local r = {} for i = 1.0, 3 do r[#r + 1] = math.type(i) end return table.concat(r, ",")]=====],
   [=====["float,float,float"]=====]},
  {[=====[!local r = {} for i = 1, 3.5 do r[#r + 1] = math.type(i) .. i end return table.concat(r, ",")]=====],
   [=====["integer1,integer2,integer3"]=====]},
  {[=====[!local n = 0 for i = math.maxinteger - 2, math.maxinteger do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = math.mininteger + 2, math.mininteger, -1 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = math.mininteger, math.mininteger + 2 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = 1, math.huge do n = n + 1 if n == 5 then break end end return n]=====],
   [=====[i:5]=====]},
  {[=====[!local n = 0 for i = 1, -math.huge do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!local n = 0 for i = 0, math.maxinteger, math.maxinteger do n = n + 1 end return n]=====],
   [=====[i:2]=====]},
  {[=====[!local n = 0 for i = math.maxinteger, 0, math.mininteger do n = n + 1 end return n]=====],
   [=====[i:1]=====]},
  {[=====[!local n = 0 for i = 1, 0 do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!local n = 0 for i = 3, 1.5, -1 do n = n + 1 end return n]=====],
   [=====[i:2]=====]},
  {[=====[!local n = 0 for i = 1, 3 do i = i * 10 n = n + i end return n]=====],
   [=====[i:60]=====]},
  {[=====[!local n = 0 for i = 0.1, 1.0, 0.1 do n = n + 1 end return n]=====],
   [=====[i:10]=====]},
  {[=====[!local n = 0 for i = 1, 2^53 + 10, 2^52 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = 5, 1 - 2^63 , -2^62 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = "1", 2 do n = n + 1 end return n]=====],
   [=====[i:2]=====]},
  {[=====[!local n = 0 for i = 1, "2" do n = n + 1 end return n]=====],
   [=====[i:2]=====]},
  {[=====[!local r = {} for i = -3, 3, 2 do r[#r+1] = i end return table.concat(r, ",")]=====],
   [=====["-3,-1,1,3"]=====]},
  {[=====[!local r = 0 for k, v in next, {1, 2, 3} do r = r + v end return r]=====],
   [=====[i:6]=====]},
  {[=====[!local function it(s, c) if c < s then return c + 1, c * 2 end end local r = {} for a, b in it, 3, 0 do r[#r+1] = a .. ":" .. b end return table.concat(r, " ")]=====],
   [=====["1:0 2:2 3:4"]=====]},
  {[=====[!local log = {} do local x <close> = setmetatable({}, {__close = function(o, e) log[#log+1] = "closed " .. tostring(e) end}) log[#log+1] = "body" end return table.concat(log, ";")]=====],
   [=====["body;closed nil"]=====]},
  {[=====[!local log = {} local ok, err = pcall(function() local x <close> = setmetatable({}, {__close = function(o, e) log[#log+1] = e end}) error("boom", 0) end) return ok, err, log[1]]=====],
   [=====[false "boom" "boom"]=====]},
  {[=====[!local log = {} do local a <close> = setmetatable({}, {__close = function() log[#log+1] = "a" end}) local b <close> = setmetatable({}, {__close = function() log[#log+1] = "b" end}) end return table.concat(log)]=====],
   [=====["ba"]=====]},
  {[=====[!local x <close> = nil local y <close> = false return 1]=====],
   [=====[i:1]=====]},
  {[=====[!local ok, e = pcall(function() local x <close> = {} end) return e]=====],
   [=====[":1: variable 'x' got a non-closable value"]=====]},
  {[=====[!local ok, e = pcall(function() local x <close> = 42 end) return e]=====],
   [=====[":1: variable 'x' got a non-closable value"]=====]},
  {[=====[!local x <const> = 5 return x]=====],
   [=====[i:5]=====]},
  {[=====[!local x <const> = 5 x = 6]=====],
   [=====[COMPILE:":1: attempt to assign to const variable 'x'"]=====]},
  {[=====[!local x <foo> = 5]=====],
   [=====[COMPILE:":1: unknown attribute 'foo'"]=====]},
  {[=====[!local log = {} local function f() local x <close> = setmetatable({}, {__close = function() log[#log+1] = "c" end}) return "r" end local r = f() return r, log[1]]=====],
   [=====["r" "c"]=====]},
  {[=====[!local log = {} for i = 1, 2 do local x <close> = setmetatable({}, {__close = function() log[#log+1] = i end}) if i == 1 then goto cont end ::cont:: end return table.concat(log)]=====],
   [=====["12"]=====]},
  {[=====[!local log = {} local function it() return function(s, c) if c < 3 then return c + 1 end end, nil, 0, setmetatable({}, {__close = function() log[#log+1] = "closed" end}) end for i in it() do if i == 2 then break end end return log[1]]=====],
   [=====["closed"]=====]},
  {[=====[!local ok, e = pcall(function() local x <close> = setmetatable({}, {__close = function() error("in close", 0) end}) end) return e]=====],
   [=====["in close"]=====]},
  {[=====[!local mt = {__index = function(t, k) return k .. "!" end} local t = setmetatable({}, mt) return t.x, t[1], rawget(t, "x")]=====],
   [=====["x!" "1!" nil]=====]},
  {[=====[!local base = {a = 1} local mid = setmetatable({b = 2}, {__index = base}) local top = setmetatable({}, {__index = mid}) return top.a, top.b, top.c]=====],
   [=====[i:1 i:2 nil]=====]},
  {[=====[!local log = {} local t = setmetatable({}, {__newindex = function(t, k, v) log[#log+1] = k rawset(t, k, v * 2) end}) t.a = 1 t.a = 5 return t.a, #log]=====],
   [=====[i:5 i:1]=====]},
  {[=====[!local store = {} local t = setmetatable({}, {__newindex = store}) t.x = 1 return rawget(t, "x"), store.x]=====],
   [=====[nil i:1]=====]},
  {[=====[!local t = setmetatable({}, {__call = function(self, a, b) return a + b, self end}) local r, s = t(1, 2) return r, s == t]=====],
   [=====[i:3 true]=====]},
  {[=====[!local c = setmetatable({}, {__call = function(self, ...) return select('#', ...) end}) return c(), c(nil, nil)]=====],
   [=====[i:0 i:2]=====]},
  {[=====[!local mt = {__add = function(a, b) return "add" end, __sub = function() return "sub" end, __mul = function() return "mul" end, __div = function() return "div" end, __mod = function() return "mod" end, __pow = function() return "pow" end, __unm = function() return "unm" end, __idiv = function() return "idiv" end} local t = setmetatable({}, mt) return t + 1, 1 - t, t * t, t / 1, t % 1, t ^ 1, -t, t // 1]=====],
   [=====["add" "sub" "mul" "div" "mod" "pow" "unm" "idiv"]=====]},
  {[=====[!local mt = {__band = function() return "band" end, __bor = function() return "bor" end, __bxor = function() return "bxor" end, __shl = function() return "shl" end, __shr = function() return "shr" end, __bnot = function() return "bnot" end} local t = setmetatable({}, mt) return t & 1, 1 | t, t ~ t, t << 1, 1 >> t, ~t]=====],
   [=====["band" "bor" "bxor" "shl" "shr" "bnot"]=====]},
  {[=====[!local mt = {__band = function(a, b) return "band" end} local t = setmetatable({}, mt) return 1.5 & t, "x" & t]=====],
   [=====["band" "band"]=====]},
  {[=====[!local mt = {__concat = function(a, b) return (type(a) == "table" and "T" or a) .. "+" .. (type(b) == "table" and "T" or b) end} local t = setmetatable({}, mt) return t .. "x", "x" .. t, 1 .. t, "a" .. "b" .. t]=====],
   [=====["T+x" "x+T" "1+T" "ab+T"]=====]},
  {[=====[!local mt = {__concat = function(a, b) return "C" end} local t = setmetatable({}, mt) return "a" .. t .. "b" .. "c"]=====],
   [=====["aC"]=====]},
  {[=====[!local t = setmetatable({1, 2}, {__len = function() return 42 end}) return #t, rawlen(t)]=====],
   [=====[i:42 i:2]=====]},
  {[=====[!local t = setmetatable({}, {__len = function() return "x" end}) return #t]=====],
   [=====["x"]=====]},
  {[=====[!local mt = {__eq = function(a, b) return true end} local a, b = setmetatable({}, mt), setmetatable({}, mt) return a == b, a ~= b, a == 1, rawequal(a, b)]=====],
   [=====[true false false false]=====]},
  {[=====[!local a = setmetatable({}, {__eq = function() return true end}) local b = {} return a == b, b == a]=====],
   [=====[true true]=====]},
  {[=====[!local a = setmetatable({}, {__eq = function() return 1 end}) return a == {}]=====],
   [=====[true]=====]},
  {[=====[!local mt = {__le = function(a, b) return false end} local a, b = setmetatable({}, mt), {} return a <= b, a >= b, b <= a]=====],
   [=====[false false false]=====]},
  {[=====[!local mt = {__lt = function(a, b) return nil end} local a = setmetatable({}, mt) return a < 1, 1 < a, "x" < a]=====],
   [=====[false false false]=====]},
  {[=====[!local mt = {__index = function(t, k) return nil end} local t = setmetatable({}, mt) return t.x]=====],
   [=====[nil]=====]},
  {[=====[!local t = setmetatable({}, {__tostring = function() return "TS" end}) return tostring(t)]=====],
   [=====["TS"]=====]},
  {[=====[!local t = setmetatable({}, {__tostring = function() return 5 end}) return pcall(tostring, t)]=====],
   [=====[true "5"]=====]},
  {[=====[!local t = setmetatable({}, {__name = "MyT"}) return (tostring(t):gsub("0x%x+", "ADDR"))]=====],
   [=====["MyT: ADDR"]=====]},
  {[=====[!local t = setmetatable({}, {__name = 5}) return (tostring(t):match("^table: ")) ~= nil]=====],
   [=====[true]=====]},
  {[=====[!local u = setmetatable({}, {__unm = function(a, b) return rawequal(a, b) end}) return -u]=====],
   [=====[true]=====]},
  {[=====[!local t = setmetatable({}, {__index = setmetatable({}, {__index = function(_, k) return k * 2 end})}) return t[21]]=====],
   [=====[i:42]=====]},
  {[=====[!local depth = 0 local mt = {} mt.__index = function(t, k) depth = depth + 1 if depth < 5 then return setmetatable({}, mt)[k] end return depth end return setmetatable({}, mt).x]=====],
   [=====[i:5]=====]},
  {[=====[!local t = setmetatable({}, {}) t.__index = t setmetatable(t, t) return pcall(function() return t.x end)]=====],
   [=====[false ":1: '__index' chain too long; possible loop"]=====]},
  {[=====[!local t = {} setmetatable(t, {__index = t}) return pcall(function() return t.missing end)]=====],
   [=====[false ":1: '__index' chain too long; possible loop"]=====]},
  {[=====[!local t = {} setmetatable(t, {__newindex = t}) return pcall(function() t.missing = 1 end)]=====],
   [=====[false ":1: '__newindex' chain too long; possible loop"]=====]},
  {[=====[!local mt = {__close = 1} local ok, e = pcall(function() local x <close> = setmetatable({}, mt) end) return ok, e]=====],
   [=====[false ":1: attempt to call a number value"]=====]},
  {[=====[!local A = setmetatable({}, {__div = function(a, b) return "div" end}) return 1 / A, A // 2]=====],
   [=====[ERR:":1: attempt to perform arithmetic on a table value (local 'A')"]=====]},
  {[=====[!return 2 ^ setmetatable({}, {__pow = function(a, b) return a end})]=====],
   [=====[i:2]=====]},
  {[=====[!local ok, e = pcall(function() return setmetatable({}, {__add = function() error("inner") end}) + 1 end) return e]=====],
   [=====[":1: inner"]=====]},
  {[=====[!local mt = {__index = string} local s = setmetatable({}, mt) return s.format("%d", 1)]=====],
   [=====["1"]=====]},
  {[=====[!local t = setmetatable({}, {__mode = "k"}) t[{}] = 1 collectgarbage() collectgarbage() return next(t)]=====],
   [=====[nil]=====]},
  {[=====[!local t = setmetatable({}, {__mode = "v"}) t[1] = {} t[2] = "str" collectgarbage() collectgarbage() return t[1], t[2]]=====],
   [=====[nil "str"]=====]},
  {[=====[!local t = setmetatable({}, {__mode = "kv"}) t.x = {} collectgarbage() return t.x]=====],
   [=====[nil]=====]},
  {[=====[!local log = {} do local a = setmetatable({}, {__gc = function() log[#log+1] = "a" end}) local b = setmetatable({}, {__gc = function() log[#log+1] = "b" end}) end collectgarbage() collectgarbage() return table.concat(log)]=====],
   [=====["ba"]=====]},
  {[=====[!local log = {} local mt = {} local t = setmetatable({}, mt) mt.__gc = function() log[1] = "x" end t = nil collectgarbage() collectgarbage() return log[1]]=====],
   [=====[nil]=====]},
  {[=====[pcall(collectgarbage, "bogus")]=====],
   [=====[false "bad argument #1 to 'collectgarbage' (invalid option 'bogus')"]=====]},
  {[=====[!local x = setmetatable({}, {__index = function(t, k) return k end}) return x[nil], x[false], x[1.5]]=====],
   [=====[nil false f:1.5/1.5]=====]},
  {[=====[!local mt = {} mt.__eq = function(a, b) return a.v == b.v end local a = setmetatable({v = 1}, mt) local b = setmetatable({v = 1}, {__eq = mt.__eq}) return a == b]=====],
   [=====[true]=====]},
  {[=====[!local mt1 = {__eq = function() return true end} local mt2 = {__eq = function() return false end} return setmetatable({}, mt1) == setmetatable({}, mt2), setmetatable({}, mt2) == setmetatable({}, mt1)]=====],
   [=====[true false]=====]},
  {[=====[!local t = setmetatable({}, {__lt = function(a, b) return a.v < b.v end}) return pcall(function() return t < 1 end)]=====],
   [=====[false ":1: attempt to index a number value (local 'b')"]=====]},
  {[=====[!local mt = {__concat = function(a, b) return 1 end} return pcall(function() return {} .. setmetatable({}, mt) end)]=====],
   [=====[true i:1]=====]},
  {[=====[!local ok, e = pcall(function() local a = setmetatable({}, {__call = function(...) return select('#', ...) end}) return a(1, 2, 3) end) return ok, e]=====],
   [=====[true i:4]=====]},
  {[=====[!local t = {} t.f = function(self, x) return self == t, x end return t:f(5)]=====],
   [=====[true i:5]=====]},
  {[=====[!local s = "hello" return s:upper(), ("%s-%s"):format(1, 2), #s:rep(2)]=====],
   [=====["HELLO" "1-2" i:10]=====]},
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
