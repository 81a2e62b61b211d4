-- Allocation-heavy trees: the collector at work.
-- small: maxdepth = 15 => maxdepth = 12
local function bottom_up(depth)
  if depth == 0 then return {} end
  depth = depth - 1
  return {bottom_up(depth), bottom_up(depth)}
end
local function check(tree)
  if tree[1] then return 1 + check(tree[1]) + check(tree[2]) end
  return 1
end
local maxdepth = 15
local long_lived = bottom_up(maxdepth)
for depth = 4, maxdepth, 2 do
  local iters = 1 << (maxdepth - depth + 4)
  local c = 0
  for _ = 1, iters do c = c + check(bottom_up(depth)) end
  print(iters, depth, c)
end
print(check(long_lived))
