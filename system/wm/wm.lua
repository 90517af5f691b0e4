-- Process 3: the window manager and desktop. Draws the desktop, the top bar
-- and the windows of other programs (copied from their displays), routes
-- the kernel's input to the focused window, shows notifications and crash
-- reports, and starts programs from its menu.
--
-- Messages it answers besides those of docs/system.md:
--   {event="list_windows"} -> {event="windows", list={{pid=, x=, y=,
--       width=, height=, title=, focused=, fullscreen=}, ...}} (bottom first)
--   {event="stalled", pid=, frames=} from the scheduler: a program with a
--       window that stopped completing frames is closed and reported.
-- Input messages (keydown, keyup, textinput, mouse, mousewheel) are taken
-- from the kernel and from system programs (trusted senders), so that
-- system tools and tests can type and click.

local function need(path)
	local src = fetch(path)
	if type(src) ~= "string" then error("cannot read " .. path, 0) end
	local f, err = load(src, "@" .. path, "t")
	if not f then error(err, 0) end
	return f()
end

local theme = need("/system/wm/theme.lua")
local keys = need("/system/lib/keys.lua")
local launch = need("/system/lib/launch.lua")
local C = theme.C

local BOOT = 1
local SYSD = 2
local W, H = theme.W, theme.H
local BAR_H, TITLE_H = theme.BAR_H, theme.TITLE_H
local TERMINAL = "/system/apps/terminal.lua"
local EDITOR = "/system/apps/edit.lua"
local DEMOS = "/system/demos"
local AUTOSTART = "/system/autostart"
local TOAST_FRAMES = 240
local MAX_TITLE = 120   -- bytes of a window title kept (more never fits)
local ERROR_TOAST_FRAMES = 600

-------------------------------------------------------------- state

local screen = userdata("u8", W, H)
_map_ram(screen, 0x10000)
_set_draw_target(screen)
poke2(0x5478, W)
poke2(0x547A, H)
theme.init()
local background = theme.make_background()
local pointer = theme.make_pointer()
_set_draw_target(screen)

local windows = {}     -- bottom first
local focus = nil      -- the focused window
local programs = {}    -- pid -> {parent=, path=} from program_start
local errors = {}      -- pid -> error report being collected
local toasts = {}
local frame = 0

local mx, my, mb = 0, 0, 0
local pointer_seen = false
local mods = {ctrl = false, shift = false, alt = false, gui = false}
local drag = nil       -- {win=, mode="move"|"resize", dx=, dy=}
local capture = false  -- a press that began in the focused content
local menu = nil       -- open menu: {items=, x=, y=, w=, hi=}

-------------------------------------------------------------- helpers

local function basename(path)
	return (path or ""):match("([^/]+)$") or tostring(path)
end

local function program_name(pid)
	local p = programs[pid]
	if p and p.path then return basename(p.path) end
	return "program " .. tostring(pid)
end

local function toast(text, kind)
	local frames = kind == "error" and ERROR_TOAST_FRAMES or TOAST_FRAMES
	-- a toast shows a few lines; the rest of a long text is never seen
	text = tostring(text):sub(1, 1000)
	table.insert(toasts, 1, {text = text, kind = kind or "info", until_frame = frame + frames})
	while #toasts > 5 do table.remove(toasts) end
end

local function window_of(pid)
	for i, w in ipairs(windows) do
		if w.pid == pid then return w, i end
	end
end

local function alive(pid)
	local s = _process_state(pid)
	return s == 0
end

-- outer rectangle of a window, border included
local function outer(w)
	if w.fullscreen then return 0, 0, W - 1, H - 1 end
	return w.x - 1, w.y - TITLE_H - 1, w.x + w.width, w.y + w.height
end

local function close_box(w)
	local x1 = w.x + w.width - 2
	local y0 = w.y - TITLE_H + 1
	return x1 - 8, y0, x1, y0 + 8
end

local function inside(x, y, x0, y0, x1, y1)
	return x >= x0 and x <= x1 and y >= y0 and y <= y1
end

-------------------------------------------------------------- focus

local function set_focus(w)
	if w == focus then return end
	if focus and alive(focus.pid) then
		send_message(focus.pid, {event = "focus", on = false})
	end
	focus = w
	capture = false
	if w then send_message(w.pid, {event = "focus", on = true}) end
	send_message(BOOT, {event = "focus_pid", pid = w and w.pid or 0})
end

