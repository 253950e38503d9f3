-- Integer arithmetic as scripts do it: remainders, integer division and
-- 32-bit bit operations. The listing has bit instructions; this twin
-- computes them with arithmetic, four bits at a time.
local function maketable(op)
  local t = {}
  for a = 0, 15 do
    for b = 0, 15 do
      local r, bit, x, y = 0, 1, a, b
      for i = 1, 4 do
        local p, q = x % 2, y % 2
        if op(p, q) then r = r + bit end
        x = (x - p) / 2
        y = (y - q) / 2
        bit = bit * 2
      end
      t[a * 16 + b] = r
    end
  end
  return t
end
local ANDT = maketable(function(p, q) return p == 1 and q == 1 end)
local ORT = maketable(function(p, q) return p == 1 or q == 1 end)
local XORT = maketable(function(p, q) return p ~= q end)
local function bitop(t, a, b)
  local r, m = 0, 1
  for i = 1, 8 do
    local p, q = a % 16, b % 16
    r = r + t[p * 16 + q] * m
    a = (a - p) / 16
    b = (b - q) / 16
    m = m * 16
  end
  return r
end
local function band(a, b) return bitop(ANDT, a, b) end
local function bor(a, b) return bitop(ORT, a, b) end
local function bxor(a, b) return bitop(XORT, a, b) end
local function shl(a, n) return (a * 2 ^ n) % 4294967296 end
local function shr(a, n) return math.floor(a / 2 ^ n) end

local function xorshift(x)
  x = bxor(x, shl(x, 13))
  x = bxor(x, shr(x, 17))
  x = bxor(x, shl(x, 5))
  return x
end
local function pack(a, r, g, b)
  return bor(bor(shl(a, 24), shl(r, 16)), bor(shl(g, 8), b))
end
local function blend(c1, c2, alpha)
  local out = 0
  for s = 0, 16, 8 do
    local a = band(shr(c1, s), 255)
    local b = band(shr(c2, s), 255)
    local v = math.floor((a * alpha + b * (255 - alpha)) / 255)
    out = bor(out, shl(v, s))
  end
  return bor(out, band(c1, 4278190080))
end
local function digits(n)
  local s, c = 0, 0
  repeat
    s = s + n % 10
    n = math.floor(n / 10)
    c = c + 1
  until n == 0
  return s, c
end
local function gcd(a, b)
  while b ~= 0 do a, b = b, a % b end
  return a
end
local x = 2463534242
local acc, dsum, g, mix = 0, 0, 0, 0
local pixels = {}
for i = 1, 150000 do
  x = xorshift(x)
  local lo, hi = band(x, 65535), shr(x, 16)
  pixels[i] = pack(255, band(x, 255), band(shr(x, 8), 255), band(shr(x, 16), 255))
  acc = (acc + lo * 3 + hi) % 1000003
  local s, c = digits(band(x, 2147483647))
  dsum = dsum + s * c
  g = g + gcd(lo + 1, hi + 1)
end
for i = 2, 150000 do
  mix = bxor(mix, blend(pixels[i - 1], pixels[i], i % 256))
end
return acc, dsum, g, mix, x
