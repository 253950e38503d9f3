-- Hash table writes and reads: sparse number keys and string fields.
local h = {}
for i = 1, 1000000 do
  h[i * 16] = i
end
local s = 0
for i = 1, 1000000 do
  s = s + h[i * 16]
end
local r = {count = 0, total = 0}
for i = 1, 4000000 do
  r.count = r.count + 1
  r.total = r.total + i
end
return s, r.count, r.total
