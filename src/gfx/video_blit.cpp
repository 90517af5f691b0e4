// _blit_process_video: the window manager copies another process's display
// into its own draw target, optionally only the pixels that pass an
// opacity mask.
#include <algorithm>
#include <cstring>

#include "gfx/video.h"

#include "gfx/draw_state.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/api.h"
#include "process/process.h"
#include "process/slice.h"

void alpha_bits_memcpy(uint8_t *dst, const uint8_t *src, int64_t n, uint8_t mask) {
    uint64_t wide = 0x0101010101010101ull * mask;
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t group;
        memcpy(&group, src + i, 8);
        if (!(group & wide)) continue;   // nothing in these 8 bytes passes
        for (int k = 0; k < 8; k++)
            if (src[i + k] & mask) dst[i + k] = src[i + k];
    }
    for (; i < n; i++)
        if (src[i] & mask) dst[i] = src[i];
}

// One row of n bytes of p's memory from address a into dst, following p's
// pages; bytes beyond a page's backed length show as colour 8.
static void copy_row_from_ram(Process *p, uint32_t a, uint8_t *dst, int64_t n, uint8_t mask) {
    while (n > 0) {
        uint32_t pg = (a >> 12) & RAM_PAGE_MASK;
        uint32_t o = a & RAM_PAGE_MASK;
        int64_t chunk = std::min<int64_t>(n, 4096 - o);
        int64_t backed = std::clamp<int64_t>(p->page_len[pg] - (int64_t)o, 0, chunk);
        const uint8_t *src = p->read_ptr[pg] + o;
        if (backed > 0) {
            if (mask) alpha_bits_memcpy(dst, src, backed, mask);
            else memmove(dst, src, (size_t)backed);   // the source may be the caller
        }
        if (chunk > backed && (!mask || (8 & mask))) memset(dst + backed, 8, (size_t)(chunk - backed));
        dst += chunk;
        a += (uint32_t)chunk;
        n -= chunk;
    }
}

void blit_from_ram(Process *src, uint32_t address, Userdata *target, int64_t sx, int64_t sy, int64_t dx,
                   int64_t dy, int64_t w, int64_t h, uint8_t mask) {
    int64_t pitch = (int16_t)peek2_proc(src, GFX_DISPLAY_W);
    uint8_t *pix = ud_data(target);
    for (int64_t row = 0; row < h; row++) {
        uint32_t a = (uint32_t)(address + (sy + row) * pitch + sx);
        copy_row_from_ram(src, a, pix + (dy + row) * target->width + dx, w, mask);
    }
}

// Cuts (d, len) to [lo, hi); returns how far the start moved.
static int64_t clip_span(int64_t *d, int64_t *len, int64_t lo, int64_t hi) {
    int64_t shift = 0;
    if (*d < lo) {
        shift = lo - *d;
        *len -= shift;
        *d = lo;
    }
    if (*d + *len > hi) *len = hi - *d;
    return shift;
}

int lua54__blit_process_video(lua_State *L) {
    Process *src = get_process(k64_intp(L, 1, 0));
    Process *p = cproc;
    Userdata *target = gfx_target(p);
    if (!src || src->state == PSTATE_CRASHED || !target || (peek_proc(src, GFX_DISPLAY_FLAGS) & 2)) {
        lua_pushboolean(L, 1);
        return 1;
    }
    int64_t sx = k64_intp(L, 2, 0), sy = k64_intp(L, 3, 0);
    int64_t w = k64_intp(L, 4, (int16_t)peek2_proc(src, GFX_DISPLAY_W));
    int64_t h = k64_intp(L, 5, (int16_t)peek2_proc(src, GFX_DISPLAY_H));
    int64_t dx = k64_intp(L, 6, 0), dy = k64_intp(L, 7, 0);
    bool full_screen = w == VIDEO_W && h == VIDEO_H;
    // keep every quantity far from the 64-bit limits before clipping
    sx = std::clamp<int64_t>(sx, -0x1000000, 0x1000000);
    sy = std::clamp<int64_t>(sy, -0x1000000, 0x1000000);
    dx = std::clamp<int64_t>(dx, -0x1000000, 0x1000000);
    dy = std::clamp<int64_t>(dy, -0x1000000, 0x1000000);
    w = std::clamp<int64_t>(w, 0, 0x10000);
    h = std::clamp<int64_t>(h, 0, 0x10000);
    gfx_refresh_clip(p);
    int64_t x0 = std::max<int64_t>(p->clip_x0, 0), y0 = std::max<int64_t>(p->clip_y0, 0);
    int64_t x1 = std::min<int64_t>(p->clip_x1, target->width), y1 = std::min<int64_t>(p->clip_y1, target->height);
    sx += clip_span(&dx, &w, x0, x1);
    sy += clip_span(&dy, &h, y0, y1);
    if (w <= 0 || h <= 0) return 0;
    uint8_t mask = peek_proc(src, GFX_BLIT_MASK);
    blit_from_ram(src, GFX_VIDEO, target, sx, sy, dx, dy, w, h, mask);
    int64_t cost = w * h / 4;
    if (full_screen && !mask) cost = 0;
    else if (mask || full_screen) cost /= 8;
    else cost /= 64;
    spend_cpu(cost);
    return 0;
}
