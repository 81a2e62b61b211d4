-- expect-exit: 1
-- expect-stderr: cycle budget exceeded in non.yieldable code
-- max-rss-mb: 256
do
  local x <close> = setmetatable({}, {__close = function() while true do end end})
end
