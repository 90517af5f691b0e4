-- The root process: starts the system processes and hands every process a
-- slice of each frame.

local function start(path_name, code)
	local id = _create_process_from_code(code, path_name, "/system/" .. path_name)
	if not id then print("could not start " .. path_name) end
	return id
end

-- Process 2: a small system service (placeholder until the desktop exists).
start("service.lua", [[
while true do flip() end
]])

-- Process 3: the window manager's slot. Until the window manager exists it
-- only keeps the frame going.
start("wm.lua", [[
print("kestrane " .. select(2, stat(5)) .. " booted")
while true do flip() end
]])

local procs = {2, 3}
while true do
	for _, id in ipairs(procs) do
		_run_process_slice(id, 0.5)
	end
	flip()
end
