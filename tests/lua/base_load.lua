-- load: strings and reader functions, chunk names, modes, the environment argument, and the
-- split between failures returned as nil plus a message and argument errors raised.

local src = debug.getinfo(1, "S").short_src

local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok, "no error, expected: " .. msg)
  if err ~= msg then
    error(string.format("\n  got      %q\n  expected %q", tostring(err), msg), 2)
  end
end

-- Expects nil and exactly the message msg.
local function loadfails(msg, ...)
  local f, err = load(...)
  assert(f == nil, "load succeeded, expected: " .. msg)
  if err ~= msg then
    error(string.format("\n  got      %q\n  expected %q", tostring(err), msg), 2)
  end
end

-- strings
assert(load("return 1")() == 1)
assert(select("#", load("return 1")) == 1)
assert(load("return ...")(4, 5) == 4)
assert(select(2, load("return ...")(4, 5)) == 5)

-- a string chunk is named by its own text: not "@" or "=", so its chunk id is empty
do
  local f = load("error('in chunk')")
  local ok, e = pcall(f)
  assert(e == ":1: in chunk", e)
  assert(debug.getinfo(load("return 1"), "S").source == "return 1")
  f = load("\n\nerror('third')", "=mychunk")
  ok, e = pcall(f)
  assert(e == "mychunk:3: third", e)
  f = load("error('x')", "@file.lua")
  ok, e = pcall(f)
  assert(e == "file.lua:1: x", e)
  f = load("error('x')", "plain name")
  ok, e = pcall(f)
  assert(e == ":1: x", e)
end

-- a number chunk is converted to its text and compiled
do
  local f, e = load(42)
  assert(f == nil and e:sub(1, 3) == ":1:" and e:find("near '42'", 1, true), e)
  f = load(42, "=n")
  assert(f == nil)
end

-- syntax errors come back as nil and the message
loadfails(":1: unexpected symbol near '+'", "+")
loadfails("c:1: unexpected symbol near '+'", "+", "=c")

-- modes
loadfails("attempt to load a text chunk (mode is 'b')", "x=1", "c", "b")
assert(load("return 2", "c", "t")() == 2)
assert(load("return 3", "c", "bt")() == 3)
assert(load("return 4", "c", nil)() == 4)
do
  -- a leading escape byte marks a binary chunk, refused before anything else is read
  loadfails("attempt to load a binary chunk (mode is 't')", "\27Lua garbage", "c", "t")
  local f, e = load("\27Lua garbage", "=c", "b")
  assert(f == nil and type(e) == "string")
  -- an empty input is a text chunk
  loadfails("attempt to load a text chunk (mode is 'b')", "", "c", "b")
  assert(load("", "c", "t")() == nil)
  assert(string.dump == nil)
end

-- reader functions
do
  local parts = {"return ", "1 ", "+ ", "41"}
  local i = 0
  local f = load(function() i = i + 1; return parts[i] end)
  assert(f() == 42)
  -- an empty piece ends the chunk
  local pieces = {"return 7", "", "error('never read')"}
  i = 0
  f = load(function() i = i + 1; return pieces[i] end)
  assert(f() == 7 and i == 2)
  -- numbers are pieces too
  local nums = {"return ", 12, nil}
  i = 0
  f = load(function() i = i + 1; return nums[i] end)
  assert(f() == 12)
  -- the default chunk name is "=(load)"
  i = 0
  f = load(function() i = i + 1; if i == 1 then return "error('r')" end end)
  local ok, e = pcall(f)
  assert(e == "(load):1: r", e)
  i = 0
  f = load(function() i = i + 1; if i == 1 then return "error('r')" end end, "=named")
  ok, e = pcall(f)
  assert(e == "named:1: r", e)
  -- a reader that returns nothing at once gives an empty chunk
  f = load(function() end)
  assert(type(f) == "function" and f() == nil)
end

-- read errors are results, not errors
do
  loadfails(src .. ":16: reader function must return a string", function() return {} end)
  loadfails(src .. ":16: reader function must return a string", function() return true end)
  local e0 = {}
  local f, e = load(function() error(e0) end)
  assert(f == nil and e == e0)
  f, e = load(function() error("reader broke") end)
  assert(f == nil and e == src .. ":111: reader broke", e)
  -- syntax error in pieces delivered by a reader
  local once = false
  f, e = load(function() if not once then once = true; return "x = = 1" end end)
  assert(f == nil and e == "(load):1: unexpected symbol near '='", e)
  -- a reader may not yield: the parse is not yieldable
  local co = coroutine.wrap(function()
    return load(function() coroutine.yield(1) end)
  end)
  f, e = co()
  assert(f == nil and e == "attempt to yield across a C-call boundary", tostring(e))
end

-- the environment argument
do
  local f = load("return x", "n", "t", {x = 5})
  assert(f() == 5)
  f = load("x = 9", "n", "t", {})
  f()
  assert(x == nil)
  -- present even as nil: _ENV is nil
  f = load("return x", "=n", "t", nil)
  local ok, e = pcall(f)
  assert(not ok and e == "n:1: attempt to index a nil value (upvalue '_ENV')", e)
  -- absent: the globals
  x = 11
  assert(load("return x", "=n", "t")() == 11)
  x = nil
  -- with a reader too
  local done = false
  f = load(function() if not done then done = true; return "return y" end end, "=r", "t", {y = 8})
  assert(f() == 8)
end

-- argument errors are raised
fails("bad argument #1 to 'load' (function expected, got table)", load, {})
fails("bad argument #1 to 'load' (function expected, got no value)", load)
fails("bad argument #1 to 'load' (function expected, got nil)", load, nil)
fails("bad argument #2 to 'load' (string expected, got table)", load, "return 1", {})
fails("bad argument #3 to 'load' (string expected, got table)", load, "return 1", "n", {})
fails("bad argument #2 to 'load' (string expected, got boolean)", load, print, true)

print("ok")
