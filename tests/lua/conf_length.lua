-- args: --budget 1000000000
-- Conformance: the length operator on sequences and on tables with holes (borders as Lua 5.4 finds them).
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
  {[=====[!local t = {1, 2, 3, 4, 5} t[3] = nil return #t]=====],
   [=====[i:5]=====]},
  {[=====[!local t = {1, 2, 3, 4, 5} t[5] = nil t[4] = nil return #t]=====],
   [=====[i:3]=====]},
  {[=====[!local t = {} for i = 1, 10 do t[i] = i end t[10] = nil t[9] = nil return #t]=====],
   [=====[i:8]=====]},
  {[=====[!local t = {} for i = 1, 10 do t[i] = i end t[5] = nil return #t]=====],
   [=====[i:10]=====]},
  {[=====[!local t = {} for i = 1, 16 do t[i] = i end t[8] = nil return #t]=====],
   [=====[i:16]=====]},
  {[=====[!local t = {} for i = 1, 17 do t[i] = i end t[17] = nil t[16] = nil return #t]=====],
   [=====[i:15]=====]},
  {[=====[!local t = {} t[1] = 1 t[2] = 2 t[3] = 3 t[5] = 5 return #t]=====],
   [=====[i:3]=====]},
  {[=====[!local t = {} t[1] = 1 t[3] = 3 return #t]=====],
   [=====[i:1]=====]},
  {[=====[!local t = {} t[2] = 2 t[3] = 3 t[1] = 1 return #t]=====],
   [=====[i:3]=====]},
  {[=====[!local t = {1, 2, 3} t[2] = nil return #t]=====],
   [=====[i:3]=====]},
  {[=====[!local t = {n = 1} t[1] = 1 t[2] = 2 t[4] = 4 return #t]=====],
   [=====[i:4]=====]},
  {[=====[!local t = {} for i = 1, 100 do t[i] = i end for i = 1, 50 do t[i] = nil end return #t]=====],
   [=====[i:100]=====]},
  {[=====[!local t = {} for i = 100, 1, -1 do t[i] = i end t[50] = nil return #t]=====],
   [=====[i:100]=====]},
  {[=====[!local t = {1, 2, 3, nil, 5, nil, nil, 8} return #t]=====],
   [=====[i:8]=====]},
  {[=====[!local t = {nil, nil, 3, 4} return #t]=====],
   [=====[i:4]=====]},
  {[=====[!local t = {} t[4] = 4 t[3] = 3 t[2] = 2 return #t]=====],
   [=====[i:4]=====]},
  {[=====[!local t = {10, 20, 30, 40} table.remove(t, 2) t[#t] = nil return #t]=====],
   [=====[i:2]=====]},
  {[=====[!local t = {1, 2, 3, 4, 5, 6, 7, 8} for i = 8, 1, -1 do t[i] = nil end t[3] = 3 return #t]=====],
   [=====[i:0]=====]},
  {[=====[!local t = setmetatable({}, {__mode = "v"}) for i = 1, 5 do t[i] = i end return #t]=====],
   [=====[i:5]=====]},
  {[=====[!local t = {} for i = 1, 1000 do t[i] = true end for i = 1, 1000, 2 do t[i] = nil end return #t]=====],
   [=====[i:1000]=====]},
  {[=====[!local t = {} for i = 1, 8 do t[i] = i end t[4] = nil t[9] = 9 return #t]=====],
   [=====[i:9]=====]},
  {[=====[!local t = {1, 2, 3} t[4] = 4 t[6] = 6 return #t]=====],
   [=====[i:6]=====]},
  {[=====[!local t = {x = 1, y = 2, 1, 2} t[3] = 3 t[5] = 5 return #t]=====],
   [=====[i:3]=====]},
  {[=====[!local t = {} t[1] = 1 t[2] = nil t[3] = 3 return #t]=====],
   [=====[i:1]=====]},
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
