-- args: --budget 1000000000
-- Conformance: table library through metamethods (proxies), length, traversal and key normalisation.
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
  {[=====[!local log = {} local p = setmetatable({}, {__index = function(t, k) log[#log+1] = "get" .. k return k end, __newindex = function(t, k, v) log[#log+1] = "set" .. k .. "=" .. tostring(v) end, __len = function() return 3 end}) table.insert(p, "v") return table.concat(log, ",")]=====],
   [=====["set4=v"]=====]},
  {[=====[!local log = {} local p = setmetatable({}, {__index = function(t, k) log[#log+1] = "get" .. k return k * 10 end, __newindex = function(t, k, v) log[#log+1] = "set" .. k .. "=" .. tostring(v) end, __len = function() return 3 end}) table.insert(p, 1, "v") return table.concat(log, ",")]=====],
   [=====["get3,set4=30,get2,set3=20,get1,set2=10,set1=v"]=====]},
  {[=====[!local log = {} local p = setmetatable({}, {__index = function(t, k) log[#log+1] = "get" .. k return k * 10 end, __newindex = function(t, k, v) log[#log+1] = "set" .. k .. "=" .. tostring(v) end, __len = function() return 3 end}) local r = table.remove(p, 1) return r, table.concat(log, ",")]=====],
   [=====[i:10 "get1,get2,set1=20,get3,set2=30,set3=nil"]=====]},
  {[=====[!local log = {} local p = setmetatable({}, {__index = function(t, k) log[#log+1] = "get" .. k return k * 10 end, __newindex = function(t, k, v) log[#log+1] = "set" .. k .. "=" .. tostring(v) end, __len = function() return 3 end}) local r = table.remove(p) return r, table.concat(log, ",")]=====],
   [=====[i:30 "get3,set3=nil"]=====]},
  {[=====[!local p = setmetatable({}, {__index = function(t, k) return "e" .. k end, __len = function() return 4 end}) return table.concat(p, "-"), table.unpack(p)]=====],
   [=====["e1-e2-e3-e4" "e1" "e2" "e3" "e4"]=====]},
  {[=====[!local log = {} local src = setmetatable({}, {__index = function(t, k) return k end}) local dst = setmetatable({}, {__newindex = function(t, k, v) log[#log+1] = k .. "=" .. v end}) table.move(src, 1, 3, 5, dst) return table.concat(log, ",")]=====],
   [=====["5=1,6=2,7=3"]=====]},
  {[=====[!local t = setmetatable({}, {__len = function() return 2.0 end}) return #t, pcall(table.insert, t, "x")]=====],
   [=====[f:2/2.0 true]=====]},
  {[=====[!local t = setmetatable({}, {__len = function() return "3" end}) return pcall(table.insert, t, "x")]=====],
   [=====[true]=====]},
  {[=====[!local t = setmetatable({}, {__len = function() return 2.5 end}) return pcall(table.insert, t, "x")]=====],
   [=====[false "object length is not an integer"]=====]},
  {[=====[!local t = setmetatable({}, {__len = function() return {} end}) return pcall(table.concat, t)]=====],
   [=====[false "object length is not an integer"]=====]},
  {[=====[!return pcall(table.insert, setmetatable({}, {__index = {}}), 1)]=====],
   [=====[true]=====]},
  {[=====[!return pcall(table.concat, setmetatable({}, {__index = function() return "x" end, __len = function() return 2 end}))]=====],
   [=====[true "xx"]=====]},
  {[=====[!local ud = coroutine.create(print) return pcall(table.insert, ud, 1)]=====],
   [=====[false "bad argument #1 to 'table.insert' (table expected, got thread)"]=====]},
  {[=====[!return pcall(table.unpack, "abc")]=====],
   [=====[true nil nil nil]=====]},
  {[=====[!return pcall(table.unpack, setmetatable({}, {__len = function() return 2 end}))]=====],
   [=====[true nil nil]=====]},
  {[=====[!return table.unpack({1, 2, 3}, nil, 2)]=====],
   [=====[i:1 i:2]=====]},
  {[=====[!return pcall(table.unpack, {}, 1, math.maxinteger)]=====],
   [=====[false "too many results to unpack"]=====]},
  {[=====[!return pcall(table.unpack, {}, math.maxinteger - 1, math.maxinteger)]=====],
   [=====[true nil nil]=====]},
  {[=====[!return pcall(table.unpack, {}, math.mininteger, math.mininteger + 1)]=====],
   [=====[true nil nil]=====]},
  {[=====[!return pcall(table.concat, {}, "", math.maxinteger - 1, math.maxinteger)]=====],
   [=====[false "invalid value (nil) at index 9223372036854775806 in table for 'concat'"]=====]},
  {[=====[!local t = {} t[math.maxinteger] = "a" return table.concat(t, ",", math.maxinteger, math.maxinteger)]=====],
   [=====["a"]=====]},
  {[=====[!local t = table.move({1, 2, 3}, 1, 3, math.maxinteger - 2) return t[math.maxinteger]]=====],
   [=====[i:3]=====]},
  {[=====[!return pcall(table.move, {1, 2, 3}, 1, 3, math.maxinteger - 1)]=====],
   [=====[false "bad argument #4 to 'table.move' (destination wrap around)"]=====]},
  {[=====[!local t = table.move({}, 1, 0, 1) return #t]=====],
   [=====[i:0]=====]},
  {[=====[!local a = {1, 2, 3, 4, 5} table.move(a, 2, 5, 1) return table.concat(a, ",")]=====],
   [=====["2,3,4,5,5"]=====]},
  {[=====[!local a = {1, 2, 3, 4, 5} table.move(a, 1, 4, 2) return table.concat(a, ",")]=====],
   [=====["1,1,2,3,4"]=====]},
  {[=====[!local a = {} for i = 1, 10 do table.insert(a, i) end for i = 1, 5 do table.remove(a, 1) end return table.concat(a, ","), #a]=====],
   [=====["6,7,8,9,10" i:5]=====]},
  {[=====[!local t = {1, 2, 3} t[5] = 5 return #t == 3 or #t == 5, table.remove(t, #t + 1)]=====],
   [=====[true nil]=====]},
  {[=====[!return table.pack(table.unpack({1, nil, 3}, 1, 3)).n]=====],
   [=====[i:3]=====]},
  {[=====[!local t = table.pack(1, 2) return t.n, #t]=====],
   [=====[i:2 i:2]=====]},
  {[=====[!return select('#', table.unpack({n = 3}))]=====],
   [=====[i:0]=====]},
  {[=====[!local t = {} t[1] = nil t[2] = 2 return #t == 0 or #t == 2]=====],
   [=====[true]=====]},
  {[=====[!return next({}, nil), pcall(next, {}, 1), type(next)]=====],
   [=====[nil false "function"]=====]},
  {[=====[!local t = {10, 20, nil, 40} local keys = {} for k in pairs(t) do keys[#keys+1] = k end return #keys]=====],
   [=====[i:3]=====]},
  {[=====[!local t = {} for i = 1, 5 do t[i] = i end local r = {} for k, v in pairs(t) do r[#r+1] = k end return table.concat(r, ",")]=====],
   [=====["1,2,3,4,5"]=====]},
  {[=====[!local t = {1, 2, 3} local r = {} for i, v in ipairs(t) do r[#r+1] = v if i == 1 then t[3] = nil end end return table.concat(r, ",")]=====],
   [=====["1,2"]=====]},
  {[=====[!local t = {1, 2} local r = {} for i, v in ipairs(t) do r[#r+1] = v if i == 2 then t[3] = 3 end end return table.concat(r, ",")]=====],
   [=====["1,2,3"]=====]},
  {[=====[!local t = setmetatable({}, {__index = function(t, i) if i < 4 then return i end end}) local n = 0 for i in ipairs(t) do n = n + 1 end return n]=====],
   [=====[i:3]=====]},
  {[=====[!local p = setmetatable({}, {__pairs = function(t) return ipairs({"a", "b"}) end}) local r = {} for k, v in pairs(p) do r[#r+1] = v end return table.concat(r)]=====],
   [=====["ab"]=====]},
  {[=====[!local p = setmetatable({}, {__pairs = function(t) return 1, 2, 3, 4 end}) return pairs(p)]=====],
   [=====[i:1 i:2 i:3]=====]},
  {[=====[!local p = setmetatable({}, {__pairs = 5}) return pcall(pairs, p)]=====],
   [=====[false "attempt to call a number value"]=====]},
  {[=====[!return ipairs({}), pcall(ipairs, nil)]=====],
   [=====[function true function nil i:0]=====]},
  {[=====[!local t = {} local s = "a long string key that is longer than forty bytes, definitely" t[s] = 1 local s2 = "a long string key that is longer than forty bytes, " .. "definitely" return t[s2], rawequal(s, s2), s == s2]=====],
   [=====[i:1 true true]=====]},
  {[=====[!local t = {} for i = 1, 100 do t[string.rep("k", 41) .. i] = i end local s = 0 for k, v in pairs(t) do s = s + v end return s, t[string.rep("k", 41) .. 50]]=====],
   [=====[i:5050 i:50]=====]},
  {[=====[!local a = string.rep("x", 50) local b = string.rep("x", 49) .. "x" return a == b, a < b .. "y", #(a .. b)]=====],
   [=====[true true i:100]=====]},
  {[=====[!local t = {} t[2^63] = 1 t[-2^63] = 2 return t[2^63], t[math.mininteger], math.type(next({[2^63] = 1}))]=====],
   [=====[i:1 i:2 "float"]=====]},
  {[=====[!local t = {} t[1e100] = 1 t[0.5] = 2 t[-0.0] = 3 return t[1e100], t[0.5], t[0], t[0.0]]=====],
   [=====[i:1 i:2 i:3 i:3]=====]},
  {[=====[!local t = {[1] = "a", [1.0] = "b"} return t[1]]=====],
   [=====["b"]=====]},
  {[=====[!local t = {} t[true] = 1 t[false] = 2 t[print] = 3 return t[true], t[false], t[print]]=====],
   [=====[i:1 i:2 i:3]=====]},
  {[=====[!local t = {} local co = coroutine.create(print) t[co] = 1 return t[co]]=====],
   [=====[i:1]=====]},
  {[=====[!local t = {n = nil, [1] = nil} return next(t)]=====],
   [=====[nil]=====]},
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
