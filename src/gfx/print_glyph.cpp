// Glyph rasterising for text printing: the 8 rows of a glyph become the
// rows of its cell, scaled by the wide and tall styles, moved by the margin,
// inverted and outlined, then written through the pen.
#include <algorithm>
#include <array>
#include <bit>

#include "gfx/gfx.h"
#include "gfx/print_internal.h"

namespace {

// Cell rows are 64-bit masks in which bit x + 1 is cell column x, so that
// the outline can reach one column left of the cell. Glyph bits reach column
// 16 at most (8 doubled, plus the margin); only an inverted cell can be
// wider than a row holds, and it is cut to ROW_COLUMNS columns.
constexpr int ROW_COLUMNS = 62;
// A cell is at most 255 rows doubled plus the margin row; one more row
// above and below it carries the outline.
constexpr int MAX_CELL_ROWS = 2 * 255 + 1;

// A glyph row with every pixel doubled; with stripes only the right pixel
// of each pair.
constexpr std::array<uint16_t, 256> make_widened(bool stripes)
{
    std::array<uint16_t, 256> t{};
    for (int b = 0; b < 256; b++)
        for (int i = 0; i < 8; i++)
            if ((b >> i) & 1)
                t[b] |= (uint16_t)((stripes ? 2 : 3) << (2 * i));
    return t;
}
constexpr std::array<uint16_t, 256> widened = make_widened(false);
constexpr std::array<uint16_t, 256> widened_stripes = make_widened(true);

void draw_row(const GfxCtx *g, uint64_t bits, int64_t x_of_bit0, int64_t y, int col)
{
    if (!bits || y < g->cy0 || y >= g->cy1)
        return;
    while (bits) {
        putpixel(g, x_of_bit0 + std::countr_zero(bits), y, col);
        bits &= bits - 1;
    }
}

struct Cell {
    int64_t x, y;        // top-left pixel on the bitmap
    int64_t w, h;        // size, margin included
    int64_t rows;        // rows of the pattern: the cell, or the glyph where it is taller
    uint64_t pat[MAX_CELL_ROWS + 2];   // pat[r + 1] is cell row r
};

// The glyph's pixels in the cell, styles applied.
void build_pattern(const PrintCtx *c, Cell *cell, uint64_t glyph, int margin)
{
    bool wide = c->style & (PSTYLE_WIDE | PSTYLE_PINBALL);
    bool tall = c->style & (PSTYLE_TALL | PSTYLE_PINBALL);
    bool stripes = c->style & PSTYLE_STRIPES;
    cell->rows = std::max<int64_t>(cell->h, (tall ? 16 : 8) + margin);
    std::fill(cell->pat, cell->pat + cell->rows + 2, 0);
    for (int r = 0; r < 8; r++) {
        unsigned b = (unsigned)(glyph >> (8 * r)) & 0xFF;
        if (!b)
            continue;
        uint64_t bits = (uint64_t)(wide ? (stripes ? widened_stripes[b] : widened[b]) : b)
                        << (1 + margin);
        if (tall) {
            cell->pat[1 + margin + 2 * r] |= bits;
            if (!stripes)
                cell->pat[2 + margin + 2 * r] |= bits;
        } else {
            cell->pat[1 + margin + r] |= bits;
        }
    }
    if (c->style & PSTYLE_INVERT) {
        int64_t cols = std::min<int64_t>(cell->w, ROW_COLUMNS);
        uint64_t ones = (((uint64_t)1 << cols) - 1) << 1;
        for (int64_t r = 0; r < cell->h; r++)
            cell->pat[r + 1] ^= ones;
    }
}

// The union of the pattern shifted by every offset the mask selects, less
// the pattern itself.
void draw_outline(const PrintCtx *c, const Cell *cell, int col)
{
    uint32_t mask = c->outline_mask;
    for (int64_t i = 0; i < cell->rows + 2; i++) {
        uint64_t o = 0;
        for (int dy = 0; dy < 3; dy++) {
            int64_t src = i - (dy - 1);   // shifted down by dy - 1
            if (src < 0 || src > cell->rows + 1)
                continue;
            uint64_t g = cell->pat[src];
            if ((mask >> (3 * dy)) & 1)
                o |= g >> 1;
            if ((mask >> (3 * dy + 1)) & 1)
                o |= g;
            if ((mask >> (3 * dy + 2)) & 1)
                o |= g << 1;
        }
        draw_row(&c->g, o & ~cell->pat[i], cell->x - 1, cell->y + i - 1, col);
    }
}

bool cell_visible(const GfxCtx *g, const Cell *cell)
{
    return cell->x - 1 < g->cx1 && cell->x + ROW_COLUMNS >= g->cx0 && cell->y - 1 < g->cy1 &&
           cell->y + cell->rows >= g->cy0;
}

}  // namespace

void print_newline(PrintCtx *c)
{
    c->x = c->home_x;
    c->y += c->line_height > 0 ? c->line_height : c->font.height;
    c->line_height = 0;
}

void print_glyph(PrintCtx *c, uint64_t rows, int adv, int height, bool margin, bool raise)
{
    int xs = (c->style & (PSTYLE_WIDE | PSTYLE_PINBALL)) ? 2 : 1;
    int ys = (c->style & (PSTYLE_TALL | PSTYLE_PINBALL)) ? 2 : 1;
    int m = margin ? 1 : 0;
    int64_t step = (int64_t)adv * xs;
    if (c->wrap && c->wrap_margin - step < c->x)
        print_newline(c);

    Cell cell;
    cell.w = std::max<int64_t>(0, step) + m;
    cell.h = std::max<int64_t>(0, (int64_t)height * ys) + m;
    cell.x = c->x + c->font.x_offset - c->cam_x + c->disp_x;
    cell.y = c->y + c->font.y_offset - c->cam_y + c->disp_y - (raise ? 1 : 0);
    const GfxCtx *g = &c->g;
    int pen = c->fg | (c->bg << 8);

    if ((c->style & PSTYLE_SOLID) && cell.w > 0 && cell.h > 0)
        rectfill_raw(g, cell.x, cell.y, cell.x + cell.w - 1, cell.y + cell.h - 1, (uint8_t)c->bg);
    build_pattern(c, &cell, rows, m);
    bool visible = cell_visible(g, &cell);
    if (visible && (c->outline_mask & 0x1FF)) {
        int oc = c->outline_colour < 0 ? c->fg : c->outline_colour;
        draw_outline(c, &cell, oc | (c->bg << 8));
    }
    if ((c->style & PSTYLE_UNDERLINE) && cell.w > m)
        draw_hline(g, cell.x + m, cell.x + cell.w - 1, cell.y + cell.h - 1, pen);
    if (visible && !c->outline_only)
        for (int64_t i = 1; i <= cell.rows; i++)
            draw_row(g, cell.pat[i], cell.x - 1, cell.y + i - 1, pen);

    c->cycles += cell.w * cell.h / 3;
    c->x += step;
    c->last_advance = step;
    c->line_height = std::max(c->line_height, (int64_t)height * ys);
    c->disp_x = c->disp_y = 0;
}
