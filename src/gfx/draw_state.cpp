// Draw state: defaults, target and clip, colour arguments, fill pattern,
// draw/display/RGB palettes and transparency.
#include "gfx/draw_state.h"

#include <algorithm>
#include <cstring>

#include "memory/ram.h"
#include "process/api.h"

constexpr uint32_t system_palette[64] = {
    0x000000, 0x1D2B53, 0x7E2553, 0x008751, 0xAB5236, 0x5F574F, 0xC2C3C7, 0xFFF1E8,
    0xFF004D, 0xFFA300, 0xFFEC27, 0x00E436, 0x29ADFF, 0x83769C, 0xFF77A8, 0xFFCCAA,
    0x2463B0, 0x00A5A1, 0x654688, 0x125359, 0x70322E, 0x452D32, 0xA28879, 0xFFACC5,
    0xB9003E, 0xE26B13, 0x95F04B, 0x00B251, 0x64DFF6, 0xBD9ADF, 0xE40DAB, 0xF49671,
    // 32-63 black
};

// Table 0: colour 0 leaves the target as it is, every other colour is
// opaque (0xC0 marks it so; the usual write mask 0x3F drops those bits).
// Tables 1-3 pass the target through, tagged with the table number.
static constexpr GfxDefaults build_defaults()
{
    GfxDefaults d{};
    for (int t = 0; t < 4; t++)
        for (int s = 0; s < 64; s++)
            for (int x = 0; x < 64; x++) {
                uint8_t v;
                if (t > 0)
                    v = (uint8_t)((t << 6) | x);
                else
                    v = (uint8_t)(s == 0 ? x : (s | 0xC0));
                d.coltabs[t * 4096 + s * 64 + x] = v;
            }
    for (int i = 0; i < 64; i++)
        d.display_pal[i] = (uint8_t)i;
    for (int i = 0; i < 256; i++)
        d.rgb_pal[i] = system_palette[i & 63];
    return d;
}

constexpr GfxDefaults gfx_defaults = build_defaults();

// Start of the bytes a page shows (low pages are mapped only whole).
static uint8_t *page_base(Process *p, uint32_t pg)
{
    if (p->page_len[pg] >= RAM_PAGE_SIZE)
        return p->read_ptr[pg];
    return ram_own_page(p, pg);
}

void gfx_init_process(Process *p)
{
    p->draw_target = nullptr;
    p->draw_target_ref = 0;
    p->clip_x0 = p->clip_y0 = p->clip_x1 = p->clip_y1 = 0;
    p->clip_word0 = p->clip_word1 = 0;
    p->clip_target_w = p->clip_target_h = 0;
    p->invert = 0;
    memset(p->sprite, 0, sizeof p->sprite);
    memset(p->sprite_ref, 0, sizeof p->sprite_ref);
    p->cur_map = nullptr;
    p->cur_map_ref = 0;
    ud_draw_target_hook = gfx_draw_target_hook;
}

// --- target and clip --------------------------------------------------

Userdata *gfx_target(Process *p)
{
    Userdata *t = p ? p->draw_target : nullptr;
    if (!t || (t->type & UD_TYPE_MASK) != UD_U8)
        return nullptr;
    return t;
}

