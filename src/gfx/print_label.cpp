// The kernel's own text drawing: the built-in font installed into a
// process, and the label text of PNG cartridges printed in it by a private
// drawing record.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/draw_state.h"
#include "gfx/print.h"
#include "memory/ram.h"
#include "pdisk/cart.h"
#include "userdata/userdata.h"

void print_install_builtin_font(Process *p)
{
    for (uint32_t i = 0; i < FONT_BYTES; i++)
        ram_store<uint8_t>(p, PRINT_BUILTIN_FONT_ADDR + i, print_builtin_font[i]);
    ram_store<uint8_t>(p, PRINT_FONT, PRINT_BUILTIN_FONT_ADDR >> 8);
    ram_store<uint8_t>(p, PRINT_ALT_FONT, 0x56);
}

Process *print_new_kernel_record()
{
    Process *r = (Process *)calloc(1, sizeof(Process));
    if (!r)
        return nullptr;
    ram_init_process(r);
    for (uint32_t s = 0; s < 64; s++)
        memset(ram_ptr(r, GFX_COLTAB + s * 64), (int)s, 64);
    for (uint32_t a = GFX_SRC_MASK; a <= GFX_TARGET_MASK; a++)
        ram_store<uint8_t>(r, a, 0x3F);
    print_install_builtin_font(r);
    return r;
}

void print_free_kernel_record(Process *r)
{
    if (!r)
        return;
    ram_free_process(r);
    free(r);
}

namespace {

// A bitmap outside any Lua state: header and pixels in one block.
struct Canvas {
    std::vector<uint64_t> block;
    Userdata *u;
    Canvas(int w, int h) : block(2 + ((size_t)w * h + 7) / 8, 0)
    {
        u = (Userdata *)block.data();
        u->type = UD_U8;
        u->dims = 2;
        u->width = w;
        u->height = h;
    }
};

}  // namespace

// Prints onto a fresh canvas in colour 7 with the cursor (and home x) at
// (x, y), then marks the set pixels on the label canvas.
void print_label_text(CartLabelCanvas *canvas, const char *text, int x, int y)
{
    if (!canvas || !text)
        return;
    Process *r = print_new_kernel_record();
    if (!r)
        return;
    Canvas bitmap(CART_LABEL_TEXT_W, CART_LABEL_TEXT_H);
    ram_store<uint32_t>(r, GFX_CURSOR_X, (uint32_t)x);
    ram_store<uint32_t>(r, GFX_CURSOR_Y, (uint32_t)y);
    ram_store<uint32_t>(r, PRINT_HOME_X, (uint32_t)x);
    Process *prev = cproc;
    cproc = r;
    print_v7scii(bitmap.u, text, strlen(text), 0, 7);
    cproc = prev;
    const uint8_t *px = ud_data(bitmap.u);
    for (int yy = 0; yy < CART_LABEL_TEXT_H; yy++)
        for (int xx = 0; xx < CART_LABEL_TEXT_W; xx++)
            if (px[yy * CART_LABEL_TEXT_W + xx])
                canvas->bits[yy][xx] = 1;
    print_free_kernel_record(r);
}
