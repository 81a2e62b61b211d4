-- The peek operators over process memory, written through a typed userdata.
local bytes = userdata("u8", 65536)
for i = 0, 65535 do bytes[i] = i & 255 end
bytes:poke(0x10000)
local s = 0
for r = 1, 600 do
  for i = 0, 65535, 4 do
    s += @(0x10000 + i) + %(0x10000 + i) + $(0x10000 + i)
  end
end
? s
