// tline3d on cases worked out by hand: affine lines, direction, the last
// pixel, wrapping and offsets, perspective exact and stepped, the sub-pixel
// start, map textures, batches and charges.
#include "gfx/test_sprite_fixture.h"

namespace {

struct GfxSpriteTline : GfxSpriteTest {
    void SetUp() override
    {
        GfxSpriteTest::SetUp();
        run("R = bmp(8, 1, '12345678') Q = bmp(2, 8, '1a2b3c4d5e6f7g8h') _set_spr(1, R) "
            "_set_spr(2, bmp(8, 1, 'abcdefgh')) MT = userdata('i16', 2, 1) MT:set(0, 0, 1, 0x4002)");
    }
};

TEST_F(GfxSpriteTline, AffineLinesWrapAndOffsets)
{
    // w0 = w1 = 1; ub defaults to ua + (x1 - x0); u travels with its end point
    check({{"tline3d(R, 0, 0, 7, 0, 0, 0)", 0, 0, 9, 1, "12345678."},
           {"tline3d(R, 7, 0, 0, 0, 0, 0, 7, 0)", 0, 0, 8, 1, "87654321"},
           {"tline3d(Q, 3, 7, 3, 0, 1, 7, 1, 0)", 3, 0, 1, 8, "a|b|c|d|e|f|g|h"},
           {"tline3d(R, 0, 0, 5, 5, 0, 0, 2.5, 0)", 0, 0, 6, 6, "1.....|.1....|..2...|...2..|....3.|.....3"},
           {"tline3d(R, 0, 0, 7, 0, 0, 0, 7, 0, 1, 1, 0x100)", 0, 0, 8, 1, "1234567."},
           {"camera(-5, -2) tline3d(R, 0, 0, 2, 0, 4, 0) camera()", 4, 2, 5, 1, ".567."},
           // the wrap size masks u, the offset is added, the width masks the sum
           {"poke2(0x5534, 4) tline3d(R, 0, 0, 7, 0, 0, 0)", 0, 0, 8, 1, "12341234"},
           {"poke2(0x5530, 2) tline3d(R, 0, 0, 7, 0, 0, 0) poke2(0x5530, 0, 0, 0)", 0, 0, 8, 1, "34563456"},
           {"tline3d(R, 0, 0, 7, 0, 6, 0)", 0, 0, 8, 1, "78123456"},
           {"tline3d(R, 0, 0, 3, 0, -2, 0)", 0, 0, 4, 1, "7812"},
           // w not above 0, too few arguments, no texture: nothing
           {"tline3d(R, 0, 0, 7, 0, 0, 0, 7, 0, 0, 1) tline3d(R, 0, 0, 7, 0, 0, 0, 7, 0, 1, -2) tline3d(R, 0, 0) "
            "tline3d(99, 0, 0, 7, 0) tline3d(userdata('f64', 4, 4), 0, 0, 7, 0) tline3d(R, 0, 0, 7, 0, 0, 0, 7, 0, 0/0)",
            0, 0, 8, 1, "........"}});
}

TEST_F(GfxSpriteTline, PerspectiveAndMaps)
{
    // u/w along x 0..4 with u 0..12 and w 1..3 is 0, 2, 3, 3.6, 4 when
    // divided at every pixel; stepped, exact at the first pixel and eight
    // on (24 / 5 = 4.8), an eighth of the difference (0.6) a pixel between
    check({{"tline3d(R, 0, 0, 4, 0, 0, 0, 12, 0, 1, 3, 0x400)", 0, 0, 5, 1, "13445"},
           {"tline3d(R, 0, 0, 4, 0, 0, 0, 12, 0, 1, 3)", 0, 0, 5, 1, "11223"},
           {"tline3d(R, 0, 0, 7, 0, 0, 0, 14, 0, 2, 2)", 0, 0, 8, 1, "12345678"},
           // flag 0x200: u starts advanced by (1 - the start's fraction) steps
           {"tline3d(R, 0, 0, 7, 0, 0.5, 0, 7.5, 0, 1, 1, 0x200)", 0, 0, 8, 1, "23456781"},
           {"tline3d(R, 0.75, 0, 7.75, 0, 0.5, 0, 7.5, 0, 1, 1, 0x200)", 0, 0, 8, 1, "12345678"},
           // map textures: u in cells, cell 1 is sprite 2 flipped in x; a
           // cell without a sprite composes colour 0
           {"tline3d(MT, 0, 0, 16, 0, 0, 0, 2, 0, 1, 1, 0x100)", 0, 0, 17, 1, "12345678hgfedcba."},
           {"cls(9) MT[1] = 5 _set_spr(3, MT) palt(0, false) tline3d(3, 0, 0, 16, 0, 0, 0, 2, 0) palt()", 0, 0, 17,
            1, "12345678........1"},
           // batch: index & 0x1fff, x0, y0, x1, y1, ua, va, ub, vb, w0, w1,
           // flags, taken with their fractions and the camera
           {"camera(0, -2) local b = userdata('f64', 12, 2) "
            "b:set(0, 0, 8192 + 1, 0, 0, 3, 0, 0, 0, 3, 0, 1, 1, 0,  1, 0, 1, 4, 1, 0, 0, 12, 0, 1, 3, 0x400) "
            "tline3d(b) camera()",
            0, 2, 5, 2, "1234.|13445"}});
}

TEST_F(GfxSpriteTline, Charges)
{
    // u8 opaque: a third, or a half dividing at every pixel; other u8: 2/5
    // or 2/3; maps: 2/3 or all
    run("_set_spr(5, bmp(16, 1, string.rep('2', 16))) _set_spr(6, userdata('i16', 1, 1))");
    EXPECT_EQ(charge(lua54_tline3d, {5, 0, 0, 8, 0, 0, 0}), 9 / 3);
    EXPECT_EQ(charge(lua54_tline3d, {5, 0, 0, 8, 0, 0, 0, 8, 0, 1, 1, 0x400}), 9 / 2);
    EXPECT_EQ(charge(lua54_tline3d, {6, 0, 0, 14, 0, 0, 0}), 15 * 2 / 3);
    EXPECT_EQ(charge(lua54_tline3d, {6, 0, 0, 14, 0, 0, 0, 1, 0, 1, 1, 0x400}), 15);
    run("poke(0x5508, 0xff)");
    EXPECT_EQ(charge(lua54_tline3d, {5, 0, 0, 14, 0, 0, 0}), 15 * 2 / 5);
    EXPECT_EQ(charge(lua54_tline3d, {5, 0, 0, 14, 0, 0, 0, 8, 0, 1, 1, 0x400}), 15 * 2 / 3);
}

} // namespace
