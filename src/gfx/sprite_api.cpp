// Lua functions of sprites: the sprite table, spr, sspr and sprite flags.
#include <algorithm>

#include "gfx/gfx_api2.h"
#include "gfx/sprite.h"
#include "gfx/tline.h"
#include "memory/ram.h"
#include "process/api.h"
#include "process/slice.h"

// The sprite that _set_spr stores when it is given no bitmap: 16 x 16
// pixels of colour 0, shared by every process. Only ever read.
namespace {
struct BlankSprite {
    Userdata head;
    uint8_t pix[16 * 16];
};
alignas(8) BlankSprite blank_sprite = {{UD_U8, 2, {0, 0}, 16, 16, 0}, {}};
} // namespace

// _set_spr(n, bitmap): entry n & 0x1FFF
int lua54__set_spr(lua_State *L)
{
    Process *p = cproc;
    int64_t n = k64_intp(L, 1, 0) & GFX_SPRITE_SET_MASK;
    if (ud_check(L, 2)) {
        gfx_set_sprite(p, L, n, 2);
    } else {
        gfx_set_sprite(p, L, n, 0);
        p->sprite[n] = &blank_sprite.head;
    }
    return 0;
}

// Records: index, x, y, flip_x, flip_y; x and y are bitmap coordinates
// (no camera) and a negative flip field flips.
static int batch_spr(lua_State *L)
{
    GfxBatch b;
    GfxCall k;
    if (!gfx_batch_begin(L, 5, &k, &b))
        return 0;
    SprPlan sp;
    spr_plan(&k.c, &sp);
    int64_t cost = 0, n = 0;
    for (; n < b.count; n++) {
        int64_t off = gfx_batch_record(&b, n);
        if (off < 0)
            break;
        const Userdata *s = gfx_sprite(k.p, gfx_batch_int(&b, off, 0, 0));
        if (!s)
            continue;
        int64_t x = gfx_sat32(gfx_batch_int(&b, off, 1, 0)), y = gfx_sat32(gfx_batch_int(&b, off, 2, 0));
        cost += draw_spr_plan(&k.c, &sp, s, 0, 0, x, y, s->width, s->height, gfx_batch_int(&b, off, 3, 0) < 0,
                              gfx_batch_int(&b, off, 4, 0) < 0);
    }
    spend_cpu(2 * n + cost / 3);
    return 0;
}

// spr(n or bitmap, x = 0, y = 0, flip_x, flip_y)
int lua54_spr(lua_State *L)
{
    if (gfx_is_batch(L))
        return batch_spr(L);
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    const Userdata *s = get_sprite_p(L, 1);
    if (!s)
        return 0;
    int64_t x = gfx_coord(k64_intp(L, 2, 0), k.camx), y = gfx_coord(k64_intp(L, 3, 0), k.camy);
    int64_t cost = draw_spr(&k.c, s, 0, 0, x, y, s->width, s->height, lua_toboolean(L, 4), lua_toboolean(L, 5));
    spend_cpu(cost / 3);
    return 0;
}

// One axis of sspr: source [s, s + sn) onto destination [d, d + dn),
// mirrored when flip. The parts of the source outside [0, size) are cut
// together with the destination they would cover, so what remains is drawn
// where it would have been and nothing lands outside [d, d + dn).
static bool sspr_axis(int64_t size, int64_t *s, int64_t *sn, int64_t *d, int64_t *dn, bool flip)
{
    if (*s < 0) {
        int64_t cut = (-*s * *dn) / *sn;
        if (!flip)
            *d += cut;
        *dn -= cut;
        *sn += *s;
        *s = 0;
    }
    if (*sn <= 0)
        return false;
    if (*sn >= size - *s) {
        int64_t keep = size - *s;
        int64_t ndn = *dn * keep / *sn;
        if (flip)
            *d += *dn - ndn;
        *dn = ndn;
        *sn = keep;
    }
    return *sn > 0 && *dn > 0;
}

