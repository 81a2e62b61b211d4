-- The peek operators and poke over process memory.
for i = 0, 65535 do poke(0x10000 + i, i & 255) end
local s = 0
for r = 1, 40 do
  for i = 0, 65535, 4 do
    s += @(0x10000 + i) + %(0x10000 + i) + $(0x10000 + i)
  end
end
? s
