#!/bin/bash
# Headless tests of the editor's text buffer (/system/lib/textbuf.lua): a
# test boot.lua loads the module and prints one PASS or FAIL line per check.
# Then the editor program on top of it (see below).
# Usage: textbuf_test.sh BIN_FOLDER
source "$(dirname "$0")/system_common.bash"
headless_setup "$1"
copy_system "$work/system"

cat > "$work/system/boot.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
local ok_load, tb = pcall(function()
	return load(fetch("/system/lib/textbuf.lua"), "@/system/lib/textbuf.lua")()
end)
if not ok_load then print("FAIL load: " .. tostring(tb)) print("DONE") return end

local show, check = T.show, T.equal
local function pos(b) return b.cl .. ":" .. b.cc end
local function typed(b, s) for i = 1, #s do tb.insert(b, s:sub(i, i), true) end end

local tests = {}

function tests.lines()
	for _, t in ipairs({"", "a", "a\n", "a\nb", "a\nb\n", "\n\n", "x\r\ny\r\n"}) do
		check("round trip " .. show(t), tb.text(tb.new(t)), t)
	end
	check("final newline gives an empty last line", tb.line_count(tb.new("a\nb\n")), 3)
	local b = tb.new("abc\ndef")
	tb.set_cursor(b, 1, 3)
	tb.insert(b, "X\nY\nZ")
	check("insert with newlines", tb.text(b), "abX\nY\nZc\ndef")
	check("cursor after insert", pos(b), "3:2")
	tb.set_cursor(b, 2, 1)
	check("backspace at line start", tb.backspace(b), true)
	check("backspace joins lines", tb.text(b), "abXY\nZc\ndef")
	check("cursor at the join", pos(b), "1:4")
	tb.set_cursor(b, 2, 3)
	tb.delete(b)
	check("delete at line end joins", tb.text(b), "abXY\nZcdef")
	tb.set_cursor(b, 1, 1)
	check("backspace at document start", tb.backspace(b), false)
	tb.move(b, "doc_end")
	check("delete at document end", tb.delete(b), false)
	check("doc_end position", pos(b), "2:6")
	tb.set_cursor(b, 99, 99)
	check("cursor is clamped", pos(b), "2:6")
	tb.set_cursor(b, 1, 3)
	tb.backspace(b, true)
	check("word backspace", tb.text(b), "XY\nZcdef")
	tb.delete(b, true)
	check("word delete", tb.text(b), "\nZcdef")
	-- removing many lines at once keeps no stale lines behind
	local big = tb.new(("line\n"):rep(50))
	tb.select_range(big, 2, 1, 50, 1)
	tb.delete_selection(big)
	check("many lines removed", tb.text(big), "line\nline\n")
end

