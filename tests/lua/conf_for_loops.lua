-- args: --budget 1000000000
-- Conformance: numeric for loops (integer and float, overflow-safe limits, step errors).
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
  {[=====[!local n = 0 for i = math.maxinteger - 1, math.maxinteger, 2 do n = n + 1 end return n]=====],
   [=====[i:1]=====]},
  {[=====[!local n = 0 for i = math.maxinteger - 5, 2^63 do n = n + 1 if n > 10 then break end end return n]=====],
   [=====[i:6]=====]},
  {[=====[!local n, last = 0 for i = 1, 2^63, 2^62 do n = n + 1 last = i end return n, last]=====],
   [=====[i:3 f:9.2233720368547758e+18/9.2233720368548e+18]=====]},
  {[=====[!local n, last = 0 for i = -1, -2^64, -2^62 do n = n + 1 last = i end return n, last]=====],
   [=====[i:5 f:-1.8446744073709552e+19/-1.844674407371e+19]=====]},
  {[=====[!local n = 0 for i = 1, -2^63 do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!local n = 0 for i = 0, 2.5 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = 0, -0.5, -1 do n = n + 1 end return n]=====],
   [=====[i:1]=====]},
  {[=====[!local n = 0 for i = 0, 0.5, -1 do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!local n = 0 for i = math.mininteger, math.mininteger + 10, 5 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = math.maxinteger, math.maxinteger - 10, -5 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local r = {} for i = 1, 2, 0.25 do r[#r+1] = i end return table.concat(r, ",")]=====],
   [=====["1.0,1.25,1.5,1.75,2.0"]=====]},
  {[=====[!local r = {} for i = 1.0, 3 do r[#r+1] = tostring(i) end return table.concat(r, ",")]=====],
   [=====["1.0,2.0,3.0"]=====]},
  {[=====[!local r = {} for i = 3, 1, -0.5 do r[#r+1] = i end return table.concat(r, ",")]=====],
   [=====["3.0,2.5,2.0,1.5,1.0"]=====]},
  {[=====[!local n = 0 for i = 1, math.huge, 2^60 do n = n + 1 if n > 100 then break end end return n]=====],
   [=====[i:101]=====]},
  {[=====[!local n = 0 for i = 1.0, math.huge, 2^60 do n = n + 1 if n > 100 then break end end return n]=====],
   [=====[i:101]=====]},
  {[=====[!return pcall(function() for i = 1, 2, "1" do end end)]=====],
   [=====[true]=====]},
  {[=====[!return pcall(function() for i = 1, "2" do end end)]=====],
   [=====[true]=====]},
  {[=====[!return pcall(function() for i = 1.5, "2" do end end)]=====],
   [=====[true]=====]},
  {[=====[!return pcall(function() for i = 1, 2, 0 do end end)]=====],
   [=====[false ":1: 'for' step is zero"]=====]},
  {[=====[!return pcall(function() for i = 1, 2, 0.0 do end end)]=====],
   [=====[false ":1: 'for' step is zero"]=====]},
  {[=====[!return pcall(function() for i = 1, 2, -0.0 do end end)]=====],
   [=====[false ":1: 'for' step is zero"]=====]},
  {[=====[!return pcall(function() for i = nil, 2 do end end)]=====],
   [=====[false ":1: bad 'for' initial value (number expected, got nil)"]=====]},
  {[=====[!return pcall(function() for i = 1, nil do end end)]=====],
   [=====[false ":1: bad 'for' limit (number expected, got nil)"]=====]},
  {[=====[!return pcall(function() for i = 1, 2, nil do end end)]=====],
   [=====[false ":1: bad 'for' step (number expected, got nil)"]=====]},
  {[=====[!return pcall(function() for i = {}, 2 do end end)]=====],
   [=====[false ":1: bad 'for' initial value (number expected, got table)"]=====]},
  {[=====[!local n = 0 for i = math.mininteger, math.mininteger do n = n + 1 end return n]=====],
   [=====[i:1]=====]},
  {[=====[!local n = 0 for i = 5, 5, -1 do n = n + 1 end return n]=====],
   [=====[i:1]=====]},
  {[=====[!local n = 0 for i = 1, 3 do local i = i * 2 n = n + i end return n]=====],
   [=====[i:12]=====]},
  {[=====[!local n = 0 for i = 2^53 - 2, 2^53 + 1.0 do n = n + 1 if n > 10 then break end end return n]=====],
   [=====[i:11]=====]},
  {[=====[!local n = 0 for i = 1, 3.9999999999 do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local n = 0 for i = -3, -3.5 do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!local n = 0 for i = 3, 3.0 do n = n + 1 end return n]=====],
   [=====[i:1]=====]},
  {[=====[!local n = 0 for i = 1, 0.999 do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!local n = 0 for i = 0.1, 0.3, 0.1 do n = n + 1 end return n]=====],
   [=====[i:2]=====]},
  {[=====[!local t = {} for i = 10, 1, -3 do t[#t+1] = i end return table.concat(t, " ")]=====],
   [=====["10 7 4 1"]=====]},
  {[=====[!local t = {} for i = -10, -1, 3 do t[#t+1] = i end return table.concat(t, " ")]=====],
   [=====["-10 -7 -4 -1"]=====]},
  {[=====[!local n = 0 for i = 9007199254740992.0, 9007199254740994.0 do n = n + 1 if n > 5 then break end end return n]=====],
   [=====[i:6]=====]},
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
