// The frame the window shows: palettes, scanline selects, video modes,
// held frames and the hand-over from the boot screen.
#include <gtest/gtest.h>

#include <string>

#include "gfx/video.h"
#include "kernel/boot.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/process.h"
#include "process/slice.h"

namespace {

struct Video : ::testing::Test {
    Process *wm = nullptr;

    void SetUp() override {
        config_set_start_values();
        config.headless = 1;
        restart();
        for (int i = 0; i < 3; i++) wm = create_process_from_code("x = 1", "p", "p", "", "");
        ASSERT_EQ(wm->id, 3);
        app.boot_finished = 1;
        app.boot_screen_released = 1;
        cproc = wm;
        poke(0x547F, 0);
        poke(0x547C, 0);
    }
    void TearDown() override { processes_init(); }

    // What a reboot does to the video side: no processes, boot timing anew.
    static void restart() {
        processes_init();
        boot_init();
        app.boot_finished = 0;
        app.boot_screen_released = 0;
        app.exit_requested = 0;
    }

    static uint32_t *frame() {
        int w = 0, h = 0;
        uint32_t *f = generate_video_out(&w, &h);
        if (f) {
            EXPECT_EQ(w, 480);
            EXPECT_EQ(h, 270);
        }
        return f;
    }
    static void pixel(int x, int y, uint8_t v) { poke(0x10000 + y * 480 + x, v); }
};

TEST_F(Video, ColoursPassThroughDisplayPaletteRgbPaletteAndScanlineSelect) {
    poke(0x5480 + 5, 12);
    poke4(0x5000 + 4 * 12, 0x29ADFF);
    poke4(0x5000 + 4 * (64 + 12), 0x123456);
    for (int i = 0; i < 4; i++) pixel(i, 0, (uint8_t)(5 + 64 * i));
    pixel(7, 10, 5);
    poke(0x5402, 1 << 4);   // scanline 10 uses the second group
    uint32_t *f = frame();
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 4; i++) EXPECT_EQ(f[i], 0x29ADFFu) << i;
    EXPECT_EQ(f[10 * 480 + 7], 0x123456u);
    EXPECT_EQ(video_output_palette()->select[10], 1);
    EXPECT_EQ(video_output_palette()->rgb[64 + 5], 0x123456u);
    // waiting to shut down shows everything at half brightness
    app.exit_requested = 1;
    f = frame();
    EXPECT_EQ(f[0], (0x29ADFFu >> 1) & 0x7F7F7F7Fu);
    app.exit_requested = 0;
}

TEST_F(Video, ModesEnlargeTheTopLeftImage) {
    poke(0x5480 + 9, 9);
    poke4(0x5000 + 4 * 9, 0xFF0000);
    pixel(239, 134, 9);
    poke(0x547C, 3);
    uint32_t *f = frame();
    ASSERT_NE(f, nullptr);
    for (int y = 268; y < 270; y++)
        for (int x = 478; x < 480; x++) EXPECT_EQ(f[y * 480 + x], 0xFF0000u) << x << "," << y;
    EXPECT_NE(f[267 * 480 + 477], 0xFF0000u);
    poke(0x547C, 4);
    pixel(159, 89, 9);
    f = frame();
    EXPECT_EQ(f[269 * 480 + 479], 0xFF0000u);
    EXPECT_EQ(f[267 * 480 + 477], 0xFF0000u);
    EXPECT_NE(f[266 * 480 + 476], 0xFF0000u);
}

