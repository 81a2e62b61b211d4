-- args: --budget 1000000000
-- Conformance: tonumber with and without a base, string coercion, math.tointeger of strings.
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
  {[=====[tonumber("1e309"), tonumber("-1e309"), tonumber("1e-400"), tonumber("0x1p99999"), tonumber("4.9e-324")]=====],
   [=====[f:inf/inf f:-inf/-inf f:0/0.0 f:inf/inf f:4.9406564584124654e-324/4.9406564584125e-324]=====]},
  {[=====[tonumber("0x.1"), tonumber("0x1."), tonumber("0x"), tonumber("0x.p1"), tonumber(".e1"), tonumber("1e+"), tonumber("1.e5")]=====],
   [=====[f:0.0625/0.0625 f:1/1.0 nil nil nil nil f:100000/100000.0]=====]},
  {[=====[tonumber("  0x10  "), tonumber("\t\n12\v\f\r"), tonumber("12\0"), tonumber("１２")]=====],
   [=====[i:16 i:12 nil nil]=====]},
  {[=====[tonumber("1_000"), tonumber("1,5"), tonumber("0X1P+2"), tonumber("-0x10"), tonumber("- 1")]=====],
   [=====[nil nil f:4/4.0 i:-16 nil]=====]},
  {[=====[tonumber("10", 2), tonumber("777", 8), tonumber("zZ", 36), tonumber("-zz", 36), tonumber("", 10), tonumber(" ", 10), tonumber("1 0", 10), tonumber("+1", 10), tonumber("1.0", 10)]=====],
   [=====[i:2 i:511 i:1295 i:-1295 nil nil nil i:1 nil]=====]},
  {[=====[tonumber("7fffffffffffffff", 16), tonumber("8000000000000000", 16), tonumber("-8000000000000000", 16), tonumber("10000000000000000", 16)]=====],
   [=====[i:9223372036854775807 i:-9223372036854775808 i:-9223372036854775808 i:0]=====]},
  {[=====[tonumber("99999999999999999999", 10), tonumber("1e1", 16), tonumber("g", 16), tonumber("G", 17)]=====],
   [=====[i:7766279631452241919 i:481 nil i:16]=====]},
  {[=====["10" + 0, "0x10" + 0, "1e1" + 0, " 0x1p4 " + 0, "inf" == nil, pcall(function() return "inf" + 0 end)]=====],
   [=====[i:10 i:16 f:10/10.0 f:16/16.0 false false ":1: attempt to add a 'string' with a 'number'"]=====]},
  {[=====[math.tointeger("9223372036854775807"), math.tointeger("9223372036854775808"), math.tointeger("0x7fffffffffffffff"), math.tointeger("1e2")]=====],
   [=====[i:9223372036854775807 nil i:9223372036854775807 i:100]=====]},
  {[=====[string.format("%.17g", tonumber("0.1")), string.format("%.17g", tonumber("123456789012345678")), tonumber("123456789012345678")]=====],
   [=====["0.10000000000000001" "1.2345678901234568e+17" i:123456789012345678]=====]},
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
