// mkrom: packs a host folder into a system ROM file.
//
//   mkrom [-rom] [-name NAME] [-cart PATH] [-flags N] SRC OUT
//
// Writes OUT as a sysrom.dat holding the export name (empty by default) and
// the ROM image of SRC; -cart adds an exported cartridge (a folder is packed
// into a ROM image, a file is taken as given) and -flags the flags word
// after it (bit 0: run the cartridge as the video process). With -rom, OUT
// is the bare ROM image of SRC (.k64.rom).
#include "formats/buffer.h"
#include "kernel/datfile.h"
#include "pdisk/k64rom.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

static int usage()
{
    fprintf(stderr, "usage: mkrom [-rom] [-name NAME] [-cart PATH] [-flags N] SRC OUT\n");
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

// The ROM image of a host folder, or empty with a message on failure.
static bool pack_folder(const char *src, std::string *out)
{
    std::vector<RomEntry> entries;
    if (k64rom_pack_folder(src, entries) < 0)
        return false;
    std::unique_ptr<Buffer, BufferDeleter> image(create_buffer_2(1 << 16, 100));
    if (!image || k64rom_write(image.get(), entries) < 0) {
        fprintf(stderr, "** could not build the rom image of %s\n", src);
        return false;
    }
    out->assign((const char *)image->data, (size_t)image->len);
    return true;
}

// A cartridge given on the command line: a folder is packed, a file read.
static bool read_cart(const char *path, std::string *out)
{
    struct stat st;
    if (stat(path, &st) != 0) {
        fprintf(stderr, "** cannot read %s\n", path);
        return false;
    }
    if (S_ISDIR(st.st_mode))
        return pack_folder(path, out);
    std::unique_ptr<Buffer, BufferDeleter> file(create_buffer_from_file(path));
    if (!file) {
        fprintf(stderr, "** cannot read %s\n", path);
        return false;
    }
    out->assign((const char *)file->data, (size_t)file->len);
    return true;
}

static std::string be32(uint32_t n)
{
    return std::string{(char)(n >> 24), (char)(n >> 16), (char)(n >> 8), (char)n};
}

int main(int argc, char **argv)
{
    bool rom_only = false, have_flags = false;
    const char *name = "", *cart_path = nullptr;
    uint32_t flags = 0;
    std::vector<const char *> args;
    for (int i = 1; i < argc; i++) {
        bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "-rom") == 0) {
            rom_only = true;
        } else if (strcmp(argv[i], "-name") == 0 && has_value) {
            name = argv[++i];
        } else if (strcmp(argv[i], "-cart") == 0 && has_value) {
            cart_path = argv[++i];
        } else if (strcmp(argv[i], "-flags") == 0 && has_value) {
            flags = (uint32_t)strtoul(argv[++i], nullptr, 0);
            have_flags = true;
        } else if (argv[i][0] == '-') {
            return usage();
        } else {
            args.push_back(argv[i]);
        }
    }
    if (args.size() != 2 || (have_flags && !cart_path))
        return usage();
    const char *src = args[0], *dst = args[1];

    std::vector<std::string> records{name, std::string()};
    if (!pack_folder(src, &records[1]))
        return 1;
    if (cart_path) {
        records.emplace_back();
        if (!read_cart(cart_path, &records[2]))
            return 1;
    }
    if (have_flags)
        records.push_back(be32(flags));

    std::unique_ptr<Buffer, BufferDeleter> out(create_buffer_2(1 << 16, 100));
    if (!out)
        return 1;
    if (rom_only) {
        bwrite(records[1].data(), 1, (int)records[1].size(), out.get());
    } else {
        for (const std::string &r : records)
            if (r.size() > MAX_DAT_RECORD_LEN) {
                fprintf(stderr, "** record too large for sysrom.dat: %zu bytes\n", r.size());
                return 1;
            }
        datfile_write(out.get(), records);
    }
    if (!write_host_file(dst, out.get())) {
        fprintf(stderr, "** could not write %s\n", dst);
        return 1;
    }
    printf("%s: %zu records, %d bytes\n", dst, rom_only ? (size_t)1 : records.size(), out->len);
    return 0;
}
