-- bitwise K forms (integer constants only) and the shift immediates
local x = ...
local a = x & 3
local b = 3 | x
local c = x ~ 1.0
local d = 2.0 & x
local e = x << 3
local f = x << -3
local g = 3 << x
local h = x >> 3
local i = x << 128
local j = x >> 129
local k = 200 << x
local l = x ^^ 7
local m = ^^x
