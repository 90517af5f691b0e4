// Drawing and video output on a full 480 x 270 target, each primitive called
// as a program calls it (the Lua function, arguments on the stack), beside
// memset of the same 129600 bytes so that clearing and filling read as a
// ratio to the fastest possible fill of the target.
#include <benchmark/benchmark.h>

#include <cstring>
#include <initializer_list>
#include <random>

#include "gfx/draw_state.h"
#include "gfx/gfx_api.h"
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
