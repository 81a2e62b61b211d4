-- The USERDATA table: its keys, __index/__newindex/__len/__tostring, and operators,
-- methods and table calls reaching the same functions.
local function none(...) return select('#', ...) == 0 end

local keys = {"sort", "convert", "copy", "take", "clear",
  "__add", "__sub", "__mul", "__div", "__idiv", "__mod", "__pow", "__band", "__bor", "__bxor",
  "__shl", "__shr", "add", "sub", "mul", "div", "idiv", "mod", "pow", "band", "bor", "bxor",
  "shl", "shr", "max", "min", "abs", "sgn", "sgn0", "__len", "__tostring", "__index",
  "__newindex", "set", "get", "blit", "peek", "poke", "width", "height", "attribs", "mutate",
  "lerp", "magnitude", "distance", "dot", "cross", "matmul", "matmul3d", "matmul2d",
  "transpose", "row", "column"}
assert(#keys == 58)
local n = 0
for k, v in pairs(USERDATA) do
  n = n + 1
  assert(type(k) == "string" and type(v) == "function", k)
end
assert(n == 58, n)
for _, k in ipairs(keys) do assert(type(USERDATA[k]) == "function", k) end
for _, op in ipairs({"add", "sub", "mul", "div", "idiv", "mod", "pow", "band", "bor", "bxor", "shl", "shr"}) do
  assert(USERDATA[op] == USERDATA["__" .. op], op)
end
for _, k in ipairs({"__eq", "__lt", "__le", "__unm", "__bnot", "__concat", "__call", "__close",
                    "__gc", "__name", "__metatable"}) do
  assert(USERDATA[k] == nil, k)
end
assert(getmetatable(USERDATA) == nil)
assert(type(get) == "function" and type(set) == "function" and type(vec) == "function")

-- __index
local u = userdata("u8", 8)
for i = 0, 7 do set(u, i, i * 10) end
assert(u.x == 0 and u.y == 10 and u.z == 20 and u.u == 30 and u.v == 40 and u.w == 50 and u.t == 60)
assert(u[0] == 0 and u[7] == 70 and u[1.0] == 10)
assert(math.type(u[1]) == "integer")
assert(u[8] == nil and u[-1] == nil and u[1.5] == nil)
assert(u[2^32] == nil and u[4294967296] == nil and u[math.mininteger] == nil)
assert(u["1"] == nil and u.a == nil and u[""] == nil and u[true] == nil and u[{}] == nil)
assert(u.width == USERDATA.width and u.add == USERDATA.add)
assert(u.nosuchmethod == nil)
assert(none(USERDATA.__index(u, "q")))
assert(none(USERDATA.__index(5, "x")))
local short = userdata("u8", 2)
assert(short.z == nil and short.t == nil)
local f = vec(1.5, 2.5, 3.5)
assert(f.x == 1.5 and f.z == 3.5 and f.u == nil and math.type(f.x) == "float")
USERDATA.extra = function(self) return self:width() * 2 end
assert(u:extra() == 16)
USERDATA.extra = nil

-- __newindex
u.x = 5
u[3] = 300
u[7.0] = -1
u[8] = 1
u[-1] = 1
u[2^32] = 1
u.foo = 1
u.q = 1
u.y = "9"
assert(u[0] == 5 and u[3] == 44 and u[7] == 255 and u[1] == 9)
f.y = 7
f.z = "4.5"
f[0] = 2^60
assert(f[1] == 7.0 and f[2] == 4.5 and f[0] == 2^60, "a numeric string stores its value")
f.z = {}
assert(f[2] == 0.0 and math.type(f[2]) == "float")
local m = userdata("i16", 2, 2)
m[3] = -2.5
assert(m[3] == -3, "floored through hvx_intp")

-- __len, width, height, attribs
assert(#u == 8 and #userdata("i32", 3, 5) == 15)
assert(u:width() == 8 and u:height() == nil)
assert(m:height() == 2)
local w, h, t, d = m:attribs()
assert(w == 2 and h == 2 and t == "i16" and d == 2)
w, h, t, d = f:attribs()
assert(w == 3 and h == 1 and t == "f64" and d == 1)
assert(none(USERDATA.width(5)) and none(USERDATA.attribs({})) and none(USERDATA.__len("x")))

-- __tostring
assert(tostring(vec(1, 2.5, -3)) == "vec(1.0,2.5,-3.0)", tostring(vec(1, 2.5, -3)))
local mat = userdata("f64", 3, 4)
for i = 0, 11 do mat[i] = i end
assert(tostring(mat) == 'userdata("f64",3,4,"0.0,1.0,2.0,3.0,4.0,5.0,6.0,7.0,8.0,9.0,10.0,11.0")', tostring(mat))
assert(tostring(u):match("^userdata: 0x%x+$"))
assert(tostring(userdata("f64", 40)):match("^userdata: 0x%x+$"))
assert(tostring(userdata("f64", 4, 3)):match("^userdata: 0x%x+$"))
-- the text parses back
local back = userdata("f64", 3, 4, tostring(mat):match('"([^"]*)"%)$'))
for i = 0, 11 do assert(back[i] == i) end
assert(none(USERDATA.__tostring(5)))

-- operators, methods and table calls agree
local a = userdata("u8", 3)
set(a, 0, 1, 2, 3)
local r1, r2, r3 = a + 1, a:add(1), USERDATA.add(a, 1)
for i = 0, 2 do assert(r1[i] == a[i] + 1 and r2[i] == r1[i] and r3[i] == r1[i]) end
local s = 5 - a
assert(s[0] == 4 and s[2] == 2)
assert((a * 2)[2] == 6 and (a // 2)[2] == 1 and (a / 2)[2] == 1 and (a % 2)[2] == 1)
assert((a ^ 2)[2] == 9 and (a & 1)[1] == 0 and (a | 4)[0] == 5 and (a ~ 3)[0] == 2)
assert((a << 1)[2] == 6 and (a >> 1)[2] == 1)
assert(a + userdata("i16", 3) == nil, "mismatched types give nil")
assert(not pcall(function() return -a end))
assert(not pcall(function() return a .. "" end))
assert(not pcall(function() return a < a end))
assert(a == a and a ~= a + 0)

print("ok")
