-- Small records: construction and string-keyed field reads.
local list = {}
for i = 1, 200000 do
  list[i] = {id = i, x = i % 17, y = i % 13}
end
local s = 0
for r = 1, 20 do
  for i = 1, 200000 do
    local e = list[i]
    s = s + e.x * e.y + e.id
  end
end
return s
