-- The debug library: getinfo, locals, upvalues, metatables, user values, hooks, traceback.

local src = debug.getinfo(1, "S").short_src

local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok, "no error, expected: " .. msg)
  if err ~= msg then
    error(string.format("\n  got      %q\n  expected %q", tostring(err), msg), 2)
  end
end

-- the library table: 16 functions, no setcstacklimit
do
  local n = 0
  for k, v in pairs(debug) do n = n + 1; assert(type(v) == "function", k) end
  assert(n == 16 and debug.setcstacklimit == nil)
end

-- getinfo on functions
do
  local function f(a, b, ...)
    return a
  end
  local info = debug.getinfo(f)
  assert(info.what == "Lua" and info.source == "@" .. src and info.short_src == src)
  assert(info.linedefined == 22 and info.lastlinedefined == 24)
  assert(info.nparams == 2 and info.isvararg == true and info.nups == 0)
  assert(info.func == f and info.currentline == -1)
  assert(info.istailcall == false and info.ftransfer == 0 and info.ntransfer == 0)
  local c = debug.getinfo(print)
  assert(c.what == "C" and c.short_src == "[C]" and c.source == "=[C]")
  assert(c.linedefined == -1 and c.lastlinedefined == -1 and c.currentline == -1)
  assert(c.nparams == 0 and c.isvararg == true and c.func == print)
  -- only the fields asked for
  info = debug.getinfo(f, "S")
  assert(info.what and info.func == nil and info.nparams == nil and info.currentline == nil)
  -- active lines
  local lines = debug.getinfo(f, "L").activelines
  assert(lines[23] and lines[24] and not lines[21] and not lines[25])
  assert(debug.getinfo(print, "L").activelines == nil)
  -- the main chunk
  local main = debug.getinfo(1, "S")
  assert(main.what == "main" and main.linedefined == 0)
end

-- getinfo on levels
do
  local function where() return debug.getinfo(2, "l").currentline end
  assert(where() == 50)
  assert(debug.getinfo(1, "l").currentline == 51)
  assert(debug.getinfo(100) == nil and select("#", debug.getinfo(100)) == 1)
  local function named()
    local i = debug.getinfo(1, "n")
    return i.name, i.namewhat
  end
  local n, w = named()
  assert(n == "named" and w == "local")
  local t = {m = function() local i = debug.getinfo(1, "n"); return i.name, i.namewhat end}
  n, w = t.m()
  assert(n == "m" and (w == "field" or w == "method"))
  n, w = t:m()
  assert(n == "m" and w == "method")
  local function tail() return debug.getinfo(1, "t").istailcall end
  local function caller() return tail() end
  assert(caller() == true)
  -- the level given as a float with an integral value
  assert(debug.getinfo(1.0, "l").currentline == 68)
end

-- invalid options, including '>' which only the library may add
do
  fails(src .. ":74: bad argument #2 to 'getinfo' (invalid option)", function()
    debug.getinfo(1, "X")
  end)
  fails(src .. ":77: bad argument #2 to 'getinfo' (invalid option)", function()
    debug.getinfo(1, ">S")
  end)
  fails(src .. ":80: bad argument #2 to 'getinfo' (invalid option)", function()
    debug.getinfo(print, ">S")
  end)
  fails(src .. ":83: bad argument #2 to 'getinfo' (invalid option)", function()
    debug.getinfo(print, "S?")
  end)
  fails("bad argument #1 to 'debug.getinfo' (number expected, got no value)", debug.getinfo)
  fails("bad argument #1 to 'debug.getinfo' (number expected, got string)", debug.getinfo, "x")
  fails("bad argument #2 to 'debug.getinfo' (string expected, got table)", debug.getinfo, 1, {})
end

