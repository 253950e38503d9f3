-- A long arithmetic loop on locals.
local x, y = 0, 0
for i = 1, 20000000 do
  x = (x + i * 3) % 1000003
  y = y + x / 7 - i
end
return x, y
