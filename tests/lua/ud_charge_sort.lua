-- args: --cycles
-- expect-stderr: spend=20004 slices
-- sort charges its comparison count (spend_cpu's minimum of 1 for none). The count depends
-- on the platform's qsort, so the script tops the charge up to a fixed total with a text
-- initialiser, which charges a quarter cycle per byte.
assert(userdata("u8", 1):sort() == 0)                -- 1
assert(userdata("i64", 1):sort(0, true) == 0)        -- 1
assert(userdata("f64", 1, 1):sort() == 0)            -- 1
assert(userdata("u8", 3, 2):sort(3) == nil)          -- refused: nothing
local two = userdata("i16", 2)
set(two, 0, 5, -5)
local c1 = two:sort()                                -- c1
assert(two[0] == -5 and math.type(c1) == "integer" and c1 >= 1)
local s = userdata("i32", 1000)
for i = 0, 999 do s[i] = (i * 7919) % 1000 end
local c2 = s:sort(0, true)                           -- c2
assert(s[0] == 999 and s[999] == 0 and c2 >= 999 and c2 < 19000)
userdata("u8", 4 * (20001 - c1 - c2), "00")          -- 20001 - c1 - c2
print("ok")
