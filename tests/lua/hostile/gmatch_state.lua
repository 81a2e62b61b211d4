-- A gmatch iterator keeps its subject, pattern and state as upvalues, which debug.getupvalue and
-- debug.setupvalue reach. Damaged or foreign state is a Lua error, never a read of memory the
-- iterator does not own.
local function fails(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

-- the upvalues read as they are: empty names, the subject, the pattern, the state
local g = string.gmatch("abc", ".")
local n1, v1 = debug.getupvalue(g, 1)
local n2, v2 = debug.getupvalue(g, 2)
local n3, v3 = debug.getupvalue(g, 3)
assert(n1 == "" and v1 == "abc" and n2 == "" and v2 == "." and n3 == "" and type(v3) == "userdata")
assert(g() == "a")

-- any other value in a slot
for _, slot in ipairs({1, 2, 3}) do
  for _, v in ipairs({{}, 12, true, print, coroutine.create(print), userdata("u8", 600)}) do
    local it = string.gmatch("abc", ".")
    assert(debug.setupvalue(it, slot, v) == "")
    assert(fails(it) == "bad gmatch state")
  end
end
-- a string where the state belongs, a subject or pattern of another length
local it = string.gmatch("abc", ".")
debug.setupvalue(it, 3, "abc")
assert(fails(it) == "bad gmatch state")
it = string.gmatch("abc", ".")
debug.setupvalue(it, 1, "abcd")
assert(fails(it) == "bad gmatch state")
it = string.gmatch("abc", ".")
debug.setupvalue(it, 2, "..")
assert(fails(it) == "bad gmatch state")

-- a state moved into another iterator after its own subject was collected
local function long(c, n) return table.concat({string.rep(c, n), "!"}) end
local g1 = string.gmatch(long("a", 5000), "a+")
assert(#g1() == 5000)
local _, state = debug.getupvalue(g1, 3)
g1 = nil
collectgarbage()
collectgarbage()
local g2 = string.gmatch(long("b", 70), "b+")
debug.setupvalue(g2, 3, state)
assert(fails(g2) == "bad gmatch state")  -- made for a subject of another length
-- over subjects of the same length it only ever reads its own subject
local g3 = string.gmatch(long("c", 5000), "c+")
local g4 = string.gmatch(long("d", 5000), "d+")
assert(#g3() == 5000)
local _, s3 = debug.getupvalue(g3, 3)
debug.setupvalue(g4, 3, s3)
assert(g4() == nil)  -- g3's position is past every run of d's
g3 = nil
collectgarbage()
assert(g4() == nil)

-- the same state in two iterators, on two threads
local shared = string.gmatch("one two three", "%a+")
local twin = string.gmatch("uno dos trese", "%a+")
debug.setupvalue(twin, 3, select(2, debug.getupvalue(shared, 3)))
assert(shared() == "one")
assert(twin() == "dos")
local co = coroutine.wrap(function() return shared() end)
assert(co() == "three")
assert(twin() == nil and shared() == nil)

-- a pattern of the same length swapped in after the first call is analysed afresh
local words = string.gmatch("ab 12 cd 34", "%a+")
assert(words() == "ab")
debug.setupvalue(words, 2, ".%d")
assert(words() == " 1" and words() == " 3" and words() == nil)

print("ok")
