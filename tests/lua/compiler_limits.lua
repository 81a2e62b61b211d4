-- Compiler limits: registers, locals (hidden compound locals included), nesting depth and
-- constants beyond the reach of OP_LOADK.

local function list(n, fmt)
  local t = {}
  for i = 1, n do t[i] = string.format(fmt, i) end
  return table.concat(t, ",")
end

-- 254 registers: a call with 253 arguments fits, one more does not
assert(load("f(" .. list(253, "%d") .. ")"))
local f, msg = load("f(" .. list(254, "%d") .. ")")
assert(f == nil and msg == ":1: function or expression needs too many registers near <eof>")
f, msg = load("local function g() return {" .. list(300, "x%d") .. "} end")
assert(f) -- list items are flushed every 50
f, msg = load("return g(" .. list(300, "%d") .. ")")
assert(f == nil and msg:find("function or expression needs too many registers", 1, true))

-- 200 local variables per function
assert(load("local " .. list(200, "a%d")))
f, msg = load("local " .. list(201, "a%d"))
assert(msg == ":1: too many local variables (limit is 200) in main function near <eof>")
f, msg = load("\nfunction g()\n local " .. list(201, "a%d") .. "\nend")
assert(msg == ":4: too many local variables (limit is 200) in function at line 2 near 'end'")

-- every compound assignment to a field of a global table keeps one hidden local to the end
-- of its block
local function compounds(n, first)
  local t = {}
  for i = 1, n do t[i] = "T.x" .. (first + i) .. " += 1" end
  return table.concat(t, "\n")
end
assert(load(compounds(200, 0)))
f, msg = load(compounds(201, 0))
assert(msg == ":201: too many local variables (limit is 200) in main function near +=")
assert(load("do\n" .. compounds(101, 0) .. "\nend do\n" .. compounds(100, 200) .. "\nend"))
-- a local table's field or a global needs no hidden local
local src = {"local t = {}"}
for i = 1, 300 do src[#src + 1] = "t.x = (t.x or 0) t.x += 1 g = 1 g += 1" end
f = assert(load(table.concat(src, "\n"), "=c", "t", {}))
-- two hidden locals for a computed key on a global table
f, msg = load(compounds(0, 0) .. string.rep("T[k..''] += 1\n", 101))
assert(msg == ":101: too many local variables (limit is 200) in main function near +=")

-- 255 upvalues per function
local function upvalues(nb)
  return "local " .. list(199, "a%d") .. "\nlocal function mid()\nlocal " .. list(nb, "b%d") ..
    "\nreturn function()\nlocal x\n" .. list(199, "x = a%d"):gsub(",", " ") .. " " ..
    list(nb, "x = b%d"):gsub(",", " ") .. "\nend end"
end
assert(load(upvalues(56)))
f, msg = load(upvalues(57))
assert(msg == ":7: too many upvalues (limit is 255) in function at line 4 near 'end'", msg)

-- nesting: statements, expression levels, compound operands and assignment targets
for _, s in ipairs({
  "x = " .. string.rep("(", 250) .. "1" .. string.rep(")", 250),
  string.rep("do ", 250) .. string.rep("end ", 250),
  "x = " .. string.rep("not ", 250) .. "1",
  "a" .. string.rep(",a", 250) .. " = 1",
  "x = " .. string.rep("{", 250) .. string.rep("}", 250),
}) do
  f, msg = load(s)
  assert(f == nil and msg:find("C stack overflow", 1, true), msg)
end
assert(load("x = " .. string.rep("(", 150) .. "1" .. string.rep(")", 150)))
-- the operand of a compound assignment adds a level of its own
local function depth(prefix)
  local k = 1
  while load(prefix .. string.rep("(", k) .. "1" .. string.rep(")", k)) do k = k + 1 end
  return k
end
assert(depth("x += ") == depth("x = ") - 1)

-- constants past index 131071 are loaded with OP_LOADKX
local n = 131072 + 10
local parts = {"local t = {"}
for i = 1, n do parts[#parts + 1] = (i + 0.5) .. "," end
parts[#parts + 1] = "} return t"
local t = assert(load(table.concat(parts)))()
assert(#t == n)
for i = n - 20, n do assert(t[i] == i + 0.5) end
assert(t[1] == 1.5 and t[131072] == 131072.5 and t[131073] == 131073.5)

print("ok")
