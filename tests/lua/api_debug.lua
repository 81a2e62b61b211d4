-- The debug interface seen through the debug library: activation info, function names, locals,
-- upvalues and hooks.

-- Name of the function at level 2 (the caller of this helper), as "namewhat:name".
local function callee_name()
  local i = debug.getinfo(2, "n")
  return i.namewhat .. ":" .. tostring(i.name)
end

-- Function names, by how the function was reached.
function global_fn() local r = callee_name() return r end
assert(global_fn() == "global:global_fn")
local function local_fn() local r = callee_name() return r end
assert(local_fn() == "local:local_fn")
local obj = {f = function() local r = callee_name() return r end}
function obj:m() local r = callee_name() return r end
assert(obj.f() == "field:f")
assert(obj:m() == "method:m")
local up_fn = function() local r = callee_name() return r end
assert((function() local r = up_fn() return r end)() == "upvalue:up_fn")

-- Called from C (pcall) or entered by a tail call: no name.
assert(select(2, pcall(function() local r = callee_name() return r end)) == ":nil")
local function tail_target() local r = callee_name() return r end
local function tail_caller() return tail_target() end
assert(tail_caller() == ":nil")
assert(debug.getinfo(1, "t").istailcall == false)
do
  local function t2() return debug.getinfo(1, "t").istailcall end
  local function t1() return t2() end
  assert(t1() == true)
end

-- Generic for iterator.
do
  local seen
  for _ in function() seen = callee_name() return nil end do end
  assert(seen == "for iterator:for iterator", seen)
end

