-- max-rss-mb: 256
-- Allocating and dropping 100 MB of tables, strings and closures in the default (incremental)
-- mode runs to the end with the live memory staying small.
assert(collectgarbage("isrunning"))
local allocated, peak, i = 0, 0, 0
local keep = {}
while allocated < 100 * 1024 * 1024 do
  i = i + 1
  local t = {i, i + 1, i + 2, x = i}
  local s = "churn" .. i .. string.rep("x", i % 64)
  local f = function() return t, s end
  -- table 56 + array 48 + node 24, string len+25, closure 48 + two upvalues 80
  allocated = allocated + 128 + #s + 25 + 128
  if i % 997 == 0 then
    keep[i % 10 + 1] = f -- a few survive for a while
    local c = collectgarbage("count")
    if c > peak then peak = c end
  end
end
assert(peak < 8 * 1024, "peak " .. peak .. " KB")
assert(select(2, keep[1]()) ~= nil or true)
assert(collectgarbage("incremental") == "incremental")
print("ok")
