-- Vectors with arithmetic and comparison metamethods, a constructor called
-- through __call, a proxy that watches writes through __newindex, and a
-- routine that the listing reaches by Gosub (a plain function here).
local Vec = {}
Vec.__index = Vec
local function new(x, y) return setmetatable({x = x, y = y}, Vec) end
Vec.__add = function(a, b) return new(a.x + b.x, a.y + b.y) end
Vec.__sub = function(a, b) return new(a.x - b.x, a.y - b.y) end
Vec.__mul = function(a, k) return new(a.x * k, a.y * k) end
Vec.__unm = function(a) return new(-a.x, -a.y) end
Vec.__eq = function(a, b) return a.x == b.x and a.y == b.y end
Vec.__lt = function(a, b) return a.x * a.x + a.y * a.y < b.x * b.x + b.y * b.y end
local V = setmetatable({}, {__call = function(cls, x, y) return new(x, y) end})
local writes = 0
local store = {}
local proxy = setmetatable({}, {__index = store, __newindex = function(t, k, v)
  writes = writes + 1
  store[k] = v
end})
local pos, vel, acc = V(0, 0), V(3, 2), V(0, -1)
local bounces, nearer, same = 0, 0, 0
local function step()
  vel = vel + acc
  pos = pos + vel
  if pos.y < 0 then
    pos = new(pos.x, 0)
    vel = new(vel.x, -vel.y)
    bounces = bounces + 1
  end
end
for i = 1, 70000 do
  step()
  if 1000 < pos.x then pos = pos - V(1000, 0) end
  if pos - V(500, 0) < vel * 20 then nearer = nearer + 1 end
  if -(-vel) == vel then same = same + 1 end
  proxy.pos = pos
end
return bounces, nearer, same, writes, proxy.pos.x, proxy.pos.y
