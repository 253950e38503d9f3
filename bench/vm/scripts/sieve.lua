-- Sieve of Eratosthenes: array writes and reads with a stride.
local n = 1000000
local count = 0
for r = 1, 3 do
  local flags = {}
  for i = 2, n do
    flags[i] = 1
  end
  count = 0
  for i = 2, n do
    if flags[i] == 1 then
      count = count + 1
      for j = i + i, n, i do
        flags[j] = 0
      end
    end
  end
end
return count
