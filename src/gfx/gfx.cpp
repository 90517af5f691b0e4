// Shape primitives over a drawing context.
#include "gfx/gfx.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

GfxEllipseMethod gfx_ellipse_method = GFX_ELLIPSE_AUTO;

// The walk's error terms grow as the cube of the radius; this keeps them
// well inside 64 bits.
constexpr int64_t WALK_MAX_RADIUS = (int64_t)1 << 19;
constexpr int64_t WALK_MIN_BUDGET = 4096;
// Radii beyond any 32-bit box are cut to it (the row form's terms need it).
constexpr int64_t RADIUS_MAX = (int64_t)1 << 31;

static int64_t floor_div(int64_t a, int64_t b)   // b > 0
{
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

static int64_t ceil_div(int64_t a, int64_t b)    // b > 0
{
    return -floor_div(-a, b);
}

// --- spans ----------------------------------------------------------------

static bool clip_span(const GfxCtx *c, int64_t *x0, int64_t *x1, int64_t y)
{
    if (y < c->cy0 || y >= c->cy1)
        return false;
    *x0 = std::max(*x0, c->cx0);
    *x1 = std::min(*x1, c->cx1 - 1);
    return *x0 <= *x1;
}

// How the pixels of a span are composed with one pen, worked out once for
// all the spans of a shape. Pen byte i is the one used where the pattern
// bit is i.
enum SpanKind {
    SPAN_FIXED,     // each pen byte gives one result whatever the target byte
    SPAN_ROW,       // each pen byte reads one table row, indexed by the target
    SPAN_GENERAL,   // the rule pixel by pixel
};

struct SpanPlan {
    int col;
    SpanKind kind;
    uint8_t res[2];          // SPAN_FIXED: the table entry for each pen byte
    const uint8_t *row[2];   // SPAN_ROW: the table row for each pen byte
    bool solid;              // SPAN_FIXED with one written value whatever the pattern
};

// Whether any pixel takes pen byte i (pattern bit i).
static bool pen_byte_used(const GfxCtx *c, int i)
{
    for (int r = 0; r < 8; r++)
        if (c->fill[r] != (i ? 0 : 0xFF))
            return true;
    return false;
}

// Whether the entries of a table row that a target read through the target
// mask can reach (indexes t & 63, t = d & mask) are all the same.
static bool row_constant(const uint8_t *row, uint8_t tmask)
{
    unsigned m = tmask & 63;
    if (m == 63) {
        uint64_t first = 0x0101010101010101ull * row[0], diff = 0;
        for (int i = 0; i < 64; i += 8) {
            uint64_t v;
            memcpy(&v, row + i, 8);
            diff |= v ^ first;
        }
        return diff == 0;
    }
    for (unsigned t = m; t != 0; t = (t - 1) & m)   // every subset of the mask
        if (row[t] != row[0])
            return false;
    return true;
}

static void span_plan(const GfxCtx *c, int col, SpanPlan *sp)
{
    sp->col = col;
    sp->kind = SPAN_GENERAL;
    if (!c->fast)
        return;
    bool used[2] = {pen_byte_used(c, 0), pen_byte_used(c, 1)};
    bool fixed = true;
    for (int i = 0; i < 2; i++) {
        unsigned s = ((unsigned)col >> (8 * i)) & 0xFF & c->smask;
        // The table is the same for every target byte when the target mask
        // lets through no table bits that the source lacks.
        if (used[i] && (c->tmask & 0xC0 & ~s))
            return;
        sp->row[i] = c->tab[(s >> 6) & 3] + (s & 63) * 64;
        sp->res[i] = sp->row[i][0];
        if (used[i])
            fixed = fixed && row_constant(sp->row[i], c->tmask);
    }
    // an unused pen byte takes the other's values, so that either may be read
    for (int i = 0; i < 2; i++)
        if (!used[i]) {
            sp->row[i] = sp->row[!i];
            sp->res[i] = sp->res[!i];
        }
    sp->kind = fixed ? SPAN_FIXED : SPAN_ROW;
    sp->solid = fixed && ((sp->res[0] ^ sp->res[1]) & c->wmask) == 0;
}

// dst[i] := (pat[i & 7] & wm) | (dst[i] & ~wm) for i < n.
static void merge_bytes(uint8_t *dst, size_t n, const uint8_t pat[8], uint8_t wm)
{
    if (wm == 0)
        return;
    const uint64_t ones = 0x0101010101010101ull;
    uint64_t m = ones * wm, v;
    memcpy(&v, pat, 8);
    v &= m;
    if (m == ~0ull && v == ones * pat[0]) {
        memset(dst, pat[0], n);
        return;
    }
    size_t i = 0;
    if (m == ~0ull) {
        for (; i + 8 <= n; i += 8)
            memcpy(dst + i, &v, 8);
    } else {
        // four words a round, which the compiler makes two vector operations
        for (; i + 32 <= n; i += 32) {
            uint64_t a, b, e, f;
            memcpy(&a, dst + i, 8);
            memcpy(&b, dst + i + 8, 8);
            memcpy(&e, dst + i + 16, 8);
            memcpy(&f, dst + i + 24, 8);
            a = (a & ~m) | v;
            b = (b & ~m) | v;
            e = (e & ~m) | v;
            f = (f & ~m) | v;
            memcpy(dst + i, &a, 8);
            memcpy(dst + i + 8, &b, 8);
            memcpy(dst + i + 16, &e, 8);
            memcpy(dst + i + 24, &f, 8);
        }
        for (; i + 8 <= n; i += 8) {
            uint64_t a;
            memcpy(&a, dst + i, 8);
            a = (a & ~m) | v;
            memcpy(dst + i, &a, 8);
        }
    }
    for (; i < n; i++)
        dst[i] = (uint8_t)((pat[i & 7] & wm) | (dst[i] & ~wm));
}

// The fixed results of pixels x to x + 7 on a row with pattern byte pb.
static void fixed_pattern(const SpanPlan *sp, uint8_t pb, int64_t x, uint8_t pat[8])
{
    for (int j = 0; j < 8; j++)
        pat[j] = sp->res[(pb >> ((x + j) & 7)) & 1];
}

// The rule pixel by pixel, with everything but the target byte taken out
// of the loop (the row may alias the context's bytes as far as the
// compiler knows, so they are copied first).
static void span_general(const GfxCtx *c, uint8_t *row, int64_t x0, int64_t x1, int64_t y, int col)
{
    const uint8_t tm = c->tmask, wm = c->wmask, pb = c->fill[y & 7];
    unsigned s[2];
    const uint8_t *rows[2][4];   // [pattern bit][table]: the source's row
    for (int i = 0; i < 2; i++) {
        s[i] = ((unsigned)col >> (8 * i)) & 0xFF & c->smask;
        for (int k = 0; k < 4; k++)
            rows[i][k] = c->tab[k] + (s[i] & 63) * 64;
    }
    for (int64_t x = x0; x <= x1; x++) {
        uint8_t d = row[x];
        unsigned bit = (pb >> (x & 7)) & 1, t = d & tm;
        uint8_t r = rows[bit][((s[bit] | t) >> 6) & 3][t & 63];
        row[x] = (uint8_t)((r & wm) | (d & ~wm));
    }
}

static void span_row(const GfxCtx *c, const SpanPlan *sp, uint8_t *row, int64_t x0, int64_t x1, int64_t y)
{
    uint8_t wm = c->wmask, im = c->tmask & 63;
    uint8_t pb = c->fill[y & 7];
    if (pb == 0 || pb == 0xFF || sp->row[0] == sp->row[1]) {
        const uint8_t *t = sp->row[pb & 1];
        for (int64_t x = x0; x <= x1; x++) {
            uint8_t d = row[x];
            row[x] = (uint8_t)((t[d & im] & wm) | (d & ~wm));
        }
        return;
    }
    for (int64_t x = x0; x <= x1; x++) {
        uint8_t d = row[x];
        uint8_t r = sp->row[(pb >> (x & 7)) & 1][d & im];
        row[x] = (uint8_t)((r & wm) | (d & ~wm));
    }
}

// Pixels x0..x1 of row y, already clipped.
static void span_apply(const GfxCtx *c, const SpanPlan *sp, int64_t x0, int64_t x1, int64_t y)
{
    uint8_t *row = c->pix + y * c->w;
    switch (sp->kind) {
    case SPAN_FIXED: {
        uint8_t pat[8];
        fixed_pattern(sp, c->fill[y & 7], x0, pat);
        merge_bytes(row + x0, (size_t)(x1 - x0 + 1), pat, c->wmask);
        break;
    }
    case SPAN_ROW:
        span_row(c, sp, row, x0, x1, y);
        break;
    case SPAN_GENERAL:
        span_general(c, row, x0, x1, y, sp->col);
        break;
    }
}

static int64_t span_cost(const GfxCtx *c, int64_t d, int col)
{
    if (c->tmask == 0 || (c->tmask == 0x3F && !(col & 0xC0C0)))
        return d / 2 + 2;
    return d * 3 / 4 + 2;
}

static int64_t hline(const GfxCtx *c, const SpanPlan *sp, int64_t x0, int64_t x1, int64_t y)
{
    if (!clip_span(c, &x0, &x1, y))
        return 0;
    span_apply(c, sp, x0, x1, y);
    return span_cost(c, x1 - x0, sp->col);
}

int64_t draw_hline(const GfxCtx *c, int64_t x0, int64_t x1, int64_t y, int col)
{
    SpanPlan sp;
    span_plan(c, col, &sp);
    return hline(c, &sp, x0, x1, y);
}

// A clipped run of outline pixels; returns the pixels written.
static int64_t draw_run(const GfxCtx *c, const SpanPlan *sp, int64_t x0, int64_t x1, int64_t y)
{
    if (!clip_span(c, &x0, &x1, y))
        return 0;
    span_apply(c, sp, x0, x1, y);
    return x1 - x0 + 1;
}

static int64_t hline_inv(const GfxCtx *c, const SpanPlan *sp, int64_t xa, int64_t xb, int64_t y)
{
    int64_t lo = std::min(xa, xb), hi = std::max(xa, xb);
    return hline(c, sp, c->cx0, lo - 1, y) + hline(c, sp, hi + 1, c->cx1 - 1, y);
}

int64_t draw_hline_inv(const GfxCtx *c, int64_t xa, int64_t xb, int64_t y, int col)
{
    SpanPlan sp;
    span_plan(c, col, &sp);
    return hline_inv(c, &sp, xa, xb, y);
}

// --- rectangles -------------------------------------------------------------

// Rows ya..yb (none when ya > yb), each a span x0..x1.
static int64_t fill_rows(const GfxCtx *c, const SpanPlan *sp, int64_t x0, int64_t x1, int64_t ya, int64_t yb)
{
    ya = std::max(ya, c->cy0);
    yb = std::min(yb, c->cy1 - 1);
    x0 = std::max(x0, c->cx0);
    x1 = std::min(x1, c->cx1 - 1);
    if (ya > yb || x0 > x1)
        return 0;
    // Whole rows of one value are one run of the bitmap.
    if (sp->kind == SPAN_FIXED && sp->solid && x0 == 0 && x1 == c->w - 1) {
        uint8_t pat[8];
        fixed_pattern(sp, 0, 0, pat);
        merge_bytes(c->pix + ya * c->w, (size_t)((yb - ya + 1) * c->w), pat, c->wmask);
    } else {
        for (int64_t y = ya; y <= yb; y++)
            span_apply(c, sp, x0, x1, y);
    }
    return (yb - ya + 1) * span_cost(c, x1 - x0, sp->col);
}

int64_t rectfill(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    SpanPlan sp;
    span_plan(c, col, &sp);
    return fill_rows(c, &sp, x0, x1, y0, y1);
}

int64_t rectfill_outside(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    SpanPlan sp;
    span_plan(c, col, &sp);
    int64_t cost = fill_rows(c, &sp, c->cx0, c->cx1 - 1, c->cy0, y0 - 1);
    cost += fill_rows(c, &sp, c->cx0, c->cx1 - 1, y1 + 1, c->cy1 - 1);
    int64_t ya = std::max(y0, c->cy0), yb = std::min(y1, c->cy1 - 1);
    for (int64_t y = ya; y <= yb; y++)
        cost += hline_inv(c, &sp, x0, x1, y);
    return cost;
}

int64_t rectfill_raw(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint8_t byte)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    x0 = std::max(x0, c->cx0);
    x1 = std::min(x1, c->cx1 - 1);
    y0 = std::max(y0, c->cy0);
    y1 = std::min(y1, c->cy1 - 1);
    if (x0 > x1 || y0 > y1)
        return 0;
    for (int64_t y = y0; y <= y1; y++)
        memset(c->pix + y * c->w + x0, byte, (size_t)(x1 - x0 + 1));
    return (x1 - x0 + 1) * (y1 - y0 + 1);
}

