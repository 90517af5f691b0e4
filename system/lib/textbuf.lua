-- Text buffer of the code editor: plain functions over a table.
--
-- A buffer holds its text as an array of lines without line feeds, a cursor
-- (line, col) where col is a byte index from 1 to #line + 1, and an optional
-- selection anchor. Every change goes through one replace primitive, which
-- also records it for undo. Display columns (tabs, wide glyphs) are computed
-- here too, so that vertical moves and the editor's drawing agree.

local M = {}

local UNDO_LIMIT = 500

-- ---------------------------------------------------------------------------
-- Lines

local function split_lines(text)
	local lines, n, pos = {}, 0, 1
	while true do
		local e = text:find("\n", pos, true)
		n += 1
		if not e then
			lines[n] = text:sub(pos)
			return lines, n
		end
		lines[n] = text:sub(pos, e - 1)
		pos = e + 1
	end
end

-- Position reached after inserting text at (l, c).
local function end_of(l, c, text)
	local last, count = 1, 0
	while true do
		local e = text:find("\n", last, true)
		if not e then break end
		count += 1
		last = e + 1
	end
	if count == 0 then return l, c + #text end
	return l + count, #text - last + 2
end

local function before(l1, c1, l2, c2)
	return l1 < l2 or (l1 == l2 and c1 < c2)
end

local function clamp_pos(b, l, c)
	local n = #b.lines
	if l < 1 then return 1, 1 end
	if l > n then return n, #b.lines[n] + 1 end
	local len = #b.lines[l]
	if c < 1 then c = 1 elseif c > len + 1 then c = len + 1 end
	return l, c
end

