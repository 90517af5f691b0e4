-- Key names for the keyboard scancodes the kernel reports (USB HID usage
-- numbers), the modifier groups, and the characters a US layout gives for
-- printable keys with and without shift.

local keys = {}

local names = {}
keys.names = names

-- letters a..z are 4..29
for i = 0, 25 do
	names[4 + i] = string.char(97 + i)
end

-- digits: 1..9 are 30..38, 0 is 39
for i = 1, 9 do
	names[29 + i] = tostring(i)
end
names[39] = "0"

local named = {
	[40] = "enter", [41] = "escape", [42] = "backspace", [43] = "tab", [44] = "space",
	[45] = "-", [46] = "=", [47] = "[", [48] = "]", [49] = "\\", [50] = "#",
	[51] = ";", [52] = "'", [53] = "`", [54] = ",", [55] = ".", [56] = "/",
	[57] = "capslock",
	[70] = "printscreen", [71] = "scrolllock", [72] = "pause", [73] = "insert",
	[74] = "home", [75] = "pageup", [76] = "delete", [77] = "end", [78] = "pagedown",
	[79] = "right", [80] = "left", [81] = "down", [82] = "up",
	[83] = "numlock", [84] = "kp_/", [85] = "kp_*", [86] = "kp_-", [87] = "kp_+",
	[88] = "kp_enter", [98] = "kp_0", [99] = "kp_.", [100] = "<", [101] = "menu",
	[224] = "lctrl", [225] = "lshift", [226] = "lalt", [227] = "lgui",
	[228] = "rctrl", [229] = "rshift", [230] = "ralt", [231] = "rgui",
}
for code, name in pairs(named) do
	names[code] = name
end

-- f1..f12 are 58..69, f13..f24 are 104..115
for i = 1, 12 do
	names[57 + i] = "f" .. i
	names[103 + i] = "f" .. (12 + i)
end

-- keypad digits 1..9 are 89..97
for i = 1, 9 do
	names[88 + i] = "kp_" .. i
end

-- name -> scancode
local codes = {}
keys.codes = codes
for code, name in pairs(names) do
	codes[name] = code
end

-- names that stand for either of two keys
keys.groups = {
	ctrl = {"lctrl", "rctrl"},
	shift = {"lshift", "rshift"},
	alt = {"lalt", "ralt"},
	gui = {"lgui", "rgui"},
}

-- scancode -> modifier group name
keys.modifier = {
	[224] = "ctrl", [228] = "ctrl",
	[225] = "shift", [229] = "shift",
	[226] = "alt", [230] = "alt",
	[227] = "gui", [231] = "gui",
}

-- characters of the printable keys (US layout): unshifted and shifted
keys.char = {space = " "}
keys.shifted = {space = " "}
for i = 0, 25 do
	local c = string.char(97 + i)
	keys.char[c] = c
	keys.shifted[c] = string.upper(c)
end
local pairs_text = {
	{"1", "!"}, {"2", "@"}, {"3", "#"}, {"4", "$"}, {"5", "%"}, {"6", "^"},
	{"7", "&"}, {"8", "*"}, {"9", "("}, {"0", ")"}, {"-", "_"}, {"=", "+"},
	{"[", "{"}, {"]", "}"}, {"\\", "|"}, {";", ":"}, {"'", "\""}, {"`", "~"},
	{",", "<"}, {".", ">"}, {"/", "?"},
}
for _, p in ipairs(pairs_text) do
	keys.char[p[1]] = p[1]
	keys.shifted[p[1]] = p[2]
end

-- The name of a scancode, or "scancode_N" for keys without one.
function keys.name(scancode)
	return names[scancode] or ("scancode_" .. tostring(scancode))
end

-- The character a key types (nil for keys that type nothing).
function keys.text(name, shift)
	return (shift and keys.shifted or keys.char)[name]
end

return keys
