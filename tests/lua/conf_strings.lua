-- args: --budget 1000000000
-- Conformance: string library (find, match, gsub, gmatch, rep, byte, char, sub, format, pack).
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
  {[=====[string.find("hello world", "o w"), string.find("hello", "l"), string.find("hello", "l", 4), string.find("hello", "l", -1), string.find("hello", "", 10), string.find("hello", "", 6), string.find("hello", "", 5)]=====],
   [=====[i:5 i:3 i:4 nil nil i:6 i:5 i:4]=====]},
  {[=====[string.find("a.b", ".", 1, true), string.find("a+b", "+", 1, true), string.find("abc", "b", -100), string.find("", ""), string.find("", "", 1), string.find("", "", 2)]=====],
   [=====[i:2 i:2 i:2 i:1 i:1 nil]=====]},
  {[=====[string.find("hello", "(l)(l)"), string.find("hello", "()ll()"), string.match("hello", "()ll()"), string.match("key = value", "(%w+)%s*=%s*(%w+)")]=====],
   [=====[i:3 i:3 i:3 "key" "value"]=====]},
  {[=====[string.match("THE (quick) fox", "%((%a+)%)"), string.match("  trim  ", "^%s*(.-)%s*$"), string.match("abc", "^b"), string.match("abc", "c$"), string.match("a$c", "$c")]=====],
   [=====["quick" "trim" nil "c" "$c"]=====]},
  {[=====[string.match("f(a(b)c)d", "%b()"), string.match("THE (quick) fox", "%f[%a]%a+", 5), string.gsub("THE (quick) fox", "%f[%a]%a+", "W"), string.match("x", "%f[%z]")]=====],
   [=====["(a(b)c)" "quick" "W (W) W" ""]=====]},
  {[=====[string.gsub("hello world", "o", "0"), string.gsub("hello world", "o", "0", 1), string.gsub("abc", "", "-"), string.gsub("abc", ".", {a = 1, b = true}), string.gsub("abc", "%w", "%0%0")]=====],
   [=====[ERR:":1: invalid replacement value (a boolean)"]=====]},
  {[=====[string.gsub("hello world", "(%w+)", "<%1>"), string.gsub("abc", "b*", "X"), string.gsub("hello", "l+", function(x) return #x end), string.gsub("abc", "(a)(b)(c)", "%3%2%1")]=====],
   [=====["<hello> <world>" "XaXcX" "he2o" "cba" i:1]=====]},
  {[=====[string.gsub("abc", ".", function() return nil end), string.gsub("abc", ".", function() return false end), string.gsub("a b c", " ", "%%")]=====],
   [=====["abc" "abc" "a%b%c" i:2]=====]},
  {[=====[pcall(string.gsub, "abc", ".", "%2")]=====],
   [=====[false "invalid capture index %2"]=====]},
  {[=====[pcall(string.gsub, "abc", ".", "%x")]=====],
   [=====[false "invalid use of '%' in replacement string"]=====]},
  {[=====[pcall(string.gsub, "abc", ".", function() return {} end)]=====],
   [=====[false "invalid replacement value (a table)"]=====]},
  {[=====[pcall(string.gsub, "abc", ".", true)]=====],
   [=====[false "bad argument #3 to 'string.gsub' (string/function/table expected, got boolean)"]=====]},
  {[=====[pcall(string.gsub, "abc", "(", "x")]=====],
   [=====[true "xaxbxcx" i:4]=====]},
  {[=====[pcall(string.gsub, "abc", "%", "x")]=====],
   [=====[false "malformed pattern (ends with '%')"]=====]},
  {[=====[pcall(string.gsub, "abc", "[a", "x")]=====],
   [=====[false "malformed pattern (missing ']')"]=====]},
  {[=====[pcall(string.gsub, "abc", "%b", "x")]=====],
   [=====[false "malformed pattern (missing arguments to '%b')"]=====]},
  {[=====[pcall(string.gsub, "abc", "%f", "x")]=====],
   [=====[false "missing '[' after '%f' in pattern"]=====]},
  {[=====[pcall(string.gsub, "abc", "(()", "x")]=====],
   [=====[true "xaxbxcx" i:4]=====]},
  {[=====[pcall(string.gsub, "abc", "a)", "x")]=====],
   [=====[false "invalid pattern capture"]=====]},
  {[=====[pcall(string.find, "abc", "%1")]=====],
   [=====[false "invalid capture index %1"]=====]},
  {[=====[pcall(string.match, "", string.rep("a*", 250))]=====],
   [=====[true ""]=====]},
  {[=====[string.match("", string.rep("a*", 150))]=====],
   [=====[""]=====]},
  {[=====[pcall(string.match, "a", string.rep("(a)", 33))]=====],
   [=====[true nil]=====]},
  {[=====[string.gsub("abc", "^a", "X"), string.gsub("aaa", "^a", "X"), string.gsub("hello world", "%w+$", "X"), string.gsub("x", "x*", "-")]=====],
   [=====["Xbc" "Xaa" "hello X" "-" i:1]=====]},
  {[=====[string.gsub("abc", "", "", 0), string.gsub("abc", "b", "B", -1), string.gsub("αβ", "[\128-\255]", "?")]=====],
   [=====["abc" "abc" "????" i:4]=====]},
  {[=====[!local r = {} for k, v in string.gmatch("a=1, b=2", "(%w+)=(%w+)") do r[#r+1] = k .. v end return table.concat(r, ",")]=====],
   [=====["a1,b2"]=====]},
  {[=====[!local r = {} for w in string.gmatch("one two  three", "%a+") do r[#r+1] = w end return table.concat(r, "|")]=====],
   [=====["one|two|three"]=====]},
  {[=====[!local r = {} for w in string.gmatch("abc", "") do r[#r+1] = "x" end return #r]=====],
   [=====[i:4]=====]},
  {[=====[!local r = {} for a, b in string.gmatch("abc", "()(.)") do r[#r+1] = a .. b end return table.concat(r, ",")]=====],
   [=====["1a,2b,3c"]=====]},
  {[=====[!local r = {} for w in string.gmatch("^a^a", "^a") do r[#r+1] = w end return #r]=====],
   [=====[i:2]=====]},
  {[=====[!local r = {} for w in string.gmatch("hello world", "%a+", 3) do r[#r+1] = w end return table.concat(r, ",")]=====],
   [=====["llo,world"]=====]},
  {[=====[!local r = {} for w in string.gmatch("hello", "l*") do r[#r+1] = "[" .. w .. "]" end return table.concat(r)]=====],
   [=====["[][][ll][]"]=====]},
  {[=====[string.rep("x", 3, ","), string.rep("x", 0), string.rep("x", -1), string.rep("ab", 3), string.rep("", 5, ""), string.rep("a", 1, ",")]=====],
   [=====["x,x,x" "" "" "ababab" "" "a"]=====]},
  {[=====[pcall(string.rep, "ab", 2^30)]=====],
   [=====[false "resulting string too large"]=====]},
  {[=====[pcall(string.rep, "x", 1e10)]=====],
   [=====[false "resulting string too large"]=====]},
  {[=====[string.byte("abc"), string.byte("abc", 2), string.byte("abc", -1), string.byte("abc", 1, -1), string.byte("abc", 10), string.byte("abc", 0), string.byte("", 1)]=====],
   [=====[i:97 i:98 i:99 i:97 nil nil]=====]},
  {[=====[string.char(), string.char(72, 105), pcall(string.char, 256)]=====],
   [=====["" "Hi" false "bad argument #1 to 'string.char' (value out of range)"]=====]},
  {[=====[pcall(string.char, -1)]=====],
   [=====[false "bad argument #1 to 'string.char' (value out of range)"]=====]},
  {[=====[pcall(string.char, "a")]=====],
   [=====[false "bad argument #1 to 'string.char' (number expected, got string)"]=====]},
  {[=====[string.sub("hello", 2, 4), string.sub("hello", -3), string.sub("hello", 0), string.sub("hello", 10), string.sub("hello", 2, 1), string.sub("hello", -100, 2), string.sub("hello", 3, -3), string.sub("hello", math.mininteger, math.maxinteger)]=====],
   [=====["ell" "llo" "hello" "" "" "he" "l" "hello"]=====]},
  {[=====[string.sub("hello", 2.0), pcall(string.sub, "hello", 2.5)]=====],
   [=====["ello" false "bad argument #2 to 'string.sub' (number has no integer representation)"]=====]},
  {[=====[pcall(string.sub, "hello", "x")]=====],
   [=====[false "bad argument #2 to 'string.sub' (number expected, got string)"]=====]},
  {[=====[pcall(string.sub)]=====],
   [=====[false "bad argument #1 to 'string.sub' (string expected, got no value)"]=====]},
  {[=====[string.len("\0a"), ("x"):upper(), string.lower("ÀBC"), string.reverse("abc"), string.reverse(""), #string.format("%s", "a\0b")]=====],
   [=====[i:2 "X" "Àbc" "cba" "" i:3]=====]},
  {[=====[("abc"):len(), (5):type(), ("%d"):format(5)]=====],
   [=====[ERR:":1: attempt to index a number value"]=====]},
  {[=====[!return ("x").y]=====],
   [=====[nil]=====]},
  {[=====[pcall(string.len, nil)]=====],
   [=====[false "bad argument #1 to 'string.len' (string expected, got nil)"]=====]},
  {[=====[pcall(string.len, {})]=====],
   [=====[false "bad argument #1 to 'string.len' (string expected, got table)"]=====]},
  {[=====[pcall(("x").rep)]=====],
   [=====[false "bad argument #1 to 'string.rep' (string expected, got no value)"]=====]},
  {[=====[string.upper(12), string.len(123), string.len(1.5)]=====],
   [=====["12" i:3 i:3]=====]},
  {[=====[string.pack("i4", 100):byte(1, -1), string.unpack("i4", string.pack("i4", -2)), string.packsize("i4i8"), string.packsize("!i4i8"), string.pack(">I2", 258):byte(1, -1)]=====],
   [=====[i:100 i:-2 i:12 i:16 i:1 i:2]=====]},
  {[=====[string.pack("z", "ab"), string.pack("s1", "ab"), string.unpack("z", "ab\0cd"), string.unpack("s1", "\2abx"), string.pack("c5", "ab"), string.unpack("c2", "abcd")]=====],
   [=====["ab\0920" "\0922ab" "ab" "ab" "ab\0920\0920\0920" "ab" i:3]=====]},
  {[=====[string.pack("<d", 1.5):byte(1, -1), string.unpack("<f", string.pack("<f", 0.5)), string.unpack("b", "\255"), string.unpack("B", "\255"), string.unpack("h", "\1\2")]=====],
   [=====[i:0 f:0.5/0.5 i:-1 i:255 i:513 i:3]=====]},
  {[=====[pcall(string.pack, "i3", 8388608)]=====],
   [=====[false "bad argument #2 to 'string.pack' (integer overflow)"]=====]},
  {[=====[pcall(string.pack, "I1", 256)]=====],
   [=====[false "bad argument #2 to 'string.pack' (unsigned overflow)"]=====]},
  {[=====[pcall(string.pack, "I1", -1)]=====],
   [=====[false "bad argument #2 to 'string.pack' (unsigned overflow)"]=====]},
  {[=====[pcall(string.packsize, "s")]=====],
   [=====[false "bad argument #1 to 'string.packsize' (variable-length format)"]=====]},
  {[=====[pcall(string.packsize, "z")]=====],
   [=====[false "bad argument #1 to 'string.packsize' (variable-length format)"]=====]},
  {[=====[pcall(string.unpack, "z", "abc")]=====],
   [=====[false "bad argument #2 to 'string.unpack' (unfinished string for format 'z')"]=====]},
  {[=====[string.unpack("i16", string.rep("\255", 16))]=====],
   [=====[i:-1 i:17]=====]},
  {[=====[pcall(string.unpack, "i16", string.rep("\255", 8) .. string.rep("\0", 8))]=====],
   [=====[false "16-byte integer does not fit into Lua Integer"]=====]},
  {[=====[pcall(string.unpack, "i4", "abc")]=====],
   [=====[false "bad argument #2 to 'string.unpack' (data string too short)"]=====]},
  {[=====[pcall(string.unpack, "i4", "abcd", 6)]=====],
   [=====[false "bad argument #3 to 'string.unpack' (initial position out of string)"]=====]},
  {[=====[string.unpack("i4", "abcdabcd", -4), string.unpack("B", "abc", 3)]=====],
   [=====[i:1684234849 i:99 i:4]=====]},
  {[=====[pcall(string.pack, "i17", 1)]=====],
   [=====[false "integral size (17) out of limits [1,16]"]=====]},
  {[=====[pcall(string.pack, "y", 1)]=====],
   [=====[false "invalid format option 'y'"]=====]},
  {[=====[pcall(string.pack, "c", "a")]=====],
   [=====[false "missing size for format option 'c'"]=====]},
  {[=====[pcall(string.pack, "c2", "abc")]=====],
   [=====[false "bad argument #2 to 'string.pack' (string longer than given size)"]=====]},
  {[=====[pcall(string.pack, "z", "a\0b")]=====],
   [=====[false "bad argument #2 to 'string.pack' (string contains zeros)"]=====]},
  {[=====[pcall(string.pack, "s1", string.rep("a", 300))]=====],
   [=====[false "bad argument #2 to 'string.pack' (string length does not fit in given size)"]=====]},
  {[=====[pcall(string.pack, "!3i4", 1)]=====],
   [=====[false "bad argument #1 to 'string.pack' (format asks for alignment not power of 2)"]=====]},
  {[=====[pcall(string.pack, "Xc1")]=====],
   [=====[false "bad argument #1 to 'string.pack' (invalid next option for option 'X')"]=====]},
  {[=====[pcall(string.pack, "X")]=====],
   [=====[false "bad argument #1 to 'string.pack' (invalid next option for option 'X')"]=====]},
  {[=====[string.packsize("!4 i1 Xi4 i4"), string.packsize("b x h"), string.packsize("<i2>i2=i2"), string.pack("!2 b h", 1, 2):byte(1, -1)]=====],
   [=====[i:8 i:4 i:6 i:1 i:0 i:2 i:0]=====]},
  {[=====[string.pack("j", math.mininteger):byte(8), string.unpack("J", string.pack("J", -1)), string.pack("n", 1.0) == string.pack("d", 1.0)]=====],
   [=====[i:128 i:-1 true]=====]},
  {[=====[string.unpack("i9", string.pack("i9", -5)), string.unpack("I9", string.pack("I9", 5)), pcall(string.pack, "i4", 1.5)]=====],
   [=====[i:-5 i:5 false "bad argument #2 to 'string.pack' (number has no integer representation)"]=====]},
  {[=====[pcall(string.pack, "i4", "x")]=====],
   [=====[false "bad argument #2 to 'string.pack' (number expected, got string)"]=====]},
  {[=====[string.pack("i4", "12"):byte(1), string.pack("d", "1.5") == string.pack("d", 1.5)]=====],
   [=====[i:12 true]=====]},
  {[=====[pcall(string.unpack, "i4", "abcd", 0)]=====],
   [=====[true i:1684234849 i:5]=====]},
  {[=====[string.unpack("", "abc"), string.unpack("", "abc", 4), pcall(string.unpack, "", "abc", 5)]=====],
   [=====[i:1 i:4 false "bad argument #3 to 'string.unpack' (initial position out of string)"]=====]},
  {[=====[string.unpack("<i2 i2", "\1\0\2\0")]=====],
   [=====[i:1 i:2 i:5]=====]},
  {[=====[pcall(string.pack, "d")]=====],
   [=====[false "bad argument #2 to 'string.pack' (number expected, got nil)"]=====]},
  {[=====[pcall(string.unpack, "I17", "")]=====],
   [=====[false "integral size (17) out of limits [1,16]"]=====]},
  {[=====["x" .. 1, 1 .. "", 2^63 .. "", math.mininteger .. "", 1e100 .. ""]=====],
   [=====["x1" "1" "9.2233720368548e+18" "-9223372036854775808" "1e+100"]=====]},
  {[=====[pcall(function() local t = {} return "a" .. t end)]=====],
   [=====[false ":1: attempt to concatenate a table value (local 't')"]=====]},
  {[=====[pcall(function() return 1 .. {} end)]=====],
   [=====[false ":1: attempt to concatenate a table value"]=====]},
  {[=====[pcall(function() return "a" .. true end)]=====],
   [=====[false ":1: attempt to concatenate a boolean value"]=====]},
  {[=====[string.format("%-10q", "x")]=====],
   [=====[ERR:":1: specifier '%q' cannot have modifiers"]=====]},
  {[=====[string.format("%q", "\r\t\0011")]=====],
   [=====["\092"\092\09213\092\0929\092\0920011\092""]=====]},
  {[=====[string.format("%.3q", "x")]=====],
   [=====[ERR:":1: specifier '%q' cannot have modifiers"]=====]},
  {[=====[string.format("%s", 1.0), string.format("%d", -0), string.format("%5.1s|", "abc"), string.format("%.0s|", "abc")]=====],
   [=====["1.0" "0" "    a|" "|"]=====]},
  {[=====[string.format("%s", 1e100), string.format("%x", -1), string.format("%o", -1), string.format("%X", 3.0)]=====],
   [=====["1e+100" "ffffffffffffffff" "1777777777777777777777" "3"]=====]},
  {[=====[pcall(string.format, "%x", 1.5)]=====],
   [=====[false "bad argument #2 to 'string.format' (number has no integer representation)"]=====]},
  {[=====[pcall(string.format, "%c", "a")]=====],
   [=====[false "bad argument #2 to 'string.format' (number expected, got string)"]=====]},
  {[=====[pcall(string.format, "%f", "a")]=====],
   [=====[false "bad argument #2 to 'string.format' (number expected, got string)"]=====]},
  {[=====[string.format("%f", "1.5"), string.format("%d", "10"), string.format("%.3f", 2)]=====],
   [=====["1.500000" "10" "2.000"]=====]},
  {[=====[string.format("%5.2f|%-8.3e|%+.1g", 3.14159, 1234.5, 0.05)]=====],
   [=====[" 3.14|1.234e+03|+0.05"]=====]},
  {[=====[string.format("%g", 1e20), string.format("%g", 100000), string.format("%g", 1000000), string.format("%g", 0.0001), string.format("%g", 0.00001), string.format("%g", -0.0), string.format("%.3g", 2/3)]=====],
   [=====["1e+20" "100000" "1e+06" "0.0001" "1e-05" "-0" "0.667"]=====]},
  {[=====[string.format("%a %A", 0.5, 255.5)]=====],
   [=====["0x1p-1 0X1.FFP+7"]=====]},
  {[=====[string.format("%s %s", 1, 2, 3)]=====],
   [=====["1 2"]=====]},
  {[=====[pcall(string.format, "%s %s", 1)]=====],
   [=====[false "bad argument #3 to 'string.format' (no value)"]=====]},
  {[=====[pcall(string.format)]=====],
   [=====[false "bad argument #1 to 'string.format' (string expected, got no value)"]=====]},
  {[=====[pcall(string.format, "%", 1)]=====],
   [=====[false "invalid conversion '%' to 'format'"]=====]},
  {[=====[string.format("%5%")]=====],
   [=====[ERR:":1: bad argument #2 to 'format' (no value)"]=====]},
  {[=====[string.format("%p", nil), string.format("%p", 1), string.format("%10p|", true)]=====],
   [=====["(null)" "(null)" "    (null)|"]=====]},
  {[=====[string.format("%s", "a\0b"), pcall(string.format, "%10s", "a\0b")]=====],
   [=====["a\0920b" false "bad argument #2 to 'string.format' (string contains zeros)"]=====]},
  {[=====[string.format("%10s", string.rep("x", 150)) == string.rep("x", 150), string.format("%.3s", "abcdef")]=====],
   [=====[true "abc"]=====]},
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
