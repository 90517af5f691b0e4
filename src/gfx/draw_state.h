// Draw state of a process: the registers in its address space, the target,
// clip rectangle and invert flag in its record, the kernel-wide default
// colour tables and palettes, and the pixel-composition rule that every
// primitive writes through.
#pragma once
#include <cstdint>

#include "lua.hpp"
#include "process/process.h"
#include "userdata/userdata.h"

// Register addresses (little-endian values).
enum : uint32_t {
    GFX_RGB_PAL = 0x5000,          // 256 x u32 0x00RRGGBB
    GFX_SCANLINE_SEL = 0x5400,     // 2 bits per scanline, up to 0x5443
    GFX_SCANLINE_SEL_END = 0x5478, // pal() clears 0x5400 up to here
    GFX_DISPLAY_W = 0x5478,
    GFX_DISPLAY_H = 0x547A,
    GFX_VIDEO_MODE = 0x547C,
    GFX_BLIT_MASK = 0x547D,
    GFX_DISPLAY_FLAGS = 0x547F,
    GFX_DISPLAY_PAL = 0x5480,      // 64 x u8
    GFX_CURSOR_X = 0x54F0,
    GFX_CURSOR_Y = 0x54F4,
    GFX_FILL = 0x5500,             // 8 rows: row (y & 7), bit (x & 7)
    GFX_SRC_MASK = 0x5508,
    GFX_WRITE_MASK = 0x5509,
    GFX_SPR_TARGET_MASK = 0x550A,
    GFX_TARGET_MASK = 0x550B,
    GFX_PEN = 0x550C,              // low byte primary, high byte secondary
    GFX_MAP_CELL_W = 0x550E,
    GFX_MAP_CELL_H = 0x550F,
    GFX_CAMERA_X = 0x5510,
    GFX_CAMERA_Y = 0x5514,
    GFX_LINE_PENDING = 0x551F,
    GFX_LINE_X = 0x5520,
    GFX_LINE_Y = 0x5524,
    GFX_CLIP_X0 = 0x5528,          // i16 x0, y0, x1, y1 (x1, y1 exclusive)
    GFX_CLIP_Y0 = 0x552A,
    GFX_CLIP_X1 = 0x552C,
    GFX_CLIP_Y1 = 0x552E,
    GFX_COLTAB = 0x8000,           // 4 tables of 64 x 64, one page each
    GFX_SPRITE_FLAGS = 0xC000,
    GFX_VIDEO = 0x10000,
};
constexpr int GFX_COLTAB_PAGE = 8;      // pages 8-11 hold tables 0-3
constexpr uint8_t GFX_PAGE_MODIFIED = 2; // page_flags bit telling pal() to restore

// Kernel-wide defaults; fixed at build time, never changed.
extern const uint32_t system_palette[64];
struct GfxDefaults {
    uint8_t coltabs[4 * 4096];
    uint8_t display_pal[64];
    uint32_t rgb_pal[256];
};
// Constant data, so nothing needs building at start.
extern const GfxDefaults gfx_defaults;

// Process creation: no draw target, no sprites, no map. The address space
// itself starts zero, its colour-table pages marked modified, so that the
// first pal() installs the defaults.
void gfx_init_process(Process *p);

// The draw target (a u8 userdata) or nullptr. A target retyped to another
// element type since it was set counts as none.
Userdata *gfx_target(Process *p);
// Sets the draw target from the userdata at idx (u8 only; anything else is
// ignored and false returned) and resets the clip registers to its size.
bool gfx_set_draw_target(Process *p, lua_State *L, int idx);
// Stores the clip registers, each saturated to 16 bits.
void gfx_set_clip_regs(Process *p, int64_t x0, int64_t y0, int64_t x1, int64_t y1);
// Re-derives the effective clip rectangle when the clip registers or the
// target's size changed since it was last derived.
void gfx_refresh_clip(Process *p);
// Hook for the typed-array blit: the target and its effective clip.
Userdata *gfx_draw_target_hook(lua_State *L, UdRect *clip);

// Pinned userdata slots for the sprite table and the current map. idx = 0
// or a value that is not a kernel userdata clears the slot.
void gfx_hold(lua_State *L, int idx, Userdata **slot, int32_t *ref);
void gfx_set_sprite(Process *p, lua_State *L, int64_t n, int idx);
// The current map: an i16 userdata, or cleared by anything else.
void gfx_set_current_map(Process *p, lua_State *L, int idx);

