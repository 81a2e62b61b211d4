-- max-rss-mb: 256
-- Library loops run inside one native call, out of reach of the cycle budget: ranges larger
-- than any table a process can hold are refused instead of spinning.
local ok, err = pcall(table.move, {}, 1, 1 << 40, 2)
assert(not ok and err:find("too many elements to move"), err)
ok, err = pcall(table.move, {}, -(1 << 40), 1 << 40, 1, {})
assert(not ok and err:find("too many elements to move"), err)
-- Ordinary moves are unaffected.
local t = table.move({1, 2, 3}, 1, 3, 2)
assert(t[1] == 1 and t[2] == 1 and t[3] == 2 and t[4] == 3)
local big = {}
for i = 1, 100000 do big[i] = i end
assert(#table.move(big, 1, 100000, 1, {}) == 100000)
print("ok")
