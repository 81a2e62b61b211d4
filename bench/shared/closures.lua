-- Closures and upvalues.
-- small: 600000 => 50000
-- small: 300000 => 24000
local function counter()
  local n = 0
  return function(k) n = n + k; return n end
end
local total = 0
for i = 1, 600000 do
  local c = counter()
  for j = 1, 10 do total = total + c(j) end
end
local function compose(f, g) return function(x) return f(g(x)) end end
local inc = function(x) return x + 1 end
local h = inc
for _ = 1, 50 do h = compose(h, inc) end
local s = 0
for i = 1, 300000 do s = s + h(i) end
print(total, s)
