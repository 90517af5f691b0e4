-- The window manager's look: its colours (slots 32 and up of the RGB
-- palette, which is the palette the whole screen is shown through), a
-- darkening colour for shadows, the font and text measuring, the desktop
-- background and the pointer.

local theme = {}

-- colour indices and their RGB values
local C = {
	bar = 32, bar_text = 33, bar_dim = 34,
	desk_top = 35, desk_mid = 36, desk_bottom = 37,
	title_on = 38, title_off = 39, title_text_on = 40, title_text_off = 41,
	border = 42, menu_bg = 43, menu_text = 44, menu_hi = 45, menu_sep = 46,
	close = 47, toast_bg = 48, accent = 49, error = 50, black = 51,
	white = 52, desk_logo = 53, frame_bg = 54,
	shade = 63, -- drawing with this darkens what is below (see make_shade)
}
theme.C = C

local RGB = {
	[32] = 0x1b1e2b, [33] = 0xe6e8f0, [34] = 0x8a90a6,
	[35] = 0x243049, [36] = 0x2c3b5a, [37] = 0x35476b,
	[38] = 0x3b6fd8, [39] = 0x4a5060, [40] = 0xffffff, [41] = 0xb8bcc8,
	[42] = 0x10121a, [43] = 0xf2f3f7, [44] = 0x1b1e2b, [45] = 0x3b6fd8, [46] = 0xc8cbd6,
	[47] = 0xe0505a, [48] = 0x22263a, [49] = 0x5fd3a0, [50] = 0xe0505a, [51] = 0x000000,
	[52] = 0xffffff, [53] = 0x3a4d74, [54] = 0x14161f,
}
theme.RGB = RGB

local SCREEN_W, SCREEN_H = 480, 270
theme.W, theme.H = SCREEN_W, SCREEN_H
theme.BAR_H = 11
theme.TITLE_H = 11

-- band rows of the desktop background (between the bands a dithered seam)
theme.BANDS = {
	{y0 = 11, y1 = 99, col = C.desk_top},
	{y0 = 100, y1 = 189, col = C.desk_mid},
	{y0 = 190, y1 = 269, col = C.desk_bottom},
}

local function rgb_of(i)
	return peek4(0x5000 + 4 * i) & 0xffffff
end

local function split_rgb(v)
	return (v >> 16) & 255, (v >> 8) & 255, v & 255
end

-- Colour 63 drawn over colour d gives the colour nearest to d at 60%
-- brightness: row 63 of colour table 0 holds that mapping.
local function make_shade()
	local n = 55
	local rgb = {}
	for i = 0, n - 1 do rgb[i] = {split_rgb(rgb_of(i))} end
	for d = 0, 63 do
		local best, best_e = C.black, nil
		if d < n then
			local r, g, b = rgb[d][1] * 0.55, rgb[d][2] * 0.55, rgb[d][3] * 0.6
			for i = 0, n - 1 do
				local c = rgb[i]
				local e = (c[1] - r) ^ 2 * 2 + (c[2] - g) ^ 2 * 4 + (c[3] - b) ^ 2 * 3
				if best_e == nil or e < best_e then best, best_e = i, e end
			end
		end
		poke(0x8000 + 63 * 64 + d, best)
	end
end

-- advance of every character of the built-in font
local widths = {}

local function load_font()
	local hex = fetch("/system/lib/font.hex")
	if type(hex) ~= "string" then return end
	local font = userdata("u8", 4096, hex)
	if not font then return end
	font:poke(0x4000)
	poke(0x5F56, 0x40)
	poke(0x5F57, 0x40)
	local w, wide, has_adjust = font[0], font[1], (font[5] & 1) ~= 0
	for ch = 0, 255 do
		local adv = ch >= 128 and wide or w
		if has_adjust and ch >= 16 then
			local nib = font[ch >> 1]
			if ch & 1 == 1 then nib = nib >> 4 end
			adv += ((nib & 7) + 4) % 8 - 4
		end
		widths[ch] = adv
	end
end

function theme.text_width(s)
	local w = 0
	for i = 1, #s do w += widths[s:byte(i)] or 5 end
	return w
end

-- How many leading bytes of s fit in w pixels (one pass over s).
local function fitting(s, w)
	local used = 0
	for i = 1, #s do
		used += widths[s:byte(i)] or 5
		if used > w then return i - 1 end
	end
	return #s
end

-- s cut to at most w pixels, with ".." when it was cut
function theme.fit(s, w)
	if theme.text_width(s) <= w then return s end
	return s:sub(1, fitting(s, w - theme.text_width(".."))) .. ".."
end

function theme.text(s, x, y, col)
	_print_v7scii(s, x, y, col)
end

-- Lines of at most w pixels, broken at spaces where possible.
function theme.wrap(s, w, max_lines)
	local lines = {}
	for para in (s .. "\n"):gmatch("([^\n]*)\n") do
		local line = ""
		for word in para:gmatch("%S+") do
			local try = line == "" and word or (line .. " " .. word)
			if theme.text_width(try) <= w then
				line = try
			else
				if line ~= "" then lines[#lines + 1] = line end
				while theme.text_width(word) > w do
					local cut = max(1, fitting(word, w))
					lines[#lines + 1] = word:sub(1, cut)
					word = word:sub(cut + 1)
					if max_lines and #lines >= max_lines then break end
				end
				line = word
			end
		end
		lines[#lines + 1] = line
		if max_lines and #lines >= max_lines then break end
	end
	while max_lines and #lines > max_lines do table.remove(lines) end
	return lines
end

-- darkens a rectangle (x0, y0)-(x1, y1)
function theme.shade(x0, y0, x1, y1)
	rectfill(x0, y0, x1, y1, C.shade)
end

-- The desktop background, drawn once into a bitmap.
function theme.make_background()
	local bg = userdata("u8", SCREEN_W, SCREEN_H)
	_set_draw_target(bg)
	cls(C.desk_top)
	local bands = theme.BANDS
	for i, b in ipairs(bands) do
		rectfill(0, b.y0, SCREEN_W - 1, b.y1, b.col)
		-- a dithered seam of 6 rows into the band above
		if i > 1 then
			fillp(0x5a5a)
			rectfill(0, b.y0 - 3, SCREEN_W - 1, b.y0 + 2, b.col | (bands[i - 1].col << 8))
			fillp(0)
		end
	end
	-- the system's name, large and faint, in the lower right corner
	local name = "\^w\^tkestrane"
	_print_v7scii(name, SCREEN_W - 96, SCREEN_H - 26, C.desk_logo)
	return bg
end

-- the pointer: 1 = outline, 2 = fill
local POINTER = {
	"1.........",
	"11........",
	"121.......",
	"1221......",
	"12221.....",
	"122221....",
	"1222221...",
	"12222221..",
	"122222221.",
	"1222211111",
	"1221221...",
	"121.1221..",
	"11..1221..",
	"1....1221.",
	".....111..",
}

function theme.make_pointer()
	local h, w = #POINTER, #POINTER[1]
	local p = userdata("u8", w, h)
	for y = 1, h do
		local row = POINTER[y]
		for x = 1, w do
			local ch = row:sub(x, x)
			if ch == "1" then p:set(x - 1, y - 1, C.black)
			elseif ch == "2" then p:set(x - 1, y - 1, C.white) end
		end
	end
	return p
end

-- Colours, font and shade table of the window manager's own draw state.
function theme.init()
	poke4(0x5508, 0x3f3f3f3f)
	pal()
	pal(2)
	for i, v in pairs(RGB) do pal(i, v, 2) end
	load_font()
	make_shade()
end

return theme
