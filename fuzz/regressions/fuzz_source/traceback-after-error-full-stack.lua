-- An error raised with most of the first stack in use: the kernel then builds a traceback on
-- the dead thread and needs room above its top.
local function check(v) if not v then error("failed", 2) end end
local a1, a2, a3, a4, a5, a6, a7, a8, a9, a10 = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10
local b1, b2, b3, b4, b5, b6, b7, b8, b9, b10 = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10
local c1, c2, c3, c4, c5, c6, c7, c8, c9, c10 = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10
local d1, d2, d3, d4, d5 = 1, 2, 3, 4, 5
check(a1 + b1 + c1 + d1 == 5)
