-- Typed userdata element-wise operations against the same work done with tables.
local N = 100000
local a, b = userdata("f64", N), userdata("f64", N)
local ta, tb = {}, {}
for i = 0, N - 1 do
  a[i] = i * 0.5; b[i] = (N - i) * 0.25
  ta[i + 1] = i * 0.5; tb[i + 1] = (N - i) * 0.25
end
local s1 = 0
for r = 1, 100 do
  local c = a + b
  c = c * 2.0
  s1 = s1 + c[r]
end
local s2 = 0
for r = 1, 20 do
  local c = {}
  for i = 1, N do c[i] = (ta[i] + tb[i]) * 2.0 end
  s2 = s2 + c[r]
end
? s1, s2
