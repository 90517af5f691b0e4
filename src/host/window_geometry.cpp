// Where the picture goes: base size, window size, texture prescale and the
// destination rectangle for every scaling mode.
#include "host/window.h"

#include "gfx/draw_state.h"
#include "kernel/kernel.h"
#include "memory/ram.h"
#include "process/process.h"

#include <SDL.h>

#include <algorithm>

// A program sets its display size; anything past this would only ask the
// host for a window it cannot make.
constexpr int HOST_BASE_MAX = 4096;

HostVideoMode host_video_mode_from_config()
{
    HostVideoMode m;
    m.fullscreen = config.fullscreen;
    m.fullscreen_window = config.fullscreen_window;
    m.pixel_perfect = config.pixel_perfect;
    m.stretch = config.stretch;
    m.blit_720p = config.blit_720p;
    m.allow_highdpi = config.allow_highdpi;
    m.pixel_scale = config.pixel_scale;
    return m;
}

int host_pixel_scale_factor(int pixel_scale)
{
    if (pixel_scale == 0)
        return 2;
    if (pixel_scale < 0)
        return 1;
    return std::min(pixel_scale, 16);
}

// The centred rectangle of size w x h in a window of size W x H.
static SDL_Rect centred(int W, int H, int w, int h)
{
    return SDL_Rect{(W - w) / 2, (H - h) / 2, w, h};
}

SDL_Rect host_dest_rect(const HostVideoMode &m, int W, int H, int w, int h)
{
    if (w <= 0 || h <= 0)
        return SDL_Rect{0, 0, 0, 0};
    if (m.blit_720p)
        return centred(W, H, HOST_720P_W, HOST_720P_H);
    if (m.pixel_perfect && m.stretch) {
        int rx = W >= w ? W / w : 0;
        int ry = H >= h ? H / h : 0;
        return centred(W, H, rx * w, ry * h);
    }
    if (m.pixel_perfect) {
        if (W < w || H < h)
            return centred(W, H, w, h);
        int r = std::min(W / w, H / h);
        return centred(W, H, r * w, r * h);
    }
    if (m.stretch)
        return SDL_Rect{0, 0, W, H};
    // The largest rectangle of the picture's aspect ratio; compared in
    // integers: w / h > W / H.
    if ((int64_t)w * H > (int64_t)W * h) {
        int dh = (int)((int64_t)h * W / w);
        return SDL_Rect{0, (H - dh) / 2, W, dh};
    }
    int dw = (int)((int64_t)w * H / h);
    return SDL_Rect{(W - dw) / 2, 0, dw, H};
}

int host_prescale(const HostVideoMode &m, int W, int H)
{
    // The 720p filter writes a 1280 x 720 texture and is shown at that size,
    // so it decides before pixel_perfect does.
    if (m.blit_720p || m.pixel_perfect)
        return 1;
    if (W < 960)
        return 2;
    if (W < 1440)
        return H >= 540 ? 3 : 2;
    if (H >= 810)
        return 4;
    return H >= 540 ? 3 : 2;
}

int host_base_size(int *w, int *h)
{
    *w = HOST_BASE_W;
    *h = HOST_BASE_H;
    if (config.vproc <= 0)
        return 0;
    Process *p = get_process(config.vproc);
    if (!p)
        return 0;
    if (config.vproc <= 3)
        return 1;
    int mode = peek_proc(p, GFX_VIDEO_MODE);
    int factor = mode == 3 ? 2 : mode == 4 ? 3 : 1;
    int dw = peek2_proc(p, GFX_DISPLAY_W);
    int dh = peek2_proc(p, GFX_DISPLAY_H);
    // One zero side would make a window with no area.
    if (dw == 0 || dh == 0)
        return 0;
    *w = std::min(dw * factor, HOST_BASE_MAX);
    *h = std::min(dh * factor, HOST_BASE_MAX);
    return 1;
}

void get_dest_rect(SDL_Rect *rect)
{
    int W = 0, H = 0;
    if (host_window.window)
        SDL_GetWindowSize(host_window.window, &W, &H);
    *rect = host_dest_rect(host_video_mode_from_config(), W, H, host_window.base_w,
                           host_window.base_h);
}
