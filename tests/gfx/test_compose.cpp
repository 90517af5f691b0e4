// The pixel-composition rule: pen pixels against a model of the rule on
// random states, row shortcuts against per-pixel composition, sprite
// pixels, and the invert flag of filled shapes.
#include <algorithm>
#include <random>
#include <vector>

#include "gfx/gfx_fixture.h"

namespace {

struct GfxCompose : GfxTest {
    std::mt19937 rng{1234};
    int rnd(int n) { return (int)(rng() % (uint32_t)n); }

    // One of a few interesting values, or a random byte.
    uint8_t pick(std::initializer_list<int> special)
    {
        int i = rnd((int)special.size() + 1);
        return (uint8_t)(i < (int)special.size() ? special.begin()[i] : rnd(256));
    }

    void randomise_state()
    {
        for (uint32_t a = 0x8000; a < 0xC000; a++)
            poke(a, (uint8_t)rnd(256));
        poke(0x5508, pick({0x3F, 0xFF}));
        poke(0x5509, pick({0xFF, 0x3F, 0}));
        poke(0x550B, pick({0, 0x3F, 0xFF}));
        for (int r = 0; r < 8; r++)
            poke(0x5500 + r, pick({0, 0xFF}));
        for (int i = 0; i < 32 * 24; i++)
            ud_data(target())[i] = (uint8_t)rnd(256);
    }

    // The rule, step by step, from the registers.
    uint8_t model(uint8_t d, int x, int y, int pen)
    {
        bool bit = (peek(0x5500 + (y & 7)) >> (x & 7)) & 1;
        int s = (bit ? pen >> 8 : pen) & 0xFF & peek(0x5508);
        int t = d & peek(0x550B);
        int k = ((s | t) >> 6) & 3;
        uint8_t r = peek(0x8000 + k * 0x1000 + (s & 63) * 64 + (t & 63));
        uint8_t wm = peek(0x5509);
        return (uint8_t)((r & wm) | (d & ~wm));
    }
};

TEST_F(GfxCompose, PenPixelsFollowTheRule)
{
    for (int round = 0; round < 40; round++) {
        randomise_state();
        for (int i = 0; i < 50; i++) {
            int x = rnd(32), y = rnd(24), pen = rnd(0x10000);
            uint8_t expect = model((uint8_t)px(x, y), x, y, pen);
            run("pset(" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(pen) + ")");
            ASSERT_EQ(px(x, y), expect) << "round " << round << " pen " << pen;
        }
    }
}

TEST_F(GfxCompose, RowShortcutsMatchPerPixelComposition)
{
    std::vector<uint8_t> start(32 * 24), fast(32 * 24);
    for (int round = 0; round < 400; round++) {
        randomise_state();
        int pen = rnd(2) ? rnd(0x10000) : (rnd(64) | rnd(64) << 8);
        int y = rnd(24), x0 = rnd(40) - 4, x1 = x0 + rnd(40);
        uint8_t *pix = ud_data(target());
        memcpy(start.data(), pix, start.size());

        GfxCtx c;
        ASSERT_TRUE(gfx_begin(p, &c));
        ASSERT_TRUE(c.fast);
        int64_t cost_fast = draw_hline(&c, x0, x1, y, pen);
        memcpy(fast.data(), pix, fast.size());
        memcpy(pix, start.data(), start.size());
        c.fast = false;
        int64_t cost_slow = draw_hline(&c, x0, x1, y, pen);
        ASSERT_EQ(fast, std::vector<uint8_t>(pix, pix + fast.size()))
            << "round " << round << " tmask " << (int)c.tmask << " wmask " << (int)c.wmask;
        EXPECT_EQ(cost_fast, cost_slow);
    }
}

// States that reach every row shortcut: table rows that are constant over
// the entries a target mask can reach (so a pen byte has one result), odd
// target masks, partial write masks and mixed fill patterns.
TEST_F(GfxCompose, FilledRectanglesMatchTheRuleOnEveryPath)
{
    std::vector<uint8_t> start(32 * 24);
    for (int round = 0; round < 600; round++) {
        randomise_state();
        if (round % 4 == 0) {
            run("pal()");   // the default tables: opaque and transparent rows
        } else {
            // row entry t depends only on the bits of t outside a random mask
            for (uint32_t r = 0; r < 256; r++) {
                if (rnd(2))
                    continue;
                int keep = rnd(2) ? 0x3F : rnd(64);
                uint8_t vals[64];
                for (uint8_t &v : vals)
                    v = (uint8_t)rnd(256);
                for (int t = 0; t < 64; t++)
                    poke(0x8000 + r * 64 + t, vals[t & ~keep & 63]);
            }
        }
        poke(0x5508, pick({0x3F, 0xFF, 0x7F}));
        poke(0x5509, pick({0xFF, 0x3F, 0, 0xC0}));
        poke(0x550B, pick({0, 0x3F, 0xFF, 0x0F, 0xC0, 0x7F}));
        for (int r = 0; r < 8; r++)
            poke(0x5500 + r, pick({0, 0xFF, 0x5A}));
        if (rnd(3) == 0)   // one pattern row everywhere, or none
            for (int r = 1; r < 8; r++)
                poke(0x5500 + r, peek(0x5500));
        int pen = rnd(2) ? rnd(0x10000) : (rnd(4) << 14 | rnd(64) << 8 | rnd(4) << 6 | rnd(64));
        bool whole_rows = rnd(3) == 0;
        int x0 = whole_rows ? 0 : rnd(40) - 4, x1 = whole_rows ? 31 : x0 + rnd(40);
        int y0 = rnd(30) - 3, y1 = y0 + rnd(30);
        uint8_t *pix = ud_data(target());
        memcpy(start.data(), pix, start.size());

        GfxCtx c;
        ASSERT_TRUE(gfx_begin(p, &c));
        int64_t cost_fast = rectfill(&c, x0, y0, x1, y1, pen);
        for (int y = 0; y < 24; y++)
            for (int x = 0; x < 32; x++) {
                uint8_t d = start[y * 32 + x];
                bool inside = x >= std::min(x0, x1) && x <= std::max(x0, x1) && y >= y0 && y <= y1;
                ASSERT_EQ(px(x, y), inside ? model(d, x, y, pen) : d)
                    << "round " << round << " at " << x << "," << y << " tmask " << (int)c.tmask << " wmask "
                    << (int)c.wmask << " pen " << pen;
            }
        // the rule pixel by pixel, without shortcuts, agrees too
        std::vector<uint8_t> fast(pix, pix + start.size());
        memcpy(pix, start.data(), start.size());
        c.fast = false;
        EXPECT_EQ(rectfill(&c, x0, y0, x1, y1, pen), cost_fast);
        ASSERT_EQ(std::vector<uint8_t>(pix, pix + start.size()), fast) << "round " << round;
    }
}

TEST_F(GfxCompose, SpritePixelsUseTheSpriteMaskAndUpperTables)
{
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < 4096; i++)
            poke(0x8000 + k * 0x1000 + i, (uint8_t)(k + 1));
    poke(0x5508, 0xFF);
    poke(0x5509, 0xFF);
    poke(0x550B, 0xFF);   // the pen's target mask plays no part
    poke(0x550A, 0);
    poke(0x5500, 0x02);   // pattern bit at x = 1 of row 0
    GfxCtx c;
    ASSERT_TRUE(gfx_begin(p, &c));
    EXPECT_EQ(compose_sprite_pixel(&c, 5, 0xC0, 0, 0), 1);
    EXPECT_EQ(compose_sprite_pixel(&c, 5, 0xC0, 1, 0), 3);
    EXPECT_EQ(compose_sprite_pixel(&c, 0x45, 0xC0, 1, 0), 4);
    EXPECT_EQ(compose_sprite_pixel(&c, 0x45, 0xC0, 9, 8), 4) << "pattern repeats every 8";
    poke(0x550A, 0xFF);
    ASSERT_TRUE(gfx_begin(p, &c));
    EXPECT_EQ(compose_sprite_pixel(&c, 5, 0x80, 0, 0), 3);
    poke(0x5509, 0x0F);
    ASSERT_TRUE(gfx_begin(p, &c));
    EXPECT_EQ(compose_sprite_pixel(&c, 5, 0x80, 0, 0), 0x83) << "write mask keeps the high bits";
}

