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

_update = step
EOF

run_machine "$work/sys" 2400 "$work/out.txt"

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
