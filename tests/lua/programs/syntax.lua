#!/usr/bin/env lua
-- Syntax corners: operators written without spaces, unary operators next
-- to binary ones, precedence, comments in odd places, parenthesised
-- conditions on one line, numerals, escapes and line endings.

local a, b, c = 17, 5, 3
local t = {10, 20, 30, x = 4}

-- operators glued to their operands
print(a%b, a*b, a/b, a//b, a^2, a-b, a+b, a..b, a<b, a>b, a<=b, a>=b, a==b, a~=b)
print(a&b, a|b, a~b, a<<2, a>>1, ~a, -a, #t, not a)
print(a%-b, a*-b, a/-b, a//-b, a^-1, a- -b, a+-b, a..-b, a<-b, a>-b, a<=-b, a>=-b, a==-b, a~=-b)
print(a%#t, a*#t, a~~b, a~-b, a~=~b, a&~b, a|~b, a<<-1, a>>-1, 2^~1, -#t, ~#t, -~a, ~-a)
print(a%(b), a*(b), a%t[1], a*t.x, a%t.x*c, t.x*t.x%c, (a)%(b)*(c), -t[2]%7)
print(5--3
)
print(5 - -3, 5- - -3, - - -5, not not nil, not -1, -2^2, (-2)^2, 2^-2)
print(1 .. 2, 1 ..2, "x"..1, "x".. .5, 3 .."", "a".."b".."c", t.x..t.x, #"x"..#"yy")

-- precedence and associativity
print(1 + 2 * 3 - 4 / 2, (1 + 2) * 3, 2 ^ 3 ^ 2, -3 ^ 2, 2 * 3 % 4, 2 + 3 % 4)
print(7 // 2 * 2, 7 % 3 ^ 2, 1 << 2 + 1, 1 | 2 ~ 3 & 4, 6 & 3 << 1, 1 .. 2 + 3)
print("a" .. 1 + 2 .. "b", 5 > 3 == true, not 1 == 2, not (1 == 2), 1 < 2 and 3 or 4)
print(nil or false and 1, false and nil or "x", 1 and nil, 2 == 2.0 and "eq", #"ab" + 1)
print(2 ^ -1 * 4, -2 ^ -2, 10 - 2 - 3, 100 // 10 // 3, 2 ^ 2 ^ 0, 1 .. 2 .. 3 == "123")
print(3 ~ 5 | 1, 3 | 5 ~ 1, 0xF0 >> 4 << 4, 1 << 63 >> 63, ~0 >> 62, 5 & 6 == 4)

-- comments everywhere a space may go
local v = --[[ inline ]] 1 + --[==[ another ]==] 2 -- trailing
--[[ multi
line ]] v = v * 10 --[[ after ]] ; -- with a semicolon
print(v --[[ inside a call ]], --[=[x]=] "y")
---[[ toggled-off block comment: both lines run
v = v + 1
--]]
print(v) --- triple dash
-- -= += *= /= %= ^= ..= != ? @ $ \ ! 0b101 "\*" inside a comment
print("-- not a comment", "--[[ nor this ]]", '/* c style */', "a --[[ b")

-- parenthesised conditions, one line each
local calls = {}
local function mark(s) calls[#calls + 1] = s; return s end
if (a) then mark("if1") end
if (a > b) then mark("if2") else mark("no") end
if (nil) then mark("no") elseif (a) then mark("elseif3") else mark("no") end
if (a) and (b) then mark("and4") end
if (a) or b then mark("or5") end
if not (a) then mark("no") else mark("not6") end
if (a) == 17 then mark("eq7") end
if (t).x then mark("field8") end
if (t)[1] then mark("index9") end
if (mark)("call10") then end
if ((a)) then mark("double11") end
if (a) then if (b) then mark("nested12") end end
if (a)
then mark("nextline13") end
if (a) -- a comment between
then mark("comment14") end
if a then mark("plain15") end if b then mark("twice16") end
local i = 0
while (i < 3) do i = i + 1 end
while (t)[i + 10] do end
repeat i = i - 1 until (i == 0)
for k = 1, (2) do mark("for" .. k) end
print(table.concat(calls, " "), i)
local function f1(x) if (x) then return "yes" end return "no" end
local function f2(x) if (x) then return else return "else" end end
local function f3(x) if (x) then return x elseif (x == false) then return "f" end end
local function f4(x) while (x) do return "w" end return "nw" end
local function f5() do return "do" end end
local function f6(x) repeat if x then return "r" end until true return "after" end
print(f1(1), f1(nil), f2(1), f2(nil), f3(2), f3(false), f3(nil), f4(1), f4(nil), f5(), f6(true), f6(false))

-- numerals
print(0xff, 0XFF, 0x0b1, 0x0B10, 0xb, 0Xb, 0xe, 0xep1, 0x1.8p1, 0x.Cp2, 0xA.8p0)
print(1e2, 1E+2, 1e-2, 3., .3, 0.3e1, 00012, 0012.5, 1e309, 18446744073709551616)
print(0x7fffffffffffffff + 1, 0xffffffffffffffffff, 9007199254740993, 2^63 == 0x8000000000000000 + 0.0)
print("0x0b" + 0, "0x1p1" + 0, " 0x10 " + 0, "1e1" + 0, "011" + 0, math.type("5" + 0), math.type("5.0" + 0))

-- escapes next to characters that mean something elsewhere
local esc = "\\* \\# \\- \\| \\+ \\^ \\= \\? \\@ \\$ \\! \\%"
print(esc, #esc)
print("\"\\\"", '\'\\\'', "\065\x42\u{43}", "a\z
      b", "tab:\t:", "nul:\0:" == "nul:" .. "\0" .. ":", [[\n\*\t stays]])
print(("a+b"):gsub("%+", "\\+"), ("x^y"):find("^", 1, true), ("1*2"):match("%d%*%d"))
print([==[
]] and ]=] inside]==], [[line1
line2]])

-- statements separated by semicolons, empty statements, labels
;;; local s1 = 1; local s2 = 2;; ::lbl:: ; print(s1 + s2);

-- method calls and call syntax without parentheses
local obj = {n = 0}
function obj:add(k) self.n = self.n + k; return self end
function obj.static(x) return x end
print(obj:add(1):add(2).n, obj.static"str", obj.static{1}[1], obj.static[[long]], type(obj.static{}))
local s = "abc"
print(s:upper(), ("x"):rep(2), #s:rep(3), s:sub(2):upper(), ("%d"):format(7))

-- varargs next to concatenation and length
local function va(...) return "x" .. ..., #{...}, ... .. "y", select("#", ...) end
print(va("1", "2"))
local function va2(...) return ...==nil, ...~=1, ...<=2, ...//1, ...%3, ...*2, -..., ...^2 end
local function va3(...) return #..., ... .. ..., (...):upper() end
print(va2(1))
print(va2(2.5))
print(va3("ab"))
print(pcall(va2, nil))

-- line endings: CR LF, LF CR, CR alone all count as one line each
for _, sep in ipairs({"\n", "\r\n", "\n\r", "\r"}) do
  local src = "local x = 1" .. sep .. "local y = 2" .. sep .. "return debug.getinfo(1, 'l').currentline, x + y" .. sep
  local line, sum = load(src)()
  local _, err = load("x = 1" .. sep .. sep .. "x = = 2")
  print(#sep, line, sum, err)
end
local _, err2 = load("x = [[a\r\nb\n\rc\rd]] y = = 1")
print(err2, load("return [[a\r\nb\n\rc\rd]]")() == "a\nb\nc\nd")
