// Hostile arguments: extreme, non-finite and non-numeric values never write
// outside the target, never take long, and (under the sanitizer build)
// never overflow.

#include "gfx/gfx_fixture.h"

namespace {

struct GfxHostile : GfxTest {
    // The target is the front of a larger block whose tail must stay as is.
    void SetUp() override
    {
        GfxTest::SetUp();
        guard_target();
    }
};

TEST_F(GfxHostile, RandomExtremeArgumentsToEveryFunction)
{
    double t = seconds(R"(
        local vals = {math.maxinteger, math.mininteger, 1/0, -1/0, 0/0, 2^53, -2^53, 2^31, -2^31 - 1,
                      0x7fffffff, 1e300, -1e300, "zz", "1e400", "12", {}, true, -1, 0, 1, 5, 16, 100, -100,
                      0x800000007, 0x1ffffffff}
        local fns = {pset, pget, line, rect, rectfill, circ, circfill, oval, ovalfill, rrect, rrectfill,
                     clip, camera, fillp, pal, palt, cursor, color}
        math.randomseed(5)
        for i = 1, 30000 do
            if i % 50 == 0 then camera() clip() pal() palt() end
            local a, n = {}, math.random(0, 8)
            for j = 1, n do a[j] = vals[math.random(#vals)] end
            fns[math.random(#fns)](table.unpack(a, 1, n))
        end
    )");
    EXPECT_TRUE(tail_intact());
    EXPECT_LT(t, 20.0);
}

TEST_F(GfxHostile, HugeShapesAreDrawnFromTheClipAlone)
{
    double t = seconds(R"(
        for i = 1, 200 do
            circfill(16, 12, 1e9, 1)
            circ(16, 12, 1e9, 2)
            circ(16, 12 + 2^30, 2^30, 3)
            oval(math.mininteger, 5, math.maxinteger, 9, 4)
            rrect(-1e9, -1e9, 2e9, 2e9, 1e9, 5)
            line(math.mininteger, math.mininteger, math.maxinteger, math.maxinteger, 6)
        end
    )");
    EXPECT_LT(t, 5.0);
    EXPECT_EQ(count(2), 0) << "the circle around the target misses it";
    EXPECT_EQ(px(16, 12), 3) << "top of a huge circle";
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 32; x++)
            ASSERT_NE(px(x, y), 3);

    run("cls() circfill(16, 12, 1e9, 1) ovalfill(-2^31, -2^31, 2^31, 2^31, 2)");
    EXPECT_EQ(count(2), 32 * 24);
    run("cls() rrectfill(-1e9, -1e9, 2e9, 2e9, 1e9, 3)");
    EXPECT_EQ(count(3), 32 * 24);
    run("cls() rrectfill(-1e9, -1e9, 2e9, 2e9, 1e9, 0x800000003)");
    EXPECT_EQ(count(3), 0);
    EXPECT_TRUE(tail_intact());
}

TEST_F(GfxHostile, BatchRecordsAndArguments)
{
    double t = seconds(R"(
        B = userdata('f64', 5, 4)
        B:set(0, 0, 0/0, 1/0, -1/0, 1e300, -1e300, 2^63, -2^63, 5, 5, 0x800000007,
                    3, 4, 1e9, 7, 2, -5, -5, 40, 30, 0x100000000 | 0x12345678)
        local forms = {{}, {math.mininteger}, {0, math.maxinteger}, {0, 4, 5, -3}, {15, 4, 5, -5},
                       {0, 1000, 5, 0}, {0, 4, math.maxinteger, math.maxinteger}, {math.maxinteger, 1},
                       {-5, 4}, {0, 4, -2, 1}, {0, 0/0, 1/0, -1/0}, {"x", {}, true}}
        for _, f in ipairs({pset, line, rectfill, circ, circfill}) do
            for _, args in ipairs(forms) do f(B, table.unpack(args)) end
        end
        pset(H) line(H) rectfill(H) circ(H) circfill(H)
    )");
    EXPECT_LT(t, 10.0);
    EXPECT_TRUE(tail_intact());
}

} // namespace
