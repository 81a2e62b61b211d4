-- Calibration of the native work meter: for each metered kind of work, a loop that does little
-- but that work, run for a number of slices. Run with a budget far above a frame's
-- (bench/run uses --budget 1000000000), so that only the meter ends the slices: each slice is
-- then one frame's worth of native work, and bench/run times the "start" and "end" lines of
-- each kind as they arrive. Every operation is small beside a frame's worth, so the slices
-- overshoot little.
local FRAMES = 20
-- More operations than any kind needs for all its slices: a kind that reaches it is not
-- metered at all.
local MAXOPS = 100000

-- Runs op until the machine has ended `frames` slices; false when MAXOPS ran first.
local function slices(frames, op)
  _yielded_to_escape_slice(0)
  local n, ops = 0, 0
  while n < frames do
    if ops == MAXOPS then return false end
    op()
    ops = ops + 1
    if _yielded_to_escape_slice() then
      n = n + 1
      _yielded_to_escape_slice(0)
    end
  end
  return true
end

local function measure(name, op)
  if not slices(1, op) then -- warm up, and start on a fresh slice
    print("unmetered " .. name)
    return
  end
  print("start " .. name)
  print((slices(FRAMES, op) and "end " or "unmetered ") .. name)
end

print("frames " .. FRAMES)
local KB, MB = 1024, 1024 * 1024
local sink

-- Two distinct, equal strings: the bytes are compared every time.
local a = string.rep("x", 12 * MB)
local b = string.rep("x", 12 * MB - 1) .. "x"
measure("compare == 12 MB", function() sink = a == b end)
measure("compare <= 12 MB", function() sink = a <= b end)
a = string.rep("x", MB)
b = string.rep("x", MB - 1) .. "x"
collectgarbage()
measure("compare == 1 MB", function() sink = a == b end)
local z1 = string.rep("\0", 64 * KB)
local z2 = string.rep("\0", 64 * KB - 1) .. "\0"
measure("compare <= zeros", function() sink = z1 <= z2 end)

-- Concatenation copies into a new string, and a long string is hashed when it is first used as
-- a key. Blocks of a size that the allocator reuses, so that this measures the work and not
-- the system's paging. (Copies are metered only here: a new string's allocation charge
-- bounds them far more tightly.)
local half = string.rep("y", 128 * KB)
measure("concat 256 KB", function() sink = half .. half end)
local src, keys, i = string.rep("z", 256 * KB), {}, 0
measure("sub and hash 256 KB", function()
  i = i % 64 + 1
  sink = keys[src:sub(i)]
end)

local euro = string.rep("\u{20AC}", MB // 3)
measure("utf8.len 3-byte chars", function() sink = utf8.len(euro) end)
local ascii = string.rep("abcd", MB // 4)
measure("utf8.len ascii", function() sink = utf8.len(ascii) end)
local conts = "a" .. string.rep("\x80", MB)
measure("utf8.offset back", function() sink = utf8.offset(conts, 0, #conts) end)
local skip = utf8.codes(conts, true)
measure("utf8.codes skip", function() sink = skip(conts, 1) end)

local blanks = string.rep(" ", MB) .. "1"
measure("tonumber blanks", function() sink = tonumber(blanks) end)
local digits = string.rep("7", MB)
measure("tonumber digits", function() sink = tonumber(digits) end)
local emptied = {}
for k = 1, 256 * KB do emptied[k] = k end
for k = 1, 256 * KB do emptied[k] = nil end
measure("next over empty slots", function() sink = next(emptied) end)
emptied = nil
local line = string.rep("p", 64 * KB)
measure("print 64 KB", function() print(line) end)

local subject = string.rep("a", 200)
measure("match x?.-b 200 B", function() sink = string.find(subject, "x?.-b") end)

-- Native functions called from native code (here gsub's replacement) run no instruction.
local calls = string.rep("c", 4 * KB)
measure("native calls from gsub", function() sink = calls:gsub(".", string.upper) end)

-- The collector over heaps of about 2 MB of different shapes.
local heap = {}
for k = 1, 30000 do heap[k] = {k} end
measure("collect small tables", function() collectgarbage() end)
heap = {}
for k = 1, 8 do
  local t = {}
  for j = 1, 16384 do t[j] = j end
  heap[k] = t
end
measure("collect arrays", function() collectgarbage() end)
heap = {}
for k = 1, 40000 do heap[k] = "s" .. k end
measure("collect strings", function() collectgarbage() end)
heap = {}
for k = 1, 30000 do heap[k] = function() return k end end
measure("collect closures", function() collectgarbage() end)
heap = {}
for k = 1, 30000 do heap[k] = {k} end
collectgarbage("generational")
measure("collect generational", function() collectgarbage() end)
measure("switch modes", function()
  collectgarbage("incremental")
  collectgarbage("generational")
end)
collectgarbage("incremental")
print("done")
