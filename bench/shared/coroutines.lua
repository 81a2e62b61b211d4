-- Coroutine switching.
local function gen(n)
  return coroutine.wrap(function()
    for i = 1, n do coroutine.yield(i) end
  end)
end
local s = 0
for v in gen(3000000) do s = s + v end
local co = coroutine.create(function(a)
  while true do a = coroutine.yield(a * 2) end
end)
local x = 0
for i = 1, 1500000 do
  local _, r = coroutine.resume(co, i)
  x = x + r
end
print(s, x)
