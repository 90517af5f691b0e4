// The RAM folder of a cartridge: which names it may hold, adding files and
// folders to it, and walking its entries.
//
// Readers add entries to the pfile table directly rather than through
// pfopen: a name inside a cartridge that itself ends in ".k64" must not be
// automounted while it is being unpacked, and unpacking changes nothing that
// needs writing back.
#include "pdisk/cart.h"

#include <climits>
#include <cstdio>

#include "formats/buffer.h"
#include "host/log.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"

bool cart_name_ok(const std::string &rel)
{
    if (rel.empty())
        return false;
    for (unsigned char c : rel)
        if (!is_path_char(c))
            return false;
    std::string path = "/" + rel;
    return normalise_kestrane_path(path.c_str()) == path;
}

static pfile *insert_entry(const std::string &origin)
{
    pfile *e = pfile_insert(origin.c_str(), PFILE_RAM, origin.c_str());
    if (!e) {
        printf("** too many files **\n");
        vemo_debug("** too many files **\n");
    }
    return e;
}

bool cart_put_folder(const char *folder, const std::string &rel)
{
    if (rel.empty())
        return false;
    for (size_t end = 0; end <= rel.size(); end++) {
        if (end < rel.size() && rel[end] != '/')
            continue;
        std::string origin = std::string(folder) + "/" + rel.substr(0, end);
        pfile *e = get_ram_file_by_name(origin.c_str());
        if (e) {
            if (!(e->attribs & PFILE_ATTR_FOLDER))
                return false;
            continue;
        }
        e = insert_entry(origin);
        if (!e)
            return false;
        e->attribs = PFILE_ATTR_FOLDER;
    }
    return true;
}

bool cart_put_file(const char *folder, const std::string &rel, const void *data, size_t n, int keep)
{
    if (n > INT32_MAX / 2)
        return false;
    size_t slash = rel.rfind('/');
    if (slash != std::string::npos && !cart_put_folder(folder, rel.substr(0, slash)))
        return false;
    std::string origin = std::string(folder) + "/" + rel;
    pfile *e = get_ram_file_by_name(origin.c_str());
    if (e && (e->attribs & PFILE_ATTR_FOLDER))
        return false;
    if (e && keep)
        return true;
    if (!e && !(e = insert_entry(origin)))
        return false;
    bclear(e->contents);
    bool ok = n == 0 || bwrite(data, 1, (int)n, e->contents) == (int)n;
    e->contents->pos = 0;
    return ok;
}

std::vector<CartEntry> cart_entries(const char *folder)
{
    std::vector<CartEntry> out;
    std::string prefix = std::string(folder) + "/";
    int first, last;
    pdisk_prefix_range(prefix.c_str(), &first, &last);
    for (int i = first; i < last; i++) {
        const pfile *e = pdisk_entry(i);
        if (e->kind != PFILE_RAM)
            continue;
        CartEntry c;
        c.rel = e->name.substr(prefix.size());
        c.folder = (e->attribs & PFILE_ATTR_FOLDER) != 0;
        c.data = c.folder ? nullptr : e->contents->data;
        c.size = c.folder ? 0 : (size_t)e->contents->len;
        out.push_back(std::move(c));
    }
    return out;
}

int cart_read_start(const char *folder, const Buffer *b)
{
    if (!folder || !b || b->pos < 0)
        return CART_READ_DAMAGED;
    return b->pos >= b->len ? CART_READ_WHOLE : CART_READ_MORE;
}
