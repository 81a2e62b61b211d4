-- Closures and upvalues, varargs, tail calls, open results.
-- shared upvalues
local function counter()
  local n = 0
  return function() n = n + 1 return n end, function() return n end
end
local inc, get = counter()
inc(); inc()
assert(get() == 2)
local a, b
do
  local x = 1
  a = function() x = x + 1 return x end
  b = function() return x end
end
assert(a() == 2 and b() == 2 and a() == 3 and b() == 3)
-- nested upvalues through several levels
local function outer()
  local v = 10
  return function() return function() v = v + 1 return v end end
end
local f = outer()()
assert(f() == 11 and f() == 12)
-- a loop variable per iteration, a while-loop local shared
local fs = {}
local i = 1
while i <= 3 do local j = i; fs[i] = function() return j end; i = i + 1 end
assert(fs[1]() == 1 and fs[2]() == 2 and fs[3]() == 3)

-- varargs
local function va(...) return select('#', ...), ... end
assert(va() == 0)
assert(select(2, va(1, nil, 3)) == 1)
assert(va(nil, nil) == 2)
local function pack2(...) return {...} end
local t = pack2(1, 2, 3)
assert(#t == 3 and t[3] == 3)
local function fixed(a, b, ...) return a, b, select('#', ...) end
local x, y, z = fixed(1)
assert(x == 1 and y == nil and z == 0)
x, y, z = fixed(1, 2, 3, 4, 5)
assert(x == 1 and y == 2 and z == 3)
local function passthrough(...) return ... end
assert(select('#', passthrough(1, 2, nil)) == 3)
local function varargs_in_table(...) local t = {n = select('#', ...), ...} return t end
t = varargs_in_table(nil, 2, nil)
assert(t.n == 3 and t[2] == 2)
-- many values through open calls
local function many(n) if n == 0 then return end return n, many(n - 1) end
assert(select('#', many(150)) == 150)
local big = {many(250)}
assert(#big == 250 and big[1] == 250 and big[250] == 1)
assert(math.max(many(100)) == 100)
-- table.unpack of a long list into a call with open arguments
local long = {}
for k = 1, 5000 do long[k] = k end
assert(select('#', table.unpack(long)) == 5000)
assert(select(5000, table.unpack(long)) == 5000)

-- tail calls do not grow the stack
local function loop(n, acc) if n == 0 then return acc end return loop(n - 1, acc + 1) end
assert(loop(1000000, 0) == 1000000)
local function vloop(n, ...) if n == 0 then return select('#', ...) end return vloop(n - 1, ...) end
assert(vloop(100000, 1, 2, 3) == 3)
-- tail call of a native function and of a callable table
local function tc() return select('#', 1, 2, 3) end
assert(tc() == 3)
local callable = setmetatable({}, {__call = function(self, a, b) return a + b, self end})
local function tcall(a, b) return callable(a, b) end
local r1, r2 = tcall(2, 3)
assert(r1 == 5 and r2 == callable)
local function tmany() return passthrough(1, 2, 3) end
assert(select('#', tmany()) == 3)
-- __call chains through a table whose __call is itself callable
local inner = setmetatable({}, {__call = function(_, s, v) return "inner", v end})
local outer2 = setmetatable({}, {__call = inner})
local w1, w2, w3 = outer2(42)
assert(w1 == "inner")
-- calling a non-callable value
local ok, msg = pcall(function() local nope = 1; nope() end)
assert(not ok and msg:find("attempt to call a number value %(local 'nope'%)"), msg)
ok, msg = pcall(function() return undefinedglobal() end)
assert(not ok and msg:find("attempt to call a nil value %(global 'undefinedglobal'%)"), msg)
-- recursion with a two-value return
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
assert(fib(20) == 6765)
-- method calls
local obj = {v = 3}
function obj:get(k) return self.v * k end
assert(obj:get(2) == 6)
-- to-be-closed variables closed on return, break and error
local log = {}
local function closer(name) return setmetatable({}, {__close = function(_, e) log[#log + 1] = name .. tostring(e) end}) end
do
  local function f() local a <close> = closer("a"); local b <close> = closer("b"); return 1 end
  assert(f() == 1)
  assert(log[1] == "bnil" and log[2] == "anil")
  log = {}
  local ok, e = pcall(function() local c <close> = closer("c"); error("boom", 0) end)
  assert(not ok and e == "boom" and log[1] == "cboom")
end
ok, msg = pcall(function() local x <close> = {} end)
assert(not ok and msg:find("variable 'x' got a non%-closable value"))
do local y <close> = false end
print("ok")
