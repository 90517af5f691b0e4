// Text printing: the print context loaded from the registers, the
// interpreter of control codes and special commands, and _print_v7scii.
#include "gfx/print.h"

#include <algorithm>
#include <cstring>

#include "gfx/print_internal.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "pdisk/cart.h"
#include "process/api.h"
#include "process/slice.h"

// PNG cartridges print their label text through this module. The hook is
// set here, beside the Lua function that the kernel API registers, so that
// it is linked in wherever printing is.
[[maybe_unused]] static const bool label_printer_installed =
    (cart_label_text_printer = print_label_text, true);

// --- reading the text ----------------------------------------------------------

static int byte_at(const PrintCtx *c, size_t i)
{
    return i < c->len ? c->text[i] : '\n';
}

// The next byte, or 0 at the end (where the position stays), so that a
// control sequence cut short reads zeros and never runs past the text.
static int next_byte(PrintCtx *c)
{
    if (c->pos >= c->end)
        return 0;
    return byte_at(c, c->pos++);
}

// A digit argument in base 36: "0"-"9" are 0-9, "a"-"z" (or "A"-"Z") 10-35,
// anything else 0.
static int digit_value(int b)
{
    if (b >= '0' && b <= '9')
        return b - '0';
    if (b >= 'a' && b <= 'z')
        return b - 'a' + 10;
    if (b >= 'A' && b <= 'Z')
        return b - 'A' + 10;
    return 0;
}

static int next_digit(PrintCtx *c)
{
    return digit_value(next_byte(c));
}

static int next_hex(PrintCtx *c, int digits)
{
    int v = 0;
    for (int i = 0; i < digits; i++)
        v = (v << 4) | (digit_value(next_byte(c)) & 15);
    return v;
}

// --- fonts ------------------------------------------------------------------

static uint8_t font_byte(const PrintCtx *c, uint32_t offset)
{
    return ram_load<uint8_t>(c->p, c->font.base + offset);
}

// Loads the font whose block starts at font_sel << 8, then the register
// overrides (a nibble of 0 keeps the font's value).
static void load_font(PrintCtx *c, uint8_t font_sel)
{
    PrintFont *f = &c->font;
    f->base = (uint32_t)font_sel << 8;
    f->width = font_byte(c, FONT_WIDTH);
    f->wide_width = font_byte(c, FONT_WIDE_WIDTH);
    f->height = font_byte(c, FONT_HEIGHT);
    if (f->width == 0 && f->wide_width == 0 && f->height == 0)
        f->width = f->wide_width = f->height = 8;
    f->x_offset = font_byte(c, FONT_X_OFFSET);
    f->y_offset = font_byte(c, FONT_Y_OFFSET);
    f->flags = font_byte(c, FONT_FLAGS);
    f->tab = font_byte(c, FONT_TAB);

    Process *p = c->p;
    uint8_t size = ram_load<uint8_t>(p, PRINT_SIZE);
    uint8_t wide_tab = ram_load<uint8_t>(p, PRINT_WIDE_TAB);
    uint8_t offsets = ram_load<uint8_t>(p, PRINT_OFFSETS);
    if (size & 15)
        f->width = size & 15;
    if (size >> 4)
        f->height = size >> 4;
    if (wide_tab & 15)
        f->wide_width = wide_tab & 15;
    if (wide_tab >> 4)
        f->tab = ((wide_tab >> 4) + 1) * f->width;
    if (offsets & 15)
        f->x_offset = offsets & 15;
    if (offsets >> 4)
        f->y_offset = offsets >> 4;
}

// reset_print_context: style and font from the registers.
static void reset_print_context(PrintCtx *c)
{
    uint8_t st = ram_load<uint8_t>(c->p, PRINT_STYLE);
    uint8_t font_sel = ram_load<uint8_t>(c->p, PRINT_FONT);
    c->style = PSTYLE_MARGIN;
    if (st & 1) {
        c->style = 0;
        if (st & 2)
            c->style |= PSTYLE_MARGIN;
        if (st & 4)
            c->style |= PSTYLE_WIDE;
        if (st & 8)
            c->style |= PSTYLE_TALL;
        if (st & 16)
            c->style |= PSTYLE_SOLID;
        if (st & 32)
            c->style |= PSTYLE_INVERT;
        if (st & 64)
            c->style |= PSTYLE_STRIPES;
        if (st & 128)
            font_sel = ram_load<uint8_t>(c->p, PRINT_ALT_FONT);
    }
    load_font(c, font_sel);
    c->tab_setting = 0;
    c->outline_colour = -1;
    c->outline_only = false;
    c->outline_mask = 0;
    c->line_height = 0;
    c->last_advance = 0;
    c->disp_x = c->disp_y = 0;
    c->delay = 0;
    c->stop = false;
}