// --- lines ------------------------------------------------------------------

// End points beyond this are refused by the walk: its 16.16 terms must
// stay inside 64 bits. Bitmap coordinates (gfx_coord) stay inside it.
constexpr int64_t WALK_LIMIT = (int64_t)1 << 41;

bool line_walk(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, LineWalk *lw)
{
    if (c->cx0 >= c->cx1 || c->cy0 >= c->cy1)
        return false;
    if (std::max({std::abs(x0), std::abs(y0), std::abs(x1), std::abs(y1)}) > WALK_LIMIT)
        return false;
    int64_t dx = x1 - x0, dy = y1 - y0;
    int64_t n = std::max(std::abs(dx), std::abs(dy));
    int64_t stx = n ? dx * 65536 / n : 0;
    int64_t sty = n ? dy * 65536 / n : 0;
    if (y1 < c->cy0 || y0 >= c->cy1 || (x0 < c->cx0 && x1 < c->cx0) || (x0 >= c->cx1 && x1 >= c->cx1))
        return false;
    const int64_t X = x0 * 65536 + 32768, Y = y0 * 65536 + 32768;
    const int64_t ex0 = c->cx0 * 65536, ex1 = c->cx1 * 65536;
    const int64_t ey0 = c->cy0 * 65536, ey1 = c->cy1 * 65536;
    // The steps inside the clip rectangle form one range, found by division
    // rather than by stepping, and exactly (no pixel of the walk is lost at
    // an edge).
    int64_t kf = 0, kl = n;
    if (y0 < c->cy0) {
        if (sty == 0)
            return false;
        kf = std::max(kf, ceil_div(ey0 - Y, sty));
    }
    if (sty > 0)
        kl = std::min(kl, floor_div(ey1 - 1 - Y, sty));
    if (stx > 0) {
        kf = std::max(kf, ceil_div(ex0 - X, stx));
        kl = std::min(kl, floor_div(ex1 - 1 - X, stx));
    } else if (stx < 0) {
        kf = std::max(kf, ceil_div(X - (ex1 - 1), -stx));
        kl = std::min(kl, floor_div(X - ex0, -stx));
    } else if (x0 < c->cx0 || x0 >= c->cx1) {
        return false;
    }
    *lw = {X, Y, stx, sty, kf, kl, n};
    return kf <= kl;
}

