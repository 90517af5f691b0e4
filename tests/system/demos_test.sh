#!/bin/bash
# Headless tests of the demo cartridges in /system/demos.
#
# For each cartridge the script checks the text cartridge layout itself,
# and a test boot.lua in a copy of the system checks what the kernel makes
# of it: every file reads back through the cartridge path as the script
# extracted it, main.lua compiles, and launched with the real runtime the
# program runs FRAMES frames with scripted keys without dying, also after
# its window is made as big as the screen, draws several colours, keeps
# changing, and stays well under a frame of CPU.
# Process 3 is a stand-in for the window manager that prints the error
# reports it gets, so a crash shows its message.
#
# Usage: demos_test.sh BIN_FOLDER   (KEEP=1 keeps the work folder)
source "$(dirname "$0")/system_common.bash"
headless_setup "$1"

carts="shapes sprites text"
copy_system "$work/sys"
mkdir -p "$work/sys/demotest"

# --- the text cartridge layout, checked on the file itself ---------------------

# extract CART NAME: the bytes of entry NAME as a reader of the format sees
# them (the last line's newline belongs to the layout, not to the file)
extract() {
	awk -v want=":: $2" '
		/^:: / { if (on) exit; if ($0 == want) { on = 1; next } }
		on { if (n++) printf "\n"; printf "%s", $0 }' "$1"
}

for c in $carts; do
	f="$sys/demos/$c.k64"
	if [ ! -f "$f" ]; then
		fail "$c: $f missing"
		continue
	fi
	problems=""
	[[ "$(sed -n 1p "$f")" == "kestrane cartridge // "* ]] || problems+=" first-line"
	[ "$(sed -n 2p "$f")" = "version 2" ] || problems+=" version-line"
	[ -z "$(sed -n 3p "$f")" ] || problems+=" third-line-not-empty"
	[ "$(tail -n 1 "$f")" = ":: [eoc]" ] || problems+=" no-eoc-at-end"
	[ "$(tail -c 1 "$f" | od -An -c | tr -d ' ')" = '\n' ] || problems+=" no-final-newline"
	# text entries hold printable characters, tabs and line ends only
	LC_ALL=C grep -q $'[^\t -~]' "$f" && problems+=" bytes-outside-printable-ascii"
	[ "$(sed -n 4p "$f")" = ":: main.lua" ] || problems+=" first-entry-not-main.lua"
	if [ -z "$problems" ]; then pass "$c: layout"; else fail "$c: layout:$problems"; fi

	# every file entry, extracted for the kernel's reading to be compared with
	mkdir -p "$work/sys/demotest/$c"
	names=()
	while IFS= read -r name; do
		case "$name" in "[eoc]" | */) continue ;; esac
		mkdir -p "$(dirname "$work/sys/demotest/$c/$name")"
		extract "$f" "$name" >"$work/sys/demotest/$c/$name"
		names+=("\"$name\"")
	done < <(sed -n 's/^:: //p' "$f")
	(IFS=,; echo "return {${names[*]}}") >"$work/sys/demotest/$c.names.lua"
done

# --- the kernel's view: a test boot.lua ---------------------------------------

frames=120
cat >"$work/sys/boot.lua" <<EOF
local FRAMES = $frames
local CARTS = {$(for c in $carts; do printf '"%s", ' "$c"; done)}
EOF
cat >>"$work/sys/boot.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
local check = T.check

-- keys held from frame a to frame b, sent as the window manager would
local KEYS = {
	shapes = {{"right", 25, 26}, {"right", 50, 51}, {"right", 75, 76}, {"right", 95, 96}, {"space", 110, 111}},
	sprites = {{"right", 4, 40}, {"down", 30, 60}, {"left", 55, 80}, {"up", 75, 100}, {"tab", 85, 86}, {"m", 100, 101}},
	text = {{"right", 30, 31}, {"right", 60, 61}, {"right", 90, 91}},
}
local SCANCODE = {right = 79, left = 80, down = 81, up = 82, tab = 43, space = 44, m = 16}
local RESIZE_AT = 40