// --- glyphs -------------------------------------------------------------------

// A glyph byte of the current font: its advance from the font (and width
// table), its 8 rows from the font block.
static void draw_character(PrintCtx *c, int ch)
{
    int adv = ch >= 128 ? c->font.wide_width : c->font.width;
    bool raise = false;
    // The width nibbles sit in the slots of the control-code glyphs; bytes
    // below 16 would read the header there.
    if ((c->font.flags & FONT_FLAG_ADJUST) && ch >= 16) {
        uint8_t b = font_byte(c, (uint32_t)ch >> 1);
        int nib = (ch & 1) ? b >> 4 : b & 15;
        adv += ((nib + 4) & 7) - 4;
        raise = nib & 8;
    }
    uint64_t rows = ram_load<uint64_t>(c->p, c->font.base + 8 * (uint32_t)ch);
    print_glyph(c, rows, adv, c->font.height, c->style & PSTYLE_MARGIN, raise);
    if (c->delay > 0)
        c->stop = true;
}

// An 8 x 8 glyph given in the text: 8 raw bytes, or 16 hex digits.
static void draw_inline_glyph(PrintCtx *c, bool hex, bool margin)
{
    uint64_t rows = 0;
    for (int r = 0; r < 8; r++)
        rows |= (uint64_t)(hex ? next_hex(c, 2) : next_byte(c)) << (8 * r);
    print_glyph(c, rows, 8, 8, margin, false);
    if (c->delay > 0)
        c->stop = true;
}

// --- memory commands -------------------------------------------------------------

// Copies text bytes [from, from + n) of the caller's text into memory.
static void poke_text(PrintCtx *c, uint32_t addr, size_t from, size_t n)
{
    for (size_t i = 0; i < n; i++)
        ram_store<uint8_t>(c->p, (uint32_t)(addr + i) & RAM_ADDR_MASK, c->text[from + i]);
}

// "!": the rest of the caller's text goes into memory and printing ends. The
// appended newline is not part of it: it would land one byte past what the
// program wrote.
static void command_poke_rest(PrintCtx *c)
{
    uint32_t addr = (uint32_t)next_hex(c, 4);
    size_t from = std::min(c->pos, c->len);
    poke_text(c, addr, from, c->len - from);
    c->pos = c->end;
    c->stop = true;
}

// "@": a counted run of the following bytes into memory; printing goes on.
static void command_poke_count(PrintCtx *c)
{
    uint32_t addr = (uint32_t)next_hex(c, 4);
    size_t n = (size_t)next_hex(c, 4);
    size_t from = std::min(c->pos, c->len);
    n = std::min(n, c->len - from);
    poke_text(c, addr, from, n);
    c->pos = from + n;
}

// --- special commands (after byte 6) ----------------------------------------------

static void set_style(PrintCtx *c, uint32_t bit, bool on)
{
    c->style = on ? (c->style | bit) : (c->style & ~bit);
}

static void command_clear(PrintCtx *c)
{
    int col = next_digit(c);
    Userdata *t = c->target;
    memset(ud_data(t), col, (size_t)ud_count(t));
    c->x = 0;
    c->y = 0;
    c->cycles += ud_count(t) / 64;
}

static void command_outline(PrintCtx *c)
{
    int first = next_byte(c);
    c->outline_only = first == '!';
    c->outline_colour = (first == '$' || first == '!') ? -1 : digit_value(first);
    int d1 = next_digit(c);
    int d2 = next_digit(c);
    c->outline_mask = (uint32_t)((d1 << 5) | d2) & 0x1FF;
}

