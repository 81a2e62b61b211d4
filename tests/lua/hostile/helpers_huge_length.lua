-- max-rss-mb: 256
-- The kernel's table helpers take the length from "__len", which may say anything. Positions
-- wrap around as table.insert's do, and a call stops with its argument error once it has
-- visited 2^26 elements, more than any table a process can hold.
local function len(n) return setmetatable({}, {__len = function() return n end}) end
local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok and err:find(msg, 1, true), err)
end

local t = len(math.maxinteger)
assert(count(t) == math.maxinteger)
fails("bad argument #1 to 'count' (too many elements)", count, t, 0)
fails("bad argument #2 to 'deli' (position out of bounds)", deli, t, 1)
assert(deli(t) == nil) -- the last element: nothing moves
assert(add(t, 1) == 1 and rawget(t, math.mininteger) == 1) -- the slot after the largest index
fails("bad argument #3 to 'add' (position out of bounds)", add, len(1 << 40), 0, 1)

t = len(math.mininteger)
fails("position out of bounds", add, t, 1, 0)
assert(add(t, 1, math.mininteger) == 1 and rawget(t, math.mininteger) == 1)
assert(count(t, 1) == 0 and del(t, 1) == nil and deli(t, 1) == nil)

fails("bad argument #1 to 'del' (too many elements)", del, len(1e9), "x")
print("ok")
