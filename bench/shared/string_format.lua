-- string.format and the pattern functions.
-- small: 400000 => 32000
-- small: 20000 => 1600
local count, total = 0, 0
for i = 1, 400000 do
  local s = string.format("%d:%05.2f:%s:%x", i, i / 7, "k" .. (i % 13), i)
  local a, b = s:match("^(%d+):([%d%.]+)")
  total = total + tonumber(a) + math.floor(tonumber(b))
  if s:find("k1", 1, true) then count = count + 1 end
end
local text = string.rep("the quick brown fox jumps over the lazy dog ", 20000)
local words = 0
for w in text:gmatch("%a+") do words = words + 1 end
local replaced = text:gsub("o", "0")
print(count, total, words, #replaced)
