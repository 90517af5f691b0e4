// A drawing process with _print_v7scii as P and a test font at 0x4000
// whose glyphs are single known shapes, so that printed pixels are exact:
// width 4, wide width 8, height 6, no width table; by default the style
// register turns the margin off (0x5F58 = 1). An alternate font of width 3
// and height 5 sits at 0x6000.
#pragma once
#include <initializer_list>
#include <string>

#include "gfx/gfx_fixture.h"
#include "gfx/print.h"

struct GfxPrintTest : GfxTest {
    static constexpr uint32_t FONT = 0x4000, ALT = 0x6000;

    void SetUp() override
    {
        GfxTest::SetUp();
        lua_register(L, "P", lua54__print_v7scii);
        font(FONT, 4, 8, 6, 0);
        glyph(FONT, 'x', {1});               // one pixel at (0, 0)
        glyph(FONT, 'o', {7, 5, 7});         // 3 x 3 ring
        glyph(FONT, 'l', {1, 1, 1});         // 1 x 3 bar
        glyph(FONT, 200, {0xFF});            // 8 x 1 bar
        font(ALT, 3, 6, 5, 0);
        glyph(ALT, 'x', {2});                // one pixel at (1, 0)
        poke(PRINT_FONT, FONT >> 8);
        poke(PRINT_ALT_FONT, ALT >> 8);
        poke(PRINT_STYLE, 1);
    }

    void poke(uint32_t a, uint8_t v) { ram_store<uint8_t>(p, a, v); }
    uint8_t peek(uint32_t a) { return ram_load<uint8_t>(p, a); }
    int32_t peek4(uint32_t a) { return (int32_t)ram_load<uint32_t>(p, a); }

    void font(uint32_t base, int w, int ww, int h, int flags)
    {
        for (uint32_t i = 0; i < 2048; i++)   // header, width nibbles, glyphs
            poke(base + i, 0);
        poke(base + FONT_WIDTH, (uint8_t)w);
        poke(base + FONT_WIDE_WIDTH, (uint8_t)ww);
        poke(base + FONT_HEIGHT, (uint8_t)h);
        poke(base + FONT_FLAGS, (uint8_t)flags);
    }
    void glyph(uint32_t base, int ch, std::initializer_list<int> rows)
    {
        int r = 0;
        for (int v : rows)
            poke(base + 8 * ch + r++, (uint8_t)v);
    }

    // Rows y0..y0+h-1, columns x0..x0+w-1 of the target, as in picture().
    std::string area(int x0, int y0, int w, int h)
    {
        std::string all = picture(), s;
        for (int y = y0; y < y0 + h; y++)
            s += all.substr((size_t)y * (target()->width + 1) + x0, (size_t)w) + "\n";
        return s;
    }

    // Cycles charged by one print called from C (no instructions counted).
    int charge_print(const std::string &text, std::initializer_list<lua_Integer> args = {})
    {
        cproc = p;
        lua_settop(L, 0);
        lua_pushcfunction(L, lua54__print_v7scii);
        lua_pushlstring(L, text.data(), text.size());
        for (lua_Integer a : args)
            lua_pushinteger(L, a);
        int before = cpu_cycles;
        lua_call(L, (int)args.size() + 1, 0);
        return cpu_cycles - before;
    }
};
