// The typed-array object: element types, allocation, recognition and
// element access.
#include "userdata/userdata.h"

#include <bit>
#include <chrono>
#include <cstring>
#include <random>

#include "formats/digest.h"
#include "process/api.h"

static_assert(sizeof(Userdata) == 16, "element data must start 8-byte aligned");
static_assert(std::endian::native == std::endian::little, "element data is little-endian");

int ud_elem_size(int type)
{
    return (1 << (type & 7)) >> 3;
}

const char *ud_type_name(int type)
{
    static const char *const names[23] = {
        "?", "?", "?", "u8", "?", "?", "?", "?", "?", "?", "?", "?",
        "i16", "i32", "i64", "?", "?", "?", "?", "?", "?", "?", "f64"};
    int t = type & UD_TYPE_MASK;
    return t < 23 ? names[t] : "?";
}

int ud_parse_type(const char *name)
{
    if (!name || !name[0])
        return UD_U8;
    if (name[1] == '3')
        return UD_I32;
    if (name[1] == '1')
        return UD_I16;
    if (name[0] == 'f')
        return UD_F64;
    if (name[0] == 'i')
        return UD_I64;
    return UD_U8;
}

static bool valid_type(int type)
{
    int t = type & UD_TYPE_MASK;
    return t == UD_U8 || t == UD_I16 || t == UD_I32 || t == UD_I64 || t == UD_F64;
}

int64_t ud_data_size(const Userdata *u)
{
    return (int64_t)ud_elem_size(u->type) * u->width * u->height;
}

// Recognition. Lua code can change any object's metatable and user values
// through the debug library, so neither proves that a block is ours. Instead
// every header carries a 48-bit tag drawn at start-up from the host's random
// source; Lua code never sees header bytes (mapping and copies reach only
// the element data), so it cannot plant the tag in another subsystem's
// block. The header is also checked against the block's length, so even a
// forged header could not reach outside its own block.
static uint64_t kernel_tag()
{
    static const uint64_t tag = [] {
        uint64_t t = 0;
        try {
            std::random_device rd;
            t = (uint64_t)rd() << 32 | rd();
        } catch (...) {
        }
        t ^= (uint64_t)std::chrono::steady_clock::now().time_since_epoch().count();
        t ^= (uint64_t)(uintptr_t)&t * 0x9E3779B97F4A7C15ull;
        return t & 0xFFFFFFFFFFFFull;
    }();
    return tag;
}

static void write_tag(Userdata *u)
{
    uint64_t t = kernel_tag();
    u->pad0[0] = (uint8_t)t;
    u->pad0[1] = (uint8_t)(t >> 8);
    u->pad1 = (int32_t)(uint32_t)(t >> 16);
}

static bool has_tag(const Userdata *u)
{
    uint64_t t = (uint64_t)u->pad0[0] | (uint64_t)u->pad0[1] << 8 | (uint64_t)(uint32_t)u->pad1 << 16;
    return t == kernel_tag();
}

Userdata *ud_check(lua_State *L, int idx)
{
    if (lua_type(L, idx) != LUA_TUSERDATA)
        return nullptr;
    size_t len = lua_rawlen(L, idx);
    if (len < sizeof(Userdata))
        return nullptr;
    Userdata *u = (Userdata *)lua_touserdata(L, idx);
    if (!has_tag(u) || !valid_type(u->type) || (u->dims != 1 && u->dims != 2) || u->width < 1 ||
        u->height < 1)
        return nullptr;
    if (ud_data_size(u) > (int64_t)(len - sizeof(Userdata)))
        return nullptr;
    return u;
}

// The USERDATA global of the state, read without metamethods: a table
// becomes the object's metatable.
static void attach_metatable(lua_State *L)
{
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    lua_pushliteral(L, "USERDATA");
    lua_rawget(L, -2);
    if (lua_istable(L, -1))
        lua_setmetatable(L, -3);
    else
        lua_pop(L, 1);
    lua_pop(L, 1);
}

Userdata *ud_new(lua_State *L, int type, int dims, int64_t width, int64_t height)
{
    if (!valid_type(type) || (dims != 1 && dims != 2))
        return nullptr;
    if (dims == 1)
        height = 1;
    // each factor is bounded first so that the product cannot overflow
    if (width < 1 || height < 1 || width > UD_MAX_DATA || height > UD_MAX_DATA)
        return nullptr;
    int64_t size = width * height * ud_elem_size(type);
    if (size > UD_MAX_DATA)
        return nullptr;
    size_t alloc = (size_t)((size + 7) & ~(int64_t)7);
    Userdata *u = (Userdata *)lua_newuserdatauv(L, sizeof(Userdata) + alloc, 0);
    memset(u, 0, sizeof(Userdata) + alloc);
    u->type = (uint8_t)(type & UD_TYPE_MASK);
    u->dims = (int8_t)dims;
    u->width = (int32_t)width;
    u->height = (int32_t)height;
    write_tag(u);
    attach_metatable(L);
    return u;
}

template <typename T>
static T load(const Userdata *u, int64_t i)
{
    T v;
    memcpy(&v, ud_data(u) + i * (int64_t)sizeof(T), sizeof(T));
    return v;
}

template <typename T>
static void store(Userdata *u, int64_t i, T v)
{
    memcpy(ud_data(u) + i * (int64_t)sizeof(T), &v, sizeof(T));
}

int64_t ud_get_int(const Userdata *u, int64_t i)
{
    switch (u->type & UD_TYPE_MASK) {
    case UD_U8: return ud_data(u)[i];
    case UD_I16: return load<int16_t>(u, i);
    case UD_I32: return load<int32_t>(u, i);
    case UD_I64: return load<int64_t>(u, i);
    default: return 0;
    }
}

double ud_get_f64(const Userdata *u, int64_t i)
{
    if ((u->type & UD_TYPE_MASK) == UD_F64)
        return load<double>(u, i);
    return (double)ud_get_int(u, i);
}

void ud_push_elem(lua_State *L, const Userdata *u, int64_t i)
{
    if ((u->type & UD_TYPE_MASK) == UD_F64)
        lua_pushnumber(L, load<double>(u, i));
    else
        lua_pushinteger(L, ud_get_int(u, i));
}

void ud_store_elem(lua_State *L, Userdata *u, int64_t i, int value_idx)
{
    int t = u->type & UD_TYPE_MASK;
    if (t == UD_F64) {
        store<double>(u, i, k64_num(L, value_idx, 0.0));
        return;
    }
    uint64_t v = (uint64_t)k64_intp(L, value_idx, 0);
    switch (t) {
    case UD_U8: ud_data(u)[i] = (uint8_t)v; break;
    case UD_I16: store<uint16_t>(u, i, (uint16_t)v); break;
    case UD_I32: store<uint32_t>(u, i, (uint32_t)v); break;
    case UD_I64: store<uint64_t>(u, i, v); break;
    }
}

uint32_t ud_crc32(const Userdata *u)
{
    return crc32b(ud_data(u), (size_t)ud_data_size(u));
}
