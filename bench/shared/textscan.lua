-- Pattern matching over long generated texts: find, match, gmatch and gsub with classes, sets,
-- captures, anchors and frontiers; then variant counting over a DNA-like sequence.
-- small: local PASSES = 15 => local PASSES = 1
local seed = 42
local function rand(n)
  seed = (seed * 1103515245 + 12345) % 2147483648
  return (seed >> 8) % n
end

local SIZE = 100000
local words = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "Halvoran",
               "process", "kernel", "memory", "slice", "budget", "table", "string", "pattern",
               "coroutine", "value", "frame", "Display", "palette", "node", "channel"}
local hosts = {"example.org", "mail.net", "halvoran.io", "host.com"}
local parts, n = {}, 0
while n < SIZE do
  local r = rand(20)
  local piece
  if r == 0 then
    piece = string.format("%04d-%02d-%02d", 1990 + rand(40), 1 + rand(12), 1 + rand(28))
  elseif r == 1 then
    piece = words[rand(#words) + 1] .. "." .. words[rand(#words) + 1] .. "@" .. hosts[rand(#hosts) + 1]
  elseif r == 2 then
    piece = string.format("%d,%03d.%02d", rand(1000), rand(1000), rand(100))
  elseif r == 3 then
    piece = "(see page " .. rand(400) .. ")"
  elseif r == 4 then
    piece = string.format("0x%X", rand(1 << 20))
  elseif r == 5 then
    piece = words[rand(#words) + 1] .. ".\n"
  else
    piece = words[rand(#words) + 1]
  end
  parts[#parts + 1] = piece
  n = n + #piece + 1
end
local text = table.concat(parts, " ")

local function scan(text)
  local sum = 0
  -- words and their frequencies
  local freq, distinct, most = {}, 0, 0
  for w in text:gmatch("%a+") do
    w = w:lower()
    local c = (freq[w] or 0) + 1
    if c == 1 then distinct = distinct + 1 end
    if c > most then most = c end
    freq[w] = c
  end
  sum = sum + distinct * 1000 + most
  -- dates
  for y, m, d in text:gmatch("(%d%d%d%d)%-(%d%d)%-(%d%d)") do
    sum = sum + tonumber(y) + tonumber(m) * 31 + tonumber(d)
  end
  -- mail addresses
  local mails = 0
  for user, host in text:gmatch("([%w%.]+)@([%w%.]+%a)") do mails = mails + #user + #host end
  sum = sum + mails
  -- numbers with thousands separators, and hexadecimal numbers
  for num in text:gmatch("%d+,%d%d%d%.%d+") do sum = sum + #num end
  for h in text:gmatch("0x(%x+)") do sum = sum + tonumber(h, 16) % 1000 end
  -- sentences: lines ending in a full stop
  local lines = 0
  for line in text:gmatch("[^\n]+") do
    if line:find("%.$") then lines = lines + 1 end
  end
  sum = sum + lines
  -- parenthesised remarks, balanced and lazy
  local init, remarks = 1, 0
  while true do
    local s, e = text:find("%b()", init)
    if not s then break end
    local page = text:match("^%(see page (%d+)%)", s)
    if page then remarks = remarks + tonumber(page) end
    init = e + 1
  end
  sum = sum + remarks
  -- rewrites
  local squeezed, spaces = text:gsub("%s+", " ")
  local swapped, swaps = text:gsub("([%w%.]+)@(%w+)", "%2 at %1")
  local capped = text:gsub("%f[%a](%a)(%a*)", function(a, rest) return a:upper() .. rest end)
  local vowels = text:gsub("[aeiou]", {a = "4", e = "3", i = "1", o = "0"})
  sum = sum + #squeezed + spaces + #swapped + swaps + #capped + #vowels
  local k = 0
  for w in capped:gmatch("%u%l+") do k = k + 1 end
  sum = sum + k
  return sum
end

-- A sequence of four letters and counts of variants of one motif.
local acgt = {"a", "c", "g", "t"}
local seq = {}
for i = 1, SIZE do seq[i] = acgt[rand(4) + 1] end
local dna = table.concat(seq)
local variants = {"agggtaaa", "[cgt]gggtaaa", "a[act]ggtaaa", "ag[act]gtaaa", "agg[act]taaa",
                  "aggg[acg]aaa", "agggt[cgt]aa", "agggta[cgt]a", "agggtaa[cgt]", "tttaccct",
                  "ttta[cgt]cct", "gg[at]tt", "a%a%a%at", "c[^a]c[^t]c"}

local total = 0
local PASSES = 15
for _ = 1, PASSES do
  total = (total + scan(text)) % 1000000007
  for _, v in ipairs(variants) do
    local c = 0
    for _ in dna:gmatch(v) do c = c + 1 end
    total = (total * 7 + c) % 1000000007
  end
  local counts = {}
  dna:gsub("[acgt][acgt]", function(pair) counts[pair] = (counts[pair] or 0) + 1 end)
  total = (total + (counts.ag or 0) * 3 + (counts.tt or 0)) % 1000000007
end
print(#text, total)
