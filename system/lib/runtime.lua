-- The program runtime: runs in every program's process before the program's
-- own code. It sets up the display and draw state, keeps the input state
-- that the window manager forwards, sends print output to the parent, talks
-- to the window manager about the program's window, and runs the frame loop.
--
-- launch() sets the global _launch_info before loading this file:
--   {argv = {...}, path = launched path, main = file to run, pwd = folder,
--    parent = id or nil, window = bool}

local info = _launch_info or {}
_launch_info = nil

local WM = 3
local SYSD = 2
local ME = pid()
local PARENT = tonumber(info.parent)

local kernel_print = print
local kernel_flip = flip
local send = send_message

-------------------------------------------------------------- modules

local modules = {}

-- the folder of the program's own file
local HOME = type(info.main) == "string" and info.main:match("^(.*)/[^/]*$") or nil

local function module_path(name)
	if name:sub(1, 1) == "/" then return name end
	if not name:find("%.lua$") then return "/system/lib/" .. name .. ".lua" end
	if HOME and HOME ~= "" then
		local beside = HOME .. "/" .. name
		if fstat(beside) == "file" then return beside end
	end
	return fullpath(name) or name
end

-- include(name): "x" loads /system/lib/x.lua; "/a/b.lua" an absolute path;
-- "b.lua" a file beside the program (or else in the working directory).
-- Each file is run once and its result kept.
function include(name)
	if type(name) ~= "string" or name == "" then
		error("include: expected a module name", 2)
	end
	local path = module_path(name)
	local found = modules[path]
	if found ~= nil then return found end
	local src = fetch(path)
	if type(src) ~= "string" then
		error("include: cannot read " .. path, 2)
	end
	local chunk, err = load(src, "@" .. path, "t")
	if not chunk then error(err, 0) end
	local value = chunk()
	if value == nil then value = true end
	modules[path] = value
	return value
end

local keys = include("keys")

-------------------------------------------------------------- display

local MAX_W, MAX_H = 480, 270
local display, disp_w, disp_h

local function clamp_size(v, hi, default)
	v = tonumber(v)
	if not v then return default end
	return mid(1, flr(v), hi)
end

-- A new display bitmap of w x h over video memory, made the draw target.
local function set_display(w, h)
	w, h = clamp_size(w, MAX_W, MAX_W), clamp_size(h, MAX_H, MAX_H)
	if display and w == disp_w and h == disp_h then return end
	local d = userdata("u8", w, h)
	if display then _unmap_ram(display) end
	_map_ram(d, 0x10000)
	_set_draw_target(d)
	poke2(0x5478, w)
	poke2(0x547A, h)
	display, disp_w, disp_h = d, w, h
end

function get_display()
	return display
end

function display_size()
	return disp_w, disp_h
end

-- A fresh process has every mask at 0 (nothing would show), no font and
-- black palettes.
local function init_draw_state()
	poke4(0x5508, 0x3f3f3f3f) -- source, write, sprite target and target masks
	pal()
	pal(2)
	local hex = fetch("/system/lib/font.hex")
	if type(hex) == "string" then
		local font = userdata("u8", 4096, hex)
		if font then font:poke(0x4000) end
	end
	poke(0x5F56, 0x40)
	poke(0x5F57, 0x40)
	set_display(MAX_W, MAX_H)
	color(7)
	cls(0)
end

-------------------------------------------------------------- input

local REPEAT_DELAY, REPEAT_EVERY = 24, 3
local held = {}      -- key name -> frames held (0 in the frame it went down)
local pressed = {}   -- key name -> true in the frame a keydown arrived
local typed = {}     -- pieces of text since the last readtext()
local typed_len = 0
local mouse_x, mouse_y, mouse_b = 0, 0, 0
local clicked = 0    -- buttons pressed this frame, even if already released
local wheel_x, wheel_y = 0, 0
local focused = false

local function any_of(name, test)
	local group = keys.groups[name]
	if not group then return test(name) end
	for _, n in ipairs(group) do
		if test(n) then return true end
	end
	return false
end

local function is_held(n) return held[n] ~= nil end

local function is_pressed(n)
	if pressed[n] then return true end
	local t = held[n]
	return t ~= nil and t >= REPEAT_DELAY and (t - REPEAT_DELAY) % REPEAT_EVERY == 0
