// Shape primitives: spans, lines, rectangles, ovals and rounded rectangles
// drawn with the pen into a drawing context (gfx/draw_state.h). Coordinates
// are bitmap coordinates (camera already subtracted) and may lie anywhere
// within a few times the 32-bit range; everything is clipped to the
// context's clip rectangle. Each returns its CPU cost.
#pragma once
#include <cstdint>

#include "gfx/draw_state.h"

// Pixels x0..x1 (x0 <= x1) of row y.
int64_t draw_hline(const GfxCtx *c, int64_t x0, int64_t x1, int64_t y, int col);
// The pixels of row y inside the clip rectangle but outside [xa, xb] (either order).
int64_t draw_hline_inv(const GfxCtx *c, int64_t xa, int64_t xb, int64_t y, int col);
// Corners in either order, inclusive.
int64_t rectfill(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col);
// Everything inside the clip rectangle but outside the box (either order).
int64_t rectfill_outside(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col);
// Every clipped pixel of the box := byte; returns the pixel count.
int64_t rectfill_raw(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint8_t byte);
// 16.16 walk; returns the number of pixels plotted.
int64_t draw_line(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col);

// The 16.16 walk of a line: step k (kf <= k <= kl) lands on
// ((X + k * stx) >> 16, (Y + k * sty) >> 16); n is the step count. The end
// points must already be ordered (y0 <= y1). False when no step lies inside
// the clip rectangle. draw_line and the textured lines walk with it.
struct LineWalk {
    int64_t X, Y, stx, sty, kf, kl, n;
};
bool line_walk(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, LineWalk *lw);
int64_t draw_rect(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col);

int64_t draw_oval(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col);
int64_t draw_filloval(const GfxCtx *c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int col);
// One quadrant walked and mirrored; ex and ey set the right and lower
// halves apart from the left and upper ones.
int64_t draw_ellipse_1(const GfxCtx *c, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ex,
                       int64_t ey, int col);
int64_t fill_ellipse_1(const GfxCtx *c, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ex,
                       int64_t ey, int col);
// Top-left corner, size and corner radius.
int64_t draw_rrect(const GfxCtx *c, int64_t x, int64_t y, int64_t w, int64_t h, int64_t r, int col);
int64_t draw_rrectfill(const GfxCtx *c, int64_t x, int64_t y, int64_t w, int64_t h, int64_t r, int col);

// Ovals are walked point by point while the walk is short next to the clip
// rectangle; larger ones are drawn row by row, each row of the clip worked
// out directly from the walk's own decision rule, which gives the same
// pixels with work proportional to the clip rectangle whatever the radius.
// Tests may force either way.
enum GfxEllipseMethod { GFX_ELLIPSE_AUTO, GFX_ELLIPSE_WALK, GFX_ELLIPSE_ROWS };
extern GfxEllipseMethod gfx_ellipse_method;
