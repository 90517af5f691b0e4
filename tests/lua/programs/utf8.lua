-- The utf8 library: char, charpattern, codes, codepoint, len, offset,
-- strict and lax decoding, and invalid input.

local s = "h\u{E9}llo \u{4E16}\u{754C} \u{1F600}!"
print(#s, utf8.len(s), utf8.char(72, 233, 0x4E16, 0x1F600) == "H\u{E9}\u{4E16}\u{1F600}")
print(utf8.char(), utf8.char(0x7FFFFFFF) == "\u{7FFFFFFF}", #utf8.char(0x7FF), #utf8.char(0x800), #utf8.char(0x10000))
print(utf8.charpattern, ("\u{E9}x"):match(utf8.charpattern) == "\u{E9}")

-- iterate over code points with their byte positions
local parts = {}
for p, c in utf8.codes(s) do parts[#parts + 1] = p .. ":" .. c end
print(table.concat(parts, " "))
local chars = {}
for ch in s:gmatch(utf8.charpattern) do chars[#chars + 1] = ch end
print(#chars, chars[2] == "\u{E9}", chars[#chars - 1] == "\u{1F600}")

-- codepoint ranges and negative positions
print(utf8.codepoint(s, 1), utf8.codepoint(s, 2), utf8.codepoint(s, -1))
print(utf8.codepoint(s, 1, 4))
print(select("#", utf8.codepoint(s, 1, -1)), select("#", utf8.codepoint(s, 3, 2)))
print(pcall(utf8.codepoint, s, 3))
print(pcall(utf8.codepoint, s, 100))

-- len with ranges and the position of the first invalid byte
print(utf8.len(""), utf8.len("abc", 4), utf8.len("abc", 2), utf8.len(s, 1, 3), utf8.len(s, -2))
-- each invalid case returns nil and the byte position where decoding failed
for _, bad in ipairs({"ab\xFFcd", "\xC3", "\xC3\xA9\xA9", "ok\xE4\xB8", "\xC0\x80",
                      "\xED\xA0\x80", "\u{7FFFFFFF}", "\xF4\x90\x80\x80", "\x80"}) do
  local n, at = utf8.len(bad)
  print(#bad, n, at, utf8.len(bad, 1, -1, true))
end
print(pcall(utf8.len, "abc", 5))

-- offset: n-th character from a position, forwards and backwards
print(utf8.offset(s, 1), utf8.offset(s, 2), utf8.offset(s, 3), utf8.offset(s, -1), utf8.offset(s, -2))
print(utf8.offset(s, 0, 3), utf8.offset(s, 0, 8), utf8.offset(s, 100), utf8.offset(s, #s + 1 - #s, 1))
print(utf8.offset("abc", 4), utf8.offset("abc", 5), utf8.offset("abc", -3), utf8.offset("abc", -4))
print(pcall(utf8.offset, s, 1, 3))

-- codes on invalid strings raises an error naming the problem
print(pcall(function() for _ in utf8.codes("a\xFFb") do end end))
print(pcall(function() for _ in utf8.codes("\xED\xA0\x80") do end end))
local lax = {}
for _, c in utf8.codes("\xED\xA0\x80", true) do lax[#lax + 1] = c end
print(table.concat(lax, ","))
print(pcall(utf8.char, -1))
print(pcall(utf8.char, 0x80000000))

-- a small reverser and case-insensitive compare over UTF-8 text
local function ureverse(str)
  local cps = {utf8.codepoint(str, 1, -1)}
  local out = {}
  for i = #cps, 1, -1 do out[#out + 1] = cps[i] end
  return utf8.char(table.unpack(out))
end
print(ureverse("abc\u{E9}\u{4E16}") == "\u{4E16}\u{E9}cba", ureverse(""))

-- substring by characters rather than bytes
local function usub(str, i, j)
  local from = utf8.offset(str, i)
  local to = utf8.offset(str, j + 1)
  return str:sub(from, (to or #str + 1) - 1)
end
print(usub(s, 2, 4) == "\u{E9}ll", usub(s, 7, 8) == "\u{4E16}\u{754C}", #usub(s, 10, 11))

-- escapes in source and the resulting bytes
local bytes = {("\u{0}\u{7F}\u{80}\u{7FF}\u{FFFF}"):byte(1, -1)}
print(table.concat(bytes, " "))
print(string.format("%q", "\u{E9}\u{1F600}"))
local hexs = {}
for _, c in utf8.codes("A\u{3A9}\u{1D11E}") do hexs[#hexs + 1] = string.format("U+%04X", c) end
print(table.concat(hexs, " "))

-- count characters per byte length
local widths = {0, 0, 0, 0}
for _, c in utf8.codes(s) do
  local w = c < 0x80 and 1 or c < 0x800 and 2 or c < 0x10000 and 3 or 4
  widths[w] = widths[w] + 1
end
print(table.concat(widths, " "))
