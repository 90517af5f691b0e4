// Address space pages, block operations and userdata mapping.
#include "memory/ram.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kernel/kernel.h"
#include "lua.hpp"

bool (*ram_userdata_view)(lua_State *L, int idx, UdView *v) = nullptr;

uint8_t *ram_own_page(Process *p, uint32_t pg)
{
    uint8_t *blk = p->own_page[pg];
    if (blk)
        return blk;
    blk = (uint8_t *)calloc(1, RAM_PAGE_SIZE);
    if (!blk) {
        fprintf(stderr, "** out of host memory for a RAM page\n");
        kestrane_exit(1);
    }
    p->own_page[pg] = blk;
    p->ram_alloc += RAM_PAGE_SIZE;
    if (p->page_len[pg] == 0) {
        p->read_ptr[pg] = blk;
        p->page_len[pg] = RAM_PAGE_SIZE;
    }
    return blk;
}

uint32_t ram_run(Process *p, uint32_t a, uint8_t **out)
{
    uint32_t pg = (a >> 12) & RAM_PAGE_MASK;
    uint32_t o = a & RAM_PAGE_MASK;
    int32_t n = p->page_len[pg];
    if ((int32_t)o < n) {
        *out = p->read_ptr[pg] + o;
        return (uint32_t)n - o;
    }
    *out = ram_own_page(p, pg) + o;
    return RAM_PAGE_SIZE - o;
}

static int64_t clamp_len(int64_t len)
{
    return len > RAM_SIZE ? RAM_SIZE : len;
}

// Overlapping copy, byte by byte through the access rule. When each range
// starts inside the other (only possible above 8 MiB, around the wrap) no
// single direction works, so the source goes through a temporary buffer.
static void copy_overlapping(Process *p, uint32_t dest, uint32_t src, uint32_t len)
{
    uint32_t ahead = (dest - src) & RAM_ADDR_MASK;    // dest starts inside src
    uint32_t behind = (src - dest) & RAM_ADDR_MASK;   // src starts inside dest
    if (ahead < len && behind < len) {
        std::vector<uint8_t> tmp(len);
        for (uint32_t i = 0; i < len; i++)
            tmp[i] = ram_load<uint8_t>(p, src + i);
        for (uint32_t i = 0; i < len; i++)
            ram_store<uint8_t>(p, dest + i, tmp[i]);
    } else if (behind < len) {
        for (uint32_t i = 0; i < len; i++)
            ram_store<uint8_t>(p, dest + i, ram_load<uint8_t>(p, src + i));
    } else {
        for (uint32_t i = len; i-- > 0;)
            ram_store<uint8_t>(p, dest + i, ram_load<uint8_t>(p, src + i));
    }
}

int64_t k64_memcpy_proc(Process *p, uint32_t dest, uint32_t src, int64_t len)
{
    if (!p || len <= 0)
        return 0;
    len = clamp_len(len);
    dest &= RAM_ADDR_MASK;
    src &= RAM_ADDR_MASK;
    if (dest == src)
        return 0;

    // Overlap is measured around the 2^24 wrap, so a range that wraps past
    // 0xFFFFFF is still seen to overlap.
    uint32_t ahead = (dest - src) & RAM_ADDR_MASK;
    uint32_t behind = (src - dest) & RAM_ADDR_MASK;
    if (ahead < len || behind < len) {
        copy_overlapping(p, dest, src, (uint32_t)len);
        return len / 8;
    }

    int64_t cost = 0;
    while (len > 0) {
        uint8_t *s;
        uint8_t *d;
        uint32_t ns = ram_run(p, src, &s);
        uint32_t nd = ram_run(p, dest, &d);
        uint32_t n = (uint32_t)std::min<int64_t>({(int64_t)ns, (int64_t)nd, len});
        // Two pages may map the same userdata bytes, so the chunks themselves
        // can alias even though the address ranges do not.
        memmove(d, s, n);
        p->page_flags[(dest >> 12) & RAM_PAGE_MASK] = RAM_FLAGS_WRITTEN;
        cost += n / 128 + 1;
        len -= n;
        src = (src + n) & RAM_ADDR_MASK;
        dest = (dest + n) & RAM_ADDR_MASK;
    }
    return cost;
}

