-- The table library: concat, insert, remove, move, pack, unpack (and no sort).

local src = debug.getinfo(1, "S").short_src

local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok, "no error, expected: " .. msg)
  if err ~= msg then
    error(string.format("\n  got      %q\n  expected %q", tostring(err), msg), 2)
  end
end

local function same(a, b)
  if #a ~= #b then return false end
  for i = 1, #a do if a[i] ~= b[i] then return false end end
  return true
end

do
  local names = {}
  for k in pairs(table) do names[#names + 1] = k end
  assert(#names == 6 and table.sort == nil)
end

-- concat
assert(table.concat({1, "a", 2.5}, "-") == "1-a-2.5")
assert(table.concat({}) == "" and table.concat({}, "x", 5, 4) == "")
assert(table.concat({"a", "b", "c"}) == "abc")
assert(table.concat({"a", "b", "c"}, ", ", 2) == "b, c")
assert(table.concat({"a", "b", "c"}, ", ", 2, 2) == "b")
assert(table.concat({"a", "b", "c"}, 0, 1, 3) == "a0b0c")
assert(table.concat({[-1] = "m", [0] = "z", [1] = "o"}, "", -1, 1) == "mzo")
fails("invalid value (table) at index 2 in table for 'concat'", table.concat, {1, {}, 3})
fails("invalid value (nil) at index 3 in table for 'concat'", table.concat, {1, 2}, "", 1, 3)
fails("invalid value (boolean) at index 1 in table for 'concat'", table.concat, {true})
fails(src .. ":37: invalid value (table) at index 1 in table for 'concat'", function()
  return table.concat({{}})
end)
fails("bad argument #1 to 'table.concat' (table expected, got no value)", table.concat)
fails("bad argument #2 to 'table.concat' (string expected, got table)", table.concat, {}, {})
fails("bad argument #3 to 'table.concat' (number expected, got table)", table.concat, {}, "", {})
-- long results go through the buffer's growth
do
  local parts = {}
  for i = 1, 3000 do parts[i] = string.rep("x", i % 7) .. i end
  local s = table.concat(parts, ",")
  local n = 0
  for _ in s:gmatch("[^,]+") do n = n + 1 end
  assert(n == 3000 and s:sub(1, 3) == "x1,")
end
-- an error once the buffer has moved to its box
do
  local big = {string.rep("x", 3000), string.rep("y", 3000), {}}
  fails("invalid value (table) at index 3 in table for 'concat'", table.concat, big)
  for _ = 1, 3 do assert(not pcall(table.concat, big, string.rep("-", 5000))) end
  collectgarbage()
  assert(#table.concat(big, "", 1, 2) == 6000)
end
-- __index and __len apply
do
  local proxy = setmetatable({}, {__index = function(_, i) return "v" .. i end,
                                  __len = function() return 3 end})
  assert(table.concat(proxy, "|") == "v1|v2|v3")
end

-- insert
do
  local t = {1, 2, 3}
  table.insert(t, 4)
  assert(same(t, {1, 2, 3, 4}))
  table.insert(t, 1, 0)
  assert(same(t, {0, 1, 2, 3, 4}))
  table.insert(t, 3, "m")
  assert(same(t, {0, 1, "m", 2, 3, 4}))
  table.insert(t, #t + 1, "end")
  assert(t[7] == "end" and #t == 7)
  assert(select("#", table.insert(t, 1)) == 0)
  fails("bad argument #2 to 'table.insert' (position out of bounds)", table.insert, t, 0, "x")
  fails("bad argument #2 to 'table.insert' (position out of bounds)", table.insert, t, #t + 2, "x")
  fails("bad argument #2 to 'table.insert' (position out of bounds)", table.insert, {}, -1, "x")
  fails("wrong number of arguments to 'insert'", table.insert, t)
  fails("wrong number of arguments to 'insert'", table.insert, t, 1, 2, 3)
  fails(src .. ":83: wrong number of arguments to 'insert'", function() table.insert({}) end)
  fails("bad argument #2 to 'table.insert' (number expected, got string)", table.insert, t, "x", 1)
  fails("bad argument #1 to 'table.insert' (table expected, got nil)", table.insert, nil, 1)
  fails(src .. ":87: bad argument #2 to 'insert' (position out of bounds)", function()
    table.insert({}, 5, 1)
  end)
  local e = {}
  table.insert(e, 1, "only")
  assert(e[1] == "only")
end

-- remove
do
  local t = {1, 2, 3, 4}
  assert(table.remove(t) == 4 and same(t, {1, 2, 3}))
  assert(table.remove(t, 1) == 1 and same(t, {2, 3}))
  assert(table.remove(t, #t + 1) == nil and same(t, {2, 3}))
  assert(table.remove({}) == nil and table.remove({}, 0) == nil and table.remove({}, 1) == nil)
  assert(select("#", table.remove({})) == 1)
  fails("bad argument #2 to 'table.remove' (position out of bounds)", table.remove, {1, 2}, 5)
  fails("bad argument #2 to 'table.remove' (position out of bounds)", table.remove, {1, 2}, 0)
  fails("bad argument #2 to 'table.remove' (position out of bounds)", table.remove, {}, -1)
  fails(src .. ":106: bad argument #2 to 'remove' (position out of bounds)", function()
    table.remove({1}, 3)
  end)
  -- with #t == 0, position 0 reads t[0] and clears it
  local z = {[0] = "zero"}
  assert(table.remove(z, 0) == "zero" and z[0] == nil)
  -- a border given by __len
  local log = {}
  local p = setmetatable({}, {__len = function() return 2 end,
                              __index = function(_, k) return "i" .. k end,
                              __newindex = function(_, k, v) log[#log + 1] = k .. "=" .. tostring(v) end})
  assert(table.remove(p, 1) == "i1")
  assert(table.concat(log, " ") == "1=i2 2=nil", table.concat(log, " "))
end

-- move
do
  assert(same(table.move({1, 2, 3}, 1, 3, 2), {1, 1, 2, 3}))
  assert(same(table.move({1, 2, 3}, 2, 3, 1), {2, 3, 3}))
  local a, b = {1, 2, 3}, {}
  assert(table.move(a, 1, 3, 1, b) == b and same(b, {1, 2, 3}))
  assert(table.move(a, 1, 0, 5) == a and same(a, {1, 2, 3})) -- empty range
  b = {"x", "y"}
  assert(same(table.move({1, 2}, 1, 2, 2, b), {"x", 1, 2}))
  -- overlapping range into the same table given as a2: copies backwards too
  a = {1, 2, 3, 4}
  assert(same(table.move(a, 1, 3, 2, a), {1, 1, 2, 3}))
  fails("bad argument #3 to 'table.move' (too many elements to move)", table.move, {}, -1,
        math.maxinteger, 1)
  fails("bad argument #4 to 'table.move' (destination wrap around)", table.move, {}, 1, 2,
        math.maxinteger)
  fails("bad argument #2 to 'table.move' (number expected, got no value)", table.move, {})
  fails("bad argument #1 to 'table.move' (table expected, got number)", table.move, 1, 1, 1, 1)
  fails("bad argument #5 to 'table.move' (table expected, got number)", table.move, {}, 1, 1, 1, 5)
  -- the largest ranges that are allowed
  local big = table.move({[math.maxinteger] = "last"}, math.maxinteger, math.maxinteger, 1)
  assert(big[1] == "last")
end

-- pack / unpack
do
  local t = table.pack()
  assert(t.n == 0 and next(t) == "n")
  t = table.pack(1, nil, 3)
  assert(t.n == 3 and t[1] == 1 and t[2] == nil and t[3] == 3)
  assert(select("#", table.unpack({1, 2, 3})) == 3)
  local a, b, c = table.unpack({1, 2, 3})
  assert(a == 1 and b == 2 and c == 3)
  assert(select("#", table.unpack({}, 3, 2)) == 0)
  assert(select("#", table.unpack({}, 1, 3)) == 3)
  assert(select("#", table.unpack({1, 2, 3}, 2)) == 2)
  assert(select("#", table.unpack({1, 2, 3}, -1, 1)) == 3)
  assert(select("#", table.unpack({}, math.maxinteger, math.maxinteger)) == 1)
  assert(select("#", table.unpack({}, math.mininteger, math.mininteger)) == 1)
  assert(select("#", table.unpack({}, math.maxinteger, math.mininteger)) == 0)
  fails("too many results to unpack", table.unpack, {}, 1, 1e7)
  fails("too many results to unpack", table.unpack, {}, math.mininteger, math.maxinteger)
  fails("too many results to unpack", table.unpack, {}, 0, math.maxinteger)
  fails("bad argument #2 to 'table.unpack' (number has no integer representation)",
        table.unpack, {}, 1.5)
  -- no table check: anything indexable works
  local proxy = setmetatable({}, {__index = function(_, i) return i * 10 end,
                                  __len = function() return 2 end})
  a, b = table.unpack(proxy)
  assert(a == 10 and b == 20)
  assert(table.unpack("abc", 1, 1) == nil) -- strings index their methods: nil
  fails("attempt to get length of a number value", table.unpack, 1)
end

-- the table check reads the metatable's fields raw and needs every access asked for
do
  -- strings have __index only: enough to be a move source, not to be concatenated
  fails("bad argument #1 to 'table.concat' (table expected, got string)", table.concat, "abc")
  local dest = table.move("abc", 1, 2, 1, {"keep", "keep", "keep"})
  assert(dest[1] == nil and dest[2] == nil and dest[3] == "keep")
  fails("bad argument #5 to 'table.move' (table expected, got string)", table.move, {}, 1, 1, 1, "s")
  -- numbers given a metatable through the debug library
  local log = {}
  local full = {__index = function(n, i) return n * i end,
                __newindex = function(n, k, v) log[#log + 1] = k .. "=" .. tostring(v) end,
                __len = function(n) return n end}
  debug.setmetatable(0, full)
  assert(table.concat(3, ",") == "3,6,9")
  table.insert(3, "x")
  table.insert(2, 1, "y")
  assert(table.concat(log, " ") == "4=x 3=4 2=2 1=y", table.concat(log, " "))
  assert(table.remove(2) == 4)
  local a, b = table.unpack(2)
  assert(a == 2 and b == 4)
  -- fields that are only inherited through the metatable's own __index do not count
  debug.setmetatable(0, setmetatable({}, {__index = full}))
  fails("bad argument #1 to 'table.concat' (table expected, got number)", table.concat, 3)
  fails("bad argument #1 to 'table.insert' (table expected, got number)", table.insert, 3, 1)
  -- a missing __len is enough to refuse insert and remove
  debug.setmetatable(0, {__index = full.__index, __newindex = full.__newindex})
  fails("bad argument #1 to 'table.remove' (table expected, got number)", table.remove, 3)
  assert(table.move(3, 1, 2, 1, {})[2] == 6) -- reading needs __index only
  table.move({7}, 1, 1, 9, 4) -- writing needs __newindex only
  assert(log[#log] == "9=7")
  debug.setmetatable(0, nil)
  fails("bad argument #1 to 'table.insert' (table expected, got number)", table.insert, 1, 2)
end

print("ok")
