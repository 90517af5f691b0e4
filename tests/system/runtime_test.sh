#!/bin/bash
# Headless tests of the program runtime (/system/lib/runtime.lua), launch()
# (/system/lib/launch.lua) and the window manager's side of the protocol.
#
# A copy of the system gets a driver program in /system/autostart (the
# window manager starts it after its first frame) and test programs in
# /system/test. The driver launches them, plays the part of the keyboard
# and mouse by sending input messages to the window manager (which takes
# input from system programs), and prints one PASS or FAIL line per check,
# then DONE.
#
# Usage: runtime_test.sh BIN_FOLDER
source "$(dirname "$0")/system_common.bash"
headless_setup "$1"

copy_system "$work/sys"
mkdir -p "$work/sys/autostart" "$work/sys/test/folder"

# The program under test: reports what it sees as print lines.
cat > "$work/sys/test/child.lua" <<'EOF'
local e = env()
print("start " .. table.concat(e.argv, ",") .. " parent=" .. tostring(e.parent) .. " pwd=" .. pwd())
print("size0 " .. peek2(0x5478) .. "x" .. peek2(0x547A))
print("mixed", 1, true, nil)
on_event("window_resized", function(m)
	local w, h = display_size()
	print("resized " .. m.width .. "x" .. m.height .. " display " .. w .. "x" .. h .. " ram " .. peek2(0x5478) .. "x" .. peek2(0x547A))
end)
on_event("keydown", function(m)
	if m.key == "c" then print("keydown c ctrl=" .. tostring(m.ctrl) .. " shift=" .. tostring(m.shift)) end
end)
window{width = 200, height = 120, title = "child"}
local was_a, lx, ly, lb, drawn = false, 0, 0, 0, false
function _update()
	if keyp("a") then print("keyp a held=" .. tostring(key("a"))) end
	if was_a and not key("a") then print("released a") end
	was_a = key("a")
	if keyp("b") then print("keyp b") end
	local t = readtext()
	if t then print("text " .. t) end
	local x, y, b, wx, wy = mouse()
	if x ~= lx or y ~= ly or b ~= lb then print("mouse " .. x .. " " .. y .. " " .. b) end
	lx, ly, lb = x, y, b
	if wy ~= 0 then print("wheel " .. wy) end
	if keyp("q") then exit() end
end
function _draw()
	cls(1)
	_print_v7scii("A", 0, 0, 7)
	if not drawn then
		drawn = true
		local lit = 0
		for y = 0, 10 do for x = 0, 6 do if pget(x, y) == 7 then lit += 1 end end end
		print("glyph pixels " .. lit)
	end
end
EOF

# A program with its own loop: flip() must still bring it its messages.
cat > "$work/sys/test/manual.lua" <<'EOF'
window{width = 64, height = 32}
print("manual ready")
while true do
	cls(2)
	local t = readtext()
	if t then print("manual " .. t) exit() end
	flip()
end
EOF

# A program that only runs its main chunk.
cat > "$work/sys/test/once.lua" <<'EOF'
print("once ran " .. tostring(key("a")))
EOF

# A window closed with the close box (the runtime's default answer).
cat > "$work/sys/test/closable.lua" <<'EOF'
window{width = 100, height = 60, title = "closable"}
function _draw() cls(3) end
EOF

cat > "$work/sys/test/syntax.lua" <<'EOF'
local x = = 1
EOF

printf 'kestrane cartridge // test\nversion 2\n\n:: main.lua\nprint("cart pwd=" .. pwd() .. " path=" .. env().path)\n:: [eoc]\n' > "$work/sys/test/cart.k64"
cat > "$work/sys/test/folder/main.lua" <<'EOF'
print("folder pwd=" .. pwd() .. " " .. include("helper.lua"))
EOF
cat > "$work/sys/test/folder/helper.lua" <<'EOF'
return "helper loaded"
EOF
cat > "$work/sys/test/folder/prog.lua" <<'EOF'
print("prog pwd=" .. pwd() .. " " .. include("helper.lua"))
EOF

cat > "$work/sys/autostart/driver.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
local check = T.check
local h = T.listen()
local heard = h.heard
local function to_wm(m) send_message(3, m) end

local me = pid()
local child, win, evil, manual, closable, once
-- what a stage remembers between its frames
local state = {}
-- each stage gets 180 frames
local stage, step = T.stages(180)

