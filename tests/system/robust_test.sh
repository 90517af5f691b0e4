#!/bin/bash
# Headless tests that no program can stop the desktop: a program that
# raises an error, one that loops forever without completing a frame and
# one that allocates memory without bound are each reported to their parent
# and closed, while the scheduler and the window manager keep running; a
# restarted window manager gets the running programs' windows back; the
# shipped system runs for a few hundred frames without errors in its log.
#
# A driver program in /system/autostart (started by the window manager)
# launches the test programs and prints PASS or FAIL lines, then DONE.
#
# Usage: robust_test.sh BIN_FOLDER
source "$(dirname "$0")/system_common.bash"
headless_setup "$1"

copy_system "$work/sys"
mkdir -p "$work/sys/autostart"

cat > "$work/sys/test/crash.lua" <<'EOF'
window{width = 80, height = 40, title = "crash"}
local n = 0
function _update()
	n += 1
	if n == 3 then error("boom at frame " .. n) end
end
EOF
cat > "$work/sys/test/hang.lua" <<'EOF'
window{width = 80, height = 40, title = "hang"}
function _update()
	while true do end
end
EOF
cat > "$work/sys/test/hog.lua" <<'EOF'
window{width = 80, height = 40, title = "hog"}
local t = {}
function _update()
	for i = 1, 50 do t[#t + 1] = string.rep("x", 20000) .. #t end
end
EOF
cat > "$work/sys/test/alive.lua" <<'EOF'
window{width = 60, height = 30, title = "alive"}
local n = 0
function _update()
	n += 1
	if n == 30 then print("alive after 30 frames") end
end
EOF

# Hostile messages of every kind the window manager and the system service
# know, with fields of the wrong types and sizes, 20 per frame, some naming
# the driver (whose window must survive them); after each frame it checks
# that neither has crashed (they run before it in a frame).
cat > "$work/sys/test/hostile.lua" <<'EOF'
local seed = 7
-- the high bits: the low bits of this generator repeat after a few steps
local function rand(n) seed = (seed * 1103515245 + 12345) % 2147483648 return (seed >> 16) % n + 1 end
-- (open_file is left out: asking for the editor is every program's right)
local events = {"window_request", "window_title", "exit_notice", "program_start",
	"list_windows", "user_notification", "focus_pid", "keydown", "keyup", "textinput", "mouse",
	"mousewheel", "drop_items", "report_error", "child_completed", "stalled", "clipboard_set",
	"clipboard_get", "list_programs", "print", "wm_hello", "close_request", "x"}
local vals = table.pack(nil, true, false, 0, -1, 1e308, -1e308, 0/0, 1/0, math.maxinteger,
	math.mininteger, 3, 480, 100000, "", "x", "/ram/nope.txt", "/system/boot.lua",
	string.rep("w", 5000), {}, {1, 2}, {{kod_type = "location", location = 5}}, {x = {}},
	env().parent, {{kod_type = "location", location = "/system/boot.lua"}})
local fields = {"width", "height", "title", "resizable", "fullscreen", "path", "parent", "pid",
	"content", "scancode", "text", "mx", "my", "mb", "wheel_x", "wheel_y", "items", "proc_id",
	"frames", "on", "list", "message", "traceback"}
local frame, crashed = 0, false
function _update()
	frame += 1
	for id = 2, 3 do
		if _process_state(id) ~= 0 and not crashed then
			crashed = true
			print("hostile: process " .. id .. " stopped at frame " .. frame)
		end
	end
	if frame > 300 then
		if frame == 301 then print("hostile done") end
		return
	end
	for i = 1, 20 do
		local m = {event = events[rand(#events)]}
		for j = 1, rand(5) do m[fields[rand(#fields)]] = vals[rand(vals.n)] end
		send_message(rand(2) + 1, m)
	end
end
EOF

cat > "$work/sys/autostart/driver.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
local check = T.check
local h = T.listen()
local completed, errors = h.completed, h.errors
local function has_window(id) return h.window_of(id) ~= nil end

window{width = 40, height = 20, title = "driver"}
-- outside /system, so that the kernel keeps the traceback lines
cp("/system/test/crash.lua", "/ram/crash.lua")
local crash = launch("/ram/crash.lua")
store("/ram/ticker.lua", 'window{width = 40, height = 20, title = "ticker"} local n = 0 function _update() n += 1 if n % 10 == 0 then print("tick " .. n) end end', "")
ticker = launch("/ram/ticker.lua")
local hang = launch("/system/test/hang.lua")
local hog = launch("/system/test/hog.lua")
check("three programs launched", crash and hang and hog)

-- stage(name, frames, start, done): done has that many frames to say true
local add, step = T.stages()
local function stage(name, frames, start, done) add(name, start, done, frames) end
local alive, asked

stage("a runtime error is reported to the parent with its traceback", 300, nil, function()
	local e = errors[crash]
	if not (e and completed[crash]) then return false end
	check("error message", tostring(e.message):find("boom at frame 3", 1, true), e.message)
	check("error traceback", tostring(e.traceback):find("/ram/crash.lua:5:", 1, true), e.traceback)
	return true
end)
stage("running out of memory is reported and the program closed", 600, nil, function()
	local e = errors[hog]
	return e and e.message == "out of memory" and completed[hog]
end)
stage("a program that stops completing frames is closed", 1200, nil, function()
	local e = errors[hang]
	return e and tostring(e.message):find("not responding", 1, true) and completed[hang]
end)
stage("hostile messages stop neither the window manager nor the system service", 600, function()
	-- from /ram, so that the window manager does not trust it with input
	cp("/system/test/hostile.lua", "/ram/hostile.lua")
	check("hostile program launched", launch("/ram/hostile.lua"))
end, function()
	if not h.heard("hostile done") then return false end
	check("no system process stopped", not h.heard_prefix("hostile: process"))
	return true
end)
stage("the window manager still answers and lists no dead windows", 60, function()
	h.wins = nil
	send_message(3, {event = "list_windows"})
end, function()
	if not h.wins then return false end
	return has_window(pid()) and not has_window(crash)
		and not has_window(hang) and not has_window(hog)
end)
stage("a later program still runs", 200, function()
	alive = launch("/system/test/alive.lua")
end, function() return h.heard("alive after 30 frames") end)
stage("the system service lists the running programs with their parents", 60, function()
	send_message(2, {event = "list_programs"})
end, function()
	if not h.progs then return false end
	local found
	for _, p in ipairs(h.progs) do if p.id == alive then found = p end end
	return found and found.parent == pid() and found.path == "/system/test/alive.lua"
end)
stage("a restarted window manager gets the windows back", 120, function()
	_kill_process(3, 1)
	h.wins = nil
	asked = 0
end, function()
	asked += 1
	if asked % 10 == 0 then send_message(3, {event = "list_windows"}) end
	return h.wins and has_window(pid()) and has_window(alive)
end)
-- last: it fills the process table
local ticks_before
stage("a program that starts copies of itself without end starves no one", 900, function()
	store("/ram/bomb.lua", [[
while true do
	local src = fetch("/ram/bomb.lua")
	for i = 1, 4 do _create_process_from_code(src, "bomb", "/ram/bomb.lua") end
	flip()
end]], "")
	_create_process_from_code(fetch("/ram/bomb.lua"), "bomb", "/ram/bomb.lua")
	ticks_before = nil
	asked = 0
end, function()
	asked += 1
	if asked == 300 then
		ticks_before = #h.said
		check("the process table filled up", #_get_process_list() >= 500, #_get_process_list())
		h.wins = nil
		send_message(3, {event = "list_windows"})
	end
	-- the ticker started before keeps printing, the window manager answers
	return ticks_before and #h.said >= ticks_before + 3 and h.wins and has_window(ticker)
end)

_update = step
EOF

run_machine "$work/sys" 2400 "$work/out.txt"
# the window manager and the system service survive a fault in a handler by
# logging it (printh lines on standard error): none may have happened
handler_faults="$(grep -a "^INFO: \(wm\|sysd\):" "$work/out.txt" "$work/out.txt.err")"
if [ -z "$handler_faults" ]; then
	pass "no faults in the window manager's or the system service's handlers"
else
	fail "handler faults: $handler_faults"
fi

# The shipped system headless for 300 frames (about 5 seconds): it keeps
# running and its log has no error lines.
install_system "$work/run"
"$work/run/kestrane" -x -home "$work/home" > "$work/ship.out" 2>&1 &
kpid=$!
for _ in $(seq 100); do
	[ -f "$work/home/log.txt" ] && grep -q "creating process 3" "$work/home/log.txt" && break
	sleep 0.1
done
sleep 5
if kill -0 "$kpid" 2>/dev/null; then
	pass "the shipped system is still running"
	kill -TERM "$kpid"
	wait "$kpid"
else
	fail "the shipped system ended: $(tail -5 "$work/ship.out")"
fi
bad="$(grep -E "error|RUNTIME|\*\*" "$work/home/log.txt")"
if [ -z "$bad" ] && grep -q "creating process 3" "$work/home/log.txt"; then
	pass "no errors in log.txt"
else
	fail "log.txt: $bad"
fi

finish
