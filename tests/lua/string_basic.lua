-- byte, char, sub, rep, len, lower, upper, reverse and the string metatable's shape.
-- Standard behaviour only: this script also runs unchanged under a stock Lua 5.4.

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

-- sub: positions clamp, negatives count from the end
eq(string.sub("hello", 2, 4), "ell")
eq(string.sub("hello", -3), "llo")
eq(string.sub("hello", -100, 2), "he")
eq(string.sub("hello", 0), "hello")
eq(string.sub("hello", 4, 2), "")
eq(string.sub("hello", 6), "")
eq(string.sub("hello", 2, 100), "ello")
eq(string.sub("hello", math.mininteger, math.maxinteger), "hello")
eq(string.sub("hello", math.maxinteger), "")
eq(string.sub("hello", -1, -1), "o")
eq(string.sub("hello", 3.0, 4), "ll", "integral floats are positions")
eq(err(string.sub, "hello", 1.5), "bad argument #2 to 'string.sub' (number has no integer representation)")
eq(string.sub(12345, 2, 3), "23", "numbers convert to strings")
eq(err(string.sub), "bad argument #1 to 'string.sub' (string expected, got no value)")
eq(err(string.sub, {}), "bad argument #1 to 'string.sub' (string expected, got table)")

-- byte
eq(string.byte("A"), 65)
eq(select("#", string.byte("abc", 1, -1)), 3)
eq(select(3, string.byte("abc", 1, -1)), 99)
eq(select("#", string.byte("abc", 3, 1)), 0)
eq(select("#", string.byte("", 1)), 0)
eq(string.byte("abc", -1), 99)
eq(string.byte("abc", 10), nil)
eq(select("#", string.byte("abc", 0, 10)), 3)
eq(string.byte("\255"), 255)
eq(string.byte("\0"), 0)
eq(math.type(string.byte("a")), "integer")
local big = string.rep("x", 1100000)
eq(err(string.byte, big, 1, -1), "stack overflow (string slice too long)")

-- char
eq(string.char(72, 105), "Hi")
eq(string.char(), "")
eq(string.char(0, 255), "\0\255")
eq(err(string.char, 256), "bad argument #1 to 'string.char' (value out of range)")
eq(err(string.char, 65, -1), "bad argument #2 to 'string.char' (value out of range)")
eq(err(string.char, "x"), "bad argument #1 to 'string.char' (number expected, got string)")
eq(pcall(function() return string.char(256) end), false)
eq(select(2, pcall(function() return string.char(256) end)):match("bad argument.*"),
   "bad argument #1 to 'char' (value out of range)")

-- rep
eq(string.rep("ab", 3), "ababab")
eq(string.rep("ab", 3, "-"), "ab-ab-ab")
eq(("x"):rep(3, ","), "x,x,x")
eq(string.rep("x", 0), "")
eq(string.rep("x", -5), "")
eq(string.rep("x", 1, "sep"), "x")
eq(string.rep("", 5, ","), ",,,,")
eq(string.rep("x", 0, string.rep("y", 100)), "")
eq(err(string.rep, "ab", 2^30), "resulting string too large")
eq(err(string.rep, "x", math.maxinteger), "resulting string too large")
eq(err(string.rep, "x", 2^31 // 2, "x"), "resulting string too large")
eq(string.rep("x", math.mininteger, "y"), "", "n <= 0 is tested before dividing")
eq(#string.rep("abc", 1000), 3000)
eq(#string.rep("a", 5000, "bc"), 5000 + 4999 * 2)

-- len, lower, upper, reverse
eq(string.len(""), 0)
eq(string.len("a\0b"), 3)
eq(#"a\0b", 3)
eq(string.lower("HeLLo 123 \200"), "hello 123 \200")
eq(string.upper("HeLLo 123 \233"), "HELLO 123 \233", "bytes above 127 are not letters")
eq(string.reverse("abc"), "cba")
eq(string.reverse(""), "")
eq(string.reverse("a\0b"), "b\0a")
eq(string.upper(string.rep("a", 3000)), string.rep("A", 3000))

-- the metatable
local mt = getmetatable("")
eq(mt.__index, string)
eq(keys(mt), "__add __div __idiv __index __mod __mul __pow __sub __unm")
eq(("abc"):len(), 3)
eq(("%d"):format(5), "5")
local s = "x"
eq(s:byte(), 120)
-- method calls follow whatever __index the string metatable has now
local saved = mt.__index
mt.__index = setmetatable({}, {__index = function(_, k) return function() return k end end})
eq(s:anything(), "anything")
mt.__index = {len = function() return 42 end}
eq(s:len(), 42)
assert(not pcall(function() return s:upper() end))
mt.__index = function(str, k) return function() return str .. k end end
eq(s:y(), "xy")
mt.__index = nil
assert(string.find(select(2, pcall(function() return s:len() end)), "attempt to index"))
mt.__index = saved
eq(s:rep(3), "xxx")

print("ok")
