-- The code editor: edit.lua [file]. Edits one text file with Lua syntax
-- colouring; the buffer itself (cursor, selection, undo, search, files)
-- lives in /system/lib/textbuf.lua.
--
-- Drawing is lazy: a frame in which nothing changed draws nothing, the
-- blinking cursor redraws one row, and anything else redraws the window.
-- Only the visible lines are tokenized; the tokenizer state at the start
-- of every line (open long strings and comments) is kept, so that a view
-- in the middle of a long file needs no work from the top once it is known.

local tb = include("textbuf")
local monofont = include("monofont")

-- ----------------------------------------------------------------------
-- Look

local CW, LH = 5, 10          -- character cell: advance and line height
local FONT_H, TY = 8, 1       -- glyph cell height, and its place in a line
local PAD = 3                 -- space on each side of the gutter's edge
local FONT_ADDR = 0xe000      -- our monospaced copy of the built-in font
local BLINK = 30              -- frames per cursor phase
local REPEAT_DELAY, REPEAT_EVERY = 20, 2
local WHEEL_LINES = 3
local MSG_FRAMES = 240        -- how long a status message stays
local DOUBLE_CLICK = 20       -- frames
local COLOUR_COLS = 2000      -- columns of a line that get syntax colours

local C_BG, C_GUTTER, C_LINENO, C_LINENO_CUR = 1, 32, 13, 6
local C_SEL, C_CURSOR, C_CTRL = 16, 10, 8
local C_STATUS_BG, C_STATUS, C_MSG, C_ERROR, C_BAR_BG = 5, 6, 7, 8, 32
local C_KEYWORD, C_NAME = 14, 7
local CLASS_COLOUR = {[1] = C_NAME, [2] = 9, [3] = 13, [4] = 11, [5] = 6}

-- colour of each keyword (names are tokens of class 1)
local KEYWORDS = {}
for w in ("and break do else elseif end false for function goto if in local nil not or repeat return then true until while"):gmatch("%a+") do
	KEYWORDS[w] = C_KEYWORD
end

-- ----------------------------------------------------------------------
-- State

local buf = tb.new("")
local path, info = nil, nil   -- file being edited and what read_file said of it
local W, H = 0, 0             -- window size
local rows, cols = 1, 1       -- text rows and columns shown
local gutter_w, text_x = 0, 0 -- width of the line numbers, left edge of the text
local gutter_digits = 0
local top, left = 1, 0        -- first line shown, first display column shown
local need_full, need_gutter, need_status = true, false, true
local need_lines = {}         -- lines to redraw alone: line -> true
local blink_t, blink_on = 0, true
local msg, msg_col, msg_t = nil, C_MSG, 0
local bar = nil               -- input line: {mode = "find" | "save", text = }
local last_find = ""
local held = nil              -- key being repeated: {key =, t =}
local mouse_down, drag, drag_lines = false, false, nil
local last_click = {t = -100, l = 0, c = 0}
local frame = 0
local shown_title = nil
local close_armed = false
local seen = {}               -- buffer state at the last draw, to spot changes

-- ----------------------------------------------------------------------
-- Font

-- The editor prints with a monospaced copy of the font. Printing charges
-- every glyph cell, so the cell is no taller than the glyphs and has no
-- margin; rows are spaced by drawing positions.
local function make_font()
	monofont.install(FONT_ADDR, CW, FONT_H)
	poke(0x5f58, 1)
	poke(0x5f59, 0)
	poke(0x5f36, @0x5f36 | 4)   -- no line feed after each print
end

-- ----------------------------------------------------------------------
-- Messages in the status line

local function say(text, col)
	msg, msg_col, msg_t = text, col or C_MSG, frame
	need_status = true
end

local function file_name()
	return path and (path:match("[^/]+$") or path) or "untitled"
end

local function update_title()
	local t = file_name() .. (tb.modified(buf) and " *" or "")
	if t != shown_title then
		shown_title = t
		window{title = t}
	end