int64_t k64_memset_proc(Process *p, uint32_t dest, uint8_t value, int64_t len)
{
    if (!p || len <= 0)
        return 0;
    len = clamp_len(len);
    dest &= RAM_ADDR_MASK;
    int64_t cost = 0;
    while (len > 0) {
        uint8_t *d;
        uint32_t n = (uint32_t)std::min<int64_t>(ram_run(p, dest, &d), len);
        memset(d, value, n);
        p->page_flags[(dest >> 12) & RAM_PAGE_MASK] = RAM_FLAGS_WRITTEN;
        cost += n / 128 + 1;
        len -= n;
        dest = (dest + n) & RAM_ADDR_MASK;
    }
    return cost;
}

void k64_pmemcpy_pages(Process *from, Process *to, int start, int end)
{
    if (!from || !to || from == to)
        return;
    start = std::max(start, 0);
    end = std::min(end, RAM_PAGES);
    for (int pg = start; pg < end; pg++) {
        uint32_t a = (uint32_t)pg << 12;
        uint32_t stop = a + RAM_PAGE_SIZE;
        while (a < stop) {
            uint8_t *s;
            uint8_t *d;
            uint32_t n = std::min(ram_run(from, a, &s), ram_run(to, a, &d));
            memcpy(d, s, n);
            a += n;
        }
        to->page_flags[pg] = RAM_FLAGS_WRITTEN;
    }
}

void ram_init_process(Process *p)
{
    for (int pg = 0; pg < RAM_LOW_PAGES; pg++) {
        if (p->own_page[pg])
            memset(p->own_page[pg], 0, RAM_PAGE_SIZE);
        else
            ram_own_page(p, pg);
        p->read_ptr[pg] = p->own_page[pg];
        p->page_len[pg] = RAM_PAGE_SIZE;
    }
    // colour-table pages: bit 1 tells the draw state they need reading
    for (int pg = 8; pg < 12; pg++)
        p->page_flags[pg] = 2;
}

void ram_free_process(Process *p)
{
    for (int pg = 0; pg < RAM_PAGES; pg++) {
        free(p->own_page[pg]);
        p->own_page[pg] = nullptr;
        p->read_ptr[pg] = nullptr;
        p->page_len[pg] = 0;
        p->page_flags[pg] = 0;
        p->page_ref[pg] = 0;
    }
    memset(p->mapped_bits, 0, sizeof p->mapped_bits);
    p->ram_alloc = 0;
}

bool ram_view_userdata(lua_State *L, int idx, UdView *v)
{
    if (lua_type(L, idx) != LUA_TUSERDATA)
        return false;
    // without the typed-array module no block can be told apart from
    // another subsystem's, so none is mapped
    return ram_userdata_view && ram_userdata_view(L, idx, v);
}

int64_t ud_view_size(const UdView *v)
{
    return (int64_t)v->width * v->height * v->elem_size;
}

static void release_ref(Process *p, lua_State *L, uint32_t pg)
{
    if (p->page_ref[pg] != 0 && L)
        luaL_unref(L, LUA_REGISTRYINDEX, p->page_ref[pg]);
    p->page_ref[pg] = 0;
}

void ram_map_page(Process *p, lua_State *L, int ud_index, uint32_t pg, uint8_t *data, int32_t n)
{
    pg &= RAM_PAGE_MASK;
    ud_index = lua_absindex(L, ud_index);
    // take the new reference before dropping the old one: remapping a page
    // onto the userdata it already maps must not let it go for a moment
    lua_pushvalue(L, ud_index);
    int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    release_ref(p, L, pg);
    p->page_ref[pg] = ref;
    p->read_ptr[pg] = data;
    p->page_len[pg] = n;
    p->mapped_bits[pg >> 5] |= 1u << (pg & 31);
    p->page_flags[pg] = RAM_FLAGS_WRITTEN;
}

