// Sprite table, sprite-pixel composition and composed bitmap copies.
#include "gfx/sprite.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "memory/ram.h"
#include "process/api.h"

GfxSpriteMethod gfx_sprite_method = GFX_SPRITE_AUTO;

// --- composition plan -------------------------------------------------------

void spr_plan(const GfxCtx *c, SprPlan *sp)
{
    sp->smask = c->smask;
    sp->stmask = c->stmask;
    sp->wmask = c->wmask;
    sp->lut = gfx_sprite_method == GFX_SPRITE_AUTO && (c->stmask & 0xC0) == 0;
    if (!sp->lut)
        return;
    // only sources that survive the source mask are ever looked up
    for (unsigned s = c->smask;; s = (s - 1) & c->smask) {
        sp->row[0][s] = c->tab[s >> 6] + (s & 63) * 64;
        sp->row[1][s] = c->tab[(s >> 6) | 2] + (s & 63) * 64;
        if (s == 0)
            break;
    }
}

bool spr_fast_charge(const GfxCtx *c)
{
    uint64_t fill;
    memcpy(&fill, c->fill, 8);
    return c->smask == 0x3F && c->stmask == 0x3F && fill == 0;
}

// --- sprite table -------------------------------------------------------------

Userdata *gfx_sprite(Process *p, int64_t n)
{
    if (n < 0 || n >= GFX_SPRITES)
        return nullptr;
    Userdata *u = p->sprite[n];
    return (u && (u->type & UD_TYPE_MASK) == UD_U8) ? u : nullptr;
}

Userdata *get_sprite_p(lua_State *L, int idx)
{
    if (Userdata *u = ud_check(L, idx))
        return (u->type & UD_TYPE_MASK) == UD_U8 ? u : nullptr;
    if (lua_type(L, idx) != LUA_TNUMBER && lua_type(L, idx) != LUA_TSTRING)
        return nullptr;
    return gfx_sprite(cproc, k64_intp(L, idx, -1));
}

uint8_t gfx_sprite_flags(Process *p, int64_t n)
{
    return ram_load<uint8_t>(p, GFX_SPRITE_FLAGS + (uint32_t)(n & GFX_SPRITE_SET_MASK));
}

// --- copies -----------------------------------------------------------------------

bool clip_bitmaps(const GfxCtx *c, int64_t src_w, int64_t src_h, int64_t *sx, int64_t *sy, int64_t *dx,
                  int64_t *dy, int64_t *w, int64_t *h)
{
    if (*sx >= src_w || *sy >= src_h || *dx >= c->cx1 || *dy >= c->cy1)
        return false;
    if (*sx < 0) {
        *w += *sx;
        *dx -= *sx;
        *sx = 0;
    }
    if (*sy < 0) {
        *h += *sy;
        *dy -= *sy;
        *sy = 0;
    }
    *w = std::min(*w, src_w - *sx);
    *h = std::min(*h, src_h - *sy);
    if (*dx < c->cx0) {
        int64_t d = c->cx0 - *dx;
        *w -= d;
        *sx += d;
        *dx = c->cx0;
    }
    if (*dy < c->cy0) {
        int64_t d = c->cy0 - *dy;
        *h -= d;
        *sy += d;
        *dy = c->cy0;
    }
    *w = std::min(*w, c->cx1 - *dx);
    *h = std::min(*h, c->cy1 - *dy);
    return *w > 0 && *h > 0;
}

// n source bytes (s[0], s[STEP], ...) composed onto d[0..n-1] through the
// plan's rows; pb is the pattern byte of the row and x its first column.
// Each pixel is read and written before the next, as the rule does, so a
// source that overlaps the target gives the same result.
template <int STEP>
static void lut_row(const SprPlan *sp, const uint8_t *s, uint8_t *d, int64_t n, uint8_t pb, int64_t x)
{
    const uint8_t sm = sp->smask, tm = sp->stmask, wm = sp->wmask;
    if (pb == 0 || pb == 0xFF) {
        const uint8_t *const *rows = sp->row[pb & 1];
        if (wm == 0xFF) {
            for (int64_t i = 0; i < n; i++)
                d[i] = rows[s[i * STEP] & sm][d[i] & tm];
            return;
        }
        for (int64_t i = 0; i < n; i++) {
            uint8_t dv = d[i];
            uint8_t r = rows[s[i * STEP] & sm][dv & tm];
            d[i] = (uint8_t)((r & wm) | (dv & ~wm));
        }
        return;
    }
    for (int64_t i = 0; i < n; i++) {
        uint8_t dv = d[i];
        uint8_t r = sp->row[(pb >> ((x + i) & 7)) & 1][s[i * STEP] & sm][dv & tm];
        d[i] = (uint8_t)((r & wm) | (dv & ~wm));
    }
}

// The composition rule pixel by pixel.
static void rule_row(const GfxCtx *c, const uint8_t *s, int step, uint8_t *d, int64_t n, int64_t x, int64_t y)
{
    for (int64_t i = 0; i < n; i++)
        d[i] = compose_sprite_pixel(c, s[i * step], d[i], x + i, y);
}

static bool overlaps(const uint8_t *a, int64_t alen, const uint8_t *b, int64_t blen)
{
    uintptr_t a0 = (uintptr_t)a, b0 = (uintptr_t)b;
    return a0 < b0 + (uintptr_t)blen && b0 < a0 + (uintptr_t)alen;
}

int64_t draw_spr_plan(const GfxCtx *c, const SprPlan *sp, const Userdata *src, int64_t sx, int64_t sy,
                      int64_t dx, int64_t dy, int64_t w, int64_t h, bool flip_x, bool flip_y)
{
    if (!clip_bitmaps(c, src->width, src->height, &sx, &sy, &dx, &dy, &w, &h))
        return 0;
    const int64_t sw = src->width, sh = src->height;
    const uint8_t *base = ud_data(src);
    // A flip reads the source as it was before the call: when drawing onto
    // itself, from a copy (kept between calls, so it is rarely allocated).
    static std::vector<uint8_t> scratch;
    if ((flip_x || flip_y) && overlaps(base, sw * sh, c->pix, c->w * c->h)) {
        scratch.assign(base, base + sw * sh);
        base = scratch.data();
    }
    for (int64_t j = 0; j < h; j++) {
        int64_t row = flip_y ? sh - 1 - (sy + j) : sy + j;
        const uint8_t *s = base + row * sw + (flip_x ? sw - 1 - sx : sx);
        uint8_t *d = c->pix + (dy + j) * c->w + dx;
        int64_t y = dy + j;
        if (!sp->lut)
            rule_row(c, s, flip_x ? -1 : 1, d, w, dx, y);
        else if (flip_x)
            lut_row<-1>(sp, s, d, w, c->fill[y & 7], dx);
        else
            lut_row<1>(sp, s, d, w, c->fill[y & 7], dx);
    }
    int64_t cost = w * h;
    return spr_fast_charge(c) ? cost / 2 : cost;
}

int64_t draw_spr(const GfxCtx *c, const Userdata *src, int64_t sx, int64_t sy, int64_t dx, int64_t dy,
                 int64_t w, int64_t h, bool flip_x, bool flip_y)
{
    SprPlan sp;
    spr_plan(c, &sp);
    return draw_spr_plan(c, &sp, src, sx, sy, dx, dy, w, h, flip_x, flip_y);
}
