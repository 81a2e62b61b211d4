-- args: --budget 3
-- Forced yields every few cycles land inside metamethods, iterators, protected calls,
-- to-be-closed variables, constructors with open results and nested coroutines; the
-- results must be those of an unbudgeted run.
local out = {}
local function P(...) local t = table.pack(...) for i = 1, t.n do local v = t[i] out[#out+1] = type(v) == "table" and "T" or tostring(v) end end
local function W(n) local s = 0 for i = 1, n do s = s + i end return s end
local mt = {}
mt.__index = function(t, k) W(3) return k end
mt.__add = function(a, b) W(2) return 7 end
mt.__concat = function(a, b) W(2) return "c" end
mt.__lt = function(a, b) W(2) return true end
mt.__le = function(a, b) W(1) return false end
mt.__eq = function(a, b) return true end
mt.__len = function() W(1) return 4 end
mt.__call = function(self, x, ...) W(1) return x, select('#', ...) end
mt.__unm = function() return -3 end
mt.__close = function(o, e) out[#out+1] = "close" end
mt.__newindex = function(t, k, v) W(1) rawset(t, k, v) end
local O = setmetatable({}, mt)
local function three() return 1, 2, 3 end
local function va(...) return select('#', ...), ... end
local function it(s, c) W(1) if c < 3 then return c + 1, c * 2 end end
do local c <close> = O local x = {pcall(error, "e"), string.gsub("abc", "%w", function(c) W(1) return c .. c end)} P(#x) end
local x = {string.gsub("abc", "%w", function(c) W(1) return c .. c end), pcall(error, "e")} P(#x)
if O < O then local x = {(O.k == "k") and 1 or 2, O.k} P(#x) else P((O < O)) end
if O < O then for a, b in it, nil, 0 do P(a, b) P(pcall(function() P((O < O)) error("x0", 0) end)) end else if O < O then do local c <close> = O P((O <= O)) end else do local c <close> = O P("a" .. O .. "b") end end end
if O < O then P(select("#", not O)) else if O < O then P(select("#", tostring(12))) else do local co = coroutine.wrap(function(...) P(-O) coroutine.yield(1) P("a" .. O .. "b") return "d" end) local r repeat r = co() until r == "d" P(r) end end end
for i = 1, 3 do P(select("#", va(three()))) end
do local co = coroutine.wrap(function(...) local x = {(O == setmetatable({}, mt)), tostring(12)} P(#x) coroutine.yield(1) for a, b in it, nil, 0 do P(a, b) P(va(nil, nil)) end return "d" end) local r repeat r = co() until r == "d" P(r) end
local x = {(O == setmetatable({}, mt)), W(5)} P(#x)
do local c <close> = O for a, b in it, nil, 0 do P(a, b) for i = 1, 1 do P(O + 1) end end end
local x = {three(), pcall(W, 4)} P(#x)
if O < O then P(pcall(function() do local c <close> = O P(three()) end error("x6", 0) end)) else for a, b in it, nil, 0 do P(a, b) for a, b in it, nil, 0 do P(a, b) P(pcall(W, 4)) end end end
if O < O then if O < O then do local c <close> = O P((O == setmetatable({}, mt))) end else P(select("#", select(2, three()))) end else if O < O then for a, b in it, nil, 0 do P(a, b) P((O <= O)) end else P(pcall(function() P((O.k == "k") and 1 or 2) error("x6", 0) end)) end end
for i = 1, 2 do do local co = coroutine.wrap(function(...) for i = 1, 2 do P(string.rep("ab", 2)) end coroutine.yield(1) do local co = coroutine.wrap(function(...) P(va(nil, nil)) coroutine.yield(1) P(O(5, 1, 2)) return "d" end) local r repeat r = co() until r == "d" P(r) end return "d" end) local r repeat r = co() until r == "d" P(r) end end
do local c <close> = O do local c <close> = O local x = {select(2, three()), va(three())} P(#x) end end
local expected = "3 close 3 2 1 0 true false x0 2 2 true false x0 3 4 true false x0 1 4 4 4 2 1 0 2 nil nil 2 2 2 nil nil 3 4 2 nil nil d 2 1 0 7 2 2 7 3 4 7 close 3 1 2 3 close false x6 true close abab abab 2 nil nil 5 2 d d abab abab 2 nil nil 5 2 d d 5 close close"
assert(table.concat(out, " ") == expected, table.concat(out, " "))
print("ok")
