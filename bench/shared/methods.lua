-- Method calls through metatables.
-- small: 1000000 => 100000
local Point = {}
Point.__index = Point
function Point.new(x, y) return setmetatable({x = x, y = y}, Point) end
function Point:add(o) return Point.new(self.x + o.x, self.y + o.y) end
function Point:len2() return self.x * self.x + self.y * self.y end
local Vec = setmetatable({}, {__index = Point})
Vec.__index = Vec
function Vec.new(x, y) return setmetatable({x = x, y = y}, Vec) end
function Vec:scale(k) self.x = self.x * k; self.y = self.y * k; return self end
local acc = Point.new(0, 0)
local s = 0
for i = 1, 1000000 do
  local v = Vec.new(i, -i)
  v:scale(2)
  s = s + v:len2() % 7
  acc = acc:add(v)
end
print(acc.x, acc.y, s)
