// font_sheet: renders the built-in font and a demonstration of the print
// styles to a PNG, so that the glyphs can be looked at.
//
//   font_sheet [OUT.png] [SCALE]      (default font_sheet.png, scale 3)
//
// A process with the built-in font installed runs a small Lua program that
// prints every glyph in a grid by code, then lines in each style; the draw
// target is turned into RGB through the default palette.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "formats/png.h"
#include "gfx/draw_state.h"
#include "gfx/gfx_api.h"
#include "gfx/print.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/process.h"
#include "userdata/userdata.h"

namespace {

constexpr int W = 480, H = 360;

const char *sheet_program = R"LUA(
T = userdata('u8', W, H)
_set_draw_target(T)
pal()
poke(0x5508, 0x3f, 0x3f, 0x3f, 0x3f)
cls(1)
P = _print_v7scii
P("kestrane built-in font: width 5, wide 10, height 11", 4, 3, 7)

-- every glyph by code: 16 per row, rows 1x..fx
for hi = 1, 15 do
  P(string.format("%x_", hi), 4, 16 + (hi - 1) * 12, 13)
  for lo = 0, 15 do
    P(string.char(hi * 16 + lo), 22 + lo * 13, 16 + (hi - 1) * 12, 7)
  end
end
for lo = 0, 15 do
  P(string.format("%x", lo), 23 + lo * 13, 198, 13)
end

-- styles, one per line
local x, y = 246, 16
local function demo(label, text)
  P(label, x, y, 6)
  local _, bottom = P(text, x + 64, y, 7)
  y = math.max(y + 13, bottom + 2)
end
demo("plain", "Hello, world!")
demo("wide", "\006wWide text")
demo("tall", "\006tTall text")
demo("pinball", "\006pPinball")
demo("stripes", "\006w\006=Stripes")
demo("invert", "\006iInverted\006-i ok")
demo("solid bg", "\002cSolid \0025back")
demo("no margin", "\006#\006-bNo margin")
demo("outline", "\006o8fvOutlined")
demo("outline only", "\006o!fvHollow")
demo("underline", "\006uUnder\006-u line")
demo("colours", "\0128r\0129a\012ai\012bn\012cb\012do\012ew")
demo("inline glyph", "\006:3f7f5077057f7e00 Kestrane")
demo("tabs", "a\tbb\tccc\td")
demo("displaced", "x\011qy\011az")
P("wrap at clip edge:", 246, y + 2, 6)
clip(246, y + 14, 110, 40)
poke(0x5f36, 0x80)
P("This text wraps at the right edge of a clip rectangle 110 pixels wide.", 246, y + 14, 10)
poke(0x5f36, 0)
clip()

-- running text
P("The quick brown fox jumps over the lazy dog. 0123456789", 4, 282, 7)
P("THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG! (#$%&*+-/<=>?@)", 4, 294, 7)
P("Sphinx of black quartz, judge my vow: [\\]^_`{|}~ 'quoted' \"double\"", 4, 306, 7)
P("function draw() print(\"hi\", x, y, 7) end -- Kestrane Workstation", 4, 318, 12)
P("\128\130\131\133\134\135\136\137\138\139\140\141\142\143\144\145\146\147\148\151", 4, 334, 9)
P("\154\155\156\157\158 \204\205\206\207\208 \016\017\018\019\020\021\022\023\024\025\026\027\028\029\030\031\127", 4, 346, 14)
)LUA";

bool run(lua_State *L, const char *code)
{
    if (luaL_dostring(L, code) != LUA_OK) {
        fprintf(stderr, "font_sheet: %s\n", lua_tostring(L, -1));
        return false;
    }
    return true;
}

// The draw target scaled up, each index through the default RGB palette.
std::vector<uint8_t> to_rgba(const Userdata *t, int scale)
{
    int w = t->width * scale, h = t->height * scale;
    std::vector<uint8_t> rgba((size_t)w * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t v = ud_data(t)[(y / scale) * t->width + x / scale];
            uint32_t c = gfx_defaults.rgb_pal[v];
            uint8_t *o = &rgba[((size_t)y * w + x) * 4];
            o[0] = (uint8_t)(c >> 16);
            o[1] = (uint8_t)(c >> 8);
            o[2] = (uint8_t)c;
            o[3] = 255;
        }
    return rgba;
}

}  // namespace

int main(int argc, char **argv)
{
    const char *out = argc > 1 ? argv[1] : "font_sheet.png";
    int scale = argc > 2 ? atoi(argv[2]) : 3;
    if (scale < 1 || scale > 8)
        scale = 3;

    config_set_start_values();
    config.headless = 1;
    processes_init();
    Process *p = create_process_from_code("", "font_sheet", "font_sheet", "", "");
    if (!p) {
        fprintf(stderr, "font_sheet: no process\n");
        return 1;
    }
    cproc = p;
    lua_State *L = p->L;
    userdata_open(L);
    const luaL_Reg fns[] = {{"userdata", lua54_userdata}, {"_set_draw_target", lua54__set_draw_target},
                            {"pal", lua54_pal},           {"cls", lua54_cls},
                            {"clip", lua54_clip},         {"_print_v7scii", lua54__print_v7scii},
                            {nullptr, nullptr}};
    lua_pushglobaltable(L);
    luaL_setfuncs(L, fns, 0);
    lua_pop(L, 1);
    lua_pushinteger(L, W);
    lua_setglobal(L, "W");
    lua_pushinteger(L, H);
    lua_setglobal(L, "H");
    print_install_builtin_font(p);
    if (!run(L, sheet_program))
        return 1;

    std::vector<uint8_t> rgba = to_rgba(p->draw_target, scale);
    size_t n = 0;
    uint8_t *png = png_encode_rgba(rgba.data(), (uint32_t)(W * scale), (uint32_t)(H * scale), &n);
    FILE *f = png ? fopen(out, "wb") : nullptr;
    if (!f || fwrite(png, 1, n, f) != n || fclose(f) != 0) {
        fprintf(stderr, "font_sheet: cannot write %s\n", out);
        free(png);
        return 1;
    }
    free(png);
    printf("font_sheet: wrote %s (%dx%d)\n", out, W * scale, H * scale);
    return 0;
}
