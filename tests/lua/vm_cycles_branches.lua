-- args: --cycles
-- expect-exit: 0
-- expect-stderr: cycles total=[0-9]+ vm=30 alloc=0 spend=0
-- A conditional branch costs 2 whichever way it goes (its OP_JMP is not dispatched),
-- OP_LFALSESKIP skips without charging the skipped instruction, and OP_NOT/OP_MUL cost 2.
local a, b = 1, 2        -- LOADI LOADI: 2
if a < b then a = 3 end  -- LT 2 + LOADI 1
if a > b then a = 4 end  -- LT 2 + LOADI 1 (a is 3)
if a == 5 then a = 6 end -- EQI 2 (not taken)
local c = a < b          -- LT 2 + LFALSESKIP 2 (OP_LOADTRUE skipped)
local d = not c          -- NOT 2
local e = a * b          -- MUL 2
local f = 2.0            -- LOADF 2
local g = -a             -- UNM 1
local h = a ~ b          -- BXOR 1
local i = a ^ b          -- POW 2
local j = a // b         -- IDIV 2; with VARARGPREP and RETURN: 30
