-- Chunk identifiers in messages: plain sources are unnamed, "=" names are cut to 59 bytes,
-- long "@" names keep their last 56 bytes after "...".
local ok, err = pcall(load("error('x')"))
assert(err == ":1: x", err)
local _, msg = load("x = = 1")
assert(msg == ":1: unexpected symbol near '='", msg)
_, msg = load("x = = 1", "=my chunk")
assert(msg:sub(1, 11) == "my chunk:1:", msg)
local long = string.rep("d", 70) .. ".lua"
_, msg = load("x = = 1", "@" .. long)
assert(msg:sub(1, 62) == "..." .. long:sub(-56) .. ":1:", msg)
_, msg = load("x = = 1", "=" .. string.rep("e", 70))
assert(msg:sub(1, 62) == string.rep("e", 59) .. ":1:", msg)
local short = string.rep("f", 59)
_, msg = load("x = = 1", "@" .. short)
assert(msg:sub(1, 62) == short .. ":1:", msg)
print("ok")
