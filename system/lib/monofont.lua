-- A monospaced copy of the current (proportional) font: every character
-- takes one cell and wide characters two, with the narrow glyphs moved to
-- the middle of their cell. Text programs use it so that columns line up.
local monofont = {}

-- Copies the font at the font byte 0x5f56 to addr, with an advance of
-- cell_w and a cell height of cell_h, and makes it the default font.
function monofont.install(addr, cell_w, cell_h)
	memcpy(addr, @0x5f56 << 8, 0x800)
	for ch = 16, 127 do
		local a = addr + ch * 8
		local bits = 0
		for r = 0, 7 do bits |= @(a + r) end
		local w = 0
		while bits >> w != 0 do w += 1 end
		local shift = w > 0 and (cell_w - 1 - w) \ 2 or 0
		if shift > 0 then
			for r = 0, 7 do poke(a + r, (@(a + r) << shift) & 0xff) end
		end
	end
	poke(addr, cell_w)
	poke(addr + 1, 2 * cell_w)
	poke(addr + 2, cell_h)
	poke(addr + 5, @(addr + 5) & 0xfe)   -- no per-character widths
	poke(0x5f56, addr >> 8)
end

return monofont
