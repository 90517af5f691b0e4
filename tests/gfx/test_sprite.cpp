// Sprites: flips and clipping, transparency, the sprite target mask and
// pattern tables, row shortcuts against the rule, sspr scaling and source
// clipping, the sprite table and flags, batches, blit and charges.
#include <random>
#include <vector>

#include "gfx/test_sprite_fixture.h"

namespace {

struct GfxSprite : GfxSpriteTest {
    void SetUp() override
    {
        GfxSpriteTest::SetUp();
        run("_set_spr(1, bmp(4, 2, '12345678')) B = bmp(2, 2, '1234') R = bmp(4, 1, '1234')");
    }
};

TEST_F(GfxSprite, FlipsClippingAndCamera)
{
    check({{"spr(1, 2, 3)", 1, 3, 6, 2, ".1234.|.5678."},
           {"spr(1, 2, 3, true)", 2, 3, 4, 2, "4321|8765"},
           {"spr(1, 2, 3, false, true)", 2, 3, 4, 2, "5678|1234"},
           {"spr(1, 2, 3, true, true)", 2, 3, 4, 2, "8765|4321"},
           // off the left edge: the right half, or flipped the left half mirrored
           {"spr(1, -2, 0)", 0, 0, 3, 2, "34.|78."},
           {"spr(1, -2, 0, true)", 0, 0, 3, 2, "21.|65."},
           {"spr(1, 30, 23, false, true)", 29, 22, 3, 2, "...|.56"},
           {"clip(1, 1, 2, 1) spr(1, 0, 0) clip()", 0, 0, 4, 2, "....|.67."},
           {"camera(-5, -6) spr(1, 0, 0) camera()", 5, 6, 4, 2, "1234|5678"},
           // a bitmap given directly; one that is not u8 draws nothing
           {"spr(bmp(2, 1, 'ab'), 0, 0) spr(userdata('i16', 2, 2), 0, 1)", 0, 0, 3, 2, "ab.|..."}});
}

TEST_F(GfxSprite, TransparencyTargetMaskPatternAndWriteMask)
{
    check({{"_set_spr(2, bmp(4, 1, '1.2.')) cls(9) spr(2, 0, 0)", 0, 0, 4, 1, "1929"},
           {"cls(9) palt(0, false) spr(2, 0, 0)", 0, 0, 4, 1, "1.2."},
           {"cls(9) palt() palt(2, true) spr(2, 0, 0) palt()", 0, 0, 4, 1, "1999"}});
    // row 1 of table 0 shows which target bits were looked up: the sprite
    // target mask's, not the pen's
    for (int t = 0; t < 64; t++)
        poke(0x8000 + 64 + t, (uint8_t)(32 + t));
    run("_set_spr(3, bmp(1, 1, '1')) cls(0x17) poke(0x550a, 0x0f) poke(0x550b, 0) spr(3, 0, 0)");
    EXPECT_EQ(px(0, 0), 32 + 7);
    run("pal() poke(0x550a, 0x3f, 0x3f)");
    // where the pattern bit is set, tables 2-3 (by default: target kept)
    run("_set_spr(4, bmp(8, 8, string.rep('5', 64))) cls(9) fillp(0x8000) spr(4, 0, 0) fillp()");
    EXPECT_EQ(area(0, 0, 8, 1), "95559555");
    EXPECT_EQ(count(5), 60);
    // source bits 6-7 choose table 1 unless the source mask drops them
    run("S5 = userdata('u8', 1, 1) S5[0] = 0x45 _set_spr(5, S5) cls(9) poke(0x5508, 0xff) spr(5, 0, 0)");
    EXPECT_EQ(px(0, 0), 9);
    run("cls(9) poke(0x5508, 0x3f) spr(5, 0, 0)");
    EXPECT_EQ(px(0, 0), 5);
    // write mask 0x0f: the target keeps its upper bits
    run("S5[0] = 10 cls(0x37) poke(0x5509, 0x0f) spr(5, 0, 0) poke(0x5509, 0x3f)");
    EXPECT_EQ(px(0, 0), 0x3A);
}

// Sprite pixels through the row shortcuts and through the rule pixel by
// pixel agree, on random tables, masks, patterns, flips and edges.
TEST_F(GfxSprite, ShortcutsMatchTheRule)
{
    std::mt19937 rng(99);
    auto rnd = [&](int n) { return (int)(rng() % (uint32_t)n); };
    auto pick = [&](std::initializer_list<int> v) { return (uint8_t)(rnd(4) ? v.begin()[rnd((int)v.size())] : rnd(256)); };
    run("S = userdata('u8', 11, 7) _set_spr(7, S) M = userdata('i16', 4, 3) "
        "for i = 0, 11 do M[i] = 7 | ((i * 0x2000) & 0xe000) end");
    lua_getglobal(L, "S");
    uint8_t *s = ud_data(ud_check(L, -1));
    lua_pop(L, 1);
    uint8_t *t = ud_data(target());
    auto draw = [&](const std::vector<uint8_t> &start, GfxSpriteMethod m, const std::string &code) {
        std::copy(start.begin(), start.end(), t);
        gfx_sprite_method = m;
        run(code);
        gfx_sprite_method = GFX_SPRITE_AUTO;
        return std::vector<uint8_t>(t, t + 32 * 24);
    };
    for (int round = 0; round < 300; round++) {
        for (uint32_t a = 0x8000; a < 0xC000; a++)
            poke(a, (uint8_t)rnd(256));
        poke(0x5508, pick({0x3F, 0xFF, 0x0F}));
        poke(0x5509, pick({0x3F, 0xFF, 0}));
        poke(0x550A, pick({0x3F, 0, 0xFF, 0xC0}));
        for (int r = 0; r < 8; r++)
            poke(0x5500 + r, rnd(2) ? pick({0, 0xFF}) : 0);
        for (int i = 0; i < 77; i++)
            s[i] = (uint8_t)(rnd(3) ? rnd(256) : 0);
        std::vector<uint8_t> start(32 * 24);
        for (uint8_t &v : start)
            v = (uint8_t)rnd(256);
        // a sprite, flipped or not, and the other users of sprite pixels
        int x = rnd(40) - 8, y = rnd(30) - 6;
        auto n = [](int v) { return std::to_string(v) + ", "; };
        std::string code = "spr(7, " + n(x) + n(y) + (rnd(2) ? "true, " : "false, ") + (rnd(2) ? "true" : "false") +
                           ") sspr(7, 1, 1, 9, 5, " + n(x) + "2, " + n(rnd(50) - 25) + "17) _draw_map(M, 0, 0, " +
                           n(x) + "1, 4, 3, 0, " + n(rnd(14) + 1) + "6) tline3d(7, 0, " + n(y) + "31, " +
                           n(rnd(24)) + "0, 0, 11, 7, 1, " + std::to_string(rnd(4) + 1) + ")";
        ASSERT_EQ(draw(start, GFX_SPRITE_PIXEL, code), draw(start, GFX_SPRITE_AUTO, code)) << round << ": " << code;
    }
}

TEST_F(GfxSprite, SsprScales)
{
    check({{"sspr(B, 0, 0, 2, 2, 0, 0, 4, 4)", 0, 0, 5, 5, "1122.|1122.|3344.|3344.|....."},
           // a negative size draws mirrored to the left of (above) dx
           {"sspr(B, 0, 0, 2, 2, 8, 0, -4, 4)", 3, 0, 6, 2, ".2211.|.2211."},
           {"sspr(B, 0, 0, 2, 2, 0, 8, 4, -4)", 0, 4, 4, 4, "3344|3344|1122|1122"},
           {"sspr(B, 0, 0, 2, 2, 0, 0, 4, 2)", 0, 0, 5, 3, "1122.|3344.|....."},
           // shrinking takes the texel at each destination pixel's centre
           {"sspr(bmp(4, 4, '123456789abcdefg'), 0, 0, 4, 4, 0, 0, 2, 2)", 0, 0, 3, 3, "68.|eg.|..."},
           {"sspr(1) sspr(1, 0, 0, 4, 2, 0, 3, 4, 2, true, true)", 0, 0, 4, 5, "1234|5678|....|8765|4321"},
           {"clip(1, 1, 2, 2) sspr(B, 0, 0, 2, 2, 0, 0, 4, 4) clip()", 0, 0, 4, 4, "....|.12.|.34.|...."},
           {"camera(-10, -10) sspr(B, 0, 0, 2, 2, 0, 0, 4, 4) camera()", 9, 10, 5, 2, ".1122|.1122"},
           {"sspr(B, 0, 0, 0, 2) sspr(B, 0, 0, 2, -1) sspr(B, 0, 0, 2, 2, 0, 0, 0, 5) sspr(77)", 0, 0, 2, 2, "..|.."}});
}

TEST_F(GfxSprite, SsprSourceOutsideTheBitmapIsCutWithItsDestination)
{
    // source columns -2..1 onto 10..17: nothing lands outside 10..17, and
    // the part that exists stays where it belongs (flipped: on the left)
    check({{"sspr(R, -2, 0, 4, 1, 10, 0, 8, 1)", 8, 0, 12, 1, "......1122.."},
           {"sspr(R, -2, 0, 4, 1, 10, 0, 8, 1, true)", 8, 0, 12, 1, "..2211......"},
           // columns 2..5 onto 0..7
           {"sspr(R, 2, 0, 4, 1, 0, 0, 8, 1)", 0, 0, 9, 1, "3344....."},
           {"sspr(R, 2, 0, 4, 1, 0, 0, 8, 1, true)", 0, 0, 9, 1, "....4433."},
           {"sspr(bmp(1, 2, '12'), 0, -2, 1, 4, 0, 0, 1, 8)", 0, 0, 1, 9, ".|.|.|.|1|1|2|2|."},
           {"sspr(R, -8, 0, 4, 1, 0, 0, 8, 1) sspr(R, 0, 5, 4, 1)", 0, 0, 8, 1, "........"}});
}

TEST_F(GfxSprite, SpriteTableAndFlags)
{
    // entries are set modulo 8192; unset entries and indexes past 16383 draw nothing
    check({{"_set_spr(8192 + 3, bmp(1, 1, 'a')) spr(3, 0, 0) spr(16384, 1, 0) spr(-1, 2, 0) spr(9, 3, 0)", 0, 0,
            4, 1, "a..."},
           // without a bitmap: the shared blank 16 x 16 sprite
           {"cls(9) _set_spr(5) spr(5, 0, 0) palt(0, false) spr(5, 1, 1) palt()", 15, 15, 3, 3, "..9|..9|999"}});
    // entries keep their bitmaps alive while they hold them
    run("cls() _set_spr(6, bmp(2, 1, '78')) collectgarbage() collectgarbage() "
        "for i = 1, 2000 do local t = userdata('u8', 2, 1) t[0] = 1 end collectgarbage() spr(6, 0, 0)");
    EXPECT_EQ(area(0, 0, 3, 1), "78.");

    EXPECT_EQ(run("fset(3, 0x81) return fget(3), fget(8192 + 3), fget(3, 7), fget(3, 1), fget(3, 8)"),
              "129,129,true,false,false");
    EXPECT_EQ(peek(0xC003), 0x81);
    EXPECT_EQ(run("fset(3, 1, true) fset(3, 7, false) fset(3, 9, true) fset(3) return fget(3)"), "3");
}

TEST_F(GfxSprite, BatchesBlitAndCharges)
{
    // index, x, y, flip_x, flip_y; no camera; negative flips; bad indexes skipped
    check({{"camera(9, 9) local b = userdata('f64', 5, 3) "
            "b:set(0, 0, 1, 0, 0, 0, 0,  1, 5.7, 0, -1, -0.5,  -3, 0, 4, 0, 0) spr(b) camera()",
            0, 0, 9, 3, "1234.8765|5678.4321|........."}});
    // blit copies raw elements: onto itself one row down without smearing,
    // into the target through its clip and not its colour tables
    run("for i = 0, 31 do T[i] = i % 10 + 1 end blit(T, T, 0, 0, 0, 1, 32, 1)");
    EXPECT_EQ(area(0, 0, 12, 3), "123456789a12|123456789a12|............");
    check({{"pal(3, 9) clip(2, 0, 2, 5) blit(R, nil, 0, 0, 0, 0) clip() pal()", 0, 0, 5, 1, "..34."}});
    // into another bitmap the target's clip does not apply and is kept
    EXPECT_EQ(run("clip(0, 0, 1, 1) D = userdata('u8', 4, 1) blit(R, D) return clip()"), "0,0,1,1");
    EXPECT_EQ(run("return D:get(0, 0, 4)"), "1,2,3,4");

    run("_set_spr(8, bmp(8, 8, string.rep('3', 64)))");
    // opaque: the pixels halved, / 3; nothing drawn costs the least charge
    EXPECT_EQ(charge(lua54_spr, {8, -4, 0}), 32 / 2 / 3);
    EXPECT_EQ(charge(lua54_spr, {8, 40, 0}), 1);
    EXPECT_EQ(charge(lua54_sspr, {8, 0, 0, 8, 8, 0, 0, 16, 16}), 16 * 8 / 3);
    run("fillp(1)");
    EXPECT_EQ(charge(lua54_spr, {8, 0, 0}), 64 / 3);
}

} // namespace
