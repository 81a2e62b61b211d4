-- args: --budget 1000000000
-- Conformance: numerals, arithmetic, comparisons, conversions and number formatting.
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
  {[=====[1, 1.0, -0.0, 0x10, 0xA.8p1, 0x.1p4, 0x1p-2, 1e2, .5, 5., 3e-2]=====],
   [=====[i:1 f:1/1.0 f:-0/-0.0 i:16 f:21/21.0 f:1/1.0 f:0.25/0.25 f:100/100.0 f:0.5/0.5 f:5/5.0 f:0.029999999999999999/0.03]=====]},
  {[=====[0xffffffffffffffff, 0x7fffffffffffffff, 9223372036854775807, 9223372036854775808, -9223372036854775808]=====],
   [=====[i:-1 i:9223372036854775807 i:9223372036854775807 f:9.2233720368547758e+18/9.2233720368548e+18 f:-9.2233720368547758e+18/-9.2233720368548e+18]=====]},
  {[=====[math.mininteger, -9223372036854775807 - 1, 0x8000000000000000]=====],
   [=====[i:-9223372036854775808 i:-9223372036854775808 i:-9223372036854775808]=====]},
  {[=====[1e15, 1e16, 1e100, -1e-100, 2^53, 2^63, -2^63, 1/3, 100.0, 123456789012345.0]=====],
   [=====[f:1000000000000000/1e+15 f:10000000000000000/1e+16 f:1e+100/1e+100 f:-1e-100/-1e-100 f:9007199254740992/9.007199254741e+15 f:9.2233720368547758e+18/9.2233720368548e+18 f:-9.2233720368547758e+18/-9.2233720368548e+18 f:0.33333333333333331/0.33333333333333 f:100/100.0 f:123456789012345/1.2345678901234e+14]=====]},
  {[=====[tostring(1e15), tostring(1e16), tostring(-0.0), tostring(2^63), tostring(0.1), tostring(1e300*1e10)]=====],
   [=====["1e+15" "1e+16" "-0.0" "9.2233720368548e+18" "0.1" "inf"]=====]},
  {[=====[string.format("%g %g %g", math.huge, -math.huge, math.huge-math.huge)]=====],
   [=====["inf -inf -nan"]=====]},
  {[=====[string.format("%.3f %5.1f %-5d| %+d %x %X %o %e %E %G", 3.14159, 2.25, 42, 5, 255, 255, 8, 12345.678, 0.00012, 1e-10)]=====],
   [=====["3.142   2.2 42   | +5 ff FF 10 1.234568e+04 1.200000E-04 1E-10"]=====]},
  {[=====[string.format("%a", 1.0), string.format("%5s|%-5s|", "ab", "cd"), string.format("%q", 1/3)]=====],
   [=====["0x1p+0" "   ab|cd   |" "0x1.5555555555555p-2"]=====]},
  {[=====[string.format("%q", "a\0b\r\n\"\\\1272"), string.format("%q", math.mininteger), string.format("%q", 2^63)]=====],
   [=====["\092"a\092\0920b\092\09213\092\092\092\010\092\092\092"\092\092\092\092\092\0921272\092"" "0x8000000000000000" "0x1p+63"]=====]},
  {[=====[string.format("%i", 3.0), pcall(string.format, "%d", 3.5)]=====],
   [=====["3" false "bad argument #2 to 'string.format' (number has no integer representation)"]=====]},
  {[=====[string.format("%c%c%c", 65, 66, 67), string.format("%%"), string.format("%s %s %s", nil, true, 12)]=====],
   [=====["ABC" "%" "nil true 12"]=====]},
  {[=====[string.format("%10.4s|", "abcdefgh"), string.format("%.0f", 0.5), string.format("%.0f", 1.5), string.format("%#x", 255), string.format("%05d", -42)]=====],
   [=====["      abcd|" "0" "2" "0xff" "-0042"]=====]},
  {[=====[string.format("% d", 42), string.format("%#o", 8), string.format("%.14g", 0.1), string.format("%20.10f", math.pi)]=====],
   [=====[" 42" "010" "0.1" "        3.1415926536"]=====]},
  {[=====[string.format("%u", -1)]=====],
   [=====["18446744073709551615"]=====]},
  {[=====[string.format("%q", 255), string.format("%q", -0.0), string.format("%q", "\200\n")]=====],
   [=====["255" "-0x0p+0" "\092"È\092\092\092\010\092""]=====]},
  {[=====[string.format("%s", setmetatable({}, {__tostring = function() return "TT" end}))]=====],
   [=====["TT"]=====]},
  {[=====[pcall(string.format, "%s", setmetatable({}, {__tostring = function() return 1 end}))]=====],
   [=====[true "1"]=====]},
  {[=====[string.format("%s", setmetatable({}, {__name = "MyType"})):match("^MyType: ") ~= nil]=====],
   [=====[true]=====]},
  {[=====[pcall(string.format, "%y", 1)]=====],
   [=====[false "invalid conversion '%y' to 'format'"]=====]},
  {[=====[pcall(string.format, "%-----5d", 1)]=====],
   [=====[true "1    "]=====]},
  {[=====[pcall(string.format, "%10q", 1)]=====],
   [=====[false "specifier '%q' cannot have modifiers"]=====]},
  {[=====[pcall(string.format, "%q", {})]=====],
   [=====[false "bad argument #2 to 'string.format' (value has no literal form)"]=====]},
  {[=====[pcall(string.format, "%d", "x")]=====],
   [=====[false "bad argument #2 to 'string.format' (number expected, got string)"]=====]},
  {[=====[pcall(string.format, "%d", "10"), pcall(string.format, "%x", 2^63)]=====],
   [=====[true false "bad argument #2 to 'string.format' (number has no integer representation)"]=====]},
  {[=====[string.format("%.99f", 1):len()]=====],
   [=====[i:101]=====]},
  {[=====[string.format("%5c|", 65)]=====],
   [=====["    A|"]=====]},
  {[=====[3 // 2, 3.0 // 2, -3 // 2, 3 // -2, -3.5 // 2, 3 % -2, -3 % 2, 3.5 % -2, -3.5 % 2, 5.3 % 2, -0.0 % 1]=====],
   [=====[i:1 f:1/1.0 i:-2 i:-2 f:-2/-2.0 i:-1 i:1 f:-0.5/-0.5 f:0.5/0.5 f:1.2999999999999998/1.3 f:-0/-0.0]=====]},
  {[=====[3 % math.huge, -3 % math.huge, 3 % -math.huge, -3 % -math.huge]=====],
   [=====[f:3/3.0 f:inf/inf f:-inf/-inf f:-3/-3.0]=====]},
  {[=====[math.maxinteger + 1 == math.mininteger, math.mininteger - 1, math.maxinteger * 2, -math.mininteger, math.mininteger // -1, math.mininteger % -1]=====],
   [=====[true i:9223372036854775807 i:-2 i:-9223372036854775808 i:-9223372036854775808 i:0]=====]},
  {[=====[1 << 63, 1 << 64, 1 >> -1, -1 >> 1, -1 >> 63, 1 << -64, 3 & 5, 3 | 5, 3 ~ 5, ~0, 2^-1, 2^0.5]=====],
   [=====[i:-9223372036854775808 i:0 i:2 i:9223372036854775807 i:1 i:0 i:1 i:7 i:6 i:-1 f:0.5/0.5 f:1.4142135623730951/1.4142135623731]=====]},
  {[=====["10" + 1, "3" * "4", "1.5" + 1, -"2", "0x10" + 0, " 10 " + 0, "1e1" * 1, 10 .. 20, 1.5 .. "", -0.0 .. ""]=====],
   [=====[i:11 i:12 f:2.5/2.5 i:-2 i:16 i:10 f:10/10.0 "1020" "1.5" "-0.0"]=====]},
  {[=====[pcall(function() return "abc" + 1 end)]=====],
   [=====[false ":1: attempt to add a 'string' with a 'number'"]=====]},
  {[=====[pcall(function() return {} + 1 end)]=====],
   [=====[false ":1: attempt to perform arithmetic on a table value"]=====]},
  {[=====[pcall(function() return 1 & 1.5 end)]=====],
   [=====[false ":1: number has no integer representation"]=====]},
  {[=====[pcall(function() return "3" & 1 end)]=====],
   [=====[false ":1: attempt to perform bitwise operation on a string value (constant '3')"]=====]},
  {[=====[pcall(function() return 2^63 | 0 end)]=====],
   [=====[false ":1: number has no integer representation"]=====]},
  {[=====[pcall(function() return "a" < 1 end)]=====],
   [=====[false ":1: attempt to compare string with number"]=====]},
  {[=====[pcall(function() return {} < {} end)]=====],
   [=====[false ":1: attempt to compare two table values"]=====]},
  {[=====[pcall(function() return {} < 1 end)]=====],
   [=====[false ":1: attempt to compare table with number"]=====]},
  {[=====[pcall(function() return 1 < "2" end)]=====],
   [=====[false ":1: attempt to compare number with string"]=====]},
  {[=====[pcall(function() return nil .. "x" end)]=====],
   [=====[false ":1: attempt to concatenate a nil value"]=====]},
  {[=====[pcall(function() return -{} end)]=====],
   [=====[false ":1: attempt to perform arithmetic on a table value"]=====]},
  {[=====[pcall(function() return #5 end)]=====],
   [=====[false ":1: attempt to get length of a number value"]=====]},
  {[=====[pcall(function() return ~1.5 end)]=====],
   [=====[false ":1: number has no integer representation"]=====]},
  {[=====[1 == 1.0, 2^53 == 2^53 + 1, math.maxinteger + 0.0 == math.maxinteger, math.maxinteger < math.maxinteger + 0.0, math.mininteger == -2^63, math.mininteger < -2^63]=====],
   [=====[true true false true true false]=====]},
  {[=====[2^53 < 2^53 + 1, (2^53|0) + 1 > 2^53, 9007199254740993 < 2^53 + 1.0, 9007199254740993 > 2^53, 1 < 1.5, 1 <= 0.99, -1 > -1.5]=====],
   [=====[false true false true true false true]=====]},
  {[=====["a" < "b", "a" < "ab", "" < "a", "Z" < "a", "a\0b" < "a\0c", "a\0" > "a"]=====],
   [=====[true true true true true true]=====]},
  {[=====[math.tointeger(3.0), math.tointeger(3.5), math.tointeger("8"), math.tointeger(2^63), math.tointeger(-2^63), math.tointeger("x"), math.tointeger({})]=====],
   [=====[i:3 nil i:8 nil i:-9223372036854775808 nil nil]=====]},
  {[=====[math.type(1), math.type(1.0), math.type("1"), pcall(math.type)]=====],
   [=====["integer" "float" nil false "bad argument #1 to 'math.type' (value expected)"]=====]},
  {[=====[3 | 0, 3.0 | 0, pcall(function() return 3.5 | 0 end)]=====],
   [=====[i:3 i:3 false ":1: number has no integer representation"]=====]},
  {[=====[2^63 // 1, math.floor(2^63), math.floor(-2^63), math.ceil(2^62), math.floor(1e100), math.ceil(-0.5), math.floor(-0.5), math.floor(3), math.ceil(3.0)]=====],
   [=====[f:9.2233720368547758e+18/9.2233720368548e+18 f:9.2233720368547758e+18/9.2233720368548e+18 i:-9223372036854775808 i:4611686018427387904 f:1e+100/1e+100 i:0 i:-1 i:3 i:3]=====]},
  {[=====[math.fmod(7, 3), math.fmod(-7, 3), math.fmod(7, -3), math.fmod(7.5, 2), math.fmod(-7.5, 2), math.fmod(math.mininteger, -1), math.fmod(3, 2.0)]=====],
   [=====[i:1 i:-1 i:1 f:1.5/1.5 f:-1.5/-1.5 i:0 f:1/1.0]=====]},
  {[=====[math.fmod(1, math.huge), math.fmod(math.huge, 1) ~= math.fmod(math.huge, 1)]=====],
   [=====[f:1/1.0 true]=====]},
  {[=====[pcall(math.fmod, 1)]=====],
   [=====[false "bad argument #2 to 'math.fmod' (number expected, got no value)"]=====]},
  {[=====[pcall(math.fmod, "a", 1)]=====],
   [=====[false "bad argument #1 to 'math.fmod' (number expected, got string)"]=====]},
  {[=====[math.modf(3.7), math.modf(-2.5), math.modf(5), math.modf(math.huge), math.modf(-math.huge), math.modf(2^63)]=====],
   [=====[i:3 i:-2 i:5 f:inf/inf f:-inf/-inf f:9.2233720368547758e+18/9.2233720368548e+18 f:0/0.0]=====]},
  {[=====[math.ult(1, 2), math.ult(-1, 2), math.ult(2, -1), math.abs(math.mininteger), math.abs(-0.0), math.abs(-3)]=====],
   [=====[true false true i:-9223372036854775808 f:0/0.0 i:3]=====]},
  {[=====[math.max(1, 2.5, 2), math.min(3, 1.0, 1), math.max(1), pcall(math.max), math.max(1, 1.0), math.min(1.0, 1)]=====],
   [=====[f:2.5/2.5 f:1/1.0 i:1 false i:1 f:1/1.0]=====]},
  {[=====[pcall(math.max, 1, "x")]=====],
   [=====[false "attempt to compare number with string"]=====]},
  {[=====[math.sqrt(16), math.exp(0), math.log(8, 2), math.log(100, 10), math.log(1), math.log(27, 3), math.pi, math.huge, -math.huge]=====],
   [=====[f:4/4.0 f:1/1.0 f:3/3.0 f:2/2.0 f:0/0.0 f:3/3.0 f:3.1415926535897931/3.1415926535898 f:inf/inf f:-inf/-inf]=====]},
  {[=====[math.sin(0), math.cos(0), math.atan(1, 1), math.atan(1), math.deg(math.pi), math.rad(180)]=====],
   [=====[f:0/0.0 f:1/1.0 f:0.78539816339744828/0.78539816339745 f:0.78539816339744828/0.78539816339745 f:180/180.0 f:3.1415926535897931/3.1415926535898]=====]},
  {[=====[math.abs("-3"), pcall(math.abs, "x")]=====],
   [=====[f:3/3.0 false "bad argument #1 to 'math.abs' (number expected, got string)"]=====]},
  {[=====[math.floor("3.7"), pcall(math.floor, "x"), math.ceil("3.2")]=====],
   [=====[i:3 false i:4]=====]},
  {[=====[pcall(math.random, 2, 1)]=====],
   [=====[false "bad argument #1 to 'math.random' (interval is empty)"]=====]},
  {[=====[pcall(math.random, 1, 2, 3)]=====],
   [=====[false "wrong number of arguments"]=====]},
  {[=====[pcall(math.random, 1.5)]=====],
   [=====[false "bad argument #1 to 'math.random' (number has no integer representation)"]=====]},
  {[=====[math.random(3, 3), math.random(5) <= 5, math.random() < 1, math.type(math.random(0))]=====],
   [=====[i:3 true true "integer"]=====]},
  {[=====[math.random(math.mininteger, math.maxinteger) ~= nil]=====],
   [=====[true]=====]},
  {[=====[math.randomseed(42)]=====],
   [=====[i:42 i:0]=====]},
  {[=====[!math.randomseed(42); local a = {math.random(1,100), math.random(1,100), math.random()}; math.randomseed(42); return a[1] == math.random(1,100), a[2] == math.random(1,100), a[3] == math.random()]=====],
   [=====[true true true]=====]},
  {[=====[tonumber("ff", 16), tonumber("zz", 36), tonumber(" 10 ", 10), tonumber("  -ff  ", 16), tonumber("8", 8), tonumber("1e1"), tonumber("0x1p4"), tonumber(" 0x10 "), tonumber("10", 2)]=====],
   [=====[i:255 i:1295 i:10 i:-255 nil f:10/10.0 f:16/16.0 i:16 i:2]=====]},
  {[=====[pcall(tonumber, 10, 16)]=====],
   [=====[false "bad argument #1 to 'tonumber' (string expected, got number)"]=====]},
  {[=====[pcall(tonumber, "10", 1)]=====],
   [=====[false "bad argument #2 to 'tonumber' (base out of range)"]=====]},
  {[=====[pcall(tonumber, "10", 37)]=====],
   [=====[false "bad argument #2 to 'tonumber' (base out of range)"]=====]},
  {[=====[pcall(tonumber)]=====],
   [=====[false "bad argument #1 to 'tonumber' (value expected)"]=====]},
  {[=====[tonumber(nil), tonumber(""), tonumber(" "), tonumber("1 2"), tonumber("1e"), tonumber("0x"), tonumber("inf"), tonumber("nan"), tonumber(".5"), tonumber("5."), tonumber("-.5e1")]=====],
   [=====[nil nil nil nil nil nil nil nil f:0.5/0.5 f:5/5.0 f:-5/-5.0]=====]},
  {[=====[tonumber("0x7fffffffffffffff"), tonumber("0xffffffffffffffffff"), tonumber("9223372036854775808"), tonumber("-9223372036854775808"), tonumber("1" .. string.rep("0", 30))]=====],
   [=====[i:9223372036854775807 i:-1 f:9.2233720368547758e+18/9.2233720368548e+18 i:-9223372036854775808 f:1e+30/1e+30]=====]},
  {[=====[tonumber("10", 36.0), pcall(tonumber, "10", 3.5)]=====],
   [=====[i:36 false "bad argument #2 to 'tonumber' (number has no integer representation)"]=====]},
  {[=====[tonumber("1\0"), tonumber(" +5 "), tonumber("- 5"), tonumber("+-5"), tonumber("0x-1")]=====],
   [=====[nil i:5 nil nil nil]=====]},
  {[=====[tonumber(true), tonumber({}), tonumber(print)]=====],
   [=====[nil nil nil]=====]},
  {[=====[tonumber("7fffffffffffffff", 16), tonumber("ffffffffffffffff", 16), tonumber("1" .. string.rep("0", 20), 10)]=====],
   [=====[i:9223372036854775807 i:-1 i:7766279631452241920]=====]},
  {[=====[tostring(nil), tostring(true), tostring(12), tostring(-12.5), tostring(1e308*10), tostring(-1e308*10)]=====],
   [=====["nil" "true" "12" "-12.5" "inf" "-inf"]=====]},
  {[=====[pcall(tostring)]=====],
   [=====[false "bad argument #1 to 'tostring' (value expected)"]=====]},
  {[=====[2^2, 2^-2, (-2)^2, -2^2, 2^3^2, (2^3)^2, 10 - 2 - 3, 2 * 3 % 4, "a" .. "b" .. "c" == "abc", 1 .. 2 == "12"]=====],
   [=====[f:4/4.0 f:0.25/0.25 f:4/4.0 f:-4/-4.0 f:512/512.0 f:64/64.0 i:5 i:2 true true]=====]},
  {[=====[not nil == true, not 0, 1 and 2, nil and 1, false or nil, nil or false, 1 or error("x"), #"abc" + 1, -2 ^ 2, not 1 == 2]=====],
   [=====[true false i:2 nil nil false i:1 i:4 f:-4/-4.0 false]=====]},
  {[=====[1 < 2 == true, "x" .. 1 + 2, 2 .. 3 ^ 2, 1 + 2 << 1, 1 << 2 + 1, 5 & 3 | 8, 5 ~ 3 & 1, 1 | 2 ~ 3 & 4 << 1 .. ""]=====],
   [=====[ERR:":1: attempt to perform bitwise operation on a string value"]=====]},
  {[=====[3 == 3.0000000000000001, 0.1 + 0.2 == 0.3, 0.1 + 0.2, 100000000000000, 1e14, 2^24, 123e-7]=====],
   [=====[true false f:0.30000000000000004/0.3 i:100000000000000 f:100000000000000/1e+14 f:16777216/16777216.0 f:1.2300000000000001e-05/1.23e-05]=====]},
  {[=====[0xA, 0Xa, 0x.8, 0x8p1, 0xep0, 3.e1, 0e0, 1E+2, 0x1P+4]=====],
   [=====[i:10 i:10 f:0.5/0.5 f:16/16.0 f:14/14.0 f:30/30.0 f:0/0.0 f:100/100.0 f:16/16.0]=====]},
  {[=====["\65\066\x41\u{41}\u{7FF}\u{FFFF}\u{10FFFF}\u{7FFFFFFF}", "a\z]=====],
   [=====[COMPILE:":1: unfinished string near <eof>"]=====]},
  {[=====["\a\b\f\n\r\t\v\\\"\'", '\x7a\122', "\0" .. "x", #"\0\0"]=====],
   [=====["\0927\0928\09212\092\010\09213\0929\09211\092\092\092"'" "zz" "\0920x" i:2]=====]},
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
