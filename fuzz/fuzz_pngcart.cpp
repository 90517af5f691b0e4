// Feeds arbitrary bytes to the PNG cartridge reader. A picture that reads
// whole is written again and read back: the same files must come back.
#include "driver/cart_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x400000)
        return 0;
    // /system is where the picture template would be
    static bool ready = cart_fuzz_setup({"/system"});
    (void)ready;
    Buffer *in = cart_fuzz_input(data, size);
    int r = populate_ram_folder_from_k64_png_buffer("/ram/a", in, "fuzz");
    destroy_buffer(in);

    if (r == CART_READ_WHOLE) {
        Buffer *out = create_buffer_2(1024, 100);
        int n = write_k64_png_from_ram_files(out, "/ram/a");
        out->pos = 0;
        // the label files are drawn into the picture and read back from it,
        // so they are not part of the stored image
        if (n > 0 && (populate_ram_folder_from_k64_png_buffer("/ram/b", out, "again") != CART_READ_WHOLE ||
                      !cart_fuzz_same("/ram/a", "/ram/b", {"label.png", "label.qoi"})))
            abort();
        destroy_buffer(out);
    }
    cart_fuzz_clear();
    return 0;
}
