// Shared pieces of the cartridge fuzz targets: a filesystem with the RAM
// folders they read into, the comparison of two read folders, and the
// input as a buffer.
#pragma once
#include "formats/buffer.h"
#include "pdisk/cart.h"
#include "pdisk/mount.h"
#include "pdisk/pfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// Mounts /ram (and more RAM folders the reader may look in) once.
inline bool cart_fuzz_setup(const std::vector<const char *> &extra_folders = {})
{
    // The readers print their diagnostics; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout))
        return false;
    pfile_init();
    atexit([] { pfile_init(); });   // the mounts are freed before the leak check
    mount_ram_folder("/ram");
    for (const char *f : extra_folders)
        mount_ram_folder(f);
    return true;
}

// The same entries (names, kinds and contents) in both folders, leaving out
// the names in skip.
inline bool cart_fuzz_same(const char *a, const char *b, const std::vector<std::string> &skip = {})
{
    auto kept = [&](const char *folder) {
        std::vector<CartEntry> out;
        for (CartEntry &e : cart_entries(folder)) {
            bool skipped = false;
            for (const std::string &s : skip)
                skipped |= e.rel == s;
            if (!skipped)
                out.push_back(std::move(e));
        }
        return out;
    };
    std::vector<CartEntry> x = kept(a), y = kept(b);
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); i++)
        if (x[i].rel != y[i].rel || x[i].folder != y[i].folder || x[i].size != y[i].size ||
            (x[i].size && memcmp(x[i].data, y[i].data, x[i].size) != 0))
            return false;
    return true;
}

inline Buffer *cart_fuzz_input(const uint8_t *data, size_t size)
{
    Buffer *in = create_buffer_2((int32_t)size + 1, 100);
    bwrite(data, 1, (int)size, in);
    in->pos = 0;
    return in;
}

// Empties the folders a run read into.
inline void cart_fuzz_clear()
{
    delete_ram_files_in_path("/ram/a");
    delete_ram_files_in_path("/ram/b");
    pdisk_compact_pfiles();
}
