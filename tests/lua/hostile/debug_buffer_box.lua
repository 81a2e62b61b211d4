-- The buffers of native functions live in userdata boxes on their stacks. A program that goes
-- through the debug library must not reach one, free one, or dress another value up as one.
local reg = debug.getregistry()
local boxmt = reg["_UBOX*"]
if boxmt == nil then -- no native function has made a box yet: make one
  string.format("%s", string.rep("x", 5000))
  local t = {} for i = 1, 3000 do t[i] = "ab" end
  assert(#table.concat(t) == 6000)
  boxmt = reg["_UBOX*"]
end
assert(type(boxmt) == "table" and type(boxmt.__gc) == "function")

-- its finalizer called by hand on anything: nothing happens
for _, v in ipairs({1, "s", {}, boxmt, userdata("u8", 16), userdata("u8", 8), print}) do
  assert(pcall(boxmt.__gc, v))
  assert(pcall(boxmt.__close, v))
end
assert(pcall(boxmt.__gc))

-- no other value takes the box metatable, and a box keeps its own
local u = userdata("u8", 16)
local before = debug.getmetatable(u)
assert(debug.setmetatable(u, boxmt) == u)
assert(debug.getmetatable(u) == before)
collectgarbage()

-- native frames: their buffers do not show, and their slots are not written from outside
local seen, writes = 0, 0
local big = string.rep("a", 20000)
local r = string.gsub(big, "a", function(c)
  for level = 2, 3 do
    for i = 1, 12 do
      local name, v = debug.getlocal(level, i)
      if name == nil then break end
      assert(not (type(v) == "userdata" and debug.getmetatable(v) == boxmt), "box exposed")
      seen = seen + 1
      if level == 2 and debug.setlocal(level, i, 42) ~= nil then writes = writes + 1 end
    end
  end
  return "bb"
end)
assert(#r == 40000 and r:sub(1, 4) == "bbbb")
assert(seen > 0 and writes == 0)

-- nor once the registry's box metatable has been swapped: a box is known by what it is, and
-- freeing by hand whatever shows up frees nothing in use
local freed, calls = 0, 0
r = string.gsub(big, "a", function(c)
  calls = calls + 1
  if calls == 1000 then -- the buffer has moved to its box
    reg["_UBOX*"] = {}
    for i = 1, 12 do
      local name, v = debug.getlocal(2, i)
      if name == nil then break end
      if type(v) == "userdata" then
        reg["_UBOX*"] = boxmt
        boxmt.__gc(v)
        freed = freed + 1
      end
    end
    freed = -1
  end
  return "bb"
end)
assert(#r == 40000 and freed == -1)
reg["_UBOX*"] = boxmt
print("ok")
