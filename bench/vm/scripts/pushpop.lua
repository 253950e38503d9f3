-- A stack in an array: pushes and pops at its end.
local t, n, s = {}, 0, 0
for r = 1, 60 do
  for i = 1, 100000 do
    n = n + 1
    t[n] = i
  end
  for i = 1, 100000 do
    s = s + t[n]
    t[n] = nil
    n = n - 1
  end
end
return s, n
