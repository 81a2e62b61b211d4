-- max-rss-mb: 256
-- Huge widths and sizes give their errors.
local function err_of(f, ...)
  local ok, e = pcall(f, ...)
  assert(not ok, "expected an error")
  return e
end
assert(err_of(string.format, "%999999999d", 1):find("invalid"))
assert(err_of(string.format, "%.999999999f", 1):find("invalid"))
assert(err_of(string.rep, "x", 1 << 40):find("resulting string too large"))
assert(err_of(string.rep, "abc", math.maxinteger):find("resulting string too large"))
print("ok")
