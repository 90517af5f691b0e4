// Sprites: the per-process sprite table and its flags, and composed copies
// of bitmap pixels into a drawing context. Sprite pixels go through the
// colour tables with the sprite target mask, and the fill pattern moves
// them to tables 2-3 (compose_sprite_pixel in gfx/draw_state.h).
#pragma once
#include <cstdint>

#include "gfx/draw_state.h"
#include "gfx/gfx_batch.h"

constexpr int64_t GFX_SPRITE_SET_MASK = 0x1FFF;   // _set_spr, fget and fset reach entries 0-8191
constexpr uint32_t GFX_PRINT_FLAGS = 0x5F36;      // bit 3: maps draw sprite 0

// Sprite rows are composed through per-source table rows when the rule
// allows it (identical results); tests may force the rule pixel by pixel.
enum GfxSpriteMethod { GFX_SPRITE_AUTO, GFX_SPRITE_PIXEL };
extern GfxSpriteMethod gfx_sprite_method;

// The composition of sprite pixels under one draw state, worked out once
// per call. With a sprite target mask that lets no table bits through, the
// table of a pixel depends only on its source byte and pattern bit, so
// row[bit][source & source mask] is the table row that the target byte
// (masked) indexes. The rows point into the live tables, so a target that
// overlaps them still reads each entry when the rule would.
struct SprPlan {
    bool lut;
    uint8_t smask, stmask, wmask;
    const uint8_t *row[2][256];
};
void spr_plan(const GfxCtx *c, SprPlan *sp);

// One sprite pixel composed onto (x, y), which must lie inside the bitmap.
inline void spr_put(const GfxCtx *c, const SprPlan *sp, uint8_t texel, int64_t x, int64_t y)
{
    uint8_t *d = c->pix + y * c->w + x;
    uint8_t dv = *d;
    if (sp->lut) {
        uint8_t r = sp->row[gfx_pattern_bit(c, x, y)][texel & sp->smask][dv & sp->stmask];
        *d = (uint8_t)((r & sp->wmask) | (dv & ~sp->wmask));
    } else {
        *d = compose_sprite_pixel(c, texel, dv, x, y);
    }
}

// Whether sprite pixels take the cheaper charge: source and sprite target
// masks 0x3F and no fill pattern (only table 0 is then involved).
bool spr_fast_charge(const GfxCtx *c);

// The sprite table entry n (0-16383) when it holds a u8 bitmap, else nullptr.
Userdata *gfx_sprite(Process *p, int64_t n);
// The bitmap that argument idx names: a u8 userdata itself, or the table
// entry of an index 0-16383; nullptr for anything else.
Userdata *get_sprite_p(lua_State *L, int idx);
// Flag byte of sprite n & 0x1FFF.
uint8_t gfx_sprite_flags(Process *p, int64_t n);

// Cuts a copy of w x h pixels from (sx, sy) of a source of the given size
// onto (dx, dy) to the source and the clip rectangle; false when nothing
// is left.
bool clip_bitmaps(const GfxCtx *c, int64_t src_w, int64_t src_h, int64_t *sx, int64_t *sy, int64_t *dx,
                  int64_t *dy, int64_t *w, int64_t *h);

// Composes source pixel (sx + i, sy + j) onto (dx + i, dy + j), clipped.
// A flip mirrors the whole source first (flip_x each row, flip_y the row
// order), so that clipping and flipping agree. Returns the pixel cost:
// w * h, halved when spr_fast_charge holds.
int64_t draw_spr(const GfxCtx *c, const Userdata *src, int64_t sx, int64_t sy, int64_t dx, int64_t dy,
                 int64_t w, int64_t h, bool flip_x, bool flip_y);
int64_t draw_spr_plan(const GfxCtx *c, const SprPlan *sp, const Userdata *src, int64_t sx, int64_t sy,
                      int64_t dx, int64_t dy, int64_t w, int64_t h, bool flip_x, bool flip_y);
