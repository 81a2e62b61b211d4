-- args: --frames 10 --cycles
-- expect-exit: 3
-- expect-stderr: stopped after 10 frames
-- max-booked: 279621
-- An endless loop in a metamethod reached from Lua code is yieldable: cut at every slice.
local t = setmetatable({}, {__index = function(t, k) while true do end end})
local x = t.anything
print("not reached")
