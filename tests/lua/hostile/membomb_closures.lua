-- heavy-allocation
-- expect-exit: 1
-- expect-stderr: not enough memory|out of memory
-- max-rss-mb: 256
local keep = {}
local i = 0
while true do
  i = i + 1
  local a, b = i, i * 2
  keep[i] = function() return a + b end
end
