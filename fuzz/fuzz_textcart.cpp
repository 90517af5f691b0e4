// Feeds arbitrary bytes to the text cartridge reader, then writes what it
// read as a text cartridge and reads that again: the same files must come
// back.
#include "driver/cart_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x100000)
        return 0;
    static bool ready = cart_fuzz_setup();
    (void)ready;
    Buffer *in = cart_fuzz_input(data, size);
    populate_ram_folder_from_k64_buffer("/ram/a", in, "fuzz");
    destroy_buffer(in);

    // More entries than a cartridge may hold (folders made for names count
    // too) cannot come back whole.
    if (cart_entries("/ram/a").size() > (size_t)CART_MAX_ENTRIES) {
        cart_fuzz_clear();
        return 0;
    }
    Buffer *out = create_buffer_2(1024, 100);
    if (write_k64_from_ram_files(out, "/ram/a", (int)(size & 1)) < 0)
        abort();
    out->pos = 0;
    if (populate_ram_folder_from_k64_buffer("/ram/b", out, "again") != CART_READ_WHOLE ||
        !cart_fuzz_same("/ram/a", "/ram/b"))
        abort();
    destroy_buffer(out);
    cart_fuzz_clear();
    return 0;
}
