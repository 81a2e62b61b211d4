-- args: --cycles
-- expect-stderr: spend=2309 slices
-- take charges copied / 24 (12 for i64 and f64) + n / 2; clear (count x bits) / 512.
local src = userdata("u8", 4)
set(src, 0, 10, 20, 30, 40)
local idx = userdata("i32", 3)
set(idx, 0, 3, 0, 0)
src:take(idx)                                   -- 3 / 24 + 3 / 2 = 1
local s1000 = userdata("u8", 1000)
local zeros = userdata("i32", 100)
s1000:take(zeros, nil, 0, 0, 10)                -- 1000 / 24 + 100 / 2 = 91
src:take(idx, nil, 0, 0, 1, 1, 1, 0)            -- n = 0: spend_cpu(0), 1
local s64 = userdata("i64", 100)
local ramp = userdata("i32", 100)
for i = 0, 99 do ramp[i] = i end
s64:take(ramp)                                  -- 100 / 12 + 50 = 58
-- a run outside the source copies nothing and does not lower the sum
local t64 = userdata("i64", 20)
local mixed = userdata("i32", 13)
for i = 0, 11 do mixed[i] = i end
mixed[12] = 100
t64:take(mixed)                                 -- 12 / 12 + 13 / 2 = 7
userdata("u8", 480, 270):clear()                -- 129600 * 8 / 512 = 2025
userdata("u8", 3):clear()                       -- 0: 1
userdata("f64", 1000):clear()                   -- 125
USERDATA.clear(5)                               -- nothing
print("ok")
