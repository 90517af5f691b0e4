// Lua functions of the shape primitives, single and batch forms.
#include <algorithm>
#include <cmath>

#include "gfx/gfx.h"
#include "gfx/gfx_api.h"
#include "gfx/sprite.h"
#include "memory/ram.h"
#include "process/api.h"
#include "process/slice.h"

namespace {

int64_t arg_x(const GfxCall *k, lua_State *L, int idx) { return gfx_coord(k64_intp(L, idx, 0), k->camx); }
int64_t arg_y(const GfxCall *k, lua_State *L, int idx) { return gfx_coord(k64_intp(L, idx, 0), k->camy); }
int64_t arg_size(lua_State *L, int idx, int64_t def) { return gfx_sat32(k64_intp(L, idx, def)); }

// Applies the colour argument at idx and reloads what it may have changed.
int pen(GfxCall *k, lua_State *L, int idx)
{
    int col = colp(L, idx);
    get_masks_shape(&k->c);
    return col;
}

// Last line end point, stored before the camera.
void set_line_end(Process *p, int64_t x, int64_t y)
{
    ram_store<uint32_t>(p, GFX_LINE_X, (uint32_t)(int32_t)gfx_sat32(x));
    ram_store<uint32_t>(p, GFX_LINE_Y, (uint32_t)(int32_t)gfx_sat32(y));
}

int64_t line_end_x(Process *p) { return (int32_t)ram_load<uint32_t>(p, GFX_LINE_X); }
int64_t line_end_y(Process *p) { return (int32_t)ram_load<uint32_t>(p, GFX_LINE_Y); }

// --- batch records (read as sprite.h reads them) --------------------------

// Field j of the record at off as a bitmap x or y coordinate.
int64_t rec_x(const GfxCall *k, const GfxBatch *b, int64_t off, int64_t j) { return gfx_coord(gfx_batch_int(b, off, j, 0), k->camx); }
int64_t rec_y(const GfxCall *k, const GfxBatch *b, int64_t off, int64_t j) { return gfx_coord(gfx_batch_int(b, off, j, 0), k->camy); }

// A present colour field is a colour argument for its record.
int record_pen(GfxCall *k, const GfxBatch *b, int64_t off, int64_t j)
{
    if (j < b->params)
        set_colp(k->p, gfx_batch_int(b, off, j, 0));
    get_masks_shape(&k->c);
    return pen_colour(k->p);
}

// Runs draw(off) over the records; returns how many were processed.
template <typename Draw>
int64_t each_record(const GfxBatch *b, Draw draw)
{
    int64_t n = 0;
    for (; n < b->count; n++) {
        int64_t off = gfx_batch_record(b, n);
        if (off < 0)
            break;
        draw(off);
    }
    return n;
}

int batch_pset(lua_State *L)
{
    GfxCall k;
    GfxBatch b;
    if (!gfx_batch_begin(L, 3, &k, &b))
        return 0;
    int64_t pixels = 0;
    int64_t n = each_record(&b, [&](int64_t off) {
        int col = record_pen(&k, &b, off, 2);
        int64_t x = rec_x(&k, &b, off, 0), y = rec_y(&k, &b, off, 1);
        pixels += putpixel(&k.c, x, y, col);
    });
    spend_cpu(2 * n + 2 + pixels / 3);
    return 0;
}

int batch_line(lua_State *L)
{
    GfxCall k;
    GfxBatch b;
    if (!gfx_batch_begin(L, 5, &k, &b))
        return 0;
    int64_t pixels = 0;
    int64_t n;
    if (b.params < 4) {
        // a polyline from the last end point
        n = each_record(&b, [&](int64_t off) {
            int col = record_pen(&k, &b, off, 2);
            int64_t x = gfx_batch_int(&b, off, 0, 0), y = gfx_batch_int(&b, off, 1, 0);
            pixels += draw_line(&k.c, gfx_coord(line_end_x(k.p), k.camx), gfx_coord(line_end_y(k.p), k.camy),
                                gfx_coord(x, k.camx), gfx_coord(y, k.camy), col);
            set_line_end(k.p, x, y);
        });
    } else {
        n = each_record(&b, [&](int64_t off) {
            int col = record_pen(&k, &b, off, 4);
            int64_t x1 = gfx_batch_int(&b, off, 2, 0), y1 = gfx_batch_int(&b, off, 3, 0);
            pixels += draw_line(&k.c, rec_x(&k, &b, off, 0),
                                rec_y(&k, &b, off, 1), gfx_coord(x1, k.camx),
                                gfx_coord(y1, k.camy), col);
            set_line_end(k.p, x1, y1);
        });
    }
    spend_cpu(3 * n + 3 + pixels);
    return 0;
}

int64_t rectfill_either(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col)
{
    return c->invert ? rectfill_outside(c, x0, y0, x1, y1, col) : rectfill(c, x0, y0, x1, y1, col);
}

int batch_rectfill(lua_State *L)
{
    GfxCall k;
    GfxBatch b;
    if (!gfx_batch_begin(L, 5, &k, &b))
        return 0;
    int64_t cost = 0;
    int64_t n = each_record(&b, [&](int64_t off) {
        k.p->invert = 0;
        int col = record_pen(&k, &b, off, 4);
        int64_t x0 = rec_x(&k, &b, off, 0), y0 = rec_y(&k, &b, off, 1);
        int64_t x1 = rec_x(&k, &b, off, 2), y1 = rec_y(&k, &b, off, 3);
        cost += rectfill_either(&k.c, x0, y0, x1, y1, col);
    });
    spend_cpu(2 * n + 2 + cost / 3);
    return 0;
}

int64_t circle(const GfxCall *k, int64_t x, int64_t y, int64_t r, int col, bool filled)
{
    if (r < 0)
        return (filled && k->c.invert) ? rectfill(&k->c, k->c.cx0, k->c.cy0, k->c.cx1 - 1, k->c.cy1 - 1, col) : 0;
    if (filled)
        return draw_filloval(&k->c, x - r, y - r, x + r, y + r, col);
    return draw_oval(&k->c, x - r, y - r, x + r, y + r, col);
}

int batch_circ(lua_State *L, bool filled)
{
    GfxCall k;
    GfxBatch b;
    if (!gfx_batch_begin(L, 4, &k, &b))
        return 0;
    if (filled)
        k.p->invert = 0;
    int64_t cost = 0;
    int64_t n = each_record(&b, [&](int64_t off) {
        int col = record_pen(&k, &b, off, 3);
        int64_t x = rec_x(&k, &b, off, 0), y = rec_y(&k, &b, off, 1);
        cost += circle(&k, x, y, gfx_sat32(gfx_batch_int(&b, off, 2, 4)), col, filled);
    });
    spend_cpu(2 * n + 2 + cost / 3);
    return 0;
}

// The four-corner forms share their argument handling.
typedef int64_t (*BoxFn)(const GfxCtx *, int64_t, int64_t, int64_t, int64_t, int);

int box_call(lua_State *L, BoxFn fn, bool resets_invert, int64_t divisor)
{
    if (lua_gettop(L) < 4)
        return 0;
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    if (resets_invert)
        k.p->invert = 0;
    int col = pen(&k, L, 5);
    int64_t cost = fn(&k.c, arg_x(&k, L, 1), arg_y(&k, L, 2), arg_x(&k, L, 3), arg_y(&k, L, 4), col);
    spend_cpu(cost / divisor);
    return 0;
}


int circ_call(lua_State *L, bool filled)
{
    if (gfx_is_batch(L))
        return batch_circ(L, filled);
    if (lua_gettop(L) < 2)
        return 0;
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    if (filled)
        k.p->invert = 0;
    int64_t x = arg_x(&k, L, 1), y = arg_y(&k, L, 2), r = arg_size(L, 3, 4);
    int col = pen(&k, L, 4);
    spend_cpu(circle(&k, x, y, r, col, filled) / 3);
    return 0;
}

int rrect_call(lua_State *L, bool filled)
{
    if (lua_gettop(L) < 2)
        return 0;
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    if (filled)
        k.p->invert = 0;
    int64_t x = arg_x(&k, L, 1), y = arg_y(&k, L, 2);
    int64_t w = arg_size(L, 3, 0), h = arg_size(L, 4, 0), r = arg_size(L, 5, 0);
    int col = pen(&k, L, 6);
    int64_t cost = filled ? draw_rrectfill(&k.c, x, y, w, h, r, col) : draw_rrect(&k.c, x, y, w, h, r, col);
    spend_cpu(cost / 3);
    return 0;
}

} // namespace

