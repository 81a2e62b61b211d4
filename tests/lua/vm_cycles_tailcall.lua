-- args: --cycles
-- expect-exit: 0
-- expect-stderr: cycles total=[0-9]+ vm=59 alloc=[0-9]+ spend=0 slices=1
-- Tail calls: a native callee (also through __call) returns its results at once, so the
-- OP_RETURN after the OP_TAILCALL is never dispatched; a Lua __call handler takes over the
-- frame. Set-up 30; f: MOVE 1 + CALL 2 + GETUPVAL 2 + LOADI 1 + TAILCALL 2 = 8; g: the same
-- 8 + the handler's RETURN1 2; the assert line: GETTABUP 2 + EQK 2 + EQI 2 + LOADTRUE 1 +
-- CALL 2 = 9; RETURN 2.
local obj = setmetatable({}, {__call = rawequal})
local lf = setmetatable({}, {__call = function(self, a) return a end})
local function f() return obj(1) end
local function g() return lf(5) end
local x = f()
local y = g()
assert(x == false and y == 5)
