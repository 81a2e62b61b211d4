-- args: --budget 1000000000
-- Conformance: code generation (and/or, multiple assignment, varargs, closures in loops, calls).
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
  {[=====[!local a, b, c = nil, false, 3 local x = a and b or c local y = a or b or c local z = c and b and a return x, y, z]=====],
   [=====[i:3 i:3 false]=====]},
  {[=====[!local a = 1 local x = (a == 1) and "one" or "other" local y = not (a == 1) and "no" or "yes" return x, y]=====],
   [=====["one" "yes"]=====]},
  {[=====[!local t = {} local i = 1 i, t[i] = 2, "v" return t[1], t[2], i]=====],
   [=====["v" nil i:2]=====]},
  {[=====[!local t = {1, 2} local i = 1 t[i], i = i + 10, i + 1 return t[1], t[2], i]=====],
   [=====[i:11 i:2 i:2]=====]},
  {[=====[!local a, b = {}, {} a.x, b.x = 1, 2 return a.x, b.x]=====],
   [=====[i:1 i:2]=====]},
  {[=====[!local t = {} t.a, t.b, t.c = (function() return 1, 2, 3 end)() return t.a, t.b, t.c]=====],
   [=====[i:1 i:2 i:3]=====]},
  {[=====[!local t = {} t.a, t.b, t.c = (function() return 1, 2, 3 end)(), 10 return t.a, t.b, t.c]=====],
   [=====[i:1 i:10 nil]=====]},
  {[=====[!local function f(...) return {...}, {..., "x"}, {"x", ...}, select('#', ...) end local a, b, c, n = f(1, nil, 3) return #c, b[2], c[4], n]=====],
   [=====[i:4 "x" i:3 i:3]=====]},
  {[=====[!local function f(...) local a, b, c = ..., "z" return a, b, c end return f(1, 2, 3)]=====],
   [=====[i:1 "z" nil]=====]},
  {[=====[!local function f(...) return ... , "end" end return f(1, 2)]=====],
   [=====[i:1 "end"]=====]},
  {[=====[!local function f() return 1, 2, 3 end local t = {f(), f()} return #t, t[4]]=====],
   [=====[i:4 i:3]=====]},
  {[=====[!local function f() return 1, 2, 3 end local t = {f(), (f())} return #t]=====],
   [=====[i:2]=====]},
  {[=====[!local function f() return 1, 2, 3 end return f(), (f())]=====],
   [=====[i:1 i:1]=====]},
  {[=====[!local function f() end local t = {f()} return #t, select('#', f()), select('#', (f()))]=====],
   [=====[i:0 i:0 i:1]=====]},
  {[=====[!local fs = {} for i = 1, 3 do local j = i * 2 fs[i] = function() return i + j end if i == 2 then break end end return #fs, fs[1](), fs[2]()]=====],
   [=====[i:2 i:3 i:6]=====]},
  {[=====[!local fs = {} local i = 0 ::top:: i = i + 1 local v = i * 10 fs[i] = function() return v end if i < 3 then goto top end return fs[1](), fs[2](), fs[3]()]=====],
   [=====[i:10 i:20 i:30]=====]},
  {[=====[!local fs = {} for i = 1, 3 do fs[i] = function() return i end i = 99 end return fs[1](), fs[2]()]=====],
   [=====[i:99 i:99]=====]},
  {[=====[!local fs = {} local k = 1 while k <= 3 do local kk = k fs[k] = function() kk = kk + 1 return kk end k = k + 1 end return fs[1](), fs[1](), fs[2]()]=====],
   [=====[i:2 i:3 i:3]=====]},
  {[=====[!local function outer() local x = 0 local function inc() x = x + 1 return x end local function get() return x end return inc, get end local i1, g1 = outer() local i2, g2 = outer() i1() i1() i2() return g1(), g2()]=====],
   [=====[i:2 i:1]=====]},
  {[=====[!local x = 1 local function f() local function g() x = x + 1 return x end return g end local g = f() g() return x]=====],
   [=====[i:2]=====]},
  {[=====[!local t = {} for k, v in pairs({a = 1, b = 2, c = 3}) do t[#t+1] = function() return k .. v end end local r = {} for _, f in ipairs(t) do r[#r+1] = f() end return #r]=====],
   [=====[i:3]=====]},
  {[=====[!local a = {} a[#a + 1] = "x" a[#a + 1] = "y" return #a, a[2]]=====],
   [=====[i:2 "y"]=====]},
  {[=====[!local s = "x" s = s .. s .. s return s]=====],
   [=====["xxx"]=====]},
  {[=====[!local n = 0 for i = 1, 3 do for j = i, 3 do n = n + j end end return n]=====],
   [=====[i:14]=====]},
  {[=====[!local n = 0 for i = 3, 1, -1 do if i == 2 then goto skip end n = n + i ::skip:: end return n]=====],
   [=====[i:4]=====]},
  {[=====[!local r = "" for i = 1, 3 do repeat if i == 2 then break end r = r .. i until true end return r]=====],
   [=====["13"]=====]},
  {[=====[!local r = {} local i = 0 repeat i = i + 1 local stop = i >= 3 r[i] = function() return stop end until stop return r[1](), r[3]()]=====],
   [=====[false true]=====]},
  {[=====[!local a = 5 local b = -a local c = - -a local d = not not a return b, c, d]=====],
   [=====[i:-5 i:5 true]=====]},
  {[=====[!local t = {x = {y = {z = 1}}} t.x.y.z = t.x.y.z + 1 return t.x.y.z]=====],
   [=====[i:2]=====]},
  {[=====[!local t = {} t[1], t[2], t[3] = 1 return t[1], t[2], t[3]]=====],
   [=====[i:1 nil nil]=====]},
  {[=====[!local x, y = 1 return x, y]=====],
   [=====[i:1 nil]=====]},
  {[=====[!local s = ("abc"):upper():lower():rep(2) return s]=====],
   [=====["abcabc"]=====]},
  {[=====[!local obj = {v = 1} function obj:inc(n) self.v = self.v + (n or 1) return self end obj:inc():inc(5) return obj.v]=====],
   [=====[i:7]=====]},
  {[=====[!local t = setmetatable({}, {__index = function(_, k) return function(self, x) return k .. x end end}) return t:foo("bar")]=====],
   [=====["foobar"]=====]},
  {[=====[!local a = {} local b = a a.self = a return b.self.self == a]=====],
   [=====[true]=====]},
  {[=====[!local x = 10 do local x = x + 1 x = x * 2 end return x]=====],
   [=====[i:10]=====]},
  {[=====[!local function f(a, a2) return a2 end return f(1, 2)]=====],
   [=====[i:2]=====]},
  {[=====[!local function f(n) if n > 0 then return f(n - 1) end return "base" end return f(5)]=====],
   [=====["base"]=====]},
  {[=====[!local function sum(...) local s = 0 for i = 1, select('#', ...) do s = s + (select(i, ...)) end return s end return sum(1, 2, 3, 4)]=====],
   [=====[i:10]=====]},
  {[=====[!local t = {} for i = 1, 300 do t[i] = i end return select('#', table.unpack(t)), (select(300, table.unpack(t)))]=====],
   [=====[i:300 i:300]=====]},
  {[=====[!local function many() local t = {} for i = 1, 250 do t[i] = i end return table.unpack(t) end local t = {many()} return #t, t[250]]=====],
   [=====[i:250 i:250]=====]},
  {[=====[!local function f(...) return select('#', ...) end local t = {} for i = 1, 255 do t[i] = i end return f(table.unpack(t))]=====],
   [=====[i:255]=====]},
  {[=====[!local big = {} for i = 1, 100 do big[i] = "x" .. i end local s = "return {" .. table.concat(big, ",") .. "}" local f = load(s) return #f()]=====],
   [=====[i:0]=====]},
  {[=====[!return ((("a"))), (((1))) + 1]=====],
   [=====["a" i:2]=====]},
  {[=====[!local a = {[1] = 1, [2] = 2, 3} return a[1], a[2]]=====],
   [=====[i:3 i:2]=====]},
  {[=====[!local a = {1, 2, 3, [2] = "x"} return a[2]]=====],
   [=====[i:2]=====]},
  {[=====[!local t = {f = function() return "f" end} return t.f(), t["f"]()]=====],
   [=====["f" "f"]=====]},
  {[=====[!local c = 0 local t = setmetatable({}, {__newindex = function(t, k, v) c = c + 1 rawset(t, k, v) end}) t.a = 1 t.a = 2 t.b = nil return c, t.a]=====],
   [=====[i:2 i:2]=====]},
  {[=====[!local x = 0 local t = setmetatable({}, {__index = function(t, k) x = x + 1 return x end}) local a = t.q + t.q return a]=====],
   [=====[i:3]=====]},
  {[=====[!local i = 1 local t = {} t[i] = i i = i + 1 t[i] = i return #t]=====],
   [=====[i:2]=====]},
  {[=====[!local a, b, c = 1, 2 a, b, c = c, a, b return a, b, c]=====],
   [=====[nil i:1 i:2]=====]},
  {[=====[!local v = 1 local function f() v = v + 1 return v end local a, b = f(), f() return a, b, v]=====],
   [=====[i:2 i:3 i:3]=====]},
  {[=====[!local t = {} local function f() t[#t+1] = #t return #t end local x = {f(), f(), f()} return table.concat(x, ","), #t]=====],
   [=====["1,2,3" i:3]=====]},
  {[=====[!local s = 0 for _, v in ipairs({1, 2, 3}) do s = s + v end for k = #"abc", 1, -1 do s = s + k end return s]=====],
   [=====[i:12]=====]},
  {[=====[!local t = {} t.x = t t.x.x.x.y = 5 return t.y]=====],
   [=====[i:5]=====]},
  {[=====[!local a = 3 local b = a // 2 * 2 + a % 2 return b == a, 7 // -2, 7 % -2, -7 // 2 * 2 + -7 % 2]=====],
   [=====[true i:-4 i:-1 i:-7]=====]},
  {[=====[!local x = 2 ^ 2 ^ 0.5 local y = -x ^ 2 return x, y]=====],
   [=====[f:2.6651441426902251/2.6651441426902 f:-7.1029933013160154/-7.102993301316]=====]},
  {[=====[!local a = "10" local b = a + 0 local c = a .. 0 return b, c, math.type(b)]=====],
   [=====[i:10 "100" "integer"]=====]},
  {[=====[!local a = 1 < 2 local b = "a" < "b" local c = not (1 > 2) return a, b, c]=====],
   [=====[true true true]=====]},
  {[=====[!local t = {} t[1.5] = "f" t["1.5"] = "s" return t[1.5], t["1.5"], t[3/2]]=====],
   [=====["f" "s" "f"]=====]},
  {[=====[!local f = function(...) local n = select('#', ...) return n, ... end return f()]=====],
   [=====[i:0]=====]},
  {[=====[!local function v(...) return ... end return v(), v(1), (v(1, 2))]=====],
   [=====[nil i:1 i:1]=====]},
  {[=====[!local function v(...) return ... end local t = {v(1, 2), v(3, 4)} return #t]=====],
   [=====[i:3]=====]},
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
