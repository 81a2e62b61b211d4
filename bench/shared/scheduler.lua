-- Coroutine scheduler: many tasks run round-robin, sleep and pass messages through mailboxes;
-- then a pipeline (producer, filter, sink) and a sieve of filter coroutines.
-- A slice that ends inside a coroutine makes resume return true alone with the coroutine still
-- suspended: every real yield here carries a value, and a bare true is resumed again.
-- small: local ROUNDS = 36 => local ROUNDS = 3
local resume, yield, status = coroutine.resume, coroutine.yield, coroutine.status

local function step(co, ...)
  local ok, a, b = resume(co, ...)
  while ok and a == nil and status(co) == "suspended" do ok, a, b = resume(co) end
  if not ok then error(a) end
  return a, b
end

-- Round-robin tasks: each does some work, then yields what it wants next.
local function scheduler(ntasks, work)
  local tasks, ready, head, tail = {}, {}, 1, 0
  local sleeping, mail, now = {}, {}, 0
  local stats = {ran = 0, slept = 0, sent = 0, got = 0, done = 0, sum = 0}
  local function task(id)
    local acc = id
    for i = 1, work do
      acc = (acc * 17 + i) % 65521
      if i % 5 == 0 then
        yield("send", (id * 7 + i) % ntasks + 1, acc)
      elseif i % 7 == 0 then
        yield("sleep", 1 + acc % 3)
      elseif i % 11 == 0 then
        local msg = yield("recv")
        acc = (acc + msg) % 65521
      else
        yield("run")
      end
    end
    return "done", acc
  end
  for id = 1, ntasks do
    tasks[id] = coroutine.create(task)
    mail[id] = {}
    tail = tail + 1; ready[tail] = {id = id, arg = id}
  end
  while head <= tail or next(sleeping) do
    if head > tail then
      now = now + 1
      local wake = sleeping[now]
      if wake then
        for _, id in ipairs(wake) do tail = tail + 1; ready[tail] = {id = id} end
        sleeping[now] = nil
      end
    else
      local entry = ready[head]
      ready[head] = nil; head = head + 1
      local id = entry.id
      local what, x, y = step(tasks[id], entry.arg)
      stats.ran = stats.ran + 1
      if what == "done" then
        stats.done = stats.done + 1
        stats.sum = (stats.sum + x) % 1000000007
      elseif what == "sleep" then
        local at = now + x
        local list = sleeping[at]
        if list then list[#list + 1] = id else sleeping[at] = {id} end
        stats.slept = stats.slept + 1
      elseif what == "send" then
        local box = mail[x]
        box[#box + 1] = y
        stats.sent = stats.sent + 1
        tail = tail + 1; ready[tail] = {id = id}
      elseif what == "recv" then
        local box = mail[id]
        local msg = 0
        if #box > 0 then msg = table.remove(box, 1); stats.got = stats.got + 1 end
        tail = tail + 1; ready[tail] = {id = id, arg = msg}
      else
        tail = tail + 1; ready[tail] = {id = id}
      end
    end
  end
  return stats
end

-- A pipeline: a producer, a filter that pulls from it, and a sink that the driver pushes the
-- mapped values into (pull chains are kept short: a slice that ends deep in a chain unwinds
-- every level, and every level is resumed again in the next slice).
local function producer(n)
  return coroutine.create(function()
    for i = 1, n do yield(i) end
    return false
  end)
end
local function filter(src, keep)
  return coroutine.create(function()
    while true do
      local v = step(src)
      if v == false then return false end
      if keep(v) then yield(v) end
    end
  end)
end
local function window(size)
  return coroutine.create(function(v)
    local buf, sum, i = {}, 0, 0
    while true do
      i = i + 1
      local slot = i % size + 1
      sum = sum - (buf[slot] or 0) + v
      buf[slot] = v
      v = yield(sum)
    end
  end)
end

-- Sieve: one filter coroutine per prime found; the driver offers each candidate to the
-- filters in turn.
local function sieve(limit, nprimes)
  local filters, primes = {}, 0
  local last = 0
  for v = 2, limit do
    local prime = true
    for i = 1, primes do
      if not step(filters[i], v) then prime = false; break end
    end
    if prime then
      primes = primes + 1
      last = v
      local p = v
      local co = coroutine.create(function(x)
        while true do x = yield(x % p ~= 0) end
      end)
      step(co, 0)
      filters[primes] = co
      if primes == nprimes then break end
    end
  end
  return primes, last
end

local ROUNDS = 36
local out = 0
for r = 1, ROUNDS do
  local s = scheduler(300 + r, 60)
  out = (out * 31 + s.ran + s.slept * 3 + s.sent * 5 + s.got * 7 + s.done + s.sum) % 1000000007
  local pipe = filter(producer(20000), function(v) return v % 3 ~= 0 end)
  local sink = window(16)
  local last, count = 0, 0
  while true do
    local v = step(pipe)
    if v == false then break end
    last = step(sink, v * v % 1009); count = count + 1
  end
  out = (out * 31 + last + count) % 1000000007
  local found, p = sieve(2000, 120)
  out = (out * 31 + found * p) % 1000000007
end
print(out)
