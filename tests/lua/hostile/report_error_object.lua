-- expect-exit: 1
-- expect-stderr: ^\(error object is not a string\).stack traceback:..\[C\]: in function 'error'..report_error_object\.lua:8: in main chunk.$
-- The report of a process that died reads its error object without calling a metamethod: a
-- table is not a string, whatever its __tostring would do (here: raise, or recurse forever).
local depth = 0
local function deep() depth = depth + 1 return deep() + 1 end
local mt = {__tostring = function() if depth == 0 then deep() end error("x") end}
error(setmetatable({}, mt))
