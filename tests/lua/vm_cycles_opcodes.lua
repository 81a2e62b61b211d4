-- args: --cycles
-- expect-exit: 0
-- expect-stderr: cycles total=71 vm=71 alloc=0 spend=0 slices=1
-- Every one-cycle opcode and the two-cycle arithmetic, peek and unary opcodes in straight-line
-- code; each OP_MMBIN* follows a direct result and is neither dispatched nor charged.
--   1 cycle: LOADI x3, LOADK x3, LOADNIL x2, MOVE, LOADTRUE, LOADFALSE, ADD x2, SUB, BAND, BOR,
--            BXOR, SHL, SHR, ADDI x2, ADDK, SUBK, BANDK, BORK, BXORK, SHRI x2, SHLI, UNM x2 = 31
--   2 cycles: VARARGPREP, LOADF, MUL, MOD, POW, DIV, IDIV, BNOT, NOT, MULK, MODK, POWK, DIVK,
--            IDIVK, PEEK, PEEK2, PEEK4, PEEK8, LEN, RETURN = 20 x 2 = 40
local a, b, c, x = 7, 3, 2.5
x = a        x = nil      x = true     x = false    x = 1        x = 100000
x = a + b    x = a - b    x = a & b    x = a | b    x = a ~ b    x = a << b   x = a >> b
x = a + 1    x = a - 1    x = a + 1000 x = a - 1000 x = a & 12   x = a | 12   x = a ~ 12
x = a >> 2   x = a << 2   x = 2 << a   x = -a
x = 2.0      x = a * b    x = a % b    x = a ^ b    x = a / b    x = a // b   x = ~a
x = not a    x = a * 3    x = a % 3    x = a ^ 3    x = a / 3    x = a // 3   x = c + a
x = @a       x = %a       x = $a       x = *a       x = -c       x = #"abc"
