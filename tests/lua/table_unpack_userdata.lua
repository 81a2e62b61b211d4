-- table.unpack on a typed userdata: indices from 0 to #ud - 1 by default.
local u = userdata("u8", 4)
u[0], u[1], u[2], u[3] = 10, 11, 12, 13
local r = table.pack(table.unpack(u))
assert(r.n == 4 and r[1] == 10 and r[4] == 13)
r = table.pack(table.unpack(u, 2))
assert(r.n == 2 and r[1] == 12 and r[2] == 13)
r = table.pack(table.unpack(u, 1, 2))
assert(r.n == 2 and r[1] == 11 and r[2] == 12)
assert(select("#", table.unpack(u, 3, 2)) == 0)
local v = userdata("f64", 3)
v[2] = 2.5
r = table.pack(table.unpack(v))
assert(r.n == 3 and r[1] == 0.0 and math.type(r[1]) == "float" and r[3] == 2.5)
local e = userdata("i16", 1)
assert(select("#", table.unpack(e)) == 1)
-- the table checks accept it: its metatable carries __index, __newindex and __len
assert(table.concat(u, ",", 0, 3) == "10,11,12,13")
print("ok")