end

-- key(name): held now
function key(name)
	return any_of(name, is_held)
end

-- keyp(name): went down this frame, or repeats while held
function keyp(name)
	return any_of(name, is_pressed)
end

function readtext()
	if typed_len == 0 then return nil end
	local s = table.concat(typed)
	typed, typed_len = {}, 0
	return s
end

function mouse()
	return mouse_x, mouse_y, mouse_b | clicked, wheel_x, wheel_y
end

local function release_all_keys()
	held, pressed = {}, {}
end

local function key_name(m)
	if type(m.key) == "string" then return m.key end
	return keys.name(tonumber(m.scancode) or 0)
end

-------------------------------------------------------------- window

local win = nil          -- the last window request, once one was made
local exiting = false

local function request_window()
	send(WM, {event = "window_request", width = win.width, height = win.height,
		title = win.title, resizable = win.resizable, fullscreen = win.fullscreen})
end

-- window{width=, height=, title=, resizable=, fullscreen=}: asks the window
-- manager for a window (or changes the one the program has). The display
-- takes the asked size at once; the manager's answer may change it.
function window(t)
	if t == nil then t = {} end
	if type(t) ~= "table" then error("window: expected a table of options", 2) end
	local first = win == nil
	win = win or {width = 320, height = 180, title = nil, resizable = false, fullscreen = false}
	for _, k in ipairs({"width", "height", "title", "resizable", "fullscreen"}) do
		if t[k] ~= nil then win[k] = t[k] end
	end
	if win.title == nil then win.title = info.name end
	if type(win.title) ~= "string" then win.title = tostring(win.title) end
	if win.fullscreen then
		set_display(MAX_W, MAX_H)
	elseif first or t.width or t.height then
		set_display(win.width, win.height)
	end
	win.width, win.height = disp_w, disp_h
	-- a title alone changes only the title
	local only_title = t.title ~= nil and next(t, "title") == nil and next(t) == "title"
	if not first and only_title then
		send(WM, {event = "window_title", title = win.title})
	else
		request_window()
	end
	return disp_w, disp_h
end

-------------------------------------------------------------- output

local function joined(...)
	local n = select("#", ...)
	local parts = {}
	for i = 1, n do
		parts[i] = tostring((select(i, ...)))
	end
	return table.concat(parts, "\t")
end

-- print(...) sends a line to the parent program (a terminal), or to
-- standard output when the program was started by the system itself.
-- Text is drawn on the display with _print_v7scii(text, x, y, col).
function print(...)
	local text = joined(...)
	if PARENT and PARENT > 3 then
		send(PARENT, {event = "print", text = text})
	else
		kernel_print(text)
	end
end

function notify(text)
	send(WM, {event = "user_notification", content = tostring(text)})
end

function get_clipboard()
	local host = _get_host_clipboard_text and _get_host_clipboard_text()
	if type(host) == "string" and host ~= "" then return host end
	return _get_userland_clipboard_text() or ""
end

function set_clipboard(text)
	text = tostring(text)
	_set_userland_clipboard_text(text)
	if _set_host_clipboard_text then _set_host_clipboard_text(text) end
end

function env()
	local argv = {}
	for i, a in ipairs(info.argv or {}) do argv[i] = a end
	return {argv = argv, path = info.path, main = info.main, parent = PARENT,
		pwd = info.pwd, name = info.name}
end

-------------------------------------------------------------- messages

local handlers = {}

