-- Hash-table inserts and lookups with string and integer keys.
-- small: 1, 100000 do => 1, 40000 do
-- small: 1, 100000, 3 => 1, 40000, 3
-- small: 1, 60 do => 1, 12 do
-- small: 150000 => 60000
local t = {}
for i = 1, 100000 do t["key" .. i] = i end
local s = 0
for r = 1, 60 do
  for i = 1, 100000, 3 do s = s + (t["key" .. i] or 0) end
end
local u = {}
for i = 1, 150000 do u[i * 7 % 1000003] = i end
local c = 0
for k, v in pairs(u) do c = c + 1 end
print(s, c)
