-- expect-exit: 1
-- expect-stderr: cycle budget exceeded in non.yieldable code
-- max-rss-mb: 160
-- Code that cannot yield and starts much native work for few cycles is stopped at the same
-- ceiling as code that spends cycles: the native work past a frame's worth counts toward it.
local a = string.rep("x", 2 * 1024 * 1024)
local b = string.rep("x", 2 * 1024 * 1024 - 1) .. "x"
local sink
string.gsub("abc", "%w", function() while true do sink = a == b end end)
