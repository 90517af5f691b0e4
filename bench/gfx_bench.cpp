// Drawing and video output on a full 480 x 270 target, each primitive called
// as a program calls it (the Lua function, arguments on the stack), beside
// memset of the same 129600 bytes so that clearing and filling read as a
// ratio to the fastest possible fill of the target.
#include <benchmark/benchmark.h>

#include <cstring>
#include <initializer_list>
#include <random>
#include <string>

#include "gfx/draw_state.h"
#include "gfx/gfx_api.h"
#include "gfx/print.h"
#include "gfx/video.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/process.h"
#include "process/slice.h"
#include "userdata/userdata.h"

namespace {

constexpr int W = 480;
constexpr int H = 270;
constexpr int64_t FRAME_BYTES = (int64_t)W * H;

// Process 3 (the video process) with a 480 x 270 u8 draw target. Its own
// display at 0x10000 holds random colours on scanlines that use all four
// palette groups, for the frame composition.
Process *bench_process()
{
    static Process *wm = [] {
        config_set_start_values();
        config.headless = 1;
        processes_init();
        Process *q = nullptr;
        for (int i = 0; i < 3; i++)
            q = create_process_from_code("", "gfx", "gfx", "", "");
        if (!q || q->id != 3)
            abort();
        app.boot_finished = 1;
        app.boot_screen_released = 1;
        cproc = q;
        if (luaL_dostring(q->L, "T = userdata('u8', 480, 270) _set_draw_target(T)") != LUA_OK)
            abort();
        std::mt19937 rng(7);
        for (uint32_t i = 0; i < FRAME_BYTES; i++)
            poke(GFX_VIDEO + i, (uint8_t)rng());
        for (uint32_t a = GFX_SCANLINE_SEL; a < GFX_SCANLINE_SEL + H / 4 + 1; a++)
            poke(a, (uint8_t)rng());
        poke(GFX_DISPLAY_FLAGS, 0);
        poke(GFX_VIDEO_MODE, 0);
        return q;
    }();
    cproc = wm;
    return wm;
}

// Runs a chunk in the process (state set-up, outside the timed loop).
void run(Process *p, const char *code)
{
    cproc = p;
    if (luaL_dostring(p->L, code) != LUA_OK)
        abort();
}

// The draw state the kernel's own drawing uses: default tables, no fill
// pattern, masks 0x3F, no camera or clip.
void opaque_state(Process *p)
{
    run(p, "pal() fillp() camera() clip() poke(0x5508, 0x3f, 0x3f, 0x3f, 0x3f)");
}

// Every part of the rule at work: a fill pattern, a target mask with the
// table bits, a partial write mask and tables that blend source and target.
void composed_state(Process *p)
{
    opaque_state(p);
    run(p, "fillp(0x5a5a) poke(0x5508, 0xff, 0x7f, 0xff, 0xff) "
           "for a = 0x8000, 0xbfff do poke(a, (a * 7 + (a >> 6) * 13) & 0xff) end");
}

// One call of a drawing function with integer arguments, made from C.
void call(lua_State *L, lua_CFunction f, std::initializer_list<lua_Integer> args)
{
    lua_pushcfunction(L, f);
    for (lua_Integer a : args)
        lua_pushinteger(L, a);
    lua_call(L, (int)args.size(), 0);
    cpu_cycles = 0;   // the charges are not under test; keep clear of the cap
}

void BM_memset_frame(benchmark::State &state)
{
    Process *p = bench_process();
    uint8_t *pix = ud_data(p->draw_target);
    int v = 0;
    for (auto _ : state) {
        memset(pix, ++v & 63, FRAME_BYTES);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_memset_frame);

void BM_cls(benchmark::State &state)
{
    Process *p = bench_process();
    opaque_state(p);
    int v = 0;
    for (auto _ : state) {
        call(p->L, lua54_cls, {++v & 63});
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_cls);

void BM_rectfill_opaque(benchmark::State &state)
{
    Process *p = bench_process();
    opaque_state(p);
    int v = 0;
    for (auto _ : state) {
        call(p->L, lua54_rectfill, {0, 0, W - 1, H - 1, 1 + (++v % 63)});
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_rectfill_opaque);

void BM_rectfill_composed(benchmark::State &state)
{
    Process *p = bench_process();
    composed_state(p);
    int v = 0;
    for (auto _ : state) {
        ++v;
        // pen bytes without bit 7: the table depends on each target byte
        call(p->L, lua54_rectfill, {0, 0, W - 1, H - 1, (v & 0x7F) | ((v * 37) & 0x7F) << 8});
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_rectfill_composed);

void BM_circfill_r100(benchmark::State &state)
{
    Process *p = bench_process();
    opaque_state(p);
    int v = 0;
    for (auto _ : state) {
        call(p->L, lua54_circfill, {W / 2, H / 2, 100, 1 + (++v % 63)});
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = benchmark::Counter((double)state.iterations() * 31417,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_circfill_r100);

void BM_line_diagonals(benchmark::State &state)
{
    Process *p = bench_process();
    opaque_state(p);
    int v = 0;
    for (auto _ : state) {
        int c = 1 + (++v % 63);
        call(p->L, lua54_line, {0, 0, W - 1, H - 1, c});
        call(p->L, lua54_line, {W - 1, 0, 0, H - 1, c});
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = benchmark::Counter((double)state.iterations() * 2 * W,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_line_diagonals);

void BM_video_frame(benchmark::State &state)
{
    bench_process();
    int w = 0, h = 0;
    for (auto _ : state) {
        uint32_t *f = generate_video_out(&w, &h);
        if (!f) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(f);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FRAME_BYTES * 4);
}
BENCHMARK(BM_video_frame);

}  // namespace

// --- sprites, maps and textured lines --------------------------------------
// Each case reports the pixels it composes per second ("pixels").

#include "gfx/gfx_api2.h"

namespace {

// The sprite functions in the bench process, and sprite 1 a 16 x 16 bitmap
// and sprites 2-5 8 x 8 ones of colours 1-63 (every pixel opaque), map MAP
// a full screen of 8 x 8 cells naming them, TEX a 64 x 64 texture.
Process *sprite_process()
{
    static bool ready = false;
    Process *p = bench_process();
    if (!ready) {
        ready = true;
        lua_register(p->L, "_set_spr", lua54__set_spr);
        run(p, "local function pic(w, h, seed) local b = userdata('u8', w, h) "
               "for i = 0, w * h - 1 do b[i] = 1 + (i * seed + i // w) % 63 end return b end "
               "_set_spr(1, pic(16, 16, 7)) for n = 2, 5 do _set_spr(n, pic(8, 8, n * 5)) end "
               "TEX = pic(64, 64, 13) _set_spr(6, TEX) "
               "MAP = userdata('i16', 60, 34) for i = 0, 60 * 34 - 1 do MAP[i] = 2 + i % 4 end");
    }
    return p;
}

// A screen of 16 x 16 sprites, 30 x 16 of them, one call each.
void spr_screen(benchmark::State &state, void (*set_state)(Process *))
{
    Process *p = sprite_process();
    set_state(p);
    for (auto _ : state) {
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 30; x++)
                call(p->L, lua54_spr, {1, x * 16, y * 16 + 3});
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = benchmark::Counter((double)state.iterations() * 30 * 16 * 256,
                                                  benchmark::Counter::kIsRate);
}

void BM_spr_16x16_opaque(benchmark::State &state) { spr_screen(state, opaque_state); }
BENCHMARK(BM_spr_16x16_opaque);

void BM_spr_16x16_composed(benchmark::State &state) { spr_screen(state, composed_state); }
BENCHMARK(BM_spr_16x16_composed);

// The same sprites mirrored both ways.
void BM_spr_16x16_flipped(benchmark::State &state)
{
    Process *p = sprite_process();
    opaque_state(p);
    for (auto _ : state) {
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 30; x++) {
                lua_pushcfunction(p->L, lua54_spr);
                lua_pushinteger(p->L, 1);
                lua_pushinteger(p->L, x * 16);
                lua_pushinteger(p->L, y * 16 + 3);
                lua_pushboolean(p->L, 1);
                lua_pushboolean(p->L, 1);
                lua_call(p->L, 5, 0);
                cpu_cycles = 0;
            }
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = benchmark::Counter((double)state.iterations() * 30 * 16 * 256,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_spr_16x16_flipped);

// The whole screen as one map of 8 x 8 cells (60 x 34, the last row cut).
void BM_map_8x8_screen(benchmark::State &state)
{
    Process *p = sprite_process();
    opaque_state(p);
    run(p, "poke(0x550e, 8, 8)");
    for (auto _ : state) {
        lua_pushcfunction(p->L, lua54__draw_map);
        lua_getglobal(p->L, "MAP");
        lua_call(p->L, 1, 0);
        cpu_cycles = 0;
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = benchmark::Counter((double)state.iterations() * FRAME_BYTES,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_map_8x8_screen);

// One perspective line per row across the screen (a floor seen at an
// angle), flags 0 (divide every 8 pixels) or 0x400 (every pixel).
void tline_screen(benchmark::State &state, lua_Integer flags)
{
    Process *p = sprite_process();
    opaque_state(p);
    lua_State *L = p->L;
    for (auto _ : state) {
        for (int y = 0; y < H; y++) {
            double w0 = 1.0 + y / 64.0, w1 = 4.0 - y / 128.0;
            lua_pushcfunction(L, lua54_tline3d);
            lua_pushinteger(L, 6);
            lua_pushinteger(L, 0);
            lua_pushinteger(L, y);
            lua_pushinteger(L, W - 1);
            lua_pushinteger(L, y);
            lua_pushnumber(L, 0);
            lua_pushnumber(L, y * w0);
            lua_pushnumber(L, 256 * w1);
            lua_pushnumber(L, y * w1);
            lua_pushnumber(L, w0);
            lua_pushnumber(L, w1);
            lua_pushinteger(L, flags);
            lua_call(L, 12, 0);
            cpu_cycles = 0;
        }
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = benchmark::Counter((double)state.iterations() * FRAME_BYTES,
                                                  benchmark::Counter::kIsRate);
}

void BM_tline3d_screen(benchmark::State &state) { tline_screen(state, 0); }
BENCHMARK(BM_tline3d_screen);

void BM_tline3d_screen_exact(benchmark::State &state) { tline_screen(state, 0x400); }
BENCHMARK(BM_tline3d_screen_exact);

// A screen of text in the built-in font: 24 lines of 96 characters printed
// with one call, the way a terminal redraws; pixels are the 5 x 11 cells.
void BM_print_screen(benchmark::State &state)
{
    Process *p = bench_process();
    opaque_state(p);
    print_install_builtin_font(p);
    std::string text;
    for (int line = 0; line < 24; line++) {
        for (int i = 0; i < 96; i++)
            text += (char)(33 + (line * 96 + i) % 94);
        text += '\n';
    }
    lua_State *L = p->L;
    for (auto _ : state) {
        lua_pushcfunction(L, lua54__print_v7scii);
        lua_pushlstring(L, text.data(), text.size());
        lua_pushinteger(L, 0);
        lua_pushinteger(L, 0);
        lua_pushinteger(L, 7);
        lua_call(L, 4, 0);
        cpu_cycles = 0;
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = benchmark::Counter((double)state.iterations() * 24 * 96 * 5 * 11,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_print_screen);

}  // namespace
