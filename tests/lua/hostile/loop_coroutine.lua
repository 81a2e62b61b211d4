-- args: --frames 20 --cycles
-- expect-exit: 3
-- expect-stderr: stopped after 20 frames
-- max-booked: 279621
-- max-rss-mb: 256
-- An endless loop inside a coroutine is cut at every slice like any other.
local co = coroutine.wrap(function()
  local n = 0
  while true do n = n + 1 end
end)
while true do co() end
