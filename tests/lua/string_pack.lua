-- string.pack, string.packsize and string.unpack: every option, alignment and the errors.
-- Standard behaviour only: this script also runs unchanged under a stock Lua 5.4.

local pack, unpack, packsize = string.pack, string.unpack, string.packsize

local function err(f, ...)
  local ok, m = pcall(f, ...)
  assert(not ok, "call did not fail")
  return (string.gsub(m, "^[^:]*:%d+: ", ""))
end

local function eq(got, want, what)
  if got ~= want or math.type(got) ~= math.type(want) then
    error(("%s: got %s, want %s"):format(what or "value", tostring(got), tostring(want)), 2)
  end
end

local function hex(s) return (s:gsub(".", function(c) return ("%02x"):format(c:byte()) end)) end

-- sizes
eq(packsize("b"), 1); eq(packsize("B"), 1); eq(packsize("h"), 2); eq(packsize("H"), 2)
eq(packsize("i"), 4); eq(packsize("I"), 4); eq(packsize("l"), 8); eq(packsize("L"), 8)
eq(packsize("j"), 8); eq(packsize("J"), 8); eq(packsize("T"), 8); eq(packsize("f"), 4)
eq(packsize("d"), 8); eq(packsize("n"), 8); eq(packsize("i7"), 7); eq(packsize("I16"), 16)
eq(packsize("c10"), 10); eq(packsize("x"), 1); eq(packsize(""), 0); eq(packsize("   "), 0)
eq(packsize("i4i8"), 12)
eq(packsize("!i4i8"), 16)
eq(packsize("!4i4i8"), 12 + 0, "alignment capped by '!4'")
eq(packsize("!2 b h"), 4)
eq(packsize("!8 b Xd"), 8, "X aligns to the next option")
eq(packsize("!8 b Xi2"), 2)
eq(packsize("!8 c3 d"), 16)
eq(packsize("c3 !8 d"), 16)
eq(packsize("!16 b i16"), 32)
eq(err(packsize, "s"), "bad argument #1 to 'string.packsize' (variable-length format)")
eq(err(packsize, "z"), "bad argument #1 to 'string.packsize' (variable-length format)")
eq(err(packsize, "c2147483639 c9"), "bad argument #1 to 'string.packsize' (format result too large)")

-- option errors
eq(err(packsize, "i17"), "integral size (17) out of limits [1,16]")
eq(err(packsize, "i0"), "integral size (0) out of limits [1,16]")
eq(err(packsize, "!17"), "integral size (17) out of limits [1,16]")
eq(err(packsize, "s0"), "integral size (0) out of limits [1,16]")
eq(err(packsize, "y"), "invalid format option 'y'")
eq(err(packsize, "c"), "missing size for format option 'c'")
eq(err(packsize, "X"), "bad argument #1 to 'string.packsize' (invalid next option for option 'X')")
eq(err(packsize, "Xc1"), "bad argument #1 to 'string.packsize' (invalid next option for option 'X')")
eq(err(packsize, "Xz"), "bad argument #1 to 'string.packsize' (invalid next option for option 'X')")
eq(err(packsize, "!3 i4"), "bad argument #1 to 'string.packsize' (format asks for alignment not power of 2)")
eq(err(packsize, "!8 i3"), "bad argument #1 to 'string.packsize' (format asks for alignment not power of 2)")
eq(packsize("i3"), 3)

-- integers
eq(hex(pack("i4", 1)), "01000000")
eq(hex(pack(">i4", 1)), "00000001")
eq(hex(pack("<i4 =i4 >i4", 1, 2, 3)), "010000000200000000000003")
eq(hex(pack("b", -1)), "ff")
eq(hex(pack("i3", -2)), "feffff")
eq(hex(pack("i16", -1)), string.rep("ff", 16))
eq(hex(pack(">i12", 1)), string.rep("00", 11) .. "01")
eq(hex(pack("I9", -1)), string.rep("ff", 8) .. "00", "unsigned wide values are zero-extended")
eq(hex(pack("j", math.mininteger)), "0000000000000080")
eq(unpack("i16", string.rep("\255", 16)), -1)
eq(unpack("i3", pack("i3", -8388608)), -8388608)
eq(unpack("I3", pack("I3", 16777215)), 16777215)
eq(unpack("b", "\200"), -56)
eq(unpack("B", "\200"), 200)
eq(unpack(">h", "\1\2"), 258)
eq(unpack("<h", "\1\2"), 513)
eq(unpack("J", pack("J", -1)), -1)
eq(unpack("I16", pack("I16", math.maxinteger)), math.maxinteger)
eq(unpack("i16", pack("i16", math.mininteger)), math.mininteger)
eq(unpack(">I9", "\0" .. string.rep("\255", 8)), -1)
eq(err(pack, "i3", 8388608), "bad argument #2 to 'string.pack' (integer overflow)")
eq(err(pack, "i3", -8388609), "bad argument #2 to 'string.pack' (integer overflow)")
eq(err(pack, "b", 128), "bad argument #2 to 'string.pack' (integer overflow)")
eq(err(pack, "B", 256), "bad argument #2 to 'string.pack' (unsigned overflow)")
eq(err(pack, "B", -1), "bad argument #2 to 'string.pack' (unsigned overflow)")
eq(err(pack, "i4i4", 1, 2^40), "bad argument #3 to 'string.pack' (integer overflow)")
eq(err(pack, "i4", 1.5), "bad argument #2 to 'string.pack' (number has no integer representation)")
eq(err(pack, "i4"), "bad argument #2 to 'string.pack' (number expected, got nil)")
eq(pack("i4", "7"), pack("i4", 7), "numeric strings convert")
eq(err(unpack, "i9", string.rep("\255", 8) .. "\0"), "9-byte integer does not fit into Lua Integer")
eq(err(unpack, "I9", string.rep("\0", 8) .. "\1"), "9-byte integer does not fit into Lua Integer")
eq(err(unpack, "i9", string.rep("\0", 8) .. "\255"), "9-byte integer does not fit into Lua Integer")
eq(unpack("i9", string.rep("\0", 7) .. "\128\255"), math.mininteger)

