// Mounting a cartridge file as a RAM folder, and packing the folder back into
// the file when the mount is flushed.
#include "pdisk/cart.h"

#include <cstdio>
#include <memory>
#include <set>

#include "formats/buffer.h"
#include "host/log.h"
#include "pdisk/mount.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"
#include "process/message.h"

constexpr int32_t BUFFER_TAG_CART_OUT = 102;

// Kernel-wide and never reset, so a RAM folder name is not used twice.
static long long cart_folder_counter;
// RAM folders of cartridges that were not read whole: writing such a folder
// back would replace the file with the part that could be read.
static std::set<std::string> damaged_folders;
// RAM folders whose failed write-back the user has been told of; a write
// that fails again and again (it is retried) is told once.
static std::set<std::string> told_folders;

bool cart_folder_is_damaged(const char *folder)
{
    return folder && damaged_folders.count(folder) != 0;
}

static bool ram_entries_exist(const std::string &origin)
{
    if (get_ram_file_by_name(origin.c_str()))
        return true;
    int first, last;
    pdisk_prefix_range((origin + "/").c_str(), &first, &last);
    for (int i = first; i < last; i++)
        if (pdisk_entry(i)->kind == PFILE_RAM)
            return true;
    return false;
}

static bool make_ram_folder(const std::string &origin)
{
    pfile *e = get_ram_file_by_name(origin.c_str());
    if (e)
        return (e->attribs & PFILE_ATTR_FOLDER) != 0;
    e = pfile_insert(origin.c_str(), PFILE_RAM, origin.c_str());
    if (e)
        e->attribs = PFILE_ATTR_FOLDER;
    return e != nullptr;
}

// Creates "/ram/mount/mN" for a new cartridge; its virtual path and origin.
static bool new_cart_folder(std::string *path, std::string *origin)
{
    int kind = 0;
    std::string base = resolve_to_origin("/ram/mount", &kind, 0);
    if (kind != MOUNT_RAM || !make_ram_folder(base))
        return false;
    for (;;) {
        char name[64];
        snprintf(name, sizeof name, "/ram/mount/m%lld", ++cart_folder_counter);
        std::string o = resolve_to_origin(name, &kind, 0);
        if (!ram_entries_exist(o)) {
            *path = name;
            *origin = o;
            return make_ram_folder(o);
        }
        printf("!! %s\n", name);
    }
}

static int read_cart(const char *folder, int kind, Buffer *b, const char *where)
{
    b->pos = 0;
    switch (kind) {
    case K64_KIND_TEXT: return populate_ram_folder_from_k64_buffer(folder, b, where);
    case K64_KIND_ROM: return populate_ram_folder_from_k64_rom_buffer_ex(folder, b, 0, where);
    default: return populate_ram_folder_from_k64_png_buffer(folder, b, where);
    }
}

static Mount *mount_cart(const std::string &path, int kind)
{
    std::string folder_path, folder;
    if (!new_cart_folder(&folder_path, &folder)) {
        printf("** could not make a folder for cartridge %s\n", path.c_str());
        return nullptr;
    }
    // A file that cannot be opened is a new cartridge: it starts empty.
    if (pfile *f = pfopen(path.c_str(), "r")) {
        if (read_cart(folder.c_str(), kind, f->contents, path.c_str()) != CART_READ_WHOLE) {
            damaged_folders.insert(folder);
            vemo_debug("** cartridge %s was not read whole\n", path.c_str());
        }
        pfclose(f);
    }
    Mount *m = mount_p_path(path.c_str(), folder_path.c_str());
    if (!m) {
        delete_ram_files_in_path(folder.c_str());
        damaged_folders.erase(folder);
    }
    return m;
}

Mount *cart_mount_k64_path(const char *path)
{
    std::string p = path ? normalise_kestrane_path(path) : "";
    int kind = k64_path_kind(p.c_str());
    if (p.empty() || !kind)
        return nullptr;
    if (Mount *m = get_mount_by_mount_point(p.c_str(), 0))
        return m;
    // Opening the cartridge file must reach the file, not mount it again.
    automount_suspend();
    Mount *m = mount_cart(p, kind);
    automount_resume();
    return m;
}

static void tell_once(const Mount *m, const std::string &text)
{
    if (!told_folders.insert(m->origin).second)
        return;
    printf("** %s\n", text.c_str());
    vemo_debug("** %s\n", text.c_str());
    notify(text.c_str());
}

// The host file (or RAM file) is replaced only by complete contents.
static int write_cart_file(const char *path, const Buffer *bytes)
{
    pfile *f = pfopen(path, "wf");
    if (!f)
        return -1;
    if (pfwrite(bytes->data, 1, bytes->len, f) != bytes->len) {
        host_write_abort(&f->host);
        pfclose(f);
        return -1;
    }
    return pfclose(f);
}

int cart_write_k64_mount(Mount *m)
{
    if (!m)
        return -1;
    const char *path = m->mount_point.c_str();
    int kind = k64_path_kind(path);
    if (!kind || m->kind != MOUNT_RAM)
        return -1;
    if (cart_folder_is_damaged(m->origin.c_str())) {
        tell_once(m, "could not save cartridge " + m->mount_point + ": it was not read whole");
        return -1;
    }
    std::unique_ptr<Buffer, BufferDeleter> out(create_buffer_2(16384, BUFFER_TAG_CART_OUT));
    if (!out)
        return -1;
    const char *folder = m->origin.c_str();
    int n = kind == K64_KIND_TEXT  ? write_k64_from_ram_files(out.get(), folder, 0)
            : kind == K64_KIND_ROM ? write_k64_rom_from_ram_files(out.get(), folder, 0)
                                   : write_k64_png_from_ram_files(out.get(), folder);
    if (n == CART_PNG_TOO_LARGE) {
        tell_once(m, CART_PNG_TOO_LARGE_TEXT);
        return -1;
    }
    if (n < 0) {
        printf("** could not pack cartridge %s\n", path);
        return -1;
    }
    if (write_cart_file(path, out.get()) != 0)
        return -1;
    told_folders.erase(m->origin);
    return 0;
}
