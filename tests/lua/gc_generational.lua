-- Generational mode: old objects that receive young ones through every kind of store keep
-- them across many minor collections.
collectgarbage("generational")
collectgarbage("setpause", 200)

local oldt = {}
local oldmeta = {}
local holder = setmetatable({}, oldmeta)
local upv = nil
local function getupv() return upv end
local function setupv(v) upv = v end
local weakv = setmetatable({}, {__mode = "v"})
local ephem = setmetatable({}, {__mode = "k"})
local oldkeys = {}
for i = 1, 20 do oldkeys[i] = {} end
local co = coroutine.wrap(function()
  local mine = {}
  while true do
    local v = coroutine.yield(mine)
    mine[#mine + 1] = v
  end
end)
local costore = co()
-- make everything above old
collectgarbage()
collectgarbage()

local function garbage(n)
  for i = 1, n do local _ = {i, tostring(i)} end
end

for round = 1, 60 do
  oldt[round] = {round = round, name = "r" .. round}          -- table store
  oldmeta.__index = {answer = round}                          -- store into an old metatable
  setupv({round})                                             -- closed upvalue
  weakv[round] = oldt[round]                                  -- weak value kept by oldt
  ephem[oldkeys[round % 20 + 1]] = {round}                    -- ephemeron with an old key
  co({round})                                                 -- a suspended thread's locals
  rawset(oldt, "k" .. round, string.rep("v", round % 50))     -- new string values
  garbage(3000)
  assert(holder.answer == round)
  assert(getupv()[1] == round)
end
collectgarbage("step")
garbage(20000)
for round = 1, 60 do
  assert(oldt[round].round == round and oldt[round].name == "r" .. round)
  assert(weakv[round] == oldt[round])
  assert(costore[round][1] == round)
  assert(oldt["k" .. round] == string.rep("v", round % 50))
end
for i = 1, 20 do
  local v = ephem[oldkeys[i]]
  assert(v and v[1] % 20 + 1 == i and v[1] > 40)
end
assert(collectgarbage("incremental") == "generational")
print("ok")
