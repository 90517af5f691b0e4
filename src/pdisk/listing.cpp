// Folder listings.
#include "pdisk/listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "pdisk/mount.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"

static bool is_mount_point(const std::string &path)
{
    for (int i = 0; i < pdisk_num_mounts(); i++)
        if (pdisk_mount(i)->mount_point == path)
            return true;
    return false;
}

static void add_name(std::vector<std::string> &items, std::string name)
{
    if ((int)items.size() < PFLIST_MAX_NAMES)
        items.push_back(std::move(name));
}

static void list_host(const PdiskLocation &loc, const std::string &prefix,
                      std::vector<std::string> &items)
{
    std::string real;
    if (!pdisk_host_location(loc, &real))
        return;
    DIR *dir = opendir(real.c_str());
    if (!dir)
        return;
    while (struct dirent *d = readdir(dir)) {
        const char *name = d->d_name;
        if (name[0] == '.' || is_mount_point(prefix + name))
            continue;
        struct stat st;
        bool folder = stat((real + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        // cartridge folders list as files, as their packed form would
        if (folder && !k64_path_kind(name))
            add_name(items, std::string(name) + "/");
        else
            add_name(items, name);
    }
    closedir(dir);
}

static void list_ram(const PdiskLocation &loc, const std::string &prefix,
                     std::vector<std::string> &items)
{
    std::string inside = loc.origin == "/" ? "/" : loc.origin + "/";
    int first, last;
    pdisk_prefix_range(inside.c_str(), &first, &last);
    for (int i = first; i < last; i++) {
        const pfile *e = pdisk_entry(i);
        if (e->kind != PFILE_RAM)
            continue;
        std::string name = e->name.substr(inside.size());
        if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos ||
            is_mount_point(prefix + name))
            continue;
        add_name(items, (e->attribs & PFILE_ATTR_FOLDER) ? name + "/" : name);
    }
}

static void list_mount_points(const std::string &prefix, std::vector<std::string> &items)
{
    for (int i = 0; i < pdisk_num_mounts(); i++) {
        const std::string &mp = pdisk_mount(i)->mount_point;
        if (mp.size() < 2 || mp.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string name = mp.substr(prefix.size());
        if (name.empty() || name.find('/') != std::string::npos)
            continue;
        add_name(items, get_ext(name.c_str())[0] ? name : name + "/");
    }
}

int pflist(const char *path, PfList *out)
{
    out->names.clear();
    out->num_folders = 0;
    flush_dirty_mounts_immediately();
    PdiskLocation loc;
    if (!path || !pdisk_locate(path, 0, &loc))
        return -1;
    std::string prefix = loc.path == "/" ? "/" : loc.path + "/";
    std::vector<std::string> items;
    if (loc.kind == MOUNT_HOST)
        list_host(loc, prefix, items);
    else
        list_ram(loc, prefix, items);
    list_mount_points(prefix, items);
    std::sort(items.begin(), items.end(), [](const std::string &a, const std::string &b) {
        int d = compare_listing_item(a.c_str(), b.c_str());
        return d ? d < 0 : a < b;
    });
    for (size_t i = 0; i < items.size(); i++) {
        if (i > 0 && items[i] == items[i - 1])
            continue;
        std::string name = items[i];
        if (name.back() == '/') {
            name.pop_back();
            out->num_folders++;
        }
        out->names.push_back(std::move(name));
    }
    return 0;
}
