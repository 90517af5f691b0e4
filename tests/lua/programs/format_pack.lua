-- string.format with every conversion and flag, %q round trips, and
-- string.pack / unpack / packsize over the format options.

local f = string.format
print(f("%c%c%c", 76, 117, 97), f("[%5c]", 65), f("[%-3c]", 66))
print(f("%d %i %5d %-5d| %05d %+d % d %.3d", 1, 2, 3, 4, 5, 6, 7, 8))
print(f("%d %d", math.maxinteger, math.mininteger), f("%d", -0))
print(f("%u %o %x %X %#x %#o %08X", 42, 8, 255, 255, 255, 8, 0xBEEF))
print(f("%x", -1), f("%X", math.mininteger))
print(f("%f %.0f %.2f %10.3f %-10.1f| %+.1f", 1.5, 2.5, 3.14159, -2.5, 9.99, 1))
print(pcall(f, "%F", 1.25))
print(f("%e %.2e %E %.0e", 12345.6789, 0.000123, 1e100, 5e-5))
print(f("%g %g %g %g %g %G %.3g %#g", 100000, 1000000, 1e-4, 1e-5, 0.1, 1e-10, math.pi, 1.0))
print(f("%a %A %.1a", 1.0, 255.5, 0.1))
print(f("%f %f %e", 1/0, -1/0, 1/0), f("%.3f", 2^63), f("%.14g", 0.1))
print(f("%s %s %s %s %s", "str", 12, 1.5, true, nil))
print(f("[%10s][%-10s][%.2s][%5.1s]", "right", "left", "truncate", "xyz"))
print(f("%s", setmetatable({}, {__tostring = function() return "custom" end})))
print(f("%%"), f("no conversions"), f("100%% sure"))
print(pcall(f, "%5%"))
print(pcall(f, "%.20s|", "a\0b"))
print(#f("%s", "a\0b"), f("%s|", "a\0b") == "a\0b|")
print(f("%10.4f|%-+8.2f|%08.3f", math.pi, math.pi, -math.pi))
print(f("%3d|%-3d|%03d", 12345, 1, -1))

-- %q produces text that reads back as the same value
local values = {"plain", "quote\" and \\ backslash", "nl\nret\rzero\0tab\t", "\1\2\127\200\255",
                0, -0, 42, -7, math.maxinteger, math.mininteger, 1.5, -0.0, 1/3, 1e300, 2^63,
                1/0, -1/0, true, false}
for i, v in ipairs(values) do
  local text = f("%q", v)
  local back = load("return " .. text)()
  local same = back == v and math.type(back) == math.type(v)
  print(i, text, same)
end
print(f("%q", 0/0), pcall(f, "%q", {}))
print(pcall(f, "%10q", "x"))

-- argument errors
print(pcall(f, "%d", "x"))
print(pcall(f, "%d", 1.5))
print(pcall(f, "%y", 1))
print(pcall(f, "%d"))
print(pcall(f, "%123d", 1))
print(pcall(f, "%-#0+ 5d", 1))
print(pcall(f, "%c", "a"))
print(f("%d", "10"), f("%x", "0x10"), f("%.1f", "2.25"), f("%s", 1e15), f("%5s", 1))

-- pack / unpack
local sp, su, sz = string.pack, string.unpack, string.packsize
local function hex(s) return (s:gsub(".", function(c) return f("%02x", c:byte()) end)) end
print(hex(sp("<i4", 1)), hex(sp(">i4", 1)), hex(sp("<i2", -2)), hex(sp("<I3", 0x123456)))
print(hex(sp("b B h H", -1, 255, -2, 65535)))
print(hex(sp("<j", -1)), hex(sp(">J", 1)), hex(sp("<i8", math.mininteger)))
print(hex(sp("<d", 1.5)), hex(sp(">f", -2)), hex(sp("<n", 0.1)))
print(hex(sp("z", "abc")), hex(sp("s1", "hi")), hex(sp("<s2", "hey")), hex(sp("c5", "ab")))
print(hex(sp("!4 b i4", 1, 2)), hex(sp("<b x h", 1, 2)), hex(sp("<!8 b Xi8 b", 1, 2)))
print(sz("i4"), sz("b h i j"), sz("!8 b d"), sz("c10"), sz("<i16"), pcall(sz, "s"))
print(su("<i4", sp("<i4", -123456)), su(">I2", "\1\2"), su("<i2", "\255\255"))
print(su("z z", sp("z z", "one", "two")))
print(su("<s1 s4", sp("<s1 s4", "short", "longer string")))
print(su("<d f", sp("<d f", math.pi, 0.5)))
print(su("<i3", "\0\0\128"), su("<I3", "\0\0\128"), su(">i16", sp(">i16", -3)))
print(su("B", "abc", 2), su("B", "abc", -1), pcall(su, "i4", "ab"))
print(pcall(sp, "i1", 200))
print(pcall(sp, "I1", -1))
print(pcall(sp, "i17", 1))
print(pcall(sp, "z", "a\0b"))
print(pcall(sp, "c2", "abc"))
print(pcall(su, "z", "abc"))
local packed = sp("<i4 d s2 z B", 7, -1.25, "data", "zero", 9)
print(#packed, su("<i4 d s2 z B", packed))
-- read a sequence of records back with the position result
local recs = sp("<I2 I2 I2", 10, 20, 30) .. sp("<I2", 40)
local p, got = 1, {}
while p <= #recs do
  local v
  v, p = su("<I2", recs, p)
  got[#got + 1] = v
end
print(table.concat(got, " "), p)
