-- max-rss-mb: 256
-- Deeply nested source gives a compile error, never a crash.
local function fails(src)
  local f, err = load(src)
  assert(f == nil and type(err) == "string", "expected a compile error")
  return err
end
local err = fails("return " .. string.rep("(", 250) .. "1" .. string.rep(")", 250))
assert(err:find("overflow") or err:find("too many"), err)
fails("return " .. string.rep("{", 1000) .. string.rep("}", 1000))
fails(string.rep("do ", 500) .. string.rep("end ", 500))
fails("x = " .. string.rep("- ", 10000) .. "1")
fails("x = " .. string.rep("not ", 300) .. "1")
fails(string.rep("if x then ", 300) .. string.rep("end ", 300))
fails("f(" .. string.rep("function() return ", 300) .. "1" .. string.rep(" end", 300) .. ")")
-- Long but flat source is fine.
assert(load("local a = " .. string.rep("a.", 100000) .. "b"))
assert(load("return " .. string.rep("1 + ", 100000) .. "1"))
print("ok")
