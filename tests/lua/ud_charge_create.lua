-- args: --cycles
-- expect-stderr: spend=276 slices
-- Creation charges only for a text initialiser (count x bits / 32); get charges count / 2.
local u = userdata("u8", 4, "01ff0a10")          -- 4 * 8 / 32 = 1
userdata("i16", 2, 2, "0001fffe00030004")        -- 2
userdata("f64", 3, "1,2,3")                      -- 6
userdata("i32", 10, "")                          -- 10: an empty text is still a text
userdata("[gfx]0201zZ")                          -- 2 * 8 / 32 = 0, spend_cpu's minimum 1
userdata("u8", 1000, "00")                       -- 250
userdata("u8", 100)                              -- no text: nothing
userdata("f64", 100, 7)                          -- a number is no text
vec(1, 2, 3)                                     -- vec charges nothing
assert(select('#', userdata("u8", 0, "00")) == 0) -- refused: nothing
local g = userdata("u8", 10)
get(g)                                           -- 10 / 2 = 5
get(g, 0, 3)                                     -- 1
get(g, 99)                                       -- out of range: nothing
set(g, 0, 1, 2, 3)                               -- set charges nothing
assert(u[1] == 255)
print("ok")
