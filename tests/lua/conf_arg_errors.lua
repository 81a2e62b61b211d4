-- args: --budget 1000000000
-- Conformance: argument errors through methods, locals, fields and upvalues (function names in messages).
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
  {[=====[!local ok, e = pcall(function() return ("x"):rep({}) end) return e]=====],
   [=====[":1: bad argument #1 to 'rep' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x"):rep(1, {}) end) return e]=====],
   [=====[":1: bad argument #2 to 'rep' (string expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {rep = string.rep} return t:rep(2) end) return e]=====],
   [=====[":1: calling 'rep' on bad self (string expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {sub = string.sub} return t:sub(1) end) return e]=====],
   [=====[":1: calling 'sub' on bad self (string expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x"):format({}) end) return e]=====],
   [=====["x"]=====]},
  {[=====[!local ok, e = pcall(function() return ("%d"):format("x") end) return e]=====],
   [=====[":1: bad argument #1 to 'format' (number expected, got string)"]=====]},
  {[=====[!local ok, e = pcall(function() return ("x"):byte({}) end) return e]=====],
   [=====[":1: bad argument #1 to 'byte' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local co = {status = coroutine.status} return co:status() end) return e]=====],
   [=====[":1: calling 'status' on bad self (thread expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local m = {floor = math.floor} return m:floor() end) return e]=====],
   [=====[":1: calling 'floor' on bad self (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local m = {insert = table.insert} return m.insert(nil, 1) end) return e]=====],
   [=====[":1: bad argument #1 to 'insert' (table expected, got nil)"]=====]},
  {[=====[!local ok, e = pcall(function() return string.rep("x", {}) end) return e]=====],
   [=====[":1: bad argument #2 to 'rep' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local r = string.rep return r("x", {}) end) return e]=====],
   [=====[":1: bad argument #2 to 'r' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local t = {f = string.rep} return t.f("x", {}) end) return e]=====],
   [=====[":1: bad argument #2 to 'f' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return (string.rep)("x", {}) end) return e]=====],
   [=====[":1: bad argument #2 to 'rep' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() local up = string.rep return (function() return up("x", {}) end)() end) return e]=====],
   [=====[":1: bad argument #2 to 'up' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return setmetatable({}, {__index = function(t, k) return string.rep end}).foo("x", {}) end) return e]=====],
   [=====[":1: bad argument #2 to 'foo' (number expected, got table)"]=====]},
  {[=====[!local ok, e = pcall(function() return select(-5, 1) end) return e]=====],
   [=====[":1: bad argument #1 to 'select' (index out of range)"]=====]},
  {[=====[!local ok, e = pcall(function() local s = select return s(-5, 1) end) return e]=====],
   [=====[":1: bad argument #1 to 's' (index out of range)"]=====]},
  {[=====[!local ok, e = pcall(function() return tostring() end) return e]=====],
   [=====[":1: bad argument #1 to 'tostring' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() return math.max() end) return e]=====],
   [=====[":1: bad argument #1 to 'max' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() return getmetatable() end) return e]=====],
   [=====[":1: bad argument #1 to 'getmetatable' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() return ipairs() end) return e]=====],
   [=====[":1: bad argument #1 to 'ipairs' (value expected)"]=====]},
  {[=====[!local ok, e = pcall(function() return rawlen(1) end) return e]=====],
   [=====[":1: bad argument #1 to 'rawlen' (table or string expected, got number)"]=====]},
  {[=====[!local ok, e = pcall(function() return utf8.len(1, 5) end) return e]=====],
   [=====[":1: bad argument #2 to 'len' (initial position out of bounds)"]=====]},
  {[=====[!local ok, e = pcall(function() return coroutine.wrap(1) end) return e]=====],
   [=====[":1: bad argument #1 to 'wrap' (function expected, got number)"]=====]},
  {[=====[!local ok, e = pcall(function() return string.char(-1) end) return e]=====],
   [=====[":1: bad argument #1 to 'char' (value out of range)"]=====]},
  {[=====[!local ok, e = pcall(function() return debug.getinfo("x") end) return e]=====],
   [=====[":1: bad argument #1 to 'getinfo' (number expected, got string)"]=====]},
  {[=====[!local ok, e = pcall(function() return debug.getlocal(print, "x") end) return e]=====],
   [=====[":1: bad argument #2 to 'getlocal' (number expected, got string)"]=====]},
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
