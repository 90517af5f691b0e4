-- The root process: the scheduler. Starts the system service (process 2)
-- and the window manager (process 3), then every frame hands a slice to
-- every process: 2 and 3 first, then the program the window manager says
-- has the focus, then the rest with equal shares of what is left.
--
-- It also watches for programs that stop completing frames: a program that
-- used its slices for STALL_FRAMES frames without a flip is reported to the
-- window manager ({event="stalled", pid=, frames=}), which decides what to
-- do. A window manager that crashed or hangs is restarted; when it is gone
-- altogether the machine reboots. Nothing a program does may stop this loop.

local SYSD, WM = 2, 3
local STALL_FRAMES = 600

-- shares of a frame's CPU budget
local SHARE_SYSD = 0.1
local SHARE_WM = 0.4
local SHARE_FOCUS = 0.7   -- of what is left after 2 and 3
local MIN_SHARE = 0.01

local function start(path, name)
	local src = fetch(path)
	if type(src) ~= "string" then
		print("boot: cannot read " .. path)
		return nil
	end
	local id = _create_process_from_code(src, name, path)
	if not id then print("boot: could not start " .. path) end
	return id
end

start("/system/services/sysd.lua", "sysd")
start("/system/wm/wm.lua", "wm")

local focus = nil    -- the program the window manager has focused
local stall = {}     -- pid -> frames that ended without a flip
local reported = {}  -- pid -> true once reported as stalled
local turn = 0       -- rotates the order of the other programs
local wm_restarts = 0

local function read_messages()
	local m = _read_message()
	while m do
		if type(m) == "table" and m._from == WM and m.event == "focus_pid" then
			focus = tonumber(m.pid)
		end
		m = _read_message()
	end
end

-- What is left of this frame's budget, as a fraction.
local function left()
	return 1 - (stat(301) or 0)
end

-- One slice; remembers whether the process got through a frame.
local ran = {}   -- pid -> "flipped" | "busy" for this frame
local function slice(id, share)
	if share < MIN_SHARE then share = MIN_SHARE end
	local done, cpu = _run_process_slice(id, share)
	if cpu and cpu > 0 then
		if done then ran[id] = "flipped"
		elseif ran[id] ~= "flipped" then ran[id] = "busy" end
	elseif done and ran[id] == nil then
		ran[id] = "flipped"
	end
	return done
end

local function update_stalls(alive)
	for id, how in pairs(ran) do
		if how == "busy" then
			stall[id] = (stall[id] or 0) + 1
		else
			stall[id] = 0
			reported[id] = nil
		end
	end
	for id in pairs(stall) do
		if not alive[id] then
			stall[id] = nil
			reported[id] = nil
		end
	end
	for id, n in pairs(stall) do
		if id > WM and n >= STALL_FRAMES and not reported[id] then
			reported[id] = true
			send_message(WM, {event = "stalled", pid = id, frames = n})
		end
	end
end

-- The window manager must always run: restart it when it crashed or hangs.
local function watch_wm()
	local state = _process_state(WM)
	if state == -1 then
		print("boot: the window manager is gone; rebooting")
		_signal(34)
		return
	end
	if state == 2 or state == 1 or (stall[WM] or 0) >= STALL_FRAMES then
		wm_restarts += 1
		print("boot: restarting the window manager (" .. wm_restarts .. ")")
		stall[WM] = 0
		focus = nil
		_kill_process(WM, 1)
	end
end

local function run_frame()
	ran = {}
	read_messages()
	slice(SYSD, SHARE_SYSD)
	slice(WM, SHARE_WM)

	local others, alive = {}, {[SYSD] = true, [WM] = true}
	for _, p in ipairs(_get_process_list()) do
		alive[p.id] = true
		if p.id > WM and p.id ~= focus then others[#others + 1] = p.id end
	end
	if focus and not alive[focus] then focus = nil end
	if focus then slice(focus, left() * SHARE_FOCUS) end

	-- the rest: equal shares (at least MIN_SHARE), then what is left again
	-- to those still busy. With more programs than the frame has room for,
	-- the ones that did not get a slice go first in the next frame.
	local n = #others
	if n > 0 then
		local start = turn % n
		for pass = 1, 3 do
			local busy = {}
			local share = max(left() / n, MIN_SHARE)
			local ran_count = 0
			for i = 0, n - 1 do
				if left() < MIN_SHARE then break end
				local id = others[(start + i) % n + 1]
				ran_count += 1
				if not slice(id, share) then busy[#busy + 1] = id end
			end
			if pass == 1 then turn = start + max(ran_count, 1) end
			others, n = busy, #busy
			if n == 0 or left() < MIN_SHARE then break end
			start = 0
		end
	end

	update_stalls(alive)
	watch_wm()
end

local failures = 0
while true do
	local ok, err = pcall(run_frame)
	if not ok then
		-- keep scheduling whatever went wrong; say so now and then
		failures += 1
		if failures < 5 or failures % 600 == 0 then
			print("boot: " .. tostring(err))
		end
	end
	flip()
end
