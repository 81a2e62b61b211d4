-- args: --budget 1000000000
-- Conformance: small complete programs (classes, serialisation, text utilities, sieve, bit tricks,
-- weak memo tables, a queue, a tokenizer, vararg helpers, goto state machine). Their printed output
-- is collected and compared with what the reference Lua 5.4 interpreter prints.
local real_print = print
local lines = {}
local function print(...)
  local n = select("#", ...) local t = {...}
  for i = 1, n do t[i] = tostring(t[i]) end
  lines[#lines + 1] = table.concat(t, "\t", 1, n)
end
do
-- class system
local Animal = {} Animal.__index = Animal
function Animal.new(name, sound) return setmetatable({name = name, sound = sound}, Animal) end
function Animal:speak() return self.name .. " says " .. self.sound end
local Dog = setmetatable({}, {__index = Animal}) Dog.__index = Dog
function Dog.new(name) local d = Animal.new(name, "woof") return setmetatable(d, Dog) end
function Dog:fetch() return self.name .. " fetches" end
local d = Dog.new("rex") print(d:speak(), d:fetch(), getmetatable(d) == Dog)
-- serializer
local function ser(v, ind)
  ind = ind or ""
  if type(v) == "table" then
    local keys = {}
    for k in pairs(v) do keys[#keys + 1] = k end
    for i = 2, #keys do local x, j = keys[i], i - 1 while j >= 1 and tostring(keys[j]) > tostring(x) do keys[j + 1] = keys[j] j = j - 1 end keys[j + 1] = x end
    local out = {}
    for _, k in ipairs(keys) do out[#out + 1] = ind .. "  [" .. ser(k) .. "] = " .. ser(v[k], ind .. "  ") end
    return "{\n" .. table.concat(out, ",\n") .. "\n" .. ind .. "}"
  end
  return string.format("%q", v)
end
print(ser({a = 1, b = {c = "x\ny", d = 2.5}, [1] = true, [2] = math.mininteger}))
-- split / join / trim
local function split(s, sep) local r = {} for piece in (s .. sep):gmatch("(.-)" .. sep:gsub("%p", "%%%0")) do r[#r + 1] = piece end return r end
print(table.concat(split("a,b,,c", ","), "|"), #split("", ","), table.concat(split("1.2.3", "."), " "))
local function trim(s) return (s:gsub("^%s+", ""):gsub("%s+$", "")) end
print("[" .. trim("  hi there \t\n") .. "]")
-- sieve
local N = 10000 local sieve = {} local primes = 0
for i = 2, N do if not sieve[i] then primes = primes + 1 for j = i * i, N, i do sieve[j] = true end end end
print(primes)
-- caesar
local function caesar(s, k) return (s:gsub("%a", function(c) local base = c:match("%l") and 97 or 65 return string.char((c:byte() - base + k) % 26 + base) end)) end
print(caesar("Hello, World!", 3), caesar(caesar("Hello, World!", 3), -3))
-- popcount & bits
local function popcount(x) local n = 0 while x ~= 0 do x = x & (x - 1) n = n + 1 end return n end
print(popcount(0xFF), popcount(-1), popcount(math.mininteger), 0xF0 >> 4, 1 << 62, (1 << 63) >> 63, -1 >> 60, ~0xF & 0xFF)
-- memoize with weak table
local memo = setmetatable({}, {__mode = "k"})
local function area(r) local v = memo[r] if not v then v = r.w * r.h memo[r] = v end return v end
local r1 = {w = 3, h = 4} print(area(r1), area(r1))
-- queue
local Q = {first = 1, last = 0, items = {}}
function Q:push(v) self.last = self.last + 1 self.items[self.last] = v end
function Q:pop() local v = self.items[self.first] self.items[self.first] = nil self.first = self.first + 1 return v end
for i = 1, 5 do Q:push(i * i) end print(Q:pop(), Q:pop(), Q.last - Q.first + 1)
-- tokenizer
local src = "local x = 10 + y*2.5 -- comment\nif x >= 3 then print('hi') end"
local toks = {}
local pos = 1
while pos <= #src do
  local s, e = src:find("^%s+", pos)
  if s then pos = e + 1 else
    local tok
    for _, pat in ipairs({"^%-%-[^\n]*", "^[%a_][%w_]*", "^%d+%.?%d*", "^'[^']*'", "^[<>=~]=", "^."}) do
      s, e = src:find(pat, pos)
      if s then tok = src:sub(s, e) break end
    end
    toks[#toks + 1] = tok pos = e + 1
  end
end
print(#toks, table.concat(toks, " "))
-- varargs utilities
local function map(f, ...) local n = select("#", ...) local t = {...} for i = 1, n do t[i] = f(t[i]) end return table.unpack(t, 1, n) end
print(map(function(x) return x and x * 2 end, 1, nil, 3))
local function curry(f, a) return function(...) return f(a, ...) end end
print(curry(math.max, 5)(1, 9, 3), curry(string.rep, "ab")(3, "-"))
-- string building
local buf = {} for i = 1, 10 do buf[#buf + 1] = string.format("%02d:%5.2f", i, i / 3) end print(table.concat(buf, ";"))
print(("%s=%d"):rep(3, ", "):format("a", 1, "b", 2, "c", 3))
print(string.format("%-10s|%10s|", "left", "right"), ("x"):byte(), ("ABC"):lower():upper():len())
-- numeric formatting
for _, v in ipairs({1, 1.0, -1.5, 1e15, 1e16, 2^53, 0.1, 1/3, 100, 1e-5, 123456789012}) do io_ = nil; buf[#buf + 1] = tostring(v) end
print(table.concat(buf, " ", 11))
-- goto-based state machine
local state, steps = "a", {}
::loop::
steps[#steps + 1] = state
if state == "a" then state = "b" goto loop elseif state == "b" then state = "c" goto loop end
print(table.concat(steps))
-- integer/float loop accumulations
local acc = 0 for i = 1, 100 do acc = acc + i / 2 end print(acc, math.type(acc))
local iacc = 0 for i = 1, 100 do iacc = iacc + i // 2 end print(iacc, math.type(iacc))
print(7 // 2, 7.0 // 2, -7 // 2, 7 % -3, -7 % 3, 7.5 % 2, 2^10, 10 / 2)
end
local expected = [=======[
rex says woof	rex fetches	true
{
  [1] = true,
  [2] = 0x8000000000000000,
  ["a"] = 1,
  ["b"] = {
    ["c"] = "x\
y",
    ["d"] = 0x1.4p+1
  }
}
a|b||c	1	1 2 3
[hi there]
1229
Khoor, Zruog!	Hello, World!
8	64	1	15	4611686018427387904	1	15	240
12	12
1	4	3
19	local x = 10 + y * 2.5 -- comment if x >= 3 then print ( 'hi' ) end
2	nil	6
9	ab-ab-ab
01: 0.33;02: 0.67;03: 1.00;04: 1.33;05: 1.67;06: 2.00;07: 2.33;08: 2.67;09: 3.00;10: 3.33
a=1, b=2, c=3
left      |     right|	120	3
1 1.0 -1.5 1e+15 1e+16 9.007199254741e+15 0.1 0.33333333333333 100 1e-05 123456789012
abc
2525.0	float
2500	integer
3	3.0	-4	-2	2	1.5	1024.0	5.0
]=======]
local got = table.concat(lines, "\n") .. "\n"
if got ~= expected then
  local i = 1
  for l in expected:gmatch("([^\n]*)\n") do
    if lines[i] ~= l then real_print("line " .. i .. " differs:\n  expected: " .. l .. "\n  got:      " .. tostring(lines[i])) break end
    i = i + 1
  end
end
assert(got == expected, "output differs")
real_print("ok")
