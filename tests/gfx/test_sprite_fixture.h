// The drawing fixture with the sprite, map and textured-line functions, and
// bitmaps written as text: bmp(w, h, "...") reads one pixel per character,
// '.' for 0, else a digit of base 36.
#pragma once
#include <initializer_list>
#include <string>

#include "gfx/gfx_api2.h"
#include "gfx/gfx_fixture.h"
#include "gfx/sprite.h"

struct GfxSpriteTest : GfxTest {
    void SetUp() override
    {
        GfxTest::SetUp();
        gfx_sprite_method = GFX_SPRITE_AUTO;
        const luaL_Reg fns[] = {{"_set_spr", lua54__set_spr}, {"spr", lua54_spr},         {"sspr", lua54_sspr},
                                {"fget", lua54_fget},         {"fset", lua54_fset},       {"_draw_map", lua54__draw_map},
                                {"mget", lua54_mget},         {"mset", lua54_mset},       {"tline3d", lua54_tline3d},
                                {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, fns, 0);
        lua_pop(L, 1);
        run(R"(function bmp(w, h, s)
                   local b = userdata('u8', w, h)
                   for i = 1, #s do
                       local ch = s:sub(i, i)
                       b[i - 1] = ch == '.' and 0 or tonumber(ch, 36)
                   end
                   return b
               end)");
    }
    void TearDown() override
    {
        gfx_sprite_method = GFX_SPRITE_AUTO;
        GfxTest::TearDown();
    }

    // Rows y0..y0 + h - 1, columns x0..x0 + w - 1 of the target as in
    // picture(), joined by '|'.
    std::string area(int x0, int y0, int w, int h)
    {
        std::string s;
        for (int y = y0; y < y0 + h; y++) {
            if (y > y0)
                s += '|';
            for (int x = x0; x < x0 + w; x++) {
                int v = px(x, y);
                s += v == 0 ? '.' : v < 36 ? "0123456789abcdefghijklmnopqrstuvwxyz"[v] : '#';
            }
        }
        return s;
    }
    int painted() { return target()->width * target()->height - count(0); }

    // Each case runs on a cleared target and shows the expected area.
    struct Case {
        const char *code;
        int x, y, w, h;
        const char *expect;
    };
    void check(std::initializer_list<Case> cases)
    {
        for (const Case &c : cases) {
            run(std::string("cls() ") + c.code);
            EXPECT_EQ(area(c.x, c.y, c.w, c.h), c.expect) << c.code;
        }
    }
};
