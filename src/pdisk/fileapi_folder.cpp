// Folders and whole files: listing, fstat, mkdir, copying, deleting, and
// the normalised form of a path.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/buffer.h"
#include "host/log.h"
#include "lua.hpp"
#include "pdisk/fileapi.h"
#include "pdisk/fileapi_internal.h"
#include "pdisk/hooks.h"
#include "pdisk/listing.h"
#include "pdisk/mount.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"
#include "process/slice.h"

static bool starts_with(const std::string &s, const char *prefix)
{
    return s.compare(0, strlen(prefix), prefix) == 0;
}

// ls(path = "/") -> names, number of folders (the folders come first)
int lua54__ls(lua_State *L)
{
    if (!lua_isnoneornil(L, 1) && !fileapi_text_arg(L, 1))
        return 0;
    std::string p = lua_isnoneornil(L, 1) ? std::string("/") : fileapi_path_arg(L, 1);
    PfList list;
    if (p.empty() || pflist(p.c_str(), &list) < 0)
        return 0;
    lua_createtable(L, (int)list.names.size(), 0);
    for (size_t i = 0; i < list.names.size(); i++) {
        lua_pushlstring(L, list.names[i].data(), list.names[i].size());
        lua_rawseti(L, -2, (lua_Integer)i + 1);
    }
    lua_pushinteger(L, list.num_folders);
    return 2;
}

static int make_host_folder(const PdiskLocation &loc)
{
    std::string real;
    if (!pdisk_host_location(loc, &real))
        return -1;
    if (mkdir(real.c_str(), 0755) != 0)
        return errno == EEXIST && host_directory_exists(real.c_str()) ? 0 : -1;
    pdisk_history_event(PDISK_EVENT_FOLDER_CREATED, loc.path.c_str(), real.c_str());
    return 0;
}

static int make_ram_folder(const PdiskLocation &loc)
{
    const char *origin = loc.origin.c_str();
    if (get_ram_file_by_name(origin))
        return -1;
    if (pdisk_ram_origin_is_folder(origin))
        return 0;
    pfile *e = pfile_insert(origin, PFILE_RAM, origin);
    if (!e) {
        printf("** too many files (during mkdir) **\n");
        vemo_debug("** too many files (during mkdir) **\n");
        return -1;
    }
    e->attribs = PFILE_ATTR_FOLDER;
    return 0;
}

int pmkdir(const char *path)
{
    std::string p = path ? normalise_kestrane_path(path) : "";
    if (p.empty())
        return -1;
    if (k64_path_kind(p.c_str()) != K64_KIND_NONE) {
        // a new cartridge: an empty folder now, the file at the next flush
        Mount *m = get_mount_by_mount_point(p.c_str(), 0);
        if (!m)
            m = mount_k64_path(p.c_str());
        if (!m)
            return -1;
        mark_mount_dirty(m);
        return 0;
    }
    PdiskLocation loc;
    if (!pdisk_locate(p.c_str(), 0, &loc))
        return -1;
    return loc.kind == MOUNT_HOST ? make_host_folder(loc) : make_ram_folder(loc);
}

int lua54__mkdir(lua_State *L)
{
    if (!fileapi_text_arg(L, 1)) {
        lua_pushliteral(L, "mkdir: no path");
        return 1;
    }
    std::string p = fileapi_path_arg(L, 1);
    if (p.empty())
        return 0;
    if (pdisk_directory_exists(p.c_str(), 1)) {
        lua_pushliteral(L, "mkdir: directory already exists");
        return 1;
    }
    // a folder whose parent is missing could never be listed or reached by
    // walking down from "/"
    size_t slash = p.rfind('/');
    std::string parent = slash == 0 ? std::string("/") : p.substr(0, slash);
    if (!pdisk_directory_exists(parent.c_str(), 1) || pmkdir(p.c_str()) != 0) {
        lua_pushliteral(L, "mkdir failed");
        return 1;
    }
    // a folder made inside a mounted cartridge is part of it
    PdiskLocation loc;
    if (k64_path_kind(p.c_str()) == K64_KIND_NONE && pdisk_locate(p.c_str(), 0, &loc) &&
        loc.kind == MOUNT_RAM)
        mark_parent_mount_dirty(loc.origin.c_str());
    return 0;
}

static void push_description(lua_State *L, const char *path)
{
    std::string d = get_mount_description(path);
    if (d.empty())
        lua_pushnil(L);
    else
        lua_pushlstring(L, d.data(), d.size());
}

