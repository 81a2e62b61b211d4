-- args: --cycles
-- expect-exit: 0
-- expect-stderr: status=YIELD.*status=OK.*slices=2
-- A yield at the top level of a process ends the slice; the process continues in the next
-- slice, where the yield returns no values.
local n = select('#', coroutine.yield(1, 2, 3))
assert(n == 0)
