-- The utf8 library: char, charpattern, codepoint, codes, len and offset, strict and lax.
-- Standard behaviour only: this script also runs under a stock Lua 5.4, except that 5.4.4 and
-- older let codes() pass over stray continuation bytes (at the start or after a character),
-- which here raise "invalid UTF-8 code" from the iterator.

local function err(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

local function eq(got, want, what)
  if got ~= want or math.type(got) ~= math.type(want) then
    error(("%s: got %s, want %s"):format(what or "value", tostring(got), tostring(want)), 2)
  end
end

-- The keys of t, space-separated in byte order (no table.sort needed).
local function keys(t)
  local out = ""
  local last = ""
  while true do
    local best
    for k in pairs(t) do
      if k > last and (best == nil or k < best) then best = k end
    end
    if best == nil then return out end
    out = out == "" and best or out .. " " .. best
    last = best
  end
end

local function list(...) return table.concat({...}, ",") end

eq(keys(utf8), "char charpattern codepoint codes len offset")

-- charpattern
eq(utf8.charpattern, "[\0-\x7F\xC2-\xFD][\x80-\xBF]*")
eq(#utf8.charpattern, 14)

-- char
local s = utf8.char(72, 228, 8364)
eq(#s, 6)
eq(s, "H\xC3\xA4\xE2\x82\xAC")
eq(utf8.char(), "")
eq(utf8.char(0), "\0")
eq(utf8.char(0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF),
   "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF")
eq(utf8.char(0x7FFFFFFF), "\xFD\xBF\xBF\xBF\xBF\xBF")
eq(#utf8.char(0x7FFFFFFF), 6)
eq(utf8.char(0x200000), "\xF8\x88\x80\x80\x80")
eq(utf8.char(0xD800), "\xED\xA0\x80", "surrogates can be encoded")
eq(err(utf8.char, -1), "bad argument #1 to 'utf8.char' (value out of range)")
eq(err(utf8.char, 65, 0x80000000), "bad argument #2 to 'utf8.char' (value out of range)")
eq(err(utf8.char, "x"), "bad argument #1 to 'utf8.char' (number expected, got string)")
eq(utf8.char(65.0), "A")
local long = {}
for i = 1, 2000 do long[i] = 0x20AC end
eq(#utf8.char(table.unpack(long)), 6000)

-- codepoint
eq(list(utf8.codepoint(s, 1, -1)), "72,228,8364")
eq(utf8.codepoint(s), 72)
eq(utf8.codepoint(s, 2), 228)
eq(utf8.codepoint(s, -3), 8364)
eq(select("#", utf8.codepoint(s, 3, 2)), 0)
eq(select("#", utf8.codepoint("", 1, 0)), 0)
eq(err(utf8.codepoint, ""), "bad argument #3 to 'utf8.codepoint' (out of bounds)")
eq(list(utf8.codepoint(s, 2, 4)), "228,8364", "characters that start in the span")
eq(err(utf8.codepoint, s, 3), "invalid UTF-8 code", "a continuation byte")
eq(err(utf8.codepoint, s, 0), "bad argument #2 to 'utf8.codepoint' (out of bounds)")
eq(err(utf8.codepoint, s, 1, 7), "bad argument #3 to 'utf8.codepoint' (out of bounds)")
eq(err(utf8.codepoint, "\xED\xA0\x80"), "invalid UTF-8 code", "surrogate in strict mode")
eq(utf8.codepoint("\xED\xA0\x80", 1, 1, true), 0xD800)
eq(err(utf8.codepoint, "\xF4\x90\x80\x80"), "invalid UTF-8 code", "above U+10FFFF")
eq(utf8.codepoint("\xF4\x90\x80\x80", 1, 1, true), 0x110000)
eq(utf8.codepoint("\xFD\xBF\xBF\xBF\xBF\xBF", 1, 1, true), 0x7FFFFFFF)
eq(err(utf8.codepoint, "\xC0\x80", 1, 1, true), "invalid UTF-8 code", "overlong")
eq(err(utf8.codepoint, "\xE0\x80\x80", 1, 1, true), "invalid UTF-8 code", "overlong 3 bytes")
eq(err(utf8.codepoint, "\xFE\xBF\xBF\xBF\xBF\xBF\xBF", 1, 1, true), "invalid UTF-8 code")
eq(err(utf8.codepoint, "\xFF\xBF\xBF\xBF\xBF\xBF\xBF\xBF", 1, 1, true), "invalid UTF-8 code")
eq(err(utf8.codepoint, "\xE2\x82"), "invalid UTF-8 code", "cut short")
eq(err(utf8.codepoint, "\xE2\x82A"), "invalid UTF-8 code")
eq(utf8.codepoint("\0"), 0)
eq(err(utf8.codepoint, string.rep("a", 1100000), 1, -1), "stack overflow (string slice too long)")

-- len
eq(utf8.len(s), 3)
eq(utf8.len(""), 0)
eq(utf8.len(s, 2), 2)
eq(utf8.len(s, 4), 1)
eq(utf8.len(s, 7), 0, "one past the end")
eq(utf8.len(s, 1, 1), 1)
eq(utf8.len(s, 1, -2), 3, "counts characters that start in the span")
eq(select(2, utf8.len(s, -1)), 6, "negative start on a continuation byte")
eq(utf8.len(s, -3), 1)
local n, p = utf8.len("ab\xFFcd")
eq(n, nil); eq(p, 3)
n, p = utf8.len(s, 3)
eq(n, nil); eq(p, 3, "starting on a continuation byte")
eq(select("#", utf8.len("ab\xFF")), 2)
eq(utf8.len("\xED\xA0\x80"), nil)
eq(utf8.len("\xED\xA0\x80", 1, -1, true), 1)
eq(utf8.len("\xF4\x90\x80\x80", 1, -1, true), 1)
eq(err(utf8.len, s, 8), "bad argument #2 to 'utf8.len' (initial position out of bounds)")
eq(err(utf8.len, s, 0), "bad argument #2 to 'utf8.len' (initial position out of bounds)")
eq(err(utf8.len, s, 1, 7), "bad argument #3 to 'utf8.len' (final position out of bounds)")
eq(err(utf8.len, s, -100), "bad argument #2 to 'utf8.len' (initial position out of bounds)")

-- offset
eq(utf8.offset(s, 1), 1)
eq(utf8.offset(s, 2), 2)
eq(utf8.offset(s, 3), 4)
eq(utf8.offset(s, 4), 7, "one past the last character")
eq(utf8.offset(s, 5), nil)
eq(utf8.offset(s, -1), 4)
eq(utf8.offset(s, -2), 2)
eq(utf8.offset(s, -3), 1)
eq(utf8.offset(s, -4), nil)
eq(utf8.offset(s, 0, 3), 2, "start of the character holding byte 3")
eq(utf8.offset(s, 0, 6), 4)
eq(utf8.offset(s, 0, 7), 7)
eq(utf8.offset(s, 1, 4), 4)
eq(utf8.offset(s, 2, 2), 4)
eq(utf8.offset(s, -1, 4), 2)
eq(err(utf8.offset, s, 1, 3), "initial position is a continuation byte")
eq(err(utf8.offset, s, 1, 8), "bad argument #3 to 'utf8.offset' (position out of bounds)")
eq(err(utf8.offset, s, 1, 0), "bad argument #3 to 'utf8.offset' (position out of bounds)")
eq(utf8.offset("", 1), 1)
eq(utf8.offset("", -1), nil)

-- codes
local out = {}
for pos, code in utf8.codes(s) do out[#out + 1] = pos .. ":" .. code end
eq(table.concat(out, " "), "1:72 2:228 4:8364")
local count = 0
for _ in utf8.codes("") do count = count + 1 end
eq(count, 0)
eq(err(function() for _ in utf8.codes("ab\xFF") do end end), "invalid UTF-8 code")
eq(err(function() for _ in utf8.codes("a\xED\xA0\x80") do end end), "invalid UTF-8 code")
eq(err(function() for _ in utf8.codes("a\xC3") do end end), "invalid UTF-8 code", "cut short at the end")
eq(err(function() for _ in utf8.codes("a\xC3\xA4\xA4") do end end), "invalid UTF-8 code",
   "stray continuation byte")
-- codes() itself only checks the type; a leading stray byte is the first step's error
eq(type(utf8.codes("\x80")), "function")
eq(err(function() for _ in utf8.codes("\x80a") do end end), "invalid UTF-8 code")
out = {}
for pos, code in utf8.codes("a\xED\xA0\x80b", true) do out[#out + 1] = pos .. ":" .. code end
eq(table.concat(out, " "), "1:97 2:55296 5:98")
eq(err(utf8.codes, {}), "bad argument #1 to 'utf8.codes' (string expected, got table)")

-- charpattern matches one character at a time
out = {}
for c in s:gmatch(utf8.charpattern) do out[#out + 1] = c end
eq(#out, 3); eq(out[3], "\xE2\x82\xAC")

do
-- utf8.codes only checks the type of its subject; stray continuation bytes, leading or
-- trailing, are errors of the iteration
eq(select("#", utf8.codes("\x80")), 3)
eq(err(function() for _ in utf8.codes("\x80") do end end), "invalid UTF-8 code")
eq(err(function() for _ in utf8.codes("\xBFab") do end end), "invalid UTF-8 code")
eq(err(function() for _ in utf8.codes("ab\x80") do end end), "invalid UTF-8 code")
eq(err(function() for _ in utf8.codes("\x80", true) do end end), "invalid UTF-8 code")
local seen = {}
for p, c in utf8.codes("a\u{7FF}\u{10000}") do seen[#seen + 1] = p .. ":" .. c end
eq(table.concat(seen, " "), "1:97 2:2047 4:65536")
end

print("ok")
