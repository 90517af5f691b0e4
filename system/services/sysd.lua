-- Process 2: the system service. Keeps the table of running programs with
-- their parents and answers queries about it, and relays the clipboard.
--
-- Messages it answers (replies go to the sender):
--   {event="program_start", parent=, path=}  (sent by the runtime)
--   {event="list_programs"} -> {event="programs", list={{id=, name=, prog=,
--       parent=, path=, cpu=, memory=, pwd=}, ...}}  (every process but 1-3)
--   {event="clipboard_set", text=}
--   {event="clipboard_get"} -> {event="clipboard", text=}
--
-- A runtime error here would end the whole machine (the kernel treats
-- process 2 as vital), so every message is handled under pcall.

local programs = {}   -- id -> {parent=, path=}
local handlers = {}

function handlers.program_start(m)
	local id = m._from
	if type(id) ~= "number" then return end
	programs[id] = {parent = tonumber(m.parent), path = tostring(m.path or "")}
end

function handlers.list_programs(m)
	local list = {}
	for _, p in ipairs(_get_process_list()) do
		if p.id > 3 then
			local known = programs[p.id] or {}
			list[#list + 1] = {id = p.id, name = p.name, prog = p.prog, pwd = p.pwd,
				cpu = p.cpu, memory = p.memory, parent = known.parent, path = known.path}
		end
	end
	send_message(m._from, {event = "programs", list = list})
end

local function host_clipboard()
	local ok, text = pcall(_get_host_clipboard_text)
	if ok and type(text) == "string" then return text end
	return ""
end

function handlers.clipboard_set(m)
	local text = tostring(m.text or "")
	_set_userland_clipboard_text(text)
	pcall(_set_host_clipboard_text, text)
end

function handlers.clipboard_get(m)
	local text = host_clipboard()
	if text == "" then text = _get_userland_clipboard_text() or "" end
	send_message(m._from, {event = "clipboard", text = text})
end

-- Forget programs that have ended.
local function prune()
	local alive = {}
	for _, p in ipairs(_get_process_list()) do alive[p.id] = true end
	for id in pairs(programs) do
		if not alive[id] then programs[id] = nil end
	end
end

local function handle(m)
	if type(m) ~= "table" or type(m._from) ~= "number" then return end
	local h = handlers[m.event]
	if h then h(m) end
end

local frame = 0
while true do
	local m = _read_message()
	while m do
		pcall(handle, m)
		m = _read_message()
	end
	frame += 1
	if frame % 60 == 0 then pcall(prune) end
	flip()
end