-- 2: idle; 3: prints the error reports that the window manager would show
T.start_idle("idle", "idle")
local WM = T.start_stand_in("errors", "errors",
	"if (m.event == 'report_error') print('error report: ' .. tostring(m.content))")

local function cpu_of(id)
	for _, p in ipairs(_get_process_list()) do
		if (p.id == id) return p.cpu
	end
end

-- the colours of the process's display: a set, a count and a fingerprint
local function look(id)
	local w, h = _get_process_display_size(id)
	local seen, n, sum = {}, 0, 0
	for y = 0, h - 1 do
		local row = 0x10000 + y * w
		for x = 0, w - 1, 4 do
			local v = _ppeek4(id, row + x)
			sum = (sum * 31 + v) & 0xffffffff
			for _ = 1, min(4, w - x) do
				local c = v & 0xff
				if (not seen[c]) seen[c], n = true, n + 1
				v >>= 8
			end
		end
	end
	return n, sum, w, h
end

local function run_cart(name)
	local path = "/system/demos/" .. name .. ".k64"
	local names = load((fetch("/system/demotest/" .. name .. ".names.lua")))()

	-- every file reads back through the cartridge path, and nothing else is in it
	local same = true
	for _, f in ipairs(names) do
		local got, want = fetch(path .. "/" .. f), fetch("/system/demotest/" .. name .. "/" .. f)
		if got != want then
			same = false
			check(name .. ": " .. f .. " through the cartridge", false,
				type(got) == "string" and #got .. " bytes, expected " .. #want or tostring(got))
		end
	end
	local listing = ls(path) or {}
	if (same) check(name .. ": files read through the cartridge", #listing == #names, table.concat(listing, " "))

	local code = fetch(path .. "/main.lua")
	local fn, err = load(code or "", "@" .. path .. "/main.lua", "t")
	check(name .. ": main.lua compiles", type(code) == "string" and fn, err or "no main.lua")
	if (not fn) return

	local id, why = T.launch(path, {parent = 1})
	check(name .. ": launched", id, why)
	if (not id) return
	local worst, first_look = 0, nil
	for f = 1, FRAMES do
		for _, k in ipairs(KEYS[name] or {}) do
			local ev = f == k[2] and "keydown" or f == k[3] and "keyup"
			if (ev) T.input(id, {event = ev, key = k[1], scancode = SCANCODE[k[1]]})
		end
		if (f == RESIZE_AT) T.input(id, {event = "window_resized", width = 480, height = 270})
		_run_process_slice(WM, 0.05)
		_run_process_slice(id, 1)
		if (_process_state(id) != 0) break
		-- the first frames include starting up
		if (f > 5) worst = max(worst, cpu_of(id) or 1)
		if (f == FRAMES \ 2) first_look = {look(id)}
		flip()
	end
	local alive = _process_state(id) == 0
	-- let the stand-in print what it was told
	for _ = 1, 2 do
		_run_process_slice(WM, 0.05)
		flip()
	end
	check(name .. ": runs " .. FRAMES .. " frames", alive, "the program ended (state " .. _process_state(id) .. ")")
	if (not alive) return
	local colours, sum, w, h = look(id)
	T.note(string.format("%s: %dx%d, %d colours, worst frame %.3f of the CPU", name, w, h, colours, worst))
	check(name .. ": draws in several colours", colours >= 4, colours .. " colours")
	check(name .. ": animates", first_look and sum != first_look[2], "the display did not change")
	check(name .. ": well under a frame of CPU", worst < 0.5, string.format("%.3f", worst))
	_kill_process(id, 0)
	flip()
end

local tests = {}
for _, name in ipairs(CARTS) do tests[name] = function() run_cart(name) end end
T.run_groups(tests, CARTS)
EOF

run_machine "$work/sys" $((frames * 4 + 200)) "$work/out.txt"

finish
