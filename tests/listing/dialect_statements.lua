-- the print statement, single-line if and while, compound assignments and hidden locals
local t, k = ...
? t, k
? ...
if (t) ? "yes"
while (k) k -= 1
t.x += 1
T.y ..= "s"
T[k .. ""] <<= 2
g ^^= k
local function f() k *= 2 end
if (t) t = 1 else t = 2
local v = ? 1
