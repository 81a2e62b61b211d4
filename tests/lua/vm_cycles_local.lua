-- args: --cycles
-- expect-exit: 0
-- expect-stderr: cycles total=5 vm=5 alloc=0 spend=0 slices=1
-- One cheap OP_LOADI on top of the empty program.
local a = 1
