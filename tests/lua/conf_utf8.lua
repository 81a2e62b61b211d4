-- args: --budget 1000000000
-- Conformance: utf8 library.
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
  {[=====[utf8.char(72, 228, 8364), #utf8.char(72, 228, 8364), #utf8.char(0x7FFFFFFF), utf8.char(), pcall(utf8.char, -1)]=====],
   [=====["Hä€" i:6 i:6 "" false "bad argument #1 to 'utf8.char' (value out of range)"]=====]},
  {[=====[pcall(utf8.char, 0x80000000)]=====],
   [=====[false "bad argument #1 to 'utf8.char' (value out of range)"]=====]},
  {[=====[pcall(utf8.char, "x")]=====],
   [=====[false "bad argument #1 to 'utf8.char' (number expected, got string)"]=====]},
  {[=====[utf8.char("65", 66.0), utf8.charpattern]=====],
   [=====["AB" "[\0920-\092127�-�][�-�]*"]=====]},
  {[=====[utf8.codepoint("häé", 1, -1), pcall(utf8.codepoint, "\xff")]=====],
   [=====[i:104 false "invalid UTF-8 code"]=====]},
  {[=====[pcall(utf8.codepoint, "abc", 0)]=====],
   [=====[false "bad argument #2 to 'utf8.codepoint' (out of bounds)"]=====]},
  {[=====[pcall(utf8.codepoint, "abc", 1, 4)]=====],
   [=====[false "bad argument #3 to 'utf8.codepoint' (out of bounds)"]=====]},
  {[=====[utf8.codepoint("abc", 4), utf8.codepoint("abc", 3, 2), utf8.codepoint("abc", -1)]=====],
   [=====[ERR:":1: bad argument #3 to 'codepoint' (out of bounds)"]=====]},
  {[=====[pcall(utf8.codepoint, "\xED\xA0\x80"), utf8.codepoint("\xED\xA0\x80", 1, 1, true)]=====],
   [=====[false i:55296]=====]},
  {[=====[pcall(utf8.codepoint, "\xF4\x90\x80\x80"), utf8.codepoint("\xF4\x90\x80\x80", 1, 1, true)]=====],
   [=====[false i:1114112]=====]},
  {[=====[pcall(utf8.codepoint, "\xC0\x80")]=====],
   [=====[false "invalid UTF-8 code"]=====]},
  {[=====[utf8.len("häé"), utf8.len(""), utf8.len("abc", 4), utf8.len("ab\xffc"), utf8.len("häé", -2), utf8.len("\xe4", 1), utf8.len("abc", 1, -1)]=====],
   [=====[i:3 i:0 i:0 nil i:1 nil i:3]=====]},
  {[=====[pcall(utf8.len, "abc", 5)]=====],
   [=====[false "bad argument #2 to 'utf8.len' (initial position out of bounds)"]=====]},
  {[=====[pcall(utf8.len, "abc", 1, 4)]=====],
   [=====[false "bad argument #3 to 'utf8.len' (final position out of bounds)"]=====]},
  {[=====[pcall(utf8.len, "abc", 0)]=====],
   [=====[false "bad argument #2 to 'utf8.len' (initial position out of bounds)"]=====]},
  {[=====[utf8.len("abc", -10 + 10 + 1), utf8.len("abc", 3, 2), utf8.len("\xED\xA0\x80"), utf8.len("\xED\xA0\x80", 1, -1, true)]=====],
   [=====[i:3 i:0 nil i:1]=====]},
  {[=====[utf8.offset("häé", 3), utf8.offset("häé", -1), utf8.offset("häé", 0, 3), utf8.offset("häé", 5), utf8.offset("abc", 4), utf8.offset("abc", 0), utf8.offset("", 1), utf8.offset("abc", -4)]=====],
   [=====[i:4 i:4 i:2 nil i:4 i:1 i:1 nil]=====]},
  {[=====[pcall(utf8.offset, "häé", 1, 3)]=====],
   [=====[false "initial position is a continuation byte"]=====]},
  {[=====[pcall(utf8.offset, "abc", 1, 5)]=====],
   [=====[false "bad argument #3 to 'utf8.offset' (position out of bounds)"]=====]},
  {[=====[pcall(utf8.offset, "abc", 1, 0)]=====],
   [=====[false "bad argument #3 to 'utf8.offset' (position out of bounds)"]=====]},
  {[=====[utf8.offset("abc", 1, 4), utf8.offset("abc", -1, 4), utf8.offset("abc", 2, -1)]=====],
   [=====[i:4 i:3 i:4]=====]},
  {[=====[!local r = {} for p, c in utf8.codes("häé") do r[#r+1] = p .. ":" .. c end return table.concat(r, " ")]=====],
   [=====["1:104 2:228 4:233"]=====]},
  {[=====[!local n = 0 for p, c in utf8.codes("") do n = n + 1 end return n]=====],
   [=====[i:0]=====]},
  {[=====[!return pcall(function() for p, c in utf8.codes("a\xffb") do end end)]=====],
   [=====[false ":1: invalid UTF-8 code"]=====]},
  {[=====[!return pcall(function() for p, c in utf8.codes("a\xED\xA0\x80") do end end)]=====],
   [=====[false ":1: invalid UTF-8 code"]=====]},
  {[=====[!local r = {} for p, c in utf8.codes("a\xED\xA0\x80", true) do r[#r+1] = c end return table.concat(r, ",")]=====],
   [=====["97,55296"]=====]},
  {[=====[!return pcall(function() for p, c in utf8.codes("\xe4") do end end)]=====],
   [=====[false ":1: invalid UTF-8 code"]=====]},
  {[=====[!local r = {} for c in string.gmatch("häé", utf8.charpattern) do r[#r+1] = #c end return table.concat(r, ",")]=====],
   [=====["1,2,2"]=====]},
  {[=====[!return pcall(utf8.codes, 5)]=====],
   [=====[true function "5" i:0]=====]},
  {[=====[utf8.len("\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80")]=====],
   [=====[i:6]=====]},
  {[=====[utf8.codepoint("\u{10FFFF}"), utf8.codepoint("\u{7FFFFFFF}", 1, 1, true), pcall(utf8.codepoint, "\u{7FFFFFFF}")]=====],
   [=====[i:1114111 i:2147483647 false "invalid UTF-8 code"]=====]},
  {[=====[utf8.len("\xF8\x88\x80\x80\x80", 1, -1, true), utf8.len("\xF8\x88\x80\x80\x80")]=====],
   [=====[i:1 nil i:1]=====]},
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
