-- args: --budget 1000000000
-- Conformance: string.pack / string.unpack / string.packsize over a matrix of formats and values.
-- Each format's results are reduced to a digest; the expected digests come from the reference Lua 5.4.
local function hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end
local function digest(lines)
  local h = 2166136261
  for _, s in ipairs(lines) do
    for i = 1, #s do h = ((h ~ s:byte(i)) * 16777619) & 0xffffffff end
    h = ((h ~ 10) * 16777619) & 0xffffffff
  end
  return h
end
local function errtext(e) return (tostring(e):gsub("^.-:%d+: ", "")) end
local digests = {}
local nfmts = {"b", "B", "h", "H", "i", "I", "l", "L", "j", "J", "T", "i1", "i2", "i3", "i5", "i7", "i8", "i9", "i16",
  "I1", "I3", "I9", "I16", "f", "d", "n", ">i4", "<i4", "=i4", ">I3", ">j", ">d", ">f", "!4i3", "!8d", ">i16", ">I16"}
local nvals = {0, 1, -1, 127, 128, -128, -129, 255, 256, 32767, 32768, -32768, 65535, 65536, 2^31 - 1, 2^31, -2^31,
  2^32, 2^53, math.maxinteger, math.mininteger, 0.5, -0.0, 1e300, "12", "x", math.huge}
for _, f in ipairs(nfmts) do
  local lines = {}
  for _, v in ipairs(nvals) do
    local ok, p = pcall(string.pack, f, v)
    if ok then
      local ok2, u, pos = pcall(string.unpack, f, p)
      lines[#lines + 1] = hex(p) .. " " .. (ok2 and (tostring(u) .. " " .. math.type(u) .. " " .. pos) or errtext(u))
    else
      lines[#lines + 1] = "ERR " .. errtext(p)
    end
  end
  local ok, sz = pcall(string.packsize, f)
  lines[#lines + 1] = tostring(ok) .. " " .. (ok and tostring(sz) or errtext(sz))
  digests[#digests + 1] = {f, digest(lines)}
end
local sfmts = {"z", "s", "s1", "s2", ">s2", "c1", "c3", "c0", "c10", "!8 b s", "Xi4", "bXh", "b Xi8 i8",
  "!2 b Xi8 i8", "xx", "b x X", "<!4 i3 i4"}
local svals = {"", "a", "abc", "a\0b", string.rep("y", 300)}
for _, f in ipairs(sfmts) do
  local lines = {}
  for _, v in ipairs(svals) do
    local ok, p = pcall(string.pack, f, v, 7)
    if ok then
      local ok2, u, pos = pcall(string.unpack, f, p)
      lines[#lines + 1] = hex(p) .. " " .. (ok2 and (tostring(u) .. " " .. tostring(pos)) or errtext(u))
    else
      lines[#lines + 1] = "ERR " .. errtext(p)
    end
  end
  local ok, sz = pcall(string.packsize, f)
  lines[#lines + 1] = tostring(ok) .. " " .. (ok and tostring(sz) or errtext(sz))
  digests[#digests + 1] = {f, digest(lines)}
end
local expected = {
  ["b"] = 598303158,
  ["B"] = 1702358597,
  ["h"] = 2576997282,
  ["H"] = 2635961757,
  ["i"] = 2088432188,
  ["I"] = 2620723421,
  ["l"] = 3114286969,
  ["L"] = 3114286969,
  ["j"] = 3114286969,
  ["J"] = 3114286969,
  ["T"] = 3114286969,
  ["i1"] = 598303158,
  ["i2"] = 2576997282,
  ["i3"] = 3376252232,
  ["i5"] = 286408673,
  ["i7"] = 1759828008,
  ["i8"] = 3114286969,
  ["i9"] = 2316030006,
  ["i16"] = 924307041,
  ["I1"] = 1702358597,
  ["I3"] = 382406592,
  ["I9"] = 2780812062,
  ["I16"] = 422629153,
  ["f"] = 2997817648,
  ["d"] = 3990466133,
  ["n"] = 3990466133,
  [">i4"] = 1362670328,
  ["<i4"] = 2088432188,
  ["=i4"] = 2088432188,
  [">I3"] = 1552226340,
  [">j"] = 1910023921,
  [">d"] = 3907096037,
  [">f"] = 54173308,
  ["!4i3"] = 2210728126,
  ["!8d"] = 3990466133,
  [">i16"] = 1197783497,
  [">I16"] = 2926151785,
  ["z"] = 3031823317,
  ["s"] = 995519736,
  ["s1"] = 4132116112,
  ["s2"] = 2521120443,
  [">s2"] = 2724523791,
  ["c1"] = 3813759793,
  ["c3"] = 4154971487,
  ["c0"] = 999150408,
  ["c10"] = 2086661995,
  ["!8 b s"] = 432932211,
  ["Xi4"] = 3914514269,
  ["bXh"] = 4287672306,
  ["b Xi8 i8"] = 1067752554,
  ["!2 b Xi8 i8"] = 1363860442,
  ["xx"] = 57101333,
  ["b x X"] = 679372918,
  ["<!4 i3 i4"] = 1748163454,
}
local failed = 0
for _, d in ipairs(digests) do
  if expected[d[1]] ~= d[2] then
    failed = failed + 1
    print("format " .. d[1] .. " differs: digest " .. d[2] .. ", expected " .. tostring(expected[d[1]]))
  end
end
assert(failed == 0, failed .. " format(s) differ")
print("ok")
