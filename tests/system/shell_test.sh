#!/bin/bash
# Headless tests of the shell (/system/lib/shell.lua) and a smoke test of the
# terminal (/system/apps/terminal.lua).
#
# Both parts run in a copy of the system whose boot.lua gives every process
# a slice each frame.
#
# Shell: boot.lua starts two idle processes in the slots of the system
# service and the window manager, then launches a driver program (with the
# runtime, so that it has an id above 3 and receives its children's print
# messages). The driver runs command lines against /ram and prints one PASS
# or FAIL line per check.
#
# Terminal: a fake window manager in slot 3 answers the terminal's window
# request, types a command line, and watches the terminal's display and CPU.
#
# Usage: shell_test.sh BIN_FOLDER
source "$(dirname "$0")/system_common.bash"
headless_setup "$1"

# ---------------------------------------------------------------- the shell

copy_system "$work/shell"
cat > "$work/shell/boot.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
T.start_idle("idle2.lua", "/system/idle2.lua")
T.start_idle("idle3.lua", "/system/idle3.lua")
local id, err = T.launch("/system/test/shell_driver.lua", {pwd = "/ram"})
if not id then print("FAIL launch driver: " .. tostring(err)) print("DONE") end
T.schedule_forever(0.3)
EOF

cat > "$work/shell/test/shell_driver.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
local shell = include("shell")
local st = shell.new{cwd = "/ram", width = 40}

