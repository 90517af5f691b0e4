-- Error handling: error values and levels, pcall/xpcall, runtime error
-- messages with variable names and lines, syntax errors reported by load,
-- and finally an error that nobody catches.
-- exit status: 1

-- error values of any type pass through pcall unchanged
print(pcall(error, "msg"))
print(pcall(error, "msg", 0))
print(pcall(error, 42))
print(pcall(error, nil))
print(pcall(error))
local obj = {code = 404}
local ok, e = pcall(error, obj)
print(ok, e == obj, e.code)
print(select("#", pcall(error)))

-- levels: 1 blames the caller of error, 2 the caller's caller, 0 no position
local function lvl(n) error("level " .. n, n) end
local function call_lvl(n) lvl(n) end
for n = 0, 3 do print(pcall(call_lvl, n)) end
local function check_arg(x)
  if type(x) ~= "number" then error("number expected, got " .. type(x), 2) end
  return x
end
print(pcall(function() return check_arg("s") end))
print(pcall(function() local v = check_arg({}); return v end))

-- runtime errors name the variable involved
local function try(f, ...) local r = table.pack(pcall(f, ...)); return table.unpack(r, 1, r.n) end
local up = nil
print(try(function() return undefined_global + 1 end))
print(try(function() local loc; return loc.field end))
print(try(function() return up() end))
print(try(function() local t = {}; return t.a.b end))
print(try(function() local t = {}; t:method() end))
print(try(function() string.nofunc() end))
print(try(function() return #5 end))
print(try(function() return -{} end))
print(try(function() return {} < {} end))
print(try(function() return 1 < "2" end))
print(try(function() return nil .. "x" end))
print(try(function() return 2^53 | 0, 1.5 // 0, (1.5) | 0 end))
print(try(function() return math.huge | 0 end))
print(try(function() local a = "x"; return a + 1 end))
print(try(function() return ("abc"):bad() end))
print(try(function() for i = 1, 10, 0 do end end))
print(try(function() for i = "a", 2 do end end))
print(try(function() for i = 1, {} do end end))
print(try(function() setmetatable(1, {}) end))
print(try(function() return ipairs() end))
print(try(function() return ("x"):rep(1e10) end))
print(try(function() return tostring(setmetatable({}, {__tostring = function() return 1 end})) end))
print(try(function() local t = setmetatable({}, {__index = function(t, k) return t[k] end}); return t.x end))

-- stack overflow is an ordinary, catchable error
local function deep(n) return 1 + deep(n + 1) end
local ok2, msg = pcall(deep, 1)
print(ok2, (msg:gsub("^(.-stack overflow).*$", "%1")))

-- xpcall with handlers: traceback, rewriting, and errors inside the handler
local function handler(m) return "handled: " .. tostring(m) end
print(xpcall(function() error("inner") end, handler))
print(xpcall(function() return "no error", 2 end, handler))
print(xpcall(function(a, b) return a + b end, handler, 3, 4))
print(xpcall(function() error({}) end, function(m) return type(m) end))
print(xpcall(function() local x = nil; return x.y end, debug.traceback))
print(xpcall(function() error("first") end, function(m) error("second") end))
print(pcall(xpcall))

-- nested pcall keeps the outer one running
local trace = {}
local r = {pcall(function()
  trace[#trace + 1] = "outer"
  local ok3, e3 = pcall(function() error("inner failure", 0) end)
  trace[#trace + 1] = tostring(ok3) .. ":" .. e3
  error("outer failure", 0)
end)}
print(r[1], r[2], table.concat(trace, " "))

-- assert
print(pcall(assert, false))
print(pcall(assert, nil, "custom message"))
print(type(select(2, pcall(assert, false, {1}))))
print(select("#", assert(1, 2, 3)), assert("v", "unused"))

-- syntax errors from load keep Lua's wording and line numbers
local bad_chunks = {
  "x = = 1",
  "local 1 = 2",
  "for i = 1 do end",
  "if x then",
  "f(",
  "x = \"abc",
  "x = [[abc",
  "x = [==[abc]=]",
  "x = \"\\q\"",
  "x = \"\\300\"",
  "x = \"\\u{110000000}\"",
  "x = \"\\xZZ\"",
  "x = 0x",
  "x = 3..4",
  "x = 1e",
  "goto nowhere",
  "break",
  "::a:: ::a::",
  "local x <const> = 1; x = 2",
  "local x <foo> = 1",
  "return return",
  "x = }",
  "a.b:c = 1",
  "(f)",
  "x = 'a' ..",
  "function f() return ... end",
  "\n\n\nlocal t = {1, 2\n3}",
  "do local a goto l; local b; ::l:: print(b) end",
  "x = 1 y = 2 z",
  "local function (a) end",
  "f(a,)",
  "t = {a = }",
  "x = #",
  "x = a %",
  "x = a * / b",
  "x = a ~= ~= b",
  "if (a) then",
  "while (x) do",
  "repeat x = 1",
  "x = 'unterminated\nnext'",
  "--[[ unfinished comment",
  "x = 1 -- fine\n y = = 2",
}
for i, src in ipairs(bad_chunks) do
  local f, err = load(src, "=chunk" .. i)
  print(i, f, err)
end
print(load("x = = 1"))
print(load("syntax error here", "@file.lua"))
print(type(load(function() return nil end)))
local pieces = {"return ", "1 +", " 2"}
local k = 0
print(load(function() k = k + 1; return pieces[k] end)())
print(pcall(load, "return 1", "c", "b"))
print(load("return 1", "c", "b"))
print(load("\27Lua", "bin", "t"))

-- uncaught: the interpreter prints the message and a traceback, exit status 1
local function level3() local t = setmetatable({}, {__index = function(_, k) error("no field " .. k) end}); return t.missing end
local function level2() return level3() .. "" end
local function level1() level2() end
level1()
print("not reached")
