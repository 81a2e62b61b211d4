-- A first look at the dialect: compound assignment, != , the ? print statement,
-- single-line if and while, binary numerals, and the peek operators over process memory.
local total = 0
for i = 1, 10 do total += i end
? "sum of 1..10 is", total

local n = 0b1011
if (n != 11) ? "binary numerals are broken"
while (n > 0) n -= 4
? "after the loop n is", n

local bytes = vec(42, 7)
bytes:convert("u8"):poke(0x8000)
? "bytes at 0x8000:", @0x8000, @0x8001, "as a 16-bit value:", %0x8000

local squares = {}
for i = 1, 5 do add(squares, i * i) end
? "squares:", table.concat(squares, " ")
