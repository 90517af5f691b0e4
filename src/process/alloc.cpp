// The allocator of every process's Lua state. Blocks carry a header holding
// the nominal (64-bit layout) size they were charged with, so that memory
// figures do not depend on the host's word size.
#include <cstdlib>
#include <cstring>

#include "process/process.h"
#include "process/slice.h"

// The header is 16 bytes, not 4, so that the user part keeps the host's
// maximum alignment.
constexpr size_t ALLOC_HEADER = 16;

static size_t *block_header(void *block) {
    return (size_t *)((char *)block - ALLOC_HEADER);
}

void *l_alloc(void *owner, void *block, size_t old_size, size_t new_size, int retrying,
              size_t nominal) {
    (void)owner;
    (void)old_size;
    Process *p = cproc;
    size_t prev_nominal = block ? *block_header(block) : 0;
    if (new_size == 0) {
        if (block) {
            if (p) p->lua_mem -= (int64_t)prev_nominal;
            free(block_header(block));
        }
        return nullptr;
    }
    spend_cpu(4 + (int64_t)(new_size / 128));
    // Growth that would take the process over its limit is refused here, so
    // one huge request cannot exhaust the host before the end-of-slice check.
    bool over = p && nominal > prev_nominal &&
                process_memory_total(p) + (int64_t)(nominal - prev_nominal) > PROCESS_MEMORY_LIMIT;
    void *raw = nullptr;
    if (!over && new_size < ((size_t)1 << 40))
        raw = realloc(block ? block_header(block) : nullptr, new_size + ALLOC_HEADER);
    if (!raw) {
        if (retrying && p) {
            cpu_superyielding = SUPERYIELD;
            p->out_of_memory = 1;
        }
        return nullptr;
    }
    *(size_t *)raw = nominal;
    if (p) p->lua_mem += (int64_t)nominal - (int64_t)prev_nominal;
    return (char *)raw + ALLOC_HEADER;
}
