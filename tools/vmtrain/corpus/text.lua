-- A text formatter: letters joined into words, split at spaces, counted in
-- a table keyed by word (missing words read as 0 through __index), wrapped
-- into lines and numbered with a zero-padded counter.
local letters = {"a", "e", "i", "o", "u", "n", "r", "s", "t", "l", "m", "k"}
local digits = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}
local function makechars(n, seed)
  local chars = {}
  for i = 1, n do
    seed = (seed * 75 + 74) % 65537
    local k = seed % 15
    if k < 12 then chars[i] = letters[k + 1] else chars[i] = " " end
  end
  return chars, seed
end
local function split(chars, n)
  local words, lens, count = {}, {}, 0
  local w, len = "", 0
  for i = 1, n do
    local c = chars[i]
    if c == " " then
      if 0 < len then
        count = count + 1
        words[count] = w
        lens[count] = len
        w = ""
        len = 0
      end
    else
      w = w .. c
      len = len + 1
    end
  end
  if 0 < len then
    count = count + 1
    words[count] = w
    lens[count] = len
  end
  return words, lens, count
end
local function pad(n, width)
  local s = ""
  for i = 1, width do
    s = digits[n % 10 + 1] .. s
    n = math.floor(n / 10)
  end
  return s
end
local function wrap(words, lens, count, width, out)
  local line, used, nlines = "", 0, 0
  for i = 1, count do
    local l = lens[i]
    if 0 < used then
      if width < used + 1 + l then
        nlines = nlines + 1
        out[nlines] = pad(nlines, 4) .. ": " .. line
        line = words[i]
        used = l
      else
        line = line .. " " .. words[i]
        used = used + 1 + l
      end
    else
      line = words[i]
      used = l
    end
  end
  if 0 < used then
    nlines = nlines + 1
    out[nlines] = pad(nlines, 4) .. ": " .. line
  end
  return nlines
end
local freq = {}
setmetatable(freq, {__index = function(t, k) return 0 end})
local seed = 11
local totalwords, distinct, lines, longest, best, last = 0, 0, 0, 0, "", ""
for round = 1, 180 do
  local chars, words, lens, count
  chars, seed = makechars(3000, seed)
  words, lens, count = split(chars, 3000)
  totalwords = totalwords + count
  for i = 1, count do
    local w = words[i]
    if freq[w] == 0 then distinct = distinct + 1 end
    freq[w] = freq[w] + 1
    if best < w then best = w end
    if longest < lens[i] then longest = lens[i] end
  end
  local out = {}
  local n = wrap(words, lens, count, 40, out)
  lines = lines + n
  last = out[n]
end
return totalwords, distinct, lines, longest, best, last
