-- args: --cycles
-- expect-stderr: spend=11829 slices
-- copy charges as the element-wise family with k = 24 (12 for i64 and f64); copy_dat
-- charges n >> 8 per scratch copy.
local a = userdata("u8", 480, 270)
local c = a:copy()                      -- 1012 + 5400
a:copy(7, true)                         -- 5400
userdata("f64", 120):copy(1.5, true)    -- 120 / 12 = 10
local x, y = userdata("u8", 10), userdata("u8", 10)
x:copy(y, true, 0, 4)                   -- 6 / 24 = 0: 1
assert(x:copy(userdata("f64", 10)) == nil) -- refused: nothing
USERDATA.copy(5, x, true)               -- 10 / 24 = 0: 1
local m = userdata("f64", 16, 16)
m:matmul(m, true)                       -- two scratch copies of 256: 1 + 1
local p = userdata("f64", 25, 40)
p:matmul(userdata("f64", 25, 25), true) -- 1000 >> 8 = 3
assert(c[0] == 0)
print("ok")
