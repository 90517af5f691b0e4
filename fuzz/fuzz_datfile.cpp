// Feeds arbitrary bytes to the system ROM file record reader.
#include "formats/buffer.h"
#include "kernel/datfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int n = load_kestrane_dat_files_from_memory(data, size);
    for (int i = 0; i < n; i++) {
        Buffer *b = get_dat_file(i);
        bread_uint32_big_endian(b);
    }
    free_dat_files();
    return 0;
}
