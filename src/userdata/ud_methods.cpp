// Shape queries, clear, crc, retyping, text form and copies to and from the
// address space.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "memory/ram.h"
#include "process/api.h"
#include "process/process.h"
#include "process/slice.h"
#include "userdata/userdata.h"

static int ud_width(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    lua_pushinteger(L, u->width);
    return 1;
}

static int ud_height(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    if (u->dims < 2)
        lua_pushnil(L);
    else
        lua_pushinteger(L, u->height);
    return 1;
}

static int ud_attribs(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    lua_pushinteger(L, u->width);
    lua_pushinteger(L, u->height);
    lua_pushstring(L, ud_type_name(u->type));
    lua_pushinteger(L, u->dims);
    return 4;
}

static int ud_clear(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    int64_t bytes = ud_data_size(u);
    memset(ud_data(u), 0, (size_t)bytes);
    spend_cpu(bytes / 64);
    return 0;
}

static int ud_crc(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    lua_pushinteger(L, ud_crc32(u));
    return 1;
}

// mutate([type], [width], [height]): the same bytes under another type and
// shape. Returns nothing on success, else a message.
static int ud_mutate(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    int old_type = u->type & UD_TYPE_MASK;
    int new_type = ud_parse_type(lua_type(L, 2) == LUA_TSTRING ? lua_tostring(L, 2) : nullptr);
    if (old_type != new_type && (old_type == UD_F64 || new_type == UD_F64)) {
        lua_pushliteral(L, "can not mutate between integer and float data types");
        return 1;
    }
    bool width_given = lua_isnumber(L, 3);
    bool height_given = lua_isnumber(L, 4);
    int64_t w = k64_intt(L, 3, 0);
    int64_t h = k64_intt(L, 4, 0);
    int64_t new_elem = ud_elem_size(new_type);
    if (w <= 0)   // a row too narrow for one element is at least one: the size test decides
        w = std::max<int64_t>(1, (int64_t)u->width * ud_elem_size(old_type) / new_elem);
    if (width_given && !height_given)
        h = 1;
    else if (h <= 0)
        h = u->height;
    int64_t old_size = ud_data_size(u);
    // each factor is bounded by the old size before the product is taken
    if (w > old_size || h > old_size || w * h * new_elem > old_size) {
        lua_pushliteral(L, "new size is larger than old size");
        return 1;
    }
    u->type = (uint8_t)new_type;
    u->width = (int32_t)w;
    u->height = (int32_t)h;
    if (width_given)
        u->dims = height_given ? 2 : 1;
    return 0;
}

static void append_row(std::string &s, const double *row, int n)
{
    char num[40];
    s += '(';
    for (int i = 0; i < n; i++) {
        snprintf(num, sizeof num, "%0.14g", row[i]);
        if (i)
            s += ", ";
        s += num;
    }
    s += ')';
}

static int ud_tostring(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    std::string s;
    const double *d = (const double *)ud_data(u);
    int w = u->width;
    if ((u->type & UD_TYPE_MASK) == UD_F64 && (w >= 2 && w <= 5)) {
        int rows = (w == 3 && u->height == 4) ? 4 : 1;
        for (int r = 0; r < rows; r++) {
            if (r)
                s += ",\n";
            append_row(s, d + r * w, w);
        }
    } else {
        char text[48];
        snprintf(text, sizeof text, "userdata: 0x%llx", (unsigned long long)(uintptr_t)u);
        s = text;
    }
    lua_pushlstring(L, s.data(), s.size());
    return 1;
}

// Byte copies between the address space (from a, wrapping) and memory,
// one page region at a time. memmove: a page may map these very bytes.
static void copy_from_ram(Process *p, uint32_t a, uint8_t *dst, int64_t n)
{
    while (n > 0) {
        uint8_t *src;
        int64_t k = std::min<int64_t>(ram_run(p, a, &src), n);
        memmove(dst, src, (size_t)k);
        dst += k;
        n -= k;
        a = (a + (uint32_t)k) & RAM_ADDR_MASK;
    }
}

static void copy_to_ram(Process *p, uint32_t a, const uint8_t *src, int64_t n)
{
    while (n > 0) {
        uint8_t *dst;
        int64_t k = std::min<int64_t>(ram_run(p, a, &dst), n);
        memmove(dst, src, (size_t)k);
        p->page_flags[(a >> 12) & RAM_PAGE_MASK] = RAM_FLAGS_WRITTEN;
        src += k;
        n -= k;
        a = (a + (uint32_t)k) & RAM_ADDR_MASK;
    }
}

// peek/poke(address, [offset], [count]): count elements between consecutive
// addresses and the data from element offset on, limited to the data.
// Elements are little-endian in both places, so the copy is bytewise.
static int copy_elements(lua_State *L, bool to_ram)
{
    Userdata *u = ud_check(L, 1);
    if (!u || (u->type & UD_TYPE_MASK) == UD_F64)
        return 0;
    uint32_t a = (uint32_t)k64_intp(L, 2, 0);
    int64_t total = ud_count(u);
    int64_t offset = std::max<int64_t>(k64_intp(L, 3, 0), 0);
    int64_t count = k64_intp(L, 4, total);
    if (offset >= total)
        count = 0;
    else
        count = std::clamp<int64_t>(count, 0, total - offset);
    int size = ud_elem_size(u->type);
    if (count > 0 && cproc) {
        uint8_t *d = ud_data(u) + offset * size;
        if (to_ram)
            copy_to_ram(cproc, a, d, count * size);
        else
            copy_from_ram(cproc, a, d, count * size);
    }
    spend_cpu(count / 4);
    lua_pushvalue(L, 1);
    return 1;
}

static int ud_peek(lua_State *L) { return copy_elements(L, false); }
static int ud_poke(lua_State *L) { return copy_elements(L, true); }

extern const luaL_Reg ud_object_methods[] = {
    {"width", ud_width},   {"height", ud_height}, {"attribs", ud_attribs},
    {"clear", ud_clear},   {"crc", ud_crc},       {"mutate", ud_mutate},
    {"peek", ud_peek},     {"poke", ud_poke},     {"__tostring", ud_tostring},
    {"blit", lua54_blit},  {nullptr, nullptr}};
