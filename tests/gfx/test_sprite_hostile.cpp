// Hostile arguments to sprites, maps and textured lines: extreme,
// non-finite and non-numeric values, huge scales and cells, bad cells and
// missing sprites never write outside the target and never take long.

#include "gfx/test_sprite_fixture.h"

namespace {

struct GfxSpriteHostile : GfxSpriteTest {
    // The target is the front of a larger block whose tail must stay as is.
    void SetUp() override
    {
        GfxSpriteTest::SetUp();
        guard_target();
        run("_set_spr(1, bmp(8, 8, string.rep('123456789abcdefg', 4))) _set_spr(2, bmp(3, 5, string.rep('7', 15))) "
            "_set_spr(3, userdata('i16', 4, 4)) _set_spr(4, bmp(1, 1, '5')) "
            "MAP = userdata('i16', 9, 7) for i = 0, 62 do MAP[i] = (i * 40503) & 0xffff end "
            "_set_spr(5, MAP)");
    }
};

TEST_F(GfxSpriteHostile, RandomExtremeArguments)
{
    double t = seconds(R"(
        local vals = {math.maxinteger, math.mininteger, 1/0, -1/0, 0/0, 2^53, -2^53, 2^31, -2^31 - 1,
                      0x7fffffff, 1e300, -1e300, "zz", "1e400", "12", {}, true, false, -1, 0, 1, 2, 3, 5, 7,
                      8, 16, 100, -100, 8191, 16383, 16384, 0x4005, 0x1400, -0.5, 0.5, 2.75, MAP, H}
        local fns = {spr, sspr, _draw_map, tline3d, fget, fset, mget, mset, _set_spr}
        math.randomseed(11)
        for i = 1, 40000 do
            if i % 64 == 0 then
                camera() clip() pal() palt()
                poke(0x5530, math.random(0, 255), math.random(0, 255), math.random(0, 255), math.random(0, 255),
                     math.random(0, 255), math.random(0, 255), math.random(0, 255), math.random(0, 255))
                poke(0x550e, math.random(0, 255), math.random(0, 255))
                poke(0x5f36, math.random(0, 255))
                _map_ram(MAP, 0x100000)
            end
            if i % 1000 == 0 then _set_spr(1, bmp(8, 8, string.rep('123456789abcdefg', 4))) end
            local a, n = {}, math.random(0, 12)
            for j = 1, n do a[j] = vals[math.random(#vals)] end
            local f = fns[math.random(#fns)]
            if f == _draw_map and math.random(2) == 1 then a[1] = MAP end
            if f == _set_spr and a[1] == 1 then a[1] = 6 end
            f(table.unpack(a, 1, n))
        end
    )");
    EXPECT_TRUE(tail_intact());
    EXPECT_LT(t, 30.0);
}

TEST_F(GfxSpriteHostile, HugeScalesCellsLinesBatchesAndSelfCopies)
{
    double t = seconds(R"(
        local big = 0x7fffffff
        for i = 1, 20 do
            sspr(1, 0, 0, 8, 8, -big, -big, big, big)
            sspr(1, 0, 0, 8, 8, 0, 0, big, 3)
            sspr(1, 0, 0, 8, 8, 0, 0, -big, -big)
            sspr(1, -big, -big, big, big, 0, 0, big, big, true, true)
            sspr(1, 0, 0, 1, 1, 0, 0, 2^62, 2^62)
            _draw_map(MAP, 0, 0, -big, -big, big, big, 0, big, big)
            _draw_map(MAP, -big, -big, 0, 0, big, big, 0, 1, 1)
            _draw_map(MAP, 0, 0, 0, 0, 9, 7, 0, 255, 1)
            tline3d(1, -1e12, -5, 1e12, 30, 0, 0, 1e300, -1e300, 1e-300, 1)
            tline3d(5, -2^40, 3, 2^40, 3, 0, 0, 1e18, 1e18, 1, 1e-9, 0x400)
            tline3d(1, 0, 0, 31, 23, 0, 0, 8, 8, 1, 1e300)
            tline3d(5, 0, 0, 31, 23, 0/0, 0/0, 1, 1, 1, 1)
            spr(1, math.mininteger, math.maxinteger) spr(1, 31, 23, true, true)
        end
        local b = userdata('f64', 12, 50)
        for i = 0, 599 do b[i] = ({0/0, 1/0, -1/0, 1e300, -3, 1, 5, 16383, 2^63})[i % 9 + 1] end
        spr(b) spr(b, -5, 1e9, 12, -7) spr(b, 0, 3, 0) tline3d(b) tline3d(b, 7, 100, 3, 9)
        -- the target drawn into itself, flipped and scaled
        _set_spr(7, H) spr(7, 3, 2, true, true) sspr(7, 0, 0, 32, 24, -5, -5, 64, 48, true)
        _draw_map(MAP, 0, 0, 0, 0, 9, 7, 0, 7, 3) tline3d(7, 0, 0, 31, 23, 0, 0, 40, 40)
    )");
    EXPECT_TRUE(tail_intact());
    EXPECT_LT(t, 10.0);
    EXPECT_GT(painted(), 0);
}

} // namespace
