-- Mandelbrot: float loops and bit operations.
-- small: N = 1200 => N = 240
local N = 1200
local iter = 50
local checksum = 0
for y = 0, N - 1 do
  local Ci = 2 * y / N - 1
  local bits, nbits = 0, 0
  for x = 0, N - 1 do
    local Cr = 2 * x / N - 1.5
    local Zr, Zi, Zrq, Ziq = 0.0, 0.0, 0.0, 0.0
    local inside = 1
    for _ = 1, iter do
      Zi = 2 * Zr * Zi + Ci
      Zr = Zrq - Ziq + Cr
      Zrq = Zr * Zr; Ziq = Zi * Zi
      if Zrq + Ziq > 4.0 then inside = 0; break end
    end
    bits = (bits << 1) | inside
    nbits = nbits + 1
    if nbits == 8 then checksum = (checksum * 31 + bits) % 1000000007; bits, nbits = 0, 0 end
  end
end
print(checksum)