int64_t draw_line(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col)
{
    if (y1 < y0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    LineWalk lw;
    if (!line_walk(c, x0, y0, x1, y1, &lw))
        return 0;
    int64_t plotted = 0;
    for (int64_t k = lw.kf; k <= lw.kl; k++)
        plotted += putpixel(c, (lw.X + k * lw.stx) >> 16, (lw.Y + k * lw.sty) >> 16, col);
    return plotted;
}

int64_t draw_rect(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col)
{
    int64_t n = draw_line(c, x0, y0, x1, y0, col);
    if (y1 != y0)
        n += draw_line(c, x0, y1, x1, y1, col);
    if (std::abs(y1 - y0) > 1) {
        int64_t lo = std::min(y0, y1) + 1, hi = std::max(y0, y1) - 1;
        n += draw_line(c, x0, lo, x0, hi, col);
        // a one-pixel-wide box has a single side, composed once
        if (x1 != x0)
            n += draw_line(c, x1, lo, x1, hi, col);
    }
    return n;
}

// --- ellipses ---------------------------------------------------------------

// McIlroy's integer ellipse walk over one quadrant, from (0, ry) to (rx, 0).
// visit(x, y, steps_y) sees every point before it is left.
template <typename Visit>
static void mcilroy(int64_t rx, int64_t ry, Visit visit)
{
    int64_t x = 0, y = ry;
    const int64_t a2 = rx * rx, b2 = ry * ry;
    const int64_t crit1 = -(a2 / 4 + rx % 2 + b2);
    const int64_t crit2 = -(b2 / 4 + ry % 2 + a2);
    const int64_t crit3 = -(b2 / 4 + ry % 2);
    int64_t t = -a2 * y, dxt = 2 * b2 * x, dyt = -2 * a2 * y;
    const int64_t d2xt = 2 * b2, d2yt = 2 * a2;
    while (y >= 0 && x <= rx) {
        bool sx = true, sy = true;
        if (t + b2 * x <= crit1 || t + a2 * y <= crit3)
            sy = false;
        else if (t - a2 * y > crit2)
            sx = false;
        visit(x, y, sy);
        if (sx) {
            x++;
            dxt += d2xt;
            t += dxt;
        }
        if (sy) {
            y--;
            dyt += d2yt;
            t += dyt;
        }
    }
}

static bool walk_allowed(const GfxCtx *c, int64_t rx, int64_t ry)
{
    if (rx > WALK_MAX_RADIUS || ry > WALK_MAX_RADIUS)
        return false;
    if (gfx_ellipse_method != GFX_ELLIPSE_AUTO)
        return gfx_ellipse_method == GFX_ELLIPSE_WALK;
    int64_t size = std::max<int64_t>(0, c->cx1 - c->cx0) + std::max<int64_t>(0, c->cy1 - c->cy0);
    return rx + ry <= std::max(WALK_MIN_BUDGET, 2 * size);
}

// The walk's decisions depend on the point alone: its error term at (x, y)
// is t = b2 x (x + 1) + a2 y (y - 1) - a2 b2. So the extent of any row of
// the walk can be found without walking to it; 128 bits hold every term for
// radii up to 2^31.
__extension__ typedef __int128 i128;

struct EllipseTerms {
    int64_t rx;
    i128 a2, b2, crit1, crit2, crit3;
};

static EllipseTerms ellipse_terms(int64_t rx, int64_t ry)
{
    EllipseTerms e;
    e.rx = rx;
    e.a2 = (i128)rx * rx;
    e.b2 = (i128)ry * ry;
    e.crit1 = -(e.a2 / 4 + rx % 2 + e.b2);
    e.crit2 = -(e.b2 / 4 + ry % 2 + e.a2);
    e.crit3 = -(e.b2 / 4 + ry % 2);
    return e;
}

static i128 error_at(const EllipseTerms *e, int64_t x, int64_t y)
{
    return e->b2 * x * (x + 1) + e->a2 * y * (y - 1) - e->a2 * e->b2;
}

// The walk steps along x only from (x, y).
static bool steps_x_only(const EllipseTerms *e, int64_t x, int64_t y)
{
    i128 t = error_at(e, x, y);
    return t + e->b2 * x <= e->crit1 || t + e->a2 * y <= e->crit3;
}

// From a point that does not step along x only, the walk steps both ways.
static bool steps_both(const EllipseTerms *e, int64_t x, int64_t y)
{
    return error_at(e, x, y) - e->a2 * y <= e->crit2;
}

// Last x of the walk on quadrant row y: the first x that does not step
// along x only (the test turns false once and stays false as x grows).
static int64_t row_end(const EllipseTerms *e, int64_t y)
{
    int64_t lo = 0, hi = e->rx;
    if (steps_x_only(e, hi, y))
        return hi;
    while (lo < hi) {
        int64_t mid = lo + (hi - lo) / 2;
        if (steps_x_only(e, mid, y))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// First x of the walk on quadrant row y: just past the row above, one
// further when the walk left that row diagonally.
static int64_t row_start(const EllipseTerms *e, int64_t ry, int64_t y)
{
    if (y >= ry)
        return 0;
    int64_t above = row_end(e, y + 1);
    return above + (steps_both(e, above, y + 1) ? 1 : 0);
}

// True when nothing within two pixels of the (extended) ellipse lies in the
// clip rectangle.
static bool ellipse_misses_clip(const GfxCtx *c, int64_t cx, int64_t cy, int64_t rx, int64_t ry,
                                int64_t ex, int64_t ey)
{
    if (c->cx0 >= c->cx1 || c->cy0 >= c->cy1)
        return true;
    if (rx < 1 || ry < 1)
        return false;
    auto gap = [](int64_t a, int64_t b, int64_t lo, int64_t hi) {
        int64_t a0 = std::min(a, b), a1 = std::max(a, b);
        int64_t g = hi < a0 ? a0 - hi : lo > a1 ? lo - a1 : 0;
        return std::max<int64_t>(g - 2, 0);
    };
    long double u = (long double)gap(cx, cx + ex, c->cx0, c->cx1 - 1) / (long double)rx;
    long double v = (long double)gap(cy, cy + ey, c->cy0, c->cy1 - 1) / (long double)ry;
    return u * u + v * v > 1.0L;
}

// Quadrant rows whose mirrored row lies in the clip rectangle: upper rows
// cy - y and lower rows cy + ey + y, y in 0..ry.
template <typename Row>
static void clip_rows(const GfxCtx *c, int64_t cy, int64_t ry, int64_t ey, Row row)
{
    int64_t ua = std::max<int64_t>(0, cy - (c->cy1 - 1)), ub = std::min(ry, cy - c->cy0);
    for (int64_t y = ua; y <= ub; y++)
        if (ey + y > 0)
            row(y, cy - y);
    int64_t la = std::max<int64_t>(0, c->cy0 - cy - ey), lb = std::min(ry, c->cy1 - 1 - cy - ey);
    for (int64_t y = la; y <= lb; y++)
        row(y, cy + ey + y);
}

int64_t draw_ellipse_1(const GfxCtx *c, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ex,
                       int64_t ey, int col)
{
    if (rx < 0 || ry < 0 || ellipse_misses_clip(c, cx, cy, rx, ry, ex, ey))
        return 0;
    rx = std::min(rx, RADIUS_MAX);
    ry = std::min(ry, RADIUS_MAX);
    int64_t n = 0;
    if (walk_allowed(c, rx, ry)) {
        mcilroy(rx, ry, [&](int64_t x, int64_t y, bool) {
            n += putpixel(c, cx + ex + x, cy + ey + y, col);
            if (ey + y > 0) {
                if (ex + x > 0)
                    n += putpixel(c, cx - x, cy - y, col);
                n += putpixel(c, cx + ex + x, cy - y, col);
            }
            if (ex + x > 0)
                n += putpixel(c, cx - x, cy + ey + y, col);
        });
        return n;
    }
    // Row by row, the same points as the walk, mirrored as it mirrors them.
    EllipseTerms e = ellipse_terms(rx, ry);
    SpanPlan sp;
    span_plan(c, col, &sp);
    clip_rows(c, cy, ry, ey, [&](int64_t y, int64_t row_y) {
        int64_t hi = row_end(&e, y);
        int64_t lo = std::min(row_start(&e, ry, y), hi);
        n += draw_run(c, &sp, cx + ex + lo, cx + ex + hi, row_y);
        int64_t left_lo = std::max(lo, 1 - ex);
        if (left_lo <= hi)
            n += draw_run(c, &sp, cx - hi, cx - left_lo, row_y);
    });
    return n;
}

int64_t fill_ellipse_1(const GfxCtx *c, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ex,
                       int64_t ey, int col)
{
    if (rx < 0 || ry < 0)
        return 0;
    if (!c->invert && ellipse_misses_clip(c, cx, cy, rx, ry, ex, ey))
        return 0;
    rx = std::min(rx, RADIUS_MAX);
    ry = std::min(ry, RADIUS_MAX);
    int64_t cost = 0;
    SpanPlan sp;
    span_plan(c, col, &sp);
    auto span = [&](int64_t x, int64_t row_y) {
        cost += c->invert ? hline_inv(c, &sp, cx - x, cx + ex + x, row_y) : hline(c, &sp, cx - x, cx + ex + x, row_y);
    };
    if (walk_allowed(c, rx, ry)) {
        // a row is complete when the walk leaves it
        mcilroy(rx, ry, [&](int64_t x, int64_t y, bool steps_y) {
            if (!steps_y)
                return;
            span(x, cy - y);
            if (ey + y > 0)
                span(x, cy + ey + y);
        });
    } else {
        EllipseTerms e = ellipse_terms(rx, ry);
        clip_rows(c, cy, ry, ey, [&](int64_t y, int64_t row_y) { span(row_end(&e, y), row_y); });
    }
    if (c->invert) {
        cost += fill_rows(c, &sp, c->cx0, c->cx1 - 1, c->cy0, cy - ry - 1);
        cost += fill_rows(c, &sp, c->cx0, c->cx1 - 1, cy + ey + ry + 1, c->cy1 - 1);
    }
    return cost;
}

static bool box_outside_clip(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    return x1 < c->cx0 || x0 >= c->cx1 || y1 < c->cy0 || y0 >= c->cy1;
}

// The clip rectangle lies in the middle of the oval, where 0.7 of each
// radius from the centre is inside (0.7^2 + 0.7^2 < 1).
static bool clip_inside_oval(const GfxCtx *c, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t margin)
{
    return cx - (7 * rx) / 10 + margin < c->cx0 && cx + (7 * rx) / 10 - margin >= c->cx1 &&
           cy - (7 * ry) / 10 + margin < c->cy0 && cy + (7 * ry) / 10 - margin >= c->cy1;
}

int64_t draw_oval(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    if (x1 - x0 <= 1 || y1 - y0 <= 1)
        return rectfill(c, x0, y0, x1, y1, col);
    if (box_outside_clip(c, x0, y0, x1, y1))
        return 0;
    int64_t cx = (x0 + x1) >> 1, cy = (y0 + y1) >> 1, rx = (x1 - x0) >> 1, ry = (y1 - y0) >> 1;
    // Outline points lie within a pixel of the ellipse; with radii this
    // large the middle region is more than two pixels away from it.
    if (rx >= 256 && ry >= 256 && clip_inside_oval(c, cx, cy, rx, ry, 2))
        return 0;
    return draw_ellipse_1(c, cx, cy, rx, ry, (x1 - x0) & 1, (y1 - y0) & 1, col);
}

int64_t draw_filloval(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col)
{
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    if (x1 - x0 <= 1 || y1 - y0 <= 1)
        return c->invert ? rectfill_outside(c, x0, y0, x1, y1, col) : rectfill(c, x0, y0, x1, y1, col);
    int64_t cx = (x0 + x1) >> 1, cy = (y0 + y1) >> 1, rx = (x1 - x0) >> 1, ry = (y1 - y0) >> 1;
    if (c->cx1 - c->cx0 < x1 - x0 && clip_inside_oval(c, cx, cy, rx, ry, 0))
        return c->invert ? 0 : rectfill(c, c->cx0, c->cy0, c->cx1 - 1, c->cy1 - 1, col);
    if (!c->invert && box_outside_clip(c, x0, y0, x1, y1))
        return 0;
    return fill_ellipse_1(c, cx, cy, rx, ry, (x1 - x0) & 1, (y1 - y0) & 1, col);
}

// --- rounded rectangles -------------------------------------------------------

static int64_t clamp_radius(int64_t r, int64_t w, int64_t h)
{
    return std::min(r, (std::min(w, h) >> 1) - 1);
}

int64_t draw_rrect(const GfxCtx *c, int64_t x, int64_t y, int64_t w, int64_t h, int64_t r, int col)
{
    if (w <= 0 || h <= 0)
        return 0;
    r = clamp_radius(r, w, h);
    int64_t x2 = x + w - 1, y2 = y + h - 1;
    if (r <= 0) {
        int64_t n = draw_line(c, x, y, x2, y, col);
        if (h != 1)
            n += draw_line(c, x, y2, x2, y2, col);
        if (h - 1 > 1) {
            n += draw_line(c, x, y + 1, x, y2 - 1, col);
            if (x2 != x)
                n += draw_line(c, x2, y + 1, x2, y2 - 1, col);
        }
        return n;
    }
    int64_t n = 0;
    if (!box_outside_clip(c, x, y, x2, y2))
        n += draw_ellipse_1(c, x + r + 1, y + r + 1, r + 1, r + 1, w - 2 * r - 3, h - 2 * r - 3, col);
    if (x + w - r - 3 >= x + r + 2) {
        n += draw_line(c, x + r + 2, y, x + w - r - 3, y, col);
        n += draw_line(c, x + r + 2, y2, x + w - r - 3, y2, col);
    }
    if (y + h - r - 3 >= y + r + 2) {
        n += draw_line(c, x, y + r + 2, x, y + h - r - 3, col);
        n += draw_line(c, x2, y + r + 2, x2, y + h - r - 3, col);
    }
    return n;
}

int64_t draw_rrectfill(const GfxCtx *c, int64_t x, int64_t y, int64_t w, int64_t h, int64_t r, int col)
{
    if (w <= 0 || h <= 0)
        return c->invert ? rectfill(c, c->cx0, c->cy0, c->cx1 - 1, c->cy1 - 1, col) : 0;
    r = clamp_radius(r, w, h);
    int64_t x2 = x + w - 1, y2 = y + h - 1;
    if (r <= 0)
        return c->invert ? rectfill_outside(c, x, y, x2, y2, col) : rectfill(c, x, y, x2, y2, col);
    int64_t cost = fill_ellipse_1(c, x + r + 1, y + r + 1, r + 1, r + 1, w - 2 * r - 3, h - 2 * r - 3, col);
    int64_t ya = std::max(y + r + 2, c->cy0), yb = std::min(y + h - r - 3, c->cy1 - 1);
    SpanPlan sp;
    span_plan(c, col, &sp);
    if (!c->invert)
        return cost + fill_rows(c, &sp, x, x2, ya, yb);
    for (int64_t row = ya; row <= yb; row++)
        cost += hline_inv(c, &sp, x, x2, row);
    return cost;
}
