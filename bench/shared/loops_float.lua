-- Float arithmetic in tight loops.
-- small: 60000000 => 3000000
local x, y = 0.0, 1.0
for i = 1, 60000000 do
  x = x + y * 0.5
  y = y * 0.999999 + 0.000001
end
print(string.format("%.6f %.6f", x, y))
