-- find, match, gmatch and gsub: the pattern language, its limits and its messages.
-- Standard behaviour only: this script also runs unchanged under a stock Lua 5.4.

-- The message of a failing call, without the position prefix.
local function err(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

local function eq(got, want, what)
  if got ~= want then
    error(("%s: got %s, want %s"):format(what or "value", tostring(got), tostring(want)), 2)
  end
end

-- plain find and specials
eq(string.find("abc", "a)"), nil, "')' is not special")
eq(select(2, string.find("a+b", "+", 1, true)), 2, "plain +")
eq(string.find("a.b", ".", 1, true), 2, "plain dot")
eq(string.find("abc", "b", -1), nil, "negative init past match")
eq(string.find("abc", "", 10), nil, "init past end + 1")
eq(string.find("abc", "", 4), 4, "empty at end")
eq(select(2, string.find("abc", "", 4)), 3)
eq(string.find("a\0b", "\0"), 2, "embedded zero plain")
eq(string.find("a\0b", "%z"), 2, "%z class")
eq(string.find("a\0b", "\0b?"), 2, "special after an embedded zero")
eq(string.find("x\0y", "\0y"), 2, "plain search past zero")

-- anchors
eq(string.find("aaa", "^a"), 1)
eq(string.find("baa", "^a"), nil)
eq(string.match("abc", "c$"), "c")
eq(string.match("a$c", "$c"), "$c", "$ inside is literal")
eq(string.match("hello", "^(h)(e)"), "h")
eq(select(2, string.match("hello", "^(h)(e)")), "e")

-- classes
eq(string.match("  x12ab", "%a+"), "x")
eq(string.match("x12ab", "%d+"), "12")
eq(string.match("ab\tcd", "%s"), "\t")
eq(string.match("AbC", "%u+"), "A")
eq(string.match("AbC", "%l+"), "b")
eq(string.match("a,b", "%p"), ",")
eq(string.match("\1\2a", "%c+"), "\1\2")
eq(string.match("zz0fFg", "%x+"), "0fF")
eq(string.match("ab_1 ", "%w+"), "ab")
eq(string.match("ab 1", "%S+"), "ab")
eq(string.match("\200\201a", "%A+"), "\200\201", "non-ASCII bytes are not letters")
eq(string.match("é", "%a"), nil)
eq(string.match("x]y", "[]]"), "]")
eq(string.match("a-b", "[a%-]+"), "a-")
eq(string.match("a-z", "[%a-]+"), "a-z")
eq(string.match("abc123", "[^%a]+"), "123")
eq(string.match("mno", "[a-f]"), nil)
eq(string.match("mno", "[^a-f]+"), "mno")
eq(string.match("x-", "[x-]+"), "x-", "trailing - in a set is literal")

-- quantifiers
eq(string.match("aaab", "a*"), "aaa")
eq(string.match("aaab", "a-b"), "aaab")
eq(string.match("aaab", "a-"), "")
eq(string.match("b", "a+"), nil)
eq(string.match("ab", "a?b"), "ab")
eq(string.match("b", "a?b"), "b")
eq(string.match("<<a>>", "<(.-)>"), "<a")
eq(string.match("<<a>>", "<(.*)>"), "<a>")

-- captures
local a, b, c = string.match("key = value", "(%w+)%s*=%s*(%w+)()")
eq(a, "key"); eq(b, "value"); eq(c, 12, "position capture")
eq(string.match("hello", "()ll()"), 3)
eq(select(2, string.match("hello", "()ll()")), 5)
eq(string.match("abcabc", "(abc)%1"), "abc")
eq(string.match("abab", "(a)(b)%1%2"), "a")
eq(string.find("THE (quick) fox", "%((%a+)%)"), 5)
eq(select(3, string.find("THE (quick) fox", "%((%a+)%)")), "quick")
eq(math.type(string.match("x", "()")), "integer")

-- %b and %f
eq(string.match("x(a(b)c)y", "%b()"), "(a(b)c)")
eq(string.match("x(a(b", "%b()"), nil)
eq(string.match("THE (quick) fox", "%f[%a]%a+"), "THE")
eq(select(2, string.gsub("THE (quick) fox", "%f[%a]%a+", "W")), 3)
eq(string.gsub("hello world from Lua", "%f[%w]%w+", "X"), "X X X X")
eq(string.find("abc", "%f[%z]"), 4, "frontier at the end")

-- 32 captures are fine, a 33rd is too many
local p32 = string.rep("(a)", 32)
eq(select("#", string.match(string.rep("a", 32), p32)), 32)
eq(err(string.match, string.rep("a", 33), string.rep("(a)", 33)), "too many captures")

-- malformed patterns
eq(err(string.find, "a", "%"), "malformed pattern (ends with '%')")
eq(err(string.find, "a", "[a"), "malformed pattern (missing ']')")
eq(err(string.find, "a", "[a%"), "malformed pattern (missing ']')")
eq(err(string.find, "a", "[]"), "malformed pattern (missing ']')")
eq(err(string.find, "a", "%b"), "malformed pattern (missing arguments to '%b')")
eq(err(string.find, "a", "%ba"), "malformed pattern (missing arguments to '%b')")
eq(err(string.find, "a", "%f"), "missing '[' after '%f' in pattern")
eq(err(string.find, "a", "%fa"), "missing '[' after '%f' in pattern")
eq(err(string.find, "a", "(a%2)"), "invalid capture index %2")
eq(err(string.find, "a", "%1"), "invalid capture index %1")
eq(err(string.find, "aa", "(a%1)"), "invalid capture index %1", "open capture is not usable")
eq(err(string.match, "a", "a)"), "invalid pattern capture")
eq(err(string.find, "a", "(a"), "unfinished capture")
eq(err(string.match, "a", "(()"), "unfinished capture")

-- nesting depth: an item that matches nothing moves on without nesting
eq(string.match("", string.rep("a*", 250)), "")
eq(string.match("", string.rep("a?", 250)), "")
eq(string.match("", string.rep("a-", 250)), "")
eq(string.match("", string.rep("a*", 150)), "")
eq(string.match(string.rep("a", 150), string.rep("a*", 150)), string.rep("a", 150))
eq(err(string.match, string.rep("a", 250), string.rep("a?", 250)), "pattern too complex")
eq(string.match(string.rep("a", 250), string.rep("a", 250)), string.rep("a", 250),
   "plain single items do not nest")
eq(err(string.match, string.rep("a", 300), "(a)" .. string.rep("a*", 250) .. "b"),
   "pattern too complex")

-- gmatch
local words = {}
for w in string.gmatch("one two  three", "%a+") do words[#words + 1] = w end
eq(table.concat(words, ","), "one,two,three")
local pairs_ = {}
for k, v in string.gmatch("a=1, b=2", "(%w+)=(%w+)") do pairs_[#pairs_ + 1] = k .. v end
eq(table.concat(pairs_, ";"), "a1;b2")
-- an empty match never directly follows a match
local parts = {}
for m in string.gmatch("abc", "%a*") do parts[#parts + 1] = "[" .. m .. "]" end
eq(table.concat(parts), "[abc]")
parts = {}
for m in string.gmatch("a,b", "[^,]*") do parts[#parts + 1] = "[" .. m .. "]" end
eq(table.concat(parts), "[a][b]")
parts = {}
for p in string.gmatch("abc", "()") do parts[#parts + 1] = p end
eq(table.concat(parts, ","), "1,2,3,4")
-- init argument
parts = {}
for m in string.gmatch("abcabc", "a.", 3) do parts[#parts + 1] = m end
eq(table.concat(parts, ","), "ab")
parts = {}
for m in string.gmatch("abc", ".", 10) do parts[#parts + 1] = m end
eq(#parts, 0)
parts = {}
for m in string.gmatch("abc", "", 10) do parts[#parts + 1] = "x" end
eq(#parts, 0, "init past end gives no match at all")
parts = {}
for m in string.gmatch("abc", ".", -1) do parts[#parts + 1] = m end
eq(table.concat(parts), "c")
-- '^' is not an anchor in gmatch
parts = {}
for m in string.gmatch("^a^b", "^.") do parts[#parts + 1] = m end
eq(table.concat(parts, ","), "^a,^b")
eq(err(string.gmatch("abc", "(")), "unfinished capture")

-- gsub
eq(string.gsub("hello world", "o", "0"), "hell0 w0rld")
eq(select(2, string.gsub("hello world", "o", "0")), 2)
eq(string.gsub("hello world", "o", "0", 1), "hell0 world")
eq(string.gsub("hello", "", "-"), "-h-e-l-l-o-")
eq(string.gsub("abc", "%w*", "x"), "x", "empty match after a match is skipped")
eq(string.gsub("a,b,,c", "[^,]*", "<%0>"), "<a>,<b>,<>,<c>")
eq(string.gsub("abc", "^a", "A"), "Abc")
eq(string.gsub("aaa", "^a", "A"), "Aaa", "anchored gsub substitutes once")
eq(string.gsub("abc", "(a)(b)", "%2%1%%"), "ba%c")
eq(string.gsub("abc", "b", "%0%0"), "abbc")
eq(string.gsub("abc", "()b", "%1"), "a2c", "position capture as text")
eq(err(string.gsub, "abc", "b", "%2"), "invalid capture index %2")
eq(err(string.gsub, "abc", "b", "%x"), "invalid use of '%' in replacement string")
eq(err(string.gsub, "abc", "b", "x%"), "invalid use of '%' in replacement string")
eq(string.gsub("a b", "%w", {a = "1", b = "2"}), "1 2")
eq(string.gsub("a b", "%w", {a = false}), "a b", "false keeps the match")
eq(select(2, string.gsub("a b", "%w", {a = false})), 2, "kept matches still count")
eq(string.gsub("a b", "%w", {a = 10}), "10 b", "numbers are accepted")
eq(string.gsub("x=1", "(%w+)=(%w+)", function(k, v) return v .. k end), "1x")
eq(string.gsub("abc", ".", function() end), "abc")
eq(err(string.gsub, "abc", ".", function() return {} end), "invalid replacement value (a table)")
eq(err(string.gsub, "abc", ".", {a = true}), "invalid replacement value (a boolean)")
eq(err(string.gsub, "abc", ".", true),
   "bad argument #3 to 'string.gsub' (string/function/table expected, got boolean)")
eq(string.gsub("abc", ".", 1), "111", "a number replacement is its text")
eq(string.gsub("", "", "x"), "x")
eq(select(2, string.gsub("abc", "", "", 0)), 0)
eq(string.gsub("abc", "x*", "-"), "-a-b-c-")
eq(string.gsub("hello world", "(o)", "[%1]", -1), "hello world", "negative count")

-- a replacement function runs as a non-yieldable call
local co = coroutine.wrap(function()
  return pcall(string.gsub, "a", "a", function() coroutine.yield(1) end)
end)
local ok, m = co()
eq(ok, false)
assert(string.find(m, "yield across a C-call boundary", 1, true), m)

-- string methods through the metatable
eq(("abc"):upper(), "ABC")
eq(("x"):rep(3, ","), "x,x,x")
eq(getmetatable("").__index, string)

do
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
end

-- starts where a leading class fails are passed over in one scan: the text before a match,
-- long enough to grow the result buffer several times, is copied whole
do
local s = string.rep(" ", 5000) .. "a1" .. string.rep("-", 3000) .. "b2" .. string.rep(".", 700)
local r, n = s:gsub("%a%d", "<%0>")
eq(n, 2)
eq(r, string.rep(" ", 5000) .. "<a1>" .. string.rep("-", 3000) .. "<b2>" .. string.rep(".", 700))
r, n = s:gsub("(%a)([%d])", "%2%1", 1)
eq(n, 1)
eq(r, string.rep(" ", 5000) .. "1a" .. string.rep("-", 3000) .. "b2" .. string.rep(".", 700))
eq(select(2, s:gsub("[^%s%-%.]", "")), 4)
eq(s:find("%d", 5002), 5002)
eq(s:match("()b"), 8003)
local k = 0
for a, d in s:gmatch("(%l)(%d)") do k = k + 1 end
eq(k, 2)
end

print("ok")
