-- args: --cycles
-- expect-stderr: spend=1006 slices
-- table.insert charges the elements it moves up, at least 1, and only with a position.
local t = {}
for i = 1, 1000 do t[i] = i end
table.insert(t, "a")          -- at the end: no charge
table.insert(t, 1, "b")       -- #t + 1 - 1 = 1001
table.insert(t, #t + 1, "c")  -- nothing moves: 1
table.insert(t, 1000, "d")    -- 1004 - 1000 = 4
-- failures charge nothing
assert(not pcall(table.insert, t, 0, "x"))
assert(not pcall(table.insert, t, #t + 2, "x"))
assert(not pcall(table.insert, t))
assert(t[1] == "b" and t[1000] == "d" and #t == 1004)
-- the rest of the library charges nothing
assert(#table.concat(t, ",") > 0)
table.move(t, 1, 100, 2)
print("ok")
