-- heavy-allocation
-- max-rss-mb: 256
-- Allocating far more than the limit is fine when the excess is garbage.
local total = 0
for i = 1, 200000 do
  local t = {i, i + 1, tostring(i) .. "abcdefghijklmnopqrstuvwxyz"}
  total = total + #t
end
assert(total == 600000)
print("ok")
