-- args: --budget 1000000000
-- Conformance: recursion, multiple assignment, integer/float edges, NaN handling, coercions.
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
  {[=====[!local function f() return f() end return "tail ok"]=====],
   [=====["tail ok"]=====]},
  {[=====[!local function f(n) if n == 0 then return "done" end return f(n - 1) end return f(100000)]=====],
   [=====["done"]=====]},
  {[=====[!local function f(n) if n == 0 then return 0 end return 1 + f(n - 1) end return f(10000)]=====],
   [=====[i:10000]=====]},
  {[=====[!local function f() return 1 + f() end local ok, e = pcall(f) return ok, (e:gsub("^.-:%d+: ", ""))]=====],
   [=====[false "stack overflow"]=====]},
  {[=====[!local t = setmetatable({}, {}) getmetatable(t).__index = function(t, k) return t[k] end local ok, e = pcall(function() return t.x end) return ok, (e:gsub("^.-:%d+: ", ""))]=====],
   [=====[false "C stack overflow"]=====]},
  {[=====[!local function f() local s = string.gsub("x", "x", f) end local ok, e = pcall(f) return ok, e]=====],
   [=====[false "C stack overflow"]=====]},
  {[=====[!local ok, e = pcall(error) return ok, e]=====],
   [=====[false nil]=====]},
  {[=====[!local ok, e = pcall(string.rep, "x", -1) return ok, e]=====],
   [=====[true ""]=====]},
  {[=====[!local a = {} for i = 1, 300 do a[i] = i end return select('#', table.unpack(a))]=====],
   [=====[i:300]=====]},
  {[=====[!local t = {} t[1] = 1 t[2] = 2 t[4] = 4 return #t == 4 or #t == 2]=====],
   [=====[true]=====]},
  {[=====[!local t = {n = 0} for i = 1, 100 do t[i] = i end for i = 1, 99 do t[i] = nil end return #t == 100 or #t == 0]=====],
   [=====[true]=====]},
  {[=====[!local s = 0 for i = 10, 1, -3 do s = s + i end return s]=====],
   [=====[i:22]=====]},
  {[=====[!local t = {10, 20, 30} local i = 0 local r = {} while true do i = i + 1 if not t[i] then break end r[#r+1] = t[i] end return #r]=====],
   [=====[i:3]=====]},
  {[=====[!local x = 0 repeat local y = x x = x + 1 until y >= 3 return x]=====],
   [=====[i:4]=====]},
  {[=====[!local a, b, c = (function() return 1, 2, 3 end)() return a, b, c]=====],
   [=====[i:1 i:2 i:3]=====]},
  {[=====[!local a, b, c = ((function() return 1, 2, 3 end)()) return a, b, c]=====],
   [=====[i:1 nil nil]=====]},
  {[=====[!local t = {(function() return 1, 2 end)(), (function() return 3, 4 end)()} return #t, t[1], t[2], t[3]]=====],
   [=====[i:3 i:1 i:3 i:4]=====]},
  {[=====[!local a, b = 1 return a, b]=====],
   [=====[i:1 nil]=====]},
  {[=====[!local a = 1, 2, print("x") == nil return a]=====],
   [=====[i:1]=====]},
  {[=====[!local x, y = 1, 2 x, y = y, x return x, y]=====],
   [=====[i:2 i:1]=====]},
  {[=====[!local t = {} local i = 1 i, t[i] = i + 1, 20 return i, t[1], t[2]]=====],
   [=====[i:2 i:20 nil]=====]},
  {[=====[!local a = {} a.x, a.y = 1 return a.x, a.y]=====],
   [=====[i:1 nil]=====]},
  {[=====[!return string.format("%s", 0.1), 1/3, -1/3, 100 / 2, 3 / 2, 2^53 + 1.0, 1e15 + 0.5, 123456789012.0]=====],
   [=====["0.1" f:0.33333333333333331/0.33333333333333 f:-0.33333333333333331/-0.33333333333333 f:50/50.0 f:1.5/1.5 f:9007199254740992/9.007199254741e+15 f:1000000000000000.5/1e+15 f:123456789012/123456789012.0]=====]},
  {[=====[!return 7 // 2, 7.0 // 2, -7 // 2, -7 // 2.0, 7 % -3, -7 % 3, 7.5 % 2, -7.5 % 2, 7 % 2.5, 5 % -0.0 ~= 5 % -0.0]=====],
   [=====[i:3 f:3/3.0 i:-4 f:-4/-4.0 i:-2 i:2 f:1.5/1.5 f:0.5/0.5 f:2/2.0 true]=====]},
  {[=====[!return math.mininteger // -1, math.mininteger % -1, math.mininteger * -1, math.maxinteger // -1]=====],
   [=====[i:-9223372036854775808 i:0 i:-9223372036854775808 i:-9223372036854775807]=====]},
  {[=====[!return 3 | 0, 2^31 | 0, -2^63 | 0, pcall(function() return 2^63 | 0 end)]=====],
   [=====[i:3 i:2147483648 i:-9223372036854775808 false ":1: number has no integer representation"]=====]},
  {[=====[!return "0x10" + 0, "1e2" + 0, "  5  " * 2, " 0x1p4 " + 0, "10" // "3", "7" % "2", "2" ^ "3", -"0x10", "5" - "10"]=====],
   [=====[i:16 f:100/100.0 i:10 f:16/16.0 i:3 i:1 f:8/8.0 i:-16 i:-5]=====]},
  {[=====[!return pcall(function() return "1 2" + 1 end)]=====],
   [=====[false ":1: attempt to add a 'string' with a 'number'"]=====]},
  {[=====[!return pcall(function() return "" + 1 end)]=====],
   [=====[false ":1: attempt to add a 'string' with a 'number'"]=====]},
  {[=====[!return math.type("10" + 0), math.type("10.0" + 0), math.type("1e1" + 0), math.type("0x10" + 0.0), "9223372036854775808" + 0]=====],
   [=====["integer" "float" "float" "float" f:9.2233720368547758e+18/9.2233720368548e+18]=====]},
  {[=====[!return "10" == 10, "abc" < "abd", 10 .. "" == "10", tostring(10) == "10"]=====],
   [=====[false true true true]=====]},
  {[=====[!return 2^63 == math.mininteger, -2^63 == math.mininteger, 2^63 > math.maxinteger, -2^63 >= math.mininteger, -2^63 < math.mininteger, math.maxinteger + 1.0 > math.maxinteger, math.maxinteger - 1.0 < math.maxinteger]=====],
   [=====[false true true true false true false]=====]},
  {[=====[!return 2^53 == 2^53 + 1, (2^53|0) + 1 == 2^53, (2^53|0) + 1 > 2^53, (2^53|0) + 1 >= 2^53 + 1.0, math.maxinteger == 2^63 - 1, math.maxinteger < 2^63]=====],
   [=====[true false true true false true]=====]},
  {[=====[!return 1 < math.huge, math.mininteger < -math.huge, 1 == math.huge, math.maxinteger <= math.huge]=====],
   [=====[true false false true]=====]},
  {[=====[!local nan = math.huge - math.huge return nan == nan, nan < 1, nan > 1, 1 < nan, nan ~= nan, math.maxinteger < nan, math.mininteger > nan, nan <= nan]=====],
   [=====[false false false false true false false false]=====]},
  {[=====[!local nan = math.huge - math.huge return tostring(nan):match("nan") ~= nil, string.format("%.1f", nan):match("nan") ~= nil, math.floor(2.5), pcall(math.floor, nan)]=====],
   [=====[true true i:2 true f:nan]=====]},
  {[=====[!local nan = math.huge - math.huge return math.tointeger(nan), nan // 1 ~= nan // 1, pcall(function() return nan | 0 end)]=====],
   [=====[nil true false ":1: number (upvalue 'nan') has no integer representation"]=====]},
  {[=====[!local nan = math.huge - math.huge local t = {} return pcall(function() t[nan] = 1 end)]=====],
   [=====[false ":1: table index is NaN"]=====]},
  {[=====[!local nan = math.huge - math.huge return pcall(rawset, {}, nan, 1)]=====],
   [=====[false "table index is NaN"]=====]},
  {[=====[!local nan = math.huge - math.huge return ({})[nan], next({}, nil)]=====],
   [=====[nil nil]=====]},
  {[=====[!local nan = math.huge - math.huge return string.format("%q", nan), string.format("%q", math.huge), string.format("%q", -math.huge)]=====],
   [=====["(0/0)" "1e9999" "-1e9999"]=====]},
  {[=====[!local nan = math.huge - math.huge return math.max(nan, 1), math.min(1, nan), math.fmod(7, 0.0) ~= math.fmod(7, 0.0)]=====],
   [=====[f:nan i:1 true]=====]},
  {[=====[!local nan = math.huge - math.huge local n = 0 for i = 1, nan do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!local nan = math.huge - math.huge local n = 0 for i = nan, 1 do n = n + 1 end return n]=====],
   [=====[i:1]=====]},
  {[=====[!return pcall(function() for i = 1, 10, 0.0 do end end)]=====],
   [=====[false ":1: 'for' step is zero"]=====]},
  {[=====[!return pcall(function() local nan = math.huge - math.huge for i = 1, 10, nan do end end)]=====],
   [=====[true]=====]},
  {[=====[!return tostring(1e15), tostring(1e16), tostring(123456789012345678), tostring(2^63), tostring(-2^63), tostring(1e100), tostring(5e-324), tostring(2^-1074), tostring(1.7976931348623157e308)]=====],
   [=====["1e+15" "1e+16" "123456789012345678" "9.2233720368548e+18" "-9.2233720368548e+18" "1e+100" "4.9406564584125e-324" "4.9406564584125e-324" "1.7976931348623e+308"]=====]},
  {[=====[!return tostring(3.14159265358979), tostring(0.1 + 0.2), tostring(100.0), tostring(-100.0), tostring(1e14), tostring(123456.789e3)]=====],
   [=====["3.1415926535898" "0.3" "100.0" "-100.0" "1e+14" "123456789.0"]=====]},
  {[=====[!return math.floor(-3.5), math.ceil(-3.5), math.floor(2^62 + 0.0), math.ceil(2^63), math.floor(-2^63), math.ceil(-2^63 - 1025), math.floor(1e308)]=====],
   [=====[i:-4 i:-3 i:4611686018427387904 f:9.2233720368547758e+18/9.2233720368548e+18 i:-9223372036854775808 f:-9.2233720368547779e+18/-9.2233720368548e+18 f:1e+308/1e+308]=====]},
  {[=====[!return math.tointeger(2^53), math.tointeger(-0.0), math.tointeger("0x10"), math.tointeger("3.0"), math.tointeger(" 7 "), math.tointeger(3.5)]=====],
   [=====[i:9007199254740992 i:0 i:16 i:3 i:7 nil]=====]},
  {[=====[!return 1e308 * 10 == math.huge, -1e308 * 10 == -math.huge, math.huge > math.maxinteger, math.abs(-math.huge)]=====],
   [=====[true true true f:inf/inf]=====]},
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
