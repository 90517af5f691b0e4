// Per-process address space: 16 MiB of 4096-byte pages, backed on first
// touch, each of which can also be mapped onto the data of a userdata.
//
// Byte access rule for page p, offset o: when o < page_len[p] the byte lives
// at read_ptr[p] + o; otherwise it is byte o of the process's own page,
// allocated (zeroed) on demand. A page with nothing mapped whose own page
// exists is a "normal" page: read_ptr = own_page, page_len = 4096, so the
// common case is one table lookup and one compare.
//
// Addresses wrap modulo 2^24, also inside multi-byte and block operations.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "process/process.h"

struct lua_State;

constexpr uint32_t RAM_ADDR_MASK = 0xFFFFFF;
constexpr int64_t RAM_SIZE = 0x1000000;
constexpr uint32_t RAM_PAGE_MASK = 0xFFF;
constexpr int RAM_LOW_PAGES = 16;          // 0x0000-0xFFFF, allocated at creation
constexpr uint8_t RAM_FLAGS_WRITTEN = 0xFF;

// Own page of page pg, allocated and zeroed on first need (ram_alloc +=
// 4096); an unmapped page then becomes a normal page.
uint8_t *ram_own_page(Process *p, uint32_t pg);

// Address of the byte at a by the access rule (allocating as needed).
inline uint8_t *ram_ptr(Process *p, uint32_t a)
{
    uint32_t pg = (a >> 12) & RAM_PAGE_MASK;
    uint32_t o = a & RAM_PAGE_MASK;
    if ((int32_t)o < p->page_len[pg])
        return p->read_ptr[pg] + o;
    return ram_own_page(p, pg) + o;
}

// Contiguous bytes from a that stay inside one region of its page (the
// mapped part or the own page); *out receives the address of the first.
uint32_t ram_run(Process *p, uint32_t a, uint8_t **out);

// Little-endian load and store of N bytes, each byte by the access rule.
template <typename T>
inline T ram_load(Process *p, uint32_t a)
{
    uint32_t pg = (a >> 12) & RAM_PAGE_MASK;
    uint32_t o = a & RAM_PAGE_MASK;
    if constexpr (std::endian::native == std::endian::little) {
        if ((int32_t)(o + sizeof(T)) <= p->page_len[pg]) {
            T v;
            std::memcpy(&v, p->read_ptr[pg] + o, sizeof(T));
            return v;
        }
    }
    T v = 0;
    for (uint32_t i = 0; i < sizeof(T); i++)
        v |= (T)((T)*ram_ptr(p, a + i) << (8 * i));
    return v;
}

template <typename T>
inline void ram_store(Process *p, uint32_t a, T v)
{
    uint32_t pg = (a >> 12) & RAM_PAGE_MASK;
    uint32_t o = a & RAM_PAGE_MASK;
    if constexpr (std::endian::native == std::endian::little) {
        if ((int32_t)(o + sizeof(T)) <= p->page_len[pg]) {
            std::memcpy(p->read_ptr[pg] + o, &v, sizeof(T));
            p->page_flags[pg] = RAM_FLAGS_WRITTEN;
            return;
        }
    }
    for (uint32_t i = 0; i < sizeof(T); i++) {
        uint32_t ai = a + i;
        *ram_ptr(p, ai) = (uint8_t)(v >> (8 * i));
        p->page_flags[(ai >> 12) & RAM_PAGE_MASK] = RAM_FLAGS_WRITTEN;
    }
}

template <>
inline uint8_t ram_load<uint8_t>(Process *p, uint32_t a)
{
    return *ram_ptr(p, a);
}

template <>
inline void ram_store<uint8_t>(Process *p, uint32_t a, uint8_t v)
{
    *ram_ptr(p, a) = v;
    p->page_flags[(a >> 12) & RAM_PAGE_MASK] = RAM_FLAGS_WRITTEN;
}

// On the current process (which is never null while kernel code runs).
inline uint8_t peek(uint32_t a) { return ram_load<uint8_t>(cproc, a); }
inline uint16_t peek2(uint32_t a) { return ram_load<uint16_t>(cproc, a); }
inline uint32_t peek4(uint32_t a) { return ram_load<uint32_t>(cproc, a); }
inline uint64_t peek8(uint32_t a) { return ram_load<uint64_t>(cproc, a); }
inline void poke(uint32_t a, uint8_t v) { ram_store<uint8_t>(cproc, a, v); }
inline void poke2(uint32_t a, uint16_t v) { ram_store<uint16_t>(cproc, a, v); }
inline void poke4(uint32_t a, uint32_t v) { ram_store<uint32_t>(cproc, a, v); }
inline void poke8(uint32_t a, uint64_t v) { ram_store<uint64_t>(cproc, a, v); }