static void special_command(PrintCtx *c)
{
    int cmd = next_byte(c);
    bool on = true;
    if (cmd == '-') {
        on = false;
        cmd = next_byte(c);
    }
    if (cmd >= '1' && cmd <= '9') {
        // a wait: the rest of the text is not printed
        c->stop = true;
        return;
    }
    switch (cmd) {
    case 'c': command_clear(c); break;
    case 'd': c->delay = next_digit(c); break;
    case 'g': c->x = c->saved_x; c->y = c->saved_y; break;
    case 'h': c->saved_x = c->x; c->saved_y = c->y; break;
    case 'j': {
        int a = next_digit(c);
        int b = next_digit(c);
        c->x = 4 * a;
        c->y = 4 * b;
        break;
    }
    case 'r': c->wrap = true; c->wrap_margin = 4 * next_digit(c); break;
    case 's': c->tab_setting = next_digit(c) * c->font.width; break;
    case 'x': c->font.width = next_digit(c); break;
    case 'y': c->font.height = next_digit(c); break;
    case 'w': set_style(c, PSTYLE_WIDE, on); break;
    case 't': set_style(c, PSTYLE_TALL, on); break;
    case '=': set_style(c, PSTYLE_STRIPES, on); break;
    case 'p': set_style(c, PSTYLE_PINBALL, on); break;
    case 'i': set_style(c, PSTYLE_INVERT, on); break;
    case 'b': set_style(c, PSTYLE_MARGIN, on); break;
    case '#': set_style(c, PSTYLE_SOLID, on); break;
    case 'u': set_style(c, PSTYLE_UNDERLINE, on); break;
    case '$': c->wrap = on; break;
    case '.': draw_inline_glyph(c, false, false); break;
    case ':': draw_inline_glyph(c, true, false); break;
    case ',': draw_inline_glyph(c, false, true); break;
    case ';': draw_inline_glyph(c, true, true); break;
    case '!': command_poke_rest(c); break;
    case '@': command_poke_count(c); break;
    case 'o':
        if (on)
            command_outline(c);
        else
            c->outline_mask = 0;
        break;
    default: break;
    }
}

// --- control codes ----------------------------------------------------------------

// Tab: the next multiple of the tab width after x, measured from home x
// when the font says so.
static void tab(PrintCtx *c)
{
    int64_t q = c->tab_setting;
    if (q <= 0)
        q = c->font.tab > 0 ? c->font.tab : 3 * (int64_t)c->font.width;
    if (q <= 0)
        q = 1;   // a zero-width font still moves on
    int64_t origin = (c->font.flags & FONT_FLAG_TAB_HOME) ? c->home_x : 0;
    int64_t rel = c->x - origin;
    int64_t k = rel >= 0 ? rel / q : -((-rel + q - 1) / q);   // floor
    c->x = origin + (k + 1) * q;
}

// vexa7_print_char: one byte, or one control sequence.
static void vexa7_print_char(PrintCtx *c)
{
    int b = next_byte(c);
    switch (b) {
    case 1: {
        int n = next_digit(c);
        if (c->pos >= c->end || byte_at(c, c->pos) == 0)
            break;
        int ch = next_byte(c);
        for (int i = 0; i < n && !c->stop; i++)
            draw_character(c, ch);
        break;
    }
    case 2: c->bg = next_digit(c) & 63; c->style |= PSTYLE_SOLID; break;
    case 3: c->x += next_digit(c) - 16; break;
    case 4: c->y += next_digit(c) - 16; break;
    case 5: {
        int dx = next_digit(c);
        int dy = next_digit(c);
        c->x += dx - 16;
        c->y += dy - 16;
        break;
    }
    case 6: special_command(c); break;
    case 8: c->x -= c->last_advance; break;
    case 9: tab(c); break;
    case 10: print_newline(c); break;
    case 11: {
        int d = next_digit(c);
        c->disp_x = (d & 3) - 2;
        c->disp_y = (d >> 2) - 8;
        break;
    }
    case 12:
        c->fg = next_digit(c) & 63;
        ram_store<uint16_t>(c->p, GFX_PEN, (uint16_t)c->fg);
        break;
    case 13: c->x = c->home_x; break;
    case 14: load_font(c, ram_load<uint8_t>(c->p, PRINT_ALT_FONT)); break;
    case 15: load_font(c, ram_load<uint8_t>(c->p, PRINT_FONT)); break;
    default: draw_character(c, b); break;
    }
}

// --- print_v7scii -------------------------------------------------------------------

static void store_cursor(Process *p, uint32_t addr, int64_t v)
{
    ram_store<uint32_t>(p, addr, (uint32_t)(int32_t)gfx_sat32(v));
}