local function range_text(b, l1, c1, l2, c2)
	local lines = b.lines
	if l1 == l2 then return lines[l1]:sub(c1, c2 - 1) end
	local parts = {lines[l1]:sub(c1)}
	for l = l1 + 1, l2 - 1 do parts[#parts + 1] = lines[l] end
	parts[#parts + 1] = lines[l2]:sub(1, c2 - 1)
	return table.concat(parts, "\n")
end

-- The one primitive that changes text: replaces the range (l1,c1)-(l2,c2)
-- by text and returns the end of the inserted text.
local function splice(b, l1, c1, l2, c2, text)
	local lines = b.lines
	local head = lines[l1]:sub(1, c1 - 1)
	local tail = lines[l2]:sub(c2)
	local new, k = split_lines(text)
	local el, ec = l1 + k - 1, #new[k] + 1
	if k == 1 then ec = #head + ec end
	new[1] = head .. new[1]
	new[k] = new[k] .. tail
	local old_count = l2 - l1 + 1
	local n = #lines
	if k != old_count then
		-- shift the lines after the range once instead of line by line
		table.move(lines, l2 + 1, n, l1 + k)
		for i = n + k - old_count + 1, n do lines[i] = nil end
	end
	for i = 1, k do lines[l1 + i - 1] = new[i] end
	if l1 < b.dirty_from then b.dirty_from = l1 end
	-- the lines touched since the owner last cleared edit_lo
	local hi = math.max(l2, el)
	if not b.edit_lo or l1 < b.edit_lo then b.edit_lo = l1 end
	if not b.edit_hi or hi > b.edit_hi then b.edit_hi = hi end
	b.changes += 1
	return el, ec
end

-- ---------------------------------------------------------------------------
-- Creation and whole text

function M.new(text, tabw)
	local b = {
		lines = {""}, cl = 1, cc = 1, al = nil, ac = nil,
		goal = nil, tabw = tabw or 4,
		undo = {}, redo = {}, seq = 0, saved_id = 0,
		dirty_from = 1, changes = 0, states = {0}, known = 1,
	}
	if text then M.set_text(b, text) end
	return b
end

-- Replaces the whole text; forgets undo history and counts as saved.
function M.set_text(b, text)
	b.lines = split_lines(text or "")
	b.cl, b.cc, b.al, b.ac, b.goal = 1, 1, nil, nil, nil
	b.undo, b.redo = {}, {}
	b.saved_id = 0
	b.dirty_from = 1
	b.changes += 1
end

-- The text joined with line feeds: a final line feed comes back as it was
-- loaded, since it leaves an empty last line.
function M.text(b)
	return table.concat(b.lines, "\n")
end

function M.line_count(b) return #b.lines end

-- ---------------------------------------------------------------------------
-- Undo records
--
-- A group is a list of edits {l, c, old, new} (text old at (l, c) became
-- new) with the cursor before and after. Consecutive typing or deleting
-- extends the open group at the top of the stack.

local function top(b) return b.undo[#b.undo] end

local function close_group(b)
	local g = top(b)
	if g then g.open = false end
end

local function new_group(b, kind)
	close_group(b)
	b.seq += 1
	local g = {id = b.seq, kind = kind, open = kind != nil, edits = {},
		cl0 = b.cl, cc0 = b.cc, al0 = b.al, ac0 = b.ac}
	local undo = b.undo
	undo[#undo + 1] = g
	if #undo > UNDO_LIMIT then table.remove(undo, 1) end
	b.redo = {}
	return g
end

-- The open group of this kind that ends at the cursor, if any.
local function open_group(b, kind)
	local g = top(b)
	if g and g.open and g.kind == kind and g.cl1 == b.cl and g.cc1 == b.cc and b.al == nil then
		return g
	end
end

local function finish(b, g)
	g.cl1, g.cc1 = b.cl, b.cc
	b.goal = nil
end

-- Replaces a range as one recorded edit of group g; the cursor goes to the
-- end of the new text.
local function edit(b, g, l1, c1, l2, c2, text)
	local old = range_text(b, l1, c1, l2, c2)
	g.edits[#g.edits + 1] = {l = l1, c = c1, old = old, new = text}
	b.cl, b.cc = splice(b, l1, c1, l2, c2, text)
	b.al, b.ac = nil, nil
end

function M.modified(b)
	local g = top(b)
	return (g and g.id or 0) != b.saved_id
end

-- Marks the current state as saved; later typing starts a new group so
-- that the saved state stays reachable by undo.
function M.mark_saved(b)
	close_group(b)
	local g = top(b)
	b.saved_id = g and g.id or 0
end

function M.undo(b)
	local g = table.remove(b.undo)
	if not g then return false end
	g.open = false
	for i = #g.edits, 1, -1 do
		local e = g.edits[i]
		local l2, c2 = end_of(e.l, e.c, e.new)
		splice(b, e.l, e.c, l2, c2, e.old)
	end
	b.cl, b.cc, b.al, b.ac = g.cl0, g.cc0, g.al0, g.ac0
	b.goal = nil
	b.redo[#b.redo + 1] = g
	return true
end

function M.redo(b)
	local g = table.remove(b.redo)
	if not g then return false end
	for i = 1, #g.edits do
		local e = g.edits[i]
		local l2, c2 = end_of(e.l, e.c, e.old)
		splice(b, e.l, e.c, l2, c2, e.new)
	end
	b.cl, b.cc, b.al, b.ac = g.cl1, g.cc1, nil, nil
	b.goal = nil
	b.undo[#b.undo + 1] = g
	return true
end

-- ---------------------------------------------------------------------------
-- Selection

-- The selection as (l1, c1, l2, c2) in text order, or nil when empty.
function M.selection(b)
	if not b.al then return nil end
	local l1, c1, l2, c2 = b.al, b.ac, b.cl, b.cc
	if l1 == l2 and c1 == c2 then return nil end
	if before(l2, c2, l1, c1) then l1, c1, l2, c2 = l2, c2, l1, c1 end
	return l1, c1, l2, c2
end

function M.selected_text(b)
	local l1, c1, l2, c2 = M.selection(b)
	if not l1 then return "" end
	return range_text(b, l1, c1, l2, c2)
end

function M.select_all(b)
	close_group(b)
	local n = #b.lines
	b.al, b.ac = 1, 1
	b.cl, b.cc = n, #b.lines[n] + 1
	b.goal = nil
end

function M.clear_selection(b)
	b.al, b.ac = nil, nil
end

-- Places the cursor; with extend the selection grows from the old cursor.
function M.set_cursor(b, l, c, extend)
	close_group(b)
	l, c = clamp_pos(b, l, c)
	if extend then
		if not b.al then b.al, b.ac = b.cl, b.cc end
	else
		b.al, b.ac = nil, nil
	end
	b.cl, b.cc = l, c
end

-- Sets the selection from (al, ac) to (l, c), the cursor at (l, c).
function M.select_range(b, al, ac, l, c)
	close_group(b)
	b.al, b.ac = clamp_pos(b, al, ac)
	b.cl, b.cc = clamp_pos(b, l, c)
	b.goal = nil
end

function M.delete_selection(b)
	local l1, c1, l2, c2 = M.selection(b)
	if not l1 then return false end
	local g = new_group(b, nil)
	edit(b, g, l1, c1, l2, c2, "")
	finish(b, g)
	return true
end

-- ---------------------------------------------------------------------------
-- Typing and deleting

local function is_space(ch) return ch == " " or ch == "\t" end

-- Inserts text at the cursor, replacing the selection. Typed text (typing
-- = true) joins the previous typing unless a word starts after a space or
-- a new line begins, so undo takes back about a word at a time.
function M.insert(b, text, typing)
	if text == "" and not M.selection(b) then return end
	local g
	if typing and not M.selection(b) then
		g = open_group(b, "type")
		if g then
			local prev = b.lines[b.cl]:sub(b.cc - 1, b.cc - 1)
			local first = text:sub(1, 1)
			if text:find("\n", 1, true) or (is_space(prev) and not is_space(first)) then
				g = nil
			end
		end
		if g then
			-- extend the last edit when it ends right here
			local e = g.edits[#g.edits]
			local el, ec = end_of(e.l, e.c, e.new)
			if e.old == "" and el == b.cl and ec == b.cc then
				e.new = e.new .. text
				b.cl, b.cc = splice(b, b.cl, b.cc, b.cl, b.cc, text)
				finish(b, g)
				return
			end
		end
	end
	g = g or new_group(b, typing and "type" or nil)
	local l1, c1, l2, c2 = M.selection(b)
	if l1 then
		edit(b, g, l1, c1, l2, c2, "")
	end
	edit(b, g, b.cl, b.cc, b.cl, b.cc, text)
	finish(b, g)
	if not typing or text:find("\n", 1, true) then close_group(b) end
end

-- Indents the lines of the selection (or the cursor's line) by one tab, or
-- with outdent removes one tab or up to tabw spaces from each. The lines
-- stay selected; one undo takes it all back.
function M.indent(b, outdent)
	local l1, c1, l2, c2 = M.selection(b)
	if not l1 then l1, l2, c2 = b.cl, b.cl, 2 end
	if l2 > l1 and c2 == 1 then l2 -= 1 end
	local g = new_group(b, nil)
	for l = l1, l2 do
		local line = b.lines[l]
		if not outdent then
			if line != "" then edit(b, g, l, 1, l, 1, "\t") end
		else
			local n = line:match("^\t") and 1 or #(line:match("^ *"))
			n = math.min(n, b.tabw)
			if n > 0 then edit(b, g, l, 1, l, n + 1, "") end
		end
	end
	b.al, b.ac = l1, 1
	b.cl, b.cc = l2, #b.lines[l2] + 1
	finish(b, g)
	close_group(b)
	if #g.edits == 0 then table.remove(b.undo) end
end

-- One character (or line break) before the cursor: its start position.
local function prev_pos(b, l, c)
	if c > 1 then return l, c - 1 end
	if l > 1 then return l - 1, #b.lines[l - 1] + 1 end
	return l, c
end

local function next_pos(b, l, c)
	if c <= #b.lines[l] then return l, c + 1 end
	if l < #b.lines then return l + 1, 1 end
	return l, c
end

local word_start, word_end

-- Removes one character (or a word) before the cursor when back is set,
-- else after it; with a selection, the selection. A run of single
-- removals in the same direction is one undo step.
local function remove_at_cursor(b, word, back)
	if M.delete_selection(b) then return true end
	local l, c = b.cl, b.cc
	local ol, oc   -- the other end of the removed text
	if back then
		if word then ol, oc = word_start(b, l, c) else ol, oc = prev_pos(b, l, c) end
	else
		if word then ol, oc = word_end(b, l, c) else ol, oc = next_pos(b, l, c) end
	end
	if ol == l and oc == c then return false end
	local fl, fc, tl, tc = l, c, ol, oc   -- the removed text in text order
	if back then fl, fc, tl, tc = ol, oc, l, c end
	local kind = back and "back" or "del"
	local g = open_group(b, kind)
	if g and not word then
		local e = g.edits[#g.edits]
		if e.new == "" and e.l == l and e.c == c then
			local removed = range_text(b, fl, fc, tl, tc)
			if back then
				e.old = removed .. e.old
				e.l, e.c = fl, fc
			else
				e.old = e.old .. removed
			end
			splice(b, fl, fc, tl, tc, "")
			b.cl, b.cc = fl, fc
			finish(b, g)
			return true
		end
	end
	g = new_group(b, not word and kind or nil)
	edit(b, g, fl, fc, tl, tc, "")
	b.cl, b.cc = fl, fc
	finish(b, g)
	return true
end

-- Removes one character (or with word, back to the start of the word)
-- before the cursor; with a selection, the selection.
function M.backspace(b, word) return remove_at_cursor(b, word, true) end

-- Removes one character (or to the end of the word) after the cursor.
function M.delete(b, word) return remove_at_cursor(b, word, false) end

-- ---------------------------------------------------------------------------
-- Tokenizer states
--
-- The kernel's tokenoid(s, i, state) carries open long strings and
-- comments from one line to the next through its state. b.states[l] is the
-- state at the start of line l, known for l <= b.known; an edit at line d
-- keeps the states up to line d.

-- State at the end of line s begun in state st, as reading every token
-- with tokenoid would leave it. Only tokens that begin with '"', '-' or '['
-- can hold or open a long bracket, and no other token contains those
-- characters, so the scan jumps from one of them to the next.
function M.end_state(s, st)
	local i = 1
	if st != 0 then
		if not s:find("]", 1, true) then return st end
		local _, ni, _, ns = tokenoid(s, 1, st)
		if ns or not ni then return st end
		i = ni
	end
	-- no "[", "=" ... "[" at all: nothing can open
	if not s:find("%[=*%[", i) then return 0 end
	while true do
		i = s:find('[-"%[]', i)
		if not i then return 0 end
		local _, ni, _, ns = tokenoid(s, i, 0)
		if ns then return ns end
		i = ni
	end
end

function M.line_state(b, l)
	local states, lines = b.states, b.lines
	local known = b.known
	local d = b.dirty_from
	if d < known then known = d end
	b.dirty_from = math.huge
	while known < l do
		states[known + 1] = M.end_state(lines[known], states[known])
		known += 1
	end
	b.known = known
	return states[l]
end

-- ---------------------------------------------------------------------------
-- Display columns
--
-- A tab runs to the next multiple of tabw; bytes 128-255 are wide glyphs
-- two cells wide; every other byte is one cell.

local SPECIAL = "[\t\128-\255]"

function M.char_width(byte, vcol, tabw)
	if byte == 9 then return tabw - vcol % tabw end
	if byte >= 128 then return 2 end
	return 1
end

-- Display column (from 0) where byte c of the line starts.
function M.vcol(b, line, c)
	local prefix_end = c - 1
	if not line:find(SPECIAL) or not line:sub(1, prefix_end):find(SPECIAL) then
		return prefix_end
	end
	local v, tabw = 0, b.tabw
	for i = 1, prefix_end do
		v += M.char_width(line:byte(i), v, tabw)
	end
	return v
end

-- Byte column whose character holds display column v; past the end, the
-- end of the line. A click on the right half of a character goes after it
-- when the caller passes v rounded to the nearest cell border.
function M.col_at(b, line, v)
	if v <= 0 then return 1 end
	if not line:find(SPECIAL) then
		return math.min(v, #line) + 1
	end
	local x, tabw = 0, b.tabw
	for i = 1, #line do
		local w = M.char_width(line:byte(i), x, tabw)
		if x + w > v then
			return (v - x) * 2 >= w and i + 1 or i
		end
		x += w
	end
	return #line + 1
end

-- ---------------------------------------------------------------------------
-- Moving

local function char_class(ch)
	if ch == "" then return -1 end
	if is_space(ch) then return 0 end
	if ch:find("^[%w_\128-\255]") then return 1 end
	return 2
end

-- Start of the word before (l, c): spaces are skipped first, then the run
-- of one class; at a line start, the end of the previous line.
function word_start(b, l, c)
	if c == 1 then return prev_pos(b, l, c) end
	local line = b.lines[l]
	while c > 1 and char_class(line:sub(c - 1, c - 1)) == 0 do c -= 1 end
	local k = char_class(line:sub(c - 1, c - 1))
	while c > 1 and char_class(line:sub(c - 1, c - 1)) == k do c -= 1 end
	return l, c
end

-- End of the word after (l, c): the run of one class, then spaces.
function word_end(b, l, c)
	local line = b.lines[l]
	if c > #line then return next_pos(b, l, c) end
	local k = char_class(line:sub(c, c))
	if k != 0 then
		while c <= #line and char_class(line:sub(c, c)) == k do c += 1 end
	end
	while c <= #line and char_class(line:sub(c, c)) == 0 do c += 1 end
	return l, c
end

-- A line move of dl lines towards the goal column. Past the first or last
-- line a single-line move goes to the start or end of the document, a page
-- move stops on that line.
local function vertical(b, dl, page)
	local line = b.lines[b.cl]
	local goal = b.goal or M.vcol(b, line, b.cc)
	local l, n = b.cl + dl, #b.lines
	if not page or b.cl + dl < 1 and b.cl == 1 or b.cl + dl > n and b.cl == n then
		if l < 1 then return 1, 1, goal end
		if l > n then return n, #b.lines[n] + 1, goal end
	end
	l = math.max(1, math.min(n, l))
	local target = b.lines[l]
	local c = M.col_at(b, target, goal)
	-- col_at rounds to the nearest border; vertical moves must not pass the goal
	if c > 1 and M.vcol(b, target, c) > goal then c -= 1 end
	return l, c, goal
end

-- Moves the cursor. how: "left", "right", "word_left", "word_right", "up",
-- "down", "home", "end", "page_up", "page_down", "doc_start", "doc_end".
-- page is the number of lines of a page. With extend the selection grows;
-- without it a plain left/right move first collapses the selection.
function M.move(b, how, extend, page)
	close_group(b)
	local l, c, goal = b.cl, b.cc, nil
	local l1, c1, l2, c2 = M.selection(b)
	if how == "left" then
		if l1 and not extend then l, c = l1, c1 else l, c = prev_pos(b, l, c) end
	elseif how == "right" then
		if l1 and not extend then l, c = l2, c2 else l, c = next_pos(b, l, c) end
	elseif how == "word_left" then
		l, c = word_start(b, l, c)
	elseif how == "word_right" then
		l, c = word_end(b, l, c)
	elseif how == "up" then
		l, c, goal = vertical(b, -1)
	elseif how == "down" then
		l, c, goal = vertical(b, 1)
	elseif how == "page_up" then
		l, c, goal = vertical(b, -math.max(1, page or 20), true)
	elseif how == "page_down" then
		l, c, goal = vertical(b, math.max(1, page or 20), true)
	elseif how == "home" then
		-- first press: to the first non-blank character; again: column 1
		local first = (b.lines[l]:find("[^ \t]") or #b.lines[l] + 1)
		c = c == first and 1 or first
	elseif how == "end" then
		c = #b.lines[l] + 1
	elseif how == "doc_start" then
		l, c = 1, 1
	elseif how == "doc_end" then
		l = #b.lines
		c = #b.lines[l] + 1
	else
		return false
	end
	M.set_cursor(b, l, c, extend)
	b.goal = goal
	return true
end

-- ---------------------------------------------------------------------------
-- Search

-- Start of the last match in line that begins before limit, or nil.
local function last_match(line, needle, limit)
	local found, init = nil, 1
	while true do
		local s = line:find(needle, init, true)
		if not s or s >= limit then return found end
		found, init = s, s + 1
	end
end

local function select_match(b, l, s, needle)
	b.al, b.ac = l, s
	b.cl, b.cc = l, s + #needle
	b.goal = nil
end

-- Finds needle (one line of plain text) after the cursor, or before the
-- selection with backward, wrapping around the document. Selects the match
-- and returns true and whether it wrapped; false when there is none.
function M.find(b, needle, backward)
	if needle == "" or needle:find("\n", 1, true) then return false end
	close_group(b)
	local lines, n = b.lines, #b.lines
	if not backward then
		local l0, c0 = b.cl, b.cc
		for l = l0, n do
			local s = lines[l]:find(needle, l == l0 and c0 or 1, true)
			if s then select_match(b, l, s, needle) return true, false end
		end
		for l = 1, l0 do
			local s = lines[l]:find(needle, 1, true)
			if s then select_match(b, l, s, needle) return true, true end
		end
		return false
	end
	local l0, c0 = b.cl, b.cc
	local sl, sc = M.selection(b)
	if sl then l0, c0 = sl, sc end
	for l = l0, 1, -1 do
		local s = last_match(lines[l], needle, l == l0 and c0 or math.huge)
		if s then select_match(b, l, s, needle) return true, false end
	end
	for l = n, l0, -1 do
		local s = last_match(lines[l], needle, math.huge)
		if s then select_match(b, l, s, needle) return true, true end
	end
	return false
end

-- ---------------------------------------------------------------------------
-- Files
--
-- fetch converts files named .txt, .pn and .lua from host text (UTF-8) to
-- the kernel's character set and reads anything that starts like a kod
-- document (or like a PNG) as a value. write_file picks the plainest form
-- in which fetch gives back exactly the editor's text:
-- - the text itself (host text for those three extensions);
-- - behind a raw metadata header, when the text would otherwise be taken
--   for kod or a picture, or when the file had metadata worth keeping;
-- - as a kod string, for line ends and zero bytes in host text files,
--   which host text cannot carry.
-- .kod files are edited as their source text.

local RAW_HEADER = '--[[kod_format="raw"'

local host_seq

-- UTF-8 sequence of every code of the kernel's character set.
local function host_table()
	if host_seq then return host_seq end
	local t = {[0] = ""}
	for i = 1, 255 do t[i] = string.char(i) end
	local function set(code, ...) t[code] = utf8.char(...) end
	set(1, 0xB9) set(2, 0xB2) set(3, 0xB3)
	for i = 4, 8 do set(i, 0x2074 + i - 4) end
	set(11, 0x1D47) set(12, 0x1D9C) set(14, 0x1D49) set(15, 0x1DA0)
	local sym16 = {0x25AE, 0x25A0, 0x25A1, 0x2059, 0x2058, 0x2016, 0x25C0, 0x25B6,
		0x300C, 0x300D, 0x00A5, 0x2022, 0x3001, 0x3002, 0x309B, 0x309C}
	for i = 1, 16 do set(15 + i, sym16[i]) end
	set(127, 0x25CB)
	local vs = 0xFE0F
	local sym128 = {{0x2588}, {0x2592}, {0x1F431}, {0x2B07, vs}, {0x2591}, {0x273D},
		{0x25CF}, {0x2665}, {0x2609}, {0xC6C3}, {0x2302}, {0x2B05, vs}, {0x1F610},
		{0x266A}, {0x1F17E, vs}, {0x25C6}, {0x2026}, {0x27A1, vs}, {0x2605},
		{0x29D7}, {0x2B06, vs}, {0x02C7}, {0x2227}, {0x274E}, {0x25A4}, {0x25A5}}
	for i = 1, 26 do set(127 + i, table.unpack(sym128[i])) end
	local kana = {0x3042, 0x3044, 0x3046, 0x3048, 0x304A, 0x304B, 0x304D, 0x304F,
		0x3051, 0x3053, 0x3055, 0x3057, 0x3059, 0x305B, 0x305D, 0x305F, 0x3061,
		0x3064, 0x3066, 0x3068, 0x306A, 0x306B, 0x306C, 0x306D, 0x306E, 0x306F,
		0x3072, 0x3075, 0x3078, 0x307B, 0x307E, 0x307F, 0x3080, 0x3081, 0x3082,
		0x3084, 0x3086, 0x3088, 0x3089, 0x308A, 0x308B, 0x308C, 0x308D, 0x308F,
		0x3092, 0x3093}
	for i = 1, 46 do
		set(153 + i, kana[i])
		set(203 + i, kana[i] + 0x60)
	end
	local small = {0x3063, 0x3083, 0x3085, 0x3087}
	for i = 1, 4 do
		set(199 + i, small[i])
		set(249 + i, small[i] + 0x60)
	end
	set(254, 0x25DC) set(255, 0x25DD)
	host_seq = t
	return t
end

-- The text as host text (UTF-8), as fetch expects in .txt, .pn and .lua.
function M.encode_host(text)
	if not text:find("[%z\1-\8\11\12\14-\31\127-\255]") then return text end
	local t = host_table()
	return (text:gsub("[%z\1-\8\11\12\14-\31\127-\255]", function(ch) return t[ch:byte()] end))
end

-- Last part of the extension as the file functions see it: lower-case
-- letters and digits only ("lua" for a.k64.lua, none for A.LUA).
local function ext_of(path)
	local name = path:match("^[^#]*"):match("[^/]*$")
	return name:match("%.([a-z0-9]+)$") or ""
end

local function is_host_text_ext(ext)
	return ext == "txt" or ext == "pn" or ext == "lua"
end

-- The fields of a metadata table other than the format markers, as the
-- text that follows "--[[kod" in a header ("" when there are none).
local function meta_fields(meta)
	if type(meta) != "table" or meta.metadata_format == "none" then return "" end
	local copy, any = {}, false
	for k, v in pairs(meta) do
		if k != "kod_format" and k != "metadata_format" then copy[k], any = v, true end
	end
	if not any then return "" end
	local inner = kod(copy)
	inner = type(inner) == "string" and inner:sub(2, -2) or ""
	if inner == "" or inner:find("]]", 1, true) then return "" end
	return "," .. inner
end

-- Reads a file as text. Returns text and an info table to hand back to
-- write_file, or nil and an error text. A missing file reads as new (text
-- "", info.new = true).
function M.read_file(path)
	if type(path) != "string" or path == "" then return nil, "no file name" end
	local kind = fstat(path)
	if kind == "folder" then return nil, path .. " is a folder" end
	if not kind then return "", {new = true, fields = ""} end
	local ext = ext_of(path)
	if ext == "kod" then
		local raw = fetch(path, 2)
		if type(raw) != "string" then return nil, "cannot read " .. path end
		return raw, {fields = ""}
	end
	local v, meta = fetch(path)
	if type(v) != "string" then
		if v == nil then return nil, "cannot read " .. path end
		return nil, path .. " does not hold text"
	end
	return v, {fields = meta_fields(meta)}
end

-- store says nothing for a path it cannot use: the file must be there.
local function checked(path)
	if fstat(path) != "file" then return "cannot save " .. path end
end

-- Writes text so that fetch(path) gives it back byte for byte. Returns nil,
-- or an error text.
function M.write_file(path, text, info)
	if type(path) != "string" or path == "" then return "no file name" end
	local ext = ext_of(path)
	local fields = info and info.fields or ""
	if ext == "kod" then return store(path, text, "") or checked(path) end
	local host = is_host_text_ext(ext)
	if host and text:find("[%z\r]") then
		return store(path, text, "--[[kod" .. fields .. "]]\n") or checked(path)
	end
	local data = host and M.encode_host(text) or text
	local looks_special = text:sub(1, 7) == "--[[kod"
		or text:sub(1, 23) == "-- kestrane object data"
		or (#text >= 5 and text:sub(2, 4) == "PNG")
	local err
	if fields != "" or looks_special then
		err = store(path, data, RAW_HEADER .. fields .. "]]")
	else
		err = store(path, data, "")
	end
	return err or checked(path)
end

return M
