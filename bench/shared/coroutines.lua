-- Coroutine switching. (A slice that ends inside a coroutine makes resume return true alone,
-- so the loops below take what each resume gives and go on.)
-- small: 3000000 => 300000
-- small: 1500000 => 150000
local gen = coroutine.wrap(function()
  for i = 1, 3000000 do coroutine.yield(i) end
  return "end"
end)
local s = 0
while true do
  local v = gen()
  if v == "end" then break end
  if v then s = s + v end
end
local co = coroutine.create(function(a)
  while true do a = coroutine.yield(a * 2) end
end)
local x, i = 0, 0
while i < 1500000 do
  i = i + 1
  local _, r = coroutine.resume(co, i)
  if r then x = x + r else i = i - 1 end
end
print(s, x)
