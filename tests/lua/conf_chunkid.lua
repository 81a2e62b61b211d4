-- args: --budget 1000000000
-- Conformance: chunk identifiers of '=' and '@' chunk names in messages and debug information.
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
  {[=====[!return load("x = = 1", "=" .. string.rep("n", 100))]=====],
   [=====[nil "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn:1: unexpected symbol near '='"]=====]},
  {[=====[!return load("x = = 1", "=")]=====],
   [=====[nil ":1: unexpected symbol near '='"]=====]},
  {[=====[!return load("x = = 1", "@")]=====],
   [=====[nil ":1: unexpected symbol near '='"]=====]},
  {[=====[!return load("x = = 1", "=" .. string.rep("a", 59))]=====],
   [=====[nil "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa:1: unexpected symbol near '='"]=====]},
  {[=====[!return load("x = = 1", "=" .. string.rep("a", 60))]=====],
   [=====[nil "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa:1: unexpected symbol near '='"]=====]},
  {[=====[!return load("x = = 1", "@" .. string.rep("b", 59))]=====],
   [=====[nil "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb:1: unexpected symbol near '='"]=====]},
  {[=====[!return load("x = = 1", "@" .. string.rep("b", 60))]=====],
   [=====[nil "...bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb:1: unexpected symbol near '='"]=====]},
  {[=====[!return pcall(load("error('e')", "=" .. string.rep("n", 80)))]=====],
   [=====[false "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn:1: e"]=====]},
  {[=====[!return pcall(load("error('e')", "@" .. string.rep("p", 80)))]=====],
   [=====[false "...pppppppppppppppppppppppppppppppppppppppppppppppppppppppp:1: e"]=====]},
  {[=====[!return pcall(load("\n\nerror('e')", "=c"))]=====],
   [=====[false "c:3: e"]=====]},
  {[=====[!return pcall(load("local t = {}\n\nreturn t.x.y", "=c"))]=====],
   [=====[false "c:3: attempt to index a nil value (field 'x')"]=====]},
  {[=====[!return debug.getinfo(load("return debug.getinfo(1, 'S')", "=" .. string.rep("n", 80))(), "S") ~= nil]=====],
   [=====[ERR:":1: bad argument #1 to 'getinfo' (number expected, got table)"]=====]},
  {[=====[!local i = load("return debug.getinfo(1, 'S')", "@" .. string.rep("p", 80))() return i.short_src, i.source:len()]=====],
   [=====["...pppppppppppppppppppppppppppppppppppppppppppppppppppppppp" i:81]=====]},
  {[=====[!local i = load("return debug.getinfo(1, 'S')", "=abc")() return i.short_src, i.source, i.what]=====],
   [=====["abc" "=abc" "main"]=====]},
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
