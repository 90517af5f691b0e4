// Text printing with a test font: argument forms, every control code and
// special command, wrapping at the clip edge, returned extents and charges.
#include "gfx/test_print_fixture.h"
#include "pdisk/cart.h"

namespace {

using GfxPrint = GfxPrintTest;

TEST_F(GfxPrint, ArgumentFormsCursorAndExtents)
{
    run("color(7) cursor(3, 2)");
    EXPECT_EQ(run("return P('xx')"), "11,8");
    EXPECT_EQ(px(3, 2), 7);
    EXPECT_EQ(px(7, 2), 7);
    EXPECT_EQ(count(7), 2);
    EXPECT_EQ(peek4(GFX_CURSOR_X), 3) << "the appended newline returns to home x";
    EXPECT_EQ(peek4(GFX_CURSOR_Y), 8);

    run("P('x', 9)");   // colour argument, at the cursor
    EXPECT_EQ(px(3, 8), 9);
    EXPECT_EQ(pen_colour(p), 9);
    run("P('x', 5, nil, nil)");   // four with nil x, y: like two
    EXPECT_EQ(px(3, 14), 5);
    run("P('x', 20, 1)");         // three: x and y, pen kept
    EXPECT_EQ(px(20, 1), 5);
    run("P('x', 'a', 0, 6)");     // a non-number keeps the cursor's x
    EXPECT_EQ(peek4(PRINT_HOME_X), 20);
    EXPECT_EQ(px(20, 0), 6);
    EXPECT_EQ(run("return P('xx\\nxxx', 0, 0)"), "12,12");
}

TEST_F(GfxPrint, NoNewlineOptionCameraAndWideAdvance)
{
    poke(PRINT_OPTIONS, PRINT_OPT_NO_NEWLINE);
    run("P('xx', 2, 3, 7)");
    EXPECT_EQ(peek4(GFX_CURSOR_X), 10);
    EXPECT_EQ(peek4(GFX_CURSOR_Y), 3);
    run("camera(-5, -6) P('x', 0, 0, 8) camera()");
    EXPECT_EQ(px(5, 6), 8);
    EXPECT_EQ(run("return P('\\200x', 0, 10, 7)"), "12,10") << "byte 200 advances by the wide width";
    EXPECT_EQ(area(0, 10, 10, 1), "777777777.\n");
    run("P('\\0128x', 0, 20)");
    EXPECT_EQ(px(0, 20), 8);
    EXPECT_EQ(pen_colour(p), 8) << "byte 12 sets the pen register too";
}

TEST_F(GfxPrint, WrapsAtTheClipEdge)
{
    poke(PRINT_OPTIONS, PRINT_OPT_WRAP);
    run("clip(0, 0, 16, 24) P('xxxxx', 0, 0, 7)");
    EXPECT_EQ(area(0, 0, 16, 1), "7...7...7...7...\n");
    EXPECT_EQ(px(0, 6), 7) << "the fifth glyph starts a new line";
    run("cls() camera(-8, 0) P('xxx', 0, 0, 7) camera()");   // margin follows the camera
    EXPECT_EQ(area(0, 0, 16, 1), "........7...7...\n");
    EXPECT_EQ(px(8, 6), 7);
    poke(PRINT_OPTIONS, 0);
    run("cls() clip() P('\\006r3xxxx', 0, 0, 7)");            // wrap at 4 * 3
    EXPECT_EQ(area(0, 0, 12, 1), "7...7...7...\n");
    EXPECT_EQ(px(0, 6), 7);
}

TEST_F(GfxPrint, WidthTableAdjustsAndRaises)
{
    poke(FONT + FONT_FLAGS, FONT_FLAG_ADJUST);
    poke(FONT + ('x' >> 1), 0x01);          // 'x' (even): low nibble, +1
    poke(FONT + ('o' >> 1), 0xF0);          // 'o' (odd): high nibble, -1 and raised
    poke(PRINT_OPTIONS, PRINT_OPT_NO_NEWLINE);
    run("P('xxo', 0, 1, 7)");
    EXPECT_EQ(area(0, 0, 14, 4), "..........777.\n"
                                 "7....7....7.7.\n"
                                 "..........777.\n"
                                 "..............\n");
    EXPECT_EQ(peek4(GFX_CURSOR_X), 13);
}

TEST_F(GfxPrint, CursorControlCodes)
{
    poke(PRINT_OPTIONS, PRINT_OPT_NO_NEWLINE);
    auto at = [&](const char *code) {
        run(code);
        return std::to_string(peek4(GFX_CURSOR_X)) + "," + std::to_string(peek4(GFX_CURSOR_Y));
    };
    EXPECT_EQ(at("P('\\003k', 0, 0)"), "4,0");      // 'k' = 20
    EXPECT_EQ(at("P('\\004c', 0, 0)"), "0,-4");
    EXPECT_EQ(at("P('\\005ga', 0, 0)"), "0,-6");
    EXPECT_EQ(at("P('xx\\013', 5, 0)"), "5,0");     // carriage return to home x
    EXPECT_EQ(at("P('x\\n\\n', 5, 0)"), "5,12");
    EXPECT_EQ(at("P('\\006tx\\nx', 0, 0)"), "4,12") << "the line is as tall as its tallest glyph";
    EXPECT_EQ(at("P('\\006j23', 0, 0)"), "8,12");
    EXPECT_EQ(at("P('\\006h\\n\\nxx\\006g', 3, 1)"), "3,1");
    EXPECT_EQ(at("P('\\006x2xx', 0, 0)"), "4,0");
    EXPECT_EQ(at("P('\\006y3\\n', 0, 0)"), "0,3");
}

TEST_F(GfxPrint, TabStops)
{
    poke(PRINT_OPTIONS, PRINT_OPT_NO_NEWLINE);
    auto tab_x = [&](const char *code) {
        run(code);
        return peek4(GFX_CURSOR_X);
    };
    EXPECT_EQ(tab_x("P('x\\t', 0, 0)"), 12);          // 3 x width
    EXPECT_EQ(tab_x("P('x\\t', 3, 0)"), 12);          // from 0, not from home
    EXPECT_EQ(tab_x("P('x\\t', -5, 0)"), 0);          // next multiple after -1
    EXPECT_EQ(tab_x("P('\\006s2x\\t', 0, 0)"), 8);    // "6 s": 2 x width
    poke(FONT + FONT_TAB, 7);
    EXPECT_EQ(tab_x("P('x\\t', 0, 0)"), 7);
    poke(PRINT_WIDE_TAB, 0x10);                        // (1 + 1) x width
    EXPECT_EQ(tab_x("P('x\\t', 0, 0)"), 8);
    poke(PRINT_WIDE_TAB, 0);
    poke(FONT + FONT_FLAGS, FONT_FLAG_TAB_HOME);
    EXPECT_EQ(tab_x("P('x\\t', 3, 0)"), 10);          // home 3 + 7
}

TEST_F(GfxPrint, GlyphControlCodes)
{
    counting_table();   // a pixel composed twice shows 2
    run("P('x\\008x', 0, 0, 1)");
    EXPECT_EQ(px(0, 0), 2) << "byte 8 steps back by the last advance";
    run("cls() P('\\0013x\\0010o', 0, 0, 1)");
    EXPECT_EQ(area(0, 0, 13, 1), "1...1...1....\n") << "repeat 3, then repeat 0 skips";
    run("cls() P('\\011fxx', 0, 10, 1)");             // 'f' = 15: (+1, -5)
    EXPECT_EQ(px(1, 5), 1);
    EXPECT_EQ(px(4, 10), 1) << "the displacement is for one glyph, the cursor moves as usual";
    run("cls() P('\\014xx\\015x', 0, 0, 1)");         // alternate font, then default
    EXPECT_EQ(area(0, 0, 8, 1), ".1..1.1.\n");
    run("cls() P('\\0025x', 0, 0, 1)");                 // background 5, solid on
    EXPECT_EQ(area(0, 0, 5, 6), "6555.\n5555.\n5555.\n5555.\n5555.\n5555.\n");
}

TEST_F(GfxPrint, SpecialCommands)
{
    run("P('\\006c3')");
    EXPECT_EQ(count(3), 32 * 24);
    EXPECT_EQ(peek4(GFX_CURSOR_Y), 6) << "cursor to 0, 0 before the newline";
    run("cls() P('\\006d1xxx', 0, 0, 7)");
    EXPECT_EQ(count(7), 1) << "a delay stops after the next glyph";
    run("cls() P('x\\0062xx', 0, 0, 7)");
    EXPECT_EQ(count(7), 1) << "a wait stops the print";
    EXPECT_EQ(peek4(GFX_CURSOR_Y), 0);
    run("cls() P('\\006.' .. string.char(1, 2, 4, 8, 16, 32, 64, 128) .. 'x', 0, 0, 7)");
    run("P('\\006:0102040810204080x', 0, 8, 7)");
    run("P('\\006,' .. string.char(1, 0, 0, 0, 0, 0, 0, 0), 20, 0, 7)");
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(px(i, i), 7);
        EXPECT_EQ(px(i, 8 + i), 7);
    }
    EXPECT_EQ(px(8, 0), 7) << "an inline glyph advances by 8";
    EXPECT_EQ(px(8, 8), 7);
    EXPECT_EQ(px(21, 1), 7) << "',' draws with the margin";
    EXPECT_EQ(count(7), 8 + 8 + 2 + 1);
}

