// Boot timing and the animated boot screen, drawn by a private drawing
// record into its own video memory while the system software starts.
#include "kernel/boot.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "gfx/draw_state.h"
#include "gfx/print.h"
#include "host/clock.h"
#include "kernel/kernel.h"
#include "memory/ram.h"
#include "process/process.h"
#include "userdata/userdata.h"

static const int BOOT_W = 480, BOOT_H = 270;
static const uint32_t BOOT_VIDEO_ADDR = 0x10000;

// The line under the title; exactly 43 characters.
const char boot_notice_text[] = "(c) 2026 the Kestrane developers - have fun";
static_assert(sizeof boot_notice_text == 44, "the notice line is 43 characters");

static Process *boot_proc;
// header and pixels of boot_back in one block, 8-byte aligned
static std::vector<uint64_t> boot_block;
static Userdata *boot_back;

void boot_init() {
    app.boot_start_frame = (uint64_t)-1;
}

int64_t boot_get_time() {
    if (app.boot_start_frame == (uint64_t)-1) {
        app.boot_start_frame = app.frame_count;
        return 0;
    }
    return (int64_t)((double)(app.frame_count - app.boot_start_frame) * 16.6);
}

// Once per program run: the record, its bitmap mapped as video memory, an
// identity display palette and the system colours.
static bool init_boot() {
    boot_proc = print_new_kernel_record();
    if (!boot_proc) return false;
    size_t pixels = (size_t)BOOT_W * BOOT_H;
    boot_block.assign(sizeof(Userdata) / 8 + (pixels + 7) / 8, 0);
    boot_back = (Userdata *)boot_block.data();
    boot_back->type = UD_U8;
    boot_back->dims = 2;
    boot_back->width = BOOT_W;
    boot_back->height = BOOT_H;
    uint8_t *px = ud_data(boot_back);
    for (size_t off = 0; off < pixels; off += RAM_PAGE_SIZE) {
        size_t n = pixels - off < (size_t)RAM_PAGE_SIZE ? pixels - off : (size_t)RAM_PAGE_SIZE;
        ram_map_kernel_page(boot_proc, (BOOT_VIDEO_ADDR + (uint32_t)off) >> 12, px + off, (int32_t)n);
    }
    for (uint32_t i = 0; i < 64; i++) {
        ram_store<uint8_t>(boot_proc, GFX_DISPLAY_PAL + i, (uint8_t)i);
        ram_store<uint32_t>(boot_proc, GFX_RGB_PAL + 4 * i, system_palette[i]);
    }
    boot_proc->draw_target = boot_back;
    return true;
}

static void fill(int c) {
    memset(ud_data(boot_back), c, (size_t)BOOT_W * BOOT_H);
}

static void print_line(const char *text, int colour) {
    print_v7scii(boot_back, text, strlen(text), 0, colour);
}

static double ease(double x) {
    if (x < 0) return 0;
    if (x >= 1) return 1;
    if (x < 0.5) return 2 * x * x;
    if (x > 0.5) return 1 - 2 * (1 - x) * (1 - x);
    return x;
}

// A line stepped in 16.16 fixed point, one pixel per step along the longer
// axis; pixel k takes its colour from its position, k and the offset.
static void boot_line(int x0, int y0, int x1, int y1, int offset) {
    int dx = x1 - x0, dy = y1 - y0;
    int steps = (dx < 0 ? -dx : dx) > (dy < 0 ? -dy : dy) ? (dx < 0 ? -dx : dx) : (dy < 0 ? -dy : dy);
    int64_t fx = (int64_t)x0 << 16, fy = (int64_t)y0 << 16;
    int64_t sx = steps ? ((int64_t)dx << 16) / steps : 0;
    int64_t sy = steps ? ((int64_t)dy << 16) / steps : 0;
    uint8_t *px = ud_data(boot_back);
    for (int k = 0; k <= steps; k++, fx += sx, fy += sy) {
        int x = (int)(fx >> 16), y = (int)(fy >> 16);
        if (x < 0 || y < 0 || x >= BOOT_W || y >= BOOT_H) continue;
        int v = (y >> 5) + (x >> 5) + k % 3 + offset;
        px[y * BOOT_W + x] = (uint8_t)(app.boot_alt_colours ? v % 3 + 28 : v % 12 + 8);
    }
}

// The part between fractions a and b (0..1) of the segment (x0,y0)-(x1,y1).
static void segment_part(int x0, int y0, int x1, int y1, double a, double b, int offset) {
    if (a < 0) a = 0;
    if (b > 1) b = 1;
    if (a >= b) return;
    boot_line(x0 + (int)((x1 - x0) * a), y0 + (int)((y1 - y0) * a),
              x0 + (int)((x1 - x0) * b), y0 + (int)((y1 - y0) * b), offset);
}

// A two-segment path through a corner; fractions 0-0.5 run along the first
// segment and 0.5-1 along the second.
static void path_part(int ax, int ay, int cx, int cy, int bx, int by, double start, double end,
                      int offset) {
    segment_part(ax, ay, cx, cy, 2 * start, 2 * end, offset);
    segment_part(cx, cy, bx, by, 2 * start - 1, 2 * end - 1, offset);
}

static void draw_frames(double s) {
    double start = ease(s - 0.5), end = ease(s);
    if (!(start < 1 && end > 0)) return;
    for (int i = 0; i < 3; i++) {
        int x0 = 3 * i, y0 = 3 * i, x1 = BOOT_W - 1 - 3 * i, y1 = BOOT_H - 1 - 3 * i;
        path_part(x0, y0, x1, y0, x1, y1, start, end, i);
        path_part(x0, y0, x0, y1, x1, y1, start, end, i + 5);
    }
}

static void status_line(char *out, size_t size) {
    int64_t host_t = get_ticks();
    const char *dots = "..";
    if (host_t > 7000) dots = ".....";
    else if (host_t > 4000) dots = "....";
    else if (app.boot_finished && !app.boot_screen_released) dots = "...";
    snprintf(out, size, "booting%s\n", dots);
    for (int id = 1; id <= 3; id++) {
        Process *p = get_process(id);
        if (p && (p->state == PSTATE_FINISHED || p->state == PSTATE_CRASHED))
            snprintf(out, size, "[* system error %d:%lld **]\n", id, (long long)p->time_frames);
    }
}

static void draw_screen() {
    ram_store<uint32_t>(boot_proc, GFX_CURSOR_X, 35);
    ram_store<uint32_t>(boot_proc, GFX_CURSOR_Y, 200);
    ram_store<uint32_t>(boot_proc, PRINT_HOME_X, 35);
    gfx_set_clip_regs(boot_proc, 0, 0, BOOT_W, BOOT_H);

    Process *root = get_process(1);
    uint8_t err = root ? ram_load<uint8_t>(root, 0) : 0;
    if (err) {
        fill(1);
        char text[64];
        snprintf(text, sizeof text, "** system error %d **\n", err);
        print_line(text, 14);
        return;
    }
    double s = 2.0 * ((double)boot_get_time() / 1000.0) - 1.0;
    fill(0);
    draw_frames(s);
    if (s > 0.7) print_line("\6:3f7f5077057f7e00 Kestrane Workstation OS 0.3.0c", 7);
    if (s > 1.0) print_line(boot_notice_text, 6);
    if (s > 1.2) {
        char text[64];
        status_line(text, sizeof text);
        print_line(text, 14);
    }
}

Process *draw_boot() {
    if (!boot_proc && !init_boot()) return nullptr;
    Process *prev = cproc;
    cproc = boot_proc;
    draw_screen();
    cproc = prev;
    return boot_proc;
}
