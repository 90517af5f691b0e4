// Maps of sprite cells, and _draw_map, mget and mset for Lua.
#include "gfx/map.h"

#include <algorithm>

#include "gfx/gfx_api2.h"
#include "gfx/tline.h"
#include "memory/ram.h"
#include "process/api.h"
#include "process/slice.h"

Userdata *gfx_current_map(Process *p)
{
    Userdata *m = p->cur_map;
    return (m && (m->type & UD_TYPE_MASK) == UD_I16) ? m : nullptr;
}

static uint16_t cell_at(const Userdata *map, int64_t x, int64_t y)
{
    return ((const uint16_t *)ud_data(map))[y * map->width + x];
}

// A sprite whose size is not the cell's is stretched into it, one
// horizontal textured line per row of the cell; with the transpose bit the
// rows of the cell run down the sprite's columns.
static int64_t stretch_cell(const GfxCtx *c, const SprPlan *sp, const Userdata *s, uint16_t cell, int64_t px,
                            int64_t py, int64_t cw, int64_t ch)
{
    const double sw = s->width, sh = s->height;
    const bool transpose = cell & MAP_TRANSPOSE;
    // only the rows of the cell inside the clip rectangle
    int64_t k0 = std::max<int64_t>(0, c->cy0 - py), k1 = std::min<int64_t>(ch - 1, c->cy1 - 1 - py);
    int64_t cost = 0;
    for (int64_t k = k0; k <= k1; k++) {
        double kk = (double)((cell & MAP_FLIP_Y) ? ch - 1 - k : k) + 0.5;
        double across = transpose ? sh : sw;            // what varies along the row
        double half = across / (double)cw / 2;
        double a = half, b = across - half;
        if (cell & MAP_FLIP_X)
            std::swap(a, b);
        if (transpose) {
            double u = sw / (double)ch * kk;
            cost += draw_tline_sspr(c, sp, s, px, py + k, px + cw - 1, py + k, u, a, u, b);
        } else {
            double v = sh / (double)ch * kk;
            cost += draw_tline_sspr(c, sp, s, px, py + k, px + cw - 1, py + k, a, v, b, v);
        }
    }
    return cost;
}

// First and last + 1 cell along one axis that can reach [lo, hi) of the
// clip, for n cells of size `size` from pos.
static void visible_cells(int64_t pos, int64_t size, int64_t n, int64_t lo, int64_t hi, int64_t *first, int64_t *end)
{
    *first = 0;
    *end = n;
    int64_t skip = (lo - pos) / size;
    if (skip > 0)
        *first = skip;
    int64_t cut = (pos + size * n - hi) / size;
    if (cut > 0)
        *end -= cut;
}

int64_t draw_map(const GfxCtx *c, const SprPlan *sp, const Userdata *map, MapDraw m, int64_t *visited)
{
    *visited = 0;
    if (m.cell_w < 1 || m.cell_h < 1)
        return 0;
    // Cells before the map's edge are skipped where they stand, so a map
    // drawn partly off its left or top edge keeps its place.
    if (m.mx < 0) {
        m.w += m.mx;
        m.x -= m.mx * m.cell_w;
        m.mx = 0;
    }
    if (m.my < 0) {
        m.h += m.my;
        m.y -= m.my * m.cell_h;
        m.my = 0;
    }
    m.w = std::min<int64_t>(m.w, map->width - m.mx);
    m.h = std::min<int64_t>(m.h, map->height - m.my);
    if (m.w <= 0 || m.h <= 0)
        return 0;
    int64_t c0, c1, r0, r1;
    visible_cells(m.x, m.cell_w, m.w, c->cx0, c->cx1, &c0, &c1);
    visible_cells(m.y, m.cell_h, m.h, c->cy0, c->cy1, &r0, &r1);
    if (c0 >= c1 || r0 >= r1)
        return 0;
    *visited = (c1 - c0) * (r1 - r0);

    Process *p = c->p;
    const bool zero_drawn = ram_load<uint8_t>(p, GFX_PRINT_FLAGS) & 8;
    int64_t cost = 0;
    for (int64_t row = r0; row < r1; row++) {
        int64_t py = m.y + row * m.cell_h;
        for (int64_t col = c0; col < c1; col++) {
            uint16_t cell = cell_at(map, m.mx + col, m.my + row);
            int64_t n = cell & MAP_SPRITE;
            const Userdata *s = gfx_sprite(p, n);
            if (!s || (n == 0 && !zero_drawn) || (m.layers && !(m.layers & gfx_sprite_flags(p, n))))
                continue;
            int64_t px = m.x + col * m.cell_w;
            if (s->width == m.cell_w && s->height == m.cell_h && !(cell & MAP_TRANSPOSE))
                cost += draw_spr_plan(c, sp, s, 0, 0, px, py, m.cell_w, m.cell_h, cell & MAP_FLIP_X, cell & MAP_FLIP_Y);
            else
                cost += stretch_cell(c, sp, s, cell, px, py, m.cell_w, m.cell_h);
        }
    }
    return cost;
}

