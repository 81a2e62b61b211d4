-- args: --frames 30
-- expect-exit: 3
-- expect-stderr: stopped after 30 frames
-- max-rss-mb: 160
-- expect-stdout: every phase ended its slices
-- Loops whose every instruction compares, decodes or scans megabytes for a few cycles: a
-- frame's worth of such native work ends the slice at the next instruction. Each phase runs
-- in a coroutine and does over two frames' worth: every forced yield returns true and nothing
-- else to the resumer, so at least three resumes show that the slice ended inside the loop,
-- whose body calls nothing. The last loop runs until the runner stops after 30 frames.
local function resumes(body)
  local co, n = coroutine.create(body), 0
  repeat
    local r = table.pack(coroutine.resume(co))
    assert(r.n == 1 and r[1], r[2])
    n = n + 1
  until coroutine.status(co) == "dead"
  return n
end

local MB = 1024 * 1024
local sink

-- Two distinct, equal long strings: equality, order, a long key and a long constant.
local a = string.rep("x", 2 * MB)
local b = string.rep("x", 2 * MB - 1) .. "x"
assert(resumes(function() for _ = 1, 380 do sink = a == b end end) >= 3, "==")
assert(resumes(function() for _ = 1, 250 do sink = a <= b end end) >= 3, "<=")
local keyed = {[a] = true}
assert(resumes(function() for _ = 1, 380 do sink = keyed[b] end end) >= 3, "long key read")
assert(resumes(function() for _ = 1, 380 do keyed[b] = 1 end end) >= 3, "long key write")
local eqk = load("local s = ... return function() for _ = 1, 380 do local _ = s == '" .. a ..
                 "' end end")(b)
assert(resumes(eqk) >= 3, "long constant")
keyed, eqk = nil, nil

-- Order across embedded zeros: one piece per zero byte.
local z1, z2 = string.rep("\0", 256 * 1024), string.rep("\0", 256 * 1024 - 1) .. "\0"
assert(resumes(function() for _ = 1, 25 do sink = z1 <= z2 end end) >= 3, "zeros")
z1, z2 = nil, nil

-- UTF-8: decoding, and skipping continuation bytes.
local text = string.rep("\u{20AC}", 2 * MB // 3)
assert(resumes(function() for _ = 1, 15 do sink = utf8.len(text) end end) >= 3, "utf8.len")
text = nil
local conts = "a" .. string.rep("\x80", 2 * MB)
local step = utf8.codes(conts, true)
assert(resumes(function() for _ = 1, 48 do sink = step(conts, 1) end end) >= 3, "utf8.codes")
assert(resumes(function() for _ = 1, 48 do sink = utf8.offset(conts, 0, #conts) end end) >= 3,
       "utf8.offset")
conts, step = nil, nil

-- Numerals padded with blanks, and a table whose many slots are all empty.
local padded = string.rep(" ", 2 * MB) .. "1"
assert(resumes(function() for _ = 1, 48 do sink = tonumber(padded) end end) >= 3, "tonumber")
padded = nil
local emptied = load("return {" .. string.rep("nil, ", 256 * 1024) .. "}")()
assert(resumes(function() for _ = 1, 380 do sink = next(emptied) end end) >= 3, "next")
emptied = nil

print("every phase ended its slices")
while true do sink = a == b end
