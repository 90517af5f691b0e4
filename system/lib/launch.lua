-- launch(path, opts): starts a program in a new process with the runtime
-- loaded first. path is a .lua file, a folder holding main.lua, or a
-- cartridge (.k64, .k64.rom, .k64.png; the kernel mounts it when a path
-- runs through it). opts: argv (list of strings), pwd (working directory of
-- a .lua program; cartridges and folders run in themselves), window (ask for
-- a window before the program's code runs).
-- Returns the new process id, or nil and a message.

local RUNTIME = "/system/lib/runtime.lua"

local CART_EXT = {["k64"] = true, ["k64.rom"] = true, ["k64.png"] = true}

local function basename(path)
	return path:match("([^/]+)$") or path
end

local function dirname(path)
	local d = path:match("^(.*)/[^/]*$")
	if d == nil or d == "" then return "/" end
	return d
end

-- A Lua literal for plain data (strings, numbers, booleans, tables of them).
local function literal(v, depth)
	local t = type(v)
	if t == "string" then return string.format("%q", v) end
	if t == "number" then
		if math.type(v) == "integer" then return string.format("%d", v) end
		return string.format("%.17g", v)
	end
	if t == "boolean" then return tostring(v) end
	if t == "table" and depth < 8 then
		local parts = {}
		for k, x in pairs(v) do
			local kt = type(k)
			if kt == "string" or kt == "number" then
				parts[#parts + 1] = "[" .. literal(k, depth + 1) .. "]=" .. literal(x, depth + 1)
			end
		end
		return "{" .. table.concat(parts, ",") .. "}"
	end
	return "nil"
end

-- What to run for a path: the file with the program's code and the working
-- directory it runs in; or nil and a message.
local function resolve(path, opts)
	local kind = fstat(path)
	local ext = _ext(path)
	if kind == "folder" or (ext and CART_EXT[ext]) then
		if kind == nil then return nil, "not found: " .. path end
		local main = path .. "/main.lua"
		if fstat(main) ~= "file" then
			return nil, "no main.lua in " .. path
		end
		return main, path
	end
	if kind ~= "file" then return nil, "not found: " .. path end
	if ext ~= "lua" then return nil, "not a program: " .. path end
	return path, opts.pwd or pwd() or dirname(path)
end

local function launch(path, opts)
	if type(path) ~= "string" or path == "" then
		return nil, "launch: no path given"
	end
	if opts ~= nil and type(opts) ~= "table" then
		return nil, "launch: options must be a table"
	end
	opts = opts or {}
	local full = fullpath(path)
	if not full then return nil, "illegal path: " .. path end
	local main, dir = resolve(full, opts)
	if not main then return nil, dir end

	-- a syntax error is reported to the caller instead of a crash later
	local src = fetch(main)
	if type(src) ~= "string" then return nil, "cannot read " .. main end
	local ok, err = load(src, "@" .. main, "t")
	if not ok then return nil, err end

	local argv = {}
	if type(opts.argv) == "table" then
		for i, a in ipairs(opts.argv) do argv[i] = tostring(a) end
	end
	local parent = opts.parent
	if parent == nil then parent = pid() end
	local info = {
		argv = argv, path = full, main = main, pwd = dir,
		parent = tonumber(parent), window = opts.window and true or false,
		name = basename(full),
	}
	local chunk = "_launch_info = " .. literal(info, 0) .. "\n"
		.. "local f, e = load(fetch(" .. literal(RUNTIME, 0) .. "), "
		.. literal("@" .. RUNTIME, 0) .. ", \"t\")\n"
		.. "if not f then error(e, 0) end\n"
		.. "f()\n"
	local id = _create_process_from_code(chunk, info.name, main)
	if not id then return nil, "could not start " .. full end
	return id
end

return launch
