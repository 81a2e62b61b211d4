-- expect-exit: 1
-- expect-stderr: cycle budget exceeded in non.yieldable code
-- max-rss-mb: 256
-- tostring calls __tostring without a way to yield: an endless loop there is stopped.
local t = setmetatable({}, {__tostring = function() while true do end end})
print(tostring(t))
