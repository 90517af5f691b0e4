// Hostile text and arguments: control sequences cut short, random bytes in
// every style, huge strings and coordinates, odd fonts. Nothing may write
// outside the target or the bytes a command names, crash or take long.
#include <random>

#include "gfx/test_print_fixture.h"

namespace {

struct GfxPrintHostile : GfxPrintTest {
    // The target is the front of a larger block whose tail must stay as is.
    void SetUp() override
    {
        GfxPrintTest::SetUp();
        guard_target();
    }
    void set_text(const std::string &s)
    {
        lua_pushlstring(L, s.data(), s.size());
        lua_setglobal(L, "TEXT");
    }
};

TEST_F(GfxPrintHostile, SequencesCutShortStopAtTheEnd)
{
    // Every code and command with none or part of its arguments, at the
    // very end of the text, with and without the appended newline.
    const char *specials = "123456789cdghjrsxywtp=ib#$.:,;!@ou-";
    std::vector<std::string> heads;
    for (int b = 1; b < 16; b++)
        heads.push_back(std::string(1, (char)b));
    for (const char *s = specials; *s; s++)
        heads.push_back(std::string("\006") + *s);
    for (int opts : {0, (int)PRINT_OPT_NO_NEWLINE}) {
        poke(PRINT_OPTIONS, (uint8_t)opts);
        for (const std::string &h : heads)
            for (const char *tail : {"", "1", "12", "1234", "1234567"}) {
                set_text(h + tail);
                run("P(TEXT, 3, 3, 7)");
            }
    }
    EXPECT_TRUE(tail_intact());
    // "!" with its address cut short writes nothing past the text
    poke(PRINT_OPTIONS, 0);
    poke(0x0000, 0x55);
    run("P('\\006!')");
    EXPECT_EQ(peek(0x0000), 0x55);
}

TEST_F(GfxPrintHostile, RandomBytesInEveryStyle)
{
    std::mt19937 rng(11);
    const char alphabet[] = "\001\002\003\004\005\006\010\011\012\013\014\015\016\017"
                            "0123456789abcdefghijklmnopqrstuvwxyz-!@.:,;#$=ox\200\377";
    double t = 0;
    for (int i = 0; i < 3000; i++) {
        std::string s;
        int n = (int)(rng() % 48);
        for (int k = 0; k < n; k++)
            s += (rng() % 4) ? alphabet[rng() % (sizeof alphabet - 1)] : (char)(rng() & 0xFF);
        // keep the memory commands away from the registers under test
        for (size_t k = 0; k + 1 < s.size(); k++)
            if (s[k] == '\006' && (s[k + 1] == '!' || s[k + 1] == '@'))
                s[k + 1] = 'w';
        set_text(s);
        poke(PRINT_STYLE, (uint8_t)rng());
        poke(PRINT_OPTIONS, (uint8_t)(rng() & 0x84));
        poke(PRINT_SIZE, (uint8_t)rng());
        int x = (int)(rng() % 80) - 40, y = (int)(rng() % 60) - 30;
        t += seconds("camera(" + std::to_string(x) + ", " + std::to_string(y) + ") P(TEXT, " +
                     std::to_string(-x) + ", " + std::to_string(-y) + ", " + std::to_string(rng() % 64) +
                     ") camera()");
    }
    EXPECT_TRUE(tail_intact());
    EXPECT_LT(t, 10.0);
}

TEST_F(GfxPrintHostile, HugeTextAndCoordinates)
{
    poke(PRINT_OPTIONS, PRINT_OPT_WRAP);
    double t = seconds("P(string.rep('xo\\n\\006tl\\t\\006-t', 400000), 0, 0, 7)");
    EXPECT_LT(t, 10.0);
    EXPECT_EQ(run("return P(string.rep('x\\n', 1000), 0, 2^31 - 100, 7)"), "4,2147489554")
        << "extents are not cut to 32 bits";
    EXPECT_EQ(peek4(GFX_CURSOR_Y), INT32_MAX) << "the cursor register saturates";
    run("P('x', 0/0, 1/0, 7) P('x', -1/0, 2^63, 7) P('xx', math.maxinteger, math.mininteger, 7)");
    run("camera(math.maxinteger, math.mininteger) P('\\006wxxxx', 5, 5, 7) camera()");
    run("P('\\00633xx\\006c\\0065', 2^40, -2^40, 1e300)");
    EXPECT_TRUE(tail_intact());
}

TEST_F(GfxPrintHostile, OddFontsAndArguments)
{
    // widest cells the registers allow, in every style at once
    font(FONT, 255, 255, 255, FONT_FLAG_ADJUST | FONT_FLAG_TAB_HOME);
    for (int i = 8; i < 128; i++)
        poke(FONT + i, 0xFF);
    glyph(FONT, 'x', {0xFF, 0x81, 0xFF, 0x81, 0xFF, 0x81, 0xFF, 0x81});
    run("P('\\006p\\006i\\006#\\006u\\006ofvx\\tx\\006x0\\006y0x\\t', -100, -100, 7)");
    run("P('\\006s0\\006x0x\\tx\\008\\008x', 3, 3, 7)");
    // a font at the top of the address space, and one of all zeros (8 x 8)
    poke(PRINT_FONT, 0xFF);
    run("P('x\\200\\tx', 0, 0, 7)");
    EXPECT_TRUE(tail_intact());

    // not a text, no draw target: nothing printed, no values
    EXPECT_EQ(run("return select('#', P({})) + select('#', P(nil)) + select('#', P(true))"), "0");
    EXPECT_EQ(run("_set_draw_target() return select('#', P('x'))"), "2") << "the old target stays";
    Process *q = create_process_from_code("", "t", "t", "", "");
    ASSERT_NE(q, nullptr);
    cproc = q;
    int base = lua_gettop(q->L);
    lua_pushcfunction(q->L, lua54__print_v7scii);
    lua_pushstring(q->L, "x");
    lua_call(q->L, 1, LUA_MULTRET);
    EXPECT_EQ(lua_gettop(q->L), base) << "no draw target: no values";
    cproc = p;
}

}  // namespace
