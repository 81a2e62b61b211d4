-- The traceback layout: one line per level, function descriptions, tail calls, and the
-- shortening of long tracebacks (first 10 levels, a skip line, the last 11).

local src = debug.getinfo(1, "S").short_src

local function lines(s)
  local t = {}
  for l in (s .. "\n"):gmatch("(.-)\n") do t[#t + 1] = l end
  return t
end

-- Recurses until the stack is `target` levels deep (counted from this function as level 1),
-- then returns the traceback from level 1 and the deepest level.
local function rec(target)
  local last = 0
  while debug.getinfo(last + 1, "l") do last = last + 1 end
  if last >= target then return debug.traceback("m", 1), last end -- line 17
  local tb, l = rec(target) -- line 18
  return tb, l
end

-- the deepest level when called from here (a probe, run at the same depth as rec's first call)
local function depth()
  local last = 0
  while debug.getinfo(last + 1, "l") do last = last + 1 end
  return last
end
local base = depth()

-- 22 levels from the start level: all shown
do
  local tb, last = rec(22)
  assert(last == 22)
  local l = lines(tb)
  assert(l[1] == "m" and l[2] == "stack traceback:")
  assert(#l == 2 + 22, #l)
  assert(l[3] == "\t" .. src .. ":17: in upvalue 'rec'" or
         l[3] == "\t" .. src .. ":17: in function 'rec'", l[3])
  for i = 4, 2 + 22 - base do
    assert(l[i] == "\t" .. src .. ":18: in upvalue 'rec'" or
           l[i] == "\t" .. src .. ":18: in function <" .. src .. ":14>", l[i])
  end
  for _, x in ipairs(l) do assert(not x:find("skipping", 1, true)) end
end

-- 23 levels: 10, a skip line counting 1 (though two levels are left out), then the last 11
do
  local tb, last = rec(23)
  assert(last == 23)
  local l = lines(tb)
  assert(#l == 2 + 10 + 1 + 11, #l)
  assert(l[13] == "\t...\t(skipping 1 levels)", l[13])
  -- after the skip: level 13 onwards, down to the bottom of the stack
  assert(l[14]:find(":18: in ", 1, true), l[14])
  assert(l[#l] == "\t[C]: in ?" or l[#l]:find(":%d+: in main chunk$"), l[#l])
end

-- deeper: the count is last - 22
do
  local tb, last = rec(60)
  local l = lines(tb)
  assert(#l == 2 + 10 + 1 + 11, #l)
  assert(l[13] == "\t...\t(skipping " .. (last - 22) .. " levels)", l[13])
end

-- descriptions: global functions, fields, methods, locals, main chunk, C functions
do
  local obj = {}
  function obj.field() return (debug.traceback()) end
  function obj:meth() return (debug.traceback()) end
  local function loc() return (debug.traceback()) end
  local tb = obj.field()
  assert(tb:find("\n\t" .. src .. ":69: in field 'field'\n", 1, true) or
         tb:find("\n\t" .. src .. ":69: in function 'obj.field'\n", 1, true), tb)
  tb = obj:meth()
  assert(tb:find("\n\t" .. src .. ":70: in method 'meth'\n", 1, true) or
         tb:find("\n\t" .. src .. ":70: in method 'obj:meth'\n", 1, true), tb)
  tb = loc()
  assert(tb:find("\n\t" .. src .. ":71: in local 'loc'\n", 1, true), tb)
  assert(tb:find("\n\t" .. src .. ":78: in main chunk", 1, true), tb)
  -- C functions: a global name from the loaded modules, else "?"
  tb = debug.traceback("x", 0)
  assert(lines(tb)[3] == "\t[C]: in function 'debug.traceback'", tb)
  local ok, t2 = pcall(debug.traceback, "y", 0)
  assert(lines(t2)[3] == "\t[C]: in function 'debug.traceback'", t2)
  assert(lines(t2)[4] == "\t[C]: in function 'pcall'", t2)
  -- a function found in a loaded module is named by it
  string.probe_fn = function() return (debug.traceback()) end
  tb = (function() return (string.probe_fn()) end)()
  string.probe_fn = nil
  assert(tb:find(":88: in function 'string.probe_fn'", 1, true), tb)
  -- a Lua function with no name: its definition
  tb = (function() return (debug.traceback()) end)()
  assert(tb:find("\n\t" .. src .. ":93: in function <" .. src .. ":93>", 1, true), tb)
end

-- tail calls leave a marker
do
  local function bottom() return (debug.traceback()) end
  local function middle() return bottom() end
  local tb = middle()
  local l = lines(tb)
  assert(l[2] == "\t" .. src .. ":99: in function <" .. src .. ":99>", l[2])
  assert(l[3] == "\t(...tail calls...)", l[3])
  assert(l[4] == "\t" .. src .. ":101: in main chunk", l[4])
end

-- a message of another type is returned untouched; numbers are text
do
  local t = {}
  assert(debug.traceback(t) == t and debug.traceback(true) == true)
  assert(lines(debug.traceback(5))[1] == "5")
end

-- a long message goes through the buffer's box
do
  local m = string.rep("m", 5000)
  local tb = debug.traceback(m)
  assert(tb:sub(1, 5000) == m and tb:sub(5001, 5018) == "\nstack traceback:\n", tb:sub(4990, 5030))
end

print("ok")
