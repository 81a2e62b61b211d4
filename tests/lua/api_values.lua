-- Interface behaviour visible from scripts: the metamethod-absence cache, finalizer registration,
-- error objects and traversal.

-- A metatable that lacked a metamethod remembers it; giving it one later must be seen.
do
  local mt = {}
  local t = setmetatable({}, mt)
  assert(t.x == nil and t.x == nil) -- the second lookup uses the cached absence
  mt.__index = function(_, k) return k .. "!" end
  assert(t.x == "x!")

  local mt2 = {}
  local t2 = setmetatable({}, mt2)
  assert(t2.y == nil and t2.y == nil)
  rawset(mt2, "__index", {y = 5})
  assert(t2.y == 5)

  local log = {}
  local mt3 = {}
  local t3 = setmetatable({}, mt3)
  t3.a = 1
  t3.b = 2
  mt3.__newindex = function(_, k, v) log[#log + 1] = k end
  t3.c = 3
  assert(log[1] == "c" and rawget(t3, "c") == nil)

  local mt4 = {}
  local t4 = setmetatable({1, 2, 3}, mt4)
  assert(#t4 == 3 and #t4 == 3)
  mt4.__len = function() return 42 end
  assert(#t4 == 42)

  local mt5 = {}
  local a, b = setmetatable({}, mt5), setmetatable({}, mt5)
  assert(a ~= b and a ~= b)
  mt5.__eq = function() return true end
  assert(a == b)

  -- a key stored through a variable rather than a constant field name
  local mt6 = {}
  local t6 = setmetatable({}, mt6)
  assert(t6.q == nil)
  local key = "__index"
  mt6[key] = {q = "seen"}
  assert(t6.q == "seen")
end

-- Finalizers: registered when the metatable has __gc at setmetatable time.
do
  local ran = {}
  setmetatable({}, {__gc = function() ran.a = true end})
  local mt = {}
  setmetatable({}, mt)
  mt.__gc = function() ran.b = true end -- too late: not registered
  collectgarbage()
  collectgarbage()
  assert(ran.a and not ran.b)
  -- a placeholder __gc registers; the function found at collection time runs
  local mt2 = {__gc = false}
  local obj = setmetatable({}, mt2)
  mt2.__gc = function() ran.c = true end
  obj = nil
  collectgarbage()
  collectgarbage()
  assert(ran.c)
end

-- Error objects pass through unchanged.
do
  local e = {}
  local ok, got = pcall(error, e)
  assert(not ok and got == e)
  ok, got = pcall(error, 42)
  assert(not ok and got == 42)
  ok, got = pcall(error)
  assert(not ok and got == nil)
  ok, got = pcall(error, setmetatable({}, {__tostring = function() return "custom" end}))
  assert(not ok and tostring(got) == "custom")
end

-- Traversal visits every key once and ends with nil.
do
  local t = {10, 20, 30, x = 1, y = 2, [2.5] = 3}
  local n, sum = 0, 0
  local k, v = next(t)
  while k ~= nil do
    n = n + 1
    sum = sum + v
    k, v = next(t, k)
  end
  assert(n == 6 and sum == 66)
  assert(next({}) == nil)
  local ok, msg = pcall(next, {}, "absent")
  assert(not ok and msg:find("invalid key to 'next'", 1, true), msg)
end

-- Numbers become strings in place when read as strings.
do
  assert(tostring(1.0) == "1.0" and tostring(-0.0) == "-0.0" and tostring(1e100) == "1e+100")
  assert(("x"):rep(2, 3) == "x3x")
  assert(#tostring(12345) == 5)
  assert(string.len(2^63) == #"9.2233720368548e+18")
end

-- Arithmetic with the dialect's division by zero.
do
  assert(math.type(7 // 0) == "integer" and 7 // 0 == math.maxinteger and 7 % 0 == 0)
end

print("ok")
