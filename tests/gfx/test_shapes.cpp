// Shape primitives: edge cases, lines against the plain walk, each pixel
// composed once, camera and clip for every primitive, batch forms, charges.
#include <cmath>
#include <random>

#include "gfx/gfx_fixture.h"

namespace {

struct GfxShapes : GfxTest {
    // A bigger target for shapes that need room.
    void big_target(int w, int h)
    {
        run("BIG = userdata('u8', " + std::to_string(w) + ", " + std::to_string(h) + ") _set_draw_target(BIG)");
    }
    // Mirror symmetry of the drawn pixels about the box's centre.
    bool symmetric(int x0, int y0, int x1, int y1)
    {
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                if (px(x, y) != px(x0 + x1 - x, y) || px(x, y) != px(x, y0 + y1 - y))
                    return false;
        return true;
    }
};

TEST_F(GfxShapes, LineEdgeCasesAndContinuation)
{
    run("line(0, 0, 0, 0, 1)");
    EXPECT_EQ(count(1), 1);
    run("cls() line(0, 0, 7, 3, 1)");
    std::string forward = picture();
    EXPECT_EQ(count(1), 8);
    for (int x = 0; x < 8; x++) {
        int in_column = 0;
        for (int y = 0; y < 24; y++)
            in_column += px(x, y);
        EXPECT_EQ(in_column, 1) << x;
    }
    run("cls() line(7, 3, 0, 0, 1)");
    EXPECT_EQ(picture(), forward);
    EXPECT_EQ(charge(lua54_line, {0, 0, 7, 3}), 8);
    // a walk step that lands exactly on the clip's top edge is inside
    run("cls() clip(0, 5, 32, 19) line(0, 0, 20, 10, 1) clip()");
    EXPECT_EQ(px(9, 5), 1);
    EXPECT_EQ(count(1), 12);

    run("cls() line() line(10, 10, 1)");
    EXPECT_EQ(count(1), 0);
    run("line(20, 10)");
    EXPECT_EQ(count(1), 11);
    for (int x = 10; x <= 20; x++)
        EXPECT_EQ(px(x, 10), 1);
    // the end point is kept before the camera
    run("cls() camera(2, 0) line(2) line(5, 5) line(9, 5) camera()");
    EXPECT_EQ(peek4(0x5520), 9u);
    EXPECT_EQ(count(2), 5);
    EXPECT_EQ(px(3, 5) + px(7, 5), 4);
}

TEST_F(GfxShapes, ClippedLinesPlotExactlyTheWalkInsideTheClip)
{
    big_target(64, 48);
    std::mt19937 rng(77);
    auto r = [&](int lo, int hi) { return lo + (int)(rng() % (uint32_t)(hi - lo + 1)); };
    for (int round = 0; round < 600; round++) {
        int cx0 = r(0, 30), cy0 = r(0, 20), cx1 = r(cx0, 64), cy1 = r(cy0, 48);
        int far = round % 3 ? 20 : 150;   // mostly near the clip, where edges are met
        int64_t x0 = r(-far, 64 + far), y0 = r(-far, 48 + far), x1 = r(-far, 64 + far), y1 = r(-far, 48 + far);
        if (round % 2) {   // slopes of 1/2, 1/4, 2 and 4 meet the clip edges exactly
            int m = 1 << r(1, 2);
            if (round % 4 == 1)
                x1 = x0 + (y1 - y0) * m * (r(0, 1) ? 1 : -1);
            else
                y1 = y0 + (x1 - x0) * m;
        }
        run("cls() clip(" + std::to_string(cx0) + "," + std::to_string(cy0) + "," + std::to_string(cx1 - cx0) +
            "," + std::to_string(cy1 - cy0) + ")");
        GfxCtx c;
        ASSERT_TRUE(gfx_begin(p, &c));
        int64_t plotted = draw_line(&c, x0, y0, x1, y1, 1);

        // the unclipped walk, filtered
        std::vector<uint8_t> want(64 * 48);
        if (y1 < y0)
            std::swap(x0, x1), std::swap(y0, y1);
        int64_t dx = x1 - x0, dy = y1 - y0, n = std::max(std::abs(dx), dy);
        int64_t sx = n ? dx * 65536 / n : 0, sy = n ? dy * 65536 / n : 0;
        int64_t inside = 0;
        for (int64_t k = 0; k <= n; k++) {
            int64_t x = (int64_t)std::floor((x0 * 65536.0 + 32768 + k * sx) / 65536);
            int64_t y = (int64_t)std::floor((y0 * 65536.0 + 32768 + k * sy) / 65536);
            if (x >= cx0 && x < cx1 && y >= cy0 && y < cy1)
                want[y * 64 + x] = 1, inside++;
        }
        uint8_t *pix = ud_data(target());
        ASSERT_EQ(want, std::vector<uint8_t>(pix, pix + want.size()))
            << "round " << round << ": " << x0 << "," << y0 << " - " << x1 << "," << y1;
        EXPECT_EQ(plotted, inside);
    }
}

TEST_F(GfxShapes, EdgeCasesOfRectanglesAndOvals)
{
    counting_table();
    run("rect(5, 5, 5, 5, 1)");
    EXPECT_EQ(count(1), 1);
    run("cls() rect(0, 0, 4, 1, 1)");
    EXPECT_EQ(count(1), 10);
    run("cls() rect(3, 0, 3, 6, 1) rrect(8, 0, 1, 7, 0, 1)");
    EXPECT_EQ(count(1), 14) << "one-pixel-wide boxes compose each pixel once";
    EXPECT_EQ(count(2), 0);

    run("cls() circfill(10, 10, 0, 1)");
    EXPECT_EQ(count(1), 1);
    run("cls() circ(10, 10, 1, 1)");
    EXPECT_EQ(count(1), 4);
    EXPECT_EQ(px(10, 9) + px(9, 10) + px(11, 10) + px(10, 11), 4);
    run("cls() ovalfill(0, 0, 3, 3, 1)");
    int rows[4] = {2, 4, 4, 2};
    for (int y = 0; y < 4; y++)
        EXPECT_EQ(px(0, y) + px(1, y) + px(2, y) + px(3, y), rows[y]) << y;
    run("cls() rrect(0, 0, 10, 10, 100, 1)");
    std::string clamped = picture();
    run("cls() rrect(0, 0, 10, 10, 4, 1)");
    EXPECT_EQ(picture(), clamped);
    EXPECT_GT(count(1), 20);
    run("cls() rrect(0, 0, 10, 10, 3, 1)");
    EXPECT_NE(picture(), clamped);
}

TEST_F(GfxShapes, OvalsAreSymmetricGaplessAndComposedOnce)
{
    counting_table();
    for (int w = 0; w <= 14; w++)
        for (int h = 0; h <= 12; h++) {
            int x0 = 2, y0 = 2, x1 = x0 + w, y1 = y0 + h;
            std::string box = std::to_string(x0) + "," + std::to_string(y0) + "," + std::to_string(x1) + "," +
                              std::to_string(y1);
            run("cls() ovalfill(" + box + ", 1)");
            ASSERT_EQ(count(2), 0) << "fill " << w << "x" << h;
            ASSERT_TRUE(symmetric(x0, y0, x1, y1)) << "fill " << w << "x" << h;
            for (int y = y0; y <= y1; y++) {   // every row one run through the centre
                int first = -1, last = -1, n = 0;
                for (int x = x0; x <= x1; x++)
                    if (px(x, y))
                        first = first < 0 ? x : first, last = x, n++;
                ASSERT_TRUE(n > 0 && n == last - first + 1) << "fill " << w << "x" << h << " row " << y;
            }
            std::string fill = picture();
            run("cls() oval(" + box + ", 1)");
            ASSERT_EQ(count(2), 0) << "outline " << w << "x" << h;
            ASSERT_TRUE(symmetric(x0, y0, x1, y1)) << "outline " << w << "x" << h;
            for (int i = 0; i < 32 * 24; i++)   // the outline lies within the fill
                ASSERT_TRUE(!ud_data(target())[i] || fill[i + i / 32] == '1') << w << "x" << h;
        }
    for (int w = 1; w <= 16; w++)
        for (int r = 0; r <= 5; r++) {
            std::string args = "2, 2, " + std::to_string(w) + ", " + std::to_string(w / 2 + 3) + ", " +
                               std::to_string(r) + ", 1)";
            run("cls() rrectfill(" + args);
            ASSERT_EQ(count(2), 0) << "rrectfill " << args;
            ASSERT_TRUE(symmetric(2, 2, 2 + w - 1, 2 + w / 2 + 2)) << "rrectfill " << args;
            run("cls() rrect(" + args);
            ASSERT_TRUE(symmetric(2, 2, 2 + w - 1, 2 + w / 2 + 2)) << "rrect " << args;
        }
}

TEST_F(GfxShapes, CameraAndClipApplyToEveryPrimitive)
{
    const char *calls[] = {
        "pset(%d + 3, %d + 4)", "line(%d - 5, %d + 2, %d + 40, %d + 19)", "rect(%d + 1, %d + 1, %d + 20, %d + 15)",
        "rectfill(%d + 2, %d + 3, %d + 25, %d + 30)", "oval(%d - 3, %d + 1, %d + 27, %d + 20)",
        "ovalfill(%d - 3, %d + 1, %d + 27, %d + 20)", "circ(%d + 12, %d + 10, 9)", "circfill(%d + 12, %d + 10, 13)",
        "rrect(%d + 1, %d + 2, 28, 19, 6)", "rrectfill(%d + 1, %d + 2, 28, 19, 6)",
        "rectfill(%d + 2, %d + 3, %d + 25, %d + 30, 0x800000000 | 0x0706)",
        "circfill(%d + 12, %d + 10, 6, 0x800000000 | 0x0706)", "rrectfill(%d + 1, %d + 2, 28, 19, 6, 0x800000000 | 0x0B0A)",
        "line(%d + 1, %d + 1) line(%d + 30, %d + 20)",
    };
    for (const char *call : calls) {
        char plain[160], moved[160];
        snprintf(plain, sizeof plain, call, 0, 0, 0, 0);
        snprintf(moved, sizeof moved, call, -37, 1000, -37, 1000);
        run(std::string("cls() clip() fillp(0x5A3C) color(0x0906) camera() line() ") + plain);
        std::vector<uint8_t> want(ud_data(target()), ud_data(target()) + 32 * 24);
        for (int i = 0; i < 32 * 24; i++)
            if (i % 32 < 5 || i % 32 >= 27 || i / 32 < 3 || i / 32 >= 20)
                want[i] = 0;
        run(std::string("cls() clip(5, 3, 22, 17) camera(-37, 1000) line() ") + moved);
        ASSERT_EQ(want, std::vector<uint8_t>(ud_data(target()), ud_data(target()) + 32 * 24)) << call;
    }
}

TEST_F(GfxShapes, RowsGiveTheSamePixelsAsTheWalk)
{
    big_target(200, 150);
    counting_table();
    std::mt19937 rng(5);
    auto r = [&](int lo, int hi) { return std::to_string(lo + (int)(rng() % (uint32_t)(hi - lo + 1))); };
    for (int round = 0; round < 300; round++) {
        std::string box = r(-40, 120) + "," + r(-40, 100) + "," + r(-40, 240) + "," + r(-40, 190);
        std::string calls = "cls() clip(" + r(0, 60) + "," + r(0, 40) + "," + r(60, 200) + "," + r(40, 150) +
                            ") oval(" + box + ", 1) ovalfill(" + box + ", 0x800000002) rrect(" + box +
                            ", " + r(0, 60) + ") circfill(" + r(0, 200) + "," + r(0, 150) + "," + r(0, 90) +
                            ") rrectfill(" + box + ", " + r(0, 60) + ", 0x800000000 | 3)";
        gfx_ellipse_method = GFX_ELLIPSE_WALK;
        run(calls);
        std::vector<uint8_t> walk(ud_data(target()), ud_data(target()) + 200 * 150);
        gfx_ellipse_method = GFX_ELLIPSE_ROWS;
        run(calls);
        ASSERT_EQ(walk, std::vector<uint8_t>(ud_data(target()), ud_data(target()) + 200 * 150)) << calls;
    }
}

TEST_F(GfxShapes, BatchForms)
{
    run("D = userdata('f64', 3, 4) D:set(0, 0, 1,1,7, 2,2,8, 3,3,9, 4,4,10) pset(D)");
    EXPECT_EQ(px(1, 1) + px(2, 2) + px(3, 3) + px(4, 4), 34);
    run("cls() color(5) pset(D, 3, 2, 2, 3)");   // records 1 and 2, x and y only
    EXPECT_EQ(count(5), 2);
    EXPECT_EQ(px(2, 2) + px(3, 3), 10);
    run("cls() pset(D, 7, 9, 3, 3)");            // stops before the record at 10
    EXPECT_EQ(count(0), 32 * 24 - 1);
    EXPECT_EQ(px(3, 9), 4);

    run("cls() line(0, 0, 0, 0, 1) P = userdata('f64', 2, 2) P:set(0, 0, 5, 0, 5, 5) line(P)");
    EXPECT_EQ(count(1), 11);
    EXPECT_EQ(px(5, 0) + px(5, 5) + px(3, 0), 3);

    run("cls() R = userdata('f64', 5, 2) R:set(0, 0, 0,0,3,3,0x800000007, 1,1,2,2,7) rectfill(R)");
    EXPECT_EQ(count(7), 32 * 24 - 16 + 4) << "the invert flag is reset for every record";

    run("cls() C = userdata('f64', 2, 1) C:set(0, 0, 10, 10) color(3) circfill(C)");
    run("circfill(20, 10, 4, 4)");
    int default_radius = count(3);
    EXPECT_EQ(default_radius, count(4));

    EXPECT_EQ(charge(lua54_pset, {1, 1, 1}), 0) << "pset charges nothing";
}

TEST_F(GfxShapes, Charges)
{
    EXPECT_EQ(charge(lua54_rectfill, {0, 0, 9, 9, 1}), 10 * (9 / 2 + 2) / 3);
    poke(0x550B, 0xFF);
    EXPECT_EQ(charge(lua54_rectfill, {0, 0, 9, 9, 1}), 10 * (9 * 3 / 4 + 2) / 3);
    poke(0x550B, 0x3F);
    EXPECT_EQ(charge(lua54_rectfill, {0, 0, 9, 9, 0x4001}), 10 * (9 * 3 / 4 + 2) / 3) << "pen with bit 6";
    run("cls()");
    int full = charge(lua54_oval, {0, 0, 20, 15, 1});
    EXPECT_EQ(full, count(1)) << "oval charges every pixel";
    EXPECT_EQ(charge(lua54_rect, {0, 0, 9, 9, 2}), 36 / 3);
}

} // namespace
