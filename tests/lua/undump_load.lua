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
print("ok")
