-- args: --cycles
-- expect-stderr: spend=2204 slices
-- convert: 2 per element between types, nothing for the same type; palette mode 1 per
-- element.
local i32 = userdata("i32", 100)
i32:convert("i32")                      -- byte copy: nothing
i32:convert("f64")                      -- 200
local p = userdata("u8", 4)
set(p, 0, 5, 7, 5, 9)
p:convert("u8", true)                   -- 4
userdata("f64", 1000):convert("u8")     -- 2000
assert(USERDATA.convert(5, "u8") == nil)
print("ok")
