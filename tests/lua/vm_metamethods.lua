-- Metamethods of every event, from the instruction forms that reach them.
local function id(x) return x end
local log = {}
local mt = {}
local function V(n) return setmetatable({n = n}, mt) end
local function val(x) return type(x) == "table" and x.n or x end
for _, e in ipairs({"add", "sub", "mul", "div", "mod", "pow", "idiv", "band", "bor", "bxor", "shl", "shr"}) do
  mt["__" .. e] = function(a, b) log[#log + 1] = e; return {e, val(a), val(b)} end
end
mt.__unm = function(a) return {"unm", val(a)} end
mt.__bnot = function(a) return {"bnot", val(a)} end
mt.__len = function(a) return 99 end
mt.__concat = function(a, b) return "cat(" .. tostring(val(a)) .. "," .. tostring(val(b)) .. ")" end
mt.__eq = function(a, b) return val(a) == val(b) end
mt.__lt = function(a, b) return val(a) < val(b) end
mt.__le = function(a, b) return val(a) <= val(b) end
mt.__index = function(t, k) return "idx:" .. tostring(k) end
mt.__call = function(self, ...) return "called", select('#', ...) end
local function check(r, e, a, b) assert(r[1] == e and r[2] == a and r[3] == b, e) end
local v = V(5)
-- register, constant and immediate forms, both operand orders
check(v + v, "add", 5, 5); check(v + 1, "add", 5, 1); check(1 + v, "add", 1, 5)
check(v + 1000, "add", 5, 1000); check(v + 1.5, "add", 5, 1.5)
check(v - 1, "sub", 5, 1); check(2 - v, "sub", 2, 5); check(v - id(3), "sub", 5, 3)
check(v * 2, "mul", 5, 2); check(2 * v, "mul", 2, 5)
check(v / 2, "div", 5, 2); check(v % 2, "mod", 5, 2); check(v ^ 2, "pow", 5, 2)
check(v // 2, "idiv", 5, 2); check(2 // v, "idiv", 2, 5)
check(v & 1, "band", 5, 1); check(1 | v, "bor", 1, 5); check(v ~ 3, "bxor", 5, 3)
check(v << 1, "shl", 5, 1); check(1 << v, "shl", 1, 5)
check(v >> 1, "shr", 5, 1); check(1 >> v, "shr", 1, 5); check(v >> id(2), "shr", 5, 2)
check(-v, "unm", 5); check(~v, "bnot", 5)
assert(#v == 99)
assert(v .. "x" == "cat(5,x)" and "x" .. v == "cat(x,5)" and 1 .. v == "cat(1,5)")
assert("a" .. "b" .. v == "acat(b,5)")
assert(v .. "a" .. "b" == "cat(5,ab)")
assert(V(1) == V(1) and V(1) ~= V(2) and not (V(1) == 1))
assert(V(1) < V(2) and not (V(2) < V(1)) and V(2) <= V(2))
assert(V(1) < 2 and 0 < V(1) and V(1) <= 1 and V(3) > 2 and V(3) >= 3 and not (V(3) > 3.5))
assert(v.foo == "idx:foo" and v[1] == "idx:1" and v[id("k")] == "idx:k")
local c1, c2 = v(1, 2, 3)
assert(c1 == "called" and c2 == 3)
-- string arithmetic goes through the string metamethods
assert(id("10") + 1 == 11 and id("3") * "4" == 12 and -id("2") == -2)
-- __index and __newindex chains through tables
local base = {x = 1}
local mid = setmetatable({}, {__index = base})
local top = setmetatable({}, {__index = mid})
assert(top.x == 1 and top.y == nil)
local store = {}
local proxy = setmetatable({}, {__newindex = store})
proxy.a = 1
assert(rawget(proxy, "a") == nil and store.a == 1)
local fnset = setmetatable({}, {__newindex = function(t, k, v) rawset(t, k, v * 2) end})
fnset.z = 4; fnset[1] = 5
assert(fnset.z == 8 and fnset[1] == 10)
-- a loop of __index raises after 2000 lookups
local loop = setmetatable({}, {})
getmetatable(loop).__index = loop
local ok, msg = pcall(function() return loop.missing end)
assert(not ok and msg:find("'__index' chain too long; possible loop"), msg)
getmetatable(loop).__newindex = loop
ok, msg = pcall(function() loop.missing = 1 end)
assert(not ok and msg:find("'__newindex' chain too long; possible loop"), msg)
-- a chain that ends within the limit
local chain = {}
local cur = {final = "yes"}
for k = 1, 1500 do cur = setmetatable({}, {__index = cur}) end
assert(cur.final == "yes")
-- indexing errors
ok, msg = pcall(function() local n = nil; return n.x end)
assert(not ok and msg:find("attempt to index a nil value %(local 'n'%)"), msg)
ok, msg = pcall(function() local s = 1; s.x = 1 end)
assert(not ok and msg:find("attempt to index a number value"), msg)
ok, msg = pcall(function() return #id(1) end)
assert(not ok and msg:find("attempt to get length of a number value"), msg)
-- the absence cache sees a metamethod added later
local plain = setmetatable({}, {})
assert(plain.q == nil)
getmetatable(plain).__index = function() return "late" end
assert(plain.q == "late")
-- __eq is not consulted for raw-equal or different-typed values
local eqcalls = 0
local emt = {__eq = function() eqcalls = eqcalls + 1 return true end}
local e1, e2 = setmetatable({}, emt), setmetatable({}, emt)
assert(e1 == e2 and e1 == e1 and e1 ~= 1 and eqcalls == 1)
-- __lt result is converted to a boolean
local cmt = {__lt = function() return 1 end, __le = function() return nil end}
local c = setmetatable({}, cmt)
assert((c < c) == true and (c <= c) == false)
-- __close and __gc exist as events too
local closed
do local x <close> = setmetatable({}, {__close = function(o, e) closed = e == nil end}) end
assert(closed == true)
-- __len on strings is not consulted; __concat on numbers via the second operand
assert(#"abc" == 3)
-- __unm / __len / __index via the type metatable of strings
assert(("abc"):upper() == "ABC" and ("x"):rep(3) == "xxx")
print("ok")
