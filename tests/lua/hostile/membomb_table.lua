-- heavy-allocation
-- expect-exit: 1
-- expect-stderr: not enough memory|out of memory
-- max-rss-mb: 256
local t, i = {}, 0
while true do i = i + 1; t[i] = {i, tostring(i)} end
