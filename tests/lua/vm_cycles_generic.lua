-- args: --cycles
-- expect-exit: 0
-- expect-stderr: vm=30 alloc=[0-9]+ spend=0 slices=1
-- OP_TFORPREP consumes the first OP_TFORCALL/OP_TFORLOOP; each later OP_TFORCALL costs 2 with
-- its OP_TFORLOOP, and OP_NEWTABLE consumes its OP_EXTRAARG.
local t = {1,2,3}
local s = 0
for k, v in pairs(t) do s = s + v end
