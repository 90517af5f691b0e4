// Feeds arbitrary bytes to the ROM image reader.
#include "formats/buffer.h"
#include "pdisk/k64rom.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x1000000)
        return 0;
    // The reader prints its diagnostics; keep the fuzzer's output readable.
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    Buffer *b = create_buffer_2((int32_t)size, 100);
    bwrite(data, 1, (int)size, b);
    b->pos = 0;
    std::vector<RomEntry> entries;
    k64rom_read(b, entries);
    destroy_buffer(b);
    return 0;
}
