// Text printing in the v7scii character set: bytes 16-255 are glyphs of a
// bitmap font held in the process's memory, bytes 0-15 control codes that
// move the cursor, change colours, switch fonts, change glyph styles or
// poke memory. Every glyph pixel is written with the pen through the
// composition rule of the draw state.
#pragma once
#include <cstddef>
#include <cstdint>

struct lua_State;
struct Process;
struct Userdata;
struct CartLabelCanvas;

// Print registers in the process's address space.
enum : uint32_t {
    PRINT_HOME_X = 0x54F8,      // i32: where new lines start
    PRINT_OPTIONS = 0x5F36,     // bit 2 no newline appended, bit 7 wrap at the clip edge
    PRINT_FONT = 0x5F56,        // font byte of the default font (font at byte << 8)
    PRINT_ALT_FONT = 0x5F57,    // font byte of the alternate font
    PRINT_STYLE = 0x5F58,       // default style when bit 0 is set
    PRINT_SIZE = 0x5F59,        // low nibble char width, high nibble char height
    PRINT_WIDE_TAB = 0x5F5A,    // low nibble wide width, high nibble n: tab (n + 1) x width
    PRINT_OFFSETS = 0x5F5B,     // low nibble x offset, high nibble y offset
};
constexpr uint8_t PRINT_OPT_NO_NEWLINE = 4;
constexpr uint8_t PRINT_OPT_WRAP = 0x80;

// Font header: offsets into the 4096-byte font block.
enum {
    FONT_WIDTH = 0,       // advance of bytes 16-127
    FONT_WIDE_WIDTH = 1,  // advance of bytes 128-255
    FONT_HEIGHT = 2,      // line height
    FONT_X_OFFSET = 3,
    FONT_Y_OFFSET = 4,
    FONT_FLAGS = 5,
    FONT_TAB = 6,         // tab width in pixels, 0 = 3 x width
};
constexpr uint8_t FONT_FLAG_ADJUST = 1;     // width nibbles in bytes 8-127
constexpr uint8_t FONT_FLAG_TAB_HOME = 2;   // tab stops measured from home x
constexpr int FONT_BYTES = 4096;

// The kernel's built-in font (generated at build time from
// src/gfx/font/builtin_font.txt): width 5, wide width 10, height 11, flags 3.
extern const uint8_t print_builtin_font[FONT_BYTES];
constexpr uint32_t PRINT_BUILTIN_FONT_ADDR = 0x4000;
// Copies the built-in font to 0x4000 and points the default font byte at it
// (the alternate font byte gets 0x56), as the kernel's own drawing contexts
// have it.
void print_install_builtin_font(Process *p);

// A drawing record of the kernel's own, outside the process table: the
// built-in font, masks 0x3F and colour table 0 with row s filled with s, so
// that each colour writes itself (0 included). Null when out of memory.
Process *print_new_kernel_record();
void print_free_kernel_record(Process *r);

struct PrintResult {
    int64_t max_x, max_y;   // largest cursor x and y reached
    int64_t cycles;         // CPU units the print costs
};

// Prints length bytes of text onto target with the current process's draw
// state, starting at the cursor registers, and leaves the cursor after it.
// options is ORed into the print options register (0x5F36) for this call.
// The foreground colour is pen & 63, the background (pen >> 8) & 63. The
// caller charges result.cycles.
PrintResult print_v7scii(Userdata *target, const char *text, size_t length, int options, int pen);

// The label text of a PNG cartridge: text printed in the built-in font in
// colour 7 with the cursor at (x, y), by a drawing record of the kernel's
// own; its pixels are set on the canvas. Installed as the cartridge code's
// cart_label_text_printer.
void print_label_text(CartLabelCanvas *canvas, const char *text, int x, int y);

// _print_v7scii(text, [x, y,] [col]) -> largest cursor x, y
int lua54__print_v7scii(lua_State *L);
