-- comparison forms: immediates (float flag in C), constants, swapped order, !=
local x, y = ...
local a = x == 1.0
local b = x == 1.5
local c = x ~= 200
local d = 5 < x
local e = x != 1
local f = x < 1.5
local g = 2 >= x
local h = x > y
local i = "s" == x
local j = x <= 128
local k = x <= 129
