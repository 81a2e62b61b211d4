-- expect-exit: 1
-- expect-stderr: ^auxlib_error_report\.lua:4: boom.stack traceback:..\[C\]: in function 'error'..auxlib_error_report\.lua:4: in upvalue 'f'..auxlib_error_report\.lua:5: in local 'g'..auxlib_error_report\.lua:6: in main chunk.$
-- A run-time error is reported with its message and the traceback of the failing process.
local function f() error("boom") end
local function g() f() end
g()
print("not reached")
