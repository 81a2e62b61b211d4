-- heavy-allocation
-- expect-exit: 1
-- expect-stderr: ^not enough memory.stack traceback:..\(unavailable\).$
-- max-rss-mb: 256
-- A process that fills memory to the allocator's last byte and then fails: neither the error
-- message nor the traceback can be made, and the report says so instead of ending the host.
local hold
string.gsub("a", "a", function()
  local n
  local function fill() hold = {string.rep("x", n), hold} end
  for _, k in ipairs({1 << 20, 1 << 14, 1 << 8, 1}) do
    n = k
    while pcall(fill) do end
  end
  local function cell() hold = {hold} end
  while pcall(cell) do end
  error("boom")
end)