void gfx_hold(lua_State *L, int idx, Userdata **slot, int32_t *ref)
{
    Userdata *u = idx ? ud_check(L, idx) : nullptr;
    int32_t r = 0;
    // the new reference is taken first: it may raise a memory error, and
    // replacing an entry by itself must not let it go for a moment
    if (u) {
        lua_pushvalue(L, idx);
        r = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    if (*ref)
        luaL_unref(L, LUA_REGISTRYINDEX, *ref);
    *ref = r;
    *slot = u;
}

static int16_t clip_reg(int64_t v)
{
    return (int16_t)std::clamp<int64_t>(v, INT16_MIN, INT16_MAX);
}

void gfx_set_clip_regs(Process *p, int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    ram_store<uint16_t>(p, GFX_CLIP_X0, (uint16_t)clip_reg(x0));
    ram_store<uint16_t>(p, GFX_CLIP_Y0, (uint16_t)clip_reg(y0));
    ram_store<uint16_t>(p, GFX_CLIP_X1, (uint16_t)clip_reg(x1));
    ram_store<uint16_t>(p, GFX_CLIP_Y1, (uint16_t)clip_reg(y1));
}

bool gfx_set_draw_target(Process *p, lua_State *L, int idx)
{
    Userdata *u = ud_check(L, idx);
    if (!u || (u->type & UD_TYPE_MASK) != UD_U8)
        return false;
    gfx_hold(L, idx, &p->draw_target, &p->draw_target_ref);
    gfx_set_clip_regs(p, 0, 0, u->width, u->height);
    gfx_refresh_clip(p);
    return true;
}

void gfx_refresh_clip(Process *p)
{
    Userdata *t = p->draw_target;
    if (!t)
        return;
    uint32_t w0 = ram_load<uint32_t>(p, GFX_CLIP_X0);
    uint32_t w1 = ram_load<uint32_t>(p, GFX_CLIP_X1);
    // The target's size is compared too: a new target of another size, or
    // one reshaped since, must not keep a rectangle derived from the old one.
    if (w0 == p->clip_word0 && w1 == p->clip_word1 && t->width == p->clip_target_w &&
        t->height == p->clip_target_h)
        return;
    p->clip_word0 = w0;
    p->clip_word1 = w1;
    p->clip_target_w = t->width;
    p->clip_target_h = t->height;
    p->clip_x0 = std::max<int32_t>((int16_t)w0, 0);
    p->clip_y0 = std::max<int32_t>((int16_t)(w0 >> 16), 0);
    p->clip_x1 = std::min<int32_t>(t->width, (int16_t)w1);
    p->clip_y1 = std::min<int32_t>(t->height, (int16_t)(w1 >> 16));
}

Userdata *gfx_draw_target_hook(lua_State *, UdRect *clip)
{
    Process *p = cproc;
    Userdata *t = gfx_target(p);
    if (!t)
        return nullptr;
    gfx_refresh_clip(p);
    *clip = {p->clip_x0, p->clip_y0, p->clip_x1, p->clip_y1};
    return t;
}

void set_temporary_clipping(Process *p, Userdata *bitmap)
{
    p->saved_clip[0] = p->clip_x0;
    p->saved_clip[1] = p->clip_y0;
    p->saved_clip[2] = p->clip_x1;
    p->saved_clip[3] = p->clip_y1;
    p->clip_x0 = 0;
    p->clip_y0 = 0;
    p->clip_x1 = bitmap->width;
    p->clip_y1 = bitmap->height;
}

void restore_after_temporary_clipping(Process *p)
{
    p->clip_x0 = p->saved_clip[0];
    p->clip_y0 = p->saved_clip[1];
    p->clip_x1 = p->saved_clip[2];
    p->clip_y1 = p->saved_clip[3];
}

void gfx_set_sprite(Process *p, lua_State *L, int64_t n, int idx)
{
    if (n < 0 || n >= GFX_SPRITES)
        return;
    gfx_hold(L, idx, &p->sprite[n], &p->sprite_ref[n]);
}

void gfx_set_current_map(Process *p, lua_State *L, int idx)
{
    Userdata *u = idx ? ud_check(L, idx) : nullptr;
    bool is_map = u && (u->type & UD_TYPE_MASK) == UD_I16;
    gfx_hold(L, is_map ? idx : 0, &p->cur_map, &p->cur_map_ref);
}

uint8_t getpixel(const Userdata *bitmap, int64_t x, int64_t y)
{
    if (!bitmap || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
        return 0;
    return ud_data(bitmap)[y * bitmap->width + x];
}

// --- drawing context ---------------------------------------------------

static void load_bitmap(Process *p, Userdata *u, GfxCtx *c)
{
    c->p = p;
    c->pix = ud_data(u);
    c->w = u->width;
    c->h = u->height;
    c->cx0 = std::max(p->clip_x0, 0);
    c->cy0 = std::max(p->clip_y0, 0);
    c->cx1 = std::min(p->clip_x1, u->width);
    c->cy1 = std::min(p->clip_y1, u->height);
    get_masks_shape(c);
}

bool gfx_begin(Process *p, GfxCtx *c)
{
    Userdata *t = gfx_target(p);
    if (!t)
        return false;
    gfx_refresh_clip(p);
    load_bitmap(p, t, c);
    return true;
}

void gfx_begin_bitmap(Process *p, Userdata *bitmap, GfxCtx *c)
{
    load_bitmap(p, bitmap, c);
}

void get_masks_shape(GfxCtx *c)
{
    Process *p = c->p;
    const uint8_t *regs = page_base(p, GFX_FILL >> 12) + (GFX_FILL & 0xFFF);
    memcpy(c->fill, regs, 8);
    c->smask = regs[GFX_SRC_MASK - GFX_FILL];
    c->wmask = regs[GFX_WRITE_MASK - GFX_FILL];
    c->stmask = regs[GFX_SPR_TARGET_MASK - GFX_FILL];
    c->tmask = regs[GFX_TARGET_MASK - GFX_FILL];
    c->invert = p->invert != 0;
    // Row shortcuts look table entries up once per run; that is only the
    // same as looking them up per pixel when the pixels written are not
    // themselves table entries.
    uintptr_t a = (uintptr_t)c->pix;
    uintptr_t b = a + (uintptr_t)(c->w * c->h);
    c->fast = true;
    for (int k = 0; k < 4; k++) {
        c->tab[k] = page_base(p, GFX_COLTAB_PAGE + k);
        uintptr_t t = (uintptr_t)c->tab[k];
        if (t < b && a < t + RAM_PAGE_SIZE)
            c->fast = false;
    }
}

// --- colour argument and fill pattern ------------------------------------

void fillp_16(Process *p, uint32_t pattern)
{
    for (int n = 0; n < 4; n++) {
        unsigned nib = (pattern >> (12 - 4 * n)) & 15;
        unsigned rev = ((nib & 1) << 3) | ((nib & 2) << 1) | ((nib & 4) >> 1) | ((nib & 8) >> 3);
        uint8_t row = (uint8_t)(rev | (rev << 4));
        ram_store<uint8_t>(p, GFX_FILL + n, row);
        ram_store<uint8_t>(p, GFX_FILL + n + 4, row);
    }
}

void set_colp(Process *p, int64_t v)
{
    ram_store<uint16_t>(p, GFX_PEN, (uint16_t)v);
    if (v & ((int64_t)1 << 32))
        fillp_16(p, (uint32_t)(v >> 16) & 0xFFFF);
    if (v & ((int64_t)1 << 35))
        p->invert = 1;
}

int pen_colour(Process *p)
{
    return (int16_t)ram_load<uint16_t>(p, GFX_PEN);
}

int colp(lua_State *L, int idx)
{
    if (lua_type(L, idx) == LUA_TNUMBER)
        set_colp(cproc, k64_intp(L, idx, 0));
    return pen_colour(cproc);
}

// --- palettes -------------------------------------------------------------

static uint32_t row_address(int64_t table, int64_t row)
{
    return GFX_COLTAB + (uint32_t)(table & 3) * 0x1000 + (uint32_t)(row & 63) * 64;
}

void set_palette_entry(Process *p, int64_t index, int64_t value, int64_t mode)
{
    switch (mode & 63) {
    case 0:
        k64_memset_proc(p, row_address((mode | index) >> 6, index), (uint8_t)(value | 0xC0), 64);
        break;
    case 1:
        ram_store<uint8_t>(p, GFX_DISPLAY_PAL + (uint32_t)(index & 63), (uint8_t)(value & 63));
        break;
    case 2:
        ram_store<uint32_t>(p, GFX_RGB_PAL + (uint32_t)(index & 255) * 4, (uint32_t)value);
        break;
    default:
        break;
    }
}

int64_t gfx_pal_reset(Process *p, int64_t r)
{
    int64_t cost = 0;
    if (r == -1) {
        // the process's own bytes, whatever page 5 is mapped onto
        uint8_t *own = ram_own_page(p, GFX_SCANLINE_SEL >> 12);
        memset(own + (GFX_SCANLINE_SEL & 0xFFF), 0, GFX_SCANLINE_SEL_END - GFX_SCANLINE_SEL);
    }
    if (r == -1 || r == 0) {
        for (int k = 0; k < 4; k++) {
            uint32_t pg = GFX_COLTAB_PAGE + k;
            if (!(p->page_flags[pg] & GFX_PAGE_MODIFIED))
                continue;
            memcpy(page_base(p, pg), gfx_defaults.coltabs + k * 4096, 4096);
            p->page_flags[pg] &= (uint8_t)~GFX_PAGE_MODIFIED;
            cost += 8;
        }
    }
    if (r == -1 || r == 1) {
        for (uint32_t i = 0; i < 64; i++)
            ram_store<uint8_t>(p, GFX_DISPLAY_PAL + i, gfx_defaults.display_pal[i]);
        cost += 1;
    }
    if (r == 2) {
        for (uint32_t i = 0; i < 256; i++)
            ram_store<uint32_t>(p, GFX_RGB_PAL + i * 4, gfx_defaults.rgb_pal[i]);
        cost += 1;
    }
    return cost;
}

void gfx_palt_bits(Process *p, uint64_t bits)
{
    uint8_t *t = page_base(p, GFX_COLTAB_PAGE);
    for (int i = 0; i < 64; i++) {
        uint8_t *row = t + i * 64;
        if ((bits >> i) & 1) {
            for (int d = 0; d < 64; d++)
                row[d] = (uint8_t)d;
        } else {
            memset(row, i | 0xC0, 64);
        }
    }
    p->page_flags[GFX_COLTAB_PAGE] = RAM_FLAGS_WRITTEN;
}

void gfx_palt_one(Process *p, int64_t col, bool transparent)
{
    if (!transparent) {
        k64_memset_proc(p, row_address(col >> 6, col), (uint8_t)(col | 0xC0), 64);
        return;
    }
    uint32_t pg = GFX_COLTAB_PAGE + (uint32_t)((col >> 6) & 3);
    uint8_t *row = page_base(p, pg) + (col & 63) * 64;
    for (int d = 0; d < 64; d++)
        row[d] = (uint8_t)((col & 0xC0) | d);
    p->page_flags[pg] = RAM_FLAGS_WRITTEN;
}

// --- coordinates ----------------------------------------------------------

int32_t gfx_camera_x(Process *p)
{
    return (int32_t)ram_load<uint32_t>(p, GFX_CAMERA_X);
}

int32_t gfx_camera_y(Process *p)
{
    return (int32_t)ram_load<uint32_t>(p, GFX_CAMERA_Y);
}

int64_t gfx_sat32(int64_t v)
{
    return std::clamp<int64_t>(v, INT32_MIN, INT32_MAX);
}

int64_t gfx_coord(int64_t v, int32_t camera)
{
    // pulled in first so that the subtraction cannot overflow
    v = std::clamp<int64_t>(v, -((int64_t)1 << 40), (int64_t)1 << 40);
    return gfx_sat32(v - camera);
}
