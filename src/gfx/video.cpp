// Video output: once per frame, the video process's display (480 x 270
// colour indices at 0x10000) becomes a frame of 0x00RRGGBB values through
// its display palette, RGB palette and per-scanline palette selects, and is
// enlarged by the video mode.
#include "gfx/video.h"

#include <cstring>

#include "host/log.h"
#include "kernel/boot.h"
#include "kernel/kernel.h"
#include "memory/ram.h"
#include "process/process.h"

static uint32_t frame[VIDEO_W * VIDEO_H];
static VideoPalette out_palette;

const VideoPalette *video_output_palette() { return &out_palette; }

// The process whose display is shown this frame; *boot is set when the
// boot screen shows instead. Null with *boot clear: no frame.
Process *video_source(bool *boot) {
    Process *wm = get_process(3);
    *boot = false;
    if (config.vproc > 3) {
        if (wm) app.boot_finished = 1;
        return wm;
    }
    if (!app.boot_finished) {
        int64_t t = boot_get_time();   // the boot clock starts at the first frame
        if (wm && t > 2199) {
            vemo_debug("@@ finished_boot_sequence\n");
            app.boot_finished = 1;
        }
    }
    // the boot frame stays until the system software releases it
    if (wm && app.boot_finished && app.boot_screen_released) return wm;
    *boot = true;
    return nullptr;
}

static void build_palette(Process *src) {
    for (int i = 0; i < 256; i++) {
        uint8_t slot = (uint8_t)((i & 0xC0) | (peek_proc(src, 0x5480 + (i & 63)) & 63));
        uint32_t rgb = peek4_proc(src, 0x5000 + 4u * slot);
        if (app.exit_requested) rgb = (rgb >> 1) & 0x7F7F7F7F;
        out_palette.rgb[i] = rgb;
    }
    for (int y = 0; y < VIDEO_H; y++)
        out_palette.select[y] = (uint8_t)((peek_proc(src, 0x5400 + (y >> 2)) >> (2 * (y & 3))) & 3);
}

// One row of video memory through the source's pages.
static void build_row(Process *src, int y) {
    const uint32_t *pal = out_palette.rgb + out_palette.select[y] * 64;
    uint32_t *out = frame + y * VIDEO_W;
    uint32_t a = 0x10000 + (uint32_t)y * VIDEO_W;
    int x = 0;
    while (x < VIDEO_W) {
        uint8_t *bytes;
        uint32_t n = ram_run(src, a + (uint32_t)x, &bytes);
        if (n > (uint32_t)(VIDEO_W - x)) n = (uint32_t)(VIDEO_W - x);
        for (uint32_t i = 0; i < n; i++) out[x + i] = pal[bytes[i] & 63];
        x += (int)n;
    }
}

// Enlarges the top-left (w / k) x (h / k) block by k in place, from the
// bottom-right corner backwards so that sources are read before overwritten.
static void scale_frame(int k) {
    for (int y = VIDEO_H - 1; y >= 0; y--) {
        const uint32_t *from = frame + (y / k) * VIDEO_W;
        uint32_t *to = frame + y * VIDEO_W;
        for (int x = VIDEO_W - 1; x >= 0; x--) to[x] = from[x / k];
        out_palette.select[y] = out_palette.select[y / k];
    }
}

uint32_t *generate_video_out(int *width, int *height) {
    bool boot;
    Process *src = video_source(&boot);
    if (boot) src = draw_boot();
    if (!src) return nullptr;
    if (peek_proc(src, 0x547F) & 2) return nullptr;   // frame held
    build_palette(src);
    for (int y = 0; y < VIDEO_H; y++) build_row(src, y);
    // capture would take the frame and palette here, before the mode applies
    uint8_t mode = peek_proc(src, 0x547C);
    if (mode == 3) scale_frame(2);
    else if (mode == 4) scale_frame(3);
    *width = VIDEO_W;
    *height = VIDEO_H;
    return frame;
}
