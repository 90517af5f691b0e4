// Presenting one video frame, per prescale mode: filling the texture alone
// (the kernel's own work), and the whole presentation (fill, upload, the
// renderer's scaling into the window, present) on SDL's offscreen video
// driver with its software renderer and a plain memory framebuffer, so that
// no display, GPU or GL emulation takes part: the times are CPU work only.
// Each mode runs in a window size that selects it, with the texture the
// host layer makes for it; the _letterboxed case leaves black bars beside
// the picture. SDL_VIDEODRIVER, SDL_RENDER_DRIVER and
// SDL_FRAMEBUFFER_ACCELERATION, when set, choose other drivers (for example
// x11 under Xvfb); the label names the ones used and the texture format.
#include "host/present.h"
#include "host/window.h"
#include "kernel/kernel.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct PresentMode {
    const char *name;
    int prescale;   // 0: the 720p filter
    int win_w, win_h;
};

const PresentMode present_modes[] = {
    {"prescale1_pixel_perfect", 1, 960, 540},
    {"prescale2", 2, 800, 450},
    {"prescale2_letterboxed", 2, 1000, 500},
    {"prescale3", 3, 1280, 720},
    {"prescale4", 4, 1920, 1080},
    {"blit_720p", 0, 1920, 1080},
};

std::vector<uint32_t> test_frame()
{
    std::vector<uint32_t> f(HOST_BASE_W * HOST_BASE_H);
    uint32_t x = 12345;
    for (uint32_t &p : f) {
        x = x * 1103515245u + 12345u;
        p = (x >> 8) & 0xFFFFFF;
    }
    return f;
}

void set_config(const PresentMode &m)
{
    config.headless = 0;
    config.pixel_perfect = m.prescale == 1;
    config.blit_720p = m.prescale == 0;
    config.stretch = 0;
}

void bench_fill(benchmark::State &state, const PresentMode &m)
{
    std::vector<uint32_t> frame = test_frame();
    int tw = m.prescale ? HOST_BASE_W * m.prescale : HOST_720P_W;
    int th = m.prescale ? HOST_BASE_H * m.prescale : HOST_720P_H;
    std::vector<uint32_t> tex((size_t)tw * th);
    for (auto _ : state) {
        if (m.prescale)
            present_fill_scaled(frame.data(), HOST_BASE_W, HOST_BASE_H, m.prescale, tex.data(), tw, tw, th);
        else
            present_fill_720p(frame.data(), HOST_BASE_W, HOST_BASE_H, tex.data(), tw, tw, th);
        benchmark::DoNotOptimize(tex.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * tw * th * 4);
}

// SDL's video is started once for all cases, as the kernel does: starting
// and stopping it for every run now and then fails to reconnect to an X
// server.
bool start_video()
{
    static bool started = false;
    if (started)
        return true;
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_RENDER_DRIVER", "software", 0);
    // Otherwise SDL shows the window's framebuffer through a GL renderer,
    // which here is Mesa's software GL.
    setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 0);
    started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    return started;
}

// A window, renderer and texture made as the host layer makes them, but
// without vertical sync so that the loop measures the work, not the display.
bool open_window(const PresentMode &m, std::string *label)
{
    if (!start_video())
        return false;
    HostWindow &hw = host_window;
    hw.window = SDL_CreateWindow("present_bench", 0, 0, m.win_w, m.win_h, SDL_WINDOW_SHOWN);
    hw.renderer = hw.window ? SDL_CreateRenderer(hw.window, -1, 0) : nullptr;
    if (!hw.renderer)
        return false;
    hw.base_w = HOST_BASE_W;
    hw.base_h = HOST_BASE_H;
    hw.prescale = m.prescale ? m.prescale : 1;
    if (m.prescale && host_prescale(host_video_mode_from_config(), m.win_w, m.win_h) != m.prescale) {
        SDL_SetError("the window size selects another prescale");
        return false;
    }
    hw.tex_w = m.prescale ? HOST_BASE_W * m.prescale : HOST_720P_W;
    hw.tex_h = m.prescale ? HOST_BASE_H * m.prescale : HOST_720P_H;
    hw.texture = present_create_texture(hw.renderer, hw.window, hw.tex_w, hw.tex_h);
    if (!hw.texture)
        return false;
    SDL_RendererInfo info;
    SDL_GetRendererInfo(hw.renderer, &info);
    Uint32 format = 0;
    SDL_QueryTexture(hw.texture, &format, nullptr, nullptr, nullptr);
    *label = std::string(SDL_GetCurrentVideoDriver()) + "/" + info.name + "/" +
             (SDL_GetPixelFormatName(format) + strlen("SDL_PIXELFORMAT_"));
    return true;
}

void bench_present(benchmark::State &state, const PresentMode &m)
{
    set_config(m);
    std::string label;
    if (!open_window(m, &label)) {
        state.SkipWithError(SDL_GetError());
        os_destroy_window();
        return;
    }
    std::vector<uint32_t> frame = test_frame();
    for (auto _ : state)
        os_present_frame(frame.data(), HOST_BASE_W, HOST_BASE_H);
    state.SetLabel(label);
    os_destroy_window();
}

int register_all()
{
    for (const PresentMode &m : present_modes) {
        benchmark::RegisterBenchmark((std::string("fill/") + m.name).c_str(), bench_fill, m)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("present/") + m.name).c_str(), bench_present, m)
            ->Unit(benchmark::kMicrosecond);
    }
    return 0;
}

const int registered = register_all();

} // namespace
