-- args: --budget 1000000000
-- Conformance: debug library.
-- Each case is run as a chunk through load; its results (or its error) are rendered
-- as text and compared with the text the reference Lua 5.4 interpreter gives.
local function ser(v, depth)
  local t = type(v)
  if t == "number" then
    if math.type(v) == "integer" then return "i:" .. tostring(v) end
    if v ~= v then return "f:nan" end
    return "f:" .. string.format("%.17g", v) .. "/" .. tostring(v)
  elseif t == "string" then
    return string.format("%q", (v:gsub('%[string ".-"%]:', ':')))
  elseif t == "table" then
    if (depth or 0) > 1 then return "{...}" end
    local mt = getmetatable(v)
    if mt ~= nil and type(mt) ~= "table" then return "table(protected)" end
    local keys = {}
    for k in next, v do keys[#keys + 1] = k end
    if #keys > 20 then return "{" .. #keys .. " keys}" end
    local parts = {}
    for _, k in ipairs(keys) do parts[#parts + 1] = "[" .. ser(k, 2) .. "]=" .. ser(v[k], (depth or 0) + 1) end
    -- keys come out in table order; sort the rendered pairs by hand (no table.sort here)
    for i = 2, #parts do
      local x, j = parts[i], i - 1
      while j >= 1 and parts[j] > x do parts[j + 1] = parts[j]; j = j - 1 end
      parts[j + 1] = x
    end
    return "{" .. table.concat(parts, ",") .. "}"
  elseif t == "nil" or t == "boolean" then return tostring(v)
  else return t end
end
local function run(src)
  local code
  if src:sub(1, 1) == "!" then code = src:sub(2) else code = "return " .. src end
  local f, err = load(code)
  if not f then return "COMPILE:" .. ser(err) end
  local r = table.pack(pcall(f))
  if not r[1] then return "ERR:" .. ser(r[2]) end
  local out = {}
  for i = 2, r.n do out[#out + 1] = ser(r[i]) end
  return table.concat(out, " ")
end
local function esc(s)
  return (s:gsub("[%c\\]", function(ch) return string.format("\\%03d", ch:byte()) end))
end
local cases = {
  {[=====[!local function f(a, b, ...) return debug.getinfo(1, "nSlu") end local i = f() return i.what, i.linedefined, i.lastlinedefined, i.nparams, i.isvararg, i.namewhat, i.name, i.nups]=====],
   [=====["Lua" i:1 i:1 i:2 true "local" "f" i:1]=====]},
  {[=====[!local i = debug.getinfo(print) return i.what, i.short_src, i.source, i.currentline, i.linedefined, i.nups]=====],
   [=====["C" "[C]" "=[C]" i:-1 i:-1 i:0]=====]},
  {[=====[!return debug.getinfo(100), pcall(debug.getinfo, 1, "X")]=====],
   [=====[nil false "bad argument #2 to 'debug.getinfo' (invalid option)"]=====]},
  {[=====[!return pcall(debug.getinfo, {})]=====],
   [=====[false "bad argument #1 to 'debug.getinfo' (number expected, got table)"]=====]},
  {[=====[!local function f() local x, y = 10, 20 return debug.getlocal(1, 1), debug.getlocal(1, 2) end return f()]=====],
   [=====["x" "y" i:20]=====]},
  {[=====[!local function f(a, b) local c = 3 return debug.getlocal(1, 1), debug.getlocal(1, 3), debug.getlocal(1, 4) end return f(1, 2)]=====],
   [=====["a" "c" "(temporary)" "a"]=====]},
  {[=====[!local function f(a, b) end return debug.getlocal(f, 1), debug.getlocal(f, 2), debug.getlocal(f, 3)]=====],
   [=====["a" "b" nil]=====]},
  {[=====[!local function f(...) return debug.getlocal(1, -1), debug.getlocal(1, -2), debug.getlocal(1, -3) end return f("va1", "va2")]=====],
   [=====["(vararg)" "(vararg)" nil]=====]},
  {[=====[!return pcall(debug.getlocal, 100, 1)]=====],
   [=====[false "bad argument #1 to 'debug.getlocal' (level out of range)"]=====]},
  {[=====[!local function f() local x = 1 debug.setlocal(1, 1, 42) return x end return f()]=====],
   [=====[i:42]=====]},
  {[=====[!local up1, up2 = 1, 2 local function f() return up1 + up2 end return debug.getupvalue(f, 1), debug.getupvalue(f, 2), debug.getupvalue(f, 3)]=====],
   [=====["up1" "up2"]=====]},
  {[=====[!local up = 1 local function f() return up end debug.setupvalue(f, 1, 99) return f(), up]=====],
   [=====[i:99 i:99]=====]},
  {[=====[!local a, b = 1, 2 local function f() return a end local function g() return b end debug.upvaluejoin(f, 1, g, 1) return f()]=====],
   [=====[i:2]=====]},
  {[=====[!local a = 1 local function f() return a end local function g() return a end return debug.upvalueid(f, 1) == debug.upvalueid(g, 1), type(debug.upvalueid(f, 1)), debug.upvalueid(f, 2)]=====],
   [=====[true "userdata" nil]=====]},
  {[=====[!return pcall(debug.upvaluejoin, print, 1, print, 1)]=====],
   [=====[false "bad argument #2 to 'debug.upvaluejoin' (invalid upvalue index)"]=====]},
  {[=====[!return debug.getupvalue(string.gmatch("x", "x"), 1)]=====],
   [=====["" "x"]=====]},
  {[=====[!return debug.getmetatable("x").__index == string, debug.getmetatable(1), pcall(debug.getmetatable)]=====],
   [=====[true nil false "bad argument #1 to 'debug.getmetatable' (value expected)"]=====]},
  {[=====[!local t = setmetatable({}, {__metatable = "locked"}) return type(debug.getmetatable(t))]=====],
   [=====["table"]=====]},
  {[=====[!debug.setmetatable(10, {__index = {twice = function(n) return n * 2 end}}) local r = (5):twice() debug.setmetatable(10, nil) return r]=====],
   [=====[i:10]=====]},
  {[=====[!return pcall(debug.setmetatable, 1, 2)]=====],
   [=====[false "bad argument #2 to 'debug.setmetatable' (nil or table expected, got number)"]=====]},
  {[=====[!return type(debug.getregistry())]=====],
   [=====["table"]=====]},
  {[=====[!return debug.gethook()]=====],
   [=====[nil]=====]},
  {[=====[!local log = {} debug.sethook(function(ev, line) log[#log+1] = ev end, "l") local x = 1 x = 2 debug.sethook() return log[1], #log > 0]=====],
   [=====[nil false]=====]},
  {[=====[!local n = 0 debug.sethook(function(ev, l) n = n + 1 end, "", 100) for i = 1, 1000 do end debug.sethook() return n > 0]=====],
   [=====[true]=====]},
  {[=====[!local calls = {} debug.sethook(function(ev) calls[#calls+1] = ev end, "cr") local function f() end f() debug.sethook() return calls[1], calls[#calls]]=====],
   [=====["return" "call"]=====]},
  {[=====[!debug.sethook(print, "lcr", 5) local f, m, c = debug.gethook() debug.sethook() return f == print, m, c]=====],
   [=====[true "crl" i:5]=====]},
  {[=====[!return debug.traceback("msg"):match("^msg\nstack traceback:\n") ~= nil]=====],
   [=====[true]=====]},
  {[=====[!local co = coroutine.create(function() coroutine.yield() end) coroutine.resume(co) return debug.traceback(co)]=====],
   [=====["stack traceback:\092\010\0929[C]: in function 'coroutine.yield'\092\010\0929:1: in function <:1>"]=====]},
  {[=====[!local co = coroutine.create(function() coroutine.yield() end) coroutine.resume(co) return debug.traceback(co, "m", 1)]=====],
   [=====["m\092\010stack traceback:\092\010\0929:1: in function <:1>"]=====]},
  {[=====[!local function f() return debug.getinfo(1, "n") end local i = f() return i.name, i.namewhat]=====],
   [=====["f" "local"]=====]},
  {[=====[!local t = {} function t.meth() return debug.getinfo(1, "n") end local i = t.meth() return i.name, i.namewhat]=====],
   [=====["meth" "field"]=====]},
  {[=====[!local t = {} function t:meth() return debug.getinfo(1, "n") end local i = t:meth() return i.name, i.namewhat]=====],
   [=====["meth" "method"]=====]},
  {[=====[!glob_fn = function() return debug.getinfo(1, "n") end local i = glob_fn() return i.name, i.namewhat]=====],
   [=====["glob_fn" "global"]=====]},
  {[=====[!local t = setmetatable({}, {__index = function() return debug.getinfo(1, "n") end}) local i = t.x return i.name, i.namewhat]=====],
   [=====["index" "metamethod"]=====]},
  {[=====[!local t = setmetatable({}, {__add = function() return debug.getinfo(1, "n") end}) local i = t + 1 return i.name, i.namewhat]=====],
   [=====["add" "metamethod"]=====]},
  {[=====[!local function f() return debug.getinfo(2, "l").currentline end return f()]=====],
   [=====[i:-1]=====]},
  {[=====[!local i = debug.getinfo(1, "t") return i.istailcall]=====],
   [=====[false]=====]},
  {[=====[!local function g() return debug.getinfo(1, "t").istailcall end local function f() return g() end return f()]=====],
   [=====[true]=====]},
  {[=====[!local function f() return debug.getinfo(1, "f").func end return f() ~= nil]=====],
   [=====[true]=====]},
  {[=====[!local i = debug.getinfo(function() local a = 1]=====],
   [=====[COMPILE:":1: 'end' expected near <eof>"]=====]},
  {[=====[! return a end, "L") local n = 0 for k in pairs(i.activelines) do n = n + 1 end return n]=====],
   [=====[COMPILE:":1: <eof> expected near 'end'"]=====]},
  {[=====[!local function f(...) local a = 1 return debug.getinfo(1, "u").nparams end return f()]=====],
   [=====[i:0]=====]},
  {[=====[!return debug.getinfo(1, "r").ftransfer, debug.getinfo(1, "r").ntransfer]=====],
   [=====[i:0 i:0]=====]},
  {[=====[!local u = debug.getuservalue(1) return u]=====],
   [=====[nil]=====]},
  {[=====[!return debug.getuservalue(io)]=====],
   [=====[nil]=====]},
  {[=====[!local function f() error("E") end local ok, e = pcall(f) return e]=====],
   [=====[":1: E"]=====]},
}
local failed = 0
for i, c in ipairs(cases) do
  local got = esc(run(c[1]))
  if got ~= c[2] then
    failed = failed + 1
    print("case " .. i .. ": " .. c[1])
    print("  expected: " .. c[2])
    print("  got:      " .. got)
  end
end
assert(failed == 0, failed .. " case(s) differ")
print("ok")
