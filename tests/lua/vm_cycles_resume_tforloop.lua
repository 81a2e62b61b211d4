-- args: --cycles --budget 38
-- expect-exit: 0
-- expect-stderr: slice 1 start=0 end=39 booked=39 status=YIELD.slice 2 start=1 end=16 booked=16 status=OK.cycles total=54 vm=45 alloc=9 spend=0 slices=2
-- Unbudgeted this program costs 43 cycles (OP_TFORPREP consumes the first OP_TFORCALL, each
-- later OP_TFORCALL its OP_TFORLOOP). Here the slice ends inside the iterator; on resumption
-- the iterator returns into the loop's frame, which continues at its saved position, the
-- OP_TFORLOOP, so that one runs as an instruction of its own: 2 cycles more.
local function it(s, c) if c < 3 then return c + 1 end end
local n = 0
for i in it, nil, 0 do n = n + i end
