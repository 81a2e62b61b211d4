-- String library corners: %p under every accepted flag, the pattern allowance of each gmatch
-- step, and utf8.codes on stray continuation bytes.

local function err(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

local function eq(got, want, what)
  if got ~= want then
    error(("%s: got %q, want %q"):format(what or "value", tostring(got), tostring(want)), 2)
  end
end

local F = string.format

-- %p of an object: the flags act as the C library's "%p" makes them act
local t = {}
local plain = F("%p", t)
assert(plain:match("^0x%x+$"), plain)
local digits = plain:sub(3)
eq(F("%#p", t), plain, "'#' changes nothing")
eq(F("%+p", t), "+" .. plain)
eq(F("% p", t), " " .. plain)
eq(F("%+ p", t), "+" .. plain, "'+' wins over ' '")
eq(F("%30p", t), string.rep(" ", 30 - #plain) .. plain)
eq(F("%-30p|", t), plain .. string.rep(" ", 30 - #plain) .. "|")
eq(F("%030p", t), "0x" .. string.rep("0", 28 - #digits) .. digits, "zeros go after 0x")
eq(F("%+030p", t), "+0x" .. string.rep("0", 27 - #digits) .. digits)
eq(F("%-030p|", t), plain .. string.rep(" ", 30 - #plain) .. "|", "'-' overrides '0'")
eq(F("%.25p", t), "0x" .. string.rep("0", 25 - #digits) .. digits, "precision: least digits")
eq(F("%.1p", t), plain)
eq(F("%30.25p", t), "   0x" .. string.rep("0", 25 - #digits) .. digits)
eq(F("%030.25p", t), "   0x" .. string.rep("0", 25 - #digits) .. digits, "precision cancels '0'")
eq(#F("%-+ #099.99p", t), 102)
-- values without an object are the text "(null)" under the same spec
eq(F("%+08p|%-8.3p|", nil, 1), "  (null)|(nu     |")

-- a failed start inside a run of a's rules out the rest of the run: quadratic scans stay linear
local s = string.rep(string.rep("a", 1000) .. "by", 40)
local n = 0
for m in string.gmatch(s, "a*y") do
  n = n + 1
  eq(m, "y")
end
eq(n, 40)
local r, k = string.gsub(s, "a*y", "Y")
eq(k, 40)
eq(r, (string.rep(string.rep("a", 1000) .. "bY", 40)))

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

print("ok")
