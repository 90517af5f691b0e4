// Lua functions that set the draw state.
#include <algorithm>
#include <cstring>

#include "gfx/draw_state.h"
#include "gfx/gfx_api.h"
#include "memory/ram.h"
#include "process/api.h"
#include "process/slice.h"

// Arguments far beyond any bitmap are pulled in so that sums of two of
// them stay far from the 64-bit limits.
static int64_t big_arg(lua_State *L, int idx, int64_t def)
{
    return std::clamp<int64_t>(k64_intp(L, idx, def), -((int64_t)1 << 40), (int64_t)1 << 40);
}

static void store_i32(Process *p, uint32_t a, int64_t v)
{
    ram_store<uint32_t>(p, a, (uint32_t)(int32_t)gfx_sat32(v));
}

// color(col = 6)
int lua54_color(lua_State *L)
{
    ram_store<uint16_t>(cproc, GFX_PEN, (uint16_t)k64_intp(L, 1, 6));
    return 0;
}

// camera(x = 0, y = 0) -> previous x, y
int lua54_camera(lua_State *L)
{
    Process *p = cproc;
    int32_t ox = gfx_camera_x(p), oy = gfx_camera_y(p);
    store_i32(p, GFX_CAMERA_X, k64_intp(L, 1, 0));
    store_i32(p, GFX_CAMERA_Y, k64_intp(L, 2, 0));
    lua_pushinteger(L, ox);
    lua_pushinteger(L, oy);
    return 2;
}

// clip(x, y, w, h, clip_previous) -> previous x, y, w, h
int lua54_clip(lua_State *L)
{
    Process *p = cproc;
    Userdata *t = gfx_target(p);
    if (!t)
        return 0;
    gfx_refresh_clip(p);
    int64_t ex0 = p->clip_x0, ey0 = p->clip_y0, ex1 = p->clip_x1, ey1 = p->clip_y1;
    if (lua_gettop(L) < 4) {
        gfx_set_clip_regs(p, 0, 0, t->width, t->height);
    } else {
        int64_t x = big_arg(L, 1, 0), y = big_arg(L, 2, 0);
        int64_t w = big_arg(L, 3, 0), h = big_arg(L, 4, 0);
        if (lua_toboolean(L, 5)) {
            gfx_set_clip_regs(p, std::max(ex0, std::min(x, ex1)), std::max(ey0, std::min(y, ey1)),
                              std::max(ex0, std::min(ex1, x + w)), std::max(ey0, std::min(ey1, y + h)));
        } else {
            gfx_set_clip_regs(p, std::max<int64_t>(0, x), std::max<int64_t>(0, y),
                              std::min<int64_t>(x + w, t->width), std::min<int64_t>(y + h, t->height));
        }
    }
    lua_pushinteger(L, ex0);
    lua_pushinteger(L, ey0);
    lua_pushinteger(L, ex1 - ex0);
    lua_pushinteger(L, ey1 - ey0);
    return 4;
}

// cursor(x = 0, y = 0, col)
int lua54_cursor(lua_State *L)
{
    Process *p = cproc;
    store_i32(p, GFX_CURSOR_X, k64_intp(L, 1, 0));
    store_i32(p, GFX_CURSOR_Y, k64_intp(L, 2, 0));
    if (lua_type(L, 3) == LUA_TNUMBER)
        set_colp(p, k64_intp(L, 3, 0));
    return 0;
}

static uint8_t reverse_bits(uint8_t b)
{
    b = (uint8_t)((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = (uint8_t)((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return (uint8_t)((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// fillp(p = 0) as a 4x4 pattern, or fillp(r0, ..., r7) as eight rows
int lua54_fillp(lua_State *L)
{
    Process *p = cproc;
    if (!gfx_target(p))
        return 0;
    if (lua_gettop(L) == 8) {
        for (int i = 0; i < 8; i++)
            ram_store<uint8_t>(p, GFX_FILL + i, reverse_bits((uint8_t)k64_intp(L, i + 1, 0)));
    } else {
        fillp_16(p, (uint32_t)k64_intp(L, 1, 0) & 0xFFFF);
    }
    return 0;
}

// pal(table, mode), pal(index, value, mode), pal(r = -1)
int lua54_pal(lua_State *L)
{
    Process *p = cproc;
    if (lua_type(L, 1) == LUA_TTABLE) {
        int64_t mode = k64_intp(L, 2, 0);
        int64_t pairs = 0;
        lua_pushnil(L);
        while (lua_next(L, 1)) {
            if (lua_isinteger(L, -2))
                set_palette_entry(p, lua_tointeger(L, -2), k64_intp(L, -1, 0), mode);
            lua_pop(L, 1);
            pairs++;
        }
        spend_cpu(pairs * 2);
        return 0;
    }
    if (lua_gettop(L) >= 2) {
        set_palette_entry(p, k64_intp(L, 1, 0), k64_intp(L, 2, 0), k64_intp(L, 3, 0));
        return 0;
    }
    int64_t cost = gfx_pal_reset(p, k64_intp(L, 1, -1));
    if (cost)
        spend_cpu(cost);
    return 0;
}

// palt(bits = 1) or palt(col, transparent)
int lua54_palt(lua_State *L)
{
    Process *p = cproc;
    if (lua_gettop(L) < 2)
        gfx_palt_bits(p, (uint64_t)k64_intp(L, 1, 1));
    else
        gfx_palt_one(p, k64_intp(L, 1, 0), lua_toboolean(L, 2));
    return 0;
}

// _set_draw_target(bitmap)
int lua54__set_draw_target(lua_State *L)
{
    gfx_set_draw_target(cproc, L, 1);
    return 0;
}

// cls(col = 0): the whole target, regardless of clip and colour tables
int lua54_cls(lua_State *L)
{
    Process *p = cproc;
    Userdata *t = gfx_target(p);
    if (!t)
        return 0;
    gfx_refresh_clip(p);
    int64_t n = ud_count(t);
    memset(ud_data(t), (uint8_t)k64_intp(L, 1, 0), (size_t)n);
    ram_store<uint32_t>(p, GFX_CURSOR_X, 0);
    ram_store<uint32_t>(p, GFX_CURSOR_Y, 0);
    spend_cpu(n / 64);
    return 0;
}
