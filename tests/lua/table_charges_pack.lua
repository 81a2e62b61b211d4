-- args: --cycles
-- expect-stderr: spend=215 slices
-- table.pack and table.unpack charge two cycles per value, at least 1; an empty unpack nothing.
assert(table.pack().n == 0)                           -- 1
assert(table.pack(1, 2, 3).n == 3)                    -- 6
assert(select("#", table.unpack({1, 2, 3})) == 3)     -- 6
assert(select("#", table.unpack({}, 3, 2)) == 0)      -- nothing
assert(select("#", table.unpack({}, 1, 1)) == 1)      -- 2
assert(not pcall(table.unpack, {}, 1, 1e7))           -- error: nothing
local t = {}
for i = 1, 100 do t[i] = i end
assert(select("#", table.unpack(t)) == 100)           -- 200
print("ok")
