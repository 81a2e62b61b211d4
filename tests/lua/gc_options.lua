-- collectgarbage options and their results; "count" is in bytes the engine requested.
collectgarbage()
collectgarbage("stop")
assert(collectgarbage("isrunning") == false)

-- warm up the call path so that only the objects below are counted
local c0 = collectgarbage("count")
c0 = collectgarbage("count")
local t = {}
local c1 = collectgarbage("count")
assert((c1 - c0) * 1024 == 56, (c1 - c0) * 1024)
local f = function() end
local c2 = collectgarbage("count")
assert((c2 - c1) * 1024 == 32, (c2 - c1) * 1024)
local s = "a string of 31 characters......"
local s2 = s .. "!"
local c3 = collectgarbage("count")
assert((c3 - c2) * 1024 == #s2 + 25, (c3 - c2) * 1024)
assert(math.type(collectgarbage("count")) == "float")

-- stopped: nothing is collected however much is allocated
local before = collectgarbage("count")
for i = 1, 1000 do local _ = {} end
assert(collectgarbage("count") >= before + 1000 * 56 / 1024)
collectgarbage("restart")
assert(collectgarbage("isrunning") == true)

-- a full collection frees the garbage
collectgarbage()
local after = collectgarbage("count")
assert(after < before + 10, after .. " " .. before)

-- pause and step multiplier are kept as a quarter in one byte
assert(collectgarbage("setpause", 107) == 200)
assert(collectgarbage("setpause", 200) == 104)
assert(collectgarbage("setstepmul", 1100) == 100)
assert(collectgarbage("setstepmul", 100) == 76)
assert(collectgarbage("setstepmul", 100) == 100)

-- while stopped the debt keeps growing: a later "step" pays for all of it (a whole cycle here)
collectgarbage()
collectgarbage("stop")
local grown = {}
for i = 1, 4000 do grown[i] = {} end
assert(collectgarbage("step", 1) == true)
assert(collectgarbage("isrunning") == false)
collectgarbage("restart")
grown = nil

-- "step" with 0 runs one basic step; steps eventually end a cycle
local ended = false
for i = 1, 10000 do
  if collectgarbage("step") then ended = true; break end
end
assert(ended)
assert(collectgarbage("step", 1000000) == true) -- a big step finishes a whole cycle

-- the mode switches answer the previous mode
assert(collectgarbage("generational") == "incremental")
assert(collectgarbage("generational") == "generational")
for i = 1, 100 do local _ = {i} end
assert(collectgarbage("step") ~= nil)
collectgarbage()
assert(collectgarbage("incremental") == "generational")
assert(collectgarbage("incremental") == "incremental")
assert(collectgarbage("incremental", 200, 100, 13) == "incremental")

-- objects survive collections in both modes
local keep = {}
for i = 1, 100 do keep[i] = {tostring(i)} end
collectgarbage()
collectgarbage("generational")
for i = 1, 10000 do local _ = {i} end
collectgarbage("step")
collectgarbage()
collectgarbage("incremental")
for i = 1, 100 do assert(keep[i][1] == tostring(i)) end
assert(t and f and s)
print("ok")
