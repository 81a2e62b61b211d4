-- the peek operators: never folded, a constant address is loaded first
local a = ...
local b = @0x5000
local c = %a
local d = $a
local e = *a
local f = not @a
local g = @a + 1
local h = -@a
local i = *a^2
local j = @(a + 1)
local k = @70000
