// Draw-state functions: defaults and pal's restore rule, pal and palt forms,
// colour arguments and fill patterns, camera and clip, the draw target.
#include "gfx/gfx_fixture.h"

namespace {

using GfxState = GfxTest;

TEST_F(GfxState, NewProcessStartsBlankAndFirstPalInstallsDefaults)
{
    Process *q = create_process_from_code("", "q", "q", "", "");
    ASSERT_NE(q, nullptr);
    cproc = q;
    EXPECT_EQ(q->draw_target, nullptr);
    EXPECT_EQ(peek(0x8000 + 5 * 64 + 3), 0);
    EXPECT_EQ(peek(0x5508), 0);
    for (int pg = 8; pg < 12; pg++)
        EXPECT_EQ(q->page_flags[pg], 2);

    EXPECT_EQ(gfx_pal_reset(q, -1), 4 * 8 + 1);
    EXPECT_EQ(peek(0x8000 + 17), 17);                    // colour 0 keeps the target
    EXPECT_EQ(peek(0x8000 + 5 * 64 + 17), 5 | 0xC0);      // others are opaque
    EXPECT_EQ(peek(0xA000 + 9 * 64 + 33), (2 << 6) | 33); // table 2 tags the target
    EXPECT_EQ(peek(0xB000 + 63 * 64 + 63), 0xFF);
    EXPECT_EQ(peek(0x5480 + 40), 40);
    for (int pg = 8; pg < 12; pg++)
        EXPECT_EQ(q->page_flags[pg] & 2, 0);
    EXPECT_EQ(gfx_pal_reset(q, -1), 1) << "nothing modified since";

    EXPECT_EQ(gfx_pal_reset(q, 2), 1);
    EXPECT_EQ(peek4(0x5000 + 12 * 4), 0x29ADFFu);
    EXPECT_EQ(peek4(0x5000 + 76 * 4), 0x29ADFFu);
    EXPECT_EQ(peek4(0x5000 + 40 * 4), 0u);
    cproc = p;
}

TEST_F(GfxState, PalRestoresOnlyModifiedPages)
{
    run("pal(1, 8)");
    EXPECT_EQ(p->page_flags[8], 0xFF);
    // a byte changed without a memory operation (as through a mapped
    // bitmap) leaves the page unmarked, so it is not restored
    p->read_ptr[9][100] = 0x55;
    EXPECT_EQ(charge(lua54_pal, {0}), 8);
    EXPECT_EQ(peek(0x8000 + 64), 1 | 0xC0);
    EXPECT_EQ(p->read_ptr[9][100], 0x55);

    // scanline selects are cleared in the process's own page; the display
    // palette is restored through whatever page 5 shows
    p->own_page[5][0x400] = 9;
    run("M = userdata('u8', 4096) for i = 0, 4095 do M[i] = 0x77 end _map_ram(M, 0x5000) pal()");
    EXPECT_EQ(p->own_page[5][0x400], 0);
    EXPECT_EQ(run("return M[0x400], M[0x485]"), "119,5");
}

TEST_F(GfxState, PalForms)
{
    run("pal(1, 8) pset(0, 0, 1)");
    EXPECT_EQ(px(0, 0), 8);
    run("pal(65, 9) pal(2, 5, 64)");   // tables by (mode | index) >> 6
    EXPECT_EQ(peek(0x9000 + 64 + 3), 9 | 0xC0);
    EXPECT_EQ(peek(0x9000 + 128 + 3), 5 | 0xC0);
    run("pal(3, 12, 1) pal(4, 77, 1) pal(4 + 256, 0x123456, 2)");
    EXPECT_EQ(peek(0x5483), 12);
    EXPECT_EQ(peek(0x5484), 77 & 63);
    EXPECT_EQ(peek4(0x5010), 0x123456u);
    run("pal({[1] = 2, [2] = 3, x = 4}, 1)");
    EXPECT_EQ(peek(0x5481), 2);
    EXPECT_EQ(peek(0x5482), 3);
    uint32_t before = peek4(0x5014);
    run("pal(5, 9, 3) pal(5, 9, 63)");
    EXPECT_EQ(peek4(0x5014), before);
    EXPECT_EQ(peek(0x5485), 5);
}

TEST_F(GfxState, PaltForms)
{
    run("pset(0, 0, 5) palt(0x0) pset(0, 0, 0)");
    EXPECT_EQ(px(0, 0), 0) << "colour 0 opaque";
    run("palt() pset(1, 1, 5) pset(1, 1, 0) pset(2, 1, 3)");
    EXPECT_EQ(px(1, 1), 5);
    EXPECT_EQ(px(2, 1), 3);
    run("palt(7, true) pset(2, 2, 5) pset(2, 2, 7)");
    EXPECT_EQ(px(2, 2), 5);
    run("palt(7, false) pset(2, 2, 7)");
    EXPECT_EQ(px(2, 2), 7);
    run("pal(1, 8) palt() pset(3, 3, 1)");
    EXPECT_EQ(px(3, 3), 1) << "palt() rebuilds table 0 rows";
    run("palt(70, true)");
    EXPECT_EQ(peek(0x9000 + 6 * 64 + 9), 64 | 9);
    EXPECT_EQ(p->page_flags[9], 0xFF);
}

TEST_F(GfxState, ColourArgumentsAndFillPatterns)
{
    run("pset(0, 0, 0x100000000 | (0x5A5A << 16) | 0x0C07) pset(1, 0)");
    EXPECT_EQ(peek2(0x550C), 0x0C07);
    for (int r = 0; r < 8; r++)
        EXPECT_EQ(peek(0x5500 + r), r % 2 ? 0x55 : 0xAA) << r;
    EXPECT_EQ(px(0, 0), 7);
    EXPECT_EQ(px(1, 0), 12);

    run("cls() fillp(0x8000) rectfill(0, 0, 7, 7, 0x0907)");
    std::string direct = picture();
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(px(x, y), x % 4 == 0 && y % 4 == 0 ? 9 : 7) << x << "," << y;
    run("cls() camera(1, 2) rectfill(1, 2, 8, 9) camera()");
    EXPECT_EQ(picture(), direct) << "the pattern is anchored to the target";

    run("cls() fillp(0x80, 0, 0, 0, 0, 0, 0, 1) rectfill(0, 0, 7, 7, 0x0201)");
    EXPECT_EQ(px(0, 0), 2);
    EXPECT_EQ(px(7, 7), 2);
    EXPECT_EQ(count(2), 2);

    run("fillp() color(5) pset(3, 3, 'x') cursor(3, 4, 0x0B)");
    EXPECT_EQ(px(3, 3), 5);
    EXPECT_EQ(peek4(0x54F0), 3u);
    EXPECT_EQ(peek4(0x54F4), 4u);
    EXPECT_EQ(peek2(0x550C), 0x0B);
    run("color()");
    EXPECT_EQ(peek2(0x550C), 6);
}

TEST_F(GfxState, CameraAndClip)
{
    EXPECT_EQ(run("return camera()"), "0,0");
    EXPECT_EQ(run("camera(5, 6) return camera()"), "5,6");
    run("camera(1 << 40, -(1 << 40))");
    EXPECT_EQ((int32_t)peek4(0x5510), INT32_MAX);
    EXPECT_EQ((int32_t)peek4(0x5514), INT32_MIN);
    run("camera()");

    run("clip(-100, 0, 50, 50) rectfill(0, 0, 31, 23, 1)");
    EXPECT_EQ((int16_t)peek2(0x552C), -50);
    EXPECT_EQ(count(1), 0);
    EXPECT_EQ(run("clip(0, 0, 15, 15) clip(10, 10, 20, 20, true) return clip()"), "10,10,5,5");
    EXPECT_EQ(run("return clip()"), "0,0,32,24");
    // values beyond 16 bits saturate instead of wrapping into a wide rectangle
    run("clip(100000, 0, 10, 10) rectfill(0, 0, 31, 23, 2) clip(-(1 << 62), 0, 1 << 62, 3)");
    EXPECT_EQ(count(2), 0);
    EXPECT_EQ(run("return clip()"), "0,0,0,3");

    // without a draw target these do nothing
    Process *q = create_process_from_code("", "q", "q", "", "");
    lua_register(q->L, "clip", lua54_clip);
    lua_register(q->L, "fillp", lua54_fillp);
    lua_register(q->L, "pset", lua54_pset);
    lua_register(q->L, "pget", lua54_pget);
    cproc = q;
    ASSERT_EQ(luaL_dostring(q->L, "fillp(5) pset(1, 1, 7) return select('#', clip(1, 2, 3, 4)), pget(1, 1)"),
              LUA_OK);
    EXPECT_EQ(lua_tointeger(q->L, -2), 0);
    EXPECT_EQ(lua_tointeger(q->L, -1), 0);
    EXPECT_EQ(peek(0x5500), 0);
    cproc = p;
}

TEST_F(GfxState, DrawTargetChangesAndReshapes)
{
    // a new target of another size gets its own rectangle even when the
    // clip registers already hold the values written for it
    run("S = userdata('u8', 16, 16) _set_draw_target(S) poke2(0x5528, 0, 0, 64, 48) pset(0, 0)");
    run("B = userdata('u8', 64, 48) _set_draw_target(B) rectfill(0, 0, 99, 99, 2)");
    EXPECT_EQ(count(2), 64 * 48);

    int32_t old_ref = p->draw_target_ref;
    lua_getglobal(L, "B");
    void *b = lua_touserdata(L, -1);
    lua_pop(L, 1);
    run("_set_draw_target(T)");
    lua_rawgeti(L, LUA_REGISTRYINDEX, old_ref);
    EXPECT_NE(lua_touserdata(L, -1), b) << "the old target's reference is dropped";
    lua_pop(L, 1);

    // reshaped smaller: nothing beyond the new size is touched
    uint8_t *data = ud_data(target());
    run("T:mutate('u8', 8, 8) rectfill(0, 0, 99, 99, 3)");
    for (int i = 0; i < 32 * 24; i++)
        ASSERT_EQ(data[i], i < 64 ? 3 : 0) << i;
    run("T:mutate('i16', 4, 4) pset(0, 0, 9)");
    EXPECT_EQ(data[0], 3) << "a retyped target is no target";

    run("I = userdata('i16', 4, 4) _set_draw_target(I) _set_draw_target(5) _set_draw_target()");
    EXPECT_EQ(target(), (Userdata *)data - 1);

    // the target stays alive while it is the target
    run("_set_draw_target(userdata('u8', 8, 8)) collectgarbage() collectgarbage() rectfill(0, 0, 7, 7, 4)");
    EXPECT_EQ(count(4), 64);
}

TEST_F(GfxState, ClsAndHeldSlots)
{
    run("clip(4, 4, 2, 2) poke(0x5509, 0) cls(5)");
    EXPECT_EQ(count(5), 32 * 24) << "cls ignores clip, tables and masks";
    EXPECT_EQ(peek4(0x54F0), 0u);
    EXPECT_EQ(charge(lua54_cls, {1}), 32 * 24 / 64);

    run("M = userdata('i16', 4, 4) S = userdata('u8', 2, 2)");
    lua_getglobal(L, "M");
    lua_getglobal(L, "S");
    gfx_set_current_map(p, L, -2);
    gfx_set_sprite(p, L, 5, -1);
    gfx_set_sprite(p, L, GFX_SPRITES, -1);   // out of range: ignored
    EXPECT_EQ(p->cur_map, ud_check(L, -2));
    EXPECT_EQ(p->sprite[5], ud_check(L, -1));
    gfx_set_current_map(p, L, -1);           // not i16: clears
    EXPECT_EQ(p->cur_map, nullptr);
    EXPECT_EQ(p->cur_map_ref, 0);

    // drawing into another bitmap, clipped to itself for the time being
    run("clip(1, 1, 1, 1) S = userdata('u8', 40, 2)");
    lua_getglobal(L, "S");
    Userdata *s = ud_check(L, -1);
    set_temporary_clipping(p, s);
    GfxCtx c;
    gfx_begin_bitmap(p, s, &c);
    EXPECT_EQ(rectfill_raw(&c, 50, -3, 0, 0, 9), 40);
    restore_after_temporary_clipping(p);
    EXPECT_EQ(run("return clip()"), "1,1,1,1");
    EXPECT_EQ(count(9), 0);
    for (int i = 0; i < 80; i++)
        ASSERT_EQ(ud_data(s)[i], i < 40 ? 9 : 0);
    lua_settop(L, 0);
}

} // namespace