// On a given process; reads give 0 and writes do nothing for no process.
inline uint8_t peek_proc(Process *p, uint32_t a) { return p ? ram_load<uint8_t>(p, a) : 0; }
inline uint16_t peek2_proc(Process *p, uint32_t a) { return p ? ram_load<uint16_t>(p, a) : 0; }
inline uint32_t peek4_proc(Process *p, uint32_t a) { return p ? ram_load<uint32_t>(p, a) : 0; }
inline uint64_t peek8_proc(Process *p, uint32_t a) { return p ? ram_load<uint64_t>(p, a) : 0; }
inline void poke_proc(Process *p, uint32_t a, uint8_t v) { if (p) ram_store<uint8_t>(p, a, v); }
inline void poke2_proc(Process *p, uint32_t a, uint16_t v) { if (p) ram_store<uint16_t>(p, a, v); }
inline void poke4_proc(Process *p, uint32_t a, uint32_t v) { if (p) ram_store<uint32_t>(p, a, v); }
inline void poke8_proc(Process *p, uint32_t a, uint64_t v) { if (p) ram_store<uint64_t>(p, a, v); }

// Block copy and fill. len <= 0 does nothing; len above 16 MiB is cut to
// 16 MiB. Both return the cycle cost: len / 8 for an overlapping copy (done
// byte by byte so that it equals a copy through a temporary buffer), else
// the sum over page-region chunks of (chunk / 128 + 1).
int64_t k64_memcpy_proc(Process *p, uint32_t dest, uint32_t src, int64_t len);
int64_t k64_memset_proc(Process *p, uint32_t dest, uint8_t value, int64_t len);
inline int64_t k64_memcpy(uint32_t dest, uint32_t src, int64_t len)
{
    return k64_memcpy_proc(cproc, dest, src, len);
}
inline int64_t k64_memset(uint32_t dest, uint8_t value, int64_t len)
{
    return k64_memset_proc(cproc, dest, value, len);
}

// Copies the pages [start, end) (page numbers, end at most 4096) of one
// process to the same pages of another, through both access rules.
void k64_pmemcpy_pages(Process *from, Process *to, int start, int end);

// Process creation and teardown.
void ram_init_process(Process *p);
// Frees every own page and clears the page tables. Registry references of
// mapped pages are dropped without unref: the Lua state is closed by then.
void ram_free_process(Process *p);

// Userdata seen as a block of elements. The userdata module installs
// ram_userdata_view (userdata_open) to recognise its typed arrays and read
// their headers; until then no userdata is accepted.
struct UdView {
    uint8_t *data;
    int type;
    int width;
    int height;
    int elem_size;
};
constexpr int UD_TYPE_U8 = 3;
constexpr int UD_TYPE_I16 = 12;
constexpr int UD_TYPE_F64 = 22;

extern bool (*ram_userdata_view)(lua_State *L, int idx, UdView *v);
// False when the value at idx is not a full userdata (or not one the
// userdata module accepts).
bool ram_view_userdata(lua_State *L, int idx, UdView *v);
int64_t ud_view_size(const UdView *v);

constexpr int64_t RAM_MAP_LEN_REST = INT64_MIN;   // map to the end of the data
constexpr int64_t RAM_MAP_LEN_MAX = 0x7FFFF000;

// Maps the userdata at ud_index (described by v) at address a: offset is
// rounded down to a multiple of 4, len RAM_MAP_LEN_REST means up to the end
// of the data. Each mapped page holds a registry reference to the userdata
// so that it stays alive while mapped. Returns false when nothing is to be
// returned (f64, offset outside the data); otherwise *result is the length
// to report.
bool ram_map(Process *p, lua_State *L, int ud_index, const UdView *v, int64_t a, int64_t offset,
             int64_t len, int64_t *result);

// Unmaps the pages that point into data[0, min(size, len)): all of them when
// a < 0, else those between page a >> 12 and page (a + end - 1) >> 12.
// Returns true when no such page stays mapped.
bool ram_unmap(Process *p, lua_State *L, const uint8_t *data, int64_t size, int64_t a, int64_t len);

// Maps one page onto data with page_len n (1..4096), or unmaps it.
void ram_map_page(Process *p, lua_State *L, int ud_index, uint32_t pg, uint8_t *data, int32_t n);
void ram_unmap_page(Process *p, lua_State *L, uint32_t pg);
// Maps page pg onto n bytes that the kernel owns and keeps alive itself
// (no Lua reference is taken).
void ram_map_kernel_page(Process *p, uint32_t pg, uint8_t *data, int32_t n);

inline bool ram_page_mapped(const Process *p, uint32_t pg)
{
    return (p->mapped_bits[pg >> 5] >> (pg & 31)) & 1;
}
