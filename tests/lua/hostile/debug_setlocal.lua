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
-- Any value in any state register, integer and float loops alike: each register then holds
-- either the value written or a number the loop computed, never a forged object, and a full
-- collection walks the frame safely.
local function state(level) -- the first state register of the loop whose variable is "i"
  for idx = 1, 50 do
    if debug.getlocal(level + 1, idx) == "i" then return idx - 3 end
  end
end
local co = coroutine.create(function() end)
local hostile = table.pack({}, print, "x", co, vec(1, 2), true, false, nil, 7, 2.5,
  math.mininteger, 0 / 0)
for _, loop in ipairs({{1, 6, 1}, {6, 1, -1}, {0.5, 6.5, 1.0}, {6.5, 0.5, -1.0}}) do
  for slot = 0, 2 do
    for v = 1, hostile.n do
      local value = hostile[v]
      local m = 0
      for i = loop[1], loop[2], loop[3] do
        m = m + 1
        local base = state(1)
        if m == 1 then debug.setlocal(1, base + slot, value) end
        collectgarbage()
        for k = 0, 2 do
          local _, got = debug.getlocal(1, base + k)
          assert(math.type(got) or (k == slot and rawequal(got, value)))
        end
        if m == 4 then break end
      end
    end
  end
end
local ok2 = pcall(function()
  for k, v in pairs({1, 2, 3}) do clobber(nil) end
end)
print("ok")
