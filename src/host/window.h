// The host window: SDL start-up, the window, renderer and streaming texture
// that show the video output, the picture's place in the window, frame
// pacing, and the window title and icon.
#pragma once
#include <SDL.h>
#include <cstdint>

constexpr int HOST_BASE_W = 480;
constexpr int HOST_BASE_H = 270;
constexpr int HOST_720P_W = 1280;
constexpr int HOST_720P_H = 720;
constexpr int HOST_TITLE_MAX = 1023;
constexpr int HOST_ICON_SIZE = 128;
constexpr int HOST_FRAME_MS = 16;
constexpr int HOST_SLOW_FRAME_MS = 32;

// The video settings this layer reads, copied out of `config` so that the
// geometry can be computed (and tested) without a window.
struct HostVideoMode {
    int fullscreen;
    int fullscreen_window;
    int pixel_perfect;
    int stretch;
    int blit_720p;
    int allow_highdpi;
    int pixel_scale;
};

struct HostWindow {
    SDL_Window *window;
    SDL_Renderer *renderer;
    SDL_Texture *texture;
    int base_w, base_h;        // size of the picture before scaling
    int prescale;              // 1..4: texture pixels per picture pixel
    int tex_w, tex_h;
    char title[HOST_TITLE_MAX + 1];
    uint32_t icon[HOST_ICON_SIZE * HOST_ICON_SIZE];   // ARGB
    int has_icon;
    int audio_available;
    int video_available;       // SDL's video subsystem is up
    int display_request_used;  // the -display index is honoured once
    int windowed;              // the current window is not full screen
    int64_t last_frame_t;      // tick of the last frame end
    int64_t last_input_t;      // tick of the last user input (os_note_input)
};

extern HostWindow host_window;

// Initialises SDL's subsystems in their fixed order, sets the render hints
// and logs each step. Exits with a message when no display can be opened
// and the kernel is not headless.
void os_system_init();
// (Re)creates the window, renderer and texture for the video process and the
// current settings; does nothing while headless, before SDL's video is up or
// while the video process does not exist.
void os_apply_video_config();
// Destroys the window, renderer and texture; the next os_apply_video_config
// makes new ones.
void os_destroy_window();
// Hands every pending host event to the input layer.
void start_frame();
// Mouse lock, once per frame after the processes ran (input handling).
void os_lock_mouse_cursor(int flags, int motion_factor, int speed_factor);
// Shows one video frame (0x00RRGGBB, row-major) in the window.
void os_present_frame(const uint32_t *frame, int width, int height);
// The rectangle of the window that shows the picture.
void get_dest_rect(SDL_Rect *rect);

void os_set_window_title(const char *text);
// pixels: 16 x 16 colour indices, or null to drop the icon at the next window
// creation; palette: 64 entries 0x00RRGGBB.
void os_set_window_icon(const uint8_t *pixels, const uint32_t *palette);

// Records user input now (keys, buttons, mouse); battery saving looks at it.
void os_note_input();
// The frame interval for now: 16 ms, or 32 ms while battery saving applies
// (boot finished and neither input nor activity reported by the system,
// app.last_activity_t, for more than 500 ms).
// Sets app.slow_frame.
int os_frame_interval(int64_t now);
// Sleeps in 1 ms steps (at most 100) until `interval` has passed since the
// previous call, then marks the frame end.
void os_wait_frame(int interval);

// Geometry, independent of SDL.
HostVideoMode host_video_mode_from_config();
SDL_Rect host_dest_rect(const HostVideoMode &m, int win_w, int win_h, int base_w, int base_h);
// The texture's prescale factor for a window of this size.
int host_prescale(const HostVideoMode &m, int win_w, int win_h);
// The window size factor for a pixel_scale setting (0 gives 2, negative 1,
// at most 16).
int host_pixel_scale_factor(int pixel_scale);
// The base size for the video process; 0 when that process asks for no
// window (an id above 3 with a zero display size) or does not exist.
int host_base_size(int *w, int *h);

// Filling the texture, exposed for tests and the benchmark. dst has `pitch`
// pixels per row and dst_w x dst_h pixels are written; source pixels outside
// it are dropped, texture pixels with no source become black.
void present_fill_scaled(const uint32_t *src, int w, int h, int scale, uint32_t *dst, int pitch,
                         int dst_w, int dst_h);
// The 8:3 enlargement: 3 source pixels become 8 across and 3 rows 8 down.
void present_fill_720p(const uint32_t *src, int w, int h, uint32_t *dst, int pitch, int dst_w,
                       int dst_h);
