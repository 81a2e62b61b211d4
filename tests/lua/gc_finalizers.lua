-- Finalizers: run once, in reverse order of marking, errors dropped, resurrection, and calls
-- into the collector from inside a finalizer.
for _, mode in ipairs({"incremental", "generational"}) do
  collectgarbage(mode)

  -- once each, in reverse order of being marked for finalization
  local order = {}
  local function mk(name)
    return setmetatable({name = name}, {__gc = function(o) order[#order + 1] = o.name end})
  end
  do local a, b, c = mk("a"), mk("b"), mk("c") end
  collectgarbage()
  collectgarbage()
  assert(table.concat(order, ",") == "c,b,a", table.concat(order, ","))

  -- marking happens at setmetatable: a metatable that gets __gc later does not count
  local ran = false
  do
    local mt = {}
    local _ = setmetatable({}, mt)
    mt.__gc = function() ran = true end
  end
  collectgarbage()
  assert(not ran)

  -- an error in a finalizer is dropped and the other finalizers still run
  local after = 0
  setmetatable({}, {__gc = function() after = after + 1 end})
  setmetatable({}, {__gc = function() error("boom") end})
  setmetatable({}, {__gc = function() after = after + 1 end})
  collectgarbage()
  assert(after == 2)

  -- a non-function __gc is looked up again at finalization and ignored when absent
  local mt = {__gc = true}
  setmetatable({}, mt)
  mt.__gc = nil
  collectgarbage()

  -- resurrection: the object stays usable and is not finalized again...
  local count = 0
  saved = nil
  do
    local o = setmetatable({data = {1, 2, 3}, name = "phoenix"}, {
      __gc = function(o) count = count + 1; saved = o end,
      __index = {hello = function(self) return "hello " .. self.name end}})
  end
  collectgarbage()
  assert(count == 1 and saved and saved.name == "phoenix")
  collectgarbage()
  collectgarbage()
  assert(saved:hello() == "hello phoenix" and saved.data[3] == 3)
  saved.data[4] = {4}
  collectgarbage()
  assert(saved.data[4][1] == 4 and count == 1)
  -- ... unless its metatable is set again
  setmetatable(saved, getmetatable(saved))
  saved = nil
  collectgarbage()
  assert(count == 2)
  saved = nil
  collectgarbage()
  assert(count == 2)

  -- objects reachable only from a finalized object stay alive for its finalizer
  local got
  do
    local inner = {value = "inner"}
    setmetatable({inner = inner}, {__gc = function(o) got = o.inner.value end})
  end
  collectgarbage()
  assert(got == "inner")

  -- collector calls inside a finalizer do nothing harmful, and nothing runs twice
  local runs = {}
  local results = {}
  for i = 1, 5 do
    setmetatable({}, {__gc = function()
      runs[i] = (runs[i] or 0) + 1
      results[#results + 1] = collectgarbage()
      collectgarbage("step")
      collectgarbage("step", 100)
      collectgarbage("generational")
      collectgarbage("incremental")
      collectgarbage("stop")
      collectgarbage("restart")
      local _ = {}, collectgarbage("count")
    end})
  end
  collectgarbage()
  collectgarbage()
  for i = 1, 5 do assert(runs[i] == 1, i) end
  for _, r in ipairs(results) do assert(r == 0) end
  assert(collectgarbage("isrunning"))

  -- finalizers also run when the collector gets to them on its own
  local auto = 0
  for i = 1, 2000 do setmetatable({}, {__gc = function() auto = auto + 1 end}) end
  for i = 1, 200000 do local _ = {i} end
  collectgarbage()
  assert(auto == 2000, auto)
end
collectgarbage("incremental")
print("ok")
