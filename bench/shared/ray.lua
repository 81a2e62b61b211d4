-- Ray tracer: every vector operation makes a fresh {x, y, z} table; spheres are objects.
-- small: local W, H = 256, 192 => local W, H = 72, 54
local sqrt = math.sqrt
local floor = math.floor

local function add(a, b) return {x = a.x + b.x, y = a.y + b.y, z = a.z + b.z} end
local function sub(a, b) return {x = a.x - b.x, y = a.y - b.y, z = a.z - b.z} end
local function scale(a, k) return {x = a.x * k, y = a.y * k, z = a.z * k} end
local function mul(a, b) return {x = a.x * b.x, y = a.y * b.y, z = a.z * b.z} end
local function dot(a, b) return a.x * b.x + a.y * b.y + a.z * b.z end
local function unit(a)
  local l = sqrt(a.x * a.x + a.y * a.y + a.z * a.z)
  return {x = a.x / l, y = a.y / l, z = a.z / l}
end

local Sphere = {}
Sphere.__index = Sphere
function Sphere.new(center, radius, color, shine)
  return setmetatable({center = center, radius = radius, r2 = radius * radius,
                       color = color, shine = shine}, Sphere)
end
function Sphere:hit(orig, dir)
  local oc = sub(orig, self.center)
  local b = dot(oc, dir)
  local c = dot(oc, oc) - self.r2
  local disc = b * b - c
  if disc < 0 then return nil end
  local s = sqrt(disc)
  local t = -b - s
  if t > 1e-4 then return t end
  t = -b + s
  if t > 1e-4 then return t end
  return nil
end
function Sphere:normal(p) return scale(sub(p, self.center), 1 / self.radius) end

local Plane = {}
Plane.__index = Plane
function Plane.new(y, color, shine)
  return setmetatable({n = {x = 0, y = 1, z = 0}, y = y, color = color, shine = shine}, Plane)
end
function Plane:hit(orig, dir)
  if dir.y > -1e-6 then return nil end
  local t = (self.y - orig.y) / dir.y
  if t > 1e-4 then return t end
  return nil
end
function Plane:normal(p) return self.n end
function Plane:colour_at(p)
  if (floor(p.x) + floor(p.z)) % 2 == 0 then return self.color end
  return {x = 0.2, y = 0.2, z = 0.25}
end

local scene = {Plane.new(-1, {x = 0.9, y = 0.9, z = 0.85}, 0.2)}
for i = 0, 7 do
  local a = i * 0.785
  scene[#scene + 1] = Sphere.new({x = 2.2 * math.cos(a), y = -0.4 + 0.15 * i, z = 6 + 2.2 * math.sin(a)},
    0.6, {x = 0.3 + 0.09 * i, y = 0.9 - 0.1 * i, z = 0.5}, 0.3)
end
scene[#scene + 1] = Sphere.new({x = 0, y = 0.2, z = 6}, 1.0, {x = 0.95, y = 0.95, z = 0.95}, 0.7)
local light = {x = -4, y = 6, z = 1}
local ambient = 0.1

local function closest(orig, dir)
  local best, what = math.huge, nil
  for i = 1, #scene do
    local o = scene[i]
    local t = o:hit(orig, dir)
    if t and t < best then best, what = t, o end
  end
  return what, best
end

local function shadowed(p, tolight, dist)
  for i = 1, #scene do
    local t = scene[i]:hit(p, tolight)
    if t and t < dist then return true end
  end
  return false
end

local function trace(orig, dir, depth)
  local obj, t = closest(orig, dir)
  if not obj then
    local k = 0.5 * (dir.y + 1)
    return add(scale({x = 1, y = 1, z = 1}, 1 - k), scale({x = 0.5, y = 0.7, z = 1.0}, k))
  end
  local p = add(orig, scale(dir, t))
  local n = obj:normal(p)
  local base = obj.colour_at and obj:colour_at(p) or obj.color
  local l = sub(light, p)
  local dist = sqrt(dot(l, l))
  l = scale(l, 1 / dist)
  local diffuse = dot(n, l)
  if diffuse < 0 or shadowed(p, l, dist) then diffuse = 0 end
  local colour = scale(base, ambient + 0.9 * diffuse)
  if depth < 3 and obj.shine > 0 then
    local r = sub(dir, scale(n, 2 * dot(dir, n)))
    colour = add(scale(colour, 1 - obj.shine), scale(mul(trace(p, r, depth + 1), base), obj.shine))
  end
  return colour
end

local W, H = 256, 192
local eye = {x = 0, y = 0.6, z = -1}
local sum, bright = 0, 0
for py = 0, H - 1 do
  for px = 0, W - 1 do
    local dir = unit({x = (px - W / 2) / H, y = (H / 2 - py) / H, z = 1})
    local c = trace(eye, dir, 0)
    local r, g, b = floor(math.min(c.x, 1) * 255), floor(math.min(c.y, 1) * 255), floor(math.min(c.z, 1) * 255)
    sum = (sum * 31 + r * 65536 + g * 256 + b) % 1000000007
    if r + g + b > 600 then bright = bright + 1 end
  end
end
print(sum, bright)
