// Feeds arbitrary bytes to both host-text directions. Kernel text without 0
// bytes must come back from its UTF-8 form unchanged, less carriage returns.
#include "formats/buffer.h"
#include "formats/hosttext.h"
#include "kernel/kernel.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x100000)
        return 0;
    // The decoder logs cropped characters: the log goes to a folder of its
    // own, not to the user's data folder.
    if (config.home[0] == 0) {
        mkdir("/tmp/kestrane_fuzz_hosttext", 0700);
        snprintf(config.home, sizeof config.home, "/tmp/kestrane_fuzz_hosttext");
    }

    Buffer *in = create_buffer_2((int32_t)size, 1);
    bwrite(data, 1, (int)size, in);
    destroy_buffer(decode_host_text(in));
    destroy_buffer(in);

    std::string text((const char *)data, size);
    Buffer *utf8 = encode_host_text(text.c_str(), text.size());
    if (!utf8)
        abort();
    Buffer *back = decode_host_text(utf8);
    std::string expect;
    for (char c : std::string(text.c_str()))
        if (c != '\r')
            expect += c;
    if (!back || std::string((const char *)back->data, (size_t)back->len) != expect)
        abort();
    destroy_buffer(back);
    destroy_buffer(utf8);
    return 0;
}
