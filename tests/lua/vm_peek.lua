-- The peek operators: integer or integral float addresses, no coercion, no metamethods.
local function id(x) return x end
assert(@0 == 0 and %0 == 0 and $0 == 0 and *0 == 0)
assert(@id(2.0) == 0 and math.type(@id(2.0)) == "integer")
assert(@id(-1) == 0 and @id(2^40) == 0 and $id(-2^63) == 0)
local a = id(4096 * 3 + 17)
assert(@a == 0 and %a == 0 and $a == 0 and *a == 0)

local ok, msg = pcall(function() return @id(1.5) end)
assert(not ok and msg:find("attempt to perform arithmetic on a number value"), msg)
ok, msg = pcall(function() return %id("1") end)
assert(not ok and msg:find("attempt to perform arithmetic on a string value"), msg)
ok, msg = pcall(function() local s = "1" return $s end)
assert(not ok and msg:find("perform arithmetic on a string value %(local 's'%)"), msg)
ok, msg = pcall(function() return *id(2^63) end)
assert(not ok and msg:find("number value"), msg)
ok, msg = pcall(function() return @id(0/0 * 0 + (5.0 % 0)) end) -- NaN
assert(not ok and msg:find("number value"), msg)
-- no metamethod is consulted
local t = setmetatable({}, {__add = function() return 1 end, __unm = function() return 1 end})
ok, msg = pcall(function() return @t end)
assert(not ok and msg:find("table value"), msg)
ok, msg = pcall(function() return @nil end)
assert(not ok and msg:find("nil value"), msg)
print("ok")
