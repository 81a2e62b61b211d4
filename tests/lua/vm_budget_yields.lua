-- args: --budget 7
-- With a tiny budget the program is forced to yield every few instructions: inside
-- metamethods, iterators, protected calls, coroutine bodies and calls with open results.
-- Every result must be the same as in an unbudgeted run.
local log = {}
local function put(x) log[#log + 1] = tostring(x) end

-- metamethods of every kind, written in Lua so that they are interrupted too
local mt = {}
mt.__index = function(t, k) local s = 0 for i = 1, 5 do s = s + i end return k .. s end
mt.__newindex = function(t, k, v) rawset(t, k, v * 2) end
mt.__add = function(a, b) return (type(a) == "table" and a.v or a) + (type(b) == "table" and b.v or b) end
mt.__concat = function(a, b) return "<" .. tostring(type(a) == "table" and a.v or a) .. "|" .. tostring(type(b) == "table" and b.v or b) .. ">" end
mt.__lt = function(a, b) return a.v < b.v end
mt.__le = function(a, b) return a.v <= b.v end
mt.__eq = function(a, b) return a.v == b.v end
mt.__len = function(a) return a.v * 10 end
mt.__unm = function(a) return -a.v end
mt.__call = function(self, x, ...) return self.v + x, select('#', ...) end
local function V(v) return setmetatable({v = v}, mt) end
local a, b = V(3), V(4)
put(a.key); put(a[7])
a.w = 21; put(rawget(a, "w"))
put(a + b); put(a + 10); put(10 + b)
put(a .. b); put("x" .. a .. "y" .. 1)
put(a < b); put(b < a); put(a <= a); put(a == V(3)); put(a ~= b)
if a < b then put("lt-jump") else put("lt-nojump") end
if b <= a then put("le-jump") else put("le-nojump") end
put(#a); put(-b)
put(select(1, a(5, nil, nil))); put(select(2, a(5, nil, nil)))
-- method lookup, ~, immediate comparisons, variable keys and integer keys
mt.__bnot = function(x) local r = 0 for i = 1, 4 do r = r + i end return r + x.v end
local obj = setmetatable({}, {__index = function(t, k) return function(self, n) return k .. n end end})
put(obj:method(1)); put(~a)
put(a > V(2)); put(V(2) >= a)
local cmp = setmetatable({}, {__lt = function(x, y) return type(y) == "number" and y > 5 or false end,
                              __le = function(x, y) return type(x) == "number" end})
put(cmp < 7); put(cmp < 1); put(3 <= cmp); put(cmp >= 9)
local key = "dyn"
put(a[key]); put(a[key .. "2"])
local sink = setmetatable({}, {__newindex = function(t, k, v) local s = 0 for i = 1, 3 do s = s + i end rawset(t, k, v + s) end})
sink[1] = 10; sink[key] = 20; sink.f = 30
put(rawget(sink, 1)); put(rawget(sink, "dyn")); put(rawget(sink, "f"))
-- globals through an _ENV whose lookups run Lua code
do
  local store = {}
  local _ENV = setmetatable({}, {__index = function(t, k) local s = 0 for i = 1, 3 do s = s + i end return (store[k] or 0) + s end,
                                 __newindex = function(t, k, v) store[k] = v * 10 end})
  gx = 4
  put(gx); put(undefined_global)
end

-- iterators written in Lua
local function range(n, step)
  return function(_, i) i = i + step; if i <= n then return i, i * i end end, nil, 0
end
local s = 0
for i, sq in range(30, 3) do s = s + i + sq end
put(s)
local t = {}
for i = 1, 40 do t[i] = i * 3 end
s = 0
for k, v in ipairs(t) do s = s + k * v end
put(s)
local keys = {}
for k in pairs({x = 1, y = 2, z = 3}) do keys[#keys + 1] = k end
for i = 2, #keys do local j = i while j > 1 and keys[j] < keys[j - 1] do keys[j], keys[j - 1] = keys[j - 1], keys[j]; j = j - 1 end end
put(table.concat(keys, ","))

-- protected calls, errors and results
local function thrower(n) local acc = 0 for i = 1, n do acc = acc + i end error({sum = acc}) end
local ok, e = pcall(thrower, 20)
put(ok); put(e.sum)
put(select('#', pcall(function(...) return ... end, 1, nil, 3, nil)))
ok, e = pcall(function()
  local ok2, e2 = pcall(error, "inner", 0)
  local x = 0
  for i = 1, 10 do x = x + i end
  error(e2 .. x, 0)
end)
put(ok); put(e)
ok, e = pcall(function() local z = nil; return z.field end)
put(ok); put((e:gsub("^.-:%d+: ", "")))

-- open results and varargs
local function many(n) if n == 0 then return end return n, many(n - 1) end
local function count(...) return select('#', ...) end
put(count(many(30)))
local packed = {many(25)}
put(#packed); put(packed[1] + packed[25])
local function sum(...) local r = 0 for i = 1, select('#', ...) do r = r + select(i, ...) end return r end
put(sum(many(40)))
put(math.max(many(33)))
local function va(...) local a, b, c = ... return c, b, a end
put(table.concat({va(1, 2, 3)}, "-"))

-- closures, upvalues, recursion, tail calls
local function mk() local n = 0 return function(k) n = n + k return n end end
local acc = mk()
for i = 1, 20 do acc(i) end
put(acc(0))
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
put(fib(15))
local function tail(n, r) if n == 0 then return r end return tail(n - 1, r + n) end
put(tail(500, 0))

-- strings and methods
local parts = {}
for i = 1, 15 do parts[#parts + 1] = ("%d"):format(i * i) end
put(table.concat(parts, ":"))
put(("hello world"):upper():sub(1, 5))
put(#("abc"):rep(50))

-- float loops and integer arithmetic
local f = 0
for x = 0.5, 10, 0.5 do f = f + x end
put(f)
local h = 0
for i = 1, 100 do h = (h * 31 + i) % 1000003 end
put(h)
put(7 // 0); put(-7 % 0); put(1 / 0)

-- to-be-closed variables closed in order across forced yields
local order = {}
do
  local c1 <close> = setmetatable({}, {__close = function() order[#order + 1] = "c1" end})
  local c2 <close> = setmetatable({}, {__close = function() order[#order + 1] = "c2" end})
  for i = 1, 5 do order[#order + 1] = i end
end
put(table.concat(order, ","))

-- a coroutine body: explicit yields arrive, forced yields return true alone, and values sent
-- with a resume that continues a forced yield are dropped
local co = coroutine.create(function(x)
  local total = x
  for i = 1, 6 do
    local got = coroutine.yield(i * 100)
    total = total + got
  end
  return "total", total
end)
local arg = 1
local got = {}
while true do
  local r = table.pack(coroutine.resume(co, arg))
  assert(r[1], r[2])
  if r.n > 1 then
    got[#got + 1] = r[2]
    if coroutine.status(co) == "dead" then got[#got + 1] = r[3] break end
    arg = r[2] // 100 -- answered to an explicit yield
  else
    arg = 999999 -- sent to a forced yield: must be dropped
  end
end
put(table.concat(got, ","))

local result = table.concat(log, " ")
local expected = "key15 715 42 7 13 14 <3|4> x<3|y1> true false true true true lt-jump le-nojump 30 -4 8 2 method1 13 true false true false true true dyn15 dyn215 16 26 36 46 6 3630 66420 x,y,z false 210 5 false inner55 false attempt to index a nil value (local 'z') 30 25 26 820 33 3-2-1 210 610 125250 1:4:9:16:25:36:49:64:81:100:121:144:169:196:225 HELLO 150 105.0 262322 9223372036854775807 0 1.7976931348623e+308 1,2,3,4,5,c2,c1 100,200,300,400,500,600,total,22"
if result ~= expected then print(result) print(expected) error("mismatch") end
print("ok")
