// The mouse in picture coordinates, the locked mouse with its virtual cursor
// and motion accumulators, and warping.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/window.h"
#include "host/input.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "process/api.h"

static bool view_has_picture(const InputView &v) {
    return v.win_w > 0 && v.win_h > 0 && v.dest.w > 0 && v.dest.h > 0 && v.base_w > 0 && v.base_h > 0;
}

// Moves the host mouse; without a window only the remembered place moves.
static void warp_host(int x, int y) {
    input.host_x = x;
    input.host_y = y;
    if (input.view.window) SDL_WarpMouseInWindow(input.view.window, x, y);
}

static void warp_to_centre() {
    input.centre_x = input.view.win_w / 2;
    input.centre_y = input.view.win_h / 2;
    warp_host(input.centre_x, input.centre_y);
}

// Moves the host mouse onto display pixel (x, y) through the destination
// rectangle. It goes to the middle of the pixel that the locked cursor would
// report (x rounded): a pixel's left edge can map back to its left neighbour.
static void warp_to_picture_point(double x, double y) {
    const InputView &v = input.view;
    if (v.base_w <= 0 || v.base_h <= 0) return;
    double px = std::round(x) + 0.5;
    double py = std::round(y) + 0.5;
    warp_host(v.dest.x + (int)(v.dest.w * px / v.base_w), v.dest.y + (int)(v.dest.h * py / v.base_h));
}

static float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

void input_locked_motion(int x, int y) {
    if (input.ignore_motion) {
        // reported before the warp to the centre took effect
        input.ignore_motion = 0;
        return;
    }
    const InputView &v = input.view;
    if (v.base_w <= 0 || v.base_h <= 0) return;
    float sx = std::max((float)v.dest.w / v.base_w, 0.1f);
    float sy = std::max((float)v.dest.h / v.base_h, 0.1f);
    float dx = (x - input.centre_x) / sx;
    float dy = (y - input.centre_y) / sy;
    input.acc_x += (int32_t)lroundf(input.motion_factor * dx);
    input.acc_y += (int32_t)lroundf(input.motion_factor * dy);
    input.cursor_x = clampf(input.cursor_x + dx * input.speed_factor / 64, 0, (float)(v.base_w - 1));
    input.cursor_y = clampf(input.cursor_y + dy * input.speed_factor / 64, 0, (float)(v.base_h - 1));
    warp_to_centre();
}

// Keeps the full-screen mouse inside the picture.
static void confine_to_picture() {
    const SDL_Rect &d = input.view.dest;
    if (d.w <= 0 || d.h <= 0) return;
    int x = std::clamp(input.host_x, d.x, d.x + d.w - 1);
    int y = std::clamp(input.host_y, d.y, d.y + d.h - 1);
    if (x != input.host_x || y != input.host_y) warp_host(x, y);
}

void input_lock_mouse_cursor(int flags, int motion_factor, int speed_factor) {
    input.motion_factor = motion_factor;
    input.speed_factor = speed_factor;
    bool want = (flags & INPUT_MOUSE_LOCK_BIT) != 0;
    if (want && !input.locked) {
        input.locked = 1;
        input.cursor_x = (float)input.mx;
        input.cursor_y = (float)input.my;
        warp_to_centre();
        input.ignore_motion = 1;
    } else if (!want && input.locked) {
        input.locked = 0;
        input.ignore_motion = 0;
        warp_to_picture_point(input.cursor_x, input.cursor_y);
    }
    if (input.view.fullscreen) confine_to_picture();
}

// The cursor is kept on the display, as locked motion keeps it; a value that
// is not a number leaves everything as it is.
void os_lock_mouse_cursor(int flags, int motion_factor, int speed_factor) {
    input_lock_mouse_cursor(flags, motion_factor, speed_factor);
}

void os_warp_mouse_pointer(double x, double y) {
    const InputView &v = input.view;
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    if (v.base_w > 0 && v.base_h > 0) {
        x = std::clamp(x, 0.0, (double)(v.base_w - 1));
        y = std::clamp(y, 0.0, (double)(v.base_h - 1));
    }
    input.cursor_x = (float)x;
    input.cursor_y = (float)y;
    warp_to_picture_point(x, y);
}

static void post_mouse_state() {
    const InputView &v = input.view;
    if (!view_has_picture(v)) return;
    if (input.host_buttons) os_note_input();
    int mb = input.host_buttons;
    int mx, my;
    if (input.locked) {
        mx = (int)lroundf(input.cursor_x);
        my = (int)lroundf(input.cursor_y);
    } else {
        mx = (input.host_x - v.dest.x) * v.base_w / v.dest.w;
        my = (input.host_y - v.dest.y) * v.base_h / v.dest.h;
        if (v.fullscreen) {
            mx = std::clamp(mx, 0, v.base_w - 1);
            my = std::clamp(my, 0, v.base_h - 1);
        }
    }
    if (mx == input.mx && my == input.my && mb == input.mb) return;
    input.mx = mx;
    input.my = my;
    input.mb = mb;
    char msg[96];
    snprintf(msg, sizeof msg, "{event=\"mouse\",mx=%d,my=%d,mb=%d}", mx, my, mb);
    input_post(msg);
}

// Whole steps of 64 leave the accumulators; the rest (toward zero) stays.
static void post_locked_motion() {
    if (!input.locked) {
        input.acc_x = input.acc_y = 0;
        return;
    }
    int32_t dx = input.acc_x / 64;
    int32_t dy = input.acc_y / 64;
    input.acc_x -= dx * 64;
    input.acc_y -= dy * 64;
    if (dx == 0 && dy == 0) return;
    char msg[96];
    snprintf(msg, sizeof msg, "{event=\"mouselockedmove\",locked_dx=%d,locked_dy=%d}", dx, dy);
    input_post(msg);
}

void input_mouse_frame() {
    post_mouse_state();
    post_locked_motion();
}

int lua54__warp_mouse(lua_State *L) {
    os_warp_mouse_pointer(k64_num(L, 1, 0), k64_num(L, 2, 0));
    return 0;
}
