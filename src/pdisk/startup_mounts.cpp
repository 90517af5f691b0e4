// The RAM folders filled from the system ROM file at start-up.
#include "pdisk/startup_mounts.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/buffer.h"
#include "host/log.h"
#include "pdisk/k64rom.h"
#include "pdisk/mount.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"

static pfile *ram_entry(const std::string &path)
{
    pfile *f = get_ram_file_by_name(path.c_str());
    if (!f)
        f = pfile_insert(path.c_str(), PFILE_RAM, path.c_str());
    if (!f) {
        printf("** too many files **\n");
        vemo_debug("** too many files **\n");
    }
    return f;
}

// Folders that an image names only through the files inside them, so that
// listings show them.
static void add_parent_folders(const std::string &folder, const std::string &path)
{
    for (size_t at = path.find('/', folder.size() + 1); at != std::string::npos;
         at = path.find('/', at + 1)) {
        std::string parent = path.substr(0, at);
        if (get_ram_file_by_name(parent.c_str()))
            continue;
        if (pfile *f = ram_entry(parent))
            f->attribs = PFILE_ATTR_FOLDER;
    }
}

// One entry below the folder. Names that would leave the folder or are not
// legal paths are skipped.
static bool add_entry(const std::string &folder, const RomEntry &e)
{
    std::string path = normalise_kestrane_path((folder + "/" + e.name).c_str());
    if (path.empty() || !ram_path_is_inside_origin(path.c_str(), folder.c_str(), 0)) {
        printf("** skipping bad file name in rom: %s\n", e.name.c_str());
        return false;
    }
    add_parent_folders(folder, path);
    pfile *f = ram_entry(path);
    if (!f)
        return false;
    f->attribs = e.folder ? PFILE_ATTR_FOLDER : 0;
    bclear(f->contents);
    if (!e.folder && !e.data.empty() &&
        bwrite(e.data.data(), 1, (int)e.data.size(), f->contents) != (int)e.data.size())
        return false;
    f->contents->pos = 0;
    return true;
}

int pdisk_populate_ram_folder(const char *folder, Buffer *rom)
{
    if (!folder || !rom)
        return -1;
    std::vector<RomEntry> entries;
    rom->pos = 0;
    if (k64rom_read(rom, entries, folder) < 0) {
        rom->pos = 0;
        if (rom->len <= 0)
            return -1;
        const char *code = (const char *)rom->data;
        size_t n = strnlen(code, (size_t)rom->len);
        entries.push_back(RomEntry{"main.lua", false, std::string(code, n)});
    }
    int made = 0;
    for (const RomEntry &e : entries)
        made += add_entry(folder, e);
    return made;
}

static int mount_filled(const char *folder, Buffer *rom)
{
    if (mount_ram_folder(folder) != 0)
        return -1;
    return pdisk_populate_ram_folder(folder, rom);
}

int pdisk_mount_system_rom(Buffer *rom) { return mount_filled("/system", rom); }
int pdisk_mount_exported_cart(Buffer *cart) { return mount_filled("/ram/expcart", cart); }