-- on_event(name, fn): fn(msg) runs for every message whose event is name
-- (after the runtime's own handling); fn = nil removes it.
function on_event(name, fn)
	if type(name) ~= "string" then error("on_event: expected an event name", 2) end
	if fn ~= nil and type(fn) ~= "function" then error("on_event: expected a function", 2) end
	handlers[name] = fn
end

local function announce()
	local m = {event = "program_start", parent = PARENT, path = info.path}
	send(WM, m)
	send(SYSD, {event = "program_start", parent = PARENT, path = info.path})
end

local builtin = {}

function builtin.keydown(m)
	local n = key_name(m)
	if held[n] == nil then
		held[n] = 0
		pressed[n] = true
	end
end

function builtin.keyup(m)
	held[key_name(m)] = nil
end

function builtin.textinput(m)
	if type(m.text) == "string" and typed_len < 4096 then
		typed[#typed + 1] = m.text
		typed_len += #m.text
	end
end

function builtin.mouse(m)
	mouse_x = tonumber(m.mx) or mouse_x
	mouse_y = tonumber(m.my) or mouse_y
	local b = math.tointeger(tonumber(m.mb)) or mouse_b
	clicked |= b & ~mouse_b
	mouse_b = b
end

function builtin.mousewheel(m)
	wheel_x += tonumber(m.wheel_x) or 0
	wheel_y += tonumber(m.wheel_y) or 0
end

function builtin.window_resized(m)
	set_display(m.width, m.height)
	if win then
		win.width, win.height = disp_w, disp_h
		if m.fullscreen ~= nil then win.fullscreen = m.fullscreen end
	end
end

function builtin.focus(m)
	focused = m.on and true or false
	if not focused then release_all_keys() end
end

-- the window manager started again: it knows nothing of this program
function builtin.wm_hello(m)
	if m._from ~= WM then return end
	announce()
	if win then request_window() end
end

-- Messages that only the window manager sends: from anyone else they would
-- let one program type into, resize or close another. child_completed is
-- posted by the kernel in the name of process 2, and print comes from the
-- programs this one started. A program may send itself anything.
local from_wm = {keydown = true, keyup = true, textinput = true, mouse = true,
	mousewheel = true, window_resized = true, focus = true, close_request = true,
	wm_hello = true, child_error = true}
local children = {}   -- ids of the programs started with launch()

local function accepted(m)
	local from, ev = m._from, m.event
	if from == ME then return true end
	if from_wm[ev] then return from == WM end
	if ev == "child_completed" then return from == SYSD end
	if ev == "print" then return children[from] == true end
	return true
end

local function dispatch(m)
	if not accepted(m) then return end
	local ev = m.event
	if ev == "close_request" then
		local h = handlers.close_request
		if h then h(m) else exit() end
		return
	end
	local b = builtin[ev]
	if b then b(m) end
	local h = handlers[ev]
	if h then h(m) end
end

local function pump()
	local m = _read_message()
	while m do
		if type(m) == "table" then dispatch(m) end
		m = _read_message()
	end
end

-------------------------------------------------------------- programs

-- launch(path, opts) starts another program (see /system/lib/launch.lua).
function launch(path, opts)
	local id, err = include("launch")(path, opts)
	if id then children[id] = true end
	return id, err
end

-------------------------------------------------------------- frames

local function end_frame()
	for n, t in pairs(held) do
		held[n] = t + 1
	end
	pressed = {}
	clicked = 0
	wheel_x, wheel_y = 0, 0
end

-- flip(): ends the program's frame; the next frame starts with the
-- messages that arrived meanwhile. flip(1) only gives up the slice.
function flip(flags)
	if flags and (flags & 1) ~= 0 then return kernel_flip(flags) end
	end_frame()
	kernel_flip()
	pump()
	_update_buttons(focused)
end

local function say_goodbye()
	if exiting then return end
	exiting = true
	if win then send(WM, {event = "exit_notice"}) end
end

-- exit(): ends the program; its window closes.
function exit()
	say_goodbye()
	_kill_process(ME, 0)
	-- the kill takes effect as soon as this slice ends
	while true do kernel_flip() end
end

local function run()
	if type(info.pwd) == "string" then cd(info.pwd) end
	init_draw_state()
	announce()
	local path = info.main or info.path
	if type(path) ~= "string" then error("runtime: nothing to run", 0) end
	local src = fetch(path)
	if type(src) ~= "string" then error("cannot read " .. path, 0) end
	local chunk, err = load(src, "@" .. path, "t")
	if not chunk then error(err, 0) end
	if info.window then window({}) end
	pump()
	_update_buttons(focused)
	chunk(table.unpack(info.argv or {}))
	if _init then _init() end
	if not (_update or _draw) then
		say_goodbye()
		return
	end
	-- a program that draws but asked for no window gets the whole screen
	if _draw and not win then window({fullscreen = true}) end
	while true do
		-- hold the frame while it is being drawn: the window manager keeps
		-- showing the previous one meanwhile
		poke(0x547F, peek(0x547F) | 2)
		if _update then _update() end
		if _draw then _draw() end
		flip()
	end
end

run()
