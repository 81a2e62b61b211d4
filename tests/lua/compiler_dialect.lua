-- The dialect's syntax: the ? print statement, single-line if and while, compound
-- assignments, != \ ^^, escapes and binary numerals.

-- ? resolves 'print' like any name: a local print wins
do
  local seen = {}
  local function print(...) seen[#seen + 1] = table.pack(...) return "r1", "r2" end
  ? 1, 2
  ?
  ? "x"   -- a trailing comment
  local function three() return 7, 8, 9 end
  ? three()
  ? three(), 1
  local function va(...)
    ? ...
  end
  va("a", nil, "c")
  assert(#seen == 6)
  assert(seen[1].n == 2 and seen[1][1] == 1 and seen[1][2] == 2)
  assert(seen[2].n == 0)
  assert(seen[3].n == 1 and seen[3][1] == "x")
  assert(seen[4].n == 3 and seen[4][3] == 9)
  assert(seen[5].n == 2 and seen[5][1] == 7 and seen[5][2] == 1)
  assert(seen[6].n == 3 and seen[6][2] == nil and seen[6][3] == "c")
  -- as an expression it is worth one value
  local v1, v2 = ? "e"
  assert(v1 == "r1" and v2 == nil and seen[7][1] == "e")
  local packed = {? "f"
  }
  assert(#packed == 1 and packed[1] == "r1")
end

-- ? with the global print
do
  local saved = print
  local got
  print = function(...) got = table.pack(...) end
  ? "global", 3
  print = saved
  assert(got.n == 2 and got[1] == "global" and got[2] == 3)
  -- at the end of a chunk without a line break
  local g2
  local f = load("? 'eof'", "=x", "t", {print = function(a) g2 = a end})
  f()
  assert(g2 == "eof")
end

-- single-line if
do
  local out = {}
  local function print(...) out[#out + 1] = ... end
  local c, d = true, false
  if (c) out[#out + 1] = "a"
  if (d) out[#out + 1] = "never"
  assert(out[1] == "a" and #out == 1)
  if (d) out[#out + 1] = "b1" else out[#out + 1] = "b2"
  assert(out[2] == "b2")
  if (c) if (c) out[#out + 1] = "nested"
  assert(out[3] == "nested")
  if (c) ? "printed"
  assert(out[4] == "printed")
  if (d) ? "not printed"  -- a comment after a single-line body
  out[#out + 1] = "after"
  assert(out[5] == "after")
  if (d) if (c) ? "deep"   --[[ long comment ]]
  out[#out + 1] = "after2"
  assert(out[6] == "after2" and #out == 6)
  if (c) or d out[#out + 1] = "or"
  assert(out[7] == "or")
  if (d) out[#out + 1] = "x" elseif c then out[#out + 1] = "elseif"
  assert(out[8] == "elseif")
  local function f(x) if (x) return 1 end
  assert(f(true) == 1 and f(false) == nil)
  local function g(x) if (x > 1) return "big" else return "small" end
  assert(g(2) == "big" and g(0) == "small")
  if (c) local scoped = 1; out[#out + 1] = scoped
  assert(out[9] == 1 and scoped == nil)
  -- an ordinary if with a parenthesised condition still works
  if (c) then out[#out + 1] = "then" end
  if (c) and d then out[#out + 1] = "no" else out[#out + 1] = "else" end
  assert(out[10] == "then" and out[11] == "else")
  if (c)
  then out[#out + 1] = "next line then" end
  assert(out[12] == "next line then")
end

-- single-line while
do
  local i = 0
  while (i < 10) i += 1
  assert(i == 10)
  local n = 0
  while (n < 100) if (n >= 5) break else n = n + 1
  assert(n == 5)
  local j, k = 0, 0
  while (j < 3) j += 1; k += 2
  assert(j == 3 and k == 6)
  local function w(x) while (x < 3) x = x + 1 end
  w(0)
  local m = 0
  repeat while (m < 2) m += 1 until true
  assert(m == 2)
end

-- compound assignments: every operator, on locals, upvalues, globals and fields
do
  local x = 7
  x += 3; assert(x == 10)
  x -= 4; assert(x == 6)
  x *= 2; assert(x == 12)
  x /= 8; assert(x == 1.5)
  x = 17
  x %= 5; assert(x == 2)
  x ^= 3; assert(x == 8.0)
  x = 17
  x \= 5; assert(x == 3)
  x = 12
  x &= 10; assert(x == 8)
  x |= 3; assert(x == 11)
  x ^^= 5; assert(x == 14)
  x <<= 2; assert(x == 56)
  x >>= 3; assert(x == 7)
  local s = "a"
  s ..= "b"; s ..= 1; assert(s == "ab1")
  -- the right side is a whole expression
  local y = 2
  y *= 1 + 2; assert(y == 6)
  y -= 1 - 1; assert(y == 6)
  y ..= "x" .. "y"; assert(y == "6xy")
  -- upvalues and globals
  local up = 1
  local function inc() up += 10 end
  inc(); inc()
  assert(up == 21)
  G_COMPOUND = 5
  G_COMPOUND *= 3
  assert(G_COMPOUND == 15)
  G_COMPOUND = nil
  -- table and key evaluated once
  local calls = 0
  local t = {0, 0, x = {y = 1}}
  local function key() calls = calls + 1 return 2 end
  t[key()] += 5
  assert(calls == 1 and t[2] == 5)
  local function tab() calls = calls + 1 return t end
  tab().x.y += 1
  assert(calls == 2 and t.x.y == 2)
  t[key() .. ""] = 0
  t[key() .. ""] += 4
  assert(t["2"] == 4 and calls == 4)
  -- the indexed target is read before the right side runs
  local u = {v = 1}
  u.v += (function() u.v = 100 return 1 end)()
  assert(u.v == 2)
  -- a local target reads its register when the operation runs
  local l = 1
  l += (function() l = 100 return 1 end)()
  assert(l == 101)
  -- metamethods run for compound operators
  local mt = {__add = function(a, b) return "added" end, __concat = function() return "cat" end}
  local o = setmetatable({}, mt)
  local o2 = o
  o2 += 1
  assert(o2 == "added")
  o2 = o
  o2 ..= "z"
  assert(o2 == "cat")
end

-- hidden locals of compound assignments appear in the debug information
do
  T_HIDDEN = {a = 1}
  T_HIDDEN.a += 1
  local names = {}
  local i = 1
  while true do
    local name = debug.getlocal(1, i)
    if not name then break end
    names[#names + 1] = name
    i = i + 1
  end
  assert(names[1] == "(for compound)" and names[2] == "names" and #names == 3)
  assert(T_HIDDEN.a == 2)
  T_HIDDEN = nil
end

-- != and ~=, backslash floor division, ^^ exclusive or and bitwise not
do
  local a, b = 3, 4
  assert((a != b) == true and (a != 3) == false and (a ~= b) == (a != b))
  assert(a!=b)
  assert(7 \ 2 == 3 and -7 \ 2 == -4 and 7.5 \ 2 == 3.0 and 7 \ 2 == 7 // 2)
  assert(5 ^^ 3 == 6 and ^^0 == -1 and ^^a == ~a and a ^^ b == a ~ b)
  assert(2 ^ 3 ^^ 1 == 9.0) -- ^ binds tighter than ^^
  assert(1 | 6 ^^ 3 == 5 and 1 | (6 ^^ 3) == 5)
  assert(load("x //= 2") == nil) -- no //= operator
end

-- numerals and escapes
do
  assert(0b101 == 5 and 0B11 == 3 and math.type(0b1) == "integer")
  assert(0b1.1 == 1.5 and 0b.01 == 0.25 and math.type(0b1.1) == "float")
  assert(0b1111111111111111111111111111111111111111111111111111111111111111 == -1)
  assert("\*\#\-\|\+\^" == "\1\2\3\4\5\6")
  assert(#"\*" == 1 and string.byte("\^") == 6)
  assert(load("return 0b2") == nil and load("return 0b") == nil)
end

-- division by zero in constants is not folded and does not fail
do
  assert(7 // 0 == 9223372036854775807 and -7 // 0 == -9223372036854775807 and 7 % 0 == 0)
  assert(7.0 / 0 == 1.7976931348623157e308 and -7 / 0.0 == -1.7976931348623157e308)
  assert(0 / 0.0 == 1.7976931348623157e308 and 1 % 0.0 ~= 1 % 0.0)
  assert(not pcall(load("return 1.5 & 1")) and not pcall(load("return 3 | 2.5")))
end
-- folded constants equal what the same operation gives at run time, bit for bit
do
  local function same(x, y)
    if math.type(x) ~= math.type(y) then return false end
    if x ~= x then return y ~= y end
    if x == 0 and math.type(x) == "float" then return 1 / x == 1 / y end
    return x == y
  end
  local nums = {"0", "1", "-1", "7", "-7", "3", "-3", "2", "64", "63", "-64", "0.0", "-0.0", "1.5",
    "-2.5", "8.0", "-8.0", "2^53", "1e308", "-1e308", "9223372036854775807", "-9223372036854775807",
    "0x7fffffffffffffff", "0b101"}
  local ops = {"+", "-", "*", "/", "%", "^", "//", "\\", "&", "|", "~", "^^", "<<", ">>"}
  local checked = 0
  for _, a in ipairs(nums) do
    for _, b in ipairs(nums) do
      for _, op in ipairs(ops) do
        local folded = load("return (" .. a .. ") " .. op .. " (" .. b .. ")")
        local runtime = load("local a, b = ... return a " .. op .. " b")
        local ok1, r1 = pcall(folded)
        local ok2, r2 = pcall(runtime, load("return " .. a)(), load("return " .. b)())
        assert(ok1 == ok2, a .. op .. b)
        if ok1 then assert(same(r1, r2), a .. " " .. op .. " " .. b) end
        checked = checked + 1
      end
    end
    for _, op in ipairs({"-", "~", "^^"}) do
      local ok1, r1 = pcall(load("return " .. op .. "(" .. a .. ")"))
      local ok2, r2 = pcall(load("local a = ... return " .. op .. "a"), load("return " .. a)())
      assert(ok1 == ok2 and (not ok1 or same(r1, r2)), op .. a)
    end
  end
  assert(checked == #nums * #nums * #ops)
  assert(-8.0 % -3 == -2.0 and 8.0 % -3 == -1.0 and -8.0 % 3 == 1.0 and 5.5 % -2 == -0.5)
end

-- Compiler corner cases: line breaks of every spelling closing the dialect's single-line
-- statements, the order of reads and writes in compound assignments, the peek operators'
-- priority, and messages whose wording is easy to get slightly wrong.
do
local function check(src, expected)
  local f, msg = load(src)
  if f ~= nil or msg ~= expected then
    error(string.format("source %q\n  expected: %s\n  got:      %s", src, expected, tostring(msg)), 2)
  end
end

local function run(src, env)
  local f, msg = load(src, "=corner", "t", env)
  if not f then error(msg, 2) end
  return f()
end

-- every spelling of a line break delivers the owed <eol>s, two at once when two are owed
do
  local out = {}
  local env = {print = function(...) out[#out + 1] = table.concat({...}, ",") end, c = true}
  for _, nl in ipairs({"\n", "\r", "\r\n", "\n\r"}) do
    out = {}
    run("? 1, 2" .. nl .. "if (c) ? 3" .. nl .. "? 4" .. nl .. "if (c) if (c) ? 5" .. nl .. "? 6", env)
    assert(table.concat(out, "|") == "1,2|3|4|5|6", nl:byte() .. ": " .. table.concat(out, "|"))
  end
  -- a line break after a ? is counted once however many <eol>s it delivers
  local f = load("if (c) if (c) x = 1\nerror('here')", "=lines", "t", {c = true, error = error})
  local ok, err = pcall(f)
  assert(not ok and err == "lines:2: here", err)
  -- a long comment after ? delays the <eol> to the line break after it
  out = {}
  run("? 1 --[[ one\ntwo ]], 2\n? 3", env)
  assert(table.concat(out, "|") == "1,2|3")
  -- an escaped line break inside a string owes nothing
  out = {}
  run("? 'a\\\nb', 'c'\n? 'd'", env)
  assert(table.concat(out, "|") == "a\nb,c|d")
end

-- compound assignments read the target once, before the right side, and write it once
do
  local log = {}
  local store = {x = 1}
  local proxy = setmetatable({}, {
    __index = function(_, k) log[#log + 1] = "get " .. k return store[k] end,
    __newindex = function(_, k, v) log[#log + 1] = "set " .. k .. "=" .. tostring(v) store[k] = v end,
  })
  local function rhs() log[#log + 1] = "rhs" return 10 end
  proxy.x += rhs()
  assert(table.concat(log, ";") == "get x;rhs;set x=11", table.concat(log, ";"))
  log = {}
  proxy.x ..= rhs()
  assert(table.concat(log, ";") == "get x;rhs;set x=1110", table.concat(log, ";"))
  -- the key expression runs before the target is read, and once
  log = {}
  local function key() log[#log + 1] = "key" return "x" end
  proxy[key()] -= rhs()
  assert(table.concat(log, ";") == "key;get x;rhs;set x=1100", table.concat(log, ";"))
  -- an upvalue target is read before the right side changes it
  local up = 5
  local function bump() up += (function() up = 1000 return 1 end)() end
  bump()
  assert(up == 6)
  -- a global target likewise
  local env = {}
  run("g = 5 g *= (function() g = 1000 return 2 end)()", env)
  assert(env.g == 10)
end

-- the peek operators bind like the other unary operators: tighter than every binary
-- operator but ^, and they chain with the others
do
  assert(load("local a = ... return @a + 1, *a ^ 2, -@a, @-a, not $a, #%a, @a .. 'x', @a.b, %a % %a"))
  check("return @", ":1: unexpected symbol near <eof>")
  check("return a @ b", ":1: <eof> expected near '@'")
  check("return 1 + * ", ":1: unexpected symbol near <eof>")
end

-- a break out of a generic for whose body has a captured local still closes the iterator's
-- closing value (the break's OP_CLOSE starts at the loop's own state registers)
do
  local closed = 0
  local mt = {__close = function() closed = closed + 1 end}
  local function iter()
    return function(_, i) if i < 3 then return i + 1 end end, nil, 0, setmetatable({}, mt)
  end
  local keep
  for i in iter() do local x = i keep = function() return x end break end
  assert(closed == 1 and keep() == 1)
  for i in iter() do local x <close> = setmetatable({}, mt) if i == 2 then break end end
  assert(closed == 4)
  while true do local y = 1 keep = function() return y end break end
  assert(keep() == 1)
end

-- messages
check("local x <const> = 1; local function f() x ..= 'a' end",
      ":1: attempt to assign to const variable 'x'")
check("local t = {} goto l; t.a.b ^^= 1; ::l:: t = 1",
      ":1: <goto l> at line 1 jumps into the scope of local '(for compound)'")
check("x = 1 //= 2", ":1: unexpected symbol near '='")
check("x = 3 \\", ":1: unexpected symbol near <eof>")
check("x = a !b", ":1: unexpected symbol near '!'")
check("? 1 ? 2", ":1: <eol> expected near ?")
check("if (a) x() until", ":1: <eof> expected near 'until'")
check("repeat if (a) x() until", ":1: unexpected symbol near <eof>")
-- the text so far holds the bytes the six escapes made
check("x = '\\*\\#\\-\\|\\+\\^\\!'", ":1: invalid escape sequence near ''\1\2\3\4\5\6\\!'")
check("return 0b1p4", ":1: malformed number near '0b1p'")

-- the dialect's escapes and binary numerals
assert("\*\#\-\|\+\^" == "\1\2\3\4\5\6")
assert(0b101 == 5 and 0B1.1 == 1.5 and 0b.01 == 0.25 and math.type(0b11) == "integer")
end

print("ok")
