-- max-rss-mb: 256
-- debug.setlocal can overwrite a compiler temporary; the machine must notice, not trust it.
local ok, err = pcall(function()
  local t = {(function() debug.setlocal(2, 1, 42) end)(), 2}
  return t
end)
assert(not ok and err:find("attempt to index a number value"), err)
-- Overwriting the hidden state of loops is allowed and stays memory-safe.
local function clobber(value)
  for idx = 1, 50 do
    local name = debug.getlocal(2, idx)
    if not name then break end
    if name:find("^%(for state%)") then debug.setlocal(2, idx, value) end
  end
end
local n = 0
for i = 1, 10 do
  n = n + 1
  if i == 2 then clobber("x") end
  if n > 100 then break end
end
for _, value in ipairs({1.5, {}, print, math.mininteger}) do
  local m = 0
  pcall(function()
    for i = 10, 1, -3 do
      m = m + 1
      if m == 1 then clobber(value) end
      if m > 100 then break end
    end
  end)
end
local ok2 = pcall(function()
  for k, v in pairs({1, 2, 3}) do clobber(nil) end
end)
print("ok")
