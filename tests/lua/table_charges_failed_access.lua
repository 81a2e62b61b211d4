-- args: --cycles
-- expect-stderr: spend=7 slices
-- A charge comes once the work is done: an element access that fails midway charges nothing,
-- and what was moved before the failure stays moved.
local store = {1, 2, 3, 4, 5}
local failr, failw
local proxy = setmetatable({}, {
  __index = function(_, k) if k == failr then error("read " .. k, 0) end return store[k] end,
  __newindex = function(_, k, v) if k == failw then error("write " .. k, 0) end store[k] = v end,
  __len = function() return #store end})

failr = 3 -- insert at 1 moves 5 and 4 up, then fails reading 3
local ok, e = pcall(table.insert, proxy, 1, "x")
assert(not ok and e == "read 3", e)
assert(table.concat(store, ",") == "1,2,3,4,4,5")

failr = 4 -- remove at 1 moves 2 and 3 down, then fails reading 4
ok, e = pcall(table.remove, proxy, 1)
assert(not ok and e == "read 4", e)
assert(table.concat(store, ",") == "2,3,3,4,4,5")

failr = 5 -- unpack fails before pushing the fifth value
ok, e = pcall(table.unpack, proxy)
assert(not ok and e == "read 5", e)

failr, failw = nil, 6 -- remove at 1 moves all down, then fails clearing slot 6
ok, e = pcall(table.remove, proxy, 1)
assert(not ok and e == "write 6", e)
assert(table.concat(store, ",") == "3,3,4,4,5,5")

failw = nil
assert(select("#", table.unpack(proxy, 1, 3)) == 3) -- 6
table.insert(proxy, #store + 1, "y")                -- nothing moves: 1
assert(store[7] == "y")
print("ok")
