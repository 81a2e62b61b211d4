-- Typed userdata: the one numeric container, as vectors and matrices.
local v = vec(1, 2, 3)
local w = vec(4, 5, 6)
? "v + w =", tostring(v + w)
? "v . w =", v:dot(w)
? "|v x w| =", v:cross(w):magnitude()
local bytes = userdata("u8", 8, 2, "0102030405060708ffeeddccbbaa9988")
? "row 1 sum:", bytes:row(1):convert("i32"):magnitude() or "(u8 rows have no magnitude)"
? "width, height, type, dims:", bytes:attribs()
