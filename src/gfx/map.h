// Maps: i16 userdata whose cells name sprites, drawn cell by cell into a
// drawing context; the current map that mget and mset use.
#pragma once
#include <cstdint>

#include "gfx/sprite.h"

// Cell bits: sprite index, and how the sprite is turned.
enum : uint16_t {
    MAP_SPRITE = 0x1FFF,
    MAP_TRANSPOSE = 0x2000,
    MAP_FLIP_X = 0x4000,
    MAP_FLIP_Y = 0x8000,
};

struct MapDraw {
    int64_t mx, my;       // first cell
    int64_t x, y;         // where it is drawn (bitmap coordinates)
    int64_t w, h;         // cells
    int64_t layers;       // 0, or the flag bits a sprite needs one of
    int64_t cell_w, cell_h;
};
// Draws the rectangle of cells; only cells that can reach the clip
// rectangle are visited. Returns the pixel cost; *visited receives the
// number of cells visited.
int64_t draw_map(const GfxCtx *c, const SprPlan *sp, const Userdata *map, MapDraw m, int64_t *visited);

// The current map (an i16 userdata) or nullptr.
Userdata *gfx_current_map(Process *p);
