-- Closures and upvalues: counters, shared and per-iteration upvalues,
-- recursion through locals and upvalues changed after capture.

local function counter(start, step)
  local n = start
  return function() n = n + step; return n end,
         function() return n end,
         function(v) n = v end
end

local inc, get, set = counter(10, 3)
print(inc(), inc(), get())
set(100)
print(inc(), get())

-- two closures made by separate calls do not share state
local a1 = counter(0, 1)
local a2 = counter(0, 1)
a1(); a1(); a2()
print(a1(), a2())

-- every iteration of a numeric loop has its own control variable
local fns = {}
for i = 1, 5 do
  fns[i] = function() return i * i end
end
local out = {}
for i = 1, #fns do out[#out + 1] = fns[i]() end
print(table.concat(out, " "))

-- generic for: fresh locals too
local pairs_seen = {}
for k, v in ipairs({"a", "b", "c"}) do
  pairs_seen[k] = function() return k .. "=" .. v end
end
print(pairs_seen[1](), pairs_seen[2](), pairs_seen[3]())

-- while loop with a local declared inside: fresh per iteration
local ws = {}
local j = 0
while j < 3 do
  j = j + 1
  local captured = j * 10
  ws[j] = function() captured = captured + 1; return captured end
end
print(ws[1](), ws[1](), ws[2](), ws[3]())

-- an upvalue shared by several closures and changed by the outer function
local function shared()
  local x = 0
  local function add(d) x = x + d end
  local function read() return x end
  add(5)
  x = x * 2
  return add, read
end
local add, read = shared()
add(1)
print(read())

-- recursion through a local function and through an upvalue
local function fact(n)
  if n <= 1 then return 1 end
  return n * fact(n - 1)
end
print(fact(10), fact(20))

local fib
fib = function(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
print(fib(20))

-- mutual recursion through forward-declared locals
local is_even, is_odd
function is_even(n) if n == 0 then return true end return is_odd(n - 1) end
function is_odd(n) if n == 0 then return false end return is_even(n - 1) end
print(is_even(10), is_odd(7), is_even(7))

-- deep nesting: each level captures the one above
local function nest(a)
  return function(b)
    return function(c)
      return function(d) return a * 1000 + b * 100 + c * 10 + d end
    end
  end
end
print(nest(1)(2)(3)(4))

-- closures as objects
local function make_stack()
  local items, n = {}, 0
  local self = {}
  function self.push(v) n = n + 1; items[n] = v end
  function self.pop()
    if n == 0 then return nil end
    local v = items[n]
    items[n] = nil
    n = n - 1
    return v
  end
  function self.size() return n end
  return self
end
local st = make_stack()
for i = 1, 4 do st.push(i * 11) end
print(st.pop(), st.pop(), st.size())

-- memoisation with a closure over a cache table
local calls = 0
local function memo(f)
  local cache = {}
  return function(x)
    local v = cache[x]
    if v == nil then v = f(x); cache[x] = v end
    return v
  end
end
local slow_sq = memo(function(x) calls = calls + 1; return x * x end)
print(slow_sq(4), slow_sq(4), slow_sq(5), calls)

-- composition and partial application
local function compose(...)
  local fs = table.pack(...)
  return function(x)
    for i = fs.n, 1, -1 do x = fs[i](x) end
    return x
  end
end
local function partial(f, a) return function(...) return f(a, ...) end end
local h = compose(function(x) return x + 1 end, function(x) return x * 2 end)
print(h(5), partial(math.max, 7)(3, 9, 1), partial(string.rep, "ab")(3))

-- debug access to upvalue names and values (the names are deterministic)
local function probe()
  local u1, u2 = "first", 42
  return function() return u1, u2 end
end
local p = probe()
for i = 1, 2 do
  local name, value = debug.getupvalue(p, i)
  print(i, name, value)
end
debug.setupvalue(p, 2, 99)
print(p())
print(debug.upvalueid(inc, 1) == debug.upvalueid(get, 1),
      debug.upvalueid(inc, 1) == debug.upvalueid(a1, 1))

-- a function value is created once per evaluation of the expression
local made = {}
for i = 1, 3 do made[i] = function() end end
print(made[1] == made[2], made[1] == made[1])
