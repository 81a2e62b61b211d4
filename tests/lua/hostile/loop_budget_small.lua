-- args: --frames 200 --budget 50 --cycles
-- expect-exit: 3
-- expect-stderr: stopped after 200 frames
-- max-booked: 51
-- Tiny slices: every slice is booked at most budget + 1, whatever the loop does.
local t = {}
while true do
  t[#t % 10 + 1] = tostring(#t) .. "x"
  local s = string.rep("ab", 3)
end
