-- A tree of tables: built by recursive descent, walked with multiple
-- returns; nodes take their children as varargs.
function node(v, ...)
  return {value = v, kids = {...}, n = select('#', ...)}
end
function build(depth, seed)
  seed = (seed * 75 + 74) % 65537
  if depth == 0 then return node(seed % 100), seed end
  local a, b, c
  a, seed = build(depth - 1, seed)
  b, seed = build(depth - 1, seed)
  if seed % 3 == 0 then
    c, seed = build(depth - 1, seed)
    return node(seed % 100, a, b, c), seed
  end
  return node(seed % 100, a, b), seed
end
function walk(t, depth)
  local count, sum, deepest = 1, t.value, depth
  local kids = t.kids
  for i = 1, t.n do
    local c, s, d = walk(kids[i], depth + 1)
    count = count + c
    sum = sum + s
    if deepest < d then deepest = d end
  end
  return count, sum, deepest
end
function leftmost(t)
  if t.n == 0 then return t.value end
  return leftmost(t.kids[1])
end
local function total(...)
  local args = {...}
  local s = 0
  for i = 1, select('#', ...) do s = s + args[i] * i end
  return s
end
local seed = 7
local checksum, nodes, left = 0, 0, 0
for round = 1, 40 do
  local tree
  tree, seed = build(11, seed)
  nodes = nodes + walk(tree, 0)
  checksum = (checksum + total(walk(tree, 0))) % 1000003
  left = left + leftmost(tree)
end
return nodes, checksum, left, seed
