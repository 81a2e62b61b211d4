-- args: --cycles
-- expect-exit: 1
-- expect-stderr: slice 1 start=0 end=[0-9]+ booked=[0-9]+ status=ERROR.cycles total=[0-9]+ vm=9 alloc=[0-9]+ spend=0 slices=1
-- A program that dies by an error is charged its instructions only: the report built after the
-- slice (message and traceback) costs the process nothing. VARARGPREP 2, LOADI 1, GETTABUP 2,
-- LOADK 1, MOVE 1, CALL 2 = 9; the error is raised inside the call.
local a = 1
error("stop", a)
