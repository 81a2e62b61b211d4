-- String building: concatenation, table.concat, sub and byte.
-- small: 100000 => 30000
-- small: 80000 => 24000
local parts = {}
for i = 1, 100000 do parts[#parts + 1] = "item" .. i end
local s = table.concat(parts, ",")
local n = 0
for r = 1, 10 do for i = 1, #s, 7 do n = n + s:byte(i) end end
-- The parts are dropped before the concatenation loop: this program measures building
-- strings. Kept alive, 100 000 small strings would be re-marked and re-swept by every
-- collection cycle of the loop's garbage, which measures the collector's mode instead
-- (see the README).
parts = nil
local acc = ""
for i = 1, 80000 do acc = acc .. string.sub(s, i, i) end
print(#s, n, #acc, acc:sub(1, 20))
