-- args: --frames 20 --cycles
-- expect-exit: 3
-- expect-stderr: stopped after 20 frames
-- max-booked: 279621
-- max-rss-mb: 256
-- An endless loop at top level is cut at every slice until --frames stops it.
local i = 0
while true do i = i + 1 end
