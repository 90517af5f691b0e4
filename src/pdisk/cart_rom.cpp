// ROM cartridges (.k64.rom) between RAM folders and ROM images, and the two
// legacy forms a ROM file may still hold.
#include "pdisk/cart.h"

#include <cstdio>
#include <cstring>

#include "formats/buffer.h"
#include "pdisk/k64rom.h"

static bool is_label_file(const CartEntry &e)
{
    return !e.folder && (e.rel == "label.png" || e.rel == "label.qoi");
}

int write_k64_rom_from_ram_files(Buffer *b, const char *folder, int options)
{
    if (!b || !folder)
        return -1;
    std::vector<RomEntry> rom;
    for (const CartEntry &e : cart_entries(folder)) {
        if ((options & CART_ROM_NO_LABEL_FILES) && is_label_file(e))
            continue;
        rom.push_back(RomEntry{e.rel, e.folder, std::string((const char *)e.data, e.size)});
    }
    return k64rom_write(b, rom);
}

// Code from before the ROM image: the bytes up to the first 0 are main.lua.
// Anything but 0 bytes after that cannot be kept.
static int read_plain_code(const char *folder, const uint8_t *d, size_t n, int keep)
{
    const uint8_t *nul = (const uint8_t *)memchr(d, 0, n);
    size_t code = nul ? (size_t)(nul - d) : n;
    bool whole = cart_put_file(folder, "main.lua", d, code, keep);
    for (size_t i = code; i < n && whole; i++)
        whole = d[i] == 0;
    return whole ? CART_READ_WHOLE : CART_READ_DAMAGED;
}

static int read_rom_image(const char *folder, Buffer *b, int keep, const char *where)
{
    std::vector<RomEntry> entries;
    bool whole = false;
    k64rom_read(b, entries, where, &whole);
    for (const RomEntry &e : entries) {
        if (!cart_name_ok(e.name)) {
            printf("** bad file name in cartridge %s: %s\n", where, e.name.c_str());
            whole = false;
            continue;
        }
        bool ok = e.folder ? cart_put_folder(folder, e.name)
                           : cart_put_file(folder, e.name, e.data.data(), e.data.size(), keep);
        whole = whole && ok;
    }
    return whole ? CART_READ_WHOLE : CART_READ_DAMAGED;
}

int populate_ram_folder_from_k64_rom_buffer_ex(const char *folder, Buffer *b, int keep, const char *where)
{
    int start = cart_read_start(folder, b);
    if (start != CART_READ_MORE)
        return start;
    if (!where)
        where = "";
    const uint8_t *d = b->data + b->pos;
    size_t n = (size_t)(b->len - b->pos);
    if (b->pos == 0 && n > 3 && d[0] == 0 && memcmp(d + 1, "kxa", 3) == 0) {
        // Reading this needs the kxa decompressor, which this build lacks.
        printf("** compressed legacy cartridge code cannot be read: %s\n", where);
        return CART_READ_DAMAGED;
    }
    if (n < 3) {
        printf("** not a cartridge rom: %s\n", where);
        return CART_READ_DAMAGED;
    }
    if (memcmp(d, "k64", 3) != 0) {
        b->pos = b->len;
        return read_plain_code(folder, d, n, keep);
    }
    return read_rom_image(folder, b, keep, where);
}

int populate_ram_folder_from_k64_rom_buffer(const char *folder, Buffer *b)
{
    return populate_ram_folder_from_k64_rom_buffer_ex(folder, b, 0, "");
}
