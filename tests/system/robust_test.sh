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
bin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
sys="$here/../../system"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

cp -r "$sys" "$work/sys"
mkdir -p "$work/sys/autostart" "$work/sys/test"

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
local said, completed, errors, wins, progs = {}, {}, {}, nil, nil
on_event("print", function(m) said[#said + 1] = m.text end)
on_event("child_completed", function(m) completed[m.proc_id] = true end)
on_event("child_error", function(m) errors[m.proc_id] = m end)
on_event("windows", function(m) wins = m.list end)
on_event("programs", function(m) progs = m.list end)
local function check(name, ok, detail)
	print((ok and "PASS " or "FAIL ") .. name .. (ok and "" or (": " .. tostring(detail))))
end
local function has_window(list, id)
	for _, w in ipairs(list or {}) do if w.pid == id then return true end end
	return false
end

window{width = 40, height = 20, title = "driver"}
-- outside /system, so that the kernel keeps the traceback lines
cp("/system/test/crash.lua", "/ram/crash.lua")
local crash = launch("/ram/crash.lua")
local hang = launch("/system/test/hang.lua")
local hog = launch("/system/test/hog.lua")
check("three programs launched", crash and hang and hog)

local stages = {}
local function stage(name, limit, start, done)
	stages[#stages + 1] = {name = name, limit = limit, start = start, done = done}
end

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
	wins = nil
	send_message(3, {event = "list_windows"})
end, function()
	if not wins then return false end
	return has_window(wins, pid()) and not has_window(wins, crash)
		and not has_window(wins, hang) and not has_window(wins, hog)
end)
stage("a later program still runs", 200, function()
	alive = launch("/system/test/alive.lua")
end, function()
	for _, s in ipairs(said) do if s == "alive after 30 frames" then return true end end
end)
stage("the system service lists the running programs with their parents", 60, function()
	send_message(2, {event = "list_programs"})
end, function()
	if not progs then return false end
	local found
	for _, p in ipairs(progs) do if p.id == alive then found = p end end
	return found and found.parent == pid() and found.path == "/system/test/alive.lua"
end)
stage("a restarted window manager gets the windows back", 120, function()
	_kill_process(3, 1)
	wins = nil
	asked = 0
end, function()
	asked += 1
	if asked % 10 == 0 then send_message(3, {event = "list_windows"}) end
	return wins and has_window(wins, pid()) and has_window(wins, alive)
end)

local n, t = 1, 0
function _update()
	local s = stages[n]
	if not s then
		if n == #stages + 1 then print("DONE") n += 1 end
		return
	end
	if t == 0 and s.start then s.start() end
	t += 1
	if s.done() then
		check(s.name, true)
		n, t = n + 1, 0
	elseif t > s.limit then
		check(s.name, false, "timed out")
		n, t = n + 1, 0
	end
end
EOF

"$bin/kestrane-headless" "$work/sys" 2400 > "$work/out.txt" 2>&1
grep '^FAIL' "$work/out.txt"
passed=$((passed + $(grep -c '^PASS' "$work/out.txt")))
failed=$((failed + $(grep -c '^FAIL' "$work/out.txt")))
if ! grep -q '^DONE' "$work/out.txt"; then
	echo "FAIL the driver did not finish"
	tail -20 "$work/out.txt"
	failed=$((failed + 1))
fi

# The shipped system headless for 300 frames (about 5 seconds): it keeps
# running and its log has no error lines.
"$bin/mkrom" "$sys" "$work/sysrom.dat" > /dev/null
cp "$bin/kestrane" "$work/"
"$work/kestrane" -x -home "$work/home" > "$work/ship.out" 2>&1 &
kpid=$!
for _ in $(seq 100); do
	[ -f "$work/home/log.txt" ] && grep -q "creating process 3" "$work/home/log.txt" && break
	sleep 0.1
done
sleep 5
if kill -0 "$kpid" 2>/dev/null; then
	echo "PASS the shipped system is still running"
	passed=$((passed + 1))
	kill -TERM "$kpid"
	wait "$kpid"
else
	echo "FAIL the shipped system ended: $(tail -5 "$work/ship.out")"
	failed=$((failed + 1))
fi
bad="$(grep -E "error|RUNTIME|\*\*" "$work/home/log.txt")"
if [ -z "$bad" ] && grep -q "creating process 3" "$work/home/log.txt"; then
	echo "PASS no errors in log.txt"
	passed=$((passed + 1))
else
	echo "FAIL log.txt: $bad"
	failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
