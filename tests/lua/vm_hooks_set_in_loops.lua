-- Hooks installed while a loop runs take effect at once: a line hook set inside a numeric
-- for loop, a count hook on a suspended coroutine, and a count hook over a float loop body.
-- The line list and counts are those of the reference interpreter.
local lines, counts = {}, 0
local n = 0
for i = 1, 4 do
  if i == 2 then debug.sethook(function(_, l) lines[#lines + 1] = l end, "l") end
  n = n + i * 1.5
  while n < 3 do n = n + 1 end
end
debug.sethook()
assert(table.concat(lines, " ") == "8 9 6 7 8 9 6 7 8 9 6 11", table.concat(lines, " "))
local co = coroutine.create(function()
  local s = 0
  for i = 1, 50 do s = s + i; if i % 10 == 0 then coroutine.yield(s) end end
  return s
end)
coroutine.resume(co)
debug.sethook(co, function() counts = counts + 1 end, "", 3)
while coroutine.status(co) ~= "dead" do coroutine.resume(co) end
debug.sethook(co)
local k = 0
debug.sethook(function() k = k + 1 end, "", 7)
for i = 1, 100 do local a = i + 0.5; if a > 1000 then break end end
debug.sethook()
assert(counts == 88 and k == 134, counts .. " " .. k)
print("ok")
