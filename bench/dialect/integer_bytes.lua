-- u8 surfaces: fill, copy and convert, the bitmap workload.
local w, h = 480, 270
local surf = userdata("u8", w, h)
local acc = 0
for frame = 1, 200 do
  surf:clear(frame & 15)
  local tile = userdata("u8", 16, 16)
  tile:add(frame)
  local wide = surf:convert("i32")
  acc += wide[frame % (w * h)] + #wide
end
? acc
