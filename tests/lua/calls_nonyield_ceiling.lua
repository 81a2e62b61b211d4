-- args: --budget 1000
-- Endless loops in code that cannot yield are stopped once they run far past the budget.
local function msg(ok, e) return not ok and type(e) == "string" and e:find("cycle budget exceeded in non%-yieldable code") end
-- a string.gsub callback
assert(msg(pcall(string.gsub, "a", "a", function() while true do end end)))
-- a __close method
assert(msg(pcall(function()
  local x <close> = setmetatable({}, {__close = function() while true do end end})
end)))
-- a __tostring method
assert(msg(pcall(tostring, setmetatable({}, {__tostring = function() while true do end end}))))
-- a load reader: load reports the error as nil and the message
local f, e = load(function() while true do end end)
assert(f == nil and msg(false, e))
-- a __gc method run by a full collection: the error is dropped as a warning and the program
-- goes on
local finalized = false
setmetatable({}, {__gc = function() finalized = true while true do end end})
collectgarbage()
assert(finalized)
-- a pcall inside the non-yieldable code catches the error, but the next instruction there
-- raises it again, so nothing after the inner pcall runs
local caught = 0
assert(msg(pcall(string.gsub, "ab", ".", function()
  local ok = pcall(function() while true do end end)
  if not ok then caught = caught + 1 end
  while true do end
end)))
assert(caught == 0)
-- yieldable code is never stopped that way: it just yields, slice after slice
local n = 0
for i = 1, 200000 do n = n + 1 end
assert(n == 200000)
print("ok")
