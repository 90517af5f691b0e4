// Textured lines: the clipped line walk with texture coordinates, plain and
// with perspective, and tline3d for Lua.
#include "gfx/tline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gfx/gfx_api2.h"
#include "memory/ram.h"
#include "process/api.h"
#include "process/slice.h"

// value * 65536 as a 16.16 number, truncated or floored, held within
// +-limit (NaN gives 0) so that sums of a few stay inside 64 bits.
static int64_t to_fixed(double v, int64_t limit, bool floor_it)
{
    v *= 65536.0;
    if (std::isnan(v))
        return 0;
    v = floor_it ? std::floor(v) : std::trunc(v);
    return (int64_t)std::clamp(v, -(double)limit, (double)limit);
}

// 16.16 positions: room for the widest bitmap; steps: any line of the
// largest target may be walked without overflow.
constexpr int64_t FIXED_POS_LIMIT = (int64_t)1 << 44;
constexpr int64_t FIXED_STEP_LIMIT = (int64_t)1 << 36;

int64_t draw_tline_sspr(const GfxCtx *c, const SprPlan *sp, const Userdata *src, int64_t x0, int64_t y0,
                        int64_t x1, int64_t y1, double ua, double va, double ub, double vb)
{
    if (!src || (src->type & UD_TYPE_MASK) != UD_U8)
        return 0;
    if (y1 < y0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
        std::swap(ua, ub);
        std::swap(va, vb);
    }
    LineWalk lw;
    if (!line_walk(c, x0, y0, x1, y1, &lw))
        return 0;
    double du = lw.n ? (ub - ua) / (double)lw.n : 0.0;
    double dv = lw.n ? (vb - va) / (double)lw.n : 0.0;
    int64_t u = to_fixed(ua + du * (double)lw.kf, FIXED_POS_LIMIT, false);
    int64_t v = to_fixed(va + dv * (double)lw.kf, FIXED_POS_LIMIT, false);
    const int64_t su = to_fixed(du, FIXED_STEP_LIMIT, false), sv = to_fixed(dv, FIXED_STEP_LIMIT, false);
    const uint8_t *s = ud_data(src);
    const int64_t w = src->width, h = src->height;
    for (int64_t k = lw.kf; k <= lw.kl; k++) {
        // callers keep u and v inside the source; rounding must not step out
        int64_t tx = std::clamp<int64_t>(u >> 16, 0, w - 1);
        int64_t ty = std::clamp<int64_t>(v >> 16, 0, h - 1);
        spr_put(c, sp, s[ty * w + tx], (lw.X + k * lw.stx) >> 16, (lw.Y + k * lw.sty) >> 16);
        u += su;
        v += sv;
    }
    int64_t n = lw.kl - lw.kf + 1;
    return spr_fast_charge(c) ? n / 2 : n;
}

// --- perspective ----------------------------------------------------------------

// Texel lookup for tline3d: the wrap registers and the texture.
struct TexSource {
    Process *p;
    const Userdata *tex;
    bool is_map;
    int64_t xoff, yoff, xmask, ymask;
};

static uint8_t texel_at(const TexSource *t, int64_t U, int64_t V)
{
    const int64_t w = t->tex->width, h = t->tex->height;
    int64_t tx = (w - 1) & (t->xoff + ((U >> 16) & t->xmask));
    int64_t ty = (h - 1) & (t->yoff + ((V >> 16) & t->ymask));
    if (!t->is_map)
        return ud_data(t->tex)[ty * w + tx];
    uint16_t cell = ((const uint16_t *)ud_data(t->tex))[ty * w + tx];
    const Userdata *s = gfx_sprite(t->p, cell & 0x1FFF);
    if (!s)
        return 0;
    // the texel inside the cell: the low bits of u * sprite width (in
    // 16.16, taken modulo 2^64, which leaves those bits exact)
    uint64_t sw = (uint64_t)s->width, sh = (uint64_t)s->height;
    uint64_t ax = ((uint64_t)U * sw) >> 16, ay = ((uint64_t)V * sh) >> 16;
    if (cell & 0x4000)
        ax = ~ax;
    if (cell & 0x8000)
        ay = ~ay;
    return ud_data(s)[(ay & (sh - 1)) * sw + (ax & (sw - 1))];
}

