-- args: --budget 1000000000
-- Stack overflows caught near the limit of the stack.

-- A stack overflow caught by a pcall near the stack limit: the thread goes on, and a later
-- overflow is reported as a stack overflow again (not as an error in the error handling).
do
  local function over() return 1 + over() end
  local function g(n)
    if n == 0 then return pcall(over) end
    return (g(n - 1))
  end
  -- the deepest g whose own frames still fit
  local lo, hi = 1, 1 << 20
  while lo < hi do
    local mid = (lo + hi + 1) // 2
    if pcall(g, mid) then lo = mid else hi = mid - 1 end
  end
  for n = lo - 40, lo do
    pcall(g, n) -- near the limit g's own frames may overflow too
    local ok2, e = pcall(over)
    assert(not ok2 and type(e) == "string" and e:find("stack overflow") and
           not e:find("error in error handling"), e)
  end
end

print("ok")
