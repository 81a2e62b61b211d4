-- args: --cycles
-- expect-exit: 0
-- expect-stderr: cycles total=[0-9]+ vm=220 alloc=[0-9]+ spend=0 slices=1
-- Charges along each typed path of the arithmetic, comparison, indexing and for-loop opcodes:
-- float and mixed operands, string operands that fall back to OP_MMBIN*, float operands of
-- bitwise operators, array, hash, missing and float keys, metamethods, and integer, float,
-- skipped and float-limit loops. VARARGPREP and RETURN 4, then per line: 3 1 7 1 | 8 10 14 20
-- 12 12 | 14 5 14 16 11 | 18 (both lines) 7 32 11, metamethod bodies included.
local x, y, z = 1.5, 2.25, 3
local s = "4"
local t = {10, 20, 30}
local r
r = x + y    r = x - y    r = x * y    r = x + z    r = z - x    r = z * x
r = x + 1    r = x + 2.0  r = x - 1.5  r = x * 2    r = 2 * x    r = s + 1
r = s * z    r = 3.0 & 1  r = z | 2.0  r = z ~ 1.0  r = s + x
r = x < y    r = z < x    r = x <= 3   r = x > 1    r = x >= 2   r = x == 1.5
r = t[1]     r = t[z]     r = t[4]     r = t[1.0]   r = t.n
t[1] = 5     t[z] = 6     t[5] = 7     t[2.0] = 8   t[1] = x
for i = 1, 3 do r = i end
for i = 3, 1 do r = i end
for i = 10, 1, -4 do r = i end
for i = 1.0, 2.0, 0.5 do r = i end
for i = 1, 2.5 do r = i end
local mt = {__add = function(a, b) return 1 end, __lt = function(a, b) return true end,
            __index = function(t, k) return k end, __newindex = function(t, k, v) end}
local o = setmetatable({}, mt)
r = o + 1    r = 1 + o    r = o + x    r = o < o    r = o[1]     r = o[x]
o[1] = 2     o[x] = 3     r = ("abc")[2]
