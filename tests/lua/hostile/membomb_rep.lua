-- expect-exit: 1
-- expect-stderr: not enough memory|out of memory
-- max-rss-mb: 256
local s = "x"
while true do s = string.rep(s, 2) end
