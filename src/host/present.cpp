// Presenting a frame: the texture is filled at the prescale factor (or by the
// 8:3 filter for 720p) and the renderer scales it into the destination
// rectangle. Also the frame pacing that follows.
#include "host/present.h"
#include "host/window.h"

#include "host/clock.h"
#include "host/log.h"
#include "kernel/kernel.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------
// Prescale

// One source row repeated S times across; the compiler unrolls the inner loop.
template <int S>
static void expand_row(const uint32_t *s, int n, uint32_t *d)
{
    for (int i = 0; i < n; i++, d += S) {
        uint32_t p = s[i];
        for (int k = 0; k < S; k++)
            d[k] = p;
    }
}

// Fills dst_w pixels of one texture row from a source row of w pixels.
static void scale_row(const uint32_t *s, int w, int scale, uint32_t *d, int dst_w)
{
    int whole = std::min(w, dst_w / scale);
    switch (scale) {
    case 1: memcpy(d, s, (size_t)whole * 4); break;
    case 2: expand_row<2>(s, whole, d); break;
    case 3: expand_row<3>(s, whole, d); break;
    case 4: expand_row<4>(s, whole, d); break;
    default:
        for (int i = 0; i < whole * scale; i++)
            d[i] = s[i / scale];
    }
    // A source pixel cut by the texture's edge, then black past the source.
    for (int x = whole * scale; x < dst_w; x++)
        d[x] = x / scale < w ? s[x / scale] : 0;
}

void present_fill_scaled(const uint32_t *src, int w, int h, int scale, uint32_t *dst, int pitch,
                         int dst_w, int dst_h)
{
    if (scale < 1)
        scale = 1;
    for (int y = 0; y < dst_h; y++) {
        uint32_t *d = dst + (size_t)y * pitch;
        int sy = y / scale;
        if (sy >= h)
            memset(d, 0, (size_t)dst_w * 4);
        else if (y % scale != 0)
            memcpy(d, d - pitch, (size_t)dst_w * 4);
        else
            scale_row(src + (size_t)sy * w, w, scale, d, dst_w);
    }
}

// ---------------------------------------------------------------------------
// 720p filter: 3 pixels become 8, with one 3/4 + 1/4 and one 1/2 + 1/2 blend
// per group, across and down. Each channel is shifted separately by masking
// out the bits that would cross into the next channel.

static inline uint32_t mix_3_1(uint32_t a, uint32_t b)
{
    return ((a >> 2) & 0x3F3F3F3F) + ((a >> 1) & 0x7F7F7F7F) + ((b >> 2) & 0x3F3F3F3F);
}

static inline uint32_t mix_1_1(uint32_t a, uint32_t b)
{
    return ((a >> 1) & 0x7F7F7F7F) + ((b >> 1) & 0x7F7F7F7F);
}

static void filter_row_720p(const uint32_t *s, int w, uint32_t *d, int dst_w)
{
    int x = 0, i = 0;
    for (; x + 8 <= dst_w && i + 2 < w; x += 8, i += 3) {
        uint32_t p0 = s[i], p1 = s[i + 1], p2 = s[i + 2];
        d[x] = d[x + 1] = p0;
        d[x + 2] = mix_3_1(p0, p1);
        d[x + 3] = d[x + 4] = p1;
        d[x + 5] = mix_1_1(p1, p2);
        d[x + 6] = d[x + 7] = p2;
    }
    // A group cut by either edge: missing source pixels repeat the last one.
    for (; x < dst_w; x += 8, i += 3) {
        uint32_t g[8] = {};
        if (i < w) {
            uint32_t p0 = s[i], p1 = s[std::min(i + 1, w - 1)], p2 = s[std::min(i + 2, w - 1)];
            uint32_t full[8] = {p0, p0, mix_3_1(p0, p1), p1, p1, mix_1_1(p1, p2), p2, p2};
            memcpy(g, full, sizeof g);
        }
        for (int k = 0; k < 8 && x + k < dst_w; k++)
            d[x + k] = g[k];
    }
}

void present_fill_720p(const uint32_t *src, int w, int h, uint32_t *dst, int pitch, int dst_w,
                       int dst_h)
{
    // Texture rows from source rows; a row with the same source as the one
    // above is a copy of it.
    for (int y = 0; y < dst_h; y++) {
        uint32_t *d = dst + (size_t)y * pitch;
        int sy = (3 * y) >> 3;
        if (sy >= h)
            memset(d, 0, (size_t)dst_w * 4);
        else if (y > 0 && ((3 * (y - 1)) >> 3) == sy)
            memcpy(d, d - pitch, (size_t)dst_w * 4);
        else
            filter_row_720p(src + (size_t)sy * w, w, d, dst_w);
    }
    // Rows 2 and 5 of every 8 blend with the row below them.
    for (int y = 2; y + 1 < dst_h; y += (y % 8 == 2) ? 3 : 5) {
        uint32_t *d = dst + (size_t)y * pitch;
        const uint32_t *below = d + pitch;
        if (y % 8 == 2) {
            for (int x = 0; x < dst_w; x++)
                d[x] = mix_3_1(d[x], below[x]);
        } else {
            for (int x = 0; x < dst_w; x++)
                d[x] = mix_1_1(d[x], below[x]);
        }
    }
}

// ---------------------------------------------------------------------------
// Texture

static bool is_software(SDL_Renderer *r)
{
    SDL_RendererInfo info;
    return SDL_GetRendererInfo(r, &info) == 0 && info.name && strcmp(info.name, "software") == 0;
}

