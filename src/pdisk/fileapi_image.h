// Images in files: PNG and QOI pictures as the file API reads and writes
// them, converted to and from userdata through the display palette.
#pragma once
#include <cstddef>
#include <cstdint>

struct lua_State;
struct Userdata;

// Decodes a PNG (or, with `qoi`, a QOI picture) and pushes it as userdata:
// with `rgba`, i32 elements 0xAARRGGBB; otherwise u8 indices of the nearest
// display palette entries. Charges w x h / 2. Returns 1, or 0 with nothing
// pushed when the bytes do not decode or the picture is too large.
int fileapi_push_image(lua_State *L, const void *bytes, size_t n, int qoi, int rgba);

// The pixels of a two-dimensional u8 or i32 userdata as RGBA (w x h x 4
// bytes from malloc): u8 through the display palette, i32 read as
// 0xAARRGGBB. Null for any other value.
uint8_t *fileapi_userdata_rgba(const Userdata *u);

// Index 0..63 of the display palette entry nearest to a colour, by
// dB^2 + 7 dG^2 + 2 dR^2; the lowest index wins ties.
int fileapi_nearest_palette_index(const uint32_t palette[64], uint8_t r, uint8_t g, uint8_t b);
