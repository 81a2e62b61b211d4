-- Native functions keep state where a program can reach it: upvalues of native closures
-- (debug.setupvalue writes them) and registry entries (debug.getregistry hands the registry
-- out). Damaged or foreign state gives a clear error or is rebuilt; ordinary use goes on.
local reg = debug.getregistry()

local function fails(pat, f, ...)
  local ok, e = pcall(f, ...)
  assert(not ok, "call did not fail")
  assert(string.find(e, pat, 1, true), e)
end

-- the random generator's state: anything but a generator state is refused
do
  local name, state = debug.getupvalue(math.random, 1)
  assert(name == "" and type(state) == "userdata")
  local v, u = vec(1, 2), userdata("u8", 16) -- typed userdata of the state's very size
  local gm = select(2, debug.getupvalue(string.gmatch("ab", "."), 3))
  local co = coroutine.create(print)
  for _, bad in ipairs({5, "s", true, {}, print, v, u, userdata("u8", 1), gm, co,
                        debug.upvalueid(math.random, 1)}) do
    debug.setupvalue(math.random, 1, bad)
    debug.setupvalue(math.randomseed, 1, bad)
    fails("bad random generator state", math.random)
    fails("bad random generator state", math.random, 6)
    fails("bad random generator state", math.randomseed, 42)
    fails("bad random generator state", math.randomseed)
  end
  debug.setupvalue(math.random, 1, nil)
  fails("bad random generator state", math.random)
  assert(v.x == 1 and v.y == 2 and #v == 2 and #u == 16, "typed userdata written")
  -- the genuine state works wherever it is put
  debug.setupvalue(math.random, 1, state)
  debug.setupvalue(math.randomseed, 1, state)
  assert(math.randomseed(42) == 42)
  local a = math.random(0)
  math.randomseed(42)
  assert(math.random(0) == a and math.random(1, 6) <= 6)
end

-- a wrapped coroutine's thread
do
  local w = coroutine.wrap(function() return 1 end)
  for _, bad in ipairs({"x", 5, {}, print, vec(1), false}) do
    debug.setupvalue(w, 1, bad)
    fails("bad coroutine state", w)
  end
  debug.setupvalue(w, 1, nil)
  fails("bad coroutine state", w)
  -- another thread serves as the thread does for resume
  local other = coroutine.create(function(a) return a + 1 end)
  debug.setupvalue(w, 1, other)
  assert(w(41) == 42)
  fails("cannot resume dead coroutine", w)
  debug.setupvalue(w, 1, (coroutine.running())) -- the main thread, running
  fails("cannot resume non-suspended coroutine", w)
  local co = coroutine.create(function()
    debug.setupvalue(w, 1, (coroutine.running()))
    return pcall(w)
  end)
  local ok, okw, e = coroutine.resume(co)
  assert(ok and not okw and e:find("cannot resume non-suspended coroutine", 1, true))
  local main = coroutine.running()
  co = coroutine.wrap(function()
    debug.setupvalue(w, 1, main) -- normal: it resumed this one
    return pcall(w)
  end)
  ok, e = co()
  assert(not ok and e:find("cannot resume non-suspended coroutine", 1, true))
  local failing = coroutine.create(function() error("boom") end)
  debug.setupvalue(w, 1, failing)
  fails("boom", w)
  fails("cannot resume dead coroutine", w)
end

-- the buffer box metatable: replaced by anything, the next buffer rebuilds it
do
  local t = {}
  for i = 1, 1000 do t[i] = "abc" end
  for _, bad in ipairs({5, "s", true, print, {}, {__gc = print, __close = print},
                        setmetatable({}, {__index = reg["_UBOX*"]}), vec(1, 2)}) do
    reg["_UBOX*"] = bad
    assert(#string.rep("x", 3000, ",") == 5999)
    assert(#table.concat(t, "-") == 3999)
    assert(#string.format("%s|%s", string.rep("y", 2000), "z") == 2002)
    local mt = reg["_UBOX*"]
    assert(type(mt) == "table" and mt ~= bad and type(mt.__gc) == "function")
  end
  local genuine = reg["_UBOX*"]
  assert(#string.rep("x", 3000) == 3000 and reg["_UBOX*"] == genuine, "rebuilt needlessly")
  -- a copy of the genuine one is not taken for it
  reg["_UBOX*"] = {__gc = genuine.__gc, __close = genuine.__close, __name = "_UBOX*",
                   __index = function() end}
  assert(#string.rep("x", 3000) == 3000 and reg["_UBOX*"] ~= genuine)
  collectgarbage()
end

-- the box metatable changed while a buffer is in use: the block is freed all the same (the
-- process's charged memory comes back), and the changed metamethods receive an empty box
do
  local caught = {}
  local boxgc = reg["_UBOX*"].__gc
  local function tamper()
    local mt = reg["_UBOX*"]
    mt.__close = function(b) caught[#caught + 1] = b end
    mt.__gc = nil
  end
  local big = string.rep("a", 100000)
  local before = stat(0)
  for round = 1, 3 do
    local n = 0
    local r = string.gsub(big, "a", function()
      n = n + 1
      if n == 60000 then tamper() end
      return "bc"
    end)
    assert(#r == 200000)
    r = nil
    n = 0
    assert(not pcall(string.gsub, big, "a", function()
      n = n + 1
      if n == 60000 then tamper() end
      if n == 90000 then error("stop") end
      return "bc"
    end))
    local list = setmetatable({}, {__len = function() return 100000 end, __index = function(_, i)
      if i == 60000 then tamper() end
      if i == 90000 then error("stop") end
      return "ab"
    end})
    assert(not pcall(table.concat, list))
  end
  assert(stat(0) - before < 100000, "a buffer's block was not freed")
  assert(#caught == 9)
  for _, b in ipairs(caught) do
    assert(type(b) == "userdata")
    boxgc(b) -- empty: nothing to free twice
  end
  reg["_UBOX*"] = nil
  assert(#string.rep("x", 3000) == 3000)
end

-- the hook table
do
  local count = 0
  debug.sethook(function() count = count + 1 end, "l")
  local f, mask = debug.gethook()
  assert(type(f) == "function" and mask == "l")
  for _, bad in ipairs({5, "s", print, vec(1)}) do
    reg._HOOKKEY = bad
    f, mask = debug.gethook()
    assert(f == nil and mask == "l")
    local x = 1 -- the hook runs, finds no table, calls nothing
    x = x + 1
  end
  reg._HOOKKEY = {} -- a table without this thread: no function is known either
  assert(debug.gethook() == nil)
  debug.sethook()
  assert(debug.gethook() == nil)
  reg._HOOKKEY = 5
  debug.sethook(function() count = count + 1 end, "l")
  assert(type(reg._HOOKKEY) == "table")
  count = 0
  local y = 1
  y = y + 1
  debug.sethook()
  assert(count >= 2)
end

-- the loaded-modules table and the globals entry
do
  local loaded = reg._LOADED
  for _, bad in ipairs({5, "s", {x = {y = {}}}, setmetatable({}, {__index = error})}) do
    reg._LOADED = bad
    fails("bad argument #1 to '?'", string.rep)
    assert(debug.traceback("m"):find("^m\nstack traceback:"))
  end
  reg._LOADED = loaded
  fails("bad argument #1 to 'string.rep'", string.rep)
  local G = reg[2]
  reg[2] = {x = "other"}
  assert(load("return x")() == "other")
  reg[2] = 5
  assert(not pcall(load("return x")))
  reg[2] = G
  local main = reg[1]
  reg[1] = "x"
  assert(coroutine.wrap(function() return 7 end)() == 7)
  reg[1] = main
  assert(load("return x")() == nil)
  -- with the registry's array part gone, load finds no globals table
  reg[1], reg[2] = nil, nil
  for i = 1, 100 do reg["k" .. i] = i end
  collectgarbage()
  local f = load("return x")
  assert(not pcall(f))
  for i = 1, 100 do reg["k" .. i] = nil end
  reg[1], reg[2] = main, G
  assert(load("return x")() == nil)
end

collectgarbage()
print("ok")