// The software renderer blits the texture into the window's surface: from a
// texture of the surface's own format that is a plain copy, or a direct
// stretch when scaled, where any other format is converted pixel by pixel
// (through temporary surfaces when scaled) on every frame. ARGB8888 and
// RGB888 hold 0x00RRGGBB alike, so either takes the frame as it is. GPU
// renderers upload ARGB8888 unconverted.
Uint32 present_texture_format(SDL_Renderer *renderer, SDL_Window *window)
{
    if (!renderer || !window || !is_software(renderer))
        return SDL_PIXELFORMAT_ARGB8888;
    // The software renderer draws into this very surface, so asking for it
    // makes nothing new.
    SDL_Surface *surface = SDL_GetWindowSurface(window);
    Uint32 f = surface ? surface->format->format : 0;
    return f == SDL_PIXELFORMAT_RGB888 ? f : (Uint32)SDL_PIXELFORMAT_ARGB8888;
}

SDL_Texture *present_create_texture(SDL_Renderer *renderer, SDL_Window *window, int w, int h)
{
    SDL_Texture *t = SDL_CreateTexture(renderer, present_texture_format(renderer, window),
                                       SDL_TEXTUREACCESS_STREAMING, w, h);
    // The frame's top byte is not alpha.
    if (t)
        SDL_SetTextureBlendMode(t, SDL_BLENDMODE_NONE);
    return t;
}

// ---------------------------------------------------------------------------
// Presenting

static bool nearest_filtering()
{
    return config.pixel_perfect || config.blit_720p;
}

// The frame is written straight into the locked texture: the software
// renderer hands out the texture's own pixels, GPU renderers a buffer they
// upload on unlock.
static void fill_texture(const uint32_t *frame, int w, int h)
{
    HostWindow &hw = host_window;
    void *pixels;
    int pitch;
    if (SDL_LockTexture(hw.texture, nullptr, &pixels, &pitch) != 0)
        return;
    uint32_t *dst = (uint32_t *)pixels;
    // The texture was made for the mode in force at window creation; its
    // size, not the setting, says which fill it takes.
    bool t720 = hw.tex_w == HOST_720P_W && hw.tex_h == HOST_720P_H && config.blit_720p;
    if (t720)
        present_fill_720p(frame, w, h, dst, pitch / 4, hw.tex_w, hw.tex_h);
    else
        present_fill_scaled(frame, w, h, hw.prescale, dst, pitch / 4, hw.tex_w, hw.tex_h);
    SDL_UnlockTexture(hw.texture);
}

// Black where the picture leaves room. The texture is opaque and drawn
// without blending, so what it covers needs no clearing: only the bars
// around it are filled, which spares the software renderer a whole-window
// fill. A renderer scale (high DPI) rounds each rectangle on its own and
// could leave a seam between bar and picture, so there the whole output is
// cleared first as usual.
static void clear_around(const SDL_Rect &dest)
{
    HostWindow &hw = host_window;
    SDL_SetRenderDrawBlendMode(hw.renderer, SDL_BLENDMODE_NONE);
    SDL_SetRenderDrawColor(hw.renderer, 0, 0, 0, 255);
    float sx, sy;
    SDL_RenderGetScale(hw.renderer, &sx, &sy);
    if (sx != 1.0f || sy != 1.0f || dest.w <= 0 || dest.h <= 0) {
        SDL_RenderClear(hw.renderer);
        return;
    }
    int W, H;
    SDL_GetWindowSize(hw.window, &W, &H);
    // The picture clipped to the window; it is larger when cropped.
    int x0 = std::clamp(dest.x, 0, W), x1 = std::clamp(dest.x + dest.w, 0, W);
    int y0 = std::clamp(dest.y, 0, H), y1 = std::clamp(dest.y + dest.h, 0, H);
    SDL_Rect bars[4];
    int n = 0;
    if (y0 > 0)
        bars[n++] = {0, 0, W, y0};
    if (y1 < H)
        bars[n++] = {0, y1, W, H - y1};
    if (x0 > 0)
        bars[n++] = {0, y0, x0, y1 - y0};
    if (x1 < W)
        bars[n++] = {x1, y0, W - x1, y1 - y0};
    if (n > 0)
        SDL_RenderFillRects(hw.renderer, bars, n);
}

void os_present_frame(const uint32_t *frame, int width, int height)
{
    HostWindow &hw = host_window;
    if (config.headless || !frame || !hw.renderer || !hw.texture)
        return;
    bool nearest = nearest_filtering();
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, nearest ? "nearest" : "linear");
    // The hint only reaches textures made after it; this one already exists.
    SDL_SetTextureScaleMode(hw.texture, nearest ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
    fill_texture(frame, width, height);

    SDL_Rect dest;
    get_dest_rect(&dest);
    clear_around(dest);
    if (dest.w <= 0 || dest.h <= 0) {
        vemo_debug("[blit_to_sdl_window_hardware] can not find blit dest_rect for this frame\n");
        return;
    }
    SDL_RenderCopy(hw.renderer, hw.texture, nullptr, &dest);
    SDL_RenderPresent(hw.renderer);
}

// ---------------------------------------------------------------------------
// Pacing

void os_note_input()
{
    host_window.last_input_t = get_ticks();
}

int os_frame_interval(int64_t now)
{
    if (!config.battery_saver || !app.boot_finished) {
        app.slow_frame = 0;
        return HOST_FRAME_MS;
    }
    int64_t last = std::max(app.last_activity_t, host_window.last_input_t);
    app.slow_frame = now - last > 500;
    return app.slow_frame ? HOST_SLOW_FRAME_MS : HOST_FRAME_MS;
}

void os_wait_frame(int interval)
{
    for (int i = 0; i < 100 && get_ticks() < host_window.last_frame_t + interval; i++)
        os_sleep(1);
    host_window.last_frame_t = get_ticks();
}
