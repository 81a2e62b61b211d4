-- Compiler corner cases: line breaks of every spelling closing the dialect's single-line
-- statements, the order of reads and writes in compound assignments, the peek operators'
-- priority, and messages whose wording is easy to get slightly wrong.

local function check(src, expected)
  local f, msg = load(src)
  if f ~= nil or msg ~= expected then
    error(string.format("source %q\n  expected: %s\n  got:      %s", src, expected, tostring(msg)), 2)
  end
end

local function run(src, env)
  local f, msg = load(src, "=audit", "t", env)
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

print("ok")
