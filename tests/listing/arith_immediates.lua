-- immediate and constant operand forms with their metamethod follow-ups
local x, y = ...
local a = x + 128
local b = x + 129
local c = x - 127
local d = x - 128
local e = 1 + x
local f = x * 2
local g = 2.5 * x
local h = x % 3
local i = x ^ 2
local j = x / 4
local k = x // 5
local l = 6 - x
local m = x + y
local n = x + -127
local o = x - -127
local p = x + 1.0
