-- The terminal: a window that runs the shell. It keeps a scrollback of
-- output lines, an editable prompt line with history, and shows what the
-- programs it started print or how they failed.
--
-- Drawing is incremental: a frame with nothing new draws nothing; typing
-- redraws the prompt rows, blinking redraws one character cell, new output
-- moves the picture up and draws only the new rows, and only scrolling,
-- resizing and big bursts of output redraw the whole window.

local shell = include("shell")
local keys = include("keys")
local monofont = include("monofont")

-- ----------------------------------------------------------------------
-- Look

local CW, LH = 5, 9          -- character cell: advance and line height
local PAD = 2                -- space around the text
local FONT_ADDR = 0xe000     -- our monospaced copy of the built-in font
local MAX_LINES = 1000       -- scrollback kept
local MAX_LINE_LEN = 4000    -- longer output lines are cut
local BLINK = 16             -- frames per cursor phase

local C_BG, C_TEXT, C_ERROR, C_NOTE, C_PROMPT, C_CURSOR = 0, 6, 8, 13, 12, 7
local KIND_COLOUR = {error = C_ERROR, note = C_NOTE}

-- ----------------------------------------------------------------------
-- State

-- started without a folder of its own, the terminal opens in /ram
local start_pwd = env().pwd
local st = shell.new{cwd = start_pwd ~= "/" and start_pwd or "/ram"}

local lines = {}             -- scrollback: {text=, col=, rows=, at_cols=}
local input, cur = "", 0     -- prompt line and cursor (characters before it)
local hist_pos, hist_saved = nil, nil
local scroll = 0             -- rows scrolled back from the newest line
local jobs = {}              -- programs started with run: {pid=, name=}
local names = {}             -- pid -> name of every program started here
local endings = {}           -- pid -> frame at which to say it ended
local frame = 0
local W, H, cols, rows = 0, 0, 1, 1
local need_full, need_prompt, need_cursor = true, false, false
local blink_t, blink_on = 0, true
local focused = true
local prompt_rows_drawn = 0
local prompt_top = 0         -- screen row where the prompt starts
local new_rows = 0           -- rows added below the scrollback since drawn
local held = nil             -- key being repeated: {ev = its keydown, t = frames}
local stash = {}             -- messages read while a command line ran

-- ----------------------------------------------------------------------
-- Font

-- The terminal prints with a monospaced copy of the built-in font.
local function make_font()
	monofont.install(FONT_ADDR, CW, LH)
	poke(0x5f58, 0)      -- default style: margin, default font
	poke(0x5f59, 0)
	poke(0x5f36, @0x5f36 | 4) -- no newline after each print
	palt(0, false)            -- the background colour 0 is drawn, not skipped
end

-- ----------------------------------------------------------------------
-- Text measure

