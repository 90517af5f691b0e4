// The print context shared by the text interpreter (print.cpp) and the
// glyph rasteriser (print_glyph.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/draw_state.h"

// Glyph styles.
enum : uint32_t {
    PSTYLE_WIDE = 1,
    PSTYLE_TALL = 2,
    PSTYLE_STRIPES = 4,
    PSTYLE_PINBALL = 8,   // wide and tall together
    PSTYLE_INVERT = 16,
    PSTYLE_MARGIN = 32,   // glyph one pixel right and down in a cell one pixel larger
    PSTYLE_SOLID = 64,    // cell filled with the background colour first
    PSTYLE_UNDERLINE = 128,
};

// Metrics of the font in use, with the register overrides applied.
struct PrintFont {
    uint32_t base;       // address of the font block
    int width;           // advance of bytes 16-127
    int wide_width;      // advance of bytes 128-255
    int height;          // line height
    int x_offset, y_offset;
    int flags;
    int tab;             // tab width in pixels; 0 = 3 x width
};

struct PrintCtx {
    Process *p;
    GfxCtx g;
    Userdata *target;
    int32_t cam_x, cam_y;

    // The text is read in place; the appended newline is a virtual byte at
    // index len. Reads past the end give 0 and do not move the position.
    const uint8_t *text;
    size_t len;
    size_t end;          // len, or len + 1 with the appended newline
    size_t pos;

    PrintFont font;
    int tab_setting;     // "6 s": tab width in pixels, 0 = none
    int64_t x, y, home_x;
    int64_t saved_x, saved_y;
    int64_t wrap_margin;
    bool wrap;
    int fg, bg;
    uint32_t style;
    int outline_colour;      // -1: the foreground colour
    bool outline_only;
    uint32_t outline_mask;   // bit 3 * dy + dx: the glyph shifted by (dx - 1, dy - 1)
    int64_t line_height;     // tallest glyph of the line, 0 = none yet
    int64_t last_advance;
    int disp_x, disp_y;      // displacement of the next glyph (byte 11)
    int delay;               // per-character delay: stop after the next glyph
    bool stop;
    int64_t max_x, max_y;
    int64_t cycles;
};

// Draws one glyph (8 rows of one byte, bit 0 leftmost) at the cursor and
// advances it: wrapping, styles, background, outline, underline, charge.
// adv and height are the unscaled advance and cell height.
void print_glyph(PrintCtx *c, uint64_t rows, int adv, int height, bool margin, bool raise);
// Newline: cursor x := home x, cursor y += the tallest glyph of the line
// (the character height if none).
void print_newline(PrintCtx *c);
