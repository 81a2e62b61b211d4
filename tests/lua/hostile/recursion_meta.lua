-- expect-exit: 1
-- expect-stderr: stack overflow
-- max-rss-mb: 256
local t = setmetatable({}, {})
getmetatable(t).__index = function(t, k) return t[k] end
local x = t.x
