-- expect-exit: 1
-- expect-stderr: not enough memory|out of memory
-- max-rss-mb: 256
local s = "xy"
while true do s = s .. s end
