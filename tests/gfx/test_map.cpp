// Maps: cell bits, sprite 0 and layers, cell sizes from the registers and
// the arguments, stretched and transposed cells, cells before the map's
// edge, the current map with mget and mset, and visiting only what shows.
#include <algorithm>

#include "gfx/test_sprite_fixture.h"

namespace {

struct GfxMap : GfxSpriteTest {
    void SetUp() override
    {
        GfxSpriteTest::SetUp();
        // 2 x 2 cells: plain, flipped x, sprite 2 | flipped y, sprite 0, transposed
        run("_set_spr(0, bmp(2, 2, '9999')) _set_spr(1, bmp(2, 2, '1234')) _set_spr(2, bmp(2, 2, '5678')) "
            "M = userdata('i16', 3, 2) M:set(0, 0, 1, 0x4001, 2, 0x8001, 0, 0x2001) poke(0x550e, 2, 2)");
    }
};

TEST_F(GfxMap, CellsSizesAndEdges)
{
    check({{"_draw_map(M)", 0, 0, 7, 5, "122156.|344378.|34..13.|12..24.|......."},
           {"poke(0x5f36, 8) _draw_map(M) poke(0x5f36, 0)", 2, 2, 2, 2, "99|99"},
           // layers: only sprites with one of the flag bits
           {"fset(2, 0, true) _draw_map(M, 0, 0, 0, 0, 3, 2, 1) _draw_map(M, 0, 0, 0, 2, 3, 2, 6)", 0, 0, 6, 4,
            "....56|....78|......|......"},
           // part of the map through the camera; missing sprites and non-maps draw nothing
           {"camera(-1, -1) _draw_map(M, 1, 0, 0, 0, 1, 2) camera() _draw_map(bmp(2, 2, '1111')) _draw_map(3)", 0,
            0, 4, 4, "....|.21.|.43.|...."},
           // cell sizes from the arguments before the registers: stretched
           {"_draw_map(M, 0, 0, 0, 0, 2, 1, 0, 4, 4)", 0, 0, 8, 4, "11222211|11222211|33444433|33444433"},
           // 16.16 steps of 2/3 land as 0, 0.99.., 1.99..
           {"poke(0x550e, 3, 1) _draw_map(M, 0, 1, 0, 0, 3, 1) poke(0x550e, 2, 2)", 0, 0, 9, 2,
            "334...224|........."},
           // transposed into 4 x 2: the cell's rows run down the sprite's columns
           {"_draw_map(M, 2, 1, 0, 0, 1, 1, 0, 4, 2)", 0, 0, 4, 2, "1133|2244"},
           {"_draw_map(M, 0, 0, 0, 0, 1, 1, 0, 0, 2) _draw_map(M, 0, 0, 0, 0, 1, 1, 0, 2, -1)", 0, 0, 2, 2, "..|.."},
           // cells before the map's edge are skipped where they stand
           {"_draw_map(M, -1, 0, 0, 0, 2, 1)", 0, 0, 5, 2, "..12.|..34."},
           {"_draw_map(M, 0, -1, 0, 0, 1, 2)", 0, 0, 3, 5, "...|...|12.|34.|..."},
           {"_draw_map(M, -3, -1, 0, 0, 3, 2) _draw_map(M, 3, 0) _draw_map(M, 0, 2)", 0, 0, 6, 4,
            "......|......|......|......"}});
    // a register of 0 means 256
    run("cls() poke(0x550e, 0, 0) _draw_map(M, 0, 0, 0, 0, 1, 1)");
    EXPECT_EQ(count(1), 32 * 24);
}

TEST_F(GfxMap, CurrentMapGetAndSet)
{
    EXPECT_EQ(run("return select('#', mget(0, 0))"), "0");
    run("_map_ram(M, 0x100000)");
    EXPECT_EQ(run("return mget(0, 0), mget(1, 0), mget(0, 1), mget(2.9, 1.2)"), "1,16385,-32767,8193");
    EXPECT_EQ(run("return select('#', mget(3, 0)), select('#', mget(0, -1)), select('#', mget(0, 2))"), "0,0,0");
    run("mset(-1, 0, 3) mset(3, 0, 3) mset(1, 1, 0x12345)");
    EXPECT_EQ(run("return M:get(0, 0, 6)"), "1,16385,2,-32767,9029,8193");
    // held while it is the current map, also once unmapped
    run("local m = userdata('i16', 2, 2) _map_ram(m, 0x100000) _unmap_ram(m, 0x100000) m = nil "
        "collectgarbage() collectgarbage() mset(1, 1, 77)");
    EXPECT_EQ(run("return mget(1, 1), mget(0, 0)"), "77,0");
    // anything else mapped there clears it
    run("_map_ram(userdata('u8', 4096), 0x100000)");
    EXPECT_EQ(run("return select('#', mget(0, 0))"), "0");
}

TEST_F(GfxMap, OnlyCellsThatReachTheClipAreVisited)
{
    // 1000 x 1000 cells on a 32 x 24 target: 16 x 12 cells show, each
    // charged 2 plus its 4 opaque pixels halved, / 3
    run("BIG = userdata('i16', 1000, 1000)");
    lua_settop(L, 0);
    lua_pushcfunction(L, lua54__draw_map);
    lua_getglobal(L, "BIG");
    int16_t *cells = (int16_t *)ud_data(ud_check(L, -1));
    std::fill(cells, cells + 1000000, 1);
    int before = cpu_cycles;
    lua_call(L, 1, 0);
    EXPECT_EQ(cpu_cycles - before, 2 * 192 + 192 * 2 / 3);
    EXPECT_EQ(area(30, 22, 2, 2), "12|34");
}

} // namespace
