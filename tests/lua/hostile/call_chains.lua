-- max-rss-mb: 256
-- A __call that is not a function is called through its own __call. A chain that never reaches
-- a function fails at once with "stack overflow", wherever the call is made; one of moderate
-- length works, each link the first argument of the next.
local function chain(n, f)
  local t = f
  for _ = 1, n do t = setmetatable({}, {__call = t}) end
  return t
end
local function args(...) return select("#", ...), ... end

local loop = setmetatable({}, {})
getmetatable(loop).__call = loop
local long = chain(2001, args)
local iter = chain(2001, next)
for _, t in ipairs({loop, long}) do
  local cases = {
    function() return pcall(t) end,                                    -- from native code
    function() return pcall(function() local x = t(1) return x end) end, -- OP_CALL
    function() return pcall(function() return t(1, 2) end) end,        -- OP_TAILCALL
    function() return pcall(function() for _ in t do end end) end,      -- for-in iterator
    function() return pcall(function() return {} + setmetatable({}, {__add = t}) end) end,
  }
  for i, case in ipairs(cases) do
    local ok, err = case()
    assert(not ok and err:find("stack overflow"), i .. ": " .. tostring(err))
  end
end
local ok, err = pcall(function() for _ in iter, {} do end end)
assert(not ok and err:find("stack overflow"), err)
-- A chain through the shared metatable of numbers.
debug.setmetatable(0, {__call = 1})
ok, err = pcall(function() return (5)(3) end)
assert(not ok and err:find("stack overflow"), err)
debug.setmetatable(0, {__call = function(n, a) return n * a end})
assert((5)(3) == 15)
debug.setmetatable(0, nil)

-- Chains up to 2000 links, called every way; the function sees the links, innermost first,
-- then the arguments.
for _, n in ipairs({1, 2, 3, 50, 1999, 2000}) do
  local t = chain(n, args)
  local r = {t("a", "b")}
  assert(r[1] == n + 2 and r[r[1] - 1] == t and r[r[1]] == "a" and r[r[1] + 1] == "b", n)
  if n > 1 then assert(getmetatable(t).__call == r[r[1] - 2]) end
  local function tail(...) return t(...) end
  r = {tail("a")}
  assert(r[1] == n + 1 and r[r[1] + 1] == "a", n)
  r = {pcall(t, "x")}
  assert(r[1] == true and r[2] == n + 1 and r[n + 3] == "x", n)
  local native = chain(n, table.pack)
  assert(native(7, 8).n == n + 2 and native(7, 8)[n + 2] == 8)
  local function ntail() return native(1) end
  assert(ntail().n == n + 1)
  local count = 0
  local it = chain(n, function(...)
    local c = select(select("#", ...), ...)
    if c < 3 then return c + 1 end
  end)
  for _ in it, nil, 0 do count = count + 1 end
  assert(count == 3, n)
end
-- Many arguments, a long chain: the stack grows to hold them all.
local r = {chain(1500, args)(table.unpack({}, 1, 5000))}
assert(r[1] == 6500 and #r == 1501)

-- A chain that ends in a value that cannot be called: the error names the last link, as one
-- step at a time would.
for _, n in ipairs({1, 2, 100}) do
  local t = chain(n, {})
  ok, err = pcall(function() t() end)
  assert(not ok and err:find("attempt to call a table value %(upvalue 't'%)"), err)
  ok, err = pcall(t)
  assert(not ok and err == "attempt to call a table value", err)
end
print("ok")