-- getlocal / setlocal
do
  local function params(alpha, beta, ...) end
  assert(debug.getlocal(params, 1) == "alpha" and debug.getlocal(params, 2) == "beta")
  assert(debug.getlocal(params, 3) == nil)
  local x, y = 10, 20
  local found = {}
  local i = 1
  while true do
    local n, v = debug.getlocal(1, i)
    if not n then break end
    found[n] = v
    i = i + 1
  end
  assert(found.x == 10 and found.y == 20)
  local function idx(wanted)
    local k = 1
    while true do
      local n = debug.getlocal(2, k)
      if n == wanted then return k end
      k = k + 1
    end
  end
  assert(debug.setlocal(1, idx("x"), 99) == "x" and x == 99)
  assert(debug.setlocal(1, 200, 1) == nil)
  local function va(...) return debug.getlocal(1, -2) end
  local n2, v2 = va("a", "b")
  assert(n2 == "(vararg)" and v2 == "b")
  assert(va("a") == nil)
  fails(src .. ":120: bad argument #1 to 'getlocal' (level out of range)", function()
    debug.getlocal(100, 1)
  end)
  fails(src .. ":123: bad argument #1 to 'setlocal' (level out of range)", function()
    debug.setlocal(100, 1, 0)
  end)
  fails(src .. ":126: bad argument #3 to 'setlocal' (value expected)", function()
    debug.setlocal(1, 1)
  end)
  fails("bad argument #2 to 'debug.getlocal' (number expected, got no value)", debug.getlocal, 1)
end

-- upvalues
do
  local up1, up2 = 1, 2
  local function f() return up1 + up2 end
  assert(debug.getupvalue(f, 1) == "up1" and select(2, debug.getupvalue(f, 2)) == 2)
  assert(debug.getupvalue(f, 3) == nil and select("#", debug.getupvalue(f, 3)) == 0)
  assert(debug.setupvalue(f, 1, 40) == "up1" and up1 == 40 and f() == 42)
  assert(select("#", debug.setupvalue(f, 9, 0)) == 0)
  fails("bad argument #3 to 'debug.setupvalue' (value expected)", debug.setupvalue, f, 1)
  fails("bad argument #1 to 'debug.getupvalue' (function expected, got number)",
        debug.getupvalue, 1, 1)
  -- a C closure's upvalues have empty names
  local w = coroutine.wrap(function() end)
  local name, co = debug.getupvalue(w, 1)
  assert(name == "" and type(co) == "thread")
  assert(debug.getupvalue(print, 1) == nil)
  -- ids and joins
  local function g() return up2 end
  assert(debug.upvalueid(f, 2) == debug.upvalueid(g, 1))
  assert(debug.upvalueid(f, 1) ~= debug.upvalueid(f, 2))
  assert(type(debug.upvalueid(f, 1)) == "userdata")
  assert(debug.upvalueid(f, 5) == nil)
  local other = 100
  local function h() return other end
  debug.upvaluejoin(f, 1, h, 1)
  assert(f() == 102 and debug.upvalueid(f, 1) == debug.upvalueid(h, 1))
  fails("bad argument #2 to 'debug.upvaluejoin' (invalid upvalue index)", debug.upvaluejoin,
        f, 7, h, 1)
  fails("bad argument #4 to 'debug.upvaluejoin' (invalid upvalue index)", debug.upvaluejoin,
        f, 1, h, 7)
  fails("bad argument #1 to 'debug.upvaluejoin' (Lua function expected)", debug.upvaluejoin,
        w, 1, h, 1)
end

-- metatables and user values
do
  assert(debug.getmetatable({}) == nil)
  local mt = {__metatable = "hidden"}
  local t = setmetatable({}, mt)
  assert(getmetatable(t) == "hidden" and debug.getmetatable(t) == mt)
  assert(debug.setmetatable(t, nil) == t and getmetatable(t) == nil)
  fails("bad argument #1 to 'debug.getmetatable' (value expected)", debug.getmetatable)
  fails("bad argument #2 to 'debug.setmetatable' (nil or table expected, got number)",
        debug.setmetatable, {}, 1)
  -- types share a metatable
  debug.setmetatable(true, {__index = {yes = "y"}})
  assert((false).yes == "y")
  debug.setmetatable(false, nil)
  assert(debug.getmetatable(true) == nil)
  -- user values need a full userdata
  assert(debug.getuservalue({}) == nil and select("#", debug.getuservalue({})) == 1)
  assert(debug.getuservalue(1, 2) == nil)
  fails("bad argument #1 to 'debug.setuservalue' (userdata expected, got table)",
        debug.setuservalue, {}, 1)
  -- a typed userdata has no user values
  local ud = userdata("u8", 2)
  local r = table.pack(debug.getuservalue(ud))
  assert(r.n == 1 and r[1] == nil)
  r = table.pack(debug.getuservalue(ud, 0))
  assert(r.n == 1 and r[1] == nil)
  assert(debug.setuservalue(ud, 5) == nil)
  fails("bad argument #2 to 'debug.setuservalue' (value expected)", debug.setuservalue, ud)
  assert(type(debug.getregistry()) == "table")
  assert(debug.getregistry()._LOADED.debug == debug)
