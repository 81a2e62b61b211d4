-- args: --frames 10
-- expect-exit: 3
-- expect-stderr: stopped after 10 frames
-- A traceback names each function by searching the loaded modules, the globals among them, for
-- it. With many globals each search is long native work; it counts, so that a loop of
-- tracebacks ends its frames in time.
for i = 1, 10000 do _G["g" .. i] = i end
while true do debug.traceback() end
