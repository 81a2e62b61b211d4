-- Pattern searches whose naive cost is quadratic or worse, and searches the reference finishes
-- in about a second. bench/run runs each case as its own process under halvoran and lua5.4
-- (it sets CASE) and compares the printed results; the times go in the README's table.
local rep = string.rep
local function lines(s)
  local n = 0
  for _ in s:gmatch("(.-)\n") do n = n + 1 end
  return n
end
local cases = {
  -- a failed start rules out the run of its leading class: linear in halvoran
  {"find_lazy_8k", function() return string.find(rep("a", 8000), "a-b") end},
  {"match_lazy_5807", function() return string.match(rep("x", 5807), ".-y") end},
  {"gmatch_lines_10k", function() return lines(rep("x", 10000)) end},
  {"match_lazy_1m", function() return rep("x", 1000000):match(".-y") end},
  {"gmatch_lines_1m", function() return lines(rep("x", 1000000)) end},
  {"balance_300k", function() return string.find(rep("(", 300000), "%b()") end},
  -- runs for minutes naively: gives up within the allowance
  {"nested_lazy_100k", function() return string.find(rep("a", 100000), ".-.-.-b") end},
  {"exponential_60", function() return string.find(rep("a", 60), rep("a*", 30) .. "b") end},
  {"backref_1m", function() return string.find(rep("a", 1000000), "(.*)%1x") end},
  -- linear plain search
  {"plain_1m_in_2m", function() return string.find(rep("a", 2000000), rep("a", 1000000) .. "b", 1, true) end},
  -- the reference takes about a second, nothing is skipped: must not be refused
  {"lazy_noskip_16k", function() return string.find(rep("a", 16000), "x?.-b") end},
  {"greedy_noskip_16k", function() return string.find(rep("a", 16000), "x?a*b") end},
  {"balance_noskip_55k", function() return string.find(rep("(", 55000), "x?%b()") end},
  {"backref_9k", function() return string.find(rep("a", 9000), "(.*)%1x") end},
}
for _, c in ipairs(cases) do
  if CASE == nil or CASE == c[1] then
    local r = table.pack(pcall(c[2]))
    if not r[1] then r[2] = tostring(r[2]):gsub("^.-:%d+: ", "") end
    for i = 1, r.n do r[i] = tostring(r[i]) end
    print(c[1] .. ": " .. table.concat(r, " ", 1, r.n))
  end
end