static void run_text(PrintCtx *c)
{
    while (!c->stop && c->pos < c->end && byte_at(c, c->pos) != 0) {
        size_t start = c->pos;
        vexa7_print_char(c);
        c->cycles += std::max<int64_t>(1, (int64_t)(c->pos - start));
        c->max_x = std::max(c->max_x, c->x);
        c->max_y = std::max(c->max_y, c->y);
    }
}

PrintResult print_v7scii(Userdata *target, const char *text, size_t length, int options, int pen)
{
    Process *p = cproc;
    PrintResult res = {0, 0, 0};
    if (!p || !target || (target->type & UD_TYPE_MASK) != UD_U8)
        return res;
    // Any other bitmap than the draw target is clipped to itself.
    bool own = target == gfx_target(p);
    PrintCtx ctx;
    PrintCtx *c = &ctx;
    c->p = p;
    c->target = target;
    if (own) {
        gfx_begin(p, &c->g);
    } else {
        set_temporary_clipping(p, target);
        gfx_begin_bitmap(p, target, &c->g);
    }
    uint8_t opts = (uint8_t)(ram_load<uint8_t>(p, PRINT_OPTIONS) | options);
    c->text = (const uint8_t *)text;
    c->len = text ? length : 0;
    c->end = c->len + ((opts & PRINT_OPT_NO_NEWLINE) ? 0 : 1);
    c->pos = 0;
    reset_print_context(c);
    c->cam_x = gfx_camera_x(p);
    c->cam_y = gfx_camera_y(p);
    c->home_x = (int32_t)ram_load<uint32_t>(p, PRINT_HOME_X);
    c->x = (int32_t)ram_load<uint32_t>(p, GFX_CURSOR_X);
    c->y = (int32_t)ram_load<uint32_t>(p, GFX_CURSOR_Y);
    c->saved_x = c->x;
    c->saved_y = c->y;
    c->wrap_margin = (int64_t)c->cam_x + c->g.cx1;
    c->wrap = opts & PRINT_OPT_WRAP;
    c->fg = pen & 63;
    c->bg = (pen >> 8) & 63;
    c->max_x = c->x;
    c->max_y = c->y;
    c->cycles = 0;

    run_text(c);

    store_cursor(p, GFX_CURSOR_X, c->x);
    store_cursor(p, GFX_CURSOR_Y, c->y);
    if (!own)
        restore_after_temporary_clipping(p);
    res.max_x = c->max_x;
    res.max_y = c->max_y;
    res.cycles = c->cycles;
    return res;
}

// --- Lua ------------------------------------------------------------------------------

// _print_v7scii(text) and _print_v7scii(text, col) print at the cursor;
// _print_v7scii(text, x, y, col) moves the cursor first. Four arguments of
// which the last two are nil count as two.
int lua54__print_v7scii(lua_State *L)
{
    Process *p = cproc;
    Userdata *target = gfx_target(p);
    if (!target)
        return 0;
    int t = lua_type(L, 1);
    if (t != LUA_TSTRING && t != LUA_TNUMBER)
        return 0;
    int n = lua_gettop(L);
    bool at_xy = n == 3 || n >= 5 || (n == 4 && !(lua_isnil(L, 3) && lua_isnil(L, 4)));
    int64_t x = (int32_t)ram_load<uint32_t>(p, GFX_CURSOR_X);
    int64_t y = (int32_t)ram_load<uint32_t>(p, GFX_CURSOR_Y);
    int colour_arg = 2;
    if (at_xy) {
        if (lua_type(L, 2) == LUA_TNUMBER)
            x = gfx_sat32(k64_intp(L, 2, 0));
        if (lua_type(L, 3) == LUA_TNUMBER)
            y = gfx_sat32(k64_intp(L, 3, 0));
        store_cursor(p, GFX_CURSOR_X, x);
        store_cursor(p, GFX_CURSOR_Y, y);
        colour_arg = 4;
    }
    store_cursor(p, PRINT_HOME_X, x);
    int pen = colp(L, colour_arg);
    size_t len = 0;
    const char *text = lua_tolstring(L, 1, &len);
    PrintResult r = print_v7scii(target, text, len, 0, pen);
    spend_cpu(r.cycles);
    lua_pushinteger(L, r.max_x);
    lua_pushinteger(L, r.max_y);
    return 2;
}
