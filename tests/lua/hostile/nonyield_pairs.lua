-- expect-exit: 1
-- expect-stderr: cycle budget exceeded in non.yieldable code
-- max-rss-mb: 256
local t = setmetatable({}, {__pairs = function() while true do end end})
for k, v in pairs(t) do end