TEST_F(GfxCompose, InvertFillsTheOutsideOnce)
{
    counting_table();
    run("rectfill(2, 3, 5, 7, 0x800000007)");
    std::string outside = picture();
    EXPECT_EQ(count(1), 32 * 24 - 4 * 5);
    for (int y = 3; y <= 7; y++)
        for (int x = 2; x <= 5; x++)
            EXPECT_EQ(px(x, y), 0);
    run("cls() rectfill(5, 7, 2, 3, 0x800000007)");
    EXPECT_EQ(picture(), outside) << "swapped corners give the same outside";
    run("rectfill(0, 0, 1, 1, 7)");
    EXPECT_EQ(px(0, 0), 2) << "the next call without bit 35 is not inverted";

    // every inverted fill is the complement of the plain one in the clip
    const char *shapes[] = {"ovalfill(3, 2, 20, 15, %s)", "circfill(12, 11, 7, %s)", "circfill(12, 11, 1, %s)",
                            "rrectfill(2, 2, 25, 17, 5, %s)", "rrectfill(2, 2, 25, 17, 0, %s)",
                            "ovalfill(4, 4, 5, 20, %s)", "circfill(40, 11, 5, %s)"};
    for (const char *shape : shapes) {
        char plain[80], inverted[80];
        snprintf(plain, sizeof plain, shape, "7");
        snprintf(inverted, sizeof inverted, shape, "0x800000007");
        run(std::string("cls() clip(1, 1, 30, 20) ") + plain + " " + inverted);
        for (int y = 0; y < 24; y++)
            for (int x = 0; x < 32; x++) {
                bool in_clip = x >= 1 && x < 31 && y >= 1 && y < 21;
                ASSERT_EQ(px(x, y), in_clip ? 1 : 0) << shape << " at " << x << "," << y;
            }
    }
    run("cls() circfill(5, 5, -1, 0x800000007) rrectfill(0, 0, 0, 5, 2, 0x800000007)");
    EXPECT_EQ(count(2), 30 * 20) << "empty shapes fill the whole clip when inverted";
}

} // namespace
