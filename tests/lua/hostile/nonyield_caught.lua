-- max-rss-mb: 256
-- The non-yieldable ceiling is an ordinary error: pcall catches it and the program goes on.
local t = setmetatable({}, {__tostring = function() while true do end end})
local ok, err = pcall(tostring, t)
assert(not ok and err:find("cycle budget exceeded in non%-yieldable code"), err)
local n = 0
for i = 1, 1000 do n = n + i end
assert(n == 500500)
print("ok")
