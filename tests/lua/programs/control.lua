-- Control flow: numeric for-loop edge cases, while/repeat scoping, goto
-- and labels, varargs and select, return in every position.

local function collect(...) return table.concat({...}, " ") end

-- numeric for: bounds, steps, float loops, no overflow at the integer ends
local r = {}
for i = 1, 3 do r[#r + 1] = i end
for i = 3, 1, -1 do r[#r + 1] = i end
for i = 1, 0 do r[#r + 1] = "never" end
for i = 0, 10, 4 do r[#r + 1] = i end
for i = -5, -12, -3 do r[#r + 1] = i end
print(collect(table.unpack(r)))
r = {}
for i = math.maxinteger - 2, math.maxinteger do r[#r + 1] = i end
for i = math.mininteger, math.mininteger + 2 do r[#r + 1] = i end
for i = math.mininteger + 2, math.mininteger, -1 do r[#r + 1] = i end
for i = 1, math.maxinteger, math.maxinteger do r[#r + 1] = i end
for i = math.maxinteger, math.mininteger, math.mininteger do r[#r + 1] = i end
print(collect(table.unpack(r)))
r = {}
for x = 0, 1, 0.25 do r[#r + 1] = x end
for x = 1, 2.5 do r[#r + 1] = x end
for x = 3, 1.5, -1 do r[#r + 1] = x end
for x = 1.0, 3 do r[#r + 1] = math.type(x) end
for x = 1, 3.7 do r[#r + 1] = math.type(x) end
for i = 1, math.huge do if i > 3 then break end r[#r + 1] = i end
for i = 1, -math.huge do r[#r + 1] = "never" end
for i = 0.1, 0.35, 0.1 do r[#r + 1] = string.format("%.1f", i) end
print(collect(table.unpack(r)))
r = {}
for i = 1, 3 do local i = i * 10; r[#r + 1] = i end
for i = 1, 3 do i = i + 100; r[#r + 1] = i end
print(collect(table.unpack(r)))
local n = 3
for i = 1, n do n = n + 1 end
print(n)

-- while and repeat; the repeat condition sees the body's locals
local w, out = 0, {}
while w < 10 do
  w = w + 1
  if w % 2 == 0 then goto continue end
  if w > 7 then break end
  out[#out + 1] = w
  ::continue::
end
print(collect(table.unpack(out)), w)
local k = 0
repeat local done = k >= 3; k = k + 1 until done
print(k)
repeat local x = 1 until true

-- goto: backward jumps, nested loop exit, labels at the end of blocks
local i = 1
::top::
if i <= 3 then i = i + 1; goto top end
print(i)
for a = 1, 3 do
  for b = 1, 3 do
    if a * b == 4 then print("found", a, b); goto out end
  end
end
::out::
do
  local acc = 0
  local j = 0
  ::again::
  j = j + 1
  acc = acc + j
  if j < 10 then goto again end
  print(acc)
end
do goto skip; print("skipped"); ::skip:: end
-- a closure made in a loop built from goto still gets its own variable
local fs = {}
do
  local c = 0
  ::loop::
  local v = c
  fs[#fs + 1] = function() return v end
  c = c + 1
  if c < 3 then goto loop end
end
print(fs[1](), fs[2](), fs[3]())

-- varargs and select
local function va(...)
  local a, b = ...
  return select("#", ...), a, b, select(2, ...)
end
print(va())
print(va(1))
print(va(1, nil, 3))
print(va(nil, nil))
print(select(-1, 1, 2, 3), select(-2, 1, 2, 3))
print(pcall(select, 0, 1))
print(pcall(select, -5, 1))
print(select(5, 1, 2))
local function pass(...) return ... end
print(pass(1, 2, 3), pass(4, 5))
print((pass(1, 2, 3)))
print(({pass(1, 2, 3)})[3], ({pass(1, 2, 3), 9})[3])
local function count(...) return select("#", ...) end
print(count(pass()), count(pass(), pass()), count(nil, pass()), count((pass())))
local function sum(...)
  local s = 0
  for idx = 1, select("#", ...) do s = s + (select(idx, ...)) end
  return s
end
print(sum(1, 2, 3, 4), sum())
local packed = table.pack(pass(nil, nil))
print(packed.n)
local function varfunc(...)
  local t = {...}
  local f = function(...) return #t, ... end
  return f(...)
end
print(varfunc("a", "b"))

-- return: bare, in the middle with do..end, multiple values, tail calls
local function r1() return end
local function r2(x) if x then return "early" end return "late" end
local function r3() do return 1, 2 end end
local function r4(x) while true do if x > 2 then return x end x = x + 1 end end
local function r5(n) if n == 0 then return "bottom" end return r5(n - 1) end
local function r6() return (r3()) end
local function r7() for _ = 1, 3 do return "loop" end end
local function r8(...) return ... end
-- a return value may sit on the lines after the return keyword
local function r9(x)
  if x then return
    x * 2
  end
  return
    "next line",
    "and another"
end
local function r10() return
end
print(r9(4), r9(false))
print(select("#", r10()))
print(r1(), select("#", r1()), r2(true), r2(false), r3())
print(r4(0), r5(100000), r6(), r7(), r8(), select("#", r8()))

-- conditions: only nil and false are false
local conds = {}
for _, v in ipairs({0, "", false, {}}) do conds[#conds + 1] = v and "T" or "F" end
print(table.concat(conds), nil and 1, false or nil, 1 and 2, nil or false, 0 or 1)
if (1) then print("paren condition") end
if (nil) then print("no") elseif (0) then print("elseif with parens") end
while (false) do print("never") end
local cnt = 3
while (cnt > 0) do cnt = cnt - 1 end
print(cnt)