end

-- hooks
do
  assert(debug.gethook() == nil)
  local events = {}
  local function hook(ev, line) events[#events + 1] = ev .. ":" .. tostring(line) end
  local base = debug.getinfo(1, "l").currentline
  debug.sethook(hook, "l")
  local a = 1
  a = a + 1
  debug.sethook()
  assert(events[1] == "line:" .. base + 2 and events[2] == "line:" .. base + 3 and
         events[3] == "line:" .. base + 4, table.concat(events, " "))
  assert(#events == 3)
  -- gethook reports function, mask and count
  debug.sethook(hook, "crl", 0)
  local fh, mask, count = debug.gethook()
  debug.sethook()
  assert(fh == hook and mask == "crl" and count == 0)
  -- count hooks see a nil line
  events = {}
  debug.sethook(hook, "", 1)
  local b = 1
  debug.sethook()
  assert(#events > 0 and events[1] == "count:nil", events[1])
  fh, mask, count = debug.gethook()
  assert(fh == nil)
  -- call hooks name the event, tail calls included
  events = {}
  local function leaf() return 1 end
  local function viatail() return leaf() end
  debug.sethook(function(ev) events[#events + 1] = ev end, "c")
  viatail()
  debug.sethook()
  local s = table.concat(events, ",")
  assert(s:find("call,tail call", 1, true), s)
  -- a hook of another thread
  local coline = debug.getinfo(1, "l").currentline + 1
  local co = coroutine.create(function() local z = 1; z = z + 1; return z end)
  local colines = {}
  debug.sethook(co, function(ev, line) colines[#colines + 1] = line end, "l")
  assert(debug.gethook() == nil)
  local gf, gm = debug.gethook(co)
  assert(type(gf) == "function" and gm == "l")
  coroutine.resume(co)
  assert(#colines >= 1 and colines[1] == coline, tostring(colines[1]))
  fails("bad argument #1 to 'debug.sethook' (function expected, got number)", debug.sethook, 1, "l")
  fails("bad argument #2 to 'debug.sethook' (string expected, got no value)", debug.sethook, print)
end

-- traceback
do
  local t = {}
  assert(debug.traceback(t) == t)
  assert(debug.traceback(print) == print)
  local here = debug.getinfo(1, "l").currentline + 1
  local tb = debug.traceback("msg")
  assert(tb:sub(1, 21) == "msg\nstack traceback:\n", tb)
  assert(tb == "msg\nstack traceback:\n\t" .. src .. ":" .. here .. ": in main chunk", tb)
  tb = debug.traceback()
  assert(tb:sub(1, 17) == "stack traceback:\n", tb)
  tb = debug.traceback(nil)
  assert(tb:sub(1, 17) == "stack traceback:\n", tb)
  -- level 0 includes traceback itself
  tb = debug.traceback("m", 0)
  assert(tb:find("^m\nstack traceback:\n\t%[C%]: in function 'debug.traceback'"), tb)
  -- numbers are messages
  assert(debug.traceback(12):sub(1, 3) == "12\n")
  -- another thread starts at its level 0
  local at = src .. ":" .. (debug.getinfo(1, "l").currentline + 1)
  local co = coroutine.create(function() coroutine.yield() end)
  coroutine.resume(co)
  tb = debug.traceback(co)
  assert(tb == "stack traceback:\n\t[C]: in function 'coroutine.yield'\n\t" .. at ..
         ": in function <" .. at .. ">", tb)
  tb = debug.traceback(co, "hdr", 1)
  assert(tb == "hdr\nstack traceback:\n\t" .. at .. ": in function <" .. at .. ">", tb)
  assert(debug.traceback(co, t) == t)
end

print("ok")
