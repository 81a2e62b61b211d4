-- args: --cycles --budget 100
-- expect-exit: 0
-- expect-stderr: slice 1 start=0 end=2[0-9][0-9][0-9] booked=101 status=YIELD.slice 2 start=100 end=102
-- A gsub callback cannot yield: its loop overruns the slice, the overrun is booked as debt,
-- and the caller yields at its next instruction once the callback has returned.
string.gsub("a", "a", function() for i = 1, 1000 do end end)
