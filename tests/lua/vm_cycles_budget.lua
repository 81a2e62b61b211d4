-- args: --cycles --budget 10
-- expect-exit: 0
-- expect-stderr: slice 1 start=0 end=11 booked=11 status=YIELD.slice 2 start=1 end=8 booked=8 status=OK.cycles total=18 vm=18
-- The check passes at 10 (not over budget), so the instruction taking the counter to 11 runs;
-- the next slice starts with one cycle of debt and resumes at the next instruction.
local a = 1
local b = 2
local c = 3
local d = a
local e = b
local f = c
local g = a
local h = b
local i = c
local j = a
local k = b
local l = c
local m = 1
local n = 2
