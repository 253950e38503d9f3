-- Error handling: a command called for its status (failing on a bad
-- metatable or a protected one, or succeeding), failures counted and
-- recovered from, next to a script function that reports failure by value.
local Shape = {}
Shape.__index = Shape
function Shape.area(s) return s.w * s.h end
local Locked = {__metatable = "locked", __index = Shape}
local function parse(v)
  if v % 7 == 0 then return nil, 1 end
  return v * 2, 0
end
local ok, failed, area, codes = 0, 0, 0, 0
local seed = 5
for i = 1, 400000 do
  seed = (seed * 75 + 74) % 65537
  local t = {w = seed % 17 + 1, h = seed % 13 + 1}
  local k = seed % 4
  local mt = Shape
  if k == 1 then mt = Locked elseif k == 2 then mt = 7 end
  if pcall(setmetatable, t, mt) then
    ok = ok + 1
    if pcall(setmetatable, t, Shape) then
      area = area + t:area()
    else
      failed = failed + 1
      area = area + t:area() * 2
    end
  else
    failed = failed + 1
  end
  local v, code = parse(seed)
  if code == 0 then codes = codes + v else codes = codes + 1 end
end
return ok, failed, area, codes
