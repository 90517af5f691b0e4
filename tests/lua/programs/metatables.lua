-- Metatables: every metamethod, __index/__newindex chains, __close,
-- weak tables and finalisers (without relying on finaliser order).

local V = {}
V.__index = V
V.__name = "Vec"
local function vec(x, y) return setmetatable({x = x, y = y}, V) end
V.__add = function(a, b) return vec(a.x + b.x, a.y + b.y) end
V.__sub = function(a, b) return vec(a.x - b.x, a.y - b.y) end
V.__mul = function(a, b)
  if type(a) == "number" then return vec(a * b.x, a * b.y) end
  if type(b) == "number" then return vec(a.x * b, a.y * b) end
  return a.x * b.x + a.y * b.y
end
V.__div = function(a, k) return vec(a.x / k, a.y / k) end
V.__mod = function(a, k) return vec(a.x % k, a.y % k) end
V.__pow = function(a, k) return vec(a.x ^ k, a.y ^ k) end
V.__unm = function(a) return vec(-a.x, -a.y) end
V.__idiv = function(a, k) return vec(a.x // k, a.y // k) end
V.__band = function(a, b) return vec(a.x & b.x, a.y & b.y) end
V.__bor = function(a, b) return vec(a.x | b.x, a.y | b.y) end
V.__bxor = function(a, b) return vec(a.x ~ b.x, a.y ~ b.y) end
V.__shl = function(a, n) return vec(a.x << n, a.y << n) end
V.__shr = function(a, n) return vec(a.x >> n, a.y >> n) end
V.__bnot = function(a) return vec(~a.x, ~a.y) end
V.__eq = function(a, b) return a.x == b.x and a.y == b.y end
V.__lt = function(a, b) return a.x * a.x + a.y * a.y < b.x * b.x + b.y * b.y end
V.__le = function(a, b) return a.x * a.x + a.y * a.y <= b.x * b.x + b.y * b.y end
V.__len = function(a) return 2 end
V.__concat = function(a, b)
  local function s(v) return type(v) == "table" and tostring(v) or v end
  return s(a) .. s(b)
end
V.__call = function(self, k) return self[k] end
V.__tostring = function(a) return "(" .. a.x .. "," .. a.y .. ")" end
function V:len2() return self * self end

local a, b = vec(3, 4), vec(12, 5)
print(tostring(a + b), tostring(a - b), a * b, tostring(2 * a), tostring(a * 3))
print(tostring(b / 2), tostring(b % 5), tostring(a ^ 2), tostring(-a), tostring(b // 5))
print(tostring(a & b), tostring(a | b), tostring(a ~ b), tostring(a << 2), tostring(b >> 1), tostring(~a))
print(a == vec(3, 4), a ~= b, a < b, b <= a, a <= vec(4, 3), a > b, #a)
print(a .. "!", "v=" .. b, a .. b, a("x"), a:len2())
print(rawequal(a, vec(3, 4)), rawlen(a), rawget(a, "len2"))

-- __index chains through tables and functions
local Base = {kind = "base", hello = function(self) return "hello from " .. self.kind end}
local Mid = setmetatable({kind = "mid"}, {__index = Base})
local lookups = 0
local Leaf = setmetatable({}, {__index = function(t, k)
  lookups = lookups + 1
  return Mid[k]
end})
local obj = setmetatable({}, {__index = Leaf})
print(obj.kind, obj:hello(), obj.missing, lookups)
Base.extra = 5
print(obj.extra, rawget(obj, "extra"), lookups)

-- __newindex to a table and to a function; rawset bypasses
local store = {}
local proxy = setmetatable({}, {__newindex = store, __index = store})
proxy.a = 1
print(rawget(proxy, "a"), store.a, proxy.a)
local log = {}
local watched = setmetatable({}, {__newindex = function(t, k, v)
  log[#log + 1] = k .. "=" .. tostring(v)
  rawset(t, k, v)
end})
watched.x = 1; watched.x = 2; watched.y = 3
print(table.concat(log, " "), watched.x)

-- read-only table with a protected metatable
local ro = setmetatable({}, {
  __index = {pi = 3},
  __newindex = function(_, k) error("read-only field " .. k, 2) end,
  __metatable = "locked",
})
print(ro.pi, pcall(function() ro.pi = 4 end))
print(getmetatable(ro), pcall(setmetatable, ro, {}))
print(getmetatable("abc").__index == string, ("x"):rep(3))

-- __eq is not consulted for different types or raw-equal objects
local eqc = 0
local E = {__eq = function() eqc = eqc + 1; return true end}
local e1, e2 = setmetatable({}, E), setmetatable({}, E)
print(e1 == e2, e1 == e1, e1 == 1, eqc)

-- __lt used for > too; __le does not fall back to __lt in 5.4
local L = {__lt = function(x, y) return x.v < y.v end}
local l1, l2 = setmetatable({v = 1}, L), setmetatable({v = 2}, L)
print(l1 < l2, l1 > l2, pcall(function() return l1 <= l2 end))

-- __pairs, __len used by the # operator and ipairs respecting __index
local P = setmetatable({}, {__pairs = function(t)
  local i = 0
  return function() i = i + 1; if i <= 3 then return i, i * 10 end end, t, nil
end})
local seen = {}
for k, v in pairs(P) do seen[#seen + 1] = k .. ":" .. v end
print(table.concat(seen, " "))
local virtual = setmetatable({}, {__index = function(_, i) if i <= 4 then return i * i end end})
seen = {}
for i, v in ipairs(virtual) do seen[#seen + 1] = i .. "=" .. v end
print(table.concat(seen, " "))

-- __tostring and __name in messages
local named = setmetatable({}, {__name = "MyType"})
print((tostring(named):gsub("0x%x+", "ADDR"):gsub(": [%x]+$", ": ADDR")))
print(pcall(function() return named + 1 end))
print(select(2, pcall(function() return #named < 1, named < named end)))

-- __close: order, error argument, and errors raised by a closing value
local out = {}
local function res(name)
  return setmetatable({}, {__close = function(_, err) out[#out + 1] = name .. (err and ("!" .. tostring(err)) or "") end})
end
do
  local r1 <close> = res("r1")
  local r2 <close> = res("r2")
  local nothing <close> = nil
  out[#out + 1] = "body"
end
print(table.concat(out, " "))
out = {}
print(pcall(function()
  local r1 <close> = res("r1")
  error("fail", 0)
end), table.concat(out, " "))
print(pcall(function() local bad <close> = {} end))
local function early()
  local r <close> = res("ret")
  return "value"
end
out = {}
print(early(), table.concat(out, " "))

-- weak tables: collected entries vanish, strong ones stay
local weak = setmetatable({}, {__mode = "k"})
local keep = {}
weak[keep] = "kept"
weak[{}] = "garbage"
collectgarbage(); collectgarbage()
local n = 0
for k, v in pairs(weak) do n = n + 1 end
print(n, weak[keep])
local wv = setmetatable({}, {__mode = "v"})
wv[1] = {}; wv[2] = keep; wv[3] = "strings are values"
collectgarbage()
print(wv[1], wv[2] == keep, wv[3])

-- finalisers: all of them run, whatever the order
local total = 0
for i = 1, 5 do setmetatable({}, {__gc = function() total = total + i end}) end
collectgarbage(); collectgarbage()
print(total)
