-- expect-exit: 1
-- expect-stderr: stack overflow
-- max-rss-mb: 256
local function f(n) return 1 + f(n + 1) end
f(1)
