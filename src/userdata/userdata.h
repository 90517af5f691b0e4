// Kernel typed arrays: one- or two-dimensional blocks of numbers of one
// element type, held in Lua full userdata and shared by every native
// subsystem (bitmaps, maps, vectors, matrices, wave tables, buffers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "lua.hpp"

// Header of every kernel typed array. pad0 and pad1 are not part of the
// object's shape: they hold the kernel's tag (see ud_check) and are written
// only by ud_new.
struct Userdata { uint8_t type; int8_t dims; uint8_t pad0[2]; int32_t width; int32_t height; int32_t pad1; };  // element data follows, 8-byte aligned
inline uint8_t *ud_data(Userdata *u) { return (uint8_t *)(u + 1); }
inline const uint8_t *ud_data(const Userdata *u) { return (const uint8_t *)(u + 1); }

// Element type codes; only the low five bits of the type byte are read.
// Low three bits: log2 of the element's width in bits; 8: signed; 16: float.
enum { UD_U8 = 3, UD_I16 = 12, UD_I32 = 13, UD_I64 = 14, UD_F64 = 22 };
constexpr int UD_TYPE_MASK = 0x1f;
constexpr int64_t UD_MAX_DATA = 0x1000000;   // 16 MiB of element data at most

int ud_elem_size(int type);                 // bytes per element from the code (masked with 0x1f)
const char *ud_type_name(int type);         // "u8", "i16", ... "?"
int ud_parse_type(const char *name);        // first-two-characters rule
int64_t ud_data_size(const Userdata *u);    // element bytes x width x height
inline int64_t ud_count(const Userdata *u) { return (int64_t)u->width * u->height; }
Userdata *ud_check(lua_State *L, int idx);  // the kernel userdata at idx, or nullptr
// The internal create operation: pushes the new userdata and returns it, or pushes nothing and returns nullptr.
// A type name starting "[gfx]" or "[map]" is a legacy literal carrying its
// own size and data. data may be null (zero-filled); it need not be
// 0-terminated: data_len bounds every read. Creating from text charges
// (elements x element bits) / 32.
Userdata *ud_create(lua_State *L, const char *type_name, int dims, int64_t width, int64_t height, const char *data, size_t data_len);
Userdata *ud_new(lua_State *L, int type, int dims, int64_t width, int64_t height);  // zero-filled, pushes it

// Element (flat index i, in range) as a Lua value, and a Lua value stored
// into it: integer types take the integer-argument rule and wrap to the
// element width, f64 takes a number or numeric string; anything else is 0.
void ud_push_elem(lua_State *L, const Userdata *u, int64_t i);
void ud_store_elem(lua_State *L, Userdata *u, int64_t i, int value_idx);
double ud_get_f64(const Userdata *u, int64_t i);
int64_t ud_get_int(const Userdata *u, int64_t i);   // integer types only

// CRC-32 (crc32b) of the element bytes.
uint32_t ud_crc32(const Userdata *u);

// Rectangle copy between two userdata of one element type: the destination
// rectangle is clipped to clip (and always to the destination's bounds),
// moving the source corner along, then to the source's bounds. Overlapping
// copies within one object are correct. Returns h * (w + 64) of the copied
// rectangle, four times that when copying backwards along the same rows;
// 0 when nothing is copied.
struct UdRect { int32_t x0, y0, x1, y1; };   // x1, y1 exclusive
int64_t ud_blit(Userdata *src, Userdata *dst, int64_t sx, int64_t sy, int64_t dx, int64_t dy,
                int64_t w, int64_t h, const UdRect *clip);

// Installed by the draw-state module: the current process's draw target
// with its effective clip rectangle (refreshed from the clip registers), or
// nullptr when it has none. Unset means no process has a draw target.
extern Userdata *(*ud_draw_target_hook)(lua_State *L, UdRect *clip);

// Method groups of the USERDATA metatable; userdata_open installs each
// group listed in its builder (the element-wise and matrix families add
// theirs there).
extern const luaL_Reg ud_access_methods[];   // __index, __newindex, __len, get, set
extern const luaL_Reg ud_object_methods[];   // shape, clear, crc, mutate, peek, poke, blit, __tostring

void userdata_open(lua_State *L);           // builds the USERDATA metatable of a state (methods)
int lua54_userdata(lua_State *L); int lua54_vec(lua_State *L); int lua54_get(lua_State *L); int lua54_set(lua_State *L);
int lua54_blit(lua_State *L);               // blit(src, dest, ...), also the method
