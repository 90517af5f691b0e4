// The frame the window shows: palettes, scanline selects, video modes,
// held frames and the hand-over from the boot screen.
#include <gtest/gtest.h>

#include "gfx/video.h"
#include "kernel/boot.h"
#include "kernel/kernel.h"
#include "memory/ram.h"
#include "process/process.h"

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
    EXPECT_EQ(frame(), nullptr);
    for (int i = 0; i < 3; i++) create_process_from_code("x = 1", "p", "p", "", "");
    app.frame_count += 200;   // 3.3 s of frames
    EXPECT_EQ(frame(), nullptr);
    EXPECT_EQ(app.boot_finished, 1);
    app.boot_screen_released = 1;
    EXPECT_NE(frame(), nullptr);

    // a stand-alone cartridge has no boot screen and no frame without id 3
    restart();
    config.vproc = 4;
    EXPECT_EQ(frame(), nullptr);
    for (int i = 0; i < 3; i++) create_process_from_code("x = 1", "p", "p", "", "");
    EXPECT_NE(frame(), nullptr);
    config.vproc = 3;
}

}  // namespace
