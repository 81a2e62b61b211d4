-- Every instruction costs cycles; when a slice's budget is spent the program is paused and
-- resumed in the next frame. Inside a coroutine, the resume that was cut short returns with no
-- values, so the scheduler below simply keeps resuming until each worker says it is done.
-- Run with: halvoran --cycles examples/budget.lua
local function work(n)
  local s = 0
  for i = 1, n do s += i % 7 end
  return s
end
local workers = {}
for id = 1, 3 do
  workers[id] = coroutine.wrap(function()
    local total = 0
    for round = 1, 4 do
      total += work(50000)
      coroutine.yield(round)
    end
    return "done", total
  end)
end
local left = 3
while left > 0 do
  for id = 1, 3 do
    if workers[id] then
      local what, total = workers[id]()
      if what == "done" then
        ? "worker", id, "finished with", total
        workers[id] = nil
        left -= 1
      end
    end
  end
end
? "this process used", stat(0), "bytes of memory"
