-- args: --budget 1000000000
-- Conformance: string.format conversions and tostring of special floats.
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
  {[=====[tostring(math.huge), tostring(-math.huge), tostring(math.huge - math.huge), tostring(-(math.huge - math.huge)), math.huge .. "", string.format("%d", 3)]=====],
   [=====["inf" "-inf" "-nan" "nan" "inf" "3"]=====]},
  {[=====[string.format("%.20f", 0.1), string.format("%.0e", 12345), string.format("%#.0e", 12345), string.format("%#g", 1.0), string.format("%+.3g", 1e-5), string.format("% 10.3e|", -1.5)]=====],
   [=====["0.10000000000000000555" "1e+04" "1.e+04" "1.00000" "+1e-05" "-1.500e+00|"]=====]},
  {[=====[string.format("%-+8d|%+08d|% 08.2f|%-8x|%#08X|%08.3d", 5, 5, 3.14159, 255, 255, 7)]=====],
   [=====["+5      |+0000005| 0003.14|ff      |0X0000FF|     007"]=====]},
  {[=====[string.format("%a", 0.0), string.format("%a", -0.0), string.format("%a", 1e-320), string.format("%.3a", math.pi), string.format("%A", math.huge), string.format("%a", 2^63)]=====],
   [=====["0x0p+0" "-0x0p+0" "0x0.00000000007e8p-1022" "0x1.922p+1" "INF" "0x1p+63"]=====]},
  {[=====[string.format("%.99f", 1/3):sub(1, 40), #string.format("%99.99f", 1e300)]=====],
   [=====["0.33333333333333331482961625624739099293" i:401]=====]},
  {[=====[string.format("%e", math.huge), string.format("%f", -math.huge), string.format("%g", math.huge - math.huge):gsub("-", "")]=====],
   [=====["inf" "-inf" "nan" i:1]=====]},
  {[=====[string.format("%q", "\0\1\0011\127\128\255\n\r\\\"'"), string.format("%q", "tab\there")]=====],
   [=====["\092"\092\0920\092\0921\092\0920011\092\092127€ÿ\092\092\092\010\092\09213\092\092\092\092\092\092\092"'\092"" "\092"tab\092\0929here\092""]=====]},
  {[=====[string.format("%q", 1e100), string.format("%q", 0.1), string.format("%q", -1.5), string.format("%q", 1e-300), string.format("%q", 123), string.format("%q", -0)]=====],
   [=====["0x1.249ad2594c37dp+332" "0x1.999999999999ap-4" "-0x1.8p+0" "0x1.56e1fc2f8f359p-997" "123" "0"]=====]},
  {[=====[string.format("%q", true), string.format("%q", nil), string.format("%q", false)]=====],
   [=====["true" "nil" "false"]=====]},
  {[=====[string.format("%s|%s|%s", 1e15, -1e15, 123456789012345678)]=====],
   [=====["1e+15|-1e+15|123456789012345678"]=====]},
  {[=====[string.format("%.3s|%.0s|%5s|%-5s|%s", "abcdef", "x", "ab", "ab", "")]=====],
   [=====["abc||   ab|ab   |"]=====]},
  {[=====[string.format("%c", 0) == "\0", string.format("%c", 255):byte(), string.format("%c", 256 + 65)]=====],
   [=====[true i:255 "A"]=====]},
  {[=====[string.format("%i|%5i|%-5i|%05i", 42, 42, 42, 42)]=====],
   [=====["42|   42|42   |00042"]=====]},
  {[=====[string.format("%o|%#o|%x|%#x|%X", 0, 0, 0, 0, 0xABCDEF)]=====],
   [=====["0|0|0|0|ABCDEF"]=====]},
  {[=====[string.format("%u", 3), string.format("%.0f", 2.5), string.format("%.0f", 3.5), string.format("%.2f", 2.675), string.format("%g", 123456789), string.format("%g", 1234567)]=====],
   [=====["3" "2" "4" "2.67" "1.23457e+08" "1.23457e+06"]=====]},
  {[=====[string.format("%.14g", 2^63), string.format("%.17g", 0.1), string.format("%.0g", 0.5), string.format("%#.3x", 1)]=====],
   [=====["9.2233720368548e+18" "0.10000000000000001" "0.5" "0x001"]=====]},
  {[=====[string.format("%5.1f|%-7.2f|%07.2f", -0.05, 1/3, -1/3)]=====],
   [=====[" -0.1|0.33   |-000.33"]=====]},
  {[=====[pcall(string.format, "%1$d", 1)]=====],
   [=====[false "invalid conversion '%1$' to 'format'"]=====]},
  {[=====[pcall(string.format, "%ld", 1)]=====],
   [=====[false "invalid conversion '%l' to 'format'"]=====]},
  {[=====[pcall(string.format, "%hd", 1)]=====],
   [=====[false "invalid conversion '%h' to 'format'"]=====]},
  {[=====[pcall(string.format, "%n", 1)]=====],
   [=====[false "invalid conversion '%n' to 'format'"]=====]},
  {[=====[pcall(string.format, "%b", 1)]=====],
   [=====[false "invalid conversion '%b' to 'format'"]=====]},
  {[=====[pcall(string.format, "%+ +d", 1)]=====],
   [=====[true "+1"]=====]},
  {[=====[pcall(string.format, "%.3d", 1)]=====],
   [=====[true "001"]=====]},
  {[=====[pcall(string.format, "%.3x", 1)]=====],
   [=====[true "001"]=====]},
  {[=====[pcall(string.format, "%#a", 1)]=====],
   [=====[true "0x1.p+0"]=====]},
  {[=====[pcall(string.format, "%+a", 1)]=====],
   [=====[true "+0x1p+0"]=====]},
  {[=====[pcall(string.format, "%-10p", nil)]=====],
   [=====[true "(null)    "]=====]},
  {[=====[pcall(string.format, "%-c", 65)]=====],
   [=====[true "A"]=====]},
  {[=====[pcall(string.format, "%#e", 1)]=====],
   [=====[true "1.000000e+00"]=====]},
  {[=====[pcall(string.format, "%+e", 1)]=====],
   [=====[true "+1.000000e+00"]=====]},
  {[=====[pcall(string.format, "%#f", 1)]=====],
   [=====[true "1.000000"]=====]},
  {[=====[pcall(string.format, "%#G", 1)]=====],
   [=====[true "1.00000"]=====]},
  {[=====[pcall(string.format, "%-#8o", 8)]=====],
   [=====[true "010     "]=====]},
  {[=====[pcall(string.format, "%0-5d", 1)]=====],
   [=====[true "1    "]=====]},
  {[=====[pcall(string.format, "%#5.2X", 255)]=====],
   [=====[true " 0XFF"]=====]},
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