// fstat(path, as_file) -> "file" or "folder", size, mount description
int lua54__fstat(lua_State *L)
{
    std::string p = fileapi_path_arg(L, 1);
    if (p.empty())
        return 0;
    bool as_file = lua_toboolean(L, 2);
    if (as_file || k64_path_kind(p.c_str()) != K64_KIND_NONE)
        flush_dirty_mounts_immediately();
    if (as_file) {
        // the file itself, as an "rf" open sees it
        int64_t size = pfile_size(p.c_str(), 1);
        if (size < 0)
            return 0;
        lua_pushliteral(L, "file");
        lua_pushinteger(L, size);
        return 2;
    }
    if (pdisk_directory_exists(p.c_str(), 1)) {
        // a mounted cartridge reports the size of its file
        int64_t size = pfile_size(p.c_str(), 1);
        lua_pushliteral(L, "folder");
        lua_pushinteger(L, size < 0 ? 0 : size);
    } else {
        int64_t size = pfile_size(p.c_str());
        if (size < 0)
            return 0;
        lua_pushliteral(L, "file");
        lua_pushinteger(L, size);
    }
    push_description(L, p.c_str());
    return 3;
}

// fullpath(text): a text with a protocol ("kodnet://...") is left alone.
int lua54__fullpath(lua_State *L)
{
    const char *text = fileapi_text_arg(L, 1);
    if (!text)
        return 0;
    const char *colon = strchr(text, ':');
    if (colon && colon[1] == '/' && colon[2] == '/') {
        lua_pushvalue(L, 1);
        return 1;
    }
    std::string p = normalise_kestrane_path(text);
    if (p.empty())
        return 0;
    lua_pushlstring(L, p.data(), p.size());
    return 1;
}

int fcopy(const char *source, const char *target)
{
    std::string s = source ? normalise_kestrane_path(source) : "";
    std::string t = target ? normalise_kestrane_path(target) : "";
    if (s.empty() || t.empty())
        return -1;
    pfile *f = pfopen(s.c_str(), "r");
    if (!f)
        return -1;
    std::string bytes((const char *)f->contents->data, (size_t)f->contents->len);
    pfclose(f);
    if (fileapi_write_file(t.c_str(), "w", bytes.data(), bytes.size()))
        return -1;
    spend_cpu((int64_t)bytes.size());
    return (int)bytes.size();
}

int lua54__fcopy(lua_State *L)
{
    const char *source = fileapi_text_arg(L, 1);
    const char *target = fileapi_text_arg(L, 2);
    if (source && target)
        fcopy(source, target);
    return 0;
}

// A host file or empty folder. The entry itself is removed (a symbolic link,
// not what it points at), provided the folder holding it lies inside the
// mounted folder. The mounted folder itself is never removed.
static int delete_host(const PdiskLocation &loc)
{
    std::string real;
    if (!pdisk_host_location(loc, &real) || loc.origin == loc.mount_origin)
        return -1;
    size_t slash = loc.origin.rfind('/');
    if (slash == std::string::npos)
        return -1;
    std::string parent = slash ? loc.origin.substr(0, slash) : "/";
    const char *folder = loc.mount_origin.empty() ? "/" : loc.mount_origin.c_str();
    std::string real_parent;
    if (!host_path_inside(folder, parent.c_str(), &real_parent))
        return -1;
    std::string entry = (real_parent == "/" ? "" : real_parent) + loc.origin.substr(slash);
    struct stat st;
    if (lstat(entry.c_str(), &st) != 0)
        return -1;
    int r = S_ISDIR(st.st_mode) ? rmdir(entry.c_str()) : unlink(entry.c_str());
    if (r != 0)
        return -1;
    pdisk_history_event(PDISK_EVENT_FILE_DELETED, loc.path.c_str(), entry.c_str());
    return 0;
}

// RAM entries are keyed by their origin: a folder goes with everything in
// it, a file with its entry.
static int delete_ram(const PdiskLocation &loc)
{
    mark_parent_mount_dirty(loc.origin.c_str());
    int n = delete_ram_files_in_path(loc.origin.c_str());
    if (starts_with(loc.origin, "/ram/mount/") && loc.origin != loc.path)
        n += delete_ram_files_in_path(loc.path.c_str());
    return n > 0 ? 0 : -1;
}

int delete_path(const char *path)
{
    std::string p = path ? normalise_kestrane_path(path) : "";
    if (p.empty())
        return -1;
    // a cartridge being deleted must not be mounted again to find it
    automount_suspend();
    int unmounted = delete_mount_point(p.c_str());
    PdiskLocation loc;
    int r = -1;
    if (pdisk_locate(p.c_str(), 0, &loc))
        r = loc.kind == MOUNT_HOST ? delete_host(loc) : delete_ram(loc);
    automount_resume();
    return unmounted || r == 0 ? 0 : -1;
}

int lua54__fdelete(lua_State *L)
{
    const char *path = fileapi_text_arg(L, 1);
    if (path)
        delete_path(path);
    return 0;
}
