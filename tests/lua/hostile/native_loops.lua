-- max-rss-mb: 256
-- Library loops run inside one native call, out of reach of the cycle budget, over ranges that
-- the arguments or "__len" make up. A call stops with its argument error once it has visited
-- 2^26 elements, more than any table a process can hold; what it did before stays done.
local function len(n) return setmetatable({}, {__len = function() return n end}) end
local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok and err:find(msg, 1, true), err)
end

-- table.move makes the Part's two range checks only; the destination sees the first write.
local function refuse() error("no writes here") end
fails("no writes here", table.move, {}, 1, (1 << 26) + 1, 1, setmetatable({}, {__newindex = refuse}))
fails("no writes here", table.move, {}, -(1 << 40), 1 << 40, 1, setmetatable({}, {__newindex = refuse}))
fails("#3 to 'table.move' (too many elements to move)", table.move, {}, math.mininteger, -1, 1)
fails("#4 to 'table.move' (destination wrap around)", table.move, {}, 1, 10, math.maxinteger)
fails("too many elements to move", table.move, {}, 1, 1 << 40, 2) -- copies backwards
local src, dst = {1, 2, 3}, {}
fails("#3 to 'table.move' (too many elements to move)", table.move, src, 1, 1 << 40, 1, dst)
assert(dst[1] == 1 and dst[3] == 3)

-- insert and remove over a length no table has.
fails("#2 to 'table.remove' (position out of bounds)", table.remove, len(math.maxinteger), 1)
fails("#2 to 'table.insert' (position out of bounds)", table.insert, len(1 << 40), 1, 0)

-- Ordinary calls are unaffected.
local t = table.move({1, 2, 3}, 1, 3, 2)
assert(t[1] == 1 and t[2] == 1 and t[3] == 2 and t[4] == 3)
local big = {}
for i = 1, 100000 do big[i] = i end
assert(#table.move(big, 1, 100000, 1, {}) == 100000)
table.insert(big, 1, 0)
assert(big[1] == 0 and big[100001] == 100000 and table.remove(big, 1) == 0 and #big == 100000)
assert(#table.concat(big, ",") == 588894)
print("ok")
