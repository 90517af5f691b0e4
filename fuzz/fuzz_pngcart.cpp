// Feeds arbitrary bytes to the PNG cartridge reader. A picture that reads
// whole is written again and read back: the same files must come back.
#include "formats/buffer.h"
#include "pdisk/cart.h"
#include "pdisk/mount.h"
#include "pdisk/pfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The label files are not part of the stored image (the label is drawn and
// read back from the picture), so they are left out of the comparison.
static std::vector<CartEntry> entries_without_labels(const char *folder)
{
    std::vector<CartEntry> out;
    for (CartEntry &e : cart_entries(folder))
        if (e.rel != "label.png" && e.rel != "label.qoi")
            out.push_back(std::move(e));
    return out;
}

static bool same_entries(const char *a, const char *b)
{
    std::vector<CartEntry> x = entries_without_labels(a), y = entries_without_labels(b);
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
    mount_ram_folder("/system");   // where the picture template would be
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x400000)
        return 0;
    static bool ready = setup();
    (void)ready;
    Buffer *in = create_buffer_2((int32_t)size + 1, 100);
    bwrite(data, 1, (int)size, in);
    in->pos = 0;
    int r = populate_ram_folder_from_k64_png_buffer("/ram/a", in, "fuzz");
    destroy_buffer(in);

    if (r == CART_READ_WHOLE) {
        Buffer *out = create_buffer_2(1024, 100);
        int n = write_k64_png_from_ram_files(out, "/ram/a");
        out->pos = 0;
        if (n > 0 && (populate_ram_folder_from_k64_png_buffer("/ram/b", out, "again") != CART_READ_WHOLE ||
                      !same_entries("/ram/a", "/ram/b")))
            abort();
        destroy_buffer(out);
    }
    delete_ram_files_in_path("/ram/a");
    delete_ram_files_in_path("/ram/b");
    pdisk_compact_pfiles();
    return 0;
}
