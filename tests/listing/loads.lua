-- loading literals: OP_LOADI/OP_LOADF ranges, constants, merged OP_LOADNIL
local a = 65536
local b = -65535
local c = 65537
local d = -65536
local e = 3.0
local f = 1.0e5
local g = 1
local h = 1.0
local i = -65535.0
local j = 2^53
local k, l
local m
local n = "s", true, false, nil
