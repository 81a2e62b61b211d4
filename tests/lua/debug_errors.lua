-- Run-time error messages: the exact text, the variable information and the position prefix.

-- A chunk loaded from a plain string has an empty chunk id, so its messages begin ":<line>:".
local function check(code, expected)
  local f, err = load(code)
  assert(f, err)
  local ok, msg = pcall(f)
  assert(not ok, "no error from: " .. code)
  if msg ~= expected then
    error(string.format("%q\n  got      %q\n  expected %q", code, tostring(msg), expected), 2)
  end
end

-- Names of the culprit, by the kind of variable that held it.
check("f()", ":1: attempt to call a nil value (global 'f')")
check("local a; a()", ":1: attempt to call a nil value (local 'a')")
check("local t = {}; t.x.y = 1", ":1: attempt to index a nil value (field 'x')")
check("local t = {}; return t.a.b", ":1: attempt to index a nil value (field 'a')")
check("local t = {}; t:m()", ":1: attempt to call a nil value (method 'm')")
check("local t = {}; t.f()", ":1: attempt to call a nil value (field 'f')")
check("x.y = 1", ":1: attempt to index a nil value (global 'x')")
check("return x.y.z", ":1: attempt to index a nil value (global 'x')")
check("local u; return (function() return u.x end)()", ":1: attempt to index a nil value (upvalue 'u')")
check("local u; local function g() u() end; g()", ":1: attempt to call a nil value (upvalue 'u')")
check("return ('abc')()", ":1: attempt to call a string value (constant 'abc')")
check("local t = {}; t[1][2] = 3", ":1: attempt to index a nil value (field 'integer index')")
check("local t, k = {}, 'key'; return t[k].z", ":1: attempt to index a nil value (field '?')")
check("local t = {}; return t['const'].z", ":1: attempt to index a nil value (field 'const')")
check("local a = {}; local b = a; return b.x.y", ":1: attempt to index a nil value (field 'x')")
check("local a = {}; local b; b = a.q; b()", ":1: attempt to call a nil value (local 'b')")
check("local a <const> = nil; return a.x", ":1: attempt to index a nil value")

-- Operations by verb.
check("local a = {}; return -a", ":1: attempt to perform arithmetic on a table value (local 'a')")
check("local a = {}; return 1 + a", ":1: attempt to perform arithmetic on a table value (local 'a')")
check("local a = {}; return a * 2", ":1: attempt to perform arithmetic on a table value (local 'a')")
check("return {} + 1", ":1: attempt to perform arithmetic on a table value")
check("local s = 'x'; return s | 1", ":1: attempt to perform bitwise operation on a string value (local 's')")
check("local t = {}; return ~t", ":1: attempt to perform bitwise operation on a table value (local 't')")
check("local a = 1.5; return a | 1", ":1: number (local 'a') has no integer representation")
check("local a = 1.5; return 1 & a", ":1: number (local 'a') has no integer representation")
check("local a = 2^63; return a >> 1", ":1: number (local 'a') has no integer representation")
check("local a, b = 1.5, 2.5; return a ~ b", ":1: number (local 'a') has no integer representation")
check("local a = {}; return a .. 'x'", ":1: attempt to concatenate a table value (local 'a')")
check("local a = {}; return 'x' .. 1 .. a", ":1: attempt to concatenate a table value (local 'a')")
check("local b = true; return 1 .. b", ":1: attempt to concatenate a boolean value (local 'b')")
check("return #nil", ":1: attempt to get length of a nil value")
check("local n = 5; return #n", ":1: attempt to get length of a number value (local 'n')")
check("local n; n.x = 1", ":1: attempt to index a nil value (local 'n')")

-- Comparisons name the two types.
check("return 1 < {}", ":1: attempt to compare number with table")
check("return {} < {}", ":1: attempt to compare two table values")
check("return {} <= 'x'", ":1: attempt to compare table with string")
check("local a = {}; return a > 1", ":1: attempt to compare number with table")
check("local a = {}; return a < 1", ":1: attempt to compare table with number")
check("return 'a' < 1", ":1: attempt to compare string with number")
check("return nil >= nil", ":1: attempt to compare two nil values")

-- Numeric for.
check("for i = 1, 'x' do end", ":1: bad 'for' limit (number expected, got string)")
check("for i = {}, 2 do end", ":1: bad 'for' initial value (number expected, got table)")
check("for i = 1, 2, false do end", ":1: bad 'for' step (number expected, got boolean)")
check("for i = 1, 2, 0 do end", ":1: 'for' step is zero")