void ram_map_kernel_page(Process *p, uint32_t pg, uint8_t *data, int32_t n)
{
    pg &= RAM_PAGE_MASK;
    p->page_ref[pg] = 0;
    p->read_ptr[pg] = data;
    p->page_len[pg] = n;
    p->mapped_bits[pg >> 5] |= 1u << (pg & 31);
    p->page_flags[pg] = RAM_FLAGS_WRITTEN;
}

void ram_unmap_page(Process *p, lua_State *L, uint32_t pg)
{
    pg &= RAM_PAGE_MASK;
    release_ref(p, L, pg);
    p->read_ptr[pg] = p->own_page[pg];
    // an existing own page makes it a normal page again (same bytes as a
    // page_len of 0 would give, but keeps single-byte access on the fast path)
    p->page_len[pg] = p->own_page[pg] ? RAM_PAGE_SIZE : 0;
    p->mapped_bits[pg >> 5] &= ~(1u << (pg & 31));
    p->page_flags[pg] = RAM_FLAGS_WRITTEN;
}

bool ram_map(Process *p, lua_State *L, int ud_index, const UdView *v, int64_t a, int64_t offset,
             int64_t len, int64_t *result)
{
    if (v->type == UD_TYPE_F64)
        return false;
    int64_t size = ud_view_size(v);
    offset &= ~(int64_t)3;
    // a negative offset would map bytes in front of the userdata
    if (offset < 0 || offset >= size)
        return false;
    if (len == RAM_MAP_LEN_REST)
        len = size - offset;
    *result = len;
    if (len < 1 || len > RAM_MAP_LEN_MAX)
        return true;
    len = std::min(len, size - offset);
    *result = len;

    uint32_t first = (uint32_t)(a >> 12) & RAM_PAGE_MASK;
    int64_t pages = (len + RAM_PAGE_SIZE - 1) / RAM_PAGE_SIZE;
    for (int64_t k = 0; k < pages; k++) {
        uint32_t pg = (first + (uint32_t)k) & RAM_PAGE_MASK;
        int64_t rest = len - k * RAM_PAGE_SIZE;
        // drawing code reads the low pages through read_ptr directly, so they
        // are only ever mapped whole
        if (pg < RAM_LOW_PAGES && rest < RAM_PAGE_SIZE)
            continue;
        int32_t n = (int32_t)std::min<int64_t>(rest, RAM_PAGE_SIZE);
        ram_map_page(p, L, ud_index, pg, v->data + offset + k * RAM_PAGE_SIZE, n);
    }
    return true;
}

bool ram_unmap(Process *p, lua_State *L, const uint8_t *data, int64_t size, int64_t a, int64_t len)
{
    int64_t end = std::min(size, len);
    if (end <= 0)
        return true;
    const uint8_t *stop = data + end;
    // addresses wrap at 16 MiB (also keeps a + end inside 64 bits)
    if (a >= 0)
        a &= RAM_ADDR_MASK;
    // pages [a >> 12, (a + end - 1) >> 12], measured around the wrap
    int64_t first = a >> 12;
    int64_t span = ((a + end - 1) >> 12) - first;
    bool all = true;
    for (uint32_t pg = 0; pg < (uint32_t)RAM_PAGES; pg++) {
        if (!ram_page_mapped(p, pg))
            continue;
        const uint8_t *r = p->read_ptr[pg];
        if (r < data || r >= stop)
            continue;
        if (a < 0 || span >= RAM_PAGES || (int64_t)((pg - first) & RAM_PAGE_MASK) <= span)
            ram_unmap_page(p, L, pg);
        else
            all = false;
    }
    return all;
}
