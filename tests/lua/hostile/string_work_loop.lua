-- args: --frames 30
-- expect-exit: 3
-- expect-stderr: stopped after 30 frames
-- Each call is a few instructions that start tens of milliseconds of native work (a quadratic
-- search no start can be skipped in, a big copy, a long plain search): the work meter ends the
-- slice once a frame's worth is done, so the loop gives up its frames instead of holding them.
local s = string.rep("x", 1500)
local hay = string.rep("ab", 500000)
local i = 0
while true do
  i = i + 1
  local k = i % 3
  if k == 0 then
    assert(s:find("x?.-y") == nil)
  elseif k == 1 then
    assert(#string.rep(hay, 8) == 8000000)
  else
    assert(hay:find("abac", 1, true) == nil)
  end
end