// pset(x, y, col)
int lua54_pset(lua_State *L)
{
    if (gfx_is_batch(L))
        return batch_pset(L);
    if (lua_gettop(L) < 2)
        return 0;
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    int64_t x = arg_x(&k, L, 1), y = arg_y(&k, L, 2);
    putpixel(&k.c, x, y, pen(&k, L, 3));
    return 0;
}

// pget(x, y) -> the target byte, 0 outside it; the clip does not apply
int lua54_pget(lua_State *L)
{
    if (lua_gettop(L) < 2)
        return 0;
    Process *p = cproc;
    int64_t x = gfx_coord(k64_intp(L, 1, 0), gfx_camera_x(p));
    int64_t y = gfx_coord(k64_intp(L, 2, 0), gfx_camera_y(p));
    lua_pushinteger(L, getpixel(gfx_target(p), x, y));
    return 1;
}

// line(), line(col), line(x, y, col), line(x0, y0, x1, y1, col)
int lua54_line(lua_State *L)
{
    if (gfx_is_batch(L))
        return batch_line(L);
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    int top = lua_gettop(L);
    if (top <= 1) {
        ram_store<uint8_t>(k.p, GFX_LINE_PENDING, 1);
        colp(L, 1);
        return 0;
    }
    int64_t cost;
    if (top <= 3) {
        int col = pen(&k, L, 3);
        int64_t x = k64_intp(L, 1, 0), y = k64_intp(L, 2, 0);
        if (ram_load<uint8_t>(k.p, GFX_LINE_PENDING) == 1) {
            ram_store<uint8_t>(k.p, GFX_LINE_PENDING, 0);
            set_line_end(k.p, x, y);
            return 0;
        }
        cost = draw_line(&k.c, gfx_coord(line_end_x(k.p), k.camx), gfx_coord(line_end_y(k.p), k.camy),
                         gfx_coord(x, k.camx), gfx_coord(y, k.camy), col);
        set_line_end(k.p, x, y);
    } else {
        int col = pen(&k, L, 5);
        cost = draw_line(&k.c, arg_x(&k, L, 1), arg_y(&k, L, 2), arg_x(&k, L, 3), arg_y(&k, L, 4), col);
        set_line_end(k.p, k64_intp(L, 3, 0), k64_intp(L, 4, 0));
    }
    spend_cpu(cost);
    return 0;
}

int lua54_rect(lua_State *L) { return box_call(L, draw_rect, false, 3); }

int lua54_rectfill(lua_State *L)
{
    if (gfx_is_batch(L))
        return batch_rectfill(L);
    return box_call(L, rectfill_either, true, 3);
}

int lua54_oval(lua_State *L) { return box_call(L, draw_oval, false, 1); }
int lua54_ovalfill(lua_State *L) { return box_call(L, draw_filloval, true, 3); }
int lua54_circ(lua_State *L) { return circ_call(L, false); }
int lua54_circfill(lua_State *L) { return circ_call(L, true); }
int lua54_rrect(lua_State *L) { return rrect_call(L, false); }
int lua54_rrectfill(lua_State *L) { return rrect_call(L, true); }