-- floats
eq(#pack("f", 1.5), 4)
eq(unpack("f", pack("f", 1.5)), 1.5)
eq(unpack("d", pack("d", 0.1)), 0.1)
eq(unpack("n", pack("n", -2.5e300)), -2.5e300)
eq(unpack(">d", pack(">d", 123.25)), 123.25)
eq(hex(pack(">d", 1.0)), "3ff0000000000000")
eq(hex(pack("<f", 1.0)), "0000803f")
eq(unpack("f", pack("f", 0.1)) == 0.1, false, "single precision rounds")
eq(unpack("f", pack("f", 1e300)), math.huge, "too large for single precision")
eq(unpack("f", pack("f", -1e300)), -math.huge)
eq(unpack("f", pack("f", 3.4028235e38)), 3.4028234663852886e38)
local nan = unpack("d", pack("d", math.huge - math.huge))
assert(nan ~= nan)
eq(math.type(unpack("d", pack("d", 3))), "float")
eq(err(pack, "d", "x"), "bad argument #2 to 'string.pack' (number expected, got string)")

-- strings
eq(pack("c5", "ab"), "ab\0\0\0")
eq(pack("c0", ""), "")
eq(unpack("c3", "abcdef"), "abc")
eq(select(2, unpack("c3", "abcdef")), 4)
eq(err(pack, "c2", "abc"), "bad argument #2 to 'string.pack' (string longer than given size)")
eq(pack("z", "hi"), "hi\0")
eq(unpack("z", "hi\0rest"), "hi")
eq(select(2, unpack("z", "hi\0rest")), 4)
eq(err(pack, "z", "a\0b"), "bad argument #2 to 'string.pack' (string contains zeros)")
eq(err(unpack, "z", "abc"), "bad argument #2 to 'string.unpack' (unfinished string for format 'z')")
eq(pack("s1", "ab"), "\2ab")
eq(pack(">s2", "ab"), "\0\2ab")
eq(#pack("s", "ab"), 10)
eq(unpack("s", pack("s", "hello")), "hello")
eq(unpack("s1", "\3abcd"), "abc")
eq(err(pack, "s1", string.rep("x", 256)), "bad argument #2 to 'string.pack' (string length does not fit in given size)")
eq(#pack("s1", string.rep("x", 255)), 256)
eq(err(unpack, "s1", "\5abc"), "bad argument #2 to 'string.unpack' (data string too short)")
eq(err(pack, "s", {}), "bad argument #2 to 'string.pack' (string expected, got table)")
eq(pack("s1", 12), "\00212", "numbers become strings")

-- padding and alignment
eq(pack("b x b", 1, 2), "\1\0\2")
eq(hex(pack("!4 b i4", 1, 2)), "0100000002000000")
eq(hex(pack("!2 b i4", 1, 2)), "010002000000")
eq(hex(pack("b i4", 1, 2)), "0102000000", "no alignment by default")
eq(hex(pack("!4 b Xi4 b", 1, 2)), "01000000" .. "02")
eq(hex(pack("!b Xh", 1)), "0100")
eq(select("#", unpack("!4 b Xi4 b", pack("!4 b Xi4 b", 1, 2))), 3)
eq(select(3, unpack("!4 b Xi4 b", pack("!4 b Xi4 b", 1, 2))), 6)
eq(hex(pack("!4 z i4", "a", 1)), "61000000" .. "01000000", "z then alignment")
eq(hex(pack("!4 s1 i4", "ab", 1)), "02616200" .. "01000000")

-- unpack positions
local data = pack("i4 i4 i4", 10, 20, 30)
eq(unpack("i4", data, 5), 20)
eq(unpack("i4", data, -4), 30)
eq(unpack("i4", data, -100), 10, "far negative clamps to the start")
eq(select("#", unpack("", data, 13)), 1)
eq(unpack("", data, 13), 13)
eq(err(unpack, "i4", data, 14), "bad argument #3 to 'string.unpack' (initial position out of string)")
eq(err(unpack, "i4", data, 10), "bad argument #2 to 'string.unpack' (data string too short)")
eq(err(unpack, "!4 i4 b Xi4", pack("i4b", 1, 2)), "bad argument #2 to 'string.unpack' (data string too short)")
local a, b, c, nxt = unpack("i4 i4 i4", data)
eq(a + b + c, 60); eq(nxt, 13)
eq(select("#", unpack("bbbbbbbbbb", string.rep("\1", 10))), 11)

-- round trip of a mixed record
local fmt = "<!8 b h i4 j d f z s2 c4 B"
local rec = pack(fmt, -5, 300, -70000, math.maxinteger, 3.25, 0.5, "zz", "ss", "cc", 200)
local v = {unpack(fmt, rec)}
eq(v[1], -5); eq(v[2], 300); eq(v[3], -70000); eq(v[4], math.maxinteger); eq(v[5], 3.25)
eq(v[6], 0.5); eq(v[7], "zz"); eq(v[8], "ss"); eq(v[9], "cc\0\0"); eq(v[10], 200)
eq(v[11], #rec + 1)

-- many values need stack room
local many = string.rep("b", 300)
eq(select("#", unpack(many, string.rep("\0", 300))), 301)

print("ok")
