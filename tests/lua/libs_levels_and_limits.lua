-- args: --budget 200000000
-- Library corners: resume limits, per-thread hooks, tracebacks of other threads with long
-- messages, level arguments beyond the int range, error levels, native upvalue names.
local src = debug.getinfo(1, "S").short_src

-- resume: the coroutine's stack must take the arguments, the resumer's the results
do
  local big = {}
  for i = 1, 50000 do big[i] = i end
  local function deep(n) if n == 0 then return coroutine.yield() end local a, b = 1, 2; return (deep(n - 1)) end
  local co = coroutine.create(function() return deep(15000) end)
  assert(coroutine.resume(co) == true)
  local ok, e = coroutine.resume(co, table.unpack(big))
  assert(not ok and e == "too many arguments to resume", e)
  assert(coroutine.status(co) == "suspended")
  local co2 = coroutine.create(function() return table.unpack(big) end)
  assert(select(2, (function(...) return coroutine.resume(co2) end)(table.unpack(big)))
         == "too many results to resume")
  assert(coroutine.status(co2) == "dead")
  local w = coroutine.wrap(function() return table.unpack(big) end)
  local wline = debug.getinfo(1, "l").currentline + 1
  ok, e = pcall(function(...) return w() end, table.unpack(big))
  assert(not ok and e == src .. ":" .. wline .. ": too many results to resume", e)
end

-- hooks are kept per thread in a weak-keyed registry table
do
  local cline = debug.getinfo(1, "l").currentline + 1
  local co = coroutine.create(function() local x = 1; coroutine.yield(); return x end)
  local seen = {}
  local function hook(ev, line) seen[#seen + 1] = ev .. ":" .. tostring(line) end
  debug.sethook(co, hook, "l")
  assert(debug.gethook() == nil)
  local f, mask, count = debug.gethook(co)
  assert(f == hook and mask == "l" and count == 0)
  local reg = debug.getregistry()
  assert(reg._HOOKKEY[co] == hook and getmetatable(reg._HOOKKEY).__mode == "k")
  coroutine.resume(co)
  assert(seen[1] == "line:" .. cline, seen[1])
  debug.sethook(co)
  assert(debug.gethook(co) == nil and reg._HOOKKEY[co] == nil)
end

-- another thread's traceback starts at level 0; a long message moves the buffer to the stack
do
  local long = string.rep("m", 3000)
  local function rec(n) if n == 0 then coroutine.yield() end return (rec(n - 1)) end
  local fline = debug.getinfo(1, "l").currentline + 1
  local co = coroutine.create(function() rec(30) end)
  coroutine.resume(co)
  local tb = debug.traceback(co, long)
  local lines = {}
  for l in tb:gmatch("[^\n]+") do lines[#lines + 1] = l end
  assert(lines[1] == long and lines[2] == "stack traceback:")
  assert(lines[3] == "\t[C]: in function 'coroutine.yield'", lines[3])
  -- 33 levels (0 to 32): 10 shown, a skip of 32 - 10 - 11 = 11, then the last 11
  assert(lines[13] == "\t...\t(skipping 11 levels)", lines[13])
  assert(#lines == 2 + 10 + 1 + 11)
  assert(lines[#lines] == "\t" .. src .. ":" .. fline .. ": in function <" .. src .. ":" .. fline .. ">", lines[#lines])
  assert(debug.traceback(co, nil, 40) == "stack traceback:")
end

-- levels are integers of any size: those beyond the stack miss
do
  assert(debug.getinfo(2^40) == nil and debug.getinfo(-2^40) == nil)
  local ok, e = pcall(debug.getlocal, 2^40, 1)
  assert(not ok and e == "bad argument #1 to 'debug.getlocal' (level out of range)", e)
  assert(debug.traceback("t", 2^40) == "t\nstack traceback:")
  assert(debug.traceback("t", math.maxinteger) == "t\nstack traceback:")
  assert(debug.traceback("t", math.mininteger) == "t\nstack traceback:")
  assert(debug.traceback("t", -1) == "t\nstack traceback:")
end

-- error levels name the function that many levels up
do
  local function thrower(lvl) error("lv", lvl) end
  local mline = debug.getinfo(1, "l").currentline + 2
  local function middle(lvl)
    thrower(lvl)
  end
  local ok, e = pcall(middle, 2)
  assert(e == src .. ":" .. mline .. ": lv", e)
  ok, e = pcall(function() middle(3) end)
  assert(e == src .. ":" .. (mline + 4) .. ": lv", e)
  ok, e = pcall(middle, 3) -- level 3 is pcall: no line
  assert(e == "lv", e)
  -- levels outside the int range: beyond the stack, or not above 0
  ok, e = pcall(function() error("far", 2^32 + 1) end)
  assert(e == "far", e)
  ok, e = pcall(function() error("neg", -2^32 + 1) end)
  assert(e == "neg", e)
end

-- upvalues of native closures have empty names
do
  local w = coroutine.wrap(function() end)
  local name, v = debug.getupvalue(w, 1)
  assert(name == "" and type(v) == "thread")
  assert(debug.getupvalue(w, 2) == nil)
  assert(debug.setupvalue(w, 1, v) == "")
end

print("ok")