local function raise(w)
	local _, i = window_of(w.pid)
	if i then
		table.remove(windows, i)
		windows[#windows + 1] = w
	end
end

local function focus_top()
	set_focus(windows[#windows])
end

-------------------------------------------------------------- windows

local MAX_W, MAX_H = W - 2, H - BAR_H - TITLE_H - 2

local function clamp_position(w)
	if w.fullscreen then return end
	w.x = mid(1, w.x, W - w.width - 1)
	w.y = mid(BAR_H + TITLE_H + 1, w.y, H - w.height - 1)
end

local function answer_size(w)
	local width, height = w.width, w.height
	if w.fullscreen then width, height = W, H end
	send_message(w.pid, {event = "window_resized", width = width, height = height,
		fullscreen = w.fullscreen})
end

local function apply_request(w, m)
	if type(m.title) == "string" then w.title = m.title:sub(1, MAX_TITLE) end
	if m.resizable ~= nil then w.resizable = m.resizable and true or false end
	if m.fullscreen ~= nil then w.fullscreen = m.fullscreen and true or false end
	local width, height = tonumber(m.width), tonumber(m.height)
	if width then w.width = mid(16, flr(width), MAX_W) end
	if height then w.height = mid(8, flr(height), MAX_H) end
	clamp_position(w)
end

local placed = 0

local function new_window(pid, m)
	local w = {pid = pid, x = 0, y = 0, width = 320, height = 180,
		title = program_name(pid), resizable = false, fullscreen = false}
	apply_request(w, m)
	local k = placed % 8
	placed += 1
	w.x = 24 + k * 16
	w.y = BAR_H + TITLE_H + 10 + k * 12
	clamp_position(w)
	windows[#windows + 1] = w
	return w
end

local function remove_window(w)
	local _, i = window_of(w.pid)
	if not i then return end
	table.remove(windows, i)
	if drag and drag.win == w then drag = nil end
	if focus == w then
		focus = nil
		focus_top()
	end
end

local function toggle_fullscreen(w)
	w.fullscreen = not w.fullscreen
	clamp_position(w)
	answer_size(w)
end

-- The close box asks the program to close (it may answer otherwise, for
-- example to ask about unsaved work). Clicking it again when the program
-- has not closed two seconds after the first request ends it by force.
local FORCE_CLOSE_FRAMES = 120

local function close_window(w)
	if w.close_asked and frame - w.close_asked >= FORCE_CLOSE_FRAMES then
		_kill_process(w.pid, 0)
		remove_window(w)
		return
	end
	w.close_asked = w.close_asked or frame
	send_message(w.pid, {event = "close_request"})
end

-------------------------------------------------------------- errors

local function report_crash(pid, rec)
	local message = rec.message or rec.kind or "error"
	local p = programs[pid]
	local parent = p and p.parent
	if parent and parent > 3 and alive(parent) then
		send_message(parent, {event = "child_error", proc_id = pid,
			message = message, traceback = rec.traceback or ""})
	elseif rec.kind or not alive(pid) then
		toast(program_name(pid) .. " stopped: " .. message, "error")
	else
		toast(program_name(pid) .. ": " .. message, "error")
	end
	local w = window_of(pid)
	if w and not alive(pid) then remove_window(w) end
end

-- The kernel reports a crash as three messages from the crashed process:
-- "*runtime error", the message, then the traceback. Out of memory is one
-- message. Anything else a program reports is shown as it is.
local function on_report(m)
	local pid, text = m._from, tostring(m.content or "")
	if type(pid) ~= "number" then return end
	local rec = errors[pid]
	if text == "*runtime error: out of memory" then
		errors[pid] = nil
		report_crash(pid, {message = "out of memory"})
	elseif text == "*runtime error" or text == "*syntax error" then
		errors[pid] = {kind = text:sub(2)}
	elseif rec and not rec.message then
		rec.message = text
		if rec.kind == "syntax error" then
			errors[pid] = nil
			report_crash(pid, rec)
		end
	elseif rec then
		rec.traceback = text
		errors[pid] = nil
		report_crash(pid, rec)
	else
		errors[pid] = {message = text}
	end
end

local function flush_errors()
	for pid, rec in pairs(errors) do
		errors[pid] = nil
		report_crash(pid, rec)
	end
end

-------------------------------------------------------------- programs

local function start(path, argv)
	local id, err = launch(path, {argv = argv, pwd = "/", parent = pid()})
	if not id then toast(err or ("could not start " .. path), "error") end
	return id
end

local function open_file(path)
	if type(path) == "string" and path ~= "" then start(EDITOR, {path}) end
end

local function list_demos()
	local items = {}
	local names = ls(DEMOS)
	if type(names) ~= "table" then return items end
	for _, name in ipairs(names) do
		if type(name) == "string" and name ~= "" then
			local label = name:gsub("%.k64%.rom$", ""):gsub("%.k64%.png$", ""):gsub("%.k64$", ""):gsub("%.lua$", "")
			items[#items + 1] = {label = label, path = DEMOS .. "/" .. name}
			-- the menu has to fit on the screen
			if #items >= 16 then break end
		end
	end
	return items
end

-------------------------------------------------------------- menu

local function open_menu()
	local items = {
		{label = "Terminal", action = function() start(TERMINAL) end},
		{label = "Editor", action = function() start(EDITOR) end},
	}
	local demos = list_demos()
	if #demos > 0 then
		items[#items + 1] = {sep = true}
		for _, d in ipairs(demos) do
			items[#items + 1] = {label = d.label, action = function() start(d.path) end}
		end
	end
	items[#items + 1] = {sep = true}
	items[#items + 1] = {label = "Reboot", action = function() _signal(34) end}
	items[#items + 1] = {label = "Shut down", action = function() _signal(33) end}
	local w = 60
	for _, it in ipairs(items) do
		if it.label then w = max(w, theme.text_width(it.label) + 16) end
	end
	menu = {items = items, x = 1, y = BAR_H, w = w}
	local y = menu.y + 2
	for _, it in ipairs(items) do
		it.y = y
		y += it.sep and 5 or 11
	end
	menu.h = y - menu.y + 1
end

local function menu_item_at(x, y)
	if not menu or x < menu.x or x >= menu.x + menu.w then return nil end
	for _, it in ipairs(menu.items) do
		if not it.sep and y >= it.y and y < it.y + 11 then return it end
	end
end

-------------------------------------------------------------- input

local function forward(m)
	if focus then send_message(focus.pid, m) end
end

local function key_message(ev, scancode)
	return {event = ev, scancode = scancode, key = keys.name(scancode),
		ctrl = mods.ctrl, shift = mods.shift, alt = mods.alt}
end

-- shortcuts of the window manager itself (not passed on)
local function shortcut(name)
	if menu and name == "escape" then menu = nil return true end
	if not mods.alt then return false end
	if name == "tab" and #windows > 0 then
		local w = windows[1]
		raise(w)
		set_focus(w)
		return true
	elseif name == "f4" and focus then
		close_window(focus)
		return true
	elseif name == "enter" and focus then
		toggle_fullscreen(focus)
		return true
	end
	return false
end

local swallowed = {}   -- scancodes whose keydown was a shortcut
local mod_keys = {}    -- scancode -> true while that modifier key is held

local function on_keydown(m)
	local sc = tonumber(m.scancode)
	if not sc then return end
	local group = keys.modifier[sc]
	if group then
		mods[group] = true
		mod_keys[sc] = true
	end
	if shortcut(keys.name(sc)) then
		swallowed[sc] = true
		return
	end
	forward(key_message("keydown", sc))
end

local function on_keyup(m)
	local sc = tonumber(m.scancode)
	if not sc then return end
	local group = keys.modifier[sc]
	if group then
		-- the group stays down while its other key is held
		mod_keys[sc] = nil
		local a, b = table.unpack(keys.groups[group])
		mods[group] = mod_keys[keys.codes[a]] or mod_keys[keys.codes[b]] or false
	end
	if swallowed[sc] then
		swallowed[sc] = nil
		return
	end
	forward(key_message("keyup", sc))
end

local function window_at(x, y)
	for i = #windows, 1, -1 do
		local w = windows[i]
		if inside(x, y, outer(w)) then return w end
	end
end

local function send_mouse()
	if not focus then return end
	send_message(focus.pid, {event = "mouse", mx = mx - (focus.fullscreen and 0 or focus.x),
		my = my - (focus.fullscreen and 0 or focus.y), mb = capture and mb or 0})
end

local function in_content(w, x, y)
	if w.fullscreen then return true end
	return inside(x, y, w.x, w.y, w.x + w.width - 1, w.y + w.height - 1)
end

local function bar_visible()
	local top = windows[#windows]
	if menu or not (top and top.fullscreen and top == focus) then return true end
	return pointer_seen and my < 2
end

local function press(x, y)
	if menu then
		local it = menu_item_at(x, y)
		menu = nil
		if it then it.action() end
		return
	end
	if bar_visible() and y < BAR_H then
		if x < 40 then open_menu() end
		return
	end
	local w = window_at(x, y)
	if not w then return end
	raise(w)
	set_focus(w)
	if in_content(w, x, y) then
		local x0, y0, x1, y1 = outer(w)
		if w.resizable and not w.fullscreen and x >= x1 - 5 and y >= y1 - 5 then
			drag = {win = w, mode = "resize", dx = x1 - x, dy = y1 - y}
			return
		end
		capture = true
		return
	end
	if inside(x, y, close_box(w)) then
		close_window(w)
		return
	end
	drag = {win = w, mode = "move", dx = x - w.x, dy = y - w.y}
end

local function do_drag()
	local w = drag.win
	if drag.mode == "move" then
		w.x, w.y = mx - drag.dx, my - drag.dy
		clamp_position(w)
	else
		local width = mid(32, mx + drag.dx - w.x, W - 1 - w.x)
		local height = mid(16, my + drag.dy - w.y, H - 1 - w.y)
		if width ~= w.width or height ~= w.height then
			w.width, w.height = width, height
			w.resized = true
		end
	end
end

local function end_drag()
	local w = drag.win
	drag = nil
	if w.resized then
		w.resized = nil
		answer_size(w)
	end
end

local function on_mouse(m)
	local px, py, pb = mx, my, mb
	mx, my, mb = tonumber(m.mx) or mx, tonumber(m.my) or my, tonumber(m.mb) or mb
	pointer_seen = true
	local down = (mb & 1) ~= 0 and (pb & 1) == 0
	local up = (mb & 1) == 0 and (pb & 1) ~= 0
	if down then
		press(mx, my)
	elseif mb ~= 0 and pb == 0 then
		-- right or middle press: focus the window under the pointer
		local w = window_at(mx, my)
		if w and w ~= focus then raise(w) set_focus(w) end
		if w and w == focus and in_content(w, mx, my) then capture = true end
	end
	if drag then
		do_drag()
		if up then end_drag() end
		return
	end
	if focus and (capture or in_content(focus, mx, my) or in_content(focus, px, py)) then
		send_mouse()
	end
	if mb == 0 then capture = false end
	if menu then
		local it = menu_item_at(mx, my)
		menu.hi = it
	end
end

local function on_wheel(m)
	local w = window_at(mx, my) or focus
	if w then
		send_message(w.pid, {event = "mousewheel", wheel_x = tonumber(m.wheel_x) or 0,
			wheel_y = tonumber(m.wheel_y) or 0})
	end
end

-------------------------------------------------------------- messages

local handlers = {}

-- input comes from the kernel (no sender) or from system programs
local function trusted_input(m)
	return m._from == nil or (type(m._flags) == "number" and (m._flags & 1) ~= 0)
end

handlers.keydown = function(m) if trusted_input(m) then on_keydown(m) end end
handlers.keyup = function(m) if trusted_input(m) then on_keyup(m) end end
handlers.textinput = function(m)
	if trusted_input(m) and type(m.text) == "string" then
		forward({event = "textinput", text = m.text})
	end
end
handlers.mouse = function(m) if trusted_input(m) then on_mouse(m) end end
handlers.mousewheel = function(m) if trusted_input(m) then on_wheel(m) end end
handlers.mouselockedmove = function(m)
	if trusted_input(m) then
		forward({event = "mouselockedmove", locked_dx = m.locked_dx, locked_dy = m.locked_dy})
	end
end

handlers.program_start = function(m)
	programs[m._from] = {parent = tonumber(m.parent), path = tostring(m.path or "")}
end

handlers.window_request = function(m)
	local pid = m._from
	if not pid or pid <= 3 then return end
	local w = window_of(pid)
	if w then
		apply_request(w, m)
	else
		w = new_window(pid, m)
		set_focus(w)
	end
	answer_size(w)
end

handlers.window_title = function(m)
	local w = window_of(m._from)
	if w and type(m.title) == "string" then w.title = m.title:sub(1, MAX_TITLE) end
end

handlers.exit_notice = function(m)
	local w = window_of(m._from)
	if w then remove_window(w) end
end

handlers.open_file = function(m) open_file(m.path) end

handlers.user_notification = function(m)
	toast(m.content or "")
end

handlers.report_error = on_report

-- posted by the kernel in the name of process 2; from anyone else it could
-- close any window
handlers.child_completed = function(m)
	if m._from ~= SYSD then return end
	local w = window_of(tonumber(m.proc_id))
	if w then remove_window(w) end
end

handlers.drop_items = function(m)
	if not trusted_input(m) or type(m.items) ~= "table" then return end
	for _, it in ipairs(m.items) do
		if type(it) == "table" then open_file(it.location) end
	end
end

handlers.stalled = function(m)
	if m._from ~= BOOT then return end
	local pid = tonumber(m.pid)
	local w = pid and window_of(pid)
	if not w then return end
	-- the parent hears of the error before the kernel says the child ended
	errors[pid] = nil
	report_crash(pid, {kind = "stalled", message = "not responding (no frame for "
		.. flr((tonumber(m.frames) or 0) / 60) .. " seconds); closed"})
	_kill_process(pid, 0)
	remove_window(w)
end

handlers.list_windows = function(m)
	if type(m._from) ~= "number" then return end
	local list = {}
	for _, w in ipairs(windows) do
		list[#list + 1] = {pid = w.pid, x = w.x, y = w.y, width = w.width, height = w.height,
			title = w.title, focused = w == focus, fullscreen = w.fullscreen}
	end
	send_message(m._from, {event = "windows", list = list})
end

local function handle(m)
	local h = handlers[m.event]
	if h then
		local ok, err = pcall(h, m)
		if not ok then printh("wm: " .. tostring(m.event) .. ": " .. tostring(err)) end
	end
end

-- "down" or "up" for a modifier key message, else nil
local function modifier_change(m)
	if m.event ~= "keydown" and m.event ~= "keyup" then return nil end
	if not keys.modifier[tonumber(m.scancode)] then return nil end
	return m.event == "keydown" and "down" or "up"
end

-- The kernel posts one frame's key changes in scancode order, so ctrl+s
-- typed within one frame arrives as "s" before "lctrl". Of the messages
-- read in one frame, the modifiers that went down are applied first and
-- those that went up last, so that the other keys are forwarded with the
-- modifiers that were held with them (also for ctrl down, c down, c up,
-- ctrl up sent together by a system program).
local function read_messages()
	local batch = {}
	local m = _read_message()
	while m do
		if type(m) == "table" then batch[#batch + 1] = m end
		m = _read_message()
	end
	for _, phase in ipairs({"down", false, "up"}) do
		for _, b in ipairs(batch) do
			if (modifier_change(b) or false) == phase then handle(b) end
		end
	end
	flush_errors()
end

-- windows whose program has gone without saying so
local function drop_dead_windows()
	for i = #windows, 1, -1 do
		local w = windows[i]
		if not alive(w.pid) then remove_window(w) end
	end
	for pid in pairs(programs) do
		if _process_state(pid) == -1 and not errors[pid] then programs[pid] = nil end
	end
end

-------------------------------------------------------------- drawing

local function draw_bar()
	rectfill(0, 0, W - 1, BAR_H - 1, C.bar)
	local menu_on = menu ~= nil
	if menu_on then rectfill(0, 0, 38, BAR_H - 1, C.menu_hi) end
	-- the system mark: a small filled diamond, then the menu title
	local cx, cy = 7, 5
	for d = 0, 3 do
		line(cx - 3 + d, cy - d, cx + 3 - d, cy - d, C.accent)
		line(cx - 3 + d, cy + d, cx + 3 - d, cy + d, C.accent)
	end
	theme.text("Menu", 14, 2, C.bar_text)
	if focus and focus.title then
		local t = theme.fit(focus.title, 220)
		theme.text(t, 48, 2, C.bar_dim)
	end
	local clock = date("%a %d %b  %H:%M")
	theme.text(clock, W - 4 - theme.text_width(clock), 2, C.bar_text)
end

local function draw_cache(w)
	local width, height = w.width, w.height
	if w.fullscreen then width, height = W, H end
	if not w.cache or w.cache_w ~= width or w.cache_h ~= height then
		w.cache = userdata("u8", width, height)
		w.cache_w, w.cache_h = width, height
	end
	local dw, dh = _get_process_display_size(w.pid)
	if dw and dh and dw > 0 and dh > 0 then
		_set_draw_target(w.cache)
		_blit_process_video(w.pid, 0, 0, min(width, dw), min(height, dh), 0, 0)
		_set_draw_target(screen)
	end
	return width, height
end

local function draw_window(w)
	local width, height = draw_cache(w)
	if w.fullscreen then
		blit(w.cache, screen, 0, 0, 0, 0, width, height)
		return
	end
	local x0, y0, x1, y1 = outer(w)
	-- shadow, frame and title bar
	theme.shade(x0 + 3, y1 + 1, x1 + 3, y1 + 3)
	theme.shade(x1 + 1, y0 + 3, x1 + 3, y1)
	rect(x0, y0, x1, y1, C.border)
	local on = w == focus
	rectfill(x0 + 1, y0 + 1, x1 - 1, w.y - 1, on and C.title_on or C.title_off)
	local cx0, cy0, cx1, cy1 = close_box(w)
	local hover = inside(mx, my, cx0, cy0, cx1, cy1)
	if hover then rectfill(cx0, cy0, cx1, cy1, C.close) end
	local xcol = (hover or on) and C.title_text_on or C.title_text_off
	line(cx0 + 2, cy0 + 2, cx1 - 2, cy1 - 2, xcol)
	line(cx0 + 2, cy1 - 2, cx1 - 2, cy0 + 2, xcol)
	local title = theme.fit(w.title or "", w.width - 16)
	theme.text(title, w.x + 3, y0 + 3, on and C.title_text_on or C.title_text_off)
	blit(w.cache, screen, 0, 0, w.x, w.y, width, height)
	if w.resizable and on then
		for k = 1, 3 do
			line(x1 - 1 - 2 * k, y1 - 1, x1 - 1, y1 - 1 - 2 * k, C.menu_sep)
		end
	end
end

local function draw_menu()
	local x0, y0 = menu.x, menu.y
	local x1, y1 = x0 + menu.w - 1, y0 + menu.h - 1
	theme.shade(x0 + 2, y1 + 1, x1 + 2, y1 + 2)
	theme.shade(x1 + 1, y0 + 2, x1 + 2, y1)
	rectfill(x0, y0, x1, y1, C.menu_bg)
	rect(x0, y0, x1, y1, C.border)
	for _, it in ipairs(menu.items) do
		if it.sep then
			line(x0 + 4, it.y + 2, x1 - 4, it.y + 2, C.menu_sep)
		else
			local hi = menu.hi == it
			if hi then rectfill(x0 + 1, it.y, x1 - 1, it.y + 10, C.menu_hi) end
			theme.text(it.label, x0 + 8, it.y + 2, hi and C.white or C.menu_text)
		end
	end
end

local function draw_toasts()
	local y = H - 6
	for i = #toasts, 1, -1 do
		if toasts[i].until_frame < frame then table.remove(toasts, i) end
	end
	for _, t in ipairs(toasts) do
		t.lines = t.lines or theme.wrap(t.text, 196, 6)
		local h = #t.lines * 9 + 6
		local x0, x1 = W - 214, W - 6
		local y0 = y - h
		theme.shade(x0 + 2, y0 + 2, x1 + 2, y + 2)
		rectfill(x0, y0, x1, y, C.toast_bg)
		rectfill(x0, y0, x0 + 2, y, t.kind == "error" and C.error or C.accent)
		for k, l in ipairs(t.lines) do
			theme.text(l, x0 + 8, y0 + 4 + (k - 1) * 9, C.bar_text)
		end
		t.x0, t.y0, t.x1, t.y1 = x0, y0, x1, y
		y = y0 - 4
		if y < BAR_H + 20 then break end
	end
end

local function draw()
	blit(background, screen)
	for _, w in ipairs(windows) do
		draw_window(w)
	end
	if bar_visible() then draw_bar() end
	if menu then draw_menu() end
	draw_toasts()
	if pointer_seen then spr(pointer, mx, my) end
end

-------------------------------------------------------------- start

-- A restarted window manager tells running programs, which ask for their
-- windows again; a first start runs the autostart programs instead.
local function greet_or_autostart()
	local others = false
	for _, p in ipairs(_get_process_list()) do
		if p.id > 3 then
			others = true
			send_message(p.id, {event = "wm_hello"})
		end
	end
	if others then return end
	local names = ls(AUTOSTART)
	if type(names) ~= "table" then return end
	for _, name in ipairs(names) do
		if type(name) == "string" and name:find("%.lua$") then
			start(AUTOSTART .. "/" .. name)
		end
	end
end

local function step()
	read_messages()
	if frame % 30 == 0 then drop_dead_windows() end
	draw()
end

while true do
	local ok, err = pcall(step)
	if not ok then
		printh("wm: " .. tostring(err))
		_set_draw_target(screen)
	end
	frame += 1
	if frame == 1 then
		_signal(37)
		greet_or_autostart()
	end
	flip()
end
