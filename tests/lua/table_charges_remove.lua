-- args: --cycles
-- expect-stderr: spend=1010 slices
-- table.remove charges the elements it moves down, at least 1; nothing at #t + 1.
local t = {}
for i = 1, 1000 do t[i] = i end
assert(table.remove(t, 1) == 1)          -- 1000 - 1 = 999
assert(table.remove(t) == 1000)          -- 0: charged 1
assert(table.remove(t, #t + 1) == nil)   -- -1: nothing
assert(table.remove({}) == nil)          -- 1
assert(table.remove({}, 0) == nil)       -- 1
assert(table.remove(t, 990) == 991)      -- 998 - 990 = 8
assert(not pcall(table.remove, {1, 2}, 5))
assert(not pcall(table.remove, {1, 2}, -1))
print("ok")
