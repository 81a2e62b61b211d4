-- max-rss-mb: 160
-- A library loop whose metamethods are native functions runs no instruction at all: each such
-- call is native work, and the loop meets the ceiling of code that cannot yield long before it
-- would reach its own bound of 2^26 elements.
local t = setmetatable({}, {__index = table.concat, __len = rawlen})
local ok, err = pcall(table.concat, t, "", 1, 1 << 40)
assert(not ok and err:find("cycle budget exceeded in non-yieldable code", 1, true), err)
-- Ordinary native callbacks are unaffected.
assert(select(2, string.rep("a", 1000):gsub(".", string.upper)) == 1000)
assert(table.concat(setmetatable({}, {__index = function(_, i) return i end}), ",", 1, 5) == "1,2,3,4,5")
print("ok")
