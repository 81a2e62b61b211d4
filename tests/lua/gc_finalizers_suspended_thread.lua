-- args: --budget 200000
-- heavy-allocation
-- More than the process's memory limit in garbage whose blocks only finalizers free: at the
-- end of a slice the kernel collects while this thread is suspended, and the finalizers run
-- then must leave the thread able to resume where it stopped.
collectgarbage("stop")
local function garbage()
  local t = {}
  for i = 1, 19 do t[i] = string.rep("x", 1000000) .. i end
end
garbage()
local n = 0
for i = 1, 1000000 do n = n + i end
assert(n == 500000500000)
assert(collectgarbage("count") < 25000, collectgarbage("count"))
collectgarbage("restart")
print("ok")
