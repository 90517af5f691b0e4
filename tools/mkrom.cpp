// mkrom: packs a host folder into a system ROM file.
//
//   mkrom [-rom] SRC OUT
//
// Writes OUT as a sysrom.dat holding an empty export name and the ROM image
// of SRC; with -rom, OUT is the bare ROM image (.k64.rom).
#include "formats/buffer.h"
#include "kernel/datfile.h"
#include "pdisk/k64rom.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

static int usage()
{
    fprintf(stderr, "usage: mkrom [-rom] SRC OUT\n");
    return 1;
}

static bool write_host_file(const char *path, const Buffer *b)
{
    FILE *f = fopen(path, "wb");
    if (!f)
        return false;
    bool ok = fwrite(b->data, 1, (size_t)b->len, f) == (size_t)b->len;
    return fclose(f) == 0 && ok;
}

int main(int argc, char **argv)
{
    bool rom_only = false;
    std::vector<const char *> args;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-rom") == 0)
            rom_only = true;
        else
            args.push_back(argv[i]);
    }
    if (args.size() != 2)
        return usage();
    const char *src = args[0], *dst = args[1];

    std::vector<RomEntry> entries;
    if (k64rom_pack_folder(src, entries) < 0)
        return 1;

    std::unique_ptr<Buffer, BufferDeleter> image(create_buffer_2(1 << 16, 100));
    if (!image || k64rom_write(image.get(), entries) < 0) {
        fprintf(stderr, "** could not build the rom image of %s\n", src);
        return 1;
    }

    std::unique_ptr<Buffer, BufferDeleter> out;
    if (rom_only) {
        out = std::move(image);
    } else {
        if ((uint32_t)image->len > MAX_DAT_RECORD_LEN) {
            fprintf(stderr, "** rom image too large for sysrom.dat: %d bytes\n", image->len);
            return 1;
        }
        out.reset(create_buffer_2(image->len + 16, 100));
        if (!out)
            return 1;
        std::string rom((const char *)image->data, (size_t)image->len);
        datfile_write(out.get(), {std::string(), rom});
    }
    if (!write_host_file(dst, out.get())) {
        fprintf(stderr, "** could not write %s\n", dst);
        return 1;
    }
    printf("%s: %zu entries, %d bytes\n", dst, entries.size(), out->len);
    return 0;
}
