-- Finalizers run when the state closes, most recently marked first: the first object made
-- here is finalized last and prints the final "ok".
local log = {}
local last = setmetatable({}, {__gc = function()
  assert(#log == 3, #log)
  assert(log[1] == "third" and log[2] == "second" and log[3] == "first")
  print("ok")
end})
local function mk(name)
  return setmetatable({}, {__gc = function()
    log[#log + 1] = name
    -- calling the collector while the state is closing does nothing
    assert(collectgarbage() == 0)
    collectgarbage("step")
  end})
end
first = mk("first")
local second = mk("second")
local t = {third = mk("third")}
setmetatable({}, {__gc = function() error("dropped at close") end})
print("end of main chunk")
