-- args: --cycles
-- expect-stderr: spend=1789569705 slices
-- One call does at most 2^31 - 1 element operations: a stride of 0 with a huge span count
-- stops there and charges what was done: (2^31 - 1) / 24 + (2^31 - 1) / 4 = 626349396.
local w = userdata("u8", 65536)
local r = w:add(1, true, 0, 0, 65536, 0, 0, 2^31 - 1)
assert(r == w)
-- 32767 full spans and 65535 elements of one more
assert(w[0] == 0 and w[65534] == 0 and w[65535] == 255, w[0] .. " " .. w[65535])
-- a length of 0 runs no span however many are asked for: spend_cpu(0), 1 cycle
w:add(1, true, 0, 0, 0, 0, 0, 3)
assert(w[0] == 0)
-- take with index and destination strides of 0 repeats one run up to the same bound:
-- (2^31 - 1) / 24 + (2^31 - 1) / 2 = 1163220308
local s = userdata("u8", 8)
s[3] = 7
local d = userdata("u8", 4)
local idx = userdata("i32", 1)
idx[0] = 3
assert(s:take(idx, d, 0, 1, 1, 0, 0, 2^31 - 1) == d)
assert(d[0] == 0 and d[1] == 7 and d[2] == 0)
print("ok")
