-- Standard Lua 5.4 constructs compile and give the results lua5.4 gives (this file runs
-- unchanged under lua5.4).

-- locals, multiple assignment, swaps and evaluation order
local a, b, c = 1, 2
assert(a == 1 and b == 2 and c == nil)
a, b = b, a
assert(a == 2 and b == 1)
local t = {1, 2, 3}
local i = 1
i, t[i] = i + 1, 20
assert(i == 2 and t[1] == 20)
t[1], t[2], t[3] = t[3], t[1], t[2]
assert(t[1] == 3 and t[2] == 20 and t[3] == 2)

-- arithmetic, folding and the immediate/constant operand forms
local x = 10
assert(x + 1 == 11 and 1 + x == 11 and x + 128 == 138 and x + 129 == 139)
assert(x - 127 == -117 and x - 128 == -118 and x - -5 == 15 and 3 - x == -7)
assert(x * 2 == 20 and 2 * x == 20 and x * 2.5 == 25.0 and math.type(x * 2.0) == "float")
assert(x % 3 == 1 and x % -3 == -2 and -x % 3 == 2 and x % 3.5 == 3.0)
assert(x / 4 == 2.5 and x // 4 == 2 and -x // 4 == -3 and x // 4.0 == 2.0)
assert(x ^ 2 == 100.0 and 2 ^ 10 == 1024.0 and math.type(2 ^ 2) == "float")
assert(-(3) == -3 and -(-x) == 10 and - -x == 10)
assert(7 // 2 == 3 and 7.5 // 2 == 3.0 and 1 << 62 == 4611686018427387904)
assert(x & 3 == 2 and 3 & x == 2 and x | 1 == 11 and 1 | x == 11 and x ~ 3 == 9 and ~x == -11)
assert(x << 1 == 20 and x << -1 == 5 and x >> 1 == 5 and x >> -1 == 20 and 1 << x == 1024)
assert(x << 64 == 0 and x >> 64 == 0 and -1 >> 1 == math.maxinteger and 3 << 63 == math.mininteger)
assert(x << 200 == 0 and 200 << x == 204800 and x & 1000 == 8 and 1000 & x == 8)
assert(x ~ 1.0 == 11 and 2.0 | 1 == 3)
assert(math.maxinteger + 1 == math.mininteger and math.mininteger - 1 == math.maxinteger)
assert(9223372036854775807 == math.maxinteger and math.type(9223372036854775808) == "float")
assert(0x10 == 16 and 0xffffffffffffffff == -1 and 0x1p4 == 16.0 and 1e2 == 100.0 and .5 == 0.5)
assert(3 == 3.0 and math.type(3.0) == "float" and 65536 == 65536.0 and 65537 - 1 == 65536)
assert(-65535 - 1 == -65536 and 1e5 == 100000 and 123456789012 * 2 == 246913578024)
assert(1 / 2 == 0.5 and 2^53 + 1.0 == 2^53)
assert(tostring(-0.0) == "-0.0" and tostring(0.0) == "0.0")

-- comparisons with immediates, constants and registers on either side
local y = 5
assert(y == 5 and y == 5.0 and not (y == 5.5) and y ~= 200 and y ~= "5" and not (y == nil))
assert(y < 6 and y <= 5 and y > 4 and y >= 5 and 4 < y and 5 <= y and 6 > y and 5 >= y)
assert(y < 6.5 and 4.5 < y and not (y < 1.0) and 300 > y and y < 300 and y >= 5.0)
assert("a" < "b" and "a" <= "a" and not ("b" < "a") and "abc" ~= "abd")
local r = {}
r[1] = y > 3; r[2] = y < 3; r[3] = y == 5 and "yes" or "no"; r[4] = not y; r[5] = not nil
assert(r[1] == true and r[2] == false and r[3] == "yes" and r[4] == false and r[5] == true)

-- and/or value selection and short circuits
local n = nil
assert((n or 3) == 3 and (n and 3) == nil and (false or nil) == nil and (1 and 2) == 2)
assert((nil or false) == false and (x > 1 and x or 0) == 10 and (x < 1 and x or 0) == 0)
local calls = 0
local function bump(v) calls = calls + 1 return v end
local _ = bump(false) and bump(true)
local _ = bump(true) or bump(true)
assert(calls == 2)
local z = (x == 10) == true
assert(z == true and (not not x) == true and (not (x and nil)) == true)

-- strings and concatenation
local s = "a" .. "b" .. 1 .. 2.5 .. x
assert(s == "ab12.510" and #s == 8 and ("x"):rep(3) == "xxx")
assert("\65\066\x43\u{44}\z
        E" == "ABCDE" and '\'' == "'" and "\\" == [[\]] and [==[
a]]b]==] == "a]]b")
assert("tab\tnew\nline" == 'tab\9new\10line' and #"\0\1" == 2)

-- tables: constructors, lists, records, multiple results, nesting, methods
local function three() return 1, 2, 3 end
local tt = {three(), three(), [10] = "ten", k = "kay", "last"; three()}
assert(#tt == 6 and tt[1] == 1 and tt[2] == 1 and tt[3] == "last" and tt[6] == 3)
assert(tt[10] == "ten" and tt.k == "kay" and tt["k"] == "kay")
local tp = {(three())}
assert(#tp == 1)
local big = {}
for k = 1, 300 do big[k] = k end
local lit = {1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,
  31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,51,52,53,54,55,56,57,58,59,60}
assert(#lit == 60 and lit[60] == 60 and lit[51] == 51 and #big == 300)
local obj = {v = 0}
function obj:add(d) self.v = self.v + d return self end
function obj.get(self) return self.v end
assert(obj:add(2):add(3):get() == 5 and obj.get(obj) == 5)
local nest = {a = {b = {c = {}}}}
nest.a.b.c.d = 4
nest.a["b"].c["e"] = 5
assert(nest.a.b.c.d + nest.a.b.c.e == 9)

-- functions: varargs, upvalues, recursion, tail calls, closures in loops
local function va(...)
  local p, q = ...
  return select("#", ...), p, q, ...
end
local cnt, p1, q1, r1, r2, r3 = va(7, 8, 9)
assert(cnt == 3 and p1 == 7 and q1 == 8 and r1 == 7 and r3 == 9)
assert(select("#", va()) == 3 and select("#", (va())) == 1)
local function pack(...) return {n = select("#", ...), ...} end
local pk = pack(nil, nil)
assert(pk.n == 2)
local function fact(k) if k <= 1 then return 1 end return k * fact(k - 1) end
assert(fact(10) == 3628800)
local function loop(k) if k == 0 then return "done" end return loop(k - 1) end
assert(loop(10000) == "done")
local fs = {}
for k = 1, 3 do fs[k] = function() return k end end
assert(fs[1]() == 1 and fs[3]() == 3)
local counter = (function()
  local c0 = 0
  return function() c0 = c0 + 1 return c0 end
end)()
counter()
assert(counter() == 2)
local up = 1
local function setup() up = up + 1 end
setup()
assert(up == 2)

-- control structures
local sum = 0
for k = 10, 1, -2 do sum = sum + k end
assert(sum == 30)
sum = 0
for k = 1.0, 2.0, 0.5 do sum = sum + k end
assert(sum == 4.5)
sum = 0
for k = math.maxinteger - 2, math.maxinteger do sum = sum + 1 end
assert(sum == 3)
for k = 1, 0 do error("empty loop ran") end
sum = 0
for k, v in ipairs({5, 6, 7}) do sum = sum + k * v end
assert(sum == 38)
local keys = 0
for k in pairs({a = 1, b = 2}) do keys = keys + 1 end
assert(keys == 2)
local w = 0
while w < 10 do w = w + 1 if w == 7 then break end end
assert(w == 7)
local rp = 0
repeat local inner = rp; rp = rp + 1 until inner >= 3
assert(rp == 4)
local ifv
if w == 1 then ifv = 1 elseif w == 7 then ifv = 7 else ifv = 0 end
assert(ifv == 7)
do
  local k = 0
  ::top::
  k = k + 1
  if k < 5 then goto top end
  assert(k == 5)
end
for k = 1, 3 do
  for m = 1, 3 do
    if m == 2 then goto continue end
    sum = sum + m
    ::continue::
  end
end

-- <const> and <close>
do
  local K <const> = 42
  local S <const> = "str"
  local T <const> = {}
  assert(K == 42 and S == "str" and type(T) == "table")
  local log = {}
  do
    local h <close> = setmetatable({}, {__close = function() log[#log + 1] = "closed" end})
    log[#log + 1] = "body"
  end
  assert(log[1] == "body" and log[2] == "closed")
end

-- integer/float loop variables and closures capturing them stay separate
local caps = {}
for k = 1, 2 do local kk = k * 2; caps[k] = function() return kk end end
assert(caps[1]() == 2 and caps[2]() == 4)

-- goto out of a block with a captured local closes it
do
  local f
  local k = 1
  ::again::
  local v = k
  if not f then f = function() return v end end
  k = k + 1
  if k < 3 then goto again end
  assert(f() == 1)
end

-- precedence and associativity
assert(2 ^ -2 == 0.25 and -2 ^ 2 == -4.0 and 2 ^ 3 ^ 2 == 512.0)
assert((not 1 == 2) == false and not (1 == 2) == true)
assert(1 + 2 * 3 - 4 / 2 == 5.0 and (1 + 2) * 3 == 9 and 7 - 3 - 2 == 2)
assert("a" .. "b" .. "c" == "abc" and 1 .. 2 == "12" and "x" .. 1 + 2 == "x3")
assert(1 < 2 == true and (1 < 2) == (2 > 1) and 1 <= 1 and not (1 >= 2))
assert(5 & 3 | 8 == 9 and 5 | 3 & 1 == 5 and 1 << 2 + 1 == 8 and 6 ~ 3 & 1 == 7)
assert(-3 // 2 == -2 and -3 % 2 == 1 and 3 % -2 == -1 and -3.5 % 2 == 0.5)
assert("10" + 1 == 11 and "3" * "4" == 12 and 10 .. "" == "10" and "0x10" + 0 == 16)
assert(1 == 1.0 and 2^53 == 2^53 + 0 and math.maxinteger + 0.0 == 2^63)
assert(#"abc" == 3 and #{1, 2, nil} >= 2 and -(-2^63) == 2^63)
assert(1 and nil == nil and (false or 0) == 0)

-- call forms and constructors
local function id(...) return ... end
assert(id"lit" == "lit" and id[[long]] == "long" and id{1}[1] == 1 and ("%d"):format(3) == "3")
local trail = {1, 2, 3,}
local semi = {1; 2; x = 3;}
assert(#trail == 3 and #semi == 2 and semi.x == 3)
local deep = {a = {b = {}}}
function deep.a.b.f(x) return x + 1 end
function deep.a.b:g(x) return self == deep.a.b and x end
assert(deep.a.b.f(1) == 2 and deep.a.b:g(5) == 5)
local tk = {[1.0] = "one", [2^53] = "big", ["k" .. 1] = "k1", [true] = "t"}
assert(tk[1] == "one" and tk[2^53] == "big" and tk.k1 == "k1" and tk[true] == "t");;;
--[==[ a long
comment ]] still inside ]==] assert(true)
local ml = [[
first
second]]
assert(ml == "first\nsecond")

-- locals shadowing, nested scopes and upvalues shared between closures
local sh = 1
do local sh = sh + 1; assert(sh == 2) end
assert(sh == 1)
local function pair()
  local v = 0
  return function() v = v + 1 return v end, function() return v end
end
local incr, get = pair()
incr(); incr()
assert(get() == 2)
local acc = {}
for i = 1, 3 do
  local j = i
  acc[i] = function() j = j + 10 return j end
end
assert(acc[1]() == 11 and acc[1]() == 21 and acc[2]() == 12)
local wl = 0
while wl < 3 do
  local captured = wl
  acc[#acc + 1] = function() return captured end
  wl = wl + 1
end
assert(acc[4]() == 0 and acc[6]() == 2)

-- many constants, registers and nesting
local src = {"local t = {"}
for k = 1, 300 do src[#src + 1] = "'s" .. k .. "'," end
src[#src + 1] = "} return t[300], #t"
local last, len = load(table.concat(src))()
assert(last == "s300" and len == 300)
assert(load("return " .. string.rep("(", 100) .. "1" .. string.rep(")", 100))() == 1)

print("ok")
