// Checked heap over the host allocator.
#include "memory/vemo_heap.h"

#include <cstdlib>
#include <cstring>

#include "host/log.h"
#include "kernel/kernel.h"

int64_t vemo_total_malloced = 0;
int64_t vemo_malloc_calls = 0;
int64_t vemo_free_calls = 0;

struct HeapHeader {
    uint32_t magic;
    uint32_t size;
};
static_assert(sizeof(HeapHeader) == VEMO_HEAP_HEADER);

static HeapHeader *header_of(void *block)
{
    return (HeapHeader *)((uint8_t *)block - VEMO_HEAP_HEADER);
}

// A block with a spoilt header is a double free or a stray pointer: going on
// would corrupt the host heap, so the program stops.
static HeapHeader *checked_header(void *block)
{
    HeapHeader *h = header_of(block);
    if (h->magic != VEMO_HEAP_MAGIC) {
        vemo_debug("vemo_free fail %x %x\n", h->magic, h->size);
        kestrane_exit(1);
    }
    return h;
}

static bool size_ok(size_t size)
{
    return size > 0 && size <= VEMO_HEAP_MAX;
}

void *vemo_malloc(size_t size)
{
    vemo_malloc_calls++;
    if (!size_ok(size))
        return nullptr;
    HeapHeader *h = (HeapHeader *)malloc(VEMO_HEAP_HEADER + size);
    if (!h)
        return nullptr;
    h->magic = VEMO_HEAP_MAGIC;
    h->size = (uint32_t)size;
    vemo_total_malloced += (int64_t)size;
    return h + 1;
}

void *vemo_calloc(size_t count, size_t size)
{
    // a product that overflows is as refused as one above the limit
    if (size != 0 && count > VEMO_HEAP_MAX / size) {
        vemo_malloc_calls++;
        return nullptr;
    }
    void *block = vemo_malloc(count * size);
    if (block)
        memset(block, 0, count * size);
    return block;
}

void *vemo_realloc(void *block, size_t size)
{
    if (!block)
        return vemo_malloc(size);
    HeapHeader *h = checked_header(block);
    vemo_malloc_calls++;
    if (!size_ok(size))
        return nullptr;
    uint32_t old = h->size;
    HeapHeader *n = (HeapHeader *)realloc(h, VEMO_HEAP_HEADER + size);
    if (!n)
        return nullptr;
    n->size = (uint32_t)size;
    vemo_total_malloced += (int64_t)size - old;
    return n + 1;
}

void vemo_free(void *block)
{
    if (!block)
        return;
    HeapHeader *h = checked_header(block);
    uint32_t size = h->size;
    uint8_t *data = (uint8_t *)block;
    static const uint8_t dead[4] = {0xEF, 0xBE, 0xAD, 0xDE};   // 0xDEADBEEF, little-endian
    for (uint32_t i = 0; i < size; i++)
        data[i] = dead[i & 3];
    h->magic = ~VEMO_HEAP_MAGIC;
    vemo_total_malloced -= size;
    vemo_free_calls++;
    free(h);
}
