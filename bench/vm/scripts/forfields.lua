-- Numeric loops over the fields of a table: bounds and state in fields.
local p = {first = 1, last = 4000000, x = 0, y = 0, dx = 1, dy = 2}
for i = p.first, p.last do
  p.x = p.x + p.dx
  p.y = p.y + p.dy * i
end
return p.x, p.y