-- Not callable: described by the variable that held the value, when there is one.
check("for x in 5 do end", ":1: attempt to call a number value")
check("local t = setmetatable({}, {__add = 5}); return t + 1",
  ":1: attempt to call a number value")
check("local t = setmetatable({}, {__lt = 5}); return t < t",
  ":1: attempt to call a number value")
check("local t = setmetatable({}, {__len = true}); return #t",
  ":1: attempt to call a boolean value")
check("local t = setmetatable({}, {__call = 5}); return t()", ":1: attempt to call a number value (local 't')")
check("local t = {f = 1}; t.f()", ":1: attempt to call a number value (field 'f')")
check("local function g() return 5 end; g()()", ":1: attempt to call a number value")
check("local s = 'x'; s()", ":1: attempt to call a string value (local 's')")

-- __name of the metatable names the type.
check("local v = setmetatable({}, {__name = 'Vec'}); return v + 1",
  ":1: attempt to perform arithmetic on a Vec value (local 'v')")
check("local v = setmetatable({}, {__name = 'Vec'}); return v < v", ":1: attempt to compare two Vec values")
check("local v = setmetatable({}, {__name = 'Vec'}); return v < 1", ":1: attempt to compare Vec with number")

-- The line of the failing instruction.
check("local a\n\nlocal b = a.x", ":3: attempt to index a nil value (local 'a')")
check("local t = {}\nlocal s = 0\nfor i = 1, 3 do\n  s = s + t[i]\nend",
  ":4: attempt to perform arithmetic on a nil value (field '?')")
check("error('plain')", ":1: plain")
check("error('nolevel', 0)", "nolevel")
check("local function f()\n  error('deep', 2)\nend\nf()", ":4: deep")

-- Named chunks keep their name; "=" and "@" lose the marker.
do
  local f = load("local z; return z.q", "=named")
  local ok, msg = pcall(f)
  assert(not ok and msg == "named:1: attempt to index a nil value (local 'z')", msg)
  f = load("\nreturn nil + 1", "@some/file.lua")
  ok, msg = pcall(f)
  assert(msg == "some/file.lua:2: attempt to perform arithmetic on a nil value", msg)
end

-- A file run by the runner is named after its base name.
do
  local line = debug.getinfo(1, "l").currentline + 1
  local ok, msg = pcall(function() local z; return z.q end)
  assert(not ok)
  assert(msg == "debug_errors.lua:" .. line .. ": attempt to index a nil value (local 'z')", msg)
end

-- Peeks: the address is named, the peeked value is not.
check("local p; return @p", ":1: attempt to perform arithmetic on a nil value (local 'p')")
check("local p = 1.5; return @p", ":1: attempt to perform arithmetic on a number value (local 'p')")
check("local p = {}; return $p", ":1: attempt to perform arithmetic on a table value (local 'p')")
check("return @1.5", ":1: attempt to perform arithmetic on a number value")
check("return @'1'", ":1: attempt to perform arithmetic on a string value (constant '1')")
check("local a = 16; return (@a)()", ":1: attempt to call a number value")
check("local a = 16; return (@a).x", ":1: attempt to index a number value")
check("local a = 16; local b = @a; return b.x", ":1: attempt to index a number value (local 'b')")
-- the peek's register held a named value just before: the peek replaces it, name and all
check("local a = 16; local t = {x = 1}; t.y = t.x; return (@a).z", ":1: attempt to index a number value")
check("local a = 16; local t = {x = 1}; t.y = t.x; return (%a).z", ":1: attempt to index a number value")
check("local a = 16; local t = {x = 1}; t.y = t.x; return ($a)()", ":1: attempt to call a number value")
check("local a = 16; local t = {x = 1}; t.y = t.x; return (*a) .. {}", ":1: attempt to concatenate a table value")
check("local t = {x = 2.5}; return @t.x", ":1: attempt to perform arithmetic on a number value (field 'x')")
check("local s = 'abc'; return *s", ":1: attempt to perform arithmetic on a string value (local 's')")

-- error() with the memory error's text is a memory error, but pcall still returns the text.
do
  local ok, msg = pcall(error, "not enough memory")
  assert(not ok and msg == "not enough memory")
end

print("ok")
