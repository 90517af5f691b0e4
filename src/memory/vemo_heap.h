// Checked heap: every block carries an 8-byte header (magic, size) so that a
// bad or repeated free is caught, and the totals are counted.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t VEMO_HEAP_MAGIC = 0xFEE0B10C;
constexpr size_t VEMO_HEAP_MAX = 0x40000000;
constexpr size_t VEMO_HEAP_HEADER = 8;

extern int64_t vemo_total_malloced;   // bytes currently allocated
extern int64_t vemo_malloc_calls;     // allocation calls, refused ones included
extern int64_t vemo_free_calls;       // blocks freed

// 0 bytes and requests above 0x40000000 bytes give null.
void *vemo_malloc(size_t size);
void *vemo_calloc(size_t count, size_t size);
// A refused request (0 bytes, too large) gives null and leaves the block as
// it was, like any failed resize; a null block makes it an allocation.
void *vemo_realloc(void *block, size_t size);
// Null does nothing. A block without the magic is logged and stops the
// program.
void vemo_free(void *block);
