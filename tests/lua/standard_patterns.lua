-- args: --budget 1000000000
-- find / match / gsub / gmatch over 1500 generated patterns (classes, sets, quantifiers,
-- captures, position captures, %b, %f, back references, anchors) and subjects, and
-- over 1500 more that begin (perhaps inside captures) with a repeated class or a %b, on subjects
-- with long runs, with literal patterns among them: the starts a failed attempt rules out are
-- skipped. Each function's results are reduced to a digest; the expected digests come from the
-- reference Lua 5.4.
-- deterministic generator (no math.random, so the sequence is the same everywhere)
local seed = 20261207
local function rnd(n) seed = (seed * 1103515245 + 12345) % 2147483648 return seed % n + 1 end
local ATOMS = {"a", "b", ".", "%a", "%d", "%s", "%w", "%p", "%l", "%u", "%x", "%c", "%A", "%D", "%S",
  "[ab]", "[^a]", "[a-c]", "[%d%s]", "[]]", "[^]]", "[a-]", "[%]]", "[%a_]", "x", " ", "%%", "%.", "%-", "1", "%z"}
local QUANT = {"", "", "", "", "*", "+", "-", "?"}
local function pattern(depth)
  local parts = {}
  if rnd(7) == 1 then parts[#parts + 1] = "^" end
  for _ = 1, rnd(4) do
    local r = rnd(100)
    if depth > 0 and r <= 15 then parts[#parts + 1] = "(" .. pattern(depth - 1):gsub("^%^", ""):gsub("%$$", "") .. ")"
    elseif r <= 20 then parts[#parts + 1] = "()"
    elseif r <= 25 then parts[#parts + 1] = "%b()"
    elseif r <= 30 then parts[#parts + 1] = "%f[%w]"
    elseif r <= 33 then parts[#parts + 1] = "%1"
    else parts[#parts + 1] = ATOMS[rnd(#ATOMS)] .. QUANT[rnd(#QUANT)] end
  end
  if rnd(7) == 1 then parts[#parts + 1] = "$" end
  return table.concat(parts)
end
local SUBJECTS = {"", "a", "ab", "aab b", "hello world 123", "x(a(b)c)y", "  trim  ", "a.b-c%d", "AbC dEf",
  "ba]a]", "tab\tnl\n", "\0a\0b", "aaaaaaaaab", "12 34 56"}
local INITS = {nil, 1, 2, -2, 0, 10}
local function show(...)
  local n = select("#", ...)
  local t = {...}
  for i = 1, n do t[i] = type(t[i]) == "string" and string.format("%q", t[i]) or tostring(t[i]) end
  return n .. ":" .. table.concat(t, ",", 1, n)
end
local function res(ok, r) return ok and r or ("ERR " .. tostring(r):gsub("^.-:%d+: ", "")) end
local function digest(lines)
  local h = 2166136261
  for _, s in ipairs(lines) do
    for i = 1, #s do h = ((h ~ s:byte(i)) * 16777619) & 0xffffffff end
    h = ((h ~ 10) * 16777619) & 0xffffffff
  end
  return h
end
local out = {find = {}, match = {}, gsub = {}, gsubf = {}, gmatch = {}}
for _ = 1, 1500 do
  local p, s, init = pattern(2), SUBJECTS[rnd(#SUBJECTS)], INITS[rnd(6)]
  local f = out.find
  f[#f + 1] = res(pcall(function() return show(string.find(s, p, init)) end))
  f = out.match
  f[#f + 1] = res(pcall(function() return show(string.match(s, p, init)) end))
  f = out.gsub
  f[#f + 1] = res(pcall(function() return show(string.gsub(s, p, "<%0>")) end))
  f = out.gsubf
  f[#f + 1] = res(pcall(function() return show(string.gsub(s, p, function(...) return select("#", ...) .. "" end, 3)) end))
  f = out.gmatch
  f[#f + 1] = res(pcall(function()
    local o = {}
    for a, b in string.gmatch(s, p) do o[#o + 1] = show(a, b) if #o > 50 then break end end
    return table.concat(o, ";")
  end))
end

-- second family: leading runs
local LEAD = {".", "a", "b", "%a", "%d", "[ab]", "[^b]", "%s", "x", "[a-c]", "%w", "(", ")", "%(", "[%a(]", "^", "$", "%%", "]"}
local QL = {"*", "-", "+", "*", "-", "+", "?", ""}
local REST = {"a", "b", ".", "%a", "%d", "%s", "x", "[ab]", "[^a]", " ", "1", "%(", "%)", "[()]"}
local function pick(t) return t[rnd(#t)] end
local function leading()
  if rnd(8) == 1 then  -- a literal
    local t = {}
    for _ = 1, rnd(4) - 1 do t[#t + 1] = pick({"a", "b", ")", "]", "a"}) end
    return table.concat(t)
  end
  local parts, open = {}, 0
  if rnd(20) == 1 then parts[1] = "^" end
  for _ = 1, rnd(3) - 1 do
    if rnd(3) == 1 then parts[#parts + 1] = "()" else parts[#parts + 1] = "(" open = open + 1 end
  end
  if rnd(6) == 1 then parts[#parts + 1] = pick({"%b()", "%bab", "%b((", "%b)(", "%bxx", "%b(", "%b"})
  else parts[#parts + 1] = pick(LEAD) .. pick(QL) end
  for _ = 1, rnd(5) - 1 do
    local k = rnd(100)
    if k <= 8 and open > 0 then parts[#parts + 1] = ")" open = open - 1
    elseif k <= 12 then parts[#parts + 1] = "()"
    elseif k <= 18 then parts[#parts + 1] = pick({"%f[%w]", "%f[%W]", "%f[a]", "%f[^a]", "%f[%z]"})
    elseif k <= 22 then parts[#parts + 1] = pick({"%1", "%2", "%0"})
    elseif k <= 26 then parts[#parts + 1] = "%b()"
    elseif k <= 30 then parts[#parts + 1] = "$"
    elseif k <= 34 then parts[#parts + 1] = "(" open = open + 1
    else parts[#parts + 1] = pick(REST) .. QUANT[rnd(#QUANT)] end
  end
  while open > 0 and rnd(5) ~= 1 do parts[#parts + 1] = ")" open = open - 1 end
  return table.concat(parts)
end
local ALPHA = {"a", "a", "a", "b", "x", "(", ")", " ", "1", "\n", "\0"}
local function runs()
  local t, n = {}, rnd(24) - 1
  while #t < n do
    local c = pick(ALPHA)
    for _ = 1, rnd(3) == 1 and rnd(8) or 1 do t[#t + 1] = c end
  end
  return table.concat(t)
end
local out2 = {find = {}, match = {}, gsub = {}, gsubf = {}, gmatch = {}}
for _ = 1, 1500 do
  local p, s = leading(), runs()
  local init = ({nil, 1, 2, -3, 0, #s + 1, #s + 2, 3})[rnd(8)]
  local f = out2.find
  f[#f + 1] = res(pcall(function() return show(string.find(s, p, init)) end))
  f = out2.match
  f[#f + 1] = res(pcall(function() return show(string.match(s, p, init)) end))
  f = out2.gsub
  f[#f + 1] = res(pcall(function() return show(string.gsub(s, p, "<%0>")) end))
  f = out2.gsubf
  f[#f + 1] = res(pcall(function() return show(string.gsub(s, p, function(...) return select("#", ...) .. "" end, rnd(4))) end))
  f = out2.gmatch
  f[#f + 1] = res(pcall(function()
    local o = {}
    for a, b in string.gmatch(s, p, init) do o[#o + 1] = show(a, b) if #o > 50 then break end end
    return table.concat(o, ";")
  end))
end
local digests = {}
for _, k in ipairs({"find", "match", "gsub", "gsubf", "gmatch"}) do
  digests[#digests + 1] = {k, digest(out[k])}
  digests[#digests + 1] = {k .. "2", digest(out2[k])}
end
local expected = {
  ["find"] = 594492303,
  ["match"] = 2689916897,
  ["gsub"] = 2450084362,
  ["gsubf"] = 2272680268,
  ["gmatch"] = 27505068,
  ["find2"] = 3532191122,
  ["match2"] = 1494395613,
  ["gsub2"] = 3325127038,
  ["gsubf2"] = 3596357812,
  ["gmatch2"] = 3188862865,
}
local failed = 0
for _, d in ipairs(digests) do
  if expected[d[1]] ~= d[2] then
    failed = failed + 1
    print("string." .. d[1] .. " differs: digest " .. d[2] .. ", expected " .. tostring(expected[d[1]]))
  end
end
assert(failed == 0, failed .. " function(s) differ")
print("ok")
