// Feeds arbitrary bytes to the text cartridge reader, then writes what it
// read as a text cartridge and reads that again: the same files must come
// back.
#include "formats/buffer.h"
#include "pdisk/cart.h"
#include "pdisk/mount.h"
#include "pdisk/pfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool same_entries(const char *a, const char *b)
{
    std::vector<CartEntry> x = cart_entries(a), y = cart_entries(b);
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); i++)
        if (x[i].rel != y[i].rel || x[i].folder != y[i].folder || x[i].size != y[i].size ||
            (x[i].size && memcmp(x[i].data, y[i].data, x[i].size) != 0))
            return false;
    return true;
}

static bool setup()
{
    // The reader prints its diagnostics; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout))
        return false;
    pfile_init();
    atexit([] { pfile_init(); });   // the mounts are freed before the leak check
    mount_ram_folder("/ram");
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x100000)
        return 0;
    static bool ready = setup();
    (void)ready;
    Buffer *in = create_buffer_2((int32_t)size + 1, 100);
    bwrite(data, 1, (int)size, in);
    in->pos = 0;
    populate_ram_folder_from_k64_buffer("/ram/a", in, "fuzz");
    destroy_buffer(in);

    // More entries than a cartridge may hold (folders made for names count
    // too) cannot come back whole.
    if (cart_entries("/ram/a").size() > (size_t)CART_MAX_ENTRIES) {
        delete_ram_files_in_path("/ram/a");
        pdisk_compact_pfiles();
        return 0;
    }
    Buffer *out = create_buffer_2(1024, 100);
    if (write_k64_from_ram_files(out, "/ram/a", (int)(size & 1)) < 0)
        abort();
    out->pos = 0;
    if (populate_ram_folder_from_k64_buffer("/ram/b", out, "again") != CART_READ_WHOLE || !same_entries("/ram/a", "/ram/b"))
        abort();
    destroy_buffer(out);
    delete_ram_files_in_path("/ram/a");
    delete_ram_files_in_path("/ram/b");
    pdisk_compact_pfiles();
    return 0;
}
