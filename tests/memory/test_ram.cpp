// Address space: access rule, wrap-around, block operations and mapping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "lua.hpp"
#include "memory/ram.h"

namespace {

struct RamTest : testing::Test {
    Process *p = nullptr;
    Process *saved = nullptr;

    void SetUp() override
    {
        saved = cproc;
        p = (Process *)calloc(1, sizeof(Process));
        cproc = p;
        ram_init_process(p);
    }
    void TearDown() override
    {
        ram_free_process(p);
        free(p);
        cproc = saved;
    }
};

// Mapping tests see any userdata as raw bytes (u8, one row) through a view
// of their own, independent of the typed-array module.
bool raw_view(lua_State *L, int idx, UdView *v)
{
    v->data = (uint8_t *)lua_touserdata(L, idx);
    v->type = UD_TYPE_U8;
    v->width = (int)lua_rawlen(L, idx);
    v->height = 1;
    v->elem_size = 1;
    return true;
}

struct MapTest : RamTest {
    lua_State *L = nullptr;
    bool (*saved_view)(lua_State *, int, UdView *) = nullptr;

    void SetUp() override
    {
        RamTest::SetUp();
        saved_view = ram_userdata_view;
        ram_userdata_view = raw_view;
        L = luaL_newstate();
        p->L = L;
    }
    void TearDown() override
    {
        lua_close(L);
        p->L = nullptr;
        ram_userdata_view = saved_view;
        RamTest::TearDown();
    }
    // Pushes a raw userdata of n bytes filled with fill; returns its data.
    uint8_t *push_ud(size_t n, uint8_t fill)
    {
        uint8_t *d = (uint8_t *)lua_newuserdatauv(L, n, 0);
        memset(d, fill, n);
        return d;
    }
    int64_t map(int idx, int64_t a, int64_t offset = 0, int64_t len = RAM_MAP_LEN_REST)
    {
        UdView v;
        EXPECT_TRUE(ram_view_userdata(L, idx, &v));
        int64_t r = -12345;
        EXPECT_TRUE(ram_map(p, L, idx, &v, a, offset, len, &r));
        return r;
    }
};

TEST_F(RamTest, CreationBacksLowPagesOnly)
{
    EXPECT_EQ(p->ram_alloc, RAM_LOW_PAGES * RAM_PAGE_SIZE);
    for (int pg = 0; pg < RAM_LOW_PAGES; pg++) {
        ASSERT_NE(p->own_page[pg], nullptr);
        EXPECT_EQ(p->read_ptr[pg], p->own_page[pg]);
        EXPECT_EQ(p->page_len[pg], RAM_PAGE_SIZE);
        EXPECT_EQ(p->page_flags[pg], (pg >= 8 && pg < 12) ? 2 : 0);
    }
    EXPECT_EQ(p->own_page[RAM_LOW_PAGES], nullptr);
}

TEST_F(RamTest, ReadingUntouchedPageAllocatesZeros)
{
    int64_t before = p->ram_alloc;
    EXPECT_EQ(peek(0x123456), 0);
    EXPECT_EQ(p->ram_alloc, before + RAM_PAGE_SIZE);
    EXPECT_EQ(p->read_ptr[0x123], p->own_page[0x123]);
    EXPECT_EQ(p->page_len[0x123], RAM_PAGE_SIZE);
    EXPECT_EQ(peek(0x123FFF), 0);
    EXPECT_EQ(p->ram_alloc, before + RAM_PAGE_SIZE);
}

TEST_F(RamTest, AddressesWrapModulo16MiB)
{
    poke(0x1000010, 0x5A);
    EXPECT_EQ(peek(0x10), 0x5A);
    EXPECT_EQ(peek(0xFF000010), 0x5A);

    poke4(0xFFFFFE, 0x44332211);
    EXPECT_EQ(peek(0xFFFFFE), 0x11);
    EXPECT_EQ(peek(0xFFFFFF), 0x22);
    EXPECT_EQ(peek(0x0), 0x33);
    EXPECT_EQ(peek(0x1), 0x44);
    EXPECT_EQ(peek4(0xFFFFFE), 0x44332211u);
    EXPECT_EQ(peek2(0xFFFFFF), 0x3322);
    EXPECT_EQ(p->page_flags[0xFFF], RAM_FLAGS_WRITTEN);
    EXPECT_EQ(p->page_flags[0], RAM_FLAGS_WRITTEN);

    poke8(0xFFFFFC, 0x8877665544332211ull);
    EXPECT_EQ(peek8(0xFFFFFC), 0x8877665544332211ull);
    EXPECT_EQ(peek(0x3), 0x88);
}

TEST_F(RamTest, MultiByteValuesStraddlePages)
{
    poke2(0x20000, 0x2345);
    EXPECT_EQ(peek(0x20000), 0x45);
    EXPECT_EQ(peek(0x20001), 0x23);
    EXPECT_EQ(peek(0x20002), 0);

    poke8(0x20FFD, 0x0807060504030201ull);
    for (uint32_t i = 0; i < 8; i++)
        EXPECT_EQ(peek(0x20FFD + i), i + 1) << i;
    EXPECT_EQ(peek8(0x20FFD), 0x0807060504030201ull);
    EXPECT_EQ(peek4(0x20FFE), 0x05040302u);
    EXPECT_EQ(p->page_flags[0x21], RAM_FLAGS_WRITTEN);
}

TEST_F(RamTest, ProcVariantsActOnTheGivenProcessOrNone)
{
    Process *q = (Process *)calloc(1, sizeof(Process));
    ram_init_process(q);
    poke4_proc(q, 0x30000, 0xCAFEBABE);
    EXPECT_EQ(peek4_proc(q, 0x30000), 0xCAFEBABEu);
    EXPECT_EQ(peek4(0x30000), 0u);
    EXPECT_EQ(peek_proc(nullptr, 0x30000), 0);
    EXPECT_EQ(peek8_proc(nullptr, 0), 0u);
    poke_proc(nullptr, 0, 1);   // must not crash
    ram_free_process(q);
    free(q);
}

TEST_F(RamTest, FreeReleasesEveryPage)
{
    peek(0x500000);
    ram_free_process(p);
    EXPECT_EQ(p->ram_alloc, 0);
    for (int pg = 0; pg < RAM_PAGES; pg++) {
        EXPECT_EQ(p->own_page[pg], nullptr);
        EXPECT_EQ(p->read_ptr[pg], nullptr);
        EXPECT_EQ(p->page_len[pg], 0);
    }
    ram_init_process(p);   // the record can be used again
    EXPECT_EQ(peek(0x500000), 0);
}

// Fills [a, a+n) with a pattern that differs per address.
static void scribble(Process *p, uint32_t a, uint32_t n, std::mt19937 &rng)
{
    for (uint32_t i = 0; i < n; i++)
        poke_proc(p, a + i, (uint8_t)rng());
}

static std::vector<uint8_t> snapshot(Process *p, uint32_t a, uint32_t n)
{
    std::vector<uint8_t> v(n);
    for (uint32_t i = 0; i < n; i++)
        v[i] = peek_proc(p, a + i);
    return v;
}

// Checks k64_memcpy against a copy through a temporary buffer, including the
// bytes just outside the destination.
static void check_copy(Process *p, uint32_t dest, uint32_t src, uint32_t len, std::mt19937 &rng)
{
    const uint32_t margin = 64;
    scribble(p, src - margin, len + 2 * margin, rng);
    scribble(p, dest - margin, len + 2 * margin, rng);
    std::vector<uint8_t> want_src = snapshot(p, src, len);
    std::vector<uint8_t> before = snapshot(p, dest - margin, margin);
    std::vector<uint8_t> after = snapshot(p, dest + len, margin);
    k64_memcpy_proc(p, dest, src, len);
    ASSERT_EQ(snapshot(p, dest, len), want_src) << std::hex << dest << " " << src << " " << len;
    ASSERT_EQ(snapshot(p, dest - margin, margin), before);
    ASSERT_EQ(snapshot(p, dest + len, margin), after);
}

TEST_F(RamTest, OverlappingCopiesEqualCopyThroughBuffer)
{
    std::mt19937 rng(1234);
    // 8 bytes from 4 to 8 must run backwards, and from 8 to 4 forwards
    check_copy(p, 8, 4, 8, rng);
    check_copy(p, 4, 8, 8, rng);
    for (int i = 0; i < 300; i++) {
        // bases near the wrap in half the cases
        uint32_t base = (i & 1) ? 0xFFF000 + (rng() % 0x2000) : 0x200000 + (rng() % 0x8000);
        uint32_t len = 1 + rng() % 9000;
        int32_t delta = (int32_t)(rng() % (2 * len)) - (int32_t)len;
        uint32_t src = base & RAM_ADDR_MASK;
        uint32_t dest = (uint32_t)(base + delta) & RAM_ADDR_MASK;
        if (src == dest)
            continue;
        check_copy(p, dest, src, len, rng);
    }
}

TEST_F(RamTest, NonOverlappingCopiesAcrossWrapAndOddOffsets)
{
    std::mt19937 rng(99);
    for (int i = 0; i < 100; i++) {
        uint32_t len = 1 + rng() % 20000;
        uint32_t src = (0xFF8000 + rng() % 0x10000) & RAM_ADDR_MASK;
        uint32_t dest = (src + len + rng() % 50000) & RAM_ADDR_MASK;
        check_copy(p, dest, src, len, rng);
    }
}

TEST_F(RamTest, CopyOverWholeSpaceRotates)
{
    // each range starts inside the other: no single direction works
    for (uint32_t a = 0; a < RAM_SIZE; a += RAM_PAGE_SIZE)
        poke4(a, a);
    int64_t cost = k64_memcpy(1, 0, RAM_SIZE);
    EXPECT_EQ(cost, RAM_SIZE / 8);
    for (uint32_t a = 0; a < RAM_SIZE; a += 0x10000)
        ASSERT_EQ(peek4(a + 1), a) << std::hex << a;
}

TEST_F(RamTest, CopyCosts)
{
    EXPECT_EQ(k64_memcpy(0x40000, 0x40000, 100), 0);
    EXPECT_EQ(k64_memcpy(0x40000, 0x50000, 0), 0);
    EXPECT_EQ(k64_memcpy(0x40000, 0x50000, -5), 0);
    // two aligned whole pages
    EXPECT_EQ(k64_memcpy(0x40000, 0x50000, 0x2000), 2 * (4096 / 128 + 1));
    // destination starts 0x100 into a page: chunks 0xF00 then 0x100
    EXPECT_EQ(k64_memcpy(0x40100, 0x50000, 0x1000), (0xF00 / 128 + 1) + (0x100 / 128 + 1));
    // overlapping: len / 8
    EXPECT_EQ(k64_memcpy(0x40010, 0x40000, 1000), 1000 / 8);
    // the same address modulo 2^24 is the same address
    EXPECT_EQ(k64_memcpy(0x1040000, 0x40000, 100), 0);
}

TEST_F(RamTest, CopyMarksDestinationPages)
{
    p->page_flags[0x61] = 0;
    p->page_flags[0x62] = 0;
    p->page_flags[0x70] = 0;
    k64_memcpy(0x61800, 0x70000, 0x1000);
    EXPECT_EQ(p->page_flags[0x61], RAM_FLAGS_WRITTEN);
    EXPECT_EQ(p->page_flags[0x62], RAM_FLAGS_WRITTEN);
    EXPECT_EQ(p->page_flags[0x70], 0);
}

TEST_F(RamTest, MemsetFillsWrapsAndCosts)
{
    poke(0xFFFFEF, 9);
    poke(0x10, 9);
    int64_t cost = k64_memset(0xFFFFF0, 0xA5, 0x20);
    EXPECT_EQ(cost, 2 * (16 / 128 + 1));
    EXPECT_EQ(peek(0xFFFFEF), 9);
    for (uint32_t a = 0xFFFFF0; a < 0x1000010; a++)
        EXPECT_EQ(peek(a), 0xA5) << std::hex << a;
    EXPECT_EQ(peek(0x10), 9);
    EXPECT_EQ(k64_memset(0x30000, 1, 0), 0);
    EXPECT_EQ(k64_memset(0x30000, 1, -1), 0);
    EXPECT_EQ(peek(0x30000), 0);
    EXPECT_EQ(k64_memset(0x30000, 3, 0x3000), 3 * (4096 / 128 + 1));
}

TEST_F(RamTest, MemsetLengthIsCutAt16MiB)
{
    int64_t cost = k64_memset(0, 7, RAM_SIZE * 3);
    EXPECT_EQ(cost, RAM_PAGES * (4096 / 128 + 1));
    EXPECT_EQ(peek(0xABCDEF), 7);
}

TEST_F(RamTest, PageCopyBetweenProcesses)
{
    Process *q = (Process *)calloc(1, sizeof(Process));
    ram_init_process(q);
    std::mt19937 rng(5);
    scribble(p, 0xF78000, 0x3000, rng);
    k64_pmemcpy_pages(p, q, 0xF78, 0xF7A);
    EXPECT_EQ(snapshot(q, 0xF78000, 0x2000), snapshot(p, 0xF78000, 0x2000));
    EXPECT_EQ(peek_proc(q, 0xF7A000), 0);
    EXPECT_EQ(q->page_flags[0xF79], RAM_FLAGS_WRITTEN);
    k64_pmemcpy_pages(p, q, 0xFFF, 0x5000);   // end is clamped to the last page
    ram_free_process(q);
    free(q);
}

TEST_F(MapTest, PartialMappingAboveLowPages)
{
    poke(0x10070, 0x77);
    uint8_t *d = push_ud(100, 0x11);
    EXPECT_EQ(map(-1, 0x10000), 100);
    EXPECT_EQ(p->page_len[0x10], 100);
    EXPECT_TRUE(ram_page_mapped(p, 0x10));
    EXPECT_EQ(p->page_flags[0x10], RAM_FLAGS_WRITTEN);
    EXPECT_EQ(peek(0x10000), 0x11);
    EXPECT_EQ(peek(0x10063), 0x11);
    EXPECT_EQ(peek(0x10064), 0);      // own page from here on
    EXPECT_EQ(peek(0x10070), 0x77);   // bytes poked before mapping stay
    poke(0x10005, 0x22);
    EXPECT_EQ(d[5], 0x22);
    poke(0x10064, 0x33);   // does not run past the userdata
    EXPECT_EQ(peek(0x10064), 0x33);
    poke4(0x10062, 0xDDCCBBAA);   // straddles the mapped and own parts
    EXPECT_EQ(d[98], 0xAA);
    EXPECT_EQ(d[99], 0xBB);
    EXPECT_EQ(peek2(0x10064), 0xDDCC);
}

TEST_F(MapTest, PartialPageBelow64KiBIsNotMapped)
{
    push_ud(100, 0x11);
    EXPECT_EQ(map(-1, 0x8000), 100);
    EXPECT_FALSE(ram_page_mapped(p, 8));
    EXPECT_EQ(peek(0x8000), 0);
    // 6000 bytes at 0x3000: page 3 whole, page 4 (partial) left alone
    push_ud(6000, 0x44);
    EXPECT_EQ(map(-1, 0x3123), 6000);   // low 12 bits of the address ignored
    EXPECT_TRUE(ram_page_mapped(p, 3));
    EXPECT_FALSE(ram_page_mapped(p, 4));
    EXPECT_EQ(peek(0x3000), 0x44);
    EXPECT_EQ(peek(0x4000), 0);
}

TEST_F(MapTest, OffsetAndLengthRules)
{
    uint8_t *d = push_ud(10000, 0);
    for (int i = 0; i < 10000; i++)
        d[i] = (uint8_t)(i * 7);
    // offset 4099 rounds down to 4096; the length is limited to the data
    EXPECT_EQ(map(-1, 0x20000, 4099, 100000), 10000 - 4096);
    EXPECT_EQ(peek(0x20000), d[4096]);
    EXPECT_EQ(p->page_len[0x20], 4096);
    EXPECT_EQ(p->page_len[0x21], 10000 - 8192);
    EXPECT_EQ(peek(0x21000), d[8192]);
    // out of range lengths are returned but map nothing
    int64_t r = 0;
    UdView v;
    ram_view_userdata(L, -1, &v);
    EXPECT_TRUE(ram_map(p, L, -1, &v, 0x30000, 0, 0, &r));
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(ram_map(p, L, -1, &v, 0x30000, 0, -7, &r));
    EXPECT_EQ(r, -7);
    EXPECT_TRUE(ram_map(p, L, -1, &v, 0x30000, 0, 0x7FFFF001, &r));
    EXPECT_EQ(r, 0x7FFFF001);
    EXPECT_FALSE(ram_page_mapped(p, 0x30));
    // offsets outside the data return nothing
    EXPECT_FALSE(ram_map(p, L, -1, &v, 0x30000, 10000, RAM_MAP_LEN_REST, &r));
    EXPECT_FALSE(ram_map(p, L, -1, &v, 0x30000, -4, RAM_MAP_LEN_REST, &r));
    EXPECT_FALSE(ram_page_mapped(p, 0x30));
    // f64 data is never mapped
    v.type = UD_TYPE_F64;
    EXPECT_FALSE(ram_map(p, L, -1, &v, 0x30000, 0, RAM_MAP_LEN_REST, &r));
}

TEST_F(MapTest, WithoutViewNoUserdataIsAccepted)
{
    push_ud(64, 1);
    UdView v;
    ram_userdata_view = nullptr;
    EXPECT_FALSE(ram_view_userdata(L, -1, &v));
    lua_pushinteger(L, 5);
    ram_userdata_view = raw_view;
    EXPECT_FALSE(ram_view_userdata(L, -1, &v));   // only full userdata reach the view
}

TEST_F(MapTest, MappingWrapsFromLastPage)
{
    push_ud(8192, 0x66);
    EXPECT_EQ(map(-1, 0xFFF000), 8192);
    EXPECT_TRUE(ram_page_mapped(p, 0xFFF));
    EXPECT_TRUE(ram_page_mapped(p, 0));
    EXPECT_EQ(peek(0x0), 0x66);
}

TEST_F(MapTest, BlockOpsRespectMappedRegions)
{
    uint8_t *d = push_ud(100, 0);
    map(-1, 0x10000);
    int64_t cost = k64_memset(0x10000, 7, 4096);
    EXPECT_EQ(cost, (100 / 128 + 1) + (3996 / 128 + 1));
    EXPECT_EQ(d[99], 7);
    EXPECT_EQ(peek(0x10FFF), 7);
    // copy out of the mapped page into an own page and back
    std::mt19937 rng(7);
    check_copy(p, 0x50010, 0x10000, 200, rng);
    check_copy(p, 0x10020, 0x50000, 300, rng);
}

TEST_F(MapTest, UnmapRestoresOwnBytes)
{
    poke(0x20010, 0x99);
    uint8_t *d = push_ud(8192, 0x55);
    map(-1, 0x20000);
    EXPECT_EQ(peek(0x20010), 0x55);
    EXPECT_EQ(peek(0x22000), 0);
    p->page_flags[0x20] = 0;
    EXPECT_TRUE(ram_unmap(p, L, d, 8192, -1, 8192));
    EXPECT_FALSE(ram_page_mapped(p, 0x20));
    EXPECT_FALSE(ram_page_mapped(p, 0x21));
    EXPECT_EQ(p->page_flags[0x20], RAM_FLAGS_WRITTEN);
    EXPECT_EQ(peek(0x20010), 0x99);
    EXPECT_EQ(peek(0x21000), 0);   // never touched: zeros
    poke(0x21000, 1);
    EXPECT_EQ(d[4096], 0x55);
}

TEST_F(MapTest, UnmapByRangeKeepsOtherMappings)
{
    uint8_t *d = push_ud(4096, 0x12);
    map(-1, 0x20000);
    map(-1, 0x40000);
    EXPECT_FALSE(ram_unmap(p, L, d, 4096, 0x20000, 4096));
    EXPECT_FALSE(ram_page_mapped(p, 0x20));
    EXPECT_TRUE(ram_page_mapped(p, 0x40));
    EXPECT_EQ(peek(0x40000), 0x12);
    EXPECT_TRUE(ram_unmap(p, L, d, 4096, 0x40123, 4096));
    EXPECT_FALSE(ram_page_mapped(p, 0x40));
    // another userdata's pages are left alone
    uint8_t *e = push_ud(4096, 0x34);
    map(-1, 0x60000);
    EXPECT_TRUE(ram_unmap(p, L, d, 4096, -1, 4096));
    EXPECT_TRUE(ram_page_mapped(p, 0x60));
    EXPECT_TRUE(ram_unmap(p, L, e, 4096, -1, 4096));
    EXPECT_FALSE(ram_page_mapped(p, 0x60));
}

static int collected;
static int count_gc(lua_State *)
{
    collected++;
    return 0;
}

// A userdata whose collection bumps `collected`.
static uint8_t *push_tracked_ud(lua_State *L, size_t n)
{
    uint8_t *d = (uint8_t *)lua_newuserdatauv(L, n, 0);
    memset(d, 0x5C, n);
    lua_newtable(L);
    lua_pushcfunction(L, count_gc);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
    return d;
}

TEST_F(MapTest, MappedUserdataStaysAliveUntilUnmapped)
{
    collected = 0;
    uint8_t *d = push_tracked_ud(L, 5000);
    map(-1, 0x30000);
    lua_pop(L, 1);
    lua_gc(L, LUA_GCCOLLECT);
    lua_gc(L, LUA_GCCOLLECT);
    EXPECT_EQ(collected, 0);
    EXPECT_EQ(peek(0x31000), 0x5C);
    // one page unmapped: the other still holds it
    ram_unmap_page(p, L, 0x30);
    lua_gc(L, LUA_GCCOLLECT);
    EXPECT_EQ(collected, 0);
    EXPECT_TRUE(ram_unmap(p, L, d, 5000, -1, 5000));
    lua_gc(L, LUA_GCCOLLECT);
    EXPECT_EQ(collected, 1);
}

TEST_F(MapTest, RemappingReleasesPreviousUserdata)
{
    collected = 0;
    push_tracked_ud(L, 4096);
    map(-1, 0x30000);
    map(-1, 0x30000);   // the same userdata again: still one holder
    lua_pop(L, 1);
    push_ud(4096, 1);
    map(-1, 0x30000);
    lua_pop(L, 1);
    lua_gc(L, LUA_GCCOLLECT);
    lua_gc(L, LUA_GCCOLLECT);
    EXPECT_EQ(collected, 1);
    EXPECT_EQ(peek(0x30000), 1);
}

}  // namespace
