-- only an immediate operand carries the float flag in C; a float constant that does not fit
-- an immediate leaves C at 0 whatever instruction results
local a = ...
local b = a < 1000.0
local c = 5 < 1000.0
local d = a == 1000.0
local e = a <= 200.0
local f = 2.0 >= a
local g = a ~= -1.0
local h = 1000.0 > 5
