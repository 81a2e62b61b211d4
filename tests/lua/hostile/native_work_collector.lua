-- args: --frames 30
-- expect-exit: 3
-- expect-stderr: stopped after 30 frames
-- max-rss-mb: 160
-- expect-stdout: every phase ended its slices
-- Collections of a heap of small objects in a loop cost a few cycles each: a frame's worth of
-- the collector's work ends the slice at the next instruction. Each phase runs in a coroutine
-- and does over two frames' worth, so that the coroutine is resumed at least three times.
-- The last loop runs until the runner stops after 30 frames.
local function resumes(body)
  local co, n = coroutine.create(body), 0
  repeat
    local r = table.pack(coroutine.resume(co))
    assert(r.n == 1 and r[1], r[2])
    n = n + 1
  until coroutine.status(co) == "dead"
  return n
end

local heap = {}
for k = 1, 50000 do heap[k] = {k} end
assert(resumes(function() for _ = 1, 80 do collectgarbage() end end) >= 3, "full")
assert(resumes(function() for _ = 1, 200 do collectgarbage("step", 1000) end end) >= 3, "steps")
collectgarbage("generational")
assert(resumes(function() for _ = 1, 80 do collectgarbage() end end) >= 3, "generational")
assert(resumes(function()
  for _ = 1, 40 do
    collectgarbage("incremental")
    collectgarbage("generational")
  end
end) >= 3, "mode switches")
collectgarbage("incremental")

print("every phase ended its slices")
while true do collectgarbage() end
