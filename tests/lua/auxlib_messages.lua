-- Argument errors of native functions: wording, argument numbers of method calls, function
-- names from the call site or from the loaded modules, type names and position prefixes.

local src = debug.getinfo(1, "S").short_src

local function fails(msg, f, ...)
  local ok, err = pcall(f, ...)
  assert(not ok, "no error, expected: " .. msg)
  if err ~= msg then
    error(string.format("\n  got      %q\n  expected %q", tostring(err), msg), 2)
  end
end

-- Called by pcall, a function has no name at the call site and no position is added: its
-- global name comes from the loaded modules, "_G." left out.
fails("bad argument #1 to 'string.rep' (string expected, got no value)", string.rep)
fails("bad argument #2 to 'string.rep' (number expected, got no value)", string.rep, "x")
fails("bad argument #1 to 'setmetatable' (table expected, got nil)", setmetatable, nil)
fails("bad argument #1 to 'math.floor' (number expected, got boolean)", math.floor, true)

-- Called from Lua code: the name the code used and the caller's position.
fails(src .. ":23: bad argument #1 to 'rep' (string expected, got no value)", function()
  string.rep()
end)
fails(src .. ":27: bad argument #1 to 'r' (string expected, got table)", function()
  local r = string.rep
  r({})
end)
fails(src .. ":30: bad argument #1 to 'setmetatable' (table expected, got number)", function()
  setmetatable(1, nil)
end)
-- an upvalue name
local up = string.rep
fails(src .. ":35: bad argument #1 to 'up' (string expected, got boolean)", function()
  up(true)
end)

-- Method calls do not count the object.
fails(src .. ":40: bad argument #1 to 'rep' (number expected, got table)", function()
  ("x"):rep({})
end)
fails(src .. ":43: bad argument #2 to 'sub' (number expected, got table)", function()
  ("x"):sub(1, {})
end)
fails(src .. ":47: calling 'rep' on bad self (string expected, got table)", function()
  local obj = setmetatable({}, {__index = string})
  obj:rep(2)
end)

-- Type names: a string __name, light userdata, "no value".
do
  local named = setmetatable({}, {__name = "Widget"})
  fails("bad argument #1 to 'string.rep' (string expected, got Widget)", string.rep, named)
  local unnamed = setmetatable({}, {__name = 42})
  fails("bad argument #1 to 'string.rep' (string expected, got table)", string.rep, unnamed)
  local lud = debug.upvalueid(function() return named end, 1)
  fails("bad argument #1 to 'string.rep' (string expected, got light userdata)", string.rep, lud)
  fails("bad argument #1 to 'string.rep' (string expected, got nil)", string.rep, nil)
end

-- Integer arguments.
assert(string.rep("x", "3.0") == "xxx" and string.rep("x", 2.0) == "xx")
fails("bad argument #2 to 'string.rep' (number has no integer representation)", string.rep, "x", 3.5)
fails("bad argument #2 to 'string.rep' (number has no integer representation)", string.rep, "x", "3.5")
fails("bad argument #2 to 'string.rep' (number expected, got string)", string.rep, "x", "abc")
fails("bad argument #2 to 'string.rep' (number has no integer representation)", string.rep, "x", 2^63)

-- Options.
fails("bad argument #1 to 'collectgarbage' (invalid option 'nope')", collectgarbage, "nope")

-- Lengths through __len must be integers (a numeric string or an integral float counts).
do
  local function lenis(v) return setmetatable({}, {__len = function() return v end}) end
  fails("object length is not an integer", table.insert, lenis(1.5), 1)
  fails("object length is not an integer", table.insert, lenis("x"), 1)
  fails(src .. ":77: object length is not an integer", function()
    table.unpack(lenis({}))
  end)
  assert(select("#", table.unpack(lenis(2.0))) == 2)
  assert(select("#", table.unpack(lenis("3"))) == 3)
end

-- Errors of native functions get a prefix only from a Lua caller with a line.
do
  local ok, e = pcall(error, "plain")
  assert(e == "plain")
  ok, e = pcall(function() error("pos") end)
  assert(e == src .. ":87: pos", e)
  -- level 2 from a function called by pcall is pcall itself: no line, no prefix
  ok, e = pcall(function() error("lvl2", 2) end)
  assert(e == "lvl2", e)
end

-- tostring of values without __tostring
do
  assert(tostring(setmetatable({}, {__name = "Thing"})):find("^Thing: "))
  local s = tostring({})
  assert(s:find("^table: ") and #s > 7)
  assert(tostring(1e15) == "1e+15" and tostring(-7) == "-7" and tostring(2^53) == "9.007199254741e+15")
  assert(tostring(math.mininteger) == "-9223372036854775808")
end

print("ok")
