// The locked mouse (virtual cursor, motion accumulators) and _warp_mouse.
#include <cmath>

#include "test_input_fixture.h"

namespace {

using Strings = std::vector<std::string>;

struct HostInputMouse : InputTest {
    // display pixels per window pixel across (k) and down (ky)
    double k = 480.0 / 888, ky = 270.0 / 500;

    void SetUp() override {
        InputTest::SetUp();
        frame({motion(500, 250)});   // display pixel (240, 135), the window centre
        messages();
    }
    static std::string mouse(double x, double y) {
        return "{event=\"mouse\",mx=" + std::to_string(std::lround(x)) + ",my=" + std::to_string(std::lround(y)) +
               ",mb=0}";
    }
    static std::string locked(int dx, int dy) {
        return "{event=\"mouselockedmove\",locked_dx=" + std::to_string(dx) + ",locked_dy=" + std::to_string(dy) + "}";
    }
};

TEST_F(HostInputMouse, LockedMotionMovesTheVirtualCursorAndCountsSteps) {
    input_lock_mouse_cursor(INPUT_MOUSE_LOCK_BIT, 64, 64);
    frame({motion(900, 100)});   // the first motion after locking is stale
    EXPECT_EQ(messages(), Strings{});

    frame({motion(510, 250)});
    int acc = (int)std::lround(64 * 10 * k);
    double cx = 240 + 10 * k;
    EXPECT_EQ(messages(), (Strings{mouse(cx, 135), locked(acc / 64, 0)}));
    EXPECT_EQ(input.host_x, 500) << "the host mouse goes back to the centre";

    // the remainder is kept, toward zero for moves to the left and up
    frame({motion(496, 246)});
    acc = acc % 64 + (int)std::lround(64 * -4 * k);
    int acc_y = (int)std::lround(64 * -4 * ky);
    cx -= 4 * k;
    ASSERT_LT(acc, 0);
    EXPECT_EQ(messages(), (Strings{mouse(cx, 135 - 4 * ky), locked(acc / 64, acc_y / 64)}));
    EXPECT_EQ(input.acc_x, acc % 64);

    // the cursor stops at the edge of the display; the steps do not
    frame({motion(999, 0)});
    Strings m = messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], mouse(479, 0));
}

TEST_F(HostInputMouse, SpeedFactorAndUnlocking) {
    input_lock_mouse_cursor(INPUT_MOUSE_LOCK_BIT, 0, 128);
    frame({motion(0, 0)});
    frame({motion(537, 250), motion(500, 250), motion(537, 250)});   // twice 37 window pixels
    double cx = 240 + 2 * 2 * 37 * k;
    EXPECT_EQ(messages(), Strings{mouse(cx, 135)}) << "twice the speed, no steps with factor 0";
    // unlocked, the host mouse is over the cursor's pixel: nothing changes
    input_lock_mouse_cursor(0, 64, 64);
    frame({motion(input.host_x, input.host_y)});
    EXPECT_EQ(messages(), Strings{});
    EXPECT_EQ(input.mx, std::lround(cx));
}

TEST_F(HostInputMouse, WarpMouseLandsOnTheGivenPixel) {
    // a picture smaller than the display cannot reach every pixel
    for (InputView v : {view, InputView{nullptr, 300, 200, {0, 15, 300, 169}, 480, 270, 0}}) {
        view = v;
        frame();   // warps go through the geometry of the frame they happen in
        EXPECT_EQ(eval(wm, "_warp_mouse(100, 50)"), "");
        frame({motion(input.host_x, input.host_y)});
        int slack = v.dest.w >= v.base_w ? 0 : 1;
        EXPECT_NEAR(input.mx, 100, slack);
        EXPECT_NEAR(input.my, 50, slack);
    }
    // the cursor stays on the display; values that are not numbers change nothing
    EXPECT_EQ(eval(wm, "_warp_mouse(1e300, -5) _warp_mouse(0/0, 3)"), "");
    EXPECT_EQ(input.cursor_x, view.base_w - 1);
    EXPECT_EQ(input.cursor_y, 0);

    // in full screen the host mouse is kept on the picture
    view = {nullptr, 1000, 500, {56, 0, 888, 500}, 480, 270, 1};
    frame({motion(10, 190)});
    input_lock_mouse_cursor(0, 64, 64);
    EXPECT_EQ(input.host_x, view.dest.x);
    EXPECT_EQ(input.host_y, 190);
}

}  // namespace
