-- The span walk of the element-wise family and the run walk of take, checked against a
-- direct model of their rules on many small seeded cases: clipping of negative starts per
-- operand, the end of the run at the first short span, per-run clipping in take.
math.randomseed(20261207)
local R = math.random
local function mk(t, n, lo, hi)
  local u = userdata(t, n)
  for i = 0, n - 1 do u[i] = R(lo, hi) end
  return u
end
local function tbl(u)
  local t = {}
  for i = 0, #u - 1 do t[i] = u[i] end
  return t
end

-- add over spans: a new copy (a read unchanged), in place (a read as written) and scalar
for iter = 1, 1500 do
  local na, nb = R(1, 12), R(1, 12)
  local a, b = mk("u8", na, 0, 255), mk("u8", nb, 0, 255)
  local useb, inplace = R(0, 1) == 1, R(0, 1) == 1
  local aoff, boff, len = R(-6, 14), R(-6, 14), R(-2, 14)
  local ast, bst, spans = R(-4, 6), R(-4, 6), R(-1, 5)
  local sc = R(0, 255)
  local A, B, D = tbl(a), tbl(b), tbl(a)
  for s = 0, spans - 1 do
    local sa, sb = aoff + s * ast, boff + s * bst
    local n = math.min(len, na - sa)
    if useb then n = math.min(n, nb - sb) end
    local ska = sa < 0 and -sa or 0
    local skb = (useb and sb < 0) and -sb or 0
    local count = n - 2 * ska - skb   -- a and the destination both skip
    if count > 0 then
      local pa, pb = sa + ska, sb + skb
      for i = 0, count - 1 do
        local x = inplace and D[pa + i] or A[pa + i]
        D[pa + i] = (x + (useb and B[pb + i] or sc)) % 256
      end
    end
    if count < len then break end
  end
  local r = a:add(useb and b or sc, inplace or nil, boff, aoff, len, bst, ast, spans)
  assert(inplace == (r == a))
  for i = 0, na - 1 do
    assert(r[i] == D[i], string.format("add case %d element %d: %d, expected %d", iter, i, r[i], D[i]))
  end
end

-- take into a given destination
for iter = 1, 1500 do
  local ns, ni, nd = R(1, 10), R(1, 8), R(1, 12)
  local src, idx, dest = mk("u8", ns, 1, 255), mk("i32", ni, -4, 12), mk("u8", nd, 1, 255)
  local ioff, doff, span = R(-3, 9), R(-4, 12), R(-1, 5)
  local ist, dst, count = R(1, 3), R(-3, 5), R(-2, 9)
  local S, D = tbl(src), tbl(dest)
  local avail = ni - ioff
  local n = avail <= 0 and 0 or (avail + ist - 1) // ist   -- usable index elements, rounded up
  if count >= 0 and count < n then n = count end           -- a negative count sets no limit
  for i = 0, n - 1 do
    local j = ioff + i * ist
    if j >= 0 and j < ni then
      local k, p = idx[j], doff + i * dst
      local len = math.min(span, ns - k, nd - p) + math.min(p, 0) + math.min(k, 0)
      for t = 0, len - 1 do D[math.max(p, 0) + t] = S[math.max(k, 0) + t] end
    end
  end
  assert(src:take(idx, dest, ioff, doff, span, ist, dst, count) == dest)
  for i = 0, nd - 1 do
    assert(dest[i] == D[i], string.format("take case %d element %d: %d, expected %d", iter, i, dest[i], D[i]))
  end
end
print("ok")