TEST_F(GfxPrint, MemoryCommands)
{
    poke(0x5F13, 0xAA);
    run("P('\\006!5f10abc', 0, 0, 7)");
    EXPECT_EQ(peek(0x5F10), 'a');
    EXPECT_EQ(peek(0x5F12), 'c');
    EXPECT_EQ(peek(0x5F13), 0xAA) << "the appended newline is not copied";
    EXPECT_EQ(peek4(GFX_CURSOR_Y), 0) << "printing ends";
    run("P('\\006@4f000002abx', 0, 0, 7)");
    EXPECT_EQ(peek(0x4F00), 'a');
    EXPECT_EQ(peek(0x4F01), 'b');
    EXPECT_EQ(px(0, 0), 7) << "printing goes on after the counted bytes";
    poke(0x4F12, 0xAA);
    run("P('\\006@4f10ffffhi')");
    EXPECT_EQ(peek(0x4F11), 'i');
    EXPECT_EQ(peek(0x4F12), 0xAA) << "the count is cut to the text";
}

TEST_F(GfxPrint, WideTallStripesPinball)
{
    run("P('\\006wl\\006=l', 0, 0, 7)");
    EXPECT_EQ(area(0, 0, 11, 3), "77.......7.\n77.......7.\n77.......7.\n");
    run("cls() P('\\006tl\\006=l', 0, 0, 7)");
    EXPECT_EQ(area(0, 0, 6, 7), "7...7.\n7.....\n7...7.\n7.....\n7...7.\n7.....\n......\n");
    run("cls() P('\\006px', 0, 0, 7)");
    EXPECT_EQ(area(0, 0, 3, 3), "77.\n77.\n...\n");
    EXPECT_EQ(peek4(GFX_CURSOR_Y), 12) << "pinball doubles the line height";
}

