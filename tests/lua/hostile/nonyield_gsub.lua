-- expect-exit: 1
-- expect-stderr: cycle budget exceeded in non.yieldable code
-- max-rss-mb: 256
string.gsub("abc", "%w", function(c) while true do end end)
