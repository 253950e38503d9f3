-- A small state machine: string-keyed dispatch tables, handlers looked up
-- by name, and for-in loops over iterators written in the script.
local function inext(t, i)
  i = i + 1
  if i <= t.n then return i, t[i] end
end
local function items(t) return inext, t, 0 end
local function keys(list)
  local i = 0
  return function()
    i = i + 1
    if i <= list.n then return list[i] end
  end
end
local events = {"tick", "key", "land", "hit", "tick", "key", n = 6}
local states = {"idle", "walk", "run", "jump", "fall", n = 5}
local trans = {}
trans.idle = {key = "walk", hit = "fall", tick = "idle", land = "idle"}
trans.walk = {key = "run", hit = "fall", tick = "idle", land = "walk"}
trans.run = {key = "jump", hit = "run", tick = "walk", land = "run"}
trans.jump = {key = "jump", hit = "fall", tick = "fall", land = "jump"}
trans.fall = {key = "fall", hit = "fall", tick = "fall", land = "idle"}
local ctx = {score = 0, energy = 100}
local actions = {}
actions.idle = function(c) c.energy = c.energy + 2 end
actions.walk = function(c) c.energy = c.energy - 1; c.score = c.score + 1 end
actions.run = function(c) c.energy = c.energy - 3; c.score = c.score + 3 end
actions.jump = function(c) c.score = c.score + 5 end
actions.fall = function(c) c.energy = c.energy - 2 end
local visits = {}
for _, name in items(states) do visits[name] = 0 end
local state, seed = "idle", 3
for step = 1, 1400000 do
  seed = (seed * 75 + 74) % 65537
  local ev = events[seed % 6 + 1]
  local nxt = trans[state][ev]
  if nxt ~= state then
    state = nxt
    actions[state](ctx)
    visits[state] = visits[state] + 1
  end
  if ctx.energy < 0 then
    state = "idle"
    ctx.energy = 50
  end
end
local weighted = 0
for i, name in items(states) do
  weighted = weighted + visits[name] * i
end
local tally = 0
for name in keys(events) do
  for _, st in items(states) do
    if trans[st][name] ~= st then tally = tally + 1 end
  end
end
return state, weighted, tally, ctx.score, ctx.energy
