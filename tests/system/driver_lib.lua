-- Helpers shared by the test drivers of tests/system. A test script copies
-- this file into its copy of the system (copy_system in system_common.bash)
-- and a driver loads it with
--   local T = load(fetch("/system/test/driver_lib.lua"), "@/system/test/driver_lib.lua")()
-- Drivers print one "PASS name" or "FAIL name: why" line per check, measures
-- worth seeing as "NOTE text", and "DONE" once they got to the end: the
-- script counts those lines, and a missing DONE means the driver crashed or
-- hung.
local T = {}

-- ------------------------------------------------------------------ checks

-- A value as a failed check shows it: strings quoted, on one line.
function T.show(v)
	return type(v) == "string" and (string.format("%q", v):gsub("\\\n", "\\n")) or tostring(v)
end

-- Passes when ok is neither false nor nil; detail says why it did not.
function T.check(name, ok, detail)
	print((ok and "PASS " or "FAIL ") .. name .. (ok and "" or ": " .. tostring(detail)))
end

-- Passes when got == want.
function T.equal(name, got, want)
	if got == want then print("PASS " .. name)
	else print("FAIL " .. name .. ": got " .. T.show(got) .. ", want " .. T.show(want)) end
end

function T.note(text) print("NOTE " .. text) end

-- ----------------------------------------------------------------- runners

-- Calls tests[name] for each name in order. A group that raises counts as
-- one failure and the next group still runs; DONE follows the last.
function T.run_groups(tests, names)
	for _, name in ipairs(names) do
		local ok, err = pcall(tests[name])
		if not ok then print("FAIL " .. name .. " raised: " .. tostring(err)) end
	end
	print("DONE")
end

-- Stages stepped over frames, for drivers that must let other processes run
-- between what they do and what they check. add(name, start, done, frames):
-- start (may be nil) runs on the stage's first frame, then done is asked
-- once a frame until it returns true (a PASS) or the stage's frames (the
-- default given here) went by (a FAIL "timed out"). step() is called once a
-- frame; DONE follows the last stage.
function T.stages(default_frames)
	local list, n, t = {}, 1, 0
	local function add(name, start, done, frames)
		list[#list + 1] = {name = name, start = start, done = done, frames = frames or default_frames}
	end
	local function step()
		local s = list[n]
		if not s then
			if n == #list + 1 then print("DONE") n += 1 end
			return
		end
		if t == 0 and s.start then s.start() end
		t += 1
		if s.done() then
			T.check(s.name, true)
			n, t = n + 1, 0
		elseif t > s.frames then
			T.check(s.name, false, "timed out")
			n, t = n + 1, 0
		end
	end
	return add, step
end

-- ------------------------------------------- a driver started by launch()

-- What a driver that runs with the runtime hears: the print lines of its
-- children (said), which of them completed or failed (completed[id],
-- errors[id] = the report), and the last lists the window manager and the
-- system service sent (wins, progs: set them to nil before asking again).
function T.listen()
	local h = {said = {}, completed = {}, errors = {}}
	on_event("print", function(m) h.said[#h.said + 1] = m.text end)
	on_event("child_completed", function(m) h.completed[m.proc_id] = true end)
	on_event("child_error", function(m) h.errors[m.proc_id] = m end)
	on_event("windows", function(m) h.wins = m.list end)
	on_event("programs", function(m) h.progs = m.list end)
	-- a child printed exactly this line
	function h.heard(text)
		for _, s in ipairs(h.said) do if s == text then return true end end
		return false
	end
	-- the first line a child printed that starts with p
	function h.heard_prefix(p)
		for _, s in ipairs(h.said) do if s:sub(1, #p) == p then return s end end
	end
	-- the window of process id in the last list
	function h.window_of(id)
		for _, w in ipairs(h.wins or {}) do if w.pid == id then return w end end
	end
	return h
end

-- ------------------------------------------- a driver in place of boot.lua

-- launch() of /system/lib/launch.lua, for drivers that run without the
-- runtime (which gives programs their own).
function T.launch(path, options)
	T.launch_fn = T.launch_fn or load(fetch("/system/lib/launch.lua"), "@/system/lib/launch.lua")()
	return T.launch_fn(path, options)
end

-- A process that only keeps a slot taken (ids 2 and 3 belong to the system
-- service and the window manager, whatever runs in them).
function T.start_idle(name, path)
	return _create_process_from_code("while true do flip() end", name, path)
end

-- A process standing in for another one (the window manager, say): each
-- frame it reads its messages and runs on_message, Lua source in which the
-- message is m.
-- Every stand-in also passes on what the driver sends it for a program
-- (T.input): programs take input only from the window manager's id.
function T.start_stand_in(name, path, on_message)
	return _create_process_from_code("while true do\n\tlocal m = _read_message()\n\twhile m do\n"
		.. "\t\tif m.forward_to then local to = m.forward_to m.forward_to = nil send_message(to, m)\n"
		.. "\t\telse\n" .. on_message .. "\n\t\tend\n"
		.. "\t\tm = _read_message()\n\tend\n\tflip()\nend", name, path)
end

-- Gives every process but this one (id 1) a slice of share of a frame;
-- took(id, cpu), when given, hears what each slice cost.
function T.slice_all(share, took)
	for _, p in ipairs(_get_process_list()) do
		if p.id > 1 then
			local _, cpu = _run_process_slice(p.id, share)
			if took then took(p.id, cpu) end
		end
	end
end

-- The scheduler of a test boot.lua once it started its processes: never
-- returns.
function T.schedule_forever(share)
	while true do
		T.slice_all(share)
		flip()
	end
end

-- Passes each message waiting for this process to handle.
function T.drain(handle)
	local m = _read_message()
	while m do
		handle(m)
		m = _read_message()
	end
end

-- Key and text input sent to process id the way the window manager sends
-- it; mods sets ctrl, shift or alt.
-- A message for program id as the window manager sends it: directly from
-- a driver that is process 3, else through the stand-in window manager
-- (id 3), which passes it on in its next slice.
function T.input(id, m)
	if pid() == 3 then return send_message(id, m) end
	m.forward_to = id
	send_message(3, m)
end

function T.press(id, key, mods)
	local m = {event = "keydown", key = key, scancode = 0, ctrl = false, shift = false, alt = false}
	for n, v in pairs(mods or {}) do m[n] = v end
	T.input(id, m)
	T.input(id, {event = "keyup", key = key, scancode = 0})
end

function T.text(id, s) T.input(id, {event = "textinput", text = s}) end

return T
