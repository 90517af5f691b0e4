// The filesystem fixture with the real cartridge module, and helpers to fill
// and compare RAM folders.
#pragma once
#include <map>
#include <string>

#include "pdisk/cart.h"
#include "pdisk/path.h"
#include "pdisk_fixture.h"

struct CartTest : PdiskTest {
    void SetUp() override
    {
        PdiskTest::SetUp();
        pdisk_cart_ops = {cart_mount_k64_path, cart_write_k64_mount};
    }

    // A RAM folder entry at a RAM origin.
    static void ram_folder(const std::string &origin)
    {
        pfile_insert(origin.c_str(), PFILE_RAM, origin.c_str())->attribs = PFILE_ATTR_FOLDER;
    }
    // The entries below a RAM origin: relative name to bytes, "<dir>" for folders.
    static std::map<std::string, std::string> files_below(const std::string &origin)
    {
        std::map<std::string, std::string> out;
        int first, last;
        pdisk_prefix_range((origin + "/").c_str(), &first, &last);
        for (int i = first; i < last; i++) {
            const pfile *e = pdisk_entry(i);
            if (e->kind != PFILE_RAM)
                continue;
            std::string rel = e->name.substr(origin.size() + 1);
            out[rel] = (e->attribs & PFILE_ATTR_FOLDER)
                           ? "<dir>"
                           : std::string((const char *)e->contents->data, (size_t)e->contents->len);
        }
        return out;
    }
    // Fills /ram/src with the given files (folders made as needed).
    void fill(const std::map<std::string, std::string> &files)
    {
        ram_folder("/ram/src");
        for (const auto &[rel, bytes] : files) {
            if (bytes == "<dir>")
                ram_folder("/ram/src/" + rel);
            else
                ASSERT_EQ(put(("/ram/src/" + rel).c_str(), bytes), 0) << rel;
        }
    }
};

inline std::string bytes_of(const Buffer *b) { return std::string((const char *)b->data, (size_t)b->len); }

inline std::unique_ptr<Buffer, BufferDeleter> buffer_with(const std::string &bytes)
{
    std::unique_ptr<Buffer, BufferDeleter> b(create_buffer_2((int32_t)bytes.size() + 1, 100));
    bwrite(bytes.data(), 1, (int)bytes.size(), b.get());
    b->pos = 0;
    return b;
}

// Runs a reader with its console messages captured.
template <typename F> int quietly(F read, std::string *printed = nullptr)
{
    testing::internal::CaptureStdout();
    int r = read();
    std::string text = testing::internal::GetCapturedStdout();
    if (printed)
        *printed = text;
    return r;
}
