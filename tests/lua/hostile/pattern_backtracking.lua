-- max-rss-mb: 256
-- A pattern that backtracks exponentially runs inside one native call, out of reach of the
-- cycle budget: the matcher gives up with "pattern too complex" instead of freezing the machine.
local subject = string.rep("a", 60)
local ok, err = pcall(string.find, subject, string.rep("a*", 30) .. "b")
assert(not ok and err:find("pattern too complex"), err)
-- Quadratic but finite work on a moderate subject still completes.
assert(string.match(string.rep("a", 3000), ".-b") == nil)
-- Ordinary matching over a large subject stays well inside the bound.
local big = string.rep("word ", 200000)
local n = 0
for w in big:gmatch("%a+") do n = n + 1 end
assert(n == 200000)
assert(select(2, big:gsub("o", "0")) == 200000)
print("ok")