TEST_F(GfxPrint, InvertMarginAndSolidBackground)
{
    run("P('\\006ix', 0, 0, 7)");
    EXPECT_EQ(count(7), 4 * 6 - 1);
    EXPECT_EQ(px(0, 0), 0);
    poke(PRINT_STYLE, 0);   // bit 0 clear: margin on
    run("cls() P('x', 0, 0, 7)");
    EXPECT_EQ(px(1, 1), 7);
    run("cls() P('\\006#x', 0, 0, 0x0507)");   // background from the pen's high byte
    EXPECT_EQ(area(0, 0, 6, 8), "55555.\n57555.\n55555.\n55555.\n55555.\n55555.\n55555.\n......\n");
    poke(PRINT_STYLE, 1 | 16 | 32);               // solid and invert from the register
    run("cls() P('x', 0, 0, 0x0507)");
    EXPECT_EQ(area(0, 0, 5, 2), "5777.\n7777.\n");
}

TEST_F(GfxPrint, OutlineAndUnderline)
{
    run("P('\\006o9fvx', 4, 4, 7)");
    EXPECT_EQ(area(3, 3, 3, 3), "999\n979\n999\n");
    run("cls() P('\\006o910x', 4, 4, 7)");     // mask 32: the glyph shifted right only
    EXPECT_EQ(area(3, 3, 3, 3), "...\n.79\n...\n");
    run("cls() P('\\006o!fvx', 4, 4, 7)");     // foreground colour, outline only
    EXPECT_EQ(area(3, 3, 3, 3), "777\n7.7\n777\n");
    run("cls() P('\\006o$fvx\\006-ox', 4, 4, 7)");
    EXPECT_EQ(area(3, 3, 7, 3), "777....\n777..7.\n777....\n");
    run("cls() P('\\006ux\\006-ux', 0, 0, 7)");
    EXPECT_EQ(area(0, 0, 8, 6), "7...7...\n........\n........\n........\n........\n7777....\n");
}

