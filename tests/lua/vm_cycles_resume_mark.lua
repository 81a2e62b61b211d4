-- args: --cycles --budget 10
-- expect-exit: 0
-- expect-stderr: slice 3 start=10 end=12 booked=11 status=YIELD.slice 4 start=10 end=12 booked=11 status=YIELD
-- After table.unpack's charge the process carries a large debt, so every later slice starts
-- with the counter at the budget (10). That check passes without touching the resume mark;
-- the first over-budget check then clears the mark and lets one more instruction run: two
-- one-cycle MOVEs per slice, and no instruction is run twice or skipped.
local u = table.unpack
local t = {}
u(t, 1, 100)
local a, b = 1, 2
a = b b = a a = b b = a a = b b = a a = b b = a a = b b = a a = b b = a a = b b = a
assert(a == 2 and b == 2)
print("ok")
