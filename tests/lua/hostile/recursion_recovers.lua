-- max-rss-mb: 256
-- Overflows are errors like any other: caught, and caught again.
local function f(n) return 1 + f(n + 1) end
for _ = 1, 3 do
  local ok, err = pcall(f, 1)
  assert(not ok and err:find("stack overflow"), err)
end
local t = setmetatable({}, {__index = function(t, k) return t[k] end})
for _ = 1, 2 do
  local ok, err = pcall(function() return t.x end)
  assert(not ok and err:find("stack overflow"), err)
end
print("ok")
