-- Particles: records with methods through a metatable, closures as callbacks.
local Particle = {}
Particle.__index = Particle
function Particle.new(x, y, dx, dy)
  return setmetatable({x = x, y = y, dx = dx, dy = dy, life = 0}, Particle)
end
function Particle.move(self, w, h)
  local x = self.x + self.dx
  if x < 0 or x >= w then self.dx = -self.dx else self.x = x end
  local y = self.y + self.dy
  if y < 0 or y >= h then
    self.dy = -self.dy
    return 1
  end
  self.y = y
  self.life = self.life + 1
  return 0
end
local bounces = 0
local function gravity(g)
  return function(p) p.dy = p.dy + g end
end
local function counter(p) bounces = bounces + 1 end
local function each(list, n, fn)
  for i = 1, n do fn(list[i]) end
end
local list = {}
for i = 1, 200 do
  list[i] = Particle.new(i * 3 % 320, i * 7 % 200, i % 5 - 2, i % 3 + 1)
end
local pull = gravity(0.25)
for frame = 1, 5000 do
  for i = 1, 200 do
    local p = list[i]
    pull(p)
    if p:move(320, 200) == 1 then counter(p) end
  end
end
local sx, sy, life = 0, 0, 0
each(list, 200, function(p)
  sx = sx + p.x
  sy = sy + p.y
  life = life + p.life
end)
return bounces, sx, sy, life
