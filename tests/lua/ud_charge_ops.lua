-- args: --cycles
-- expect-stderr: spend=11958 slices
-- Element-wise charges: (count >> 7) for a new copy, then E / k + spans / 4.
local a = userdata("u8", 480, 270)
local b = a + 1                         -- 1012 + 5400
a:add(1, true)                          -- 5400
userdata("f64", 100):div(2, true)       -- 100 / 4 = 25
userdata("i64", 100):div(2, true)       -- 100 / 2 = 50
userdata("u8", 100):pow(2, true)        -- 100 / 2 = 50
userdata("f64", 100):mul(2, true)       -- 100 / 8 = 12
a:add(1, true, 0, 0, 4, 1, 480, 10)     -- 40 / 24 + 10 / 4 = 3
a:add(1, true, 0, 0, 4, 1, 480, -8)     -- 0 + -2: nothing
assert(a:add(userdata("i16", 4)) == nil) -- refused: nothing
a:add(1, true, 0, 200000)               -- outside: 0, spend_cpu's minimum 1
-- a span outside b ends the run but does not cancel the work done before it
local p, q = userdata("u8", 100), userdata("u8", 100)
p:div(q, true, 0, 0, 10, 60, 10, 3)     -- 20 / 4 + 3 / 4 = 5
assert(p[19] == 255 and p[20] == 0)
assert(b[0] == 1)
print("ok")
