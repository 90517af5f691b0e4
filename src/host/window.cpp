// SDL start-up, the window with its renderer and texture, the event pump and
// the window's title and icon.
#include "host/window.h"

#include "formats/buffer.h"
#include "formats/hosttext.h"
#include "host/controllers.h"
#include "host/events.h"
#include "host/input.h"
#include "host/log.h"
#include "host/present.h"
#include "kernel/kernel.h"

#include <cstdio>
#include <cstring>

HostWindow host_window;

// ---------------------------------------------------------------------------
// Start-up

struct SdlModule {
    const char *name;
    Uint32 flag;
};

// The order matters: the log shows how far start-up came.
static const SdlModule sdl_modules[] = {
    {"timer", SDL_INIT_TIMER},       {"video", SDL_INIT_VIDEO},
    {"joystick", SDL_INIT_JOYSTICK}, {"gamecontroller", SDL_INIT_GAMECONTROLLER},
    {"events", SDL_INIT_EVENTS},     {"audio", SDL_INIT_AUDIO},
};

[[noreturn]] static void exit_without_display(const char *why)
{
    printf("** could not open the display: %s\n", why);
    printf("   kestrane needs a graphical session (set DISPLAY or WAYLAND_DISPLAY), "
           "or run it with -x to start without a window\n");
    vemo_debug("** could not open the display: %s\n", why);
    kestrane_exit(1);
}

// SDL falls back to drivers whose windows nobody sees when there is no
// display; they count only when asked for by name (tests, benchmarks).
static bool shows_windows()
{
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!driver)
        return false;
    if (strcmp(driver, "offscreen") != 0 && strcmp(driver, "dummy") != 0)
        return true;
    const char *asked = SDL_getenv("SDL_VIDEODRIVER");
    return asked && strstr(asked, driver);
}

void os_system_init()
{
    HostWindow &hw = host_window;
    snprintf(hw.title, sizeof hw.title, "Kestrane");
    // Headless, video serves only the clipboard: no display is looked for.
    // SDL_VIDEODRIVER in the environment still wins.
    if (config.headless)
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "dummy", SDL_HINT_DEFAULT);
    for (const SdlModule &m : sdl_modules) {
        vemo_debug("SDL_Init Module: %s\n", m.name);
        if (SDL_InitSubSystem(m.flag) != 0) {
            vemo_debug(" %s\n", SDL_GetError());
            continue;
        }
        if (m.flag == SDL_INIT_VIDEO)
            hw.video_available = 1;
        if (m.flag == SDL_INIT_AUDIO)
            hw.audio_available = 1;
    }
    if (hw.video_available)
        vemo_debug("[video] driver: %s\n", SDL_GetCurrentVideoDriver());
    if (!config.headless) {
        if (!hw.video_available)
            exit_without_display(SDL_GetError());
        if (!shows_windows())
            exit_without_display("no display found");
    }
    vemo_joystick_init();

    if (config.sdl_render_driver == 1) {
        vemo_debug("[video] setting SDL_HINT_RENDER_DRIVER hint: opengl\n");
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
    }
    vemo_debug("[video] setting SDL_HINT_VIDEO_ALLOW_SCREENSAVER hint: 1\n");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");

    input_reset();
    // The output device itself is the audio engine's to open.
    vemo_debug("[audio] opening audio output device..\n");
    vemo_debug("[audio] ok\n");
}

// ---------------------------------------------------------------------------
// Title and icon

static void apply_title()
{
    if (!host_window.window)
        return;
    // The title is kernel text; the host wants UTF-8.
    Buffer *utf8 = encode_host_text(host_window.title);
    SDL_SetWindowTitle(host_window.window, utf8 ? to_cstr(utf8) : "Kestrane");
    if (utf8)
        destroy_buffer(utf8);
}

static void apply_icon()
{
    HostWindow &hw = host_window;
    if (!hw.window || !hw.has_icon)
        return;
    SDL_Surface *s = SDL_CreateRGBSurfaceWithFormatFrom(hw.icon, HOST_ICON_SIZE, HOST_ICON_SIZE, 32,
                                                        HOST_ICON_SIZE * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!s)
        return;
    SDL_SetWindowIcon(hw.window, s);
    SDL_FreeSurface(s);
}

void os_set_window_title(const char *text)
{
    if (!text || strlen(text) > HOST_TITLE_MAX)
        return;
    snprintf(host_window.title, sizeof host_window.title, "%s", text);
    apply_title();
}

void os_set_window_icon(const uint8_t *pixels, const uint32_t *palette)
{
    HostWindow &hw = host_window;
    if (!pixels || !palette) {
        hw.has_icon = 0;
        return;
    }
    const int block = HOST_ICON_SIZE / 16;
    for (int y = 0; y < HOST_ICON_SIZE; y++) {
        for (int x = 0; x < HOST_ICON_SIZE; x++) {
            uint8_t i = pixels[(y / block) * 16 + x / block];
            hw.icon[y * HOST_ICON_SIZE + x] = i == 0 ? 0 : 0xFF000000u | (palette[i & 63] & 0xFFFFFF);
        }
    }
    hw.has_icon = 1;
    apply_icon();
}

// ---------------------------------------------------------------------------
// Window creation

void os_destroy_window()
{
    HostWindow &hw = host_window;
    if (hw.texture)
        SDL_DestroyTexture(hw.texture);
    if (hw.renderer)
        SDL_DestroyRenderer(hw.renderer);
    if (hw.window)
        SDL_DestroyWindow(hw.window);
    hw.texture = nullptr;
    hw.renderer = nullptr;
    hw.window = nullptr;
}

static bool display_valid(int display)
{
    return display >= 0 && display < SDL_GetNumVideoDisplays();
}