function tests.selection()
	local b = tb.new("one two\nthree four\nfive")
	tb.set_cursor(b, 1, 5)
	tb.set_cursor(b, 2, 6, true)
	check("selected text across lines", tb.selected_text(b), "two\nthree")
	tb.select_range(b, 2, 6, 1, 5)
	check("backward selection reads in order", tb.selected_text(b), "two\nthree")
	tb.move(b, "left")
	check("left collapses to the start", pos(b) .. tostring(tb.selection(b)), "1:5nil")
	tb.move(b, "right", true) tb.move(b, "right", true) tb.move(b, "word_right", true)
	check("shift moves extend", tb.selected_text(b), "two")
	tb.insert(b, "2 ")
	check("insert replaces the selection", tb.text(b), "one 2 \nthree four\nfive")
	tb.select_all(b)
	check("select all", tb.selected_text(b), tb.text(b))
	tb.delete_selection(b)
	check("delete all", tb.text(b) .. "|" .. pos(b), "|1:1")
	check("undo of delete all", tb.undo(b) and tb.text(b), "one 2 \nthree four\nfive")

	local w = tb.new("  foo.bar(baz)  qux")
	tb.move(w, "home")
	check("home goes to the first non-blank", pos(w), "1:3")
	tb.move(w, "home")
	check("home again goes to column 1", pos(w), "1:1")
	local stops = {}
	for i = 1, 6 do tb.move(w, "word_right") stops[#stops + 1] = w.cc end
	check("word right stops", table.concat(stops, ","), "3,6,7,10,11,14")
	stops = {}
	for i = 1, 3 do tb.move(w, "word_left") stops[#stops + 1] = w.cc end
	check("word left stops", table.concat(stops, ","), "11,10,7")

	-- vertical moves keep the display column through tabs and short lines
	local v = tb.new("abcdefgh\n\tx\nab\nabcdefgh", 4)
	tb.set_cursor(v, 1, 7)
	tb.move(v, "down") check("down onto a tab line", pos(v), "2:3")
	tb.move(v, "down") check("down onto a short line", pos(v), "3:3")
	tb.move(v, "down") check("down keeps the goal column", pos(v), "4:7")
	tb.move(v, "page_up", false, 10) check("page up stops at the top", pos(v), "1:7")
	tb.move(v, "page_down", true, 2)
	check("page down with shift", tb.selected_text(v), "gh\n\tx\nab")
	check("vcol after tab", tb.vcol(v, "\tx", 3), 5)
	check("vcol of a wide glyph", tb.vcol(v, "a\200b", 4), 4)
	check("col_at inside a tab rounds", tb.col_at(v, "\tx", 1) .. tb.col_at(v, "\tx", 3), "12")
	check("col_at past the end", tb.col_at(v, "ab", 9), 3)
end

function tests.undo()
	local b = tb.new("")
	typed(b, "hello")
	check("typed", tb.text(b), "hello")
	tb.undo(b)
	check("one undo takes back a typed word", tb.text(b) .. "|" .. pos(b), "|1:1")
	tb.redo(b)
	check("redo", tb.text(b) .. "|" .. pos(b), "hello|1:6")
	typed(b, " world")
	tb.undo(b)
	check("a new word is a new group", tb.text(b), "hello ")
	tb.undo(b)
	check("second undo", tb.text(b), "hello")
	tb.redo(b) tb.redo(b)
	check("redo twice", tb.text(b), "hello world")
	check("nothing more to redo", tb.redo(b), false)
	tb.move(b, "left")
	typed(b, "XY")
	tb.move(b, "doc_start")
	typed(b, "ab")
	tb.undo(b)
	check("a move ends the group", tb.text(b), "hello worlXYd")
	tb.undo(b)
	check("undo restores the earlier group", tb.text(b), "hello world")
	tb.move(b, "doc_end")
	for i = 1, 3 do tb.backspace(b) end
	check("backspaces", tb.text(b), "hello wo")
	tb.undo(b)
	check("backspaces undo together", tb.text(b) .. "|" .. pos(b), "hello world|1:12")
	tb.set_cursor(b, 1, 1)
	for i = 1, 2 do tb.delete(b) end
	tb.undo(b)
	check("deletes undo together", tb.text(b) .. "|" .. pos(b), "hello world|1:1")
	tb.redo(b)
	check("deletes redo", tb.text(b), "llo world")
	tb.undo(b)
	tb.insert(b, "A\nB\n")
	check("a new edit clears redo", tb.redo(b), false)
	typed(b, "x\ny")
	tb.undo(b)
	check("a typed newline starts a group", tb.text(b), "A\nB\nx\nhello world")
	tb.undo(b) tb.undo(b) tb.undo(b)
	check("paste undone", tb.text(b), "hello world")

	-- the saved state is remembered across undo and redo
	local s = tb.new("abc")
	check("loaded text is unmodified", tb.modified(s), false)
	typed(s, "12")
	check("typing modifies", tb.modified(s), true)
	tb.mark_saved(s)
	check("saved", tb.modified(s), false)
	typed(s, "3")
	check("typing after a save", tb.modified(s), true)
	tb.undo(s)
	check("undo back to the saved state", tb.text(s) .. tostring(tb.modified(s)), "12abcfalse")
	tb.undo(s)
	check("undo past the saved state", tb.modified(s), true)
	-- a selection replaced by typing comes back whole
	local r = tb.new("keep this")
	tb.select_range(r, 1, 6, 1, 10)
	typed(r, "that")
	tb.undo(r)
	check("typing over a selection undoes at once", tb.text(r) .. "|" .. tb.selected_text(r), "keep this|this")
end

function tests.search()
	local b = tb.new("foo bar\nbar foo\nbaz foo")
	local ok, wrapped = tb.find(b, "foo")
	check("first match", tostring(ok) .. pos(b) .. tb.selected_text(b), "true1:4foo")
	tb.find(b, "foo")
	check("next match", pos(b), "2:8")
	tb.find(b, "foo")
	ok, wrapped = tb.find(b, "foo")
	check("forward wraps", pos(b) .. tostring(wrapped), "1:4true")
	ok, wrapped = tb.find(b, "foo", true)
	check("backward wraps", pos(b) .. tostring(wrapped), "3:8true")
	ok, wrapped = tb.find(b, "foo", true)
	check("backward", pos(b) .. tostring(wrapped), "2:8false")
	check("not found", tb.find(b, "nope"), false)
	check("selection kept when not found", tb.selected_text(b), "foo")
	local o = tb.new("aaaa")
	tb.find(o, "aa") tb.find(o, "aa")
	check("matches do not overlap going forward", pos(o), "1:5")
	tb.find(o, "aa", true)
	check("backward finds the nearest match before", pos(o), "1:4")
end

function tests.files()
	local W = tb.write_file
	local function round(name, path, text)
		local err = W(path, text)
		local got = fetch(path)
		check("fetch gives back " .. name .. " " .. path, got, text)
		local back = tb.read_file(path)
		check("read_file gives back " .. name .. " " .. path, back, text)
		if err then print("FAIL store error " .. err) end
	end
	local all = ""
	for i = 0, 255 do all ..= string.char(i) end
	local cases = {
		plain = "print(\"hi\")\n",
		no_newline = "x = 1\ny = 2",
		care = "tab\tq\"b\\s]]end\n\t\tnested [[long]] --[==[c]==]\n",
		high = "\128\154 katakana \204 \255\n\1\2\16\127",
		cr = "a\r\nb\r\n",
		zero = "a\0b",
		all_bytes = all,
		kod_like = "--[[kod]]\n{1,2}",
		kod_named = "-- kestrane object data\n",
		png_like = "xPNGxxxx",
		empty = "",
	}
	for name, text in pairs(cases) do
		for _, path in ipairs({"/ram/t.lua", "/ram/t.txt", "/ram/t.md", "/ram/t"}) do
			round(name, path, text)
		end
	end
	-- plain forms: the file holds the text itself, as host text where fetch
	-- expects host text
	W("/ram/p.lua", cases.plain)
	check("plain lua file", fetch("/ram/p.lua", 2), cases.plain)
	W("/ram/p.txt", "a\154b")
	check("host text file", fetch("/ram/p.txt", 2), "a\xe3\x81\x82b")
	W("/ram/p.md", cases.high)
	check("other files hold the bytes", fetch("/ram/p.md", 2), cases.high)
	check("encode_host of a wide symbol pair", tb.encode_host("\131"), "\xe2\xac\x87\xef\xb8\x8f")
	-- kod files are edited as their text
	W("/ram/v.kod", "{1,2,x=3}")
	check("kod file text", fetch("/ram/v.kod", 2), "{1,2,x=3}")
	local v = fetch("/ram/v.kod")
	check("kod file value", type(v) == "table" and v.x, 3)
	check("kod file reads as text", tb.read_file("/ram/v.kod"), "{1,2,x=3}")
	-- metadata of a file survives editing
	store("/ram/m.lua", "x = 1\n", '--[[kod_format="raw",author="kim"]]')
	local text, info = tb.read_file("/ram/m.lua")
	check("text behind metadata", text, "x = 1\n")
	W("/ram/m.lua", "x = 2\n", info)
	local meta = _fetch_metadata_from_file("/ram/m.lua")
	check("metadata kept", meta and meta.author, "kim")
	check("text with metadata", fetch("/ram/m.lua"), "x = 2\n")
	W("/ram/m.lua", "\r", info)
	meta = _fetch_metadata_from_file("/ram/m.lua")
	check("metadata kept in the kod form", meta and meta.author, "kim")
	check("text in the kod form", fetch("/ram/m.lua"), "\r")
	-- missing files, folders and bad paths
	local t, i = tb.read_file("/ram/none.lua")
	check("missing file reads as new", t .. tostring(i and i.new), "true")
	mkdir("/ram/dir")
	local n, err = tb.read_file("/ram/dir")
	check("folder refused", tostring(n) .. " " .. tostring(err), "nil /ram/dir is a folder")
	check("an unusable path is an error", type(W("/ram/bad name!.lua", "x")), "string")
	store("/ram/val.pod", {1})
	n, err = tb.read_file("/ram/val.pod")
	check("a value file is refused", tostring(n) .. " " .. tostring(err), "nil /ram/val.pod does not hold text")
end

function tests.indent()
	local b = tb.new("a\n  b\n\tc\n\nd", 4)
	tb.select_range(b, 1, 2, 4, 1)
	tb.indent(b)
	check("indent the selected lines", tb.text(b), "\ta\n\t  b\n\t\tc\n\nd")
	check("the lines stay selected", tb.selected_text(b), "\ta\n\t  b\n\t\tc")
	tb.indent(b, true) tb.indent(b, true)
	check("outdent twice", tb.text(b), "a\nb\nc\n\nd")
	tb.undo(b) tb.undo(b)
	check("each indent is one undo", tb.text(b), "\ta\n\t  b\n\t\tc\n\nd")
end

-- line_state must agree with reading every token of every line
function tests.states()
	local function reference(b)
		local out, st = {}, 0
		for l = 1, #b.lines do
			out[l] = st
			local s, i = b.lines[l], 1
			while i <= #s do
				local _, ni, _, ns = tokenoid(s, i, st)
				st, i = ns or 0, ni
			end
		end
		return out
	end
	local function agree(name, b)
		local want, bad = reference(b), nil
		for l = 1, #b.lines do
			if tb.line_state(b, l) != want[l] then bad = bad or l end
		end
		check("states " .. name, bad, nil)
	end
	local b = tb.new(table.concat({
		"local a = [[one", "two]] .. [==[three", "]] still", "]==] x = 1",
		"--[[ comment", "t[i] = 2 ]] y = \"[[\" -- [[ not long", "s = '[[' z", "]]",
		"--[=[ a", "", "\t", "]=] --[[x]] [[y", "]] \"\\\" [[\"", "[[ ]] [=[", "]=]",
	}, "\n"))
	agree("of mixed long brackets", b)
	tb.set_cursor(b, 3, 1)
	tb.insert(b, "]==]")
	agree("after closing a bracket early", b)
	tb.set_cursor(b, 1, 11)
	tb.insert(b, "--")
	agree("after commenting out an opening", b)
	tb.undo(b) tb.undo(b)
	agree("after undo", b)
	check("an open long string", tb.line_state(b, 2), 1024)
	check("an open long comment of level 1", tb.line_state(b, 10), 769)
end

T.run_groups(tests, {"lines", "selection", "undo", "search", "files", "indent", "states"})
EOF
run_machine "$work/system" 30 "$work/textbuf.log"

# The editor program on top of the buffer: a driver in place of the window
# manager sends it keys and text as messages, reads the window titles it
# asks for, and checks the files it saves and the CPU its frames take.
copy_system "$work/editor"
cat > "$work/editor/boot.lua" <<'EOF'
local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
local function check(name, got, want) T.equal("editor " .. name, got, want) end

T.start_idle("sysd", "/system/sysd")
-- stands in for the window manager: passes on the window titles asked for
T.start_stand_in("wm", "/system/wm",
	"if m.title then send_message(1, {event = 'title', pid = m._from, title = m.title}) end")

local titles = {}   -- pid -> last title asked for
local cpu_log = {}  -- pid -> CPU of each frame
local function log_cpu(id, cpu)
	local log = cpu_log[id] or {}
	cpu_log[id] = log
	log[#log + 1] = cpu or 0
end
local function title(m)
	if m.event == "title" then titles[m.pid] = m.title end
end
local function frames(n)
	for i = 1, n do
		T.slice_all(1, log_cpu)
		T.drain(title)
		flip()
	end
end
local function most(id, n)
	local log, m = cpu_log[id], 0
	for i = #log - n + 1, #log do m = math.max(m, log[i]) end
	return m
end
local key, text = T.press, T.text
local function ctrl(id, k) key(id, k, {ctrl = true}) end
local function alive(id) return _process_state(id) == 0 end

local tests = {}
function tests.editor()
	local e = T.launch("/system/apps/edit.lua", {argv = {"new.lua"}, pwd = "/ram"})
	frames(5)
	check("starts", alive(e), true)
	check("title of a new file", titles[e], "new.lua")
	text(e, "hello\tworld") key(e, "enter") text(e, "x")
	frames(2)
	check("title shows the change", titles[e], "new.lua *")
	ctrl(e, "s")
	frames(2)
	check("saved text", fetch("/ram/new.lua"), "hello\tworld\nx")
	check("title after saving", titles[e], "new.lua")
	ctrl(e, "a") ctrl(e, "c")
	frames(1)
	check("copy", _get_userland_clipboard_text(), "hello\tworld\nx")
	ctrl(e, "z") ctrl(e, "z")
	frames(1)
	ctrl(e, "s")
	frames(2)
	check("undo then save", fetch("/ram/new.lua"), "hello\tworld")
	ctrl(e, "f") text(e, "wor") key(e, "enter") key(e, "escape")
	frames(1)
	text(e, "there")
	key(e, "home") key(e, "right", {shift = true}) ctrl(e, "x")
	key(e, "end") ctrl(e, "v") ctrl(e, "v")
	frames(1)
	ctrl(e, "s")
	frames(2)
	check("find, type over, cut and paste", fetch("/ram/new.lua"), "ello\tthereldhh")
	-- unsaved changes need a second close
	text(e, "!")
	frames(1)
	T.input(e, {event = "close_request"})
	frames(2)
	check("first close keeps unsaved work", alive(e), true)
	T.input(e, {event = "close_request"})
	frames(2)
	check("second close ends", alive(e), false)

	-- a page in the middle of a long file costs what it costs in a short
	-- one: the tokenizer states above the view are kept
	local long = {}
	for i = 1, 5000 do long[i] = "local v" .. i .. " = t[" .. i .. "] .. [[s]] -- n" end
	store("/ram/long.lua", table.concat(long, "\n"), "")
	store("/ram/short.lua", table.concat(long, "\n", 1, 60), "")
	local big = T.launch("/system/apps/edit.lua", {argv = {"/ram/long.lua"}, pwd = "/ram"})
	local small = T.launch("/system/apps/edit.lua", {argv = {"/ram/short.lua"}, pwd = "/ram"})
	frames(5)
	for i = 1, 120 do key(big, "pagedown") end
	key(small, "down")
	frames(12)   -- the 120 pages take about three frames
	check("idle frames take under 2% of a frame", math.max(most(big, 8), most(small, 8)) < 0.02, true)
	local cost = {}
	for _, id in ipairs({big, small}) do
		key(id, "pagedown")
		frames(1)
		local page = most(id, 1)
		text(id, "abc")
		frames(1)
		cost[id] = {page = page, typing = most(id, 1)}
	end
	T.note(string.format("costs: page %.4f (5000 lines) %.4f (60 lines), typing %.4f %.4f",
		cost[big].page, cost[small].page, cost[big].typing, cost[small].typing))
	check("a page in the middle of 5000 lines as quick as in 60",
		cost[big].page < cost[small].page * 1.3 + 0.005, true)
	-- a new page tokenizes and prints every row: a fifth of a frame or so
	check("a page takes under a third of a frame", cost[big].page < 0.33, true)
	check("typing redraws one line", cost[big].typing < cost[big].page / 2, true)
	ctrl(big, "s")
	frames(2)
	local saved = fetch("/ram/long.lua")
	local at = saved:find("abc", 1, true)
	local line = at and select(2, saved:sub(1, at):gsub("\n", "")) + 1
	check("typed in the middle of the long file", line and line > 2500 and line < 2600, true)
end
T.run_groups(tests, {"editor"})
EOF
run_machine "$work/editor" 200 "$work/editor.log"

finish
