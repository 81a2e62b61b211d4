-- args: --cycles
-- expect-exit: 0
-- expect-stderr: cycles total=310 vm=310 alloc=0 spend=0 slices=1
-- 8 cycles of set-up, 100 iterations of OP_ADD (1, its OP_MMBIN skipped) and OP_FORLOOP (2),
-- and OP_RETURN.
local s = 0
for i = 1, 100 do s = s + i end
