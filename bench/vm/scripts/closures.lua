-- Closure creation and calls: a new closure over the loop variable each time.
local s = 0
for i = 1, 5000000 do
  local f = function(x) return x + i end
  s = s + f(1)
end
return s
