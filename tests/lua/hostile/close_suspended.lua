-- args: --frames 2
-- expect-exit: 3
-- expect-stderr: stopped after 2 frames
-- expect-stdout: ^closed number
-- A process stopped while suspended still runs its pending closing methods, as ordinary calls.
local x <close> = setmetatable({}, {__close = function()
  print(string.format("closed %s", type(1)))
end})
while true do end
