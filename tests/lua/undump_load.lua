-- Binary chunks through load: written by hand here, since nothing in a process can dump one.
local function le(n, size)
  local t = {}
  for i = 1, size do t[i] = string.char(n & 0xFF); n = n >> 8 end
  return table.concat(t)
end
local function varint(n)
  local groups = {n & 0x7F}
  n = n >> 7
  while n > 0 do table.insert(groups, 1, n & 0x7F); n = n >> 7 end
  groups[#groups] = groups[#groups] | 0x80
  return string.char(table.unpack(groups))
end
local function str(s) return varint(#s + 1) .. s end
local function ABC(op, a, b, c, k) return le(op | a << 7 | (k or 0) << 15 | b << 16 | c << 24, 4) end
local function AsBx(op, a, sbx) return le(op | a << 7 | (sbx + 65535) << 15, 4) end

local header = "\27Lua" .. string.char(0x54, 0) .. "\x19\x93\r\n\x1a\n" .. string.char(4, 8, 8)
    .. le(0x5678, 8) .. "\0\0\0\0\0\x28\x77\x40"
assert(#header == 31)

-- returns 42: VARARGPREP 0; LOADI 0 42; RETURN 0 2 1
local function mainfn(code, maxstack)
  return str("=bin") .. varint(0) .. varint(0) .. string.char(0, 1, maxstack or 2)
      .. varint(#code // 4) .. code
      .. varint(0)                        -- constants
      .. varint(1) .. string.char(1, 0, 0) -- _ENV
      .. varint(0)                        -- nested functions
      .. varint(0) .. varint(0) .. varint(0) .. varint(0)
end
local good = ABC(85, 0, 0, 0) .. AsBx(1, 0, 42) .. ABC(74, 0, 2, 1)
local chunk = header .. "\1" .. mainfn(good)

local f = assert(load(chunk, "=x", "b"))
assert(f() == 42)
assert(load(chunk)() == 42)
assert(load(chunk, "=x", "bt")() == 42)

-- a reader that hands the chunk over one byte at a time
local pos = 0
local g = assert(load(function() pos = pos + 1; return chunk:sub(pos, pos) end, "=x", "b"))
assert(g() == 42)

-- refusals come back from load as nil and a message
local function refused(c, why)
  local fn, msg = load(c, "=x", "b")
  assert(fn == nil and msg == "x: bad binary format (" .. why .. ")", msg)
end
local fn, msg = load(chunk, "=x", "t")
assert(fn == nil and msg == "attempt to load a binary chunk (mode is 't')", msg)
refused(chunk:sub(1, 20), "truncated chunk")
refused(chunk:sub(1, #chunk - 1), "truncated chunk")
refused(header:sub(1, 4) .. "\x53" .. header:sub(6) .. "\1" .. mainfn(good), "version mismatch")
refused(header .. "\2" .. mainfn(good), "wrong number of upvalues")
refused(header .. "\1" .. mainfn(ABC(85, 0, 0, 0) .. AsBx(1, 5, 42) .. ABC(74, 0, 2, 1)), "register out of range")
refused(header .. "\1" .. mainfn(ABC(85, 0, 0, 0) .. AsBx(1, 0, 42)), "code runs off the end")
refused(header .. "\1" .. mainfn(ABC(85, 0, 0, 0) .. ABC(82, 0, 1, 0) .. ABC(74, 0, 2, 1)),
        "table constructor without table")
-- a varint that never ends
refused(header .. "\1" .. str("=bin") .. string.rep("\x7f", 10), "integer overflow")
-- the name used in messages
fn, msg = load(chunk:sub(1, 10), "@file.lua", "b")
assert(msg == "file.lua: bad binary format (truncated chunk)", msg)
fn, msg = load(chunk:sub(1, 10), nil, "b")
assert(msg == "binary string: bad binary format (truncated chunk)", msg)

-- Binary chunks: readers, trailing bytes, and declared counts that cannot make the loader
-- allocate more than the rest of the input could describe.
do
local nodebug = varint(0) .. varint(0) .. varint(0) .. varint(0)

-- main: VARARGPREP 0; LOADI 0 42; RETURN 0 2 1
local chunk = header .. "\1" .. str("=bin") .. varint(0) .. varint(0) .. string.char(0, 1, 2)
    .. varint(3) .. ABC(85, 0, 0, 0) .. AsBx(1, 0, 42) .. ABC(74, 0, 2, 1)
    .. varint(0) .. varint(1) .. string.char(1, 0, 0) .. varint(0) .. nodebug

-- The whole input is read before anything is built: a reader never sees a half-loaded,
-- unverified function among the values of the frame that called it.
local pos, seen = 0, 0
local f = assert(load(function()
  pos = pos + 1
  for n = 1, 20 do
    local name, v = debug.getlocal(2, n)
    if name and type(v) == "function" then seen = seen + 1 end
  end
  return chunk:sub(pos, pos)
end, "=r", "b"))
assert(f() == 42 and seen == #chunk + 1, seen) -- only the reader itself
-- bytes after the chunk are ignored
assert(load(chunk .. "trailing bytes", "=t", "b")() == 42)
-- a reader cut short is a truncated chunk
local calls = 0
local fn, msg = load(function() calls = calls + 1; if calls == 1 then return chunk:sub(1, 40) end end, "=r", "b")
assert(fn == nil and msg == "r: bad binary format (truncated chunk)", msg)

-- Every level of a deep nest declares many nested functions but only its first one follows.
-- The counts are held against what the input can still hold, the promises of the enclosing
-- levels included, so this is a truncated chunk, not a loader that runs out of memory.
local function opening(depth, count)
  return (depth == 0 and str("=nest") or varint(0)) .. varint(0) .. varint(0)
      .. string.char(0, depth == 0 and 1 or 0, 2)
      .. (depth == 0 and (varint(2) .. ABC(85, 0, 0, 0) .. ABC(74, 0, 1, 1))
                      or (varint(1) .. ABC(75, 0, 1, 0)))
      .. varint(0)
      .. (depth == 0 and (varint(1) .. string.char(1, 0, 0)) or varint(0))
      .. varint(count)
end
local pad = string.rep("x", 700000)
local parts = {header, "\1"}
for depth = 0, 197 do parts[#parts + 1] = opening(depth, 45000) end
-- the deepest function carries a long constant so that much input remains at every level
parts[#parts + 1] = varint(0) .. varint(0) .. varint(0) .. string.char(0, 0, 2)
    .. varint(1) .. ABC(75, 0, 1, 0) .. varint(1) .. "\20" .. str(pad) .. varint(0) .. varint(0)
    .. nodebug
local before = collectgarbage("count")
fn, msg = load(table.concat(parts), "=nest", "b")
assert(fn == nil and msg == "nest: bad binary format (truncated chunk)", msg)
-- well-formed nesting at the deepest level the loader allows still loads
parts = {header, "\1"}
for depth = 0, 198 do parts[#parts + 1] = opening(depth, 1) end
parts[#parts + 1] = varint(0) .. varint(0) .. varint(0) .. string.char(0, 0, 2)
    .. varint(1) .. ABC(75, 0, 1, 0) .. varint(0) .. varint(0) .. varint(0) .. nodebug
for depth = 198, 0, -1 do parts[#parts + 1] = nodebug end
f = assert(load(table.concat(parts), "=nest", "b"))
assert(f() == nil)
end

print("ok")
