// The boot screen: the frame animation, title, notice and status lines at
// their times, the alternative colours, the error screens, and the hand-over
// to the window manager.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "gfx/draw_state.h"
#include "gfx/print.h"
#include "gfx/video.h"
#include "kernel/boot.h"
#include "kernel/kernel.h"
#include "memory/ram.h"
#include "process/process.h"
#include "userdata/userdata.h"

namespace {

struct BootScreen : ::testing::Test {
    void SetUp() override {
        config_set_start_values();
        config.headless = 1;
        processes_init();
        memset(&app, 0, sizeof app);
        boot_init();
        boot_get_time();   // the clock starts at frame 0
    }
    void TearDown() override {
        processes_init();
        memset(&app, 0, sizeof app);
    }

    // The boot frame drawn at the given frame count, as colour indices.
    static std::string at_frame(uint64_t frame) {
        app.frame_count = frame;
        Process *b = draw_boot();
        EXPECT_NE(b, nullptr);
        std::string px(480 * 270, '\0');
        for (uint32_t i = 0; i < px.size(); i++) px[i] = (char)peek_proc(b, 0x10000 + i);
        return px;
    }
    static std::set<int> colours(const std::string &px, int y0 = 0, int y1 = 270) {
        std::set<int> s;
        for (int y = y0; y < y1; y++)
            for (int x = 0; x < 480; x++) s.insert((uint8_t)px[y * 480 + x]);
        return s;
    }
    static int px(const std::string &p, int x, int y) { return (uint8_t)p[y * 480 + x]; }
    // Pixels of a colour inside the frames (the frame lines use colours
    // 8-19 too).
    static int count(const std::string &p, int colour) {
        int n = 0;
        for (int y = 10; y < 260; y++)
            for (int x = 10; x < 470; x++) n += (uint8_t)p[y * 480 + x] == colour;
        return n;
    }
};

TEST_F(BootScreen, FramesGrowFromTheTopLeftCornerAndStayInTheirColours) {
    std::string first = at_frame(0);
    EXPECT_EQ(colours(first), std::set<int>{0});   // s = -1: nothing yet

    // at 697 ms the paths have started along the top and left edges only
    std::string early = at_frame(42);
    EXPECT_NE(px(early, 0, 0), 0);
    EXPECT_NE(px(early, 3, 3), 0);
    EXPECT_NE(px(early, 6, 6), 0);
    EXPECT_EQ(px(early, 479, 269), 0);
    EXPECT_EQ(px(early, 479, 0), 0);
    for (int c : colours(early)) EXPECT_TRUE(c == 0 || (c >= 8 && c <= 19)) << c;

    // from 1 s on the first halves have run out and the second halves are
    // drawn to the bottom-right corners
    std::string second = at_frame(61);
    EXPECT_EQ(px(second, 0, 0), 0);
    EXPECT_EQ(px(second, 479, 0), 0);
    for (int i = 0; i < 3; i++) {
        int bx = 479 - 3 * i, by = 269 - 3 * i;
        EXPECT_NE(px(second, bx, by), 0) << i;
        EXPECT_NE(px(second, bx, 135), 0) << i;
        EXPECT_NE(px(second, 240, by), 0) << i;
    }
    // and once both ends have passed the corner nothing is left of them
    std::set<int> late = colours(at_frame(150), 0, 190);
    EXPECT_EQ(late, std::set<int>{0});
}

TEST_F(BootScreen, TitleNoticeAndStatusAppearAtTheirTimes) {
    // 51 frames are 846.6 ms, 52 frames 863.2 ms
    EXPECT_EQ(count(at_frame(51), 7), 0);
    std::string titled = at_frame(52);
    EXPECT_GT(count(titled, 7), 100);
    EXPECT_EQ(count(titled, 6), 0);
    // the title's glyph and text start at x = 35, y = 200
    EXPECT_EQ(colours(titled, 0, 199).count(7), 0u);

    EXPECT_EQ(count(at_frame(60), 6), 0);    // 996 ms
    EXPECT_GT(count(at_frame(61), 6), 100);  // 1012.6 ms
    EXPECT_EQ(count(at_frame(66), 14), 0);   // 1095.6 ms
    EXPECT_GT(count(at_frame(67), 14), 20);  // 1112.2 ms
}

TEST_F(BootScreen, AlternativeColoursUseOnly28To30) {
    app.boot_alt_colours = 1;
    std::set<int> seen = colours(at_frame(45), 0, 190);
    seen.erase(0);
    ASSERT_FALSE(seen.empty());
    for (int c : seen) EXPECT_TRUE(c >= 28 && c <= 30) << c;
}

TEST_F(BootScreen, StatusLineNamesAStoppedSystemProcess) {
    std::string normal = at_frame(80);
    for (int i = 0; i < 2; i++) create_process_from_code("x = 1", "p", "p", "", "");
    Process *p2 = get_process(2);
    ASSERT_NE(p2, nullptr);
    EXPECT_EQ(at_frame(80), normal);   // running system processes change nothing
    p2->state = PSTATE_CRASHED;
    p2->time_frames = 1234;
    std::string stopped = at_frame(80);
    EXPECT_NE(stopped, normal);
    // the error line is longer than "booting.."
    auto right_edge = [](const std::string &p) {
        int r = 0;
        for (int y = 200; y < 270; y++)
            for (int x = 0; x < 470; x++)
                if ((uint8_t)p[y * 480 + x] == 14 && x > r) r = x;
        return r;
    };
    EXPECT_GT(right_edge(stopped), right_edge(normal) + 40);
}

TEST_F(BootScreen, SystemErrorCodeOfTheRootShowsTheErrorScreen) {
    create_process_from_code("x = 1", "root", "root", "", "");
    Process *root = get_process(1);
    ASSERT_NE(root, nullptr);
    poke_proc(root, 0, 5);
    std::string p = at_frame(80);
    std::set<int> seen = colours(p);
    EXPECT_EQ(seen, (std::set<int>{1, 14}));
    EXPECT_GT(count(p, 1), 460 * 240);
}

// The hand-over itself is tested with the video output; here the frame it
// shows meanwhile is the boot record's, through the system colours.
TEST_F(BootScreen, VideoOutputShowsTheBootFrame) {
    app.frame_count = 40;
    int w = 0, h = 0;
    uint32_t *f = generate_video_out(&w, &h);
    ASSERT_NE(f, nullptr);
    std::string px40 = at_frame(40);
    for (int y = 0; y < 270; y += 7)
        for (int x = 0; x < 480; x += 5)
            ASSERT_EQ(f[y * 480 + x], system_palette[px(px40, x, y)]) << x << "," << y;
}

}  // namespace