TEST_F(GfxPrint, ChargesBytesAndCellPixels)
{
    // 3 bytes (with the newline) and two 4 x 6 cells at 24 / 3 each
    EXPECT_EQ(charge_print("xx", {0, 0}), 3 + 2 * 8);
    // "6 c": 3 bytes, the newline, 32 * 24 / 64
    EXPECT_EQ(charge_print("\006c3"), 3 + 1 + 12);
    poke(PRINT_STYLE, 1 | 4);   // wide: 8 x 6 cells
    EXPECT_EQ(charge_print("x", {0, 0}), 2 + 16);
}

TEST_F(GfxPrint, BuiltInFont)
{
    const uint8_t *f = print_builtin_font;
    EXPECT_EQ(std::vector<int>(f, f + 6), (std::vector<int>{5, 10, 11, 0, 0, 3}));
    for (int ch = 33; ch < 256; ch++) {
        uint64_t rows = 0;
        memcpy(&rows, f + 8 * ch, 8);
        EXPECT_NE(rows, 0u) << "glyph " << ch << " is empty";
        EXPECT_EQ(rows >> 56, 0u) << "glyph " << ch << " reaches row 7";
        int nib = (ch & 1) ? f[ch >> 1] >> 4 : f[ch >> 1] & 15;
        int adv = (ch < 128 ? 5 : 10) + ((nib + 4) & 7) - 4;
        for (int r = 0; r < 8; r++)
            EXPECT_LT(f[8 * ch + r], 1 << (adv - 1)) << "glyph " << ch << " touches the next one";
    }

    print_install_builtin_font(p);
    poke(PRINT_STYLE, 0);
    run("P('a', 0, 0, 7) P('b', 5, 0, 7)");
    std::string apart = picture();
    EXPECT_GT(count(7), 10);
    run("cls() cursor(0, 0) P('ab', 7)");
    EXPECT_EQ(picture(), apart) << "two glyphs 5 pixels apart";
    EXPECT_EQ(peek4(GFX_CURSOR_X), 0);
    EXPECT_EQ(peek4(GFX_CURSOR_Y), 11);
    poke(PRINT_OPTIONS, PRINT_OPT_NO_NEWLINE);
    run("P('\\200', 0, 0)");
    EXPECT_EQ(peek4(GFX_CURSOR_X), 10);
}

TEST_F(GfxPrint, LabelTextInTheBuiltInFont)
{
    CartLabelCanvas canvas = {};
    print_label_text(&canvas, "Title gjy", 0, 2);
    print_label_text(&canvas, "1.0 by me", 0, 12);
    int title = 0, byline = 0;
    for (int y = 0; y < CART_LABEL_TEXT_H; y++)
        for (int x = 0; x < CART_LABEL_TEXT_W; x++) {
            if (!canvas.bits[y][x])
                continue;
            EXPECT_TRUE((y >= 3 && y <= 9) || (y >= 13 && y <= 19)) << x << "," << y;
            (y < 10 ? title : byline)++;
        }
    EXPECT_GT(title, 20);
    EXPECT_GT(byline, 20);
    EXPECT_EQ(cproc, p) << "the current process is restored";
}

}  // namespace
