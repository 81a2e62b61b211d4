-- Integer arithmetic in tight loops.
-- small: 30000000 => 2400000
local s = 0
for i = 1, 30000000 do
  s = (s + i * 7) % 1000003
  s = s ~ (i & 255)
end
print(s)
