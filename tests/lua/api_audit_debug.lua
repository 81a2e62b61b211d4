-- The debug interface seen whole: the exact stream of hook events with the names and kinds each
-- activation reports, and every local, temporary and vararg of a frame in order.

-- Hook events: call, return, line and tail call, with name, line and what of the hooked level.
do
  local src = [[
local rec, ev = ...
local function add(a, b) return a + b end
local function tail(n) if n > 0 then return tail(n - 1) end return n end
local t = setmetatable({}, {__index = function(t, k) return k end, __lt = function() return true end})
local function body()
  local s = 0
  for i = 1, 2 do
    s = add(s, i)
  end
  local x = t.foo
  local y = t < t
  tail(2)
  local z = select("#", 1, 2)
  for k, v in pairs({a = 1}) do s = s + v end
  repeat s = s - 1 until s < 0
  while s < 2 do s = s + 1 end
  return s
end
debug.sethook(rec, "crl")
body()
debug.sethook()
]]
  local ev = {}
  local function rec(e, l)
    local i = debug.getinfo(2, "nSlt")
    ev[#ev + 1] = e .. ":" .. (l or i.currentline) .. ":" .. tostring(i.name) .. ":" .. i.what ..
      (i.istailcall and "T" or "")
  end
  assert(load(src, "=hooked"))(rec, ev)
  local expected = {
    "return:-1:sethook:C", "line:20:nil:main",
    "call:6:body:Lua", "line:6:body:Lua", "line:7:body:Lua",
    "line:8:body:Lua", "call:2:add:Lua", "line:2:add:Lua", "return:2:add:Lua", "line:7:body:Lua",
    "line:8:body:Lua", "call:2:add:Lua", "line:2:add:Lua", "return:2:add:Lua", "line:7:body:Lua",
    -- metamethods are named after their event; "<" is "order"
    "line:10:body:Lua", "call:4:index:Lua", "line:4:index:Lua", "return:4:index:Lua",
    "line:11:body:Lua", "call:4:order:Lua", "line:4:order:Lua", "return:4:order:Lua",
    -- a tail call has no name and is flagged; its return is the only one
    "line:12:body:Lua", "call:3:tail:Lua", "line:3:tail:Lua", "tail call:3:nil:LuaT", "line:3:nil:LuaT",
    "tail call:3:nil:LuaT", "line:3:nil:LuaT", "return:3:nil:LuaT",
    "line:13:body:Lua", "call:-1:select:C", "return:-1:select:C",
    "line:14:body:Lua", "call:-1:pairs:C", "return:-1:pairs:C",
    "call:-1:for iterator:C", "return:-1:for iterator:C", "line:14:body:Lua",
    "call:-1:for iterator:C", "return:-1:for iterator:C",
    -- a loop on one line reports the line at every backward jump
    "line:15:body:Lua", "line:15:body:Lua", "line:15:body:Lua", "line:15:body:Lua", "line:15:body:Lua",
    "line:16:body:Lua", "line:16:body:Lua", "line:16:body:Lua", "line:16:body:Lua",
    "line:17:body:Lua", "return:17:body:Lua",
    "line:21:nil:main", "call:-1:sethook:C",
  }
  for i = 1, math.max(#ev, #expected) do
    assert(ev[i] == expected[i], "event " .. i .. ": " .. tostring(ev[i]) .. " ~= " .. tostring(expected[i]))
  end
end

-- Every local of a frame, in order: named locals, the hidden state of loops, temporaries
-- up to the top, then the extra arguments of a vararg function.
do
  local function show(v)
    if type(v) == "function" then return "fn" elseif type(v) == "table" then return "tbl" end
    return tostring(v)
  end
  local function dump(level)
    local r = {}
    for i = 1, 30 do
      local n, v = debug.getlocal(level + 1, i)
      if not n then break end
      r[#r + 1] = n .. "=" .. show(v)
    end
    for i = -1, -5, -1 do
      local n, v = debug.getlocal(level + 1, i)
      if not n then break end
      r[#r + 1] = n .. "=" .. show(v)
    end
    return table.concat(r, " ")
  end
  local seen = {}
  local function f(a, b, ...)
    local c = 3
    for i = 1, 2 do
      local d = i
      if i == 2 then seen[1] = dump(1) end
    end
    for k, v in pairs({x = 1}) do seen[2] = dump(1) end
    do local e <close> = nil; seen[3] = dump(1) end
    seen[4] = dump(1)
    return (function(...) local r = dump(1) return r end)(7, 8)
  end
  seen[5] = f(1, 2, "v1", "v2")
  assert(seen[1] == "a=1 b=2 c=3 (for state)=2 (for state)=0 (for state)=1 i=2 d=2 (temporary)=tbl " ..
    "(vararg)=v1 (vararg)=v2", seen[1])
  assert(seen[2] == "a=1 b=2 c=3 (for state)=fn (for state)=tbl (for state)=x (for state)=nil k=x v=1 " ..
    "(temporary)=tbl (vararg)=v1 (vararg)=v2", seen[2])
  assert(seen[3] == "a=1 b=2 c=3 e=nil (temporary)=tbl (vararg)=v1 (vararg)=v2", seen[3])
  assert(seen[4] == "a=1 b=2 c=3 (temporary)=tbl (vararg)=v1 (vararg)=v2", seen[4])
  -- the inner function's own varargs, not the outer ones
  assert(seen[5] == "(vararg)=7 (vararg)=8", seen[5])
  -- a C function's frame: its arguments are C temporaries
  local n1, v1, n2
  string.gsub("ab", "a", function()
    n1, v1 = debug.getlocal(2, 1)
    n2 = debug.getlocal(2, -1)
  end)
  assert(n1 == "(C temporary)" and v1 == "ab" and n2 == nil)
end

-- Setting locals: the value lands, a missing local leaves everything as it was.
do
  local function g(...)
    local x = 1
    assert(debug.setlocal(1, 1, 10) == "x")
    assert(debug.setlocal(1, -2, "B") == "(vararg)")
    assert(debug.setlocal(1, -3, "C") == nil)
    assert(debug.setlocal(1, 99, 0) == nil)
    return x, ...
  end
  local x, a, b, c = g("a", "b")
  assert(x == 10 and a == "a" and b == "B" and c == nil)
end

print("ok")