TEST_F(Video, HeldFramesAndTheBootHandOver) {
    poke(0x547F, 2);
    EXPECT_EQ(frame(), nullptr);
    poke(0x547F, 0);
    EXPECT_NE(frame(), nullptr);

    // after a reset the boot screen is the source until the window manager
    // exists, 2.2 s have passed and the system software releases it
    restart();
    bool boot = false;
    EXPECT_EQ(video_source(&boot), nullptr);
    EXPECT_TRUE(boot);
    for (int i = 0; i < 3; i++) create_process_from_code("x = 1", "p", "p", "", "");
    app.frame_count += 200;   // 3.3 s of frames
    EXPECT_EQ(video_source(&boot), nullptr);
    EXPECT_TRUE(boot);
    EXPECT_EQ(app.boot_finished, 1);
    app.boot_screen_released = 1;
    EXPECT_EQ(video_source(&boot), get_process(3));
    EXPECT_FALSE(boot);

    // a stand-alone cartridge has no boot screen and no frame without id 3
    restart();
    config.vproc = 4;
    EXPECT_EQ(frame(), nullptr);
    for (int i = 0; i < 3; i++) create_process_from_code("x = 1", "p", "p", "", "");
    EXPECT_NE(frame(), nullptr);
    config.vproc = 3;
}

// Runs code in q and returns its result as text.
std::string eval(Process *q, const std::string &code) {
    cproc = q;
    if (luaL_dostring(q->L, code.c_str()) != LUA_OK) {
        std::string msg = "error: " + std::string(lua_tostring(q->L, -1));
        lua_pop(q->L, 1);
        return msg;
    }
    std::string r = luaL_tolstring(q->L, -1, nullptr);
    lua_pop(q->L, 2);
    return r;
}

TEST_F(Video, BlitProcessVideoCopiesThroughClipAndOpacityMask) {
    Process *app_proc = create_process_from_code("x = 1", "app", "app", "", "");
    cproc = app_proc;
    poke2(0x5478, 480);
    poke2(0x547A, 270);
    for (int y = 0; y < 270; y++)
        for (int x = 0; x < 480; x++) pixel(x, y, (uint8_t)((x + y) & 0x7F));
    std::string id = std::to_string(app_proc->id);
    eval(wm, "t = userdata('u8', 100, 50) t:clear() _set_draw_target(t) "
             "function at(x, y) return t:get(x, y) end return 1");
    // a block with offsets; the clip cuts it at the right edge
    eval(wm, "clip(0, 0, 30, 50) _blit_process_video(" + id + ", 10, 5, 40, 10, 3, 4) return 1");
    EXPECT_EQ(eval(wm, "return at(3, 4) .. ' ' .. at(29, 13) .. ' ' .. at(30, 4) .. ' ' .. at(2, 4)"),
              std::to_string(10 + 5) + " " + std::to_string(10 + 26 + 5 + 9) + " 0 0");
    // with mask 0x3F the source's 0 and 64 pixels leave the target alone
    cproc = app_proc;
    poke(0x547D, 0x3F);
    eval(wm, "clip() t:set(0, 0, 77, 77) _blit_process_video(" + id + ", 63, 0, 2, 1, 0, 0) return 1");
    EXPECT_EQ(eval(wm, "return at(0, 0) .. ' ' .. at(1, 0)"), "63 77");   // 64 is masked out
    // nothing to do: reported with true
    EXPECT_EQ(eval(wm, "return _blit_process_video(999)"), "true");
    cproc = app_proc;
    poke(0x547F, 2);
    EXPECT_EQ(eval(wm, "return _blit_process_video(" + id + ")"), "true");
    poke(0x547F, 0);
    app_proc->state = PSTATE_CRASHED;
    EXPECT_EQ(eval(wm, "return _blit_process_video(" + id + ")"), "true");
    app_proc->state = PSTATE_RUNNING;
    // a full-screen unmasked copy is free; hostile sizes do nothing harmful
    cproc = app_proc;
    poke(0x547D, 0);
    EXPECT_EQ(eval(wm, "_blit_process_video(" + id + ", -1e300, 1 / 0, 1e18, -5, math.mininteger, math.maxinteger) "
                       "return 'ok'"),
              "ok");
    cproc = wm;
    lua_getglobal(wm->L, "_blit_process_video");
    lua_pushinteger(wm->L, app_proc->id);
    cpu_cycles = 0;
    lua_call(wm->L, 1, 0);
    EXPECT_EQ(cpu_cycles, 0);
}

}  // namespace