static bool finite4(double a, double b, double c, double d)
{
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

// Coordinates are held to the 32-bit range, as integer ones are.
static double coord32(double v)
{
    return std::clamp(v, (double)INT32_MIN, (double)INT32_MAX);
}

int64_t draw_tline3d(const GfxCtx *c, const SprPlan *sp, const Userdata *tex, const Tline3d *line, int64_t *charge)
{
    *charge = 0;
    if (!tex)
        return 0;
    int type = tex->type & UD_TYPE_MASK;
    if (type != UD_U8 && type != UD_I16)
        return 0;
    Tline3d t = *line;
    if (!(t.w0 > 0 && t.w1 > 0) || !finite4(t.x0, t.y0, t.x1, t.y1))
        return 0;
    t.x0 = coord32(t.x0), t.y0 = coord32(t.y0), t.x1 = coord32(t.x1), t.y1 = coord32(t.y1);
    if (t.y1 < t.y0 || (t.y1 == t.y0 && t.x1 < t.x0)) {
        std::swap(t.x0, t.x1);
        std::swap(t.y0, t.y1);
        std::swap(t.u0, t.u1);
        std::swap(t.v0, t.v1);
        std::swap(t.w0, t.w1);
    }
    double q = std::max(std::fabs(t.x1 - t.x0), std::fabs(t.y1 - t.y0));
    if (q == 0)
        q = 0.00001;
    const double du = (t.u1 - t.u0) / q, dv = (t.v1 - t.v0) / q, dw = (t.w1 - t.w0) / q;
    LineWalk lw;
    if (!line_walk(c, (int64_t)t.x0, (int64_t)t.y0, (int64_t)t.x1, (int64_t)t.y1, &lw))
        return 0;
    int64_t kl = (t.flags & TLINE_SKIP_LAST) ? std::min(lw.kl, lw.n - 1) : lw.kl;
    if (kl < lw.kf)
        return 0;

    double u = t.u0 + du * (double)lw.kf, v = t.v0 + dv * (double)lw.kf, w = t.w0 + dw * (double)lw.kf;
    if (t.flags & TLINE_SUBPIXEL) {
        bool x_major = std::fabs(t.x1 - t.x0) >= std::fabs(t.y1 - t.y0);
        double f = std::fmod(x_major ? t.x0 : t.y0, 1.0);
        u += (1 - f) * du;
        v += (1 - f) * dv;
    }
    Process *p = c->p;
    TexSource src = {p, tex, type == UD_I16,
                     (int16_t)ram_load<uint16_t>(p, GFX_TLINE_REGS),
                     (int16_t)ram_load<uint16_t>(p, GFX_TLINE_REGS + 2),
                     (uint16_t)(ram_load<uint16_t>(p, GFX_TLINE_REGS + 4) - 1),
                     (uint16_t)(ram_load<uint16_t>(p, GFX_TLINE_REGS + 6) - 1)};
    const bool exact = t.flags & TLINE_EXACT;
    int64_t U = 0, V = 0, sU = 0, sV = 0;
    for (int64_t k = lw.kf, i = 0; k <= kl; k++, i++) {
        if (exact || (i & 7) == 0) {
            U = to_fixed(u / w, FIXED_POS_LIMIT, true);
            V = to_fixed(v / w, FIXED_POS_LIMIT, true);
            if (!exact) {
                // the next exact value, eight pixels on, and an eighth of the way to it
                double w8 = w + 8 * dw;
                sU = (to_fixed((u + 8 * du) / w8, FIXED_POS_LIMIT, true) - U) >> 3;
                sV = (to_fixed((v + 8 * dv) / w8, FIXED_POS_LIMIT, true) - V) >> 3;
            }
        } else {
            U += sU;
            V += sV;
        }
        spr_put(c, sp, texel_at(&src, U, V), (lw.X + k * lw.stx) >> 16, (lw.Y + k * lw.sty) >> 16);
        u += du;
        v += dv;
        w += dw;
    }
    int64_t n = kl - lw.kf + 1;
    if (src.is_map)
        *charge = exact ? n : n * 2 / 3;
    else if (spr_fast_charge(c))
        *charge = exact ? n / 2 : n / 3;
    else
        *charge = exact ? n * 2 / 3 : n * 2 / 5;
    return n;
}

// --- Lua --------------------------------------------------------------------------

// The texture argument: a userdata itself, or the sprite table entry of an
// index 0-16383 (which may hold a map).
static const Userdata *texture_arg(lua_State *L, Process *p)
{
    if (const Userdata *u = ud_check(L, 1))
        return u;
    if (lua_type(L, 1) != LUA_TNUMBER && lua_type(L, 1) != LUA_TSTRING)
        return nullptr;
    int64_t n = k64_intp(L, 1, -1);
    return (n >= 0 && n < GFX_SPRITES) ? p->sprite[n] : nullptr;
}

// Records: index (masked by 0x1FFF), x0, y0, x1, y1, ua, va, ub, vb, w0, w1,
// flags. Coordinates and texture values are taken as they are, not
// floored: they are fractional by nature.
static int batch_tline3d(lua_State *L)
{
    GfxBatch b;
    GfxCall k;
    if (!gfx_batch_begin(L, 12, &k, &b))
        return 0;
    SprPlan sp;
    spr_plan(&k.c, &sp);
    int64_t charge = 0, n = 0;
    for (; n < b.count; n++) {
        int64_t off = gfx_batch_record(&b, n);
        if (off < 0)
            break;
        const Userdata *tex = k.p->sprite[gfx_batch_int(&b, off, 0, 0) & GFX_SPRITE_SET_MASK];
        Tline3d t;
        t.x0 = gfx_batch_num(&b, off, 1, 0) - k.camx;
        t.y0 = gfx_batch_num(&b, off, 2, 0) - k.camy;
        t.x1 = gfx_batch_num(&b, off, 3, 0) - k.camx;
        t.y1 = gfx_batch_num(&b, off, 4, 0) - k.camy;
        t.u0 = gfx_batch_num(&b, off, 5, 0);
        t.v0 = gfx_batch_num(&b, off, 6, 0);
        t.u1 = gfx_batch_num(&b, off, 7, t.u0 + (t.x1 - t.x0));
        t.v1 = gfx_batch_num(&b, off, 8, t.v0 + (t.y1 - t.y0));
        t.w0 = gfx_batch_num(&b, off, 9, 1);
        t.w1 = gfx_batch_num(&b, off, 10, 1);
        t.flags = gfx_batch_int(&b, off, 11, 0);
        int64_t ch;
        draw_tline3d(&k.c, &sp, tex, &t, &ch);
        charge += ch;
    }
    spend_cpu(2 * n + charge);
    return 0;
}

// tline3d(tex, x0, y0, x1, y1, ua, va, ub, vb, w0 = 1, w1 = 1, flags = 0)
int lua54_tline3d(lua_State *L)
{
    if (gfx_is_batch(L))
        return batch_tline3d(L);
    if (lua_gettop(L) < 4)
        return 0;
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    const Userdata *tex = texture_arg(L, k.p);
    Tline3d t;
    t.x0 = k64_num(L, 2, 0) - k.camx;
    t.y0 = k64_num(L, 3, 0) - k.camy;
    t.x1 = k64_num(L, 4, 0) - k.camx;
    t.y1 = k64_num(L, 5, 0) - k.camy;
    t.u0 = k64_num(L, 6, 0);
    t.v0 = k64_num(L, 7, 0);
    t.u1 = k64_num(L, 8, t.u0 + (t.x1 - t.x0));
    t.v1 = k64_num(L, 9, t.v0 + (t.y1 - t.y0));
    t.w0 = k64_num(L, 10, 1);
    t.w1 = k64_num(L, 11, 1);
    t.flags = k64_intp(L, 12, 0);
    SprPlan sp;
    spr_plan(&k.c, &sp);
    int64_t charge;
    draw_tline3d(&k.c, &sp, tex, &t, &charge);
    spend_cpu(charge);
    return 0;
}