stage("launch and start line", function()
	child = launch("/system/test/child.lua", {argv = {"one", "two"}, pwd = "/ram"})
end, function()
	return heard("start one,two parent=" .. me .. " pwd=/ram")
end)
stage("display 480x270 before the window", nil, function() return heard("size0 480x270") end)
stage("print joins values with tabs", nil, function() return heard("mixed\t1\ttrue\tnil") end)
stage("window request answered and display resized", nil, function()
	return heard("resized 200x120 display 200x120 ram 200x120")
end)
stage("the window manager lists the window", function()
	h.wins = nil
	to_wm({event = "list_windows"})
end, function()
	win = h.window_of(child)
	return win and win.width == 200 and win.height == 120 and win.focused and win.title == "child"
end)
stage("keydown reaches keyp and key", function()
	to_wm({event = "keydown", scancode = 4})
end, function() return heard("keyp a held=true") end)
stage("keyup releases the key", function()
	to_wm({event = "keyup", scancode = 4})
end, function() return heard("released a") end)
stage("modifiers travel with the key", function()
	to_wm({event = "keydown", scancode = 224})
	to_wm({event = "keydown", scancode = 6})
	to_wm({event = "keyup", scancode = 6})
	to_wm({event = "keyup", scancode = 224})
end, function() return heard("keydown c ctrl=true shift=false") end)
stage("text input reaches readtext", function()
	to_wm({event = "textinput", text = "hi!"})
end, function() return heard("text hi!") end)
stage("mouse in window coordinates", function()
	to_wm({event = "mouse", mx = win.x + 10, my = win.y + 5, mb = 1})
end, function() return heard("mouse 10 5 1") end)
stage("mouse release", function()
	to_wm({event = "mouse", mx = win.x + 12, my = win.y + 7, mb = 0})
end, function() return heard("mouse 12 7 0") end)
stage("a click within one frame is not lost", function()
	to_wm({event = "mouse", mx = win.x + 3, my = win.y + 4, mb = 1})
	to_wm({event = "mouse", mx = win.x + 3, my = win.y + 4, mb = 0})
end, function() return heard("mouse 3 4 1") and heard("mouse 3 4 0") end)
stage("mouse wheel", function()
	to_wm({event = "mousewheel", wheel_x = 0, wheel_y = -1})
end, function() return heard("wheel -1") end)
stage("the font is installed", nil, function()
	local s = h.heard_prefix("glyph pixels ")
	return s and tonumber(s:sub(14)) > 5
end)
stage("input from programs outside /system is ignored", function()
	-- also through a process it starts under a /system/ name
	store("/ram/evil.lua", 'send_message(3, {event="keydown", scancode=5}) send_message(3, {event="textinput", text="evil"}) _create_process_from_code([[send_message(3, {event="textinput", text="forged"})]], "forged", "/system/forged.lua") print("evil sent")', "")
	evil = launch("/ram/evil.lua")
end, function()
	if not heard("evil sent") then return false end
	state.wait = (state.wait or 0) + 1
	if state.wait < 10 then return false end
	return not heard("keyp b") and not heard("text evil") and not heard("text forged")
end)
stage("input, closing and print sent straight to a program by another are ignored", function()
	store("/ram/evil2.lua", [[
local id = tonumber(env().argv[1])
send_message(id, {event = "keydown", scancode = 5, key = "b"})
send_message(id, {event = "textinput", text = "evil2"})
send_message(id, {event = "close_request"})
send_message(id, {event = "window_resized", width = 17, height = 9})
print("evil2 sent")]], "")
	launch("/ram/evil2.lua", {argv = {tostring(child)}})
end, function()
	if not heard("evil2 sent") then return false end
	state.wait2 = (state.wait2 or 0) + 1
	if state.wait2 < 10 then return false end
	return not heard("keyp b") and not heard("text evil2") and not h.completed[child]
		and not h.heard_prefix("resized 17x9")
end)
stage("exit ends the program and its window", function()
	to_wm({event = "keydown", scancode = 20})
	to_wm({event = "keyup", scancode = 20})
end, function()
	if not h.completed[child] then return false end
	h.wins = nil
	to_wm({event = "list_windows"})
	return true
end)
stage("no window after exit", nil, function()
	return h.wins ~= nil and h.window_of(child) == nil
end)
stage("a program without _update/_draw runs and ends", function()
	once = launch("/system/test/once.lua")
end, function() return heard("once ran false") and h.completed[once] end)
stage("flip() in a program's own loop brings messages", function()
	manual = launch("/system/test/manual.lua")
	state.sent = false
end, function()
	if not state.sent and heard("manual ready") then
		state.sent = true
		to_wm({event = "textinput", text = "x"})
		return false
	end
	return heard("manual x") and h.completed[manual]
end)
stage("the close box closes a window", function()
	closable = launch("/system/test/closable.lua")
	h.wins = nil
end, function()
	local w = h.window_of(closable)
	if not w then
		to_wm({event = "list_windows"})
		return false
	end
	if not state.clicked then
		state.clicked = true
		to_wm({event = "mouse", mx = w.x + w.width - 6, my = w.y - 6, mb = 1})
		to_wm({event = "mouse", mx = w.x + w.width - 6, my = w.y - 6, mb = 0})
	end
	return h.completed[closable]
end)
stage("a text cartridge runs in itself", function()
	local id, err = launch("/system/test/cart.k64")
	check("launch of a cartridge gives an id", id ~= nil, err)
end, function()
	return heard("cart pwd=/system/test/cart.k64 path=/system/test/cart.k64")
end)
stage("a folder runs its main.lua and include() finds its files", function()
	local id, err = launch("/system/test/folder")
	check("launch of a folder gives an id", id ~= nil, err)
end, function() return heard("folder pwd=/system/test/folder helper loaded") end)
stage("include() finds files beside a program run elsewhere", function()
	launch("/system/test/folder/prog.lua", {pwd = "/ram"})
end, function() return heard("prog pwd=/ram helper loaded") end)
stage("a dropped file opens in the editor", function()
	store("/ram/dropped.txt", "dropped text", "")
	to_wm({event = "drop_items", items = {{location = "/ram/dropped.txt"}}})
	h.progs = nil
end, function()
	if not h.progs then
		if state.asked ~= true then state.asked = true send_message(2, {event = "list_programs"}) end
		return false
	end
	for _, p in ipairs(h.progs) do
		if p.path == "/system/apps/edit.lua" and p.parent == 3 then return true end
	end
	h.progs, state.asked = nil, false
	return false
end)
stage("launch refuses what it cannot run", function()
	local id, err = launch("/system/test/none.lua")
	check("missing file", id == nil and err == "not found: /system/test/none.lua", err)
	id, err = launch("/system/test/syntax.lua")
	check("syntax error", id == nil and tostring(err):find("syntax.lua:1:", 1, true) ~= nil, err)
	id, err = launch(42)
	check("bad argument", id == nil and type(err) == "string", err)
	id, err = launch("/ram")
	check("folder without main.lua", id == nil and err == "no main.lua in /ram", err)
	local ok, msg = pcall(include, "nope")
	check("include of a missing module", not ok and tostring(msg):find("include: cannot read /system/lib/nope.lua", 1, true), msg)
	check("include of a system module", include("keys").codes.a == 4 and include("keys") == include("keys"))
end, function() return true end)

