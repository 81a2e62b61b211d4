-- args: --frames 10
-- expect-exit: 3
-- expect-stderr: stopped after 10 frames
-- Loading a chunk is native work in proportion to its text, even when the text is one long
-- comment that costs no allocation; it counts, so that a loop of loads ends its frames in time.
local s = "--" .. string.rep(" ", 1 << 20)
while true do load(s) end
