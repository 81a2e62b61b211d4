-- Every instruction costs cycles; when a slice's budget is spent the program is paused and
-- resumed in the next frame, invisibly. Run with: halvoran --cycles examples/budget.lua
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
for round = 1, 5 do
  for id = 1, 3 do
    local a, b = workers[id]()
    if (a == "done") ? "worker", id, "finished with", b
  end
end
? "this process used", stat(0), "bytes of memory"