_update = step
EOF

run_machine "$work/sys" 3000 "$work/out.txt"

# The font the runtime installs is the kernel's built-in font, compiled from
# its drawn source the same way the kernel's build does.
font_src="$here/../../src/gfx/font/builtin_font.txt"
if command -v python3 >/dev/null && [ -f "$font_src" ]; then
	python3 - "$font_src" "$sys/lib/font.hex" <<'EOF'
import sys
names = ["width", "wide_width", "height", "x_offset", "y_offset", "flags", "tab"]
block = bytearray(4096); rows = {}; adjust = {}; raised = {}; code = None
for line in open(sys.argv[1]):
    line = line.rstrip()
    if not line or line.startswith("//"):
        continue
    if set(line) <= set(".#"):
        bits = sum(1 << i for i, ch in enumerate(line) if ch == "#")
        block[8 * code + rows.get(code, 0)] = bits
        rows[code] = rows.get(code, 0) + 1
        continue
    w = line.split()
    if w[0] == "glyph":
        code = int(w[1], 0)
        for t in w[2:]:
            if t.startswith("adjust="): adjust[code] = int(t[7:], 0)
            elif t == "raise": raised[code] = True
        continue
    block[names.index(w[0])] = int(w[1], 0)
if block[5] & 1:
    for c in range(16, 256):
        nib = (adjust.get(c, 0) & 7) | (8 if raised.get(c) else 0)
        block[c >> 1] |= (nib << 4) if c & 1 else nib
have = open(sys.argv[2]).read().strip()
print("PASS font.hex matches builtin_font.txt" if have == block.hex() else "FAIL font.hex differs from builtin_font.txt (regenerate it)")
EOF
fi > "$work/font.txt"
grep '^FAIL' "$work/font.txt"
passed=$((passed + $(grep -c '^PASS' "$work/font.txt")))
failed=$((failed + $(grep -c '^FAIL' "$work/font.txt")))

finish
