-- Sorting and searching arrays: insertion sort, binary search, a binary heap.
local function fill(a, n, seed)
  for i = 1, n do
    seed = (seed * 75 + 74) % 65537
    a[i] = seed
  end
  return seed
end
local function isort(a, n)
  for i = 2, n do
    local v = a[i]
    local j = i - 1
    while j >= 1 and v < a[j] do
      a[j + 1] = a[j]
      j = j - 1
    end
    a[j + 1] = v
  end
end
local function bsearch(a, n, x)
  local lo, hi = 1, n
  while lo <= hi do
    local mid = math.floor((lo + hi) / 2)
    local v = a[mid]
    if v == x then return mid end
    if v < x then lo = mid + 1 else hi = mid - 1 end
  end
  return 0
end
local function push(h, n, x)
  n = n + 1
  local i = n
  while 1 < i do
    local p = math.floor(i / 2)
    if h[p] <= x then break end
    h[i] = h[p]
    i = p
  end
  h[i] = x
  return n
end
local function pop(h, n)
  local top = h[1]
  local x = h[n]
  h[n] = nil
  n = n - 1
  local i = 1
  while true do
    local c = i * 2
    if n < c then break end
    if c < n and h[c + 1] < h[c] then c = c + 1 end
    if x <= h[c] then break end
    h[i] = h[c]
    i = c
  end
  if 0 < n then h[i] = x end
  return top, n
end
local seed = 1
local found, order, heapsum = 0, 0, 0
for round = 1, 120 do
  local a = {}
  seed = fill(a, 300, seed)
  isort(a, 300)
  for i = 2, 300 do
    if a[i - 1] <= a[i] then order = order + 1 end
  end
  for k = 1, 300 do
    seed = (seed * 75 + 74) % 65537
    found = found + bsearch(a, 300, a[k])
    found = found + bsearch(a, 300, seed)
  end
  local h, n = {}, 0
  for k = 1, 300 do
    n = push(h, n, a[301 - k])
    seed = (seed * 75 + 74) % 65537
    n = push(h, n, seed)
  end
  local k = 0
  while 0 < n do
    local v
    v, n = pop(h, n)
    k = k + 1
    heapsum = (heapsum + v * k) % 1000003
  end
end
return found, order, heapsum, seed
