-- Object-oriented simulation: classes and inheritance through setmetatable, method calls,
-- field-heavy objects and a fresh record per event.
-- small: local STEPS = 300 => local STEPS = 50
local seed = 42
local function rand(n)
  seed = (seed * 1103515245 + 12345) % 2147483648
  return (seed >> 8) % n
end

local W, H, CELL = 120, 120, 8

local Entity = {}
Entity.__index = Entity
function Entity.new(class, id, x, y)
  return setmetatable({id = id, x = x, y = y, vx = 0, vy = 0, energy = 60, age = 0,
                       alive = true}, class)
end
function Entity:move()
  self.x = (self.x + self.vx) % W
  self.y = (self.y + self.vy) % H
  self.age = self.age + 1
end
function Entity:cell() return (self.x // CELL) * 64 + self.y // CELL end
function Entity:tire(cost)
  self.energy = self.energy - cost
  if self.energy <= 0 then self.alive = false end
end

local Prey = setmetatable({}, {__index = Entity})
Prey.__index = Prey
Prey.kind = "prey"
function Prey:steer()
  if rand(4) == 0 then self.vx, self.vy = rand(3) - 1, rand(3) - 1 end
end
function Prey:update(world)
  self:steer()
  self:move()
  self.energy = self.energy + 3
  if self.energy > 100 and world.count.prey < 3000 then
    self.energy = self.energy - 50
    world:spawn(Prey, self.x, self.y)
  end
  self:tire(1)
end

local Predator = setmetatable({}, {__index = Entity})
Predator.__index = Predator
Predator.kind = "predator"
function Predator:steer(world)
  local target = world:nearest_prey(self)
  if target then
    self.vx = target.x > self.x and 1 or (target.x < self.x and -1 or 0)
    self.vy = target.y > self.y and 1 or (target.y < self.y and -1 or 0)
  elseif rand(3) == 0 then
    self.vx, self.vy = rand(5) - 2, rand(5) - 2
  end
  return target
end
function Predator:update(world)
  local target = self:steer(world)
  self:move()
  if target and target.alive and target.x == self.x and target.y == self.y and rand(3) == 0 then
    target.alive = false
    self.energy = self.energy + 40
    world:log("eat", self, target)
  end
  if self.energy > 150 and world.count.predator < 400 then
    self.energy = self.energy - 70
    world:spawn(Predator, self.x, self.y)
  end
  self:tire(2)
end

local World = {}
World.__index = World
function World.new()
  return setmetatable({things = {}, grid = {}, next_id = 1, events = {},
                       count = {prey = 0, predator = 0}, stats = {eaten = 0, born = 0, died = 0}}, World)
end
function World:spawn(class, x, y)
  local e = Entity.new(class, self.next_id, x, y)
  self.next_id = self.next_id + 1
  self.things[#self.things + 1] = e
  self.count[class.kind] = self.count[class.kind] + 1
  self.stats.born = self.stats.born + 1
  return e
end
function World:log(what, a, b)
  self.events[#self.events + 1] = {what = what, by = a.id, of = b.id, x = a.x, y = a.y}
  if what == "eat" then self.stats.eaten = self.stats.eaten + 1 end
end
function World:index()
  local grid = {}
  for _, e in ipairs(self.things) do
    if e.kind == "prey" and e.alive then
      local c = e:cell()
      local list = grid[c]
      if list then list[#list + 1] = e else grid[c] = {e} end
    end
  end
  self.grid = grid
end
function World:nearest_prey(p)
  local list = self.grid[p:cell()]
  if not list then return nil end
  local best, bestd = nil, math.maxinteger
  for _, e in ipairs(list) do
    if e.alive then
      local d = math.abs(e.x - p.x) + math.abs(e.y - p.y)
      if d < bestd then best, bestd = e, d end
    end
  end
  return best
end
function World:step()
  self:index()
  local things = self.things
  for i = 1, #things do
    local e = things[i]
    if e.alive then e:update(self) end
  end
  local kept = {}
  for _, e in ipairs(self.things) do
    if e.alive then kept[#kept + 1] = e
    else
      self.count[e.kind] = self.count[e.kind] - 1
      self.stats.died = self.stats.died + 1
    end
  end
  self.things = kept
end

local world = World.new()
for _ = 1, 800 do world:spawn(Prey, rand(W), rand(H)) end
for _ = 1, 20 do world:spawn(Predator, rand(W), rand(H)) end
local STEPS = 300
local trail = 0
for _ = 1, STEPS do
  world:step()
  if #world.things == 0 then break end
  trail = (trail * 7 + world.count.prey * 13 + world.count.predator) % 1000000007
end
local pos = 0
for _, e in ipairs(world.things) do pos = (pos * 31 + e.x * 128 + e.y + e.energy) % 1000000007 end
local ev = 0
for _, e in ipairs(world.events) do ev = (ev + e.by * 3 + e.of + e.x * e.y) % 1000000007 end
print(world.count.prey, world.count.predator, world.stats.born, world.stats.died,
      world.stats.eaten, #world.events, trail, pos, ev)
