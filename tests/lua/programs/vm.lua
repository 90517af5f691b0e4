-- Instruction-level corners: comparisons against constants of every kind,
-- metamethods reached from immediate and constant operands, the names the
-- debugger gives to called functions, huge constructors and constant
-- tables, line and call hooks.

-- comparisons with small integers, floats, strings and booleans, both sides
local function cmp(x)
  return x == 5, x ~= 5, x < 5, x <= 5, x > 5, x >= 5, 5 < x, 5 <= x, 5 > x, 5 >= x,
         x == 2.5, x < 2.5, x >= 2.5, x == "5", x == true, x == nil, x < 1000000, x > -1000000
end
for _, x in ipairs({4, 5, 6, 5.0, 2.5, -7.5, math.maxinteger, math.mininteger}) do
  local r = {cmp(x)}
  for i = 1, #r do r[i] = r[i] and "T" or "f" end
  print(x, table.concat(r))
end
local sx = "5"
print(sx == "5", sx ~= "5", sx < "6", sx > "40", "5" == 5, nil == false)

-- metamethods reached from instructions with immediate or constant operands
local names = {}
local M = {}
for _, ev in ipairs({"add", "sub", "mul", "div", "mod", "pow", "unm", "idiv", "band", "bor",
                     "bxor", "shl", "shr", "bnot", "concat", "len", "eq", "lt", "le",
                     "index", "newindex", "call", "close"}) do
  M["__" .. ev] = function(p, q)
    local info = debug.getinfo(1, "n")
    names[#names + 1] = info.namewhat .. ":" .. tostring(info.name)
    if ev == "eq" or ev == "lt" or ev == "le" then return true end
    if ev == "index" or ev == "call" or ev == "len" then return 1 end
    return ev
  end
end
local o = setmetatable({}, M)
local o2 = setmetatable({}, M)
local res = {o + 1, 1 + o, o + 1.5, o + o, o - 2, 2 - o, o * 3, o / 4, o % 5, o ^ 2, -o,
             o // 2, o & 1, 1 & o, o | 1, o ~ 1, o << 1, 1 << o, o >> 1, 1 >> o, ~o,
             o .. "s", "s" .. o, #o, o == o2, o < o2, o <= o2, o < 1, 1 < o, o >= 2, o.key, o(1)}
o.key = 1
do local cl <close> = o end
print(#res, table.concat(names, " "))
print(res[1], res[2], res[12], res[17], res[18], res[22], res[23], res[24], res[25], res[28], res[31])

-- function names as seen by the callee
local function whoami() local i = debug.getinfo(2, "n"); return tostring(i.namewhat) .. ":" .. tostring(i.name) end
-- (the callers below avoid tail calls, which keep no name)
local function callee() local r = whoami(); return r end
local holder = {field = function() local r = whoami(); return r end}
function holder:meth() local r = whoami(); return r end
gfunc = function() local r = whoami(); return r end
local up = callee
local seen = {callee(), holder.field(), holder:meth(), gfunc(), (function() local r = up(); return r end)()}
for _, f in pairs({single = callee}) do seen[#seen + 1] = f() end
seen[#seen + 1] = (function() return whoami() end)()
print(table.concat(seen, " "))
local iter_name
for _ in function() iter_name = debug.getinfo(1, "n").name; return nil end do end
print(iter_name, debug.getinfo(print).what, debug.getinfo(1, "S").what, debug.getinfo(callee, "S").linedefined)

-- locals and their names through the debug library
local function locals(p1, p2)
  local l1 = p1 + p2
  local names2 = {}
  local idx = 1
  while true do
    local name, value = debug.getlocal(1, idx)
    if not name then break end
    if type(value) ~= "table" then names2[#names2 + 1] = name .. "=" .. tostring(value) end
    idx = idx + 1
  end
  return table.concat(names2, " ")
end
print(locals(2, 3))
print(debug.getlocal(locals, 1), debug.getlocal(locals, 2), debug.getlocal(locals, 3))
local function vararg_info(...) return debug.getinfo(1, "u") end
local inf = vararg_info()
print(inf.nparams, inf.isvararg, inf.nups, debug.getinfo(locals, "u").nparams)

-- a constructor bigger than one flush and a function with more constants
-- than an instruction operand can address
local parts = {}
for i = 1, 1000 do parts[i] = tostring(i) end
local big = load("return {" .. table.concat(parts, ",") .. ", 'last', n = 1}")()
print(#big, big[1], big[1000], big[1001], big.n)
local lits = {}
for i = 1, 140000 do lits[i] = string.format("%d.5", i) end
local huge_src = "local t = {" .. table.concat(lits, ",") .. "} return t[1], t[131071], t[131072], t[140000], #t"
print(load(huge_src)())
local many = {}
for i = 1, 300 do many[i] = "local v" .. i .. " = " .. i end
print(pcall(load, table.concat(many, "\n")))
local sums = {}
for i = 1, 150 do sums[i] = "a" .. i end
local src = "local " .. table.concat(sums, ", ") .. " = " .. table.concat(parts, ",", 1, 150) ..
            " return a1 + a75 + a150"
print(load(src)())

-- line and call hooks over a small function
local events = {}
local function traced(n)
  local s = 0
  for i = 1, n do
    s = s + i
  end
  return s
end
local base = debug.getinfo(traced, "S").linedefined
debug.sethook(function(ev, line)
  local info = debug.getinfo(2, "S")
  if info.source == debug.getinfo(1, "S").source and info.linedefined == base then
    events[#events + 1] = ev == "line" and ("L" .. (line - base)) or ev
  end
end, "crl")
traced(2)
debug.sethook()
print(table.concat(events, " "))
local tail = {}
local function leaf() return 1 end
local function tailer() return leaf() end
local which = {[debug.getinfo(leaf, "S").linedefined] = "leaf",
               [debug.getinfo(tailer, "S").linedefined] = "tailer"}
debug.sethook(function(ev)
  local info = debug.getinfo(2, "nS")
  local fname = info.source == debug.getinfo(1, "S").source and which[info.linedefined]
  if fname then tail[#tail + 1] = ev .. ":" .. fname .. ":" .. tostring(info.name) end
end, "cr")
tailer()
debug.sethook()
print(table.concat(tail, " "))
print(debug.gethook())

-- upvalues closed by a loop exit, then the loop is re-entered
local closures = {}
for round = 1, 2 do
  for i = 1, 10 do
    local cap = i * round
    closures[#closures + 1] = function() return cap end
    if i == 2 then break end
  end
end
local got = {}
for i, f in ipairs(closures) do got[i] = f() end
print(table.concat(got, " "))
