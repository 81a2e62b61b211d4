-- The kernel's globals as a process sees them.

-- _yielded_to_escape_slice: exactly one number argument sets the flag and returns nothing;
-- any other call reports it.
assert(_yielded_to_escape_slice() == false)
assert(select("#", _yielded_to_escape_slice(1)) == 0)
assert(_yielded_to_escape_slice() == true)
assert(select("#", _yielded_to_escape_slice(0)) == 0)
assert(_yielded_to_escape_slice() == false)
_yielded_to_escape_slice(2.5) -- no exact integer value: counts as 0
assert(_yielded_to_escape_slice() == false)
_yielded_to_escape_slice(-3.0)
assert(_yielded_to_escape_slice() == true)
assert(select("#", _yielded_to_escape_slice(1, 2)) == 1) -- two arguments: a query
assert(select("#", _yielded_to_escape_slice("1")) == 1)  -- a string is not a number
assert(_yielded_to_escape_slice(nil) == true)
_yielded_to_escape_slice(0)
-- Each thread has its own flag.
local co = coroutine.wrap(function()
  assert(_yielded_to_escape_slice() == false)
  _yielded_to_escape_slice(1)
  return _yielded_to_escape_slice()
end)
assert(co() == true)
assert(_yielded_to_escape_slice() == false)

-- stat: 0 is the process's memory figure plus 0x80000, 3 the collector's count in bytes.
local m = stat(0)
assert(math.type(m) == "integer" and m > 0x80000)
local big = {}
for i = 1, 10000 do big[i] = i end
assert(stat(0) > m + 10000 * 16 - 1)
big = nil
local c = stat(3)
assert(math.type(c) == "integer")
assert(c == collectgarbage("count") * 1024 // 1 or math.abs(c - collectgarbage("count") * 1024) < 4096)
assert(select("#", stat(1)) == 0)
assert(select("#", _signal(38)) == 0)

-- _run_process_slice on a process that does not exist (or on ourselves) reports it done.
assert(_run_process_slice(999) == true)

-- The table helpers.
local t = {}
assert(add(t, "a") == "a")
assert(add(t, "c") == "c")
assert(add(t, "b", 2) == "b")
assert(table.concat(t) == "abc")
assert(count(t) == 3)
add(t, "a")
assert(count(t, "a") == 2 and count(t, "z") == 0)
assert(del(t, "a") == "a")
assert(table.concat(t) == "bca")
assert(del(t, "zzz") == nil and #t == 3)
assert(deli(t) == "a" and table.concat(t) == "bc")
assert(deli(t, 1) == "b" and table.concat(t) == "c")
assert(deli(t, 5) == nil and #t == 1)
assert(deli(t, 1) == "c" and #t == 0)
assert(deli(t) == nil)
assert(add(t, nil) == nil and #t == 0)
local ok, err = pcall(add, 5, 1)
assert(not ok and err:find("bad argument #1 to 'add' %(table expected, got number%)"), err)
ok, err = pcall(count, "x")
assert(not ok and err:find("table expected"), err)
ok, err = pcall(add, {}, 1, 5)
assert(not ok and err:find("position out of bounds"), err)
-- A value whose metatable gives the three table events is accepted.
local store = {}
local proxy = setmetatable({}, {
  __index = function(_, k) return store[k] end,
  __newindex = function(_, k, v) store[k] = v end,
  __len = function() return #store end,
})
add(proxy, 10)
add(proxy, 20)
assert(count(proxy) == 2 and store[2] == 20)

-- load is the kernel's, over the base library's loader.
assert(load("return 1 + 1")() == 2)
local f, msg = load("return +")
assert(f == nil and msg:find("^:1:"), msg)
assert(not pcall(load)) -- argument errors raise
assert(load("return 7")() == 7) -- the nesting counter went back after the error

print("ok")