local buf = {}
local function out(text, kind)
	buf[#buf + 1] = (kind == "error" and "E:" or kind == "note" and "N:" or "") .. text
end
local function run(line)
	buf = {}
	local a, b = shell.run_line(st, line, out)
	return table.concat(buf, "\n"), a, b
end
local check = T.equal
local function expect(line, want) check(line, (run(line)), want) end
local function expect_error(line, pattern)
	local got = run(line)
	T.check(line, got:find("^E:%*%* ") and got:find(pattern),
		"got " .. T.show(got) .. ", want an error matching " .. pattern)
end

-- children's print messages, collected until they end
local children = T.listen()
local function wait_for(id)
	for _ = 1, 300 do
		if children.completed[id] then return true end
		flip()
	end
	return false
end
local function run_program(line)
	children.said = {}
	local text, action, id = run(line)
	if action ~= "run" or not id then return "not started: " .. text end
	if not wait_for(id) then return "did not end" end
	return table.concat(children.said, "|")
end

local tests = {}

function tests.folders()
	expect("pwd", "/ram")
	expect("mkdir a b/c/d", "")
	expect("ls", "a/  b/")
	expect("ls b/c", "d/")
	expect("cd b/c", "")
	expect("pwd", "/ram/b/c")
	expect("cd ../..", "")
	expect("pwd", "/ram")
	expect_error("cd /nowhere", "no such folder: /nowhere")
	expect("pwd", "/ram")
	expect("cd /ram/b", "")
	expect("cd", "")
	expect("pwd", "/ram")
	expect_error("mkdir a", "already exists")
	expect_error("mkdir /system/x", "read%-only")
	expect_error("ls nothing", "no such file or folder: nothing")
	-- one name per column, filled top to bottom
	mkdir("/ram/cols")
	for i = 1, 12 do store("/ram/cols/file" .. i .. ".txt", "", "") end
	local list = run("ls cols")
	local rows = split(list, "\n", false)
	check("ls fills columns", #rows, 4)
	check("ls first row", rows[1], "file1.txt   file5.txt   file9.txt")
	check("ls natural order", rows[4], "file4.txt   file8.txt   file12.txt")
	st.width = nil
	check("ls one per line without a width", #split(run("ls cols"), "\n", false), 12)
	st.width = 40
	expect("rm cols", "")
end

function tests.files()
	store("/ram/notes.txt", "line one\nline two", "")
	store("/ram/h.txt", "with header")
	store("/ram/d.kod", {1, 2})
	expect("cat notes.txt", "line one\nline two")
	store("/ram/ended.txt", "last line\n\n", "")
	expect("cat ended.txt", "last line\n")
	expect("cat h.txt", "with header")
	expect("cat d.kod", "{1,2}")
	expect_error("cat nope.txt", "no such file or folder: nope.txt")
	expect_error("cat a", "a is a folder")
	expect("cp notes.txt a", "")
	expect("cat a/notes.txt", "line one\nline two")
	expect("cp notes.txt a/n2.txt", "")
	expect("mv a/n2.txt moved.txt", "")
	check("mv removes the source", fstat("/ram/a/n2.txt"), nil)
	expect("cat moved.txt", "line one\nline two")
	expect("cp b a", "")
	check("cp copies folders", fstat("/ram/a/b/c/d"), "folder")
	expect_error("cp a a/inner", "into itself")
	expect_error("cp nope.txt x.txt", "no such file")
	expect_error("cp notes.txt /system/x.txt", "read%-only")
	expect("mv b bb", "")
	check("mv moves folders", fstat("/ram/bb/c/d") == "folder" and fstat("/ram/b") == nil, true)
	-- a cartridge is another mount: moving into it copies across
	expect("mkdir box.k64", "")
	expect("mv moved.txt box.k64/inside.txt", "")
	check("mv across mounts", fetch("/ram/box.k64/inside.txt"), "line one\nline two")
	check("mv across mounts removes the source", fstat("/ram/moved.txt"), nil)
	expect("cp box.k64 copy.k64", "")
	check("cp of a cartridge", fetch("/ram/copy.k64/inside.txt"), "line one\nline two")
	expect_error("rm /ram/mount", "belongs to mounted cartridges")
	check("cartridge contents survive", fetch("/ram/box.k64/inside.txt"), "line one\nline two")
end

function tests.remove()
	expect("rm notes.txt", "")
	check("rm deletes a file", fstat("/ram/notes.txt"), nil)
	expect("rm bb", "")
	check("rm deletes a folder tree", fstat("/ram/bb/c/d") == nil and fstat("/ram/bb") == nil, true)
	expect_error("rm /", "refusing")
	expect_error("rm /system", "refusing")
	expect_error("rm /ram", "refusing")
	expect_error("rm /system/boot.lua", "read%-only")
	check("/system survives", fstat("/system/boot.lua"), "file")
	expect_error("rm nothing", "no such file")
	expect("cd a/b", "")
	expect("rm /ram/a", "N:// working folder is now /ram")
	expect("pwd", "/ram")
	-- a mount point inside a folder is unmounted, not emptied
	expect("mkdir keep/x m", "")
	expect("mount /ram/m/view /ram/keep", "N:// /ram/m/view shows /ram/keep")
	expect("ls m/view", "x/")
	local mounts = run("mount")
	check("mount lists the new mount", mounts:find("/ram/m/view  <-  /ram/keep", 1, true) ~= nil, true)
	check("mount lists /ram", mounts:find("/ram  <-  /ram", 1, true) ~= nil, true)
	expect("rm m", "")
	check("rm leaves what a mount showed", fstat("/ram/keep/x"), "folder")
	expect_error("mount /ram/v /ram/none", "no such file")
end

function tests.lua()
	expect("1 + 2", "3")
	expect("x = 6", "")
	expect("x * 7", "42")
	expect("'a', nil, {1, 2, k = 'v'}", 'a  nil  {1, 2, k="v"}')
	expect("? 'p', 4", "p  4")
	expect('print("a b")', "a b")
	expect_error("error('boom')", "input:1: boom")
	expect_error("1 +", "input:1:")
	expect_error("nosuch.field", "attempt to index")
	expect("ls = 1", "")
	check("assignment to a command name is Lua", run("ls"):find("a/") == nil, true)
	expect_error("no such words", "no command called no %(as Lua: input:1:")
	expect_error("local x y", "^E:%*%* input:1:")
	expect_error("x = 1 2", "^E:%*%* input:1:")
	local n = 0
	st.interrupt_check = function() n += 1 return n > 50 end
	expect_error("while true do end", "interrupted")
	st.interrupt_check = nil
	expect("cd('/ram/keep')", "")
	expect("pwd", "/ram/keep")
	expect("cd /ram", "")
end

function tests.words()
	local w = shell.split_words([[a "b c" 'd e' f\ g "q\"q" '']])
	check("word count", #w, 6)
	check("quoted words", table.concat(w, ","), 'a,b c,d e,f g,q"q,')
	expect_error("cat 'no end", "unterminated quote")
	expect_error("cat 'my file'", "bad path: my file")
	check("history keeps lines", st.history[#st.history], "cat 'my file'")
	local before = #st.history
	run("cat 'my file'")
	check("history skips repeats", #st.history, before)
	check("complete a command", (shell.complete(st, "mkd")), "mkdir ")
	store("/ram/keep/alpha.txt", "", "")
	check("complete a path", (shell.complete(st, "cat keep/al")), "cat keep/alpha.txt")
	check("complete a folder", (shell.complete(st, "cd ke")), "cd keep/")
end

function tests.programs()
	store("/ram/hello.lua", 'print("hello", ...)', "")
	check("run with arguments", run_program("run hello.lua x 'y z'"), "hello\tx\ty z")
	check("run a bare name", run_program("run hello"), "hello")
	check("a program path runs it", run_program("./hello.lua w"), "hello\tw")
	mkdir("/ram/game.k64")
	store("/ram/game.k64/main.lua", 'print("cart in " .. pwd())', "")
	check("run a cartridge", run_program("run game.k64"), "cart in /ram/game.k64")
	mkdir("/ram/tool")
	store("/ram/tool/main.lua", 'print("folder program")', "")
	check("run a folder program", run_program("run tool"), "folder program")
	store("/ram/syntax.lua", "x = = 1", "")
	expect_error("run syntax.lua", "syntax.lua:1:")
	expect_error("run nope", "no program called nope")
	expect_error("run notes.txt", "no program")
	expect_error("edit /nowhere/x.txt", "no such folder")
	expect_error("run", "usage: run")
	check("exit", select(2, run("exit")), "exit")
	check("clear", select(2, run("clear")), "clear")
	-- ps lists this process; kill stops a program and refuses the system
	local listing = run("ps")
	check("ps lists the shell's own process", listing:find("\n%s*" .. pid() .. " ") ~= nil, true)
	local victim = _create_process_from_code("while true do flip() end", "victim", "/ram/victim.lua")
	check("ps lists a new process by name", run("ps"):find("victim", 1, true) ~= nil, true)
	expect("kill " .. victim, "")
	check("kill stops it", _process_state(victim), -1)
	expect_error("kill 3", "kill: 3 is part of the system")
	check("the window manager is left alone", _process_state(3) ~= -1, true)
	expect_error("kill 99999", "kill: no process 99999")
	local help = run("help")
	check("help lists rm", help:find("rm path", 1, true) ~= nil, true)
	expect("help cd", "cd [folder]\n  change folder (no argument: /ram)")
	expect_error("help zz", "no command called zz")
end

T.run_groups(tests, {"folders", "files", "remove", "lua", "words", "programs"})
EOF
run_machine "$work/shell" 2000 "$work/shell.log"

# ---------------------------------------------------------------- the terminal

# The fake window manager starts the terminal, answers its window request,
# types "1+1" and enter, checks that the answer shows and how much CPU
# the terminal takes while idle, then presses ctrl+c on a program that
# loops and checks that it is stopped.
copy_system "$work/term"
cat > "$work/term/boot.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
T.start_idle("idle2.lua", "/system/idle2.lua")
_create_process_from_code(fetch("/system/test/fakewm.lua"), "fakewm.lua", "/system/test/fakewm.lua")
T.schedule_forever(0.3)
EOF
cat > "$work/term/test/fakewm.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
local check = T.check
local screen = userdata("u8", 480, 270)
_map_ram(screen, 0x10000)
_set_draw_target(screen)
poke4(0x5508, 0x3f3f3f3f)

store("/ram/loop.lua", 'print("looping") while true do end', "")
local term = T.launch("/system/apps/terminal.lua", {pwd = "/ram"})
local req
local function answer(m)
	if m.event == "window_request" then
		req = m
		send_message(term, {event = "window_resized", width = m.width, height = m.height})
		send_message(term, {event = "focus", on = true})
	end
end
local function frames(n)
	for _ = 1, n do
		T.drain(answer)
		flip()
	end
end
local function type_line(s)
	T.text(term, s)
	T.press(term, "enter")
end
-- the terminal's picture: how many pixels have the given colour
local function count_colour(c)
	local w, h = _get_process_display_size(term)
	cls(0)
	_blit_process_video(term, 0, 0, w, h, 0, 0)
	local n = 0
	for y = 0, h - 1 do
		for x = 0, w - 1 do
			if pget(x, y) == c then n += 1 end
		end
	end
	return n
end

frames(30)
check("terminal asks for a window", req and req.title == "terminal" and req.resizable == true, req and req.title)
check("terminal window size", req and req.width == 320 and req.height == 180, req and req.width)
local w, h = _get_process_display_size(term)
check("terminal display follows the window", w == 320 and h == 180, w .. "x" .. h)

local text_before = count_colour(6)
type_line("1+1")
frames(10)
check("the answer is drawn", count_colour(6) > text_before, text_before)

-- idle with a full window: only the cursor blinks; the dearest of 60
-- frames counts (drawing the whole window costs about a tenth of a frame)
type_line("for i = 1, 40 do print(('x'):rep(60)) end")
frames(10)
local cpu = 0
for _ = 1, 60 do
	frames(1)
	for _, p in ipairs(_get_process_list()) do
		if p.id == term then cpu = max(cpu, p.cpu) end
	end
end
T.note("idle terminal cpu " .. cpu)
check("idle terminal is cheap", cpu < 0.05, cpu)

type_line("run loop.lua")
frames(30)
local state_running = _process_state(term + 1)
T.press(term, "c", {ctrl = true})
frames(10)
check("run started the program", state_running == 0, state_running)
check("ctrl+c stops the program", _process_state(term + 1) == -1, _process_state(term + 1))
check("the terminal is still alive", _process_state(term) == 0, _process_state(term))

-- Lua that never returns is stopped by ctrl+c too
type_line("while true do end")
frames(20)
T.press(term, "c", {ctrl = true})
frames(20)
local before = count_colour(8)
check("an interrupted line reports in red", before > 0, before)
type_line("exit()")
frames(20)
check("exit ends the terminal", _process_state(term) == -1, _process_state(term))
print("DONE")
while true do flip() end
EOF
run_machine "$work/term" 400 "$work/term.log"

finish
