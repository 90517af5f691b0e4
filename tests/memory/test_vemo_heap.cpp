// Checked heap: header, counters, refusals and the bad-free stop.
#include <gtest/gtest.h>

#include <cstring>

#include "memory/vemo_heap.h"

namespace {

uint32_t header_word(void *block, int i)
{
    uint32_t w;
    memcpy(&w, (uint8_t *)block - VEMO_HEAP_HEADER + 4 * i, 4);
    return w;
}

TEST(VemoHeap, HeaderAndCounters)
{
    int64_t total = vemo_total_malloced;
    int64_t calls = vemo_malloc_calls;
    int64_t frees = vemo_free_calls;
    void *a = vemo_malloc(100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(header_word(a, 0), VEMO_HEAP_MAGIC);
    EXPECT_EQ(header_word(a, 1), 100u);
    EXPECT_EQ((uintptr_t)a % 8, 0u);
    memset(a, 0xAB, 100);
    EXPECT_EQ(vemo_total_malloced, total + 100);
    EXPECT_EQ(vemo_malloc_calls, calls + 1);

    a = vemo_realloc(a, 5000);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(header_word(a, 1), 5000u);
    EXPECT_EQ(((uint8_t *)a)[99], 0xAB);
    EXPECT_EQ(vemo_total_malloced, total + 5000);
    a = vemo_realloc(a, 10);
    EXPECT_EQ(vemo_total_malloced, total + 10);
    EXPECT_EQ(vemo_malloc_calls, calls + 3);

    vemo_free(a);
    EXPECT_EQ(vemo_total_malloced, total);
    EXPECT_EQ(vemo_free_calls, frees + 1);
    vemo_free(nullptr);
    EXPECT_EQ(vemo_free_calls, frees + 1);
}

TEST(VemoHeap, RefusedRequestsCountButGiveNothing)
{
    int64_t total = vemo_total_malloced;
    int64_t calls = vemo_malloc_calls;
    EXPECT_EQ(vemo_malloc(0), nullptr);
    EXPECT_EQ(vemo_malloc(VEMO_HEAP_MAX + 1), nullptr);
    EXPECT_EQ(vemo_calloc(0, 8), nullptr);
    EXPECT_EQ(vemo_calloc((size_t)1 << 40, (size_t)1 << 40), nullptr);   // product overflows
    EXPECT_EQ(vemo_malloc_calls, calls + 4);
    EXPECT_EQ(vemo_total_malloced, total);

    void *a = vemo_malloc(16);
    memset(a, 0x5A, 16);
    EXPECT_EQ(vemo_realloc(a, 0), nullptr);
    EXPECT_EQ(vemo_realloc(a, VEMO_HEAP_MAX + 1), nullptr);
    // the block survives a refused resize
    EXPECT_EQ(header_word(a, 1), 16u);
    EXPECT_EQ(((uint8_t *)a)[15], 0x5A);
    EXPECT_EQ(vemo_total_malloced, total + 16);
    vemo_free(a);
}

TEST(VemoHeap, CallocZeroesAndNullReallocAllocates)
{
    uint8_t *a = (uint8_t *)vemo_calloc(33, 3);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(header_word(a, 1), 99u);
    for (int i = 0; i < 99; i++)
        ASSERT_EQ(a[i], 0);
    vemo_free(a);
    void *b = vemo_realloc(nullptr, 12);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(header_word(b, 0), VEMO_HEAP_MAGIC);
    vemo_free(b);
}

TEST(VemoHeapDeathTest, FreeOfForeignBlockStops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    alignas(8) uint8_t fake[24] = {};
    EXPECT_EXIT(vemo_free(fake + 8), testing::ExitedWithCode(1), "");
}

}  // namespace
