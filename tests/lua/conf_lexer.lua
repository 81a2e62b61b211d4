-- args: --budget 1000000000
-- Conformance: lexer (line breaks, long strings, escapes, numerals).
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
  {[=====[!return load("x = 1\r\ny = \r\n")]=====],
   [=====[nil ":3: unexpected symbol near <eof>"]=====]},
  {[=====[!return load("x = 1\n\ry = \n")]=====],
   [=====[nil ":3: unexpected symbol near <eof>"]=====]},
  {[=====[!return load("x = 1\r\ry = \n")]=====],
   [=====[nil ":4: unexpected symbol near <eof>"]=====]},
  {[=====[!return load("return [[\r\na\r\nb]]")()]=====],
   [=====["a\092\010b"]=====]},
  {[=====[!return load("return [[\n\ra]]")()]=====],
   [=====["a"]=====]},
  {[=====[!return load("return [[\r\ra]]")()]=====],
   [=====["\092\010a"]=====]},
  {[=====[!return load("return 'a\\\r\nb'")()]=====],
   [=====["a\092\010b"]=====]},
  {[=====[!return load("return 'a\\\n\rb'")()]=====],
   [=====["a\092\010b"]=====]},
  {[=====[!return load("return 'a\\\r\rb'")()]=====],
   [=====[ERR:":1: attempt to call a nil value"]=====]},
  {[=====[!return load("return 1 -- c")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return 1 --[[ c ]]")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return 1 --[==[ c\n\n ]==] + 1")()]=====],
   [=====[i:2]=====]},
  {[=====[!return load("--\nreturn 2")()]=====],
   [=====[i:2]=====]},
  {[=====[!return load("#!/bin/lua\nreturn 3")]=====],
   [=====[nil ":1: unexpected symbol near '#'"]=====]},
  {[=====[!return load("\n#!x\nreturn 3")]=====],
   [=====[nil ":2: unexpected symbol near '#'"]=====]},
  {[=====[!return load("return '\\z\n\n   x'")()]=====],
   [=====["x"]=====]},
  {[=====[!return load("return '\\x41\\x4a\\x4A'")()]=====],
   [=====["AJJ"]=====]},
  {[=====[!return load("return '\\u{0}\\u{00000041}'")()]=====],
   [=====["\0920A"]=====]},
  {[=====[!return load("return '\\65\\0650'")()]=====],
   [=====["AA0"]=====]},
  {[=====[!return load("return '\\2550'")()]=====],
   [=====["�0"]=====]},
  {[=====[!return load("return '\\x'")]=====],
   [=====[nil ":1: hexadecimal digit expected near ''\092\092x''"]=====]},
  {[=====[!return load("return '\\x4'")]=====],
   [=====[nil ":1: hexadecimal digit expected near ''\092\092x4''"]=====]},
  {[=====[!return load("return '\\u{41'")]=====],
   [=====[nil ":1: missing '}' near ''\092\092u{41''"]=====]},
  {[=====[!return load("return '\\u'")]=====],
   [=====[nil ":1: missing '{' near ''\092\092u''"]=====]},
  {[=====[!return load("return '\\c'")]=====],
   [=====[nil ":1: invalid escape sequence near ''\092\092c'"]=====]},
  {[=====[!return load("return '\\", "=x")]=====],
   [=====[nil "x:1: unfinished string near <eof>"]=====]},
  {[=====[!return load("return 0x10p-1, 0X1P2, 0x.0p0, 0x0.1E, 0xe+1")()]=====],
   [=====[f:8/8.0 f:4/4.0 f:0/0.0 f:0.1171875/0.1171875 i:15]=====]},
  {[=====[!return load("return 1e+1, 1e-1, 1E1, 2.5E-3, .5e1")()]=====],
   [=====[f:10/10.0 f:0.10000000000000001/0.1 f:10/10.0 f:0.0025000000000000001/0.0025 f:5/5.0]=====]},
  {[=====[!return load("return 0x", "=x")]=====],
   [=====[nil "x:1: malformed number near '0x'"]=====]},
  {[=====[!return load("return 1..", "=x")]=====],
   [=====[nil "x:1: malformed number near '1..'"]=====]},
  {[=====[!return load("return 1.5.", "=x")]=====],
   [=====[nil "x:1: malformed number near '1.5.'"]=====]},
  {[=====[!return load("return 0xfffffffffffffffff")()]=====],
   [=====[i:-1]=====]},
  {[=====[!return load("return 18446744073709551615, 18446744073709551616")()]=====],
   [=====[f:1.8446744073709552e+19/1.844674407371e+19 f:1.8446744073709552e+19/1.844674407371e+19]=====]},
  {[=====[!return load("return 1e400, -1e400, 1e-400")()]=====],
   [=====[f:inf/inf f:-inf/-inf f:0/0.0]=====]},
  {[=====[!return load("return 00012, 0012.5, 1.e1")()]=====],
   [=====[i:12 f:12.5/12.5 f:10/10.0]=====]},
  {[=====[!return load("return a.and")]=====],
   [=====[nil ":1: <name> expected near 'and'"]=====]},
  {[=====[!return load("return goto")]=====],
   [=====[nil ":1: unexpected symbol near 'goto'"]=====]},
  {[=====[!return load("local function f() end f = 1 return f")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return [=[]=], [[]], '', \"\"")()]=====],
   [=====["" "" "" ""]=====]},
  {[=====[!return load("return [==[\n]==]")()]=====],
   [=====[""]=====]},
  {[=====[!return load("return [==[\n\n]==]")()]=====],
   [=====["\092\010"]=====]},
  {[=====[!return load("return 'é'")()]=====],
   [=====["é"]=====]},
  {[=====[!return load("local ã = 1")]=====],
   [=====[nil ":1: <name> expected near '<\092\092195>'"]=====]},
  {[=====[!return load("return \"\\\"\", '\\'', '\\\\'")()]=====],
   [=====["\092"" "'" "\092\092"]=====]},
  {[=====[!return load("x = 1 y = 2 return x + y")()]=====],
   [=====[i:3]=====]},
  {[=====[!return load("return(1)")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return{1}")()[1]]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return'a'..'b'")()]=====],
   [=====["ab"]=====]},
  {[=====[!return load("local a=1;local b=a+1;return b")()]=====],
   [=====[i:2]=====]},
  {[=====[!return load("return 1 == 1, 1 ~= 2, 1 ~=2, 1~=2")()]=====],
   [=====[true true true true]=====]},
  {[=====[!return load("return 2//1, 2/ /1")]=====],
   [=====[nil ":1: unexpected symbol near '/'"]=====]},
  {[=====[!return load("return 1 < = 2")]=====],
   [=====[nil ":1: unexpected symbol near '='"]=====]},
  {[=====[!return load("return a [1]")]=====],
   [=====[function]=====]},
  {[=====[!return load("a = {} a\n[1] = 2 return a[1]")()]=====],
   [=====[i:2]=====]},
  {[=====[!return load("local f = print\n(f)('x')")]=====],
   [=====[function]=====]},
  {[=====[!return load("return ...")(1, 2, 3)]=====],
   [=====[i:1 i:2 i:3]=====]},
  {[=====[!return load(string.rep(" ", 1000) .. "return 1")()]=====],
   [=====[i:1]=====]},
  {[=====[!return load("return " .. string.rep("x", 1000))]=====],
   [=====[function]=====]},
  {[=====[!return load("return '" .. string.rep("x", 100000) .. "'")():len()]=====],
   [=====[i:100000]=====]},
  {[=====[!return load("return [[" .. string.rep("]", 1000) .. "]]")]=====],
   [=====[nil ":1: <eof> expected near ']'"]=====]},
  {[=====[!return load("\0")]=====],
   [=====[nil ":1: unexpected symbol"]=====]},
  {[=====[!return load("return 1\0")]=====],
   [=====[nil ":1: <eof> expected"]=====]},
  {[=====[!return load("return '\0'")():byte()]=====],
   [=====[i:0]=====]},
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