-- Output is shown as plain text: tabs become spaces, carriage returns go
-- and the other control bytes (which would move the print cursor or change
-- colours) become '?'.
local function clean(text)
	if not text:find("[%c]") then return text end
	local out, col = {}, 0
	for i = 1, #text do
		local c = text:sub(i, i)
		local b = c:byte()
		if c == "\t" then
			local n = 4 - col % 4
			out[#out + 1] = string.rep(" ", n)
			col += n
		elseif c == "\r" then
			-- dropped
		elseif b < 16 then
			out[#out + 1] = "?"
			col += 1
		else
			out[#out + 1] = c
			col += b >= 128 and 2 or 1
		end
	end
	return table.concat(out)
end

-- Bytes 128-255 are wide glyphs and take two cells.
local function width_of(s)
	local n = #s
	if not s:find("[\128-\255]") then return n end
	local w = 0
	for i = 1, n do w += s:byte(i) >= 128 and 2 or 1 end
	return w
end

-- Splits a text into pieces of at most c cells.
local function wrap(s, c)
	if width_of(s) <= c then return {s} end
	local pieces, start, w = {}, 1, 0
	for i = 1, #s do
		local cw = s:byte(i) >= 128 and 2 or 1
		if w + cw > c then
			pieces[#pieces + 1] = s:sub(start, i - 1)
			start, w = i, 0
		end
		w += cw
	end
	pieces[#pieces + 1] = s:sub(start)
	return pieces
end

local function rows_of(line)
	if line.at_cols ~= cols then
		line.rows = max(1, (width_of(line.text) + cols - 1) \ cols)
		line.at_cols = cols
	end
	return line.rows
end

-- ----------------------------------------------------------------------
-- Scrollback

local function add_line(text, col)
	if #text > MAX_LINE_LEN then text = text:sub(1, MAX_LINE_LEN) .. "..." end
	lines[#lines + 1] = {text = clean(text), col = col or C_TEXT}
	if #lines > MAX_LINES then table.remove(lines, 1) end
	if scroll > 0 then
		scroll += rows_of(lines[#lines])
		need_full = true
	else
		new_rows += rows_of(lines[#lines])
	end
end

-- Output of the shell and of programs: a text of one or more lines.
local function out(text, kind)
	text = tostring(text)
	local col = KIND_COLOUR[kind] or C_TEXT
	local start = 1
	while true do
		local e = text:find("\n", start, true)
		if not e then
			add_line(text:sub(start), col)
			return
		end
		add_line(text:sub(start, e - 1), col)
		start = e + 1
	end
end

local function prompt_text()
	return st.cwd .. "> "
end

-- ----------------------------------------------------------------------
-- Layout

local function layout()
	local w, h = peek2(0x5478), peek2(0x547a)
	if w == W and h == H then return end
	W, H = w, h
	cols = max(8, (W - 2 * PAD) \ CW)
	rows = max(2, (H - 2 * PAD) \ LH)
	st.width = cols
	need_full = true
end

-- Rows of the prompt: the prompt text and the input, wrapped.
local function prompt_rows()
	local p = prompt_text()
	return max(1, (width_of(p) + width_of(input) + 1 + cols - 1) \ cols)
end

-- The cell (column, row within the prompt) of the cursor.
local function cursor_cell()
	local n = width_of(prompt_text()) + width_of(input:sub(1, cur))
	return n % cols, n \ cols
end

local function row_y(r) return PAD + r * LH end

-- ----------------------------------------------------------------------
-- Drawing

local function draw_text(s, x, y, col)
	if s ~= "" then _print_v7scii(s, x, y, col) end
end

-- One row of a line; a command echoed with its prompt has the prompt's
-- first pl bytes in the prompt colour.
local function draw_piece(piece, first, line, y)
	local pl = line.pl or 0
	local a = min(#piece, max(0, pl - first + 1))
	if a > 0 then draw_text(piece:sub(1, a), PAD, y, C_PROMPT) end
	draw_text(piece:sub(a + 1), PAD + width_of(piece:sub(1, a)) * CW, y, line.col)
end

-- Rows the newest lines take, counted up to limit.
local function content_rows(limit)
	local n = 0
	for i = #lines, 1, -1 do
		n += rows_of(lines[i])
		if n >= limit then return limit end
	end
	return n
end

-- Draws the prompt and the input from the given screen row on.
local function draw_prompt(top)
	local p = prompt_text()
	local line = {pl = #p, col = C_TEXT}
	local first = 1
	for i, piece in ipairs(wrap(p .. input, cols)) do
		draw_piece(piece, first, line, row_y(top + i - 1))
		first += #piece
	end
end

-- The character under the cursor, drawn with the cursor when it is on.
local function draw_cursor()
	local cx, cy = cursor_cell()
	local x, y = PAD + cx * CW, row_y(prompt_top + cy)
	rectfill(x, y, x + CW - 1, y + LH - 1, C_BG)
	local ch = input:sub(cur + 1, cur + 1)
	if blink_on then
		rectfill(x, y + 1, x + CW - 1, y + LH - 2, C_CURSOR)
		draw_text(ch, x, y, C_BG)
	else
		draw_text(ch, x, y, C_TEXT)
	end
end

-- Scrollback rows, newest at the bottom: the rows from top to bottom - 1,
-- after skipping the newest skip rows.
local function draw_scrollback(top, bottom, skip)
	local r = bottom - 1
	local i = #lines
	while i >= 1 and r >= top do
		local line = lines[i]
		local pieces = wrap(line.text, cols)
		local first = #line.text + 1
		for j = #pieces, 1, -1 do
			first -= #pieces[j]
			if skip > 0 then
				skip -= 1
			elseif r >= top then
				draw_piece(pieces[j], first, line, row_y(r))
				r -= 1
			end
		end
		i -= 1
	end
end

local function draw_scroll_mark(bottom)
	if scroll <= 0 or bottom < 1 then return end
	local label = "-- " .. scroll .. " more --"
	local x = W - PAD - #label * CW
	local y = row_y(bottom - 1)
	rectfill(x - 1, y, W - 1, y + LH - 1, 1)
	draw_text(label, x, y, C_CURSOR)
end

local function clear_rows(top, bottom)
	if bottom > top then rectfill(0, row_y(top), W - 1, row_y(bottom) - 1, C_BG) end
end

local function finish_prompt(pr)
	draw_prompt(prompt_top)
	draw_cursor()
	prompt_rows_drawn = pr
	new_rows = 0
end

-- The prompt follows the last line, or sits at the bottom once the
-- scrollback fills the window.
local function redraw_all()
	cls(C_BG)
	local pr = prompt_rows()
	prompt_top = content_rows(max(0, rows - pr))
	draw_scrollback(0, prompt_top, scroll)
	draw_scroll_mark(prompt_top)
	finish_prompt(pr)
end

-- Lines were added at the bottom: the picture moves up (a copy inside the
-- display memory) and only the new rows and the prompt are drawn.
local function draw_new_rows()
	local pr = prompt_rows()
	local avail = rows - pr
	local n = new_rows
	if scroll > 0 or pr ~= prompt_rows_drawn or n >= avail then return redraw_all() end
	local shift = max(0, prompt_top + n - avail)
	if shift > 0 then
		local dy = shift * LH
		memcpy(0x10000, 0x10000 + dy * W, (H - dy) * W)
		rectfill(0, 0, W - 1, PAD - 1, C_BG) -- the tail of a row that left
	end
	prompt_top = prompt_top + n - shift
	clear_rows(prompt_top - n, rows + 1)
	draw_scrollback(prompt_top - n, prompt_top, 0)
	finish_prompt(pr)
end

-- The input changed: only the prompt rows are drawn, unless the prompt
-- grew past the bottom or shrank.
local function redraw_prompt()
	local pr = prompt_rows()
	if pr < prompt_rows_drawn or prompt_top + pr > rows then return redraw_all() end
	clear_rows(prompt_top, prompt_top + pr)
	finish_prompt(pr)
end

-- ----------------------------------------------------------------------
-- Programs

local function forget_job(id)
	for i, j in ipairs(jobs) do
		if j.pid == id then
			table.remove(jobs, i)
			return true
		end
	end
	return false
end

local function stop_job()
	local j = jobs[#jobs]
	if not j then return false end
	forget_job(j.pid) -- no "ended" note after this one
	_kill_process(j.pid)
	out("^C (stopped " .. j.name .. ")", "note")
	return true
end

-- ----------------------------------------------------------------------
-- Running a line

local ctrl_c_seen, checks = false, 0

-- The name of a key message's key, and whether ctrl is down with it.
local function key_of(m)
	return type(m.key) == "string" and m.key or keys.name(tonumber(m.scancode) or 0)
end
local function with_ctrl(m)
	return m.ctrl or key("ctrl")
end

-- Asked every few thousand instructions while a line runs. Once it has run
-- for about a frame, messages that arrive are read (and kept for later) so
-- that ctrl+c can stop it.
local function interrupt_check()
	checks += 1
	if checks < 30 then return false end
	while true do
		local m = _read_message()
		if not m then return ctrl_c_seen end
		if m.event == "keydown" and key_of(m) == "c" and with_ctrl(m) then
			ctrl_c_seen = true
		else
			stash[#stash + 1] = m
		end
	end
end
st.interrupt_check = interrupt_check

-- The prompt and what was typed, kept in the scrollback.
local function echo(text)
	add_line(prompt_text() .. text, C_TEXT)
	lines[#lines].pl = #prompt_text()
end

local function submit()
	local line = input
	if scroll ~= 0 then scroll, need_full = 0, true end
	echo(line)
	input, cur, hist_pos, hist_saved = "", 0, nil, nil
	ctrl_c_seen, checks = false, 0
	local action, id = shell.run_line(st, line, out)
	-- messages read meanwhile go back to the queue, in the order they came
	for _, m in ipairs(stash) do send_message(pid(), m) end
	stash = {}
	if action == "clear" then
		lines, need_full = {}, true
	elseif action == "exit" then
		exit()
	elseif (action == "run" or action == "edit") and id then
		local words = shell.split_words(line) or {}
		local name = words[1] == "run" and words[2] or words[1] or "program"
		names[id] = name
		if action == "run" then jobs[#jobs + 1] = {pid = id, name = name} end
	end
	need_prompt = true
end

-- ----------------------------------------------------------------------
-- Line editing

local function set_input(s, c)
	input = s
	cur = mid(0, c or #s, #s)
	need_prompt = true
	blink_on, blink_t = true, 0
end

local function insert_text(s)
	s = s:gsub("\r\n", "\n"):gsub("[%c]", function(c) return c == "\n" and "\n" or "" end)
	-- pasted lines after the first are run one by one
	while true do
		local e = s:find("\n", 1, true)
		if not e then break end
		set_input(input:sub(1, cur) .. s:sub(1, e - 1) .. input:sub(cur + 1))
		submit()
		s = s:sub(e + 1)
	end
	if s ~= "" then set_input(input:sub(1, cur) .. s .. input:sub(cur + 1), cur + #s) end
	if scroll ~= 0 then scroll, need_full = 0, true end
end

local function history_move(d)
	local h = st.history
	if #h == 0 then return end
	if not hist_pos then
		if d > 0 then return end
		hist_saved, hist_pos = input, #h + 1
	end
	hist_pos = mid(1, hist_pos + d, #h + 1)
	set_input(hist_pos > #h and (hist_saved or "") or h[hist_pos])
end

local function word_left(s, c)
	while c > 0 and s:sub(c, c) == " " do c -= 1 end
	while c > 0 and s:sub(c, c) ~= " " do c -= 1 end
	return c
end

local function complete()
	local head = input:sub(1, cur)
	local done, found = shell.complete(st, head)
	if #found > 1 then
		echo(input)
		local shown = {}
		for i = 1, min(#found, 200) do shown[i] = found[i] end
		out(table.concat(shown, "  "))
	end
	set_input(done .. input:sub(cur + 1), #done)
end

local function page_rows() return max(1, rows - prompt_rows() - 1) end

local function scroll_by(n)
	local total = 0
	for _, l in ipairs(lines) do total += rows_of(l) end
	local limit = max(0, total - (rows - prompt_rows()))
	local s = mid(0, scroll + n, limit)
	if s ~= scroll then scroll, need_full = s, true end
end

local function paste()
	local t = get_clipboard and get_clipboard() or _get_userland_clipboard_text()
	if type(t) == "string" and t ~= "" then insert_text(t) end
end

-- Keys that repeat while held.
local REPEATS = {
	left = true, right = true, up = true, down = true, backspace = true,
	delete = true, pageup = true, pagedown = true,
}

local function on_key(ev)
	local k, ctrl = key_of(ev), with_ctrl(ev)
	if ctrl then
		if k == "c" then
			if not stop_job() then
				echo(input .. "^C")
				set_input("")
			end
		elseif k == "a" then set_input(input, 0)
		elseif k == "e" then set_input(input, #input)
		elseif k == "v" then paste()
		elseif k == "u" then set_input(input:sub(cur + 1), 0)
		elseif k == "k" then set_input(input:sub(1, cur), cur)
		elseif k == "w" then
			local c = word_left(input, cur)
			set_input(input:sub(1, c) .. input:sub(cur + 1), c)
		elseif k == "l" then
			lines, need_full = {}, true
		elseif k == "left" then set_input(input, word_left(input, cur))
		elseif k == "right" then
			local c = cur
			while c < #input and input:sub(c + 1, c + 1) == " " do c += 1 end
			while c < #input and input:sub(c + 1, c + 1) ~= " " do c += 1 end
			set_input(input, c)
		end
		return
	end
	if k == "enter" or k == "kp_enter" then submit()
	elseif k == "backspace" then
		if cur > 0 then set_input(input:sub(1, cur - 1) .. input:sub(cur + 1), cur - 1) end
	elseif k == "delete" then
		if cur < #input then set_input(input:sub(1, cur) .. input:sub(cur + 2), cur) end
	elseif k == "left" then set_input(input, cur - 1)
	elseif k == "right" then set_input(input, cur + 1)
	elseif k == "home" then set_input(input, 0)
	elseif k == "end" then set_input(input, #input)
	elseif k == "up" then history_move(-1)
	elseif k == "down" then history_move(1)
	elseif k == "pageup" then scroll_by(page_rows())
	elseif k == "pagedown" then scroll_by(-page_rows())
	elseif k == "tab" then complete()
	end
end

-- ----------------------------------------------------------------------
-- Messages

local function on_message(m)
	local ev = m.event
	if ev == "keydown" then
		on_key(m)
		held = REPEATS[key_of(m)] and {ev = m, t = 0} or nil
	elseif ev == "keyup" then
		if held and held.ev.scancode == m.scancode then held = nil end
	elseif ev == "textinput" then
		if type(m.text) == "string" then insert_text(m.text) end
	elseif ev == "mousewheel" then
		scroll_by((tonumber(m.wheel_y) or 0) * 3)
	elseif ev == "focus" then
		-- the cursor blinks only in the focused window
		held = nil
		focused = m.on and true or false
		blink_on, blink_t, need_cursor = focused, 0, true
	elseif ev == "print" then
		out(tostring(m.text or ""))
	elseif ev == "child_error" then
		local id = m.proc_id
		endings[id] = nil -- the error says it all
		local msg = tostring(m.message or "runtime error")
		-- most messages begin with the place of the error, naming the file
		if msg:sub(1, 1) ~= "/" then msg = (names[id] or "program " .. tostring(id)) .. ": " .. msg end
		out("** " .. msg, "error")
		local tb = tostring(m.traceback or ""):gsub("%s+$", "")
		if tb ~= "" then out(tb, "error") end
	elseif ev == "child_completed" then
		-- the window manager's crash report comes after the kernel's
		-- completion message: the ending is told a little later, unless an
		-- error came meanwhile
		if forget_job(m.proc_id) then endings[m.proc_id] = frame + 20 end
	end
end

for _, name in ipairs{"keydown", "keyup", "textinput", "mousewheel", "focus",
		"print", "child_error", "child_completed"} do
	on_event(name, on_message)
end

-- ----------------------------------------------------------------------
-- Program frame

function _init()
	window{width = 320, height = 180, title = "terminal", resizable = true}
	make_font()
	out("kestrane terminal - type help for the commands", "note")
end

local function tell_endings()
	for id, at in pairs(endings) do
		if frame >= at then
			endings[id] = nil
			out(names[id] .. " ended", "note")
		end
	end
end

function _update()
	frame += 1
	if next(endings) then tell_endings() end
	readtext() -- text arrives as textinput messages; keep the queue empty
	if held then
		held.t += 1
		if not key(key_of(held.ev)) then
			held = nil
		elseif held.t > 20 and held.t % 2 == 0 then
			on_key(held.ev)
		end
	end
	blink_t += 1
	if focused and blink_t >= BLINK then
		blink_t, blink_on = 0, not blink_on
		need_cursor = true
	end
end

function _draw()
	layout()
	if need_full then
		redraw_all()
	elseif new_rows > 0 then
		draw_new_rows()
	elseif need_prompt then
		redraw_prompt()
	elseif need_cursor then
		draw_cursor()
	end
	need_full, need_prompt, need_cursor = false, false, false
end
