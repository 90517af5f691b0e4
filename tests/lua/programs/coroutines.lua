-- Coroutines: generators, status, passing values both ways, yields across
-- pcall and metamethods, errors inside coroutines, close.

local function gen(n)
  return coroutine.wrap(function()
    for i = 1, n do coroutine.yield(i, i * i) end
    return "done"
  end)
end
local g = gen(3)
print(g()); print(g()); print(g()); print(g())
print(pcall(g))

-- values in and out of resume/yield
local co = coroutine.create(function(a, b)
  print("start", a, b)
  local c = coroutine.yield(a + b)
  print("got", c)
  local d, e = coroutine.yield(c * 2)
  print("got", d, e)
  return d + e, "end"
end)
print(coroutine.status(co))
print(coroutine.resume(co, 1, 2))
print(coroutine.status(co))
print(coroutine.resume(co, 10))
print(coroutine.resume(co, 3, 4))
print(coroutine.status(co))
print(coroutine.resume(co))

-- running / isyieldable / status from inside
local main, ismain = coroutine.running()
print(type(main), ismain, coroutine.isyieldable())
local inner
inner = coroutine.create(function()
  local me, im = coroutine.running()
  print(me == inner, im, coroutine.isyieldable(), coroutine.status(inner))
  local other = coroutine.create(function() return coroutine.status(inner) end)
  print(coroutine.resume(other))
end)
coroutine.resume(inner)

-- yield across pcall: the protected call stays in place while suspended
local pc = coroutine.create(function()
  local ok, err = pcall(function()
    local x = coroutine.yield("inside pcall")
    if x == "boom" then error("raised after resume") end
    return x
  end)
  coroutine.yield(ok, err)
  local ok2, v = pcall(coroutine.yield, "yield as the called function")
  return "finished", ok2, v
end)
print(coroutine.resume(pc))
print(coroutine.resume(pc, "boom"))
print(coroutine.resume(pc))
print(coroutine.resume(pc, "last"))
print(coroutine.status(pc))

-- yield from inside metamethods and iterators
local lazy = setmetatable({}, {
  __index = function(_, k) return coroutine.yield("need " .. k) end,
  __add = function(a, b) return coroutine.yield("adding") end,
})
local mco = coroutine.wrap(function()
  local v = lazy.width
  local s = lazy + 1
  return v, s
end)
print(mco())
print(mco(640))
print(mco(7))

local function chars(s)
  return coroutine.wrap(function()
    for i = 1, #s do coroutine.yield(i, s:sub(i, i)) end
  end)
end
local acc = {}
for i, c in chars("lua") do acc[#acc + 1] = i .. c end
print(table.concat(acc, ","))

-- errors inside a coroutine: resume returns false, wrap propagates
local bad = coroutine.create(function() local t = nil; return t.x end)
print(coroutine.resume(bad))
print(coroutine.status(bad))
print(coroutine.resume(bad))
local wbad = coroutine.wrap(function() error({code = 7}) end)
local ok, e = pcall(wbad)
print(ok, type(e), e.code)
local wbad2 = coroutine.wrap(function() error("plain message") end)
print(pcall(wbad2))

-- resuming the running coroutine, or a normal one
print(coroutine.resume(coroutine.running()))
local outer = coroutine.create(function()
  local in2 = coroutine.create(function(o) return coroutine.resume(o) end)
  return coroutine.resume(in2, coroutine.running())
end)
print(coroutine.resume(outer))

-- close: suspended coroutines run their pending to-be-closed variables
local log = {}
local function closer(name)
  return setmetatable({}, {__close = function(_, err) log[#log + 1] = name .. ":" .. tostring(err) end})
end
local cc = coroutine.create(function()
  local a <close> = closer("a")
  local b <close> = closer("b")
  coroutine.yield(1)
  log[#log + 1] = "not reached"
end)
print(coroutine.resume(cc))
print(coroutine.close(cc), coroutine.status(cc))
print(table.concat(log, " "))
print(coroutine.close(coroutine.create(print)))
local dead = coroutine.create(function() error("x", 0) end)
coroutine.resume(dead)
print(coroutine.close(dead))
local cerr = coroutine.create(function()
  local c <close> = setmetatable({}, {__close = function() error("in close", 0) end})
  coroutine.yield()
end)
coroutine.resume(cerr)
print(coroutine.close(cerr))
print(pcall(coroutine.close, coroutine.running()))

-- a producer/consumer pipeline
local function producer()
  return coroutine.create(function()
    for _, w in ipairs({"alpha", "beta", "gamma", "delta"}) do coroutine.yield(w) end
  end)
end
local function filter(src)
  return coroutine.create(function()
    while true do
      local ok2, w = coroutine.resume(src)
      if not w then return end
      if #w > 4 then coroutine.yield(w:upper()) end
    end
  end)
end
local f = filter(producer())
while true do
  local _, w = coroutine.resume(f)
  if not w then break end
  print(w)
end
print(coroutine.status(f))

-- many coroutines alive at once, resumed round robin
local tasks = {}
for id = 1, 4 do
  tasks[id] = coroutine.create(function()
    local s = 0
    for step = 1, id do s = s + step; coroutine.yield() end
    return s
  end)
end
local results, live = {}, #tasks
while live > 0 do
  for id, t in ipairs(tasks) do
    if coroutine.status(t) == "suspended" then
      local ok3, r = coroutine.resume(t)
      if coroutine.status(t) == "dead" then results[id] = r; live = live - 1 end
    end
  end
end
print(table.concat(results, " "))
print(select("#", coroutine.wrap(function(...) return ... end)(nil, nil, nil)))