end

-- ----------------------------------------------------------------------
-- Line segments: what to print for a line, cached by text and start
-- state. segs holds groups of four: display column, text, colour, end
-- column.

local seg_cache, seg_count = {}, 0

local function add_seg(segs, v, text, col, w)
	local n = #segs
	segs[n + 1], segs[n + 2], segs[n + 3], segs[n + 4] = v, text, col, v + w
end

-- A token holding tabs, control bytes or wide glyphs, split into runs
-- that print as they are; returns the column after it.
local function add_special(segs, tok, v, col, tabw)
	local run, run_v, run_w = {}, v, 0
	local function flush()
		if #run > 0 then
			add_seg(segs, run_v, table.concat(run), col, run_w)
			run = {}
		end
	end
	for i = 1, #tok do
		local b = tok:byte(i)
		if b == 9 then
			flush()
			v += tabw - v % tabw
			run_v, run_w = v, 0
		elseif b < 16 then
			-- control bytes would steer the printer: shown as a marked '?'
			flush()
			add_seg(segs, v, "?", C_CTRL, 1)
			v += 1
			run_v, run_w = v, 0
		else
			local w = b >= 128 and 2 or 1
			run[#run + 1] = string.char(b)
			run_w += w
			v += w
		end
	end
	flush()
	return v
end

-- Segments are made up to display column limit only: a very long line is
-- not read past the view. Both makers return the segments and the line's
-- width, or nil for the width when they stopped at the limit.

-- Any line: token by token, tokens with tabs, control bytes or wide glyphs
-- split by add_special.
local function general_segments(s, state, tabw, limit)
	local segs, v, i, n = {}, 0, 1, #s
	while i <= n do
		if v > limit then return segs, nil end
		local tok, ni, cls, ns = tokenoid(s, i, state)
		if not tok then break end
		state = ns or 0
		if cls == 0 then
			v = tok == "\t" and v + tabw - v % tabw or v + #tok
		else
			local col = cls == 1 and KEYWORDS[tok] or CLASS_COLOUR[cls] or C_NAME
			if tok:find("[%z\1-\15\128-\255]") then
				v = add_special(segs, tok, v, col, tabw)
			else
				add_seg(segs, v, tok, col, #tok)
				v += #tok
			end
		end
		i = ni
	end
	return segs, v
end

-- The usual line: leading tabs, then only bytes of one cell each. Tokens
-- of one colour with a few spaces between them print as one slice of the
-- line, as printing fewer pieces is cheaper than the spaces. This loop
-- runs for every token of every newly shown line: it is kept short.
local function plain_segments(s, state, lead, tabw, limit)
	local tokenoid, keywords, colours = tokenoid, KEYWORDS, CLASS_COLOUR
	local segs = {}
	local base = lead * tabw - lead   -- byte i shows at column base + i - 1
	local i, n = lead + 1, #s
	local width = base + n
	if width > limit then n, width = limit - base + 1, nil end
	local ri, re, rc                  -- the open run: first and last byte, colour
	while i <= n do
		local tok, ni, cls, ns = tokenoid(s, i, state)
		if ns then state = ns elseif state != 0 then state = 0 end
		if cls != 0 then
			local col = cls == 1 and keywords[tok] or colours[cls]
			if col == rc and i - re <= 4 then
				re = ni - 1
			else
				if ri then add_seg(segs, base + ri - 1, s:sub(ri, re), rc, re - ri + 1) end
				ri, re, rc = i, ni - 1, col
			end
		end
		i = ni
	end
	if ri then add_seg(segs, base + ri - 1, s:sub(ri, re), rc, re - ri + 1) end
	return segs, width
end

-- The view of a very long line far to the right: its visible part in one
-- colour, as colouring it would mean reading all of the line before it.
local function uncoloured(s, lead)
	local base = lead * buf.tabw - lead
	local first = math.max(lead + 1, left - base + 1)
	local text = s:sub(first, first + cols + 1)
	local segs = {}
	if text != "" then add_seg(segs, base + first - 1, text, C_NAME, #text) end
	return {segs = segs, width = base + #s}
end

-- The segments of line l as far as the view reaches. c.width is the line's
-- width, or past the view's right edge when the line was not read whole.
local function segments(l)
	local s = buf.lines[l]
	local st = tb.line_state(buf, l)
	local need = left + cols + 1
	local c = seg_cache[l]
	if c and c.s == s and c.st == st and c.limit >= need then return c end
	local limit = need + 2 * cols   -- some room for scrolling right
	local lead = #s:match("^\t*")
	local plain = not s:find("[%z\1-\31\128-\255]", lead + 1)
	if plain and need > COLOUR_COLS then return uncoloured(s, lead) end
	local segs, width
	if plain then
		segs, width = plain_segments(s, st, lead, buf.tabw, limit)
	else
		segs, width = general_segments(s, st, buf.tabw, limit)
	end
	if not c then
		seg_count += 1
		if seg_count > 400 then seg_cache, seg_count = {}, 1 end
	end
	c = {s = s, st = st, segs = segs, width = width or need + 1, limit = width and math.huge or limit}
	seg_cache[l] = c
	return c
end

-- ----------------------------------------------------------------------
-- Layout

local function layout()
	local w, h = display_size()
	local digits = math.max(3, #tostring(#buf.lines))
	if w == W and h == H and digits == gutter_digits then return end
	W, H, gutter_digits = w, h, digits
	gutter_w = (digits + 1) * CW
	text_x = gutter_w + PAD
	cols = math.max(1, (W - text_x) \ CW)
	rows = math.max(1, (H - LH - 2) \ LH)
	need_full, need_status = true, true
end

local function max_top()
	return math.max(1, #buf.lines - rows + 1)
end

local function scroll_to(t)
	t = math.max(1, math.min(max_top(), t))
	if t != top then top, need_full = t, true end
end

-- Scrolls so that the cursor is in view.
local function reveal()
	local l = buf.cl
	if l < top then top = l
	elseif l >= top + rows then top = l - rows + 1 end
	local v = tb.vcol(buf, buf.lines[l], buf.cc)
	if v < left then
		left = math.max(0, v - cols \ 4)
	elseif v > left + cols - 2 then
		left = v - cols * 3 \ 4
	end
end

-- ----------------------------------------------------------------------
-- Drawing

local function row_y(r) return r * LH end

-- Draws text row r; cleared says the background is already there.
local function draw_row(r, cleared)
	local y = row_y(r)
	if not cleared then rectfill(text_x, y, W - 1, y + LH - 1, C_BG) end
	local l = top + r
	if l > #buf.lines then return end
	local line = buf.lines[l]
	local x0 = text_x - left * CW
	local c = segments(l)
	local l1, c1, l2, c2 = tb.selection(buf)
	if l1 and l >= l1 and l <= l2 then
		local vs = l == l1 and tb.vcol(buf, line, c1) or 0
		local ve = l == l2 and tb.vcol(buf, line, c2) or c.width + 1
		if ve > vs then
			rectfill(math.max(text_x, x0 + vs * CW), y, x0 + ve * CW - 1, y + LH - 1, C_SEL)
		end
	end
	local segs, right = c.segs, left + cols + 1
	for i = 1, #segs, 4 do
		local v = segs[i]
		if v >= right then break end
		if segs[i + 3] > left then
			_print_v7scii(segs[i + 1], x0 + v * CW, y + TY, segs[i + 2])
		end
	end
	if l == buf.cl and blink_on and not bar then
		local x = x0 + tb.vcol(buf, line, buf.cc) * CW
		if x >= text_x then rectfill(x, y, x, y + LH - 1, C_CURSOR) end
	end
end

local function draw_gutter()
	rectfill(0, 0, gutter_w - 1, H - LH - 3, C_GUTTER)
	local n = #buf.lines
	for r = 0, rows - 1 do
		local l = top + r
		if l > n then break end
		local s = tostring(l)
		_print_v7scii(s, gutter_w - PAD - #s * CW, row_y(r) + TY, l == buf.cl and C_LINENO_CUR or C_LINENO)
	end
end

local function draw_status()
	local y = H - LH - 2
	clip()
	if bar then
		rectfill(0, y, W - 1, H - 1, C_BAR_BG)
		local prompt = bar.mode == "find" and "find: " or "save as: "
		_print_v7scii(prompt, 2, y + 2 + TY, C_STATUS)
		local tx = 2 + #prompt * CW
		local room = math.max(1, (W - tx) \ CW - 1)
		local shown = bar.text
		if #shown > room then shown = shown:sub(-room) end
		shown = shown:gsub("[%z\1-\15]", "?")
		_print_v7scii(shown, tx, y + 2 + TY, C_MSG)
		local cx = tx + #shown * CW
		rectfill(cx, y + 1, cx, y + LH - 1, C_CURSOR)
		return
	end
	rectfill(0, y, W - 1, H - 1, C_STATUS_BG)
	local pos = buf.cl .. ":" .. (tb.vcol(buf, buf.lines[buf.cl], buf.cc) + 1)
	local px = W - 10 - #pos * CW   -- clear of the window's resize corner
	_print_v7scii(pos, px, y + 2 + TY, C_STATUS)
	local text, col = msg, msg_col
	if not text then text, col = file_name() .. (tb.modified(buf) and " *" or ""), C_STATUS end
	local room = math.max(0, (px - 4) \ CW)
	if #text > room then text = text:sub(1, math.max(0, room - 3)) .. "..." end
	_print_v7scii((text:gsub("[%z\1-\15]", "?")), 2, y + 2 + TY, col)
end

local function draw_all()
	clip()
	cls(C_BG)   -- much cheaper than filling the rows one by one
	clip(0, 0, text_x, H - LH - 2)
	draw_gutter()
	clip(text_x, 0, W - text_x, rows * LH)
	for r = 0, rows - 1 do draw_row(r, true) end
	draw_status()
end

-- ----------------------------------------------------------------------
-- Clipboard: the userland clipboard keeps every byte; the host's may hold
-- text copied in another host program. The host's is taken when it is not
-- simply the host view of ours.

local function set_clipboard_text(s)
	_set_userland_clipboard_text(s)
	pcall(_set_host_clipboard_text, s)
end

local function get_clipboard_text()
	local own = _get_userland_clipboard_text() or ""
	local ok, host = pcall(_get_host_clipboard_text)
	if not ok or type(host) != "string" or host == "" then return own end
	-- host text has no carriage returns and ends at a zero byte
	local own_seen_by_host = own:match("^[^%z]*"):gsub("\r", "")
	if host == own_seen_by_host then return own end
	return host
end

-- ----------------------------------------------------------------------
-- Commands

local function page() return math.max(1, rows - 1) end

-- With no selection, copy and cut take the cursor's whole line.
local function select_line_if_none()
	if tb.selection(buf) then return false end
	local l, n = buf.cl, #buf.lines
	if l < n then tb.select_range(buf, l, 1, l + 1, 1)
	else tb.select_range(buf, l, 1, l, #buf.lines[l] + 1) end
	return true
end

local function copy(cut)
	local cl, cc = buf.cl, buf.cc
	local whole_line = select_line_if_none()
	local s = tb.selected_text(buf)
	if s == "" then
		tb.set_cursor(buf, cl, cc)
		return
	end
	set_clipboard_text(s)
	if cut then
		tb.delete_selection(buf)
	elseif whole_line then
		tb.set_cursor(buf, cl, cc)
	end
	say((cut and "cut " or "copied ") .. #s .. " bytes")
end

local function paste()
	local s = get_clipboard_text()
	if s == "" then say("the clipboard is empty") return end
	tb.insert(buf, s)
end

local function save_to(p)
	local err = tb.write_file(p, tb.text(buf), info)
	if err then
		say(tostring(err), C_ERROR)
		return false
	end
	path = p
	info = info or {fields = ""}
	info.new = nil
	tb.mark_saved(buf)
	close_armed = false
	local size = select(2, fstat(p))
	say("saved " .. p .. (size and (" (" .. size .. " bytes)") or ""))
	update_title()
	return true
end

local function save()
	if path then return save_to(path) end
	bar = {mode = "save", text = ""}
	need_full = true
end

local function open_find()
	local s = tb.selected_text(buf)
	if s == "" or s:find("\n", 1, true) then s = last_find end
	bar = {mode = "find", text = s}
	need_full = true
end

local function find(backward)
	local needle = bar and bar.text or last_find
	if needle == "" then open_find() return end
	last_find = needle
	local found, wrapped = tb.find(buf, needle, backward)
	if not found then say("not found: " .. needle, C_ERROR)
	elseif wrapped then say(backward and "search wrapped to the end" or "search wrapped to the top")
	else msg = nil need_status = true end
end

local function newline()
	local lead = buf.lines[buf.cl]:sub(1, buf.cc - 1):match("^[ \t]*")
	tb.insert(buf, "\n" .. lead, true)
end

-- Keys of the input line; true when the key was taken.
local function bar_key(k, ctrl, shift)
	if k == "escape" then
		bar = nil
	elseif k == "backspace" then
		bar.text = bar.text:sub(1, -2)
	elseif k == "enter" or k == "kp_enter" then
		if bar.mode == "find" then
			find(shift)
		else
			local p = bar.text
			local full = p != "" and fullpath(p)
			if not full then say("not a usable file name: " .. p, C_ERROR) return true end
			if fstat(full) == "folder" then say(full .. " is a folder", C_ERROR) return true end
			if save_to(full) then bar = nil end
		end
	elseif ctrl and k == "v" then
		bar.text ..= (get_clipboard_text():match("^[^\n]*"))
	elseif ctrl and (k == "f" or k == "s") then
		-- the same key again leaves the line
		bar = nil
	else
		return false
	end
	need_full = true
	return true
end

local MOVES = {
	left = "left", right = "right", up = "up", down = "down",
	home = "home", ["end"] = "end", pageup = "page_up", pagedown = "page_down",
}
local CTRL_MOVES = {
	left = "word_left", right = "word_right", home = "doc_start", ["end"] = "doc_end",
}

local REPEATS = {
	left = true, right = true, up = true, down = true, pageup = true, pagedown = true,
	backspace = true, delete = true, enter = true, kp_enter = true, tab = true,
}
local CTRL_REPEATS = {z = true, y = true, v = true}

local function on_key(k, ctrl, shift)
	if bar and bar_key(k, ctrl, shift) then return end
	local move = ctrl and CTRL_MOVES[k] or MOVES[k]
	if move then
		if ctrl and (k == "up" or k == "down") then
			scroll_to(top + (k == "up" and -1 or 1))
			return
		end
		local from = buf.cl
		tb.move(buf, move, shift, page())
		-- a page key turns the view by a page along with the cursor
		if move == "page_up" or move == "page_down" then scroll_to(top + buf.cl - from) end
	elseif k == "backspace" then tb.backspace(buf, ctrl)
	elseif k == "delete" then tb.delete(buf, ctrl)
	elseif k == "enter" or k == "kp_enter" then newline()
	elseif k == "tab" then
		local l1, _, l2 = tb.selection(buf)
		if shift or (l1 and l1 != l2) then tb.indent(buf, shift)
		else tb.insert(buf, "\t", true) end
	elseif k == "escape" then tb.clear_selection(buf)
	elseif k == "f3" then find(shift)
	elseif ctrl then
		if k == "a" then tb.select_all(buf)
		elseif k == "c" then copy(false)
		elseif k == "x" then copy(true)
		elseif k == "v" then paste()
		elseif k == "z" then
			if shift then tb.redo(buf) else tb.undo(buf) end
		elseif k == "y" then tb.redo(buf)
		elseif k == "s" then save()
		elseif k == "f" then open_find()
		elseif k == "g" then find(shift)
		end
	end
end

local function modifiers(m)
	local ctrl = (m and m.ctrl) or key("ctrl")
	local shift = (m and m.shift) or key("shift")
	local alt = (m and m.alt) or key("alt")
	return ctrl and true or false, shift and true or false, alt and true or false
end

local function on_keydown(m)
	local k = m.key
	if type(k) != "string" then return end
	local ctrl, shift = modifiers(m)
	on_key(k, ctrl, shift)
	if REPEATS[k] or (ctrl and CTRL_REPEATS[k]) then
		held = {key = k, t = 0}
	else
		held = nil
	end
end

local function on_text(m)
	local s = m.text
	if type(s) != "string" or s == "" then return end
	local ctrl, _, alt = modifiers(nil)
	if ctrl and not alt then return end       -- a shortcut, not text
	s = s:gsub("[%z\r\n]", "")
	if s == "" then return end
	if bar then
		bar.text ..= s
		need_full = true
	else
		tb.insert(buf, s, true)
	end
end

-- ----------------------------------------------------------------------
-- Mouse

-- Buffer position under a window point; rows outside the text clamp.
local function pos_at(mx, my)
	local r = my \ LH
	local l = math.max(1, math.min(#buf.lines, top + r))
	local v = flr((mx - text_x) / CW + 0.5) + left
	return l, tb.col_at(buf, buf.lines[l], v)
end

local function select_word_at(l, c)
	local line = buf.lines[l]
	local s, e = c, c
	while s > 1 and line:sub(s - 1, s - 1):find("[%w_\128-\255]") do s -= 1 end
	while e <= #line and line:sub(e, e):find("[%w_\128-\255]") do e += 1 end
	tb.select_range(buf, l, s, l, e)
end

-- Start of the line after l (the end of the text for the last line).
local function after_line(l)
	if l < #buf.lines then return l + 1, 1 end
	return l, #buf.lines[l] + 1
end

-- Selects whole lines from line a (where the drag began) to line b.
local function select_lines(a, b)
	if b >= a then
		local el, ec = after_line(b)
		tb.select_range(buf, a, 1, el, ec)
	else
		local el, ec = after_line(a)
		tb.select_range(buf, el, ec, b, 1)
	end
end

local function update_mouse()
	local mx, my, mb, _, wy = mouse()
	if wy and wy != 0 then scroll_to(top - wy * WHEEL_LINES) end
	local down = mb & 1 != 0
	if down and not mouse_down then
		mouse_down = true
		if my >= rows * LH then return end
		local l, c = pos_at(mx, my)
		if mx < gutter_w then
			drag_lines = l
			select_lines(l, l)
		elseif frame - last_click.t <= DOUBLE_CLICK and last_click.l == l and last_click.c == c then
			select_word_at(l, c)
			last_click.t = -100
			return
		else
			tb.set_cursor(buf, l, c, key("shift"))
			drag = true
		end
		last_click.t, last_click.l, last_click.c = frame, l, c
	elseif down then
		if not (drag or drag_lines) then return end
		-- dragging past the text scrolls it
		if my < 0 then scroll_to(top - 1)
		elseif my >= rows * LH then scroll_to(top + 1) end
		local l, c = pos_at(mx, math.max(0, math.min(rows * LH - 1, my)))
		if drag_lines then
			select_lines(drag_lines, l)
		elseif l != buf.cl or c != buf.cc then
			tb.set_cursor(buf, l, c, true)
		end
	elseif mouse_down then
		mouse_down, drag, drag_lines = false, false, nil
	end
end

-- ----------------------------------------------------------------------
-- Opening

local function open(arg)
	if type(arg) != "string" or arg == "" then
		say("new file: ctrl+s asks for a name")
		return
	end
	local full = fullpath(arg)
	if not full then
		say("not a usable file name: " .. arg, C_ERROR)
		return
	end
	local text, how = tb.read_file(full)
	if not text then
		-- not opened: saving asks for a name instead of overwriting it
		say(tostring(how), C_ERROR)
		return
	end
	path, info = full, how
	buf = tb.new(text)
	if how.new then say("new file " .. full) end
end

local function on_close()
	if tb.modified(buf) and not close_armed then
		close_armed = true
		say("unsaved changes: close again to lose them, ctrl+s saves", C_ERROR)
		return
	end
	exit()
end

-- ----------------------------------------------------------------------
-- Program frame

-- Works out what to redraw after this frame's commands: the cursor's
-- rows when the cursor moved or typing changed one line only, else all.
local function plan_redraw()
	local s = seen
	local l1, c1, l2, c2 = tb.selection(buf)
	local n = #buf.lines
	local edited = s.changes != buf.changes
	local moved = edited or s.cl != buf.cl or s.cc != buf.cc
	local same_sel = s.l1 == l1 and s.c1 == c1 and s.l2 == l2 and s.c2 == c2
	if moved then
		reveal()
		blink_t, blink_on = 0, true
		update_title()
	end
	if edited then close_armed = false end
	local same_view = s.top == top and s.left == left and s.n == n
	if moved or not same_sel or not same_view then
		local one_line = same_view and same_sel and not l1
		if one_line and edited then
			-- the rest of the text looks the same unless the line now
			-- opens or closes a long string or comment
			one_line = buf.edit_lo == buf.cl and buf.edit_hi == buf.cl and s.cl == buf.cl
				and (buf.cl == n or tb.line_state(buf, buf.cl + 1) == s.next_state)
		end
		if one_line then
			need_lines[s.cl], need_lines[buf.cl] = true, true
			if s.cl != buf.cl then need_gutter = true end
			need_status = true
		else
			need_full = true
		end
	end
	s.cl, s.cc, s.changes, s.l1, s.c1, s.l2, s.c2 = buf.cl, buf.cc, buf.changes, l1, c1, l2, c2
	s.top, s.left, s.n = top, left, n
	if edited or moved then
		s.next_state = buf.cl < n and tb.line_state(buf, buf.cl + 1) or nil
	end
	buf.edit_lo, buf.edit_hi = nil, nil
end

function _init()
	local e = env()
	open(e.argv and e.argv[1])
	shown_title = file_name()
	window{width = 400, height = 240, title = shown_title, resizable = true}
	make_font()
	on_event("keydown", on_keydown)
	on_event("textinput", on_text)
	on_event("close_request", on_close)
	on_event("focus", function() held = nil end)
end

function _update()
	frame += 1
	if held then
		if not key(held.key) then
			held = nil
		else
			held.t += 1
			local t = held.t - REPEAT_DELAY
			if t >= 0 and t % REPEAT_EVERY == 0 then on_key(held.key, modifiers(nil)) end
		end
	end
	update_mouse()
	plan_redraw()
	if msg and frame - msg_t > MSG_FRAMES then
		msg, need_status = nil, true
	end
	blink_t += 1
	if blink_t >= BLINK then
		blink_t, blink_on = 0, not blink_on
		need_lines[buf.cl] = true
	end
end

function _draw()
	layout()
	if need_full then
		draw_all()
		need_full, need_gutter, need_status, need_lines = false, false, false, {}
		return
	end
	if need_gutter then
		clip(0, 0, text_x, H - LH - 2)
		draw_gutter()
		need_gutter = false
	end
	if next(need_lines) then
		clip(text_x, 0, W - text_x, rows * LH)
		for l in pairs(need_lines) do
			local r = l - top
			if r >= 0 and r < rows then draw_row(r) end
		end
		need_lines = {}
	end
	if need_status then
		draw_status()
		need_status = false
	end
end
