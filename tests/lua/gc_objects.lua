-- Every kind of object survives collections while reachable and is freed when not, in both
-- modes: threads with open upvalues, closures, long and short strings, nested tables.
for _, mode in ipairs({"incremental", "generational"}) do
  collectgarbage(mode)
  local base

  -- a suspended coroutine dropped while a closure still shares one of its locals
  local get, set
  do
    local co = coroutine.create(function()
      local shared = "start"
      get = function() return shared end
      set = function(v) shared = v end
      coroutine.yield()
      shared = "never"
    end)
    coroutine.resume(co)
  end
  collectgarbage()
  collectgarbage()
  assert(get() == "start")
  set({"a table"})
  collectgarbage()
  assert(get()[1] == "a table")

  -- a running coroutine's own stack is kept
  local co = coroutine.wrap(function(...)
    local t = {...}
    collectgarbage()
    coroutine.yield(#t)
    collectgarbage()
    return t[1] .. t[#t]
  end)
  assert(co("x", "y", "z") == 3)
  assert(co() == "xz")

  -- strings: the table of short strings forgets dead ones, equal strings stay equal
  local keep = {}
  for i = 1, 1000 do keep[i] = "s" .. i end
  for i = 1, 2000 do local _ = "dropped" .. i end
  local long = string.rep("long string ", 100)
  collectgarbage()
  for i = 1, 1000 do assert(keep[i] == "s" .. i) end
  assert(long == string.rep("long string ", 100))

  -- deep and cyclic structures
  local root = {}
  local node = root
  for i = 1, 300 do node.next = {i = i, back = node}; node = node.next end
  collectgarbage()
  node = root
  for i = 1, 300 do node = node.next; assert(node.i == i and node.back.next == node) end

  -- garbage really goes
  collectgarbage()
  base = collectgarbage("count")
  do
    local big = {}
    for i = 1, 4000 do big[i] = {i, tostring(i)} end
  end
  collectgarbage()
  collectgarbage()
  assert(collectgarbage("count") < base + 64, collectgarbage("count") - base) -- string table growth

  -- metatables of tables are kept through the table only
  local mtgone = setmetatable({}, {__mode = "v"})
  do
    local mt = {__index = function() return 42 end}
    mtgone[1] = mt
    keep.obj = setmetatable({}, mt)
  end
  collectgarbage()
  assert(keep.obj.anything == 42 and mtgone[1] ~= nil)
  keep.obj = nil
  collectgarbage()
  assert(mtgone[1] == nil)

  keep = nil; root = nil; node = nil
end
collectgarbage("incremental")
print("ok")