// Where the new window goes, and the old window's size when it was windowed.
struct WindowPlan {
    int display;   // -1: SDL's choice
    int reuse_size;
    int old_w, old_h;
};

static WindowPlan plan_from_old_window()
{
    HostWindow &hw = host_window;
    WindowPlan plan = {-1, 0, 0, 0};
    if (hw.window) {
        plan.display = SDL_GetWindowDisplayIndex(hw.window);
        if (hw.windowed) {
            plan.reuse_size = 1;
            SDL_GetWindowSize(hw.window, &plan.old_w, &plan.old_h);
        }
    }
    if (!hw.display_request_used && config.display >= 0) {
        hw.display_request_used = 1;
        if (display_valid(config.display))
            plan.display = config.display;
    }
    if (!display_valid(plan.display))
        plan.display = -1;
    return plan;
}

static SDL_Window *create_window(const HostVideoMode &m, const WindowPlan &plan, int w, int h)
{
    int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    SDL_Rect bounds;
    if (plan.display >= 0 && SDL_GetDisplayBounds(plan.display, &bounds) == 0) {
        x = m.fullscreen ? bounds.x : bounds.x + (bounds.w - w) / 2;
        y = m.fullscreen ? bounds.y : bounds.y + (bounds.h - h) / 2;
    }
    Uint32 flags;
    if (m.fullscreen) {
        flags = SDL_WINDOW_SHOWN | (m.fullscreen_window ? SDL_WINDOW_BORDERLESS : SDL_WINDOW_FULLSCREEN_DESKTOP);
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(plan.display >= 0 ? plan.display : 0, &mode) == 0) {
            w = mode.w;
            h = mode.h;
        }
    } else {
        flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN;
        if (plan.reuse_size) {
            w = plan.old_w;
            h = plan.old_h;
        }
    }
    if (m.allow_highdpi)
        flags |= SDL_WINDOW_ALLOW_HIGHDPI;
    vemo_debug("creating SDL window %d %d flags %d\n", w, h, (int)flags);
    Buffer *title = encode_host_text(host_window.title);
    SDL_Window *win = SDL_CreateWindow(title ? to_cstr(title) : "Kestrane", x, y, w, h, flags);
    if (title)
        destroy_buffer(title);
    if (!win)
        vemo_debug("** SDL_CreateWindow: %s\n", SDL_GetError());
    return win;
}

static SDL_Renderer *create_renderer(SDL_Window *win)
{
    if (!win)
        return nullptr;
    SDL_Renderer *r = SDL_CreateRenderer(win, -1, SDL_RENDERER_PRESENTVSYNC);
    // Some drivers cannot wait for the vertical blank; frame pacing still holds.
    if (!r)
        r = SDL_CreateRenderer(win, -1, 0);
    if (!r)
        vemo_debug("** SDL_CreateRenderer: %s\n", SDL_GetError());
    return r;
}

// High-DPI windows have more output pixels than window units.
static void match_renderer_scale(SDL_Window *win, SDL_Renderer *r)
{
    int ww, wh, ow, oh;
    SDL_GetWindowSize(win, &ww, &wh);
    if (SDL_GetRendererOutputSize(r, &ow, &oh) == 0 && ww > 0 && wh > 0 && ow != ww) {
        float sx = (float)ow / (float)ww, sy = (float)oh / (float)wh;
        vemo_debug("renderer_scale: %f,%f\n", sx, sy);
        SDL_RenderSetScale(r, sx, sy);
    }
    SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
    SDL_RenderClear(r);
    SDL_RenderPresent(r);
}

static void create_texture(const HostVideoMode &m)
{
    HostWindow &hw = host_window;
    int ww, wh;
    SDL_GetWindowSize(hw.window, &ww, &wh);
    hw.prescale = host_prescale(m, ww, wh);
    hw.tex_w = m.blit_720p ? HOST_720P_W : hw.base_w * hw.prescale;
    hw.tex_h = m.blit_720p ? HOST_720P_H : hw.base_h * hw.prescale;
    hw.texture = present_create_texture(hw.renderer, hw.window, hw.tex_w, hw.tex_h);
    if (!hw.texture)
        vemo_debug("** SDL_CreateTexture %d %d: %s\n", hw.tex_w, hw.tex_h, SDL_GetError());
}

void os_apply_video_config()
{
    HostWindow &hw = host_window;
    if (config.headless || config.vproc == 0 || !hw.video_available)
        return;
    int bw, bh;
    if (!host_base_size(&bw, &bh))
        return;
    if (config.vproc > 3)
        vemo_debug("vproc %d: %d %d\n", config.vproc, bw, bh);

    HostVideoMode m = host_video_mode_from_config();
    WindowPlan plan = plan_from_old_window();
    os_destroy_window();
    hw.base_w = bw;
    hw.base_h = bh;
    int factor = host_pixel_scale_factor(m.pixel_scale);
    hw.window = create_window(m, plan, bw * factor, bh * factor);
    hw.windowed = !m.fullscreen;
    hw.renderer = create_renderer(hw.window);
    if (!hw.renderer) {
        printf("could not create renderer\n");
        kestrane_exit(1);
    }
    bool nearest = m.pixel_perfect || m.blit_720p;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, nearest ? "nearest" : "linear");
    match_renderer_scale(hw.window, hw.renderer);
    create_texture(m);
    apply_icon();
    app.video_configured = 1;
}

// ---------------------------------------------------------------------------
// Events

void start_frame()
{
    os_input_frame_begin();
    if (SDL_WasInit(SDL_INIT_EVENTS)) {
        SDL_Event e;
        while (SDL_PollEvent(&e))
            os_handle_event(e);
    }
    os_input_frame_end();
}
