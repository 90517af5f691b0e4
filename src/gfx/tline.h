// Textured lines: the line walk of draw_line carrying texture coordinates,
// plain (for scaled sprites and stretched map cells) and with perspective
// (tline3d).
#pragma once
#include <cstdint>

#include "gfx/gfx.h"
#include "gfx/sprite.h"

// The line (x0, y0)-(x1, y1) with texture coordinates (ua, va) at its first
// end point and (ub, vb) at the other, stepped in 16.16. The texel is the
// source's (u >> 16, v >> 16), held inside the source. Draws nothing unless
// the source is u8. Returns the pixel count, halved when spr_fast_charge holds.
int64_t draw_tline_sspr(const GfxCtx *c, const SprPlan *sp, const Userdata *src, int64_t x0, int64_t y0,
                        int64_t x1, int64_t y1, double ua, double va, double ub, double vb);

enum : int64_t {
    TLINE_SKIP_LAST = 0x100,   // leave out the last pixel
    TLINE_SUBPIXEL = 0x200,    // start u, v at the pixel's centre along the major axis
    TLINE_EXACT = 0x400,       // divide by w at every pixel
};
constexpr uint32_t GFX_TLINE_REGS = 0x5530;   // i16 x offset, y offset, x wrap, y wrap

// One perspective line; coordinates are bitmap coordinates.
struct Tline3d {
    double x0, y0, x1, y1, u0, v0, u1, v1, w0, w1;
    int64_t flags;
};
// Texture a u8 bitmap or an i16 map (cells name sprites of the process's
// table); anything else, or w0 or w1 not above 0, draws nothing. Returns
// the pixels drawn; *charge receives the CPU units for them.
int64_t draw_tline3d(const GfxCtx *c, const SprPlan *sp, const Userdata *tex, const Tline3d *t, int64_t *charge);