// Source rectangle (sx, sy, sw, sh) scaled onto (dx, dy, dw, dh), one
// textured line per destination row or column (whichever are fewer).
static int64_t draw_sspr(const GfxCtx *c, const SprPlan *sp, const Userdata *src, int64_t sx, int64_t sy,
                         int64_t sw, int64_t sh, int64_t dx, int64_t dy, int64_t dw, int64_t dh, bool flip_x,
                         bool flip_y)
{
    if (sw <= 0 || sh <= 0)
        return 0;
    if (dw < 0) {
        dx += dw;
        dw = -dw;
        flip_x = !flip_x;
    }
    if (dh < 0) {
        dy += dh;
        dh = -dh;
        flip_y = !flip_y;
    }
    if (!sspr_axis(src->width, &sx, &sw, &dx, &dw, flip_x) || !sspr_axis(src->height, &sy, &sh, &dy, &dh, flip_y))
        return 0;
    const double step_u = (double)sw / (double)dw, step_v = (double)sh / (double)dh;
    const double u_first = sx + step_u / 2, u_last = sx + sw - step_u / 2;
    const double v_first = sy + step_v / 2, v_last = sy + sh - step_v / 2;
    int64_t cost = 0;
    // only the lines that cross the clip rectangle are walked
    if (dh < dw) {
        int64_t j0 = std::max<int64_t>(0, c->cy0 - dy), j1 = std::min(dh - 1, c->cy1 - 1 - dy);
        for (int64_t j = j0; j <= j1; j++) {
            double v = v_first + step_v * (double)(flip_y ? dh - 1 - j : j);
            cost += draw_tline_sspr(c, sp, src, dx, dy + j, dx + dw - 1, dy + j, flip_x ? u_last : u_first, v,
                                    flip_x ? u_first : u_last, v);
        }
    } else {
        int64_t i0 = std::max<int64_t>(0, c->cx0 - dx), i1 = std::min(dw - 1, c->cx1 - 1 - dx);
        for (int64_t i = i0; i <= i1; i++) {
            double u = u_first + step_u * (double)(flip_x ? dw - 1 - i : i);
            cost += draw_tline_sspr(c, sp, src, dx + i, dy, dx + i, dy + dh - 1, u, flip_y ? v_last : v_first, u,
                                    flip_y ? v_first : v_last);
        }
    }
    return cost;
}

// sspr(n or bitmap, sx = 0, sy = 0, sw, sh, dx = 0, dy = 0, dw = sw, dh = sh, flip_x, flip_y)
int lua54_sspr(lua_State *L)
{
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    const Userdata *s = get_sprite_p(L, 1);
    if (!s)
        return 0;
    int64_t sx = gfx_sat32(k64_intp(L, 2, 0)), sy = gfx_sat32(k64_intp(L, 3, 0));
    int64_t sw = gfx_sat32(k64_intp(L, 4, s->width)), sh = gfx_sat32(k64_intp(L, 5, s->height));
    int64_t dx = gfx_coord(k64_intp(L, 6, 0), k.camx), dy = gfx_coord(k64_intp(L, 7, 0), k.camy);
    int64_t dw = gfx_sat32(k64_intp(L, 8, sw)), dh = gfx_sat32(k64_intp(L, 9, sh));
    SprPlan sp;
    spr_plan(&k.c, &sp);
    int64_t cost = draw_sspr(&k.c, &sp, s, sx, sy, sw, sh, dx, dy, dw, dh, lua_toboolean(L, 10), lua_toboolean(L, 11));
    spend_cpu(cost / 3);
    return 0;
}

// fget(n) -> the flag byte; fget(n, bit) -> whether that bit is set
int lua54_fget(lua_State *L)
{
    uint8_t f = gfx_sprite_flags(cproc, k64_intp(L, 1, 0));
    if (!lua_isnumber(L, 2)) {
        lua_pushinteger(L, f);
        return 1;
    }
    int64_t bit = k64_intp(L, 2, 0);
    lua_pushboolean(L, bit >= 0 && bit < 8 && ((f >> bit) & 1));
    return 1;
}

// fset(n, bit, value) sets or clears one bit; fset(n, byte) stores the byte
int lua54_fset(lua_State *L)
{
    Process *p = cproc;
    int top = lua_gettop(L);
    if (top < 2)
        return 0;
    int64_t n = k64_intp(L, 1, 0);
    uint32_t a = GFX_SPRITE_FLAGS + (uint32_t)(n & GFX_SPRITE_SET_MASK);
    if (top == 2) {
        ram_store<uint8_t>(p, a, (uint8_t)k64_intp(L, 2, 0));
        return 0;
    }
    int64_t bit = k64_intp(L, 2, -1);
    if (bit < 0 || bit > 7)
        return 0;
    uint8_t f = gfx_sprite_flags(p, n);
    f = lua_toboolean(L, 3) ? (uint8_t)(f | (1u << bit)) : (uint8_t)(f & ~(1u << bit));
    ram_store<uint8_t>(p, a, f);
    return 0;
}
