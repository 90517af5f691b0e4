-- Strings: escapes, long strings, the basic library functions, patterns,
-- find/match/gmatch and gsub with strings, tables and functions.

-- escapes
local s = "a\tb\\c\"d\'e\
f\x41\65\u{48}\u{20AC}\z
       g\0h"
print(#s, s:byte(1, -1))
print("\a\b\f\n\r\v" == string.char(7, 8, 12, 10, 13, 11), '\'' .. "\"", "\\n")
print("\u{7FFFFFFF}" == "\xFD\xBF\xBF\xBF\xBF\xBF", #"\u{10FFFF}", "\z   x", "tab\9end")
print("x\
y", "\065\066\0671", "\x7e\x7E", "back\\slash", "percent %% sign", "q?!@$")

-- long strings and long comments
local ls = [[
first line kept without the leading newline
  ]] .. [==[second ]] still inside ]=] too]==]
print(ls)
--[[ a long comment
print("never")
]]
--[==[ another one with ]] inside
print("never either")
]==]
---[[ not a long comment: this line is a short comment
print("after comments") -- trailing comment with -- dashes and [[ brackets
--[=[]=] print("same line after an empty long comment")
local nested = [=[a [[b]] c]=]
print(nested, [[]] == "", #[[

]])

-- basic functions
local t = "Hello, World"
print(#t, t:len(), t:upper(), t:lower(), t:reverse(), t:sub(1, 5), t:sub(-5), t:sub(-100, 3))
print(t:sub(5, 2) == "", t:sub(0), t:sub(8, -1), t:byte(), t:byte(-1), t:byte(100))
print(("ab"):rep(3), ("ab"):rep(3, "-"), ("x"):rep(0), ("x"):rep(-1), string.char(72, 105))
print(("%d"):format(5), #string.rep("a", 1000, ","), ("abc"):byte(1, 3))

-- find with plain and pattern modes
print(t:find("o"), t:find("o", 6), t:find("o", -3), t:find("xyz"), t:find(""), t:find("", 100))
print(t:find("l+"), t:find(".", 1, true), ("a.b"):find(".", 1, true), ("a+b"):find("+", 1, true))
print(t:find("(%a+), (%a+)"), t:find("^World"), t:find("World$"), ("x$"):find("$", 1, true))

-- match and captures, including position captures and %b, %f
print(t:match("%a+"), t:match("(%a+)$"), t:match("()ll()"), ("key = value"):match("^(%w+)%s*=%s*(%w+)$"))
print(("f(a(b)c)d"):match("%b()"), ("THE (quick) fox"):find("%f[%a]%a+", 5), ("[[x]]"):match("%[(.-)%]"))
print(("  trim me  "):match("^%s*(.-)%s*$") .. "|", ("2024-01-31"):match("(%d+)-(%d+)-(%d+)"))
print(("aaa"):match("a-"), ("aaa"):match("a-$"), ("aaa"):match("a*"), ("aaa"):match("a?a?"), ("<>"):match("<(.*)>"))
print(("hello"):match("(h)(e)(l)(l)(o)"), ("abc"):match("((a)(b))"), ("x1y22z333"):match("%d%d%d"))
print(("%w"):match("%%w"), ("a.b-c"):match("[%.%-]"), ("A9_"):match("[%w_]+"), ("abc"):match("[^ab]"))
for _, bad in ipairs({"(", "%", "[a", "(()", "%b", "%f", "a)", "%g("}) do
  print(bad, pcall(string.match, "x", bad))
end
print(pcall(string.rep))
print(pcall(string.gsub, "a", "(", "x"))

-- gmatch
local words = {}
for w in ("one two  three\tfour"):gmatch("%S+") do words[#words + 1] = w end
print(#words, table.concat(words, "|"))
local kv = {}
for k, v in ("a=1, b=2, c=3"):gmatch("(%w+)=(%w+)") do kv[#kv + 1] = v .. k end
print(table.concat(kv, " "))
local pos = {}
for p in ("abcabc"):gmatch("()b") do pos[#pos + 1] = p end
print(table.concat(pos, ","))
local anch = {}
for m in ("aaa"):gmatch("^a") do anch[#anch + 1] = m end
print(#anch)

-- gsub: string replacements with %0..%9, table and function replacements
print(("hello world"):gsub("o", "0"))
print(("hello world"):gsub("o", "0", 1))
print(("hello world"):gsub("(%w+)", "<%1>"))
print(("hello world"):gsub("%w+", "%0 %0"))
print(("abc"):gsub("", "-"))
print(("hello"):gsub("l", "%%"))
print(("$name is $age"):gsub("%$(%w+)", {name = "Ann", age = 30}))
print(("$name is $unknown"):gsub("%$(%w+)", {name = "Bob"}))
print(("1 2 3"):gsub("%d", function(d) return d * 2 end))
print(("1 2 3"):gsub("%d", function(d) if d == "2" then return nil end return "x" end))
print(("a,b,,c"):gsub(",", ";", 2))
print(("abc"):gsub(".", {a = 1, b = false}))
print(pcall(string.gsub, "abc", ".", {a = {}}))
print(pcall(string.gsub, "abc", ".", {a = true}))
print(pcall(string.gsub, "abc", "(.)", "%2"))
print(("CamelCaseString"):gsub("(%u)", function(c) return "_" .. c:lower() end))
print(("  many   spaces  "):gsub("%s+", " "))
print(string.gsub("abc", "b*", "X"))

-- a word frequency count with deterministic output order
local text = [[the quick brown fox jumps over the lazy dog the fox]]
local freq = {}
for w in text:gmatch("%a+") do freq[w] = (freq[w] or 0) + 1 end
local keys = {}
for k in pairs(freq) do keys[#keys + 1] = k end
table.sort(keys, function(x, y)
  if freq[x] ~= freq[y] then return freq[x] > freq[y] end
  return x < y
end)
local parts = {}
for i = 1, #keys do parts[i] = keys[i] .. "=" .. freq[keys[i]] end
print(table.concat(parts, " "))

-- string comparison and coercion
print("a" < "b", "abc" < "abd", "Z" < "a", "" < "a", "a\0b" < "a\0c", "10" < "9")
print(tostring(nil), tostring(true), tostring(12), tostring("s"), #tostring(12.5))
print(string.len("\0\0\0"), ("x"):rep(3, "\0"):byte(1, -1))
