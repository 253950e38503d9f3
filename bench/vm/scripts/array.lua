-- Array writes and reads.
local t = {}
local n = 4000000
for i = 1, n do
  t[i] = i * 2
end
local s = 0
for r = 1, 3 do
  for i = 1, n do
    s = s + t[i]
  end
end
return s
