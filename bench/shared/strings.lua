-- String work through native calls: format, sub, byte, char, upper, lower, rep, concat,
-- tostring and tonumber in loops, without patterns.
-- small: local ROWS = 50000 => local ROWS = 4000
local seed = 42
local function rand(n)
  seed = (seed * 1103515245 + 12345) % 2147483648
  return (seed >> 8) % n
end
local byte, char, sub, format = string.byte, string.char, string.sub, string.format
local syllables = {"ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "ze", "po", "bel", "dra"}

local function name()
  local parts = {}
  for i = 1, 2 + rand(3) do parts[i] = syllables[rand(#syllables) + 1] end
  return table.concat(parts)
end

-- Records as fixed-layout text lines.
local ROWS = 50000
local rows = {}
for i = 1, ROWS do
  local nm = name()
  local title = nm:sub(1, 1):upper() .. nm:sub(2)
  rows[i] = format("%06d,%s,%s,%d,%.2f,%x", i, nm:upper(), title, rand(1000), rand(100000) / 100, rand(65536))
end
local csv = table.concat(rows, "\n") .. "\n"

-- Parse it back a byte at a time.
local COMMA, NL = byte(","), byte("\n")
local fields, start, pos = {}, 1, 1
local idsum, qty, cents, hexsum, letters, lines = 0, 0, 0, 0, 0, 0
local len = #csv
while pos <= len do
  local c = byte(csv, pos)
  if c == COMMA or c == NL then
    fields[#fields + 1] = sub(csv, start, pos - 1)
    start = pos + 1
    if c == NL then
      idsum = idsum + tonumber(fields[1])
      letters = letters + #fields[2] + #fields[3]:lower()
      qty = qty + tonumber(fields[4])
      cents = cents + math.floor(tonumber(fields[5]) * 100 + 0.5)
      hexsum = hexsum + tonumber(fields[6], 16)
      lines = lines + 1
      fields = {}
    end
  end
  pos = pos + 1
end

-- A rotation cipher over the upper-case names, a character at a time.
local function rotate(s, k)
  local out = {}
  for i = 1, #s do
    local c = byte(s, i)
    if c >= 65 and c <= 90 then c = (c - 65 + k) % 26 + 65 end
    out[i] = char(c)
  end
  return table.concat(out)
end
local cipher = 0
for i = 1, ROWS, 3 do
  local line = rows[i]
  local a = line:find(",", 1, true)
  local b = line:find(",", a + 1, true)
  local up = sub(line, a + 1, b - 1)
  local enc = rotate(up, 13)
  if rotate(enc, 13) ~= up then error("rotation does not round-trip") end
  cipher = (cipher * 31 + byte(enc, 1) + #enc) % 1000000007
end

-- Hex encoding and decoding.
local function hex(s)
  local out = {}
  for i = 1, #s do out[i] = format("%02x", byte(s, i)) end
  return table.concat(out)
end
local function unhex(h)
  local out = {}
  for i = 1, #h, 2 do out[#out + 1] = char(tonumber(sub(h, i, i + 1), 16)) end
  return table.concat(out)
end
local hexlen = 0
for i = 1, ROWS, 4 do
  local h = hex(rows[i])
  hexlen = hexlen + #h
  if unhex(h) ~= rows[i] then error("hex does not round-trip") end
end

-- Numbers to text and back, and padded columns.
local numsum, width = 0, 0
for i = 1, ROWS do
  local s = tostring(i * 0.25)
  numsum = numsum + tonumber(s) * 4
  local t = tostring(i * 7)
  local padded = string.rep(" ", 10 - #t) .. t .. string.rep(".", i % 5)
  width = width + #padded + byte(padded, 10)
end

print(lines, idsum, letters, qty, cents, hexsum, cipher, hexlen, math.floor(numsum), width, #csv)
