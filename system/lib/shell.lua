-- The shell: reads one command line at a time and writes what it has to say
-- through an output function. It knows nothing about windows, so the
-- terminal and the tests drive it the same way:
--
--   local shell = load(fetch("/system/lib/shell.lua"), "@/system/lib/shell.lua")()
--   local st = shell.new{cwd = "/ram"}
--   shell.run_line(st, "ls", function(text, kind) ... end)
--
-- out(text, kind) gets one piece of text (it may hold several lines); kind
-- is "error" for error messages, "note" for notes and nil otherwise.
-- run_line returns what the caller should do next: "clear", "exit", or
-- "run" or "edit" and the id of a started program.

local shell = {}

local HISTORY_MAX = 200
local PROTECTED = {["/"] = true, ["/ram"] = true, ["/system"] = true}
local CART_EXT = {k64 = true, ["k64.rom"] = true, ["k64.png"] = true}

-- Errors raised by commands carry this marker so that they are printed as
-- the command's message rather than as a fault of the shell.
local FAIL = {}

local function fail(text)
	error({[FAIL] = true, text = text}, 0)
end

-- ----------------------------------------------------------------------
-- Words of a command line

-- Splits a line into words: blanks separate words, double or single quotes
-- keep blanks inside one word, and a backslash outside single quotes takes
-- the next character literally. Returns the words, or nil and a message.
function shell.split_words(line)
	local words, cur, quote, has = {}, {}, nil, false
	local i, n = 1, #line
	while i <= n do
		local c = line:sub(i, i)
		if quote then
			if c == quote then
				quote = nil
			elseif c == "\\" and quote == '"' and i < n then
				i += 1
				cur[#cur + 1] = line:sub(i, i)
			else
				cur[#cur + 1] = c
			end
		elseif c == '"' or c == "'" then
			quote, has = c, true
		elseif c == "\\" and i < n then
			i += 1
			cur[#cur + 1] = line:sub(i, i)
			has = true
		elseif c == " " or c == "\t" then
			if has then
				words[#words + 1] = table.concat(cur)
				cur, has = {}, false
			end
		else
			cur[#cur + 1] = c
			has = true
		end
		i += 1
	end
	if quote then return nil, "unterminated quote" end
	if has then words[#words + 1] = table.concat(cur) end
	return words
end

-- ----------------------------------------------------------------------
-- Paths

local function is_cart(path)
	return CART_EXT[_ext(path) or ""] == true
end

local function basename(path)
	return path:match("([^/]*)$")
end

local function dirname(path)
	local d = path:match("^(.*)/[^/]*$")
	return (d == nil or d == "") and "/" or d
end

local function join(folder, name)
	return folder == "/" and "/" .. name or folder .. "/" .. name
end

-- The kernel's view of a path: "file", "folder" or nil. A cartridge counts
-- as a file here even while it is mounted as a folder.
local function kind_of(path)
	if is_cart(path) then
		if fstat(path, true) then return "file" end
		return fstat(path) and "folder" or nil
	end
	return (fstat(path))
end

-- Whether a path can be entered: folders, and cartridges (mounted on use).
local function is_folder(path)
	return fstat(path) == "folder"
end

local function is_mount_point(path)
	return select(3, fstat(path)) ~= nil
end

-- Absolute, normalised form of a path typed by the user (relative paths are
-- taken from the working directory, which is kept in the process).
local function resolve(cmd, text)
	local p = fullpath(text)
	if not p or p:find("://", 1, true) then fail(cmd .. ": bad path: " .. text) end
	return p
end

local function is_inside(path, folder)
	return path == folder or folder == "/" or path:sub(1, #folder + 1) == folder .. "/"
end

-- /system is the read-only ROM; /ram/mount holds what mounted cartridges
-- contain and belongs to the kernel.
local function check_writable(cmd, path)
	if is_inside(path, "/system") then fail(cmd .. ": " .. path .. " is read-only") end
	if is_inside(path, "/ram/mount") then fail(cmd .. ": " .. path .. " belongs to mounted cartridges") end
end

-- ----------------------------------------------------------------------
-- Output helpers

local function say(st, text, kind) st.out(text, kind) end
local function note(st, text) st.out("// " .. text, "note") end

-- Names laid out in columns that fill top to bottom, or one per line when
-- the output width is unknown or too small.
local function columns(names, width)
	if not width or #names < 2 then return names end
	local widest = 0
	for _, s in ipairs(names) do widest = max(widest, #s) end
	local colw = widest + 2
	local ncols = max(1, (width + 2) \ colw)
	if ncols < 2 then return names end
	local nrows = (#names + ncols - 1) \ ncols
	local rows = {}
	for r = 1, nrows do
		local parts = {}
		for c = 0, ncols - 1 do
			local s = names[c * nrows + r]
			if s then
				local last = names[(c + 1) * nrows + r] == nil
				parts[#parts + 1] = last and s or s .. string.rep(" ", colw - #s)
			end
		end
		rows[r] = table.concat(parts)
	end
	return rows
end

-- ----------------------------------------------------------------------
-- Value formatting for Lua results

local function sort_strings(t)
	-- insertion sort: the process libraries have no table.sort
	for i = 2, #t do
		local v, j = t[i], i - 1
		while j >= 1 and t[j] > v do
			t[j + 1] = t[j]
			j -= 1
		end
		t[j + 1] = v
	end
	return t
end

local format_value

local function format_table(t, depth, seen)
	if seen[t] then return "{...}" end
	if depth > 2 then return tostring(t) end
	seen[t] = true
	local parts, n = {}, #t
	for i = 1, min(n, 24) do parts[#parts + 1] = format_value(t[i], depth + 1, seen, true) end
	if n > 24 then parts[#parts + 1] = "..." end
	local keys, more = {}, false
	for k in pairs(t) do
		if not (math.type(k) == "integer" and k >= 1 and k <= n) then
			if #keys >= 24 then more = true break end
			keys[#keys + 1] = k
		end
	end
	local names = {}
	for _, k in ipairs(keys) do names[#names + 1] = {tostring(k), k} end
	for i = 2, #names do -- by key text
		local v, j = names[i], i - 1
		while j >= 1 and names[j][1] > v[1] do
			names[j + 1] = names[j]
			j -= 1
		end
		names[j + 1] = v
	end
	for _, e in ipairs(names) do
		local k = e[2]
		local ks = (type(k) == "string" and k:match("^[%a_][%w_]*$")) and k
			or "[" .. format_value(k, depth + 1, seen, true) .. "]"
		parts[#parts + 1] = ks .. "=" .. format_value(t[k], depth + 1, seen, true)
	end
	if more then parts[#parts + 1] = "..." end
	seen[t] = nil
	return "{" .. table.concat(parts, ", ") .. "}"
end

-- Strings are shown as they are at the top level and quoted inside tables.
function format_value(v, depth, seen, nested)
	local ty = type(v)
	if ty == "string" then return nested and string.format("%q", v) or v end
	if ty == "table" and getmetatable(v) == nil then return format_table(v, depth or 1, seen or {}) end
	return tostring(v)
end

shell.format_value = format_value

-- ----------------------------------------------------------------------
-- Running Lua typed at the prompt

local function lua_env(st)
	if st.env then return st.env end
	local env = setmetatable({}, {__index = _G})
	-- print and the ? statement write to the shell's output
	env.print = function(...)
		local parts = {}
		for i = 1, select("#", ...) do parts[i] = tostring((select(i, ...))) end
		st.out(table.concat(parts, "  "))
	end
	st.env = env
	return env
end

-- Calls fn(...) under pcall. The terminal may give interrupt_check, asked
-- every few thousand instructions, so that a runaway loop can be stopped.
local function guarded_call(st, fn, ...)
	local check = st.interrupt_check
	if check then
		debug.sethook(function()
			if check() then error("interrupted", 0) end
		end, "", 5000)
	end
	local res = table.pack(pcall(fn, ...))
	if check then debug.sethook() end
	return res
end

local function error_text(e)
	if type(e) == "table" and e[FAIL] then return e.text end
	return tostring(e)
end

local LUA_WORDS = {}
for w in ("and break do else elseif end false for function goto if in local nil not or "
		.. "repeat return then true until while"):gmatch("%a+") do
	LUA_WORDS[w] = true
end

local function eval_lua(st, line)
	local env = lua_env(st)
	-- "? x" prints by itself; as an expression it would also show print's nil
	local chunk = not line:find("^%s*%?") and load("return " .. line, "=input", "t", env)
	local is_expr = chunk ~= false and chunk ~= nil
	if not chunk then
		local err
		chunk, err = load(line, "=input", "t", env)
		if not chunk then
			-- "word more words" was most likely meant as a command
			local first = line:match("^%s*([%a_][%w_]*)%s+[%w_%./\"'-]")
			if first and not LUA_WORDS[first] and env[first] == nil then
				err = "no command called " .. first .. " (as Lua: " .. err .. ")"
			end
			say(st, "** " .. err, "error")
			return
		end
	end
	local res = guarded_call(st, chunk)
	st.cwd = pwd()
	if not res[1] then
		say(st, "** " .. error_text(res[2]), "error")
		return
	end
	if is_expr and res.n > 1 then
		local parts = {}
		for i = 2, res.n do parts[#parts + 1] = format_value(res[i]) end
		say(st, table.concat(parts, "  "))
	end
end

-- ----------------------------------------------------------------------
-- Programs

-- launch() is a global of the runtime; without the runtime (a test boot,
-- for one) it comes from launch.lua, which returns the function.
local function get_launch(st)
	if st.launch then return st.launch end
	if type(launch) == "function" then return launch end
	local src = fetch("/system/lib/launch.lua")
	if type(src) ~= "string" then return nil end
	local chunk = load(src, "@/system/lib/launch.lua")
	if not chunk then return nil end
	local ok, r = pcall(chunk)
	if not ok then return nil end
	if type(r) == "function" then return r end
	if type(r) == "table" and type(r.launch) == "function" then return r.launch end
	if type(launch) == "function" then return launch end
	return nil
end

local function is_program(path)
	local ext = _ext(path)
	if CART_EXT[ext or ""] then return kind_of(path) ~= nil end
	local k = fstat(path)
	if k == "file" then return ext == "lua" end
	if k == "folder" then return fstat(join(path, "main.lua")) == "file" end
	return false
end

-- A program named on the command line: a path, or a bare name looked up in
-- the working directory and then in /system/demos.
local function find_program(st, name)
	if name:find("/", 1, true) or _ext(name) then
		local p = fullpath(name)
		if p and is_program(p) then return p end
		return nil
	end
	for _, folder in ipairs{st.cwd, "/system/demos"} do
		for _, suffix in ipairs{".lua", "", ".k64", ".k64.rom"} do
			local p = fullpath(join(folder, name .. suffix))
			if p and is_program(p) then return p end
		end
	end
	return nil
end

local function start_program(st, cmd, path, argv)
	local launch_fn = get_launch(st)
	if not launch_fn then fail(cmd .. ": programs cannot be started (no launcher)") end
	local ok, id, err = pcall(launch_fn, path, {argv = argv, pwd = st.cwd, parent = pid()})
	if not ok then fail(cmd .. ": " .. error_text(id)) end
	if not id then fail(cmd .. ": " .. tostring(err or "could not start " .. path)) end
	return id
end

-- ----------------------------------------------------------------------
-- File operations

-- Creates a folder and any missing folders above it.
local function make_folder(path)
	if is_folder(path) then return true end
	if kind_of(path) then return false, path .. " is a file" end
	local parent = dirname(path)
	if parent ~= path then
		local ok, err = make_folder(parent)
		if not ok then return false, err end
	end
	local err = mkdir(path)
	if err or not is_folder(path) then return false, "could not create " .. path end
	return true
end

local function copy_file(src, dst)
	if is_cart(src) or is_cart(dst) then
		-- cartridges are copied as their packed bytes
		local bytes = fetch(src, 2)
		if type(bytes) ~= "string" then return false end
		if is_cart(dst) then store(dst, bytes) else store(dst, bytes, "") end
	else
		cp(src, dst)
	end
	return kind_of(dst) == "file"
end

local function copy_tree(cmd, src, dst)
	if kind_of(src) ~= "folder" then
		if not copy_file(src, dst) then fail(cmd .. ": could not copy " .. src .. " to " .. dst) end
		return
	end
	local ok, err = make_folder(dst)
	if not ok then fail(cmd .. ": " .. err) end
	for _, name in ipairs(ls(src) or {}) do
		copy_tree(cmd, join(src, name), join(dst, name))
	end
end

-- Deletes a file or a folder with everything in it. A mount point inside is
-- only unmounted: what it shows lives elsewhere.
local function delete_tree(path)
	if kind_of(path) == "folder" and not is_mount_point(path) then
		for _, name in ipairs(ls(path) or {}) do delete_tree(join(path, name)) end
	end
	_fdelete(path)
end

-- The target of cp and mv: into a folder when the target is one.
local function copy_target(cmd, src, dst_text)
	local dst = resolve(cmd, dst_text)
	if kind_of(dst) == "folder" and not is_cart(dst) then dst = join(dst, basename(src)) end
	if dst == src then fail(cmd .. ": " .. src .. " and " .. dst .. " are the same") end
	if is_inside(dst, src) and kind_of(src) == "folder" then
		fail(cmd .. ": cannot copy " .. src .. " into itself")
	end
	check_writable(cmd, dst)
	local parent = dirname(dst)
	if not is_folder(parent) then fail(cmd .. ": no such folder: " .. parent) end
	return dst
end

local function existing(cmd, text)
	local p = resolve(cmd, text)
	if not kind_of(p) then fail(cmd .. ": no such file or folder: " .. text) end
	return p
end

local function need_args(cmd, args, n)
	if #args < n then fail("usage: " .. shell.commands[cmd].usage) end
end

-- ----------------------------------------------------------------------
-- Commands

local commands = {}
shell.commands = commands

local function command(name, usage, help, fn)
	commands[name] = {usage = usage, help = help, fn = fn}
end

command("ls", "ls [path ...]", "list a folder (folders end in /)", function(st, args)
	if #args == 0 then args = {"."} end
	for i, text in ipairs(args) do
		local p = existing("ls", text)
		if #args > 1 then say(st, (i > 1 and "\n" or "") .. p .. ":") end
		if not is_folder(p) then
			say(st, basename(p))
		else
			local names, folders = ls(p)
			names = names or {}
			local shown = {}
			for j, name in ipairs(names) do
				shown[j] = j <= (folders or 0) and name .. "/" or name
			end
			if #shown > 0 then say(st, table.concat(columns(shown, st.width), "\n")) end
		end
	end
end)

command("cd", "cd [folder]", "change folder (no argument: /ram)", function(st, args)
	local p = resolve("cd", args[1] or st.home)
	local k = fstat(p)
	if not k then fail("cd: no such folder: " .. (args[1] or p)) end
	if k ~= "folder" then fail("cd: not a folder: " .. (args[1] or p)) end
	if cd(p) then fail("cd: cannot enter " .. p) end
	st.cwd = pwd()
end)

command("pwd", "pwd", "show the working folder", function(st)
	say(st, st.cwd)
end)

command("cat", "cat file ...", "show the contents of files", function(st, args)
	need_args("cat", args, 1)
	for _, text in ipairs(args) do
		local p = existing("cat", text)
		if kind_of(p) == "folder" then fail("cat: " .. text .. " is a folder") end
		local v = fetch(p)
		if type(v) == "string" then
			if v:find("\0", 1, true) then
				say(st, "** cat: " .. text .. " is binary (" .. #v .. " bytes)", "error")
			elseif #v > 0 then
				-- each output is one or more lines already; a final line
				-- end would show as an extra empty line
				say(st, v:sub(-1) == "\n" and v:sub(1, -2) or v)
			end
		elseif type(v) == "table" then
			say(st, kod(v))
		elseif v == nil then
			fail("cat: cannot read " .. text)
		else
			fail("cat: " .. text .. " is not text (" .. type(v) .. ")")
		end
	end
end)

command("mkdir", "mkdir folder ...", "create folders (and their parents)", function(st, args)
	need_args("mkdir", args, 1)
	for _, text in ipairs(args) do
		local p = resolve("mkdir", text)
		check_writable("mkdir", p)
		if kind_of(p) then fail("mkdir: already exists: " .. text) end
		local ok, err = make_folder(p)
		if not ok then fail("mkdir: " .. err) end
	end
end)

command("rm", "rm path ...", "delete files and whole folders", function(st, args)
	need_args("rm", args, 1)
	for _, text in ipairs(args) do
		local p = existing("rm", text)
		if PROTECTED[p] then fail("rm: refusing to delete " .. p) end
		check_writable("rm", p)
		delete_tree(p)
		if kind_of(p) then fail("rm: could not delete " .. p) end
	end
	-- the working folder may have gone with what was deleted
	if not is_folder(st.cwd) then
		local d = st.cwd
		while not is_folder(d) do d = dirname(d) end
		cd(d)
		st.cwd = pwd()
		note(st, "working folder is now " .. st.cwd)
	end
end)

command("cp", "cp source target", "copy a file or a folder", function(st, args)
	need_args("cp", args, 2)
	local src = existing("cp", args[1])
	local dst = copy_target("cp", src, args[2])
	copy_tree("cp", src, dst)
end)

command("mv", "mv source target", "move or rename a file or a folder", function(st, args)
	need_args("mv", args, 2)
	local src = existing("mv", args[1])
	if PROTECTED[src] then fail("mv: refusing to move " .. src) end
	check_writable("mv", src)
	local dst = copy_target("mv", src, args[2])
	copy_tree("mv", src, dst)
	delete_tree(src)
	if is_inside(st.cwd, src) then
		cd(dst .. st.cwd:sub(#src + 1))
		st.cwd = pwd()
	end
end)

-- Mount points are not listed by the kernel; they are found by walking the
-- top of the tree (at most found.budget folders) and asking each folder
-- whether it is one.
local function find_mounts(path, depth, found)
	local desc = select(3, fstat(path))
	if desc then found[#found + 1] = {path, desc} end
	found.budget -= 1
	if depth <= 0 or found.budget <= 0 or path == "/system" then return end
	local names, folders = ls(path)
	if not names then return end
	for i = 1, min(folders or 0, 64) do find_mounts(join(path, names[i]), depth - 1, found) end
	-- mounted cartridges list as files
	for i = (folders or 0) + 1, #names do
		local p = join(path, names[i])
		if is_cart(p) then
			local d = select(3, fstat(p))
			if d then found[#found + 1] = {p, d} end
		end
	end
end

command("mount", "mount [point target]", "list mounts, or show target at point", function(st, args)
	if #args == 0 then
		local found = {budget = 300}
		find_mounts("/", 3, found)
		for _, m in ipairs(found) do say(st, m[1] .. "  <-  " .. m[2]) end
		return
	end
	need_args("mount", args, 2)
	local mp = resolve("mount", args[1])
	local target = existing("mount", args[2])
	if PROTECTED[mp] or is_inside(mp, "/system") then fail("mount: cannot mount over " .. mp) end
	if kind_of(mp) == "file" then fail("mount: " .. mp .. " is a file") end
	mount(mp, target)
	if not is_mount_point(mp) then fail("mount: the kernel refused to mount " .. target) end
	note(st, mp .. " shows " .. target)
end)

command("edit", "edit file", "open a file in the editor", function(st, args)
	need_args("edit", args, 1)
	local p = resolve("edit", args[1])
	if kind_of(p) == "folder" and not is_cart(p) then fail("edit: " .. args[1] .. " is a folder") end
	if not is_folder(dirname(p)) then fail("edit: no such folder: " .. dirname(p)) end
	return "edit", start_program(st, "edit", "/system/apps/edit.lua", {p})
end)

command("run", "run program [args ...]", "run a .lua file, a cartridge or a demo", function(st, args)
	need_args("run", args, 1)
	local path = find_program(st, args[1])
	if not path then fail("run: no program called " .. args[1]) end
	local argv = {}
	for i = 2, #args do argv[#argv + 1] = args[i] end
	return "run", start_program(st, "run", path, argv)
end)

command("ps", "ps", "list the running processes", function(st)
	say(st, string.format("%5s %6s %8s  %s", "id", "cpu%", "memory", "name"))
	for _, p in ipairs(_get_process_list()) do
		say(st, string.format("%5d %6.1f %7dk  %s", p.id, (p.cpu or 0) * 100,
			(p.memory or 0) // 1024, tostring(p.name)))
	end
end)

command("kill", "kill id ...", "stop programs by their process id", function(st, args)
	need_args("kill", args, 1)
	for _, text in ipairs(args) do
		local id = math.tointeger(tonumber(text))
		if not id or _process_state(id) == -1 then fail("kill: no process " .. text) end
		-- the scheduler, the system service and the window manager
		if id <= 3 then fail("kill: " .. text .. " is part of the system") end
		_kill_process(id, 0)
	end
end)

command("reboot", "reboot", "restart the machine", function(st)
	_signal(34)
end)

command("exit", "exit", "close the terminal", function()
	return "exit"
end)

command("clear", "clear", "clear the screen", function()
	return "clear"
end)

local function sorted_command_names()
	local names = {}
	for name in pairs(commands) do names[#names + 1] = name end
	return sort_strings(names)
end

command("help", "help [command]", "list the commands, or explain one", function(st, args)
	if args[1] then
		local c = commands[args[1]]
		if not c then fail("help: no command called " .. args[1]) end
		say(st, c.usage .. "\n  " .. c.help)
		return
	end
	for _, name in ipairs(sorted_command_names()) do
		local c = commands[name]
		say(st, c.usage .. string.rep(" ", max(1, 24 - #c.usage)) .. c.help)
	end
	say(st, "anything else is run as Lua; ctrl+c stops a program")
end)

-- ----------------------------------------------------------------------
-- The interpreter

function shell.new(opts)
	opts = opts or {}
	local st = {
		history = {},
		home = opts.home or "/ram",
		width = opts.width,
		launch = opts.launch,
		interrupt_check = opts.interrupt_check,
		out = function() end,
	}
	if opts.cwd then cd(opts.cwd) end
	st.cwd = pwd()
	return st
end

local function add_history(st, line)
	if line:match("^%s*$") or st.history[#st.history] == line then return end
	st.history[#st.history + 1] = line
	if #st.history > HISTORY_MAX then table.remove(st.history, 1) end
end

-- A line is a command when its first word names one, unless it reads as a
-- Lua assignment to a variable of that name ("ls = 1").
local function as_command(words)
	local c = commands[words[1]]
	if not c then return nil end
	local second = words[2]
	if second and second:sub(1, 1) == "=" and second:sub(1, 2) ~= "==" then return nil end
	return c
end

-- Keeps the process's working folder (which the kernel's file functions use)
-- in step with the shell's, falling back when the folder has gone.
local function sync_cwd(st)
	if pwd() == st.cwd then return end
	if not is_folder(st.cwd) or cd(st.cwd) then
		cd(st.home)
		st.cwd = pwd()
	end
end

function shell.run_line(st, line, out)
	st.out = out or st.out
	line = tostring(line or "")
	add_history(st, line)
	if line:match("^%s*$") then return nil end
	sync_cwd(st)
	local words, err = shell.split_words(line)
	if not words then
		-- a broken quote is the shell's business only when a command was meant
		if commands[line:match("^%s*(%S+)")] then
			say(st, "** " .. err, "error")
			return nil
		end
		eval_lua(st, line)
		return nil
	end
	local c = #words > 0 and as_command(words)
	if not c then
		-- a path to a program runs it: "game.k64", "./tool.lua args"
		if #words > 0 and (words[1]:find("/", 1, true) or _ext(words[1])) then
			local path = find_program(st, words[1])
			if path then c = commands.run end
		end
		if not c then
			eval_lua(st, line)
			return nil
		end
		table.insert(words, 1, "run")
	end
	local args = {}
	for i = 2, #words do args[i - 1] = words[i] end
	local res = guarded_call(st, c.fn, st, args)
	if not res[1] then
		say(st, "** " .. error_text(res[2]), "error")
		return nil
	end
	return res[2], res[3]
end

-- Completes the last word of a line as a path or a command name. Returns
-- the completed line and the list of candidates.
function shell.complete(st, line)
	sync_cwd(st)
	local head, word = line:match("^(.-)([^%s\"']*)$")
	local first = not head:find("%S")
	local folder_text, part = word:match("^(.*/)([^/]*)$")
	folder_text = folder_text or ""
	part = part or word
	local found = {}
	if first and folder_text == "" then
		for _, name in ipairs(sorted_command_names()) do
			if name:sub(1, #part) == part then found[#found + 1] = name .. " " end
		end
	end
	local folder = fullpath(folder_text == "" and "." or folder_text)
	if folder and is_folder(folder) then
		local names, folders = ls(folder)
		for i, name in ipairs(names or {}) do
			if name:sub(1, #part) == part then
				found[#found + 1] = folder_text .. name .. (i <= (folders or 0) and "/" or "")
			end
		end
	end
	if #found == 0 then return line, found end
	-- the longest common beginning of the candidates
	local common = found[1]
	for i = 2, #found do
		local s, n = found[i], 0
		while n < #common and n < #s and common:sub(n + 1, n + 1) == s:sub(n + 1, n + 1) do n += 1 end
		common = common:sub(1, n)
	end
	if #found > 1 and folder_text ~= "" then
		for i, s in ipairs(found) do found[i] = s:sub(#folder_text + 1) end
	end
	return head .. (#common >= #word and common or word), found
end

return shell
