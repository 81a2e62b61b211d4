-- Weak tables and ephemerons clear what the Lua 5.4 manual says they clear.
local function count(t) local n = 0 for _ in pairs(t) do n = n + 1 end return n end

for _, mode in ipairs({"incremental", "generational"}) do
  collectgarbage(mode)

  -- weak values: collectable values go, strings, numbers and booleans stay
  local keep = {}
  local wv = setmetatable({}, {__mode = "v"})
  wv[1] = {}; wv[2] = "a string"; wv[3] = keep; wv[4] = 42; wv[5] = true
  wv.f = function() end; wv.k = keep; wv.s = string.rep("long", 20)
  wv[{}] = keep -- the key is strong in a weak-value table
  collectgarbage()
  assert(wv[1] == nil and wv[2] == "a string" and wv[3] == keep and wv[4] == 42 and wv[5] == true)
  assert(wv.f == nil and wv.k == keep and wv.s == string.rep("long", 20))
  assert(count(wv) == 7, count(wv))

  -- weak keys: entries whose collectable key is unreachable go
  local key = {}
  local wk = setmetatable({}, {__mode = "k"})
  wk[key] = 1; wk[{}] = 2; wk["str"] = 3; wk[10] = 4; wk[function() end] = 5
  collectgarbage()
  assert(count(wk) == 3 and wk[key] == 1 and wk.str == 3 and wk[10] == 4)

  -- ephemerons: a value referring to its own key does not keep the key alive
  local e = setmetatable({}, {__mode = "k"})
  do
    local k1 = {}
    e[k1] = {k1}
    local a, b = {}, {}
    e[a] = b; e[b] = a -- a cycle through values only
  end
  collectgarbage()
  assert(count(e) == 0, count(e))
  -- ... but a chain from a reachable key keeps every link
  local root = {}
  do
    local k2, k3 = {}, {}
    e[root] = k2; e[k2] = k3; e[k3] = "end"
  end
  collectgarbage()
  assert(count(e) == 3)
  assert(e[e[e[root]]] == "end")
  -- the value of a live key stays even when nothing else refers to it
  e[root] = {payload = 1}
  collectgarbage()
  assert(e[root].payload == 1)

  -- all weak
  local kv = setmetatable({}, {__mode = "kv"})
  kv[key] = {}; kv[{}] = key; kv[1] = key; kv[2] = {}; kv.x = "y"
  collectgarbage()
  assert(count(kv) == 2 and kv[1] == key and kv.x == "y", count(kv))

  -- objects being finalized: removed from weak values before the finalizer runs, from weak
  -- keys only once they are really freed
  local wk2 = setmetatable({}, {__mode = "k"})
  local wv2 = setmetatable({}, {__mode = "v"})
  local seen
  do
    local o = setmetatable({}, {__gc = function(o) seen = {wk2[o], wv2[1]} end})
    wk2[o] = "val"; wv2[1] = o
  end
  collectgarbage()
  assert(seen and seen[1] == "val" and seen[2] == nil)
  collectgarbage()
  assert(count(wk2) == 0)
end
collectgarbage("incremental")
print("ok")