// --- Lua --------------------------------------------------------------------------

// A cell size register: 0 means 256.
static int64_t cell_reg(Process *p, uint32_t a)
{
    uint8_t v = ram_load<uint8_t>(p, a);
    return v ? v : 256;
}

// _draw_map(map, mx = 0, my = 0, x = 0, y = 0, w, h, layers = 0, cell_w, cell_h)
int lua54__draw_map(lua_State *L)
{
    Userdata *map = ud_check(L, 1);
    if (!map || (map->type & UD_TYPE_MASK) != UD_I16)
        return 0;
    GfxCall k;
    if (!gfx_call_begin(&k))
        return 0;
    MapDraw m;
    m.mx = gfx_sat32(k64_intp(L, 2, 0));
    m.my = gfx_sat32(k64_intp(L, 3, 0));
    m.x = gfx_coord(k64_intp(L, 4, 0), k.camx);
    m.y = gfx_coord(k64_intp(L, 5, 0), k.camy);
    m.w = gfx_sat32(k64_intp(L, 6, map->width - m.mx));
    m.h = gfx_sat32(k64_intp(L, 7, map->height - m.my));
    m.layers = k64_intp(L, 8, 0);
    m.cell_w = gfx_sat32(k64_intp(L, 9, cell_reg(k.p, GFX_MAP_CELL_W)));
    m.cell_h = gfx_sat32(k64_intp(L, 10, cell_reg(k.p, GFX_MAP_CELL_H)));
    SprPlan sp;
    spr_plan(&k.c, &sp);
    int64_t visited;
    int64_t cost = draw_map(&k.c, &sp, map, m, &visited);
    spend_cpu(2 * visited + cost / 3);
    return 0;
}

// The current map and the cell (x, y) of it, if there is one.
static Userdata *map_cell(lua_State *L, int64_t *x, int64_t *y)
{
    Userdata *m = gfx_current_map(cproc);
    *x = k64_intp(L, 1, 0);
    *y = k64_intp(L, 2, 0);
    if (!m || *x < 0 || *y < 0 || *x >= m->width || *y >= m->height)
        return nullptr;
    return m;
}

// mget(x, y) -> the cell, or nothing outside the current map
int lua54_mget(lua_State *L)
{
    int64_t x, y;
    Userdata *m = map_cell(L, &x, &y);
    if (!m)
        return 0;
    lua_pushinteger(L, (int16_t)cell_at(m, x, y));
    return 1;
}

// mset(x, y, v): the low 16 bits of v, inside the current map
int lua54_mset(lua_State *L)
{
    int64_t x, y;
    Userdata *m = map_cell(L, &x, &y);
    if (m)
        ((uint16_t *)ud_data(m))[y * m->width + x] = (uint16_t)k64_intp(L, 3, 0);
    return 0;
}
