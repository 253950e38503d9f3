-- Matrix multiplication: rows as arrays, nested array reads.
local n = 200
local a, b = {}, {}
for i = 1, n do
  local ra, rb = {}, {}
  for j = 1, n do
    ra[j] = (i * j) % 7
    rb[j] = (i + j) % 5
  end
  a[i] = ra
  b[i] = rb
end
local c = {}
for i = 1, n do
  local ai, ci = a[i], {}
  for j = 1, n do
    local s = 0
    for k = 1, n do
      s = s + ai[k] * b[k][j]
    end
    ci[j] = s
  end
  c[i] = ci
end
local sum = 0
for i = 1, n do
  local ci = c[i]
  for j = 1, n do
    sum = sum + ci[j] * j
  end
end
return sum
