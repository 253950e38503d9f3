-- String building: concatenation of texts and numbers.
local s
for j = 1, 20000 do
  s = ""
  for i = 1, 100 do
    s = s .. "x" .. i
  end
end
return s