// Everything a run of pixel writes needs, loaded once per call. The clip is
// the effective rectangle cut to the bitmap's bounds, so a stale rectangle
// can never reach outside it.
struct GfxCtx {
    Process *p;
    uint8_t *pix;
    int64_t w, h;
    int64_t cx0, cy0, cx1, cy1;
    const uint8_t *tab[4];     // colour tables 0-3 (pages 8-11, maybe mapped)
    uint8_t fill[8];
    uint8_t smask, wmask, tmask, stmask;
    bool invert;
    bool fast;                 // row shortcuts allowed: the bitmap is not a colour table
};

// Starts a drawing call on the draw target: refreshes the clip and loads
// the context (masks included). False (nothing to draw) without a target.
bool gfx_begin(Process *p, GfxCtx *c);
// The same for another bitmap, clipped by the effective clip rectangle
// (callers use set_temporary_clipping to clip it to itself instead).
void gfx_begin_bitmap(Process *p, Userdata *bitmap, GfxCtx *c);
// Loads the masks, fill pattern, tables and invert flag (after a colour
// argument has been applied).
void get_masks_shape(GfxCtx *c);

void set_temporary_clipping(Process *p, Userdata *bitmap);
void restore_after_temporary_clipping(Process *p);

// Colour argument: pen := v & 0xFFFF; bit 32 sets the fill pattern from
// bits 16-31; bit 35 sets the invert flag.
void set_colp(Process *p, int64_t v);
// Applies argument idx when it is a number; returns the pen as signed 16 bits.
int colp(lua_State *L, int idx);
int pen_colour(Process *p);
void fillp_16(Process *p, uint32_t pattern);

// One entry of pal(): mode & 63 = 0 draw palette row, 1 display palette,
// 2 RGB palette.
void set_palette_entry(Process *p, int64_t index, int64_t value, int64_t mode);
// pal(r): -1 everything, 0 colour tables, 1 display palette, 2 RGB palette.
// Returns the CPU units to charge.
int64_t gfx_pal_reset(Process *p, int64_t r);
// palt(bits): table 0 rows opaque or transparent by bit.
void gfx_palt_bits(Process *p, uint64_t bits);
// palt(col, t): one row of table (col >> 6) & 3.
void gfx_palt_one(Process *p, int64_t col, bool transparent);

// Pixel composition. Pen pixels take the secondary pen byte where the fill
// pattern bit of the target pixel is set; sprite and texture pixels use the
// sprite target mask and move to tables 2-3 where the bit is set.
inline bool gfx_pattern_bit(const GfxCtx *c, int64_t x, int64_t y)
{
    return (c->fill[y & 7] >> (x & 7)) & 1;
}

inline uint8_t gfx_lookup(const GfxCtx *c, unsigned k, unsigned s, unsigned t)
{
    return c->tab[k & 3][(s & 63) * 64 + (t & 63)];
}

inline uint8_t compose_pen_pixel(const GfxCtx *c, uint8_t d, int64_t x, int64_t y, int col)
{
    unsigned s = (gfx_pattern_bit(c, x, y) ? (unsigned)col >> 8 : (unsigned)col) & 0xFF & c->smask;
    unsigned t = d & c->tmask;
    uint8_t r = gfx_lookup(c, (s | t) >> 6, s, t);
    return (uint8_t)((r & c->wmask) | (d & ~c->wmask));
}

inline uint8_t compose_sprite_pixel(const GfxCtx *c, uint8_t texel, uint8_t d, int64_t x, int64_t y)
{
    unsigned s = texel & c->smask;
    unsigned t = d & c->stmask;
    unsigned k = ((s | t) >> 6) | (gfx_pattern_bit(c, x, y) ? 2u : 0u);
    uint8_t r = gfx_lookup(c, k, s, t);
    return (uint8_t)((r & c->wmask) | (d & ~c->wmask));
}

// One pen pixel at bitmap coordinates, if inside the clip rectangle.
inline bool putpixel(const GfxCtx *c, int64_t x, int64_t y, int col)
{
    if (x < c->cx0 || x >= c->cx1 || y < c->cy0 || y >= c->cy1)
        return false;
    uint8_t *d = c->pix + y * c->w + x;
    *d = compose_pen_pixel(c, *d, x, y, col);
    return true;
}

// The byte at (x, y), or 0 outside the bitmap or without one.
uint8_t getpixel(const Userdata *bitmap, int64_t x, int64_t y);

// Camera x and y from the registers.
int32_t gfx_camera_x(Process *p);
int32_t gfx_camera_y(Process *p);
// A coordinate argument made a bitmap coordinate: camera subtracted, then
// saturated to the signed 32-bit range so that sums of coordinates and
// sizes stay far from the 64-bit limits.
int64_t gfx_coord(int64_t v, int32_t camera);
int64_t gfx_sat32(int64_t v);
