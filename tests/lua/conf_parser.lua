-- args: --budget 1000000000
-- Conformance: parser error messages and expression precedence.
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
  {[=====[!return load("x = ")]=====],
   [=====[nil ":1: unexpected symbol near <eof>"]=====]},
  {[=====[!return load("x = 1 +")]=====],
   [=====[nil ":1: unexpected symbol near <eof>"]=====]},
  {[=====[!return load("local 1 = 2")]=====],
   [=====[nil ":1: <name> expected near '1'"]=====]},
  {[=====[!return load("return return")]=====],
   [=====[nil ":1: unexpected symbol near 'return'"]=====]},
  {[=====[!return load("if x then")]=====],
   [=====[nil ":1: 'end' expected near <eof>"]=====]},
  {[=====[!return load("if x then else elseif y then end")]=====],
   [=====[nil ":1: 'end' expected near 'elseif'"]=====]},
  {[=====[!return load("for i in do end")]=====],
   [=====[nil ":1: unexpected symbol near 'do'"]=====]},
  {[=====[!return load("for 1 = 1, 2 do end")]=====],
   [=====[nil ":1: <name> expected near '1'"]=====]},
  {[=====[!return load("for i, j = 1, 2 do end")]=====],
   [=====[nil ":1: 'in' expected near '='"]=====]},
  {[=====[!return load("function f(a, 1) end")]=====],
   [=====[nil ":1: <name> or '...' expected near '1'"]=====]},
  {[=====[!return load("function f(..., a) end")]=====],
   [=====[nil ":1: ')' expected near ','"]=====]},
  {[=====[!return load("local function f() return ... end")]=====],
   [=====[nil ":1: cannot use '...' outside a vararg function near '...'"]=====]},
  {[=====[!return load("x = ... ")]=====],
   [=====[function]=====]},
  {[=====[!return load("(x) = 1")]=====],
   [=====[nil ":1: syntax error near '='"]=====]},
  {[=====[!return load("x() = 1")]=====],
   [=====[nil ":1: syntax error near '='"]=====]},
  {[=====[!return load("x, y() = 1, 2")]=====],
   [=====[nil ":1: syntax error near '='"]=====]},
  {[=====[!return load("a.b:c = 1")]=====],
   [=====[nil ":1: function arguments expected near '='"]=====]},
  {[=====[!return load("return 1 2")]=====],
   [=====[nil ":1: <eof> expected near '2'"]=====]},
  {[=====[!return load("return (1")]=====],
   [=====[nil ":1: ')' expected near <eof>"]=====]},
  {[=====[!return load("return {1, 2")]=====],
   [=====[nil ":1: '}' expected near <eof>"]=====]},
  {[=====[!return load("return f(1, 2")]=====],
   [=====[nil ":1: ')' expected near <eof>"]=====]},
  {[=====[!return load("while true do")]=====],
   [=====[nil ":1: 'end' expected near <eof>"]=====]},
  {[=====[!return load("repeat x = 1")]=====],
   [=====[nil ":1: 'until' expected near <eof>"]=====]},
  {[=====[!return load("x = 'abc\ndef'")]=====],
   [=====[nil ":1: unfinished string near ''abc'"]=====]},
  {[=====[!return load("x = \"abc")]=====],
   [=====[nil ":1: unfinished string near <eof>"]=====]},
  {[=====[!return load("x = [==[abc]=]")]=====],
   [=====[nil ":1: unfinished long string (starting at line 1) near <eof>"]=====]},
  {[=====[!return load("x = 0xg")]=====],
   [=====[nil ":1: malformed number near '0xg'"]=====]},
  {[=====[!return load("x = 1.5e+")]=====],
   [=====[nil ":1: malformed number near '1.5e+'"]=====]},
  {[=====[!return load("x = 3x")]=====],
   [=====[nil ":1: malformed number near '3x'"]=====]},
  {[=====[!return load("x = 0x1p")]=====],
   [=====[nil ":1: malformed number near '0x1p'"]=====]},
  {[=====[!return load("x = ~= 1")]=====],
   [=====[nil ":1: unexpected symbol near '~='"]=====]},
  {[=====[!return load("x = '\\xg0'")]=====],
   [=====[nil ":1: hexadecimal digit expected near ''\092\092xg'"]=====]},
  {[=====[!return load("x = '\\u{}'")]=====],
   [=====[nil ":1: hexadecimal digit expected near ''\092\092u{}'"]=====]},
  {[=====[!return load("x = '\\u{80000000}'")]=====],
   [=====[nil ":1: UTF-8 value too large near ''\092\092u{80000000'"]=====]},
  {[=====[!return load("x = '\\u123'")]=====],
   [=====[nil ":1: missing '{' near ''\092\092u1'"]=====]},
  {[=====[!return load("x = '\\256'")]=====],
   [=====[nil ":1: decimal escape too large near ''\092\092256''"]=====]},
  {[=====[!return load("x = '\\9999'")]=====],
   [=====[nil ":1: decimal escape too large near ''\092\0929999'"]=====]},
  {[=====[!return load("goto continue")]=====],
   [=====[nil ":1: no visible label 'continue' for <goto> at line 1"]=====]},
  {[=====[!return load("do local x; goto l; local y; ::l:: y = 1 end")]=====],
   [=====[nil ":1: <goto l> at line 1 jumps into the scope of local 'y'"]=====]},
  {[=====[!return load("local x <close> = nil; goto l; ::l::")]=====],
   [=====[function]=====]},
  {[=====[!return load("::l:: do goto l end")]=====],
   [=====[function]=====]},
  {[=====[!return load("do ::l:: end goto l")]=====],
   [=====[nil ":1: no visible label 'l' for <goto> at line 1"]=====]},
  {[=====[!return load("break")]=====],
   [=====[nil ":1: break outside loop at line 1"]=====]},
  {[=====[!return load("if x then break end")]=====],
   [=====[nil ":1: break outside loop at line 1"]=====]},
  {[=====[!return load("for i = 1, 2 do ::l:: ::l:: end")]=====],
   [=====[nil ":1: label 'l' already defined on line 1"]=====]},
  {[=====[!return load("::l:: for i = 1, 2 do ::l:: end")]=====],
   [=====[nil ":1: label 'l' already defined on line 1"]=====]},
  {[=====[!return load("local a <const> = 1; a = 2")]=====],
   [=====[nil ":1: attempt to assign to const variable 'a'"]=====]},
  {[=====[!return load("local a <const> = 1; local function f() a = 2 end")]=====],
   [=====[nil ":1: attempt to assign to const variable 'a'"]=====]},
  {[=====[!return load("local a <close> = 1; a = 2")]=====],
   [=====[nil ":1: attempt to assign to const variable 'a'"]=====]},
  {[=====[!return load("local a <xyz> = 1")]=====],
   [=====[nil ":1: unknown attribute 'xyz'"]=====]},
  {[=====[!return load("local a <const>, b <close>, c <close> = 1, 2, 3")]=====],
   [=====[nil ":1: multiple to-be-closed variables in local list"]=====]},
  {[=====[!return load("return function() local a <const> = 1 return function() a = 1 end end")]=====],
   [=====[nil ":1: attempt to assign to const variable 'a'"]=====]},
  {[=====[!return load("x = }")]=====],
   [=====[nil ":1: unexpected symbol near '}'"]=====]},
  {[=====[!return load("x = 1 end")]=====],
   [=====[nil ":1: <eof> expected near 'end'"]=====]},
  {[=====[!return load("end")]=====],
   [=====[nil ":1: <eof> expected near 'end'"]=====]},
  {[=====[!return load("local t = {x = }")]=====],
   [=====[nil ":1: unexpected symbol near '}'"]=====]},
  {[=====[!return load("local t = {[1] = }")]=====],
   [=====[nil ":1: unexpected symbol near '}'"]=====]},
  {[=====[!return load("local t = {= 1}")]=====],
   [=====[nil ":1: unexpected symbol near '='"]=====]},
  {[=====[!return load("f{}.x = 1") ~= nil]=====],
   [=====[true]=====]},
  {[=====[!return load("f''.x = 1") ~= nil]=====],
   [=====[true]=====]},
  {[=====[!return load("a = b = c")]=====],
   [=====[nil ":1: unexpected symbol near '='"]=====]},
  {[=====[!return load("local function() end")]=====],
   [=====[nil ":1: <name> expected near '('"]=====]},
  {[=====[!return load("function a.b.c:d.e() end")]=====],
   [=====[nil ":1: '(' expected near '.'"]=====]},
  {[=====[!return load("return a:b")]=====],
   [=====[nil ":1: function arguments expected near <eof>"]=====]},
  {[=====[!return load("return a:b.c()")]=====],
   [=====[nil ":1: function arguments expected near '.'"]=====]},
  {[=====[!return load("x = 1 -- comment\n y = ")]=====],
   [=====[nil ":2: unexpected symbol near <eof>"]=====]},
  {[=====[!return load("\n\n\n x = ")]=====],
   [=====[nil ":4: unexpected symbol near <eof>"]=====]},
  {[=====[!return load("x = [[\n\n\n")]=====],
   [=====[nil ":4: unfinished long string (starting at line 1) near <eof>"]=====]},
  {[=====[!return load("x = '\n")]=====],
   [=====[nil ":1: unfinished string near '''"]=====]},
  {[=====[!return load("--[[\n\n")]=====],
   [=====[nil ":3: unfinished long comment (starting at line 1) near <eof>"]=====]},
  {[=====[!return load("return 1..2")]=====],
   [=====[nil ":1: malformed number near '1..2'"]=====]},
  {[=====[!return load("return 1 .. 2")()]=====],
   [=====["12"]=====]},
  {[=====[!return load("return 0x1.8p1, 0x.1, 0x1., 1e-0")()]=====],
   [=====[f:3/3.0 f:0.0625/0.0625 f:1/1.0 f:1/1.0]=====]},
  {[=====[!return load("return 2^-1, -2^-2, 2^2^3, -3^2, not 1 == nil")()]=====],
   [=====[f:0.5/0.5 f:-0.25/-0.25 f:256/256.0 f:-9/-9.0 false]=====]},
  {[=====[!return load("return 'a' < 'b' == true")()]=====],
   [=====[true]=====]},
  {[=====[!return load("return 1 .. 2 .. 3")()]=====],
   [=====["123"]=====]},
  {[=====[!return load("return (...)", "=x")(1, 2)]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return #'abc' + 1, -#'ab', - - 2, not not nil")()]=====],
   [=====[i:4 i:-2 i:2 false]=====]},
  {[=====[!return load("return ~5, ~~5, - ~5, ~-5")()]=====],
   [=====[i:-6 i:5 i:6 i:4]=====]},
  {[=====[!return load("return 7 // 2 * 2, 7 % 3 ^ 2, 2 * 3 ^ 2, -2 ^ 2")()]=====],
   [=====[i:6 f:7/7.0 f:18/18.0 f:-4/-4.0]=====]},
  {[=====[!return load("return 1 < 2 and 2 < 3, 1 == 1 ~= false, 1 or 2 and nil")()]=====],
   [=====[true true i:1]=====]},
  {[=====[!return load("return 3 .. 4 == '34', 'a' .. 'b' == 'ab' and 1")()]=====],
   [=====[true i:1]=====]},
  {[=====[!return load("return 1 << 2 + 3, (1 << 2) + 3, 1 | 2 & 3, 5 ~ 3 | 1, 1 .. 2 << 1")()]=====],
   [=====[ERR:":1: attempt to perform bitwise operation on a string value"]=====]},
  {[=====[!return load("local a = {} a.x = 1 a['y'] = 2 return a.x + a.y")()]=====],
   [=====[i:3]=====]},
  {[=====[!return load("local s = 0 for i = 1, 10 do if i % 2 == 0 then goto c end s = s + i ::c:: end return s")()]=====],
   [=====[i:25]=====]},
  {[=====[!return load("local x = 0 while x < 10 do x = x + 1 if x == 5 then break end end return x")()]=====],
   [=====[i:5]=====]},
  {[=====[!return load("return function(a, b, ...) return a, b, select('#', ...) end")()(1)]=====],
   [=====[i:1 nil i:0]=====]},
  {[=====[!return load("local a = 5 local function f() return a end a = 6 return f()")()]=====],
   [=====[i:6]=====]},
  {[=====[!return load("local t = {f = function(self, x) return x end} return t:f(3), t.f(t, 4)")()]=====],
   [=====[i:3 i:4]=====]},
  {[=====[!return load("return ('%d'):rep(2)")()]=====],
   [=====["%d%d"]=====]},
  {[=====[!return load("return #{n = 1, 1, 2; 3}")()]=====],
   [=====[i:3]=====]},
  {[=====[!return load("local a, b, c = 1 return a, b, c")()]=====],
   [=====[i:1 nil nil]=====]},
  {[=====[!return load("return (function(...) return select('#', ...) end)(nil, nil, nil)")()]=====],
   [=====[i:3]=====]},
  {[=====[!return load("local x = 1; do local x = 2 end return x")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load("local function f(n) if n <= 1 then return 1 end return n * f(n - 1) end return f(20)")()]=====],
   [=====[i:2432902008176640000]=====]},
  {[=====[!return load("local f = function(n) return n end return f(1), f'x', f{1}[1], f[[y]]")()]=====],
   [=====[i:1 "x" i:1 "y"]=====]},
  {[=====[!return load("return 0xA, 0XFF, 0x7FFFFFFF, 1e308, 0.1e-5")()]=====],
   [=====[i:10 i:255 i:2147483647 f:1e+308/1e+308 f:9.9999999999999995e-07/1e-06]=====]},
  {[=====[!return load("return 'x':rep(2)")]=====],
   [=====[nil ":1: <eof> expected near ':'"]=====]},
  {[=====[!return load("return {}.x")]=====],
   [=====[nil ":1: <eof> expected near '.'"]=====]},
  {[=====[!return load("return ('x'):rep(2)")()]=====],
   [=====["xx"]=====]},
  {[=====[!return load("return #'\\0\\0\\0'")()]=====],
   [=====[i:3]=====]},
  {[=====[!return load("x = 1; ; ; return x")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load(";;;")() ]=====],
   [=====[]=====]},
  {[=====[!return load("return;")()]=====],
   [=====[]=====]},
  {[=====[!return load("return 1;")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return 1; x = 2")]=====],
   [=====[nil ":1: <eof> expected near 'x'"]=====]},
  {[=====[!return load("do return end x = 1")]=====],
   [=====[function]=====]},
  {[=====[!return load("local x = 1 return x x = 2")]=====],
   [=====[nil ":1: <eof> expected near 'x'"]=====]},
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