-- Metamethods are named after their event without the underscores; "<" and "<=" are "order".
do
  local R
  local mt = {}
  for _, e in ipairs{"index", "newindex", "add", "lt", "le", "concat", "len", "unm", "eq", "close",
                     "band", "shl", "idiv", "bnot", "mod", "div", "pow", "sub", "mul", "bor", "bxor", "shr"} do
    mt["__" .. e] = function() R = callee_name() return true end
  end
  local a, b = setmetatable({}, mt), setmetatable({}, mt)
  local function via(f, expected)
    R = nil
    f()
    assert(R == expected, tostring(R) .. " ~= " .. expected)
  end
  via(function() local _ = a.x end, "metamethod:index")
  via(function() local _ = a[1] end, "metamethod:index")
  via(function() a.x = 1 end, "metamethod:newindex")
  via(function() a[5] = 1 end, "metamethod:newindex")
  via(function() local _ = a + 1 end, "metamethod:add")
  via(function() local _ = a + b end, "metamethod:add")
  via(function() local _ = 2 - a end, "metamethod:sub")
  via(function() local _ = a * 2.5 end, "metamethod:mul")
  via(function() local _ = a / b end, "metamethod:div")
  via(function() local _ = a % 3 end, "metamethod:mod")
  via(function() local _ = a ^ 2 end, "metamethod:pow")
  via(function() local _ = a // 1 end, "metamethod:idiv")
  via(function() local _ = a & 1 end, "metamethod:band")
  via(function() local _ = a | b end, "metamethod:bor")
  via(function() local _ = a ~ 1 end, "metamethod:bxor")
  via(function() local _ = a << 1 end, "metamethod:shl")
  via(function() local _ = a >> 1 end, "metamethod:shr")
  via(function() local _ = ~a end, "metamethod:bnot")
  via(function() local _ = -a end, "metamethod:unm")
  via(function() local _ = #a end, "metamethod:len")
  via(function() local _ = a .. "x" end, "metamethod:concat")
  via(function() local _ = a == b end, "metamethod:eq")
  via(function() local _ = a < b end, "metamethod:order")
  via(function() local _ = a <= b end, "metamethod:order")
  via(function() local _ = a > b end, "metamethod:order")
  via(function() local _ = a < 1 end, "metamethod:order")
  via(function() local _ = a <= 1 end, "metamethod:order")
  -- comparisons with an immediate on the right of ">" and ">=" give no name
  via(function() local _ = a > 1 end, ":nil")
  via(function() local _ = a >= 1 end, ":nil")
  via(function() do local c <close> = a end end, "metamethod:close")
end

-- A string constant called through the string metatable's __call.
do
  local smt = getmetatable("")
  smt.__call = function() local r = callee_name() return r end
  local r = ("abc")()
  smt.__call = nil
  assert(r == "constant:abc", r)
end

-- A finalizer is "__gc".
do
  local R
  setmetatable({}, {__gc = function() R = callee_name() end})
  collectgarbage()
  assert(R == "metamethod:__gc", tostring(R))
end

-- Tracebacks name each level the same way.
do
  local tobj = {}
  function tobj:m() return debug.traceback("msg", 1) end
  local function lf() local r = tobj:m() return r end
  local t = {f = function() local r = lf() return r end}
  function traced_global() local r = t.f() return r end
  local res
  for _ in function() res = traced_global() end do end
  local base = debug.getinfo(1, "l").currentline - 7
  local expected = "msg\nstack traceback:\n" ..
    "\tapi_debug.lua:" .. (base + 1) .. ": in method 'm'\n" ..
    "\tapi_debug.lua:" .. (base + 2) .. ": in upvalue 'lf'\n" ..
    "\tapi_debug.lua:" .. (base + 3) .. ": in field 'f'\n" ..
    "\tapi_debug.lua:" .. (base + 4) .. ": in function 'traced_global'\n" ..
    "\tapi_debug.lua:" .. (base + 6) .. ": in for iterator 'for iterator'\n" ..
    "\tapi_debug.lua:" .. (base + 6) .. ": in main chunk"
  assert(res:sub(1, #expected) == expected, res)
end

-- getinfo fields.
do
  local i = debug.getinfo(print)
  assert(i.what == "C" and i.short_src == "[C]" and i.source == "=[C]")
  assert(i.currentline == -1 and i.linedefined == -1 and i.lastlinedefined == -1)
  assert(i.nups == 0 and i.nparams == 0 and i.isvararg == true)
  assert(i.func == print and i.activelines == nil)
  local main = debug.getinfo(1, "S")
  assert(main.what == "main" and main.short_src == "api_debug.lua" and main.source == "@api_debug.lua")
  assert(main.linedefined == 0)
  local function f(a, b, ...)
    local x = 1
    return x
  end
  local fi = debug.getinfo(f, "Su")
  assert(fi.what == "Lua" and fi.nparams == 2 and fi.isvararg == true and fi.nups == 0)
  assert(fi.lastlinedefined == fi.linedefined + 3)
  local g = function() return f end
  assert(debug.getinfo(g, "u").nups == 1 and debug.getinfo(g, "u").isvararg == false)
  local here = debug.getinfo(1, "l").currentline
  assert(debug.getinfo(1, "l").currentline == here + 1)
  -- activelines: the lines of f that carry code
  local lines = debug.getinfo(f, "L").activelines
  assert(lines[fi.linedefined + 1] and lines[fi.linedefined + 2] and not lines[fi.linedefined - 1])
  -- unknown option letters
  assert(not pcall(debug.getinfo, 1, "X"))
  assert(debug.getinfo(100) == nil)
  -- "f" pushes the running function
  assert(debug.getinfo(1, "f").func ~= nil)
  local function me() return debug.getinfo(1, "f").func end
  assert(me() == me)
end

-- Locals: names, temporaries, varargs, setlocal.
do
  local function f(a, b, ...)
    local c = a + b
    local names = {}
    local i = 1
    while true do
      local n, v = debug.getlocal(1, i)
      if not n then break end
      names[i] = n
      i = i + 1
    end
    assert(names[1] == "a" and names[2] == "b" and names[3] == "c")
    assert(debug.getlocal(1, -1) == "(vararg)")
    assert(select(2, debug.getlocal(1, -2)) == "v2")
    assert(debug.getlocal(1, -3) == nil)
    assert(debug.setlocal(1, -1, "changed") == "(vararg)" and select(1, ...) == "changed")
    assert(debug.setlocal(1, 3, 100) == "c")
    assert(debug.setlocal(1, 200, 1) == nil)
    return c
  end
  assert(f(1, 2, "v1", "v2") == 100)
  -- with a function: parameter names only
  assert(debug.getlocal(f, 1) == "a" and debug.getlocal(f, 2) == "b" and debug.getlocal(f, 3) == nil)
  assert(debug.getlocal(print, 1) == nil)
  -- locals of a C function are temporaries
  local n, v
  string.gsub("subject", "j", function() n, v = debug.getlocal(2, 1) end)
  assert(n == "(C temporary)" and v == "subject", tostring(n))
  -- a Lua temporary: the slot above the named locals while a call is being set up
  local function tmp() local a = 1; local r = {debug.getlocal(1, 2)} return r end
  assert(tmp()[1] == "(temporary)")
end

-- Upvalues.
do
  local u1, u2 = 10, 20
  local function f() return u1 + u2 end
  assert(debug.getupvalue(f, 1) == "u1" and select(2, debug.getupvalue(f, 2)) == 20)
  assert(debug.getupvalue(f, 3) == nil)
  assert(debug.setupvalue(f, 2, 5) == "u2" and u2 == 5 and f() == 15)
  -- C functions: the empty name
  local wrap = coroutine.wrap(function() end)
  assert(debug.getupvalue(wrap, 1) == "")
  assert(debug.getupvalue(print, 1) == nil)
  -- identity and joining
  local function g() return u1 end
  assert(debug.upvalueid(f, 1) == debug.upvalueid(g, 1))
  assert(debug.upvalueid(f, 1) ~= debug.upvalueid(f, 2))
  local x = 99
  local function h() return x end
  debug.upvaluejoin(g, 1, h, 1)
  assert(g() == 99 and debug.upvalueid(g, 1) == debug.upvalueid(h, 1))
end

-- Hooks.
do
  -- count hook with count 1 runs before every instruction
  local n = 0
  debug.sethook(function(ev) n = n + 1 end, "", 1)
  local a = 1
  a = a + 1
  debug.sethook()
  assert(n >= 3, n)
  assert(debug.gethook() == nil)

  -- a line hook fires on every iteration of a loop that spans one line
  local lines = {}
  local loopline = debug.getinfo(1, "l").currentline + 2
  debug.sethook(function(ev, line) if ev == "line" then lines[#lines + 1] = line end end, "l")
  for i = 1, 3 do local _ = i end
  debug.sethook()
  local count = 0
  for _, l in ipairs(lines) do if l == loopline then count = count + 1 end end
  assert(count >= 3, count)

  -- call and return hooks
  local events = {}
  local function target() return 1 end
  debug.sethook(function(ev) events[#events + 1] = ev end, "cr")
  target()
  debug.sethook()
  local calls, rets = 0, 0
  for _, e in ipairs(events) do
    if e == "call" then calls = calls + 1 elseif e == "return" then rets = rets + 1 end
  end
  assert(calls >= 1 and rets >= 1)

  -- transfer information: the arguments at a call, the results at a return
  local log = ""
  local function moved(a, b) return a, b, 3 end
  debug.sethook(function(ev)
    local i = debug.getinfo(2, "rn")
    if i.name == "moved" then log = log .. ev .. ":" .. i.ftransfer .. ":" .. i.ntransfer .. " " end
  end, "cr")
  moved(1, 2)
  debug.sethook()
  assert(log == "call:1:2 return:3:3 ", log)
  local r = debug.getinfo(1, "r")
  assert(r.ftransfer == 0 and r.ntransfer == 0)

  -- gethook reports what was set
  local hf = function() end
  debug.sethook(hf, "crl", 5)
  local f, mask, count2 = debug.gethook()
  debug.sethook()
  assert(f == hf and mask == "crl" and count2 == 5)

  -- a hook function is called by the hooked activation itself: "hook" / "?"
  local who
  debug.sethook(function() who = callee_name() .. " " .. (function()
    local i = debug.getinfo(3, "n") return i.namewhat .. ":" .. tostring(i.name) end)() debug.sethook() end, "l")
  local _ = 1
  debug.sethook()
  assert(who == "hook:? :nil", who)
end

-- The debug interface seen whole: the exact stream of hook events with the names and kinds each
-- activation reports, and every local, temporary and vararg of a frame in order.
do
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
end

print("ok")
