// kxu: the compact binary form of userdata inside kod. A block is the marker
// "kxu" 0x00, a header (dimensions and element type, mode and width flag,
// width, height) and a body in one of three modes.
#pragma once
#include <cstddef>

struct Buffer;
struct lua_State;
struct Userdata;

constexpr int KXU_MODE_RAW = 16;
constexpr int KXU_MODE_MTF = 32;     // move-to-front, u8 only
constexpr int KXU_MODE_RLE = 128;
constexpr int KXU_MTF_BITS = 4;      // the index width the kernel writes

// Writes the marker and the block at b's cursor; returns the bytes written,
// or -1 when the buffer cannot grow. `bits` is the move-to-front index width,
// clamped to 1..6. Move-to-front on a type other than u8, and unknown modes,
// are written in run-length mode.
int write_binary_kxu(Userdata *ud, Buffer *b, int bits, int mode);

// Reads a block (starting at the marker) of at most len bytes, pushes the
// new userdata and returns the position after the block; returns null and
// pushes nothing when the block is malformed or truncated.
const char *get_binary_kxu(lua_State *L, const char *text, size_t len);
