-- What objects cost the process, read through the kernel's memory figure. stat(0) collects
-- first, so everything measured is kept in locals, and each measurement calls nothing but
-- the one constructor between two stat(0) calls of the same frame.
local f = function() end
local create, rep = coroutine.create, string.rep
local m0, m1

m0 = stat(0); local t = {}; m1 = stat(0)
assert(m1 - m0 == 56, "empty table " .. (m1 - m0))
local key = "somekey"
m0 = stat(0); t[key] = 1; m1 = stat(0)
assert(m1 - m0 == 16, "first string key " .. (m1 - m0))
m0 = stat(0); t.other = 2; m1 = stat(0)
assert(m1 - m0 == 16, "second string key " .. (m1 - m0))  -- two nodes now: 32 charged
m0 = stat(0); t[1] = 1; m1 = stat(0)
assert(m1 - m0 == 16, "first array slot " .. (m1 - m0))
m0 = stat(0); local co = create(f); m1 = stat(0)
assert(m1 - m0 == 1616 + 720, "coroutine " .. (m1 - m0))
m0 = stat(0); local s10 = rep("x", 10); m1 = stat(0)
assert(m1 - m0 == 42, "ten-byte string " .. (m1 - m0))
m0 = stat(0); local s100 = rep("y", 100); m1 = stat(0)
assert(m1 - m0 == 132, "long string " .. (m1 - m0))
local n = 0
m0 = stat(0); local c1 = function() return n end; m1 = stat(0)
assert(m1 - m0 == 32 + 16 + 40, "closure with a fresh upvalue " .. (m1 - m0))
m0 = stat(0); local c2 = function() return n end; m1 = stat(0)
assert(m1 - m0 == 32 + 16, "closure sharing an upvalue " .. (m1 - m0))
m0 = stat(0); local c3 = function() return 1 end; m1 = stat(0)
assert(m1 - m0 == 32, "closure without upvalues " .. (m1 - m0))
print("ok")
