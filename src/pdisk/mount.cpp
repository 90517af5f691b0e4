// The mount table, resolution, automount, dirty mounts, flushing and pruning.
#include "pdisk/mount.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/clock.h"
#include "host/log.h"
#include "host/paths.h"
#include "kernel/kernel.h"
#include "pdisk/hooks.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"
#include "process/message.h"
#include "process/process.h"

constexpr int PRUNE_MOUNTS_ABOVE = 6144;
constexpr int PRUNE_FATAL_MOUNTS = 8189;
constexpr int PRUNE_THRESHOLD_START = 4096;
constexpr int64_t SYNC_INTERVAL_MS = 2000;

// Never destroyed: the kernel may still flush mounts while the program
// exits, and the table stays reachable until the very end.
static std::vector<Mount *> &mounts = *new std::vector<Mount *>();
static int automount_suspended;
static int prune_threshold = PRUNE_THRESHOLD_START;
static int64_t last_sync_t;

static bool starts_with(const std::string &s, const char *prefix)
{
    return s.compare(0, strlen(prefix), prefix) == 0;
}

// The atomic-operation lock defers every write-back, except at exit once the
// holder has had its time.
static bool flush_held()
{
    return app.atomic_pid != 0 && !(app.exit_requested && app.exit_wait_frames > 60);
}

void pfile_init()
{
    for (Mount *m : mounts)
        delete m;
    mounts.clear();
    pdisk_clear_pfiles();
    automount_suspended = 0;
}

void pfile_reset()
{
    prune_threshold = PRUNE_THRESHOLD_START;
    last_sync_t = 0;
}

int pdisk_num_mounts() { return (int)mounts.size(); }
Mount *pdisk_mount(int i) { return i >= 0 && i < (int)mounts.size() ? mounts[i] : nullptr; }
int pdisk_prune_threshold() { return prune_threshold; }

static Mount *append_mount(int kind, const std::string &mount_point, const std::string &origin,
                           int ram_root)
{
    if ((int)mounts.size() >= PDISK_MAX_MOUNTS) {
        printf("** too many mounts; could not mount %s\n", mount_point.c_str());
        vemo_debug("** too many mounts; could not mount %s\n", mount_point.c_str());
        return nullptr;
    }
    Mount *m = new Mount();
    m->kind = kind;
    m->mount_point = mount_point;
    m->origin = origin;
    m->is_ram_root = ram_root;
    mounts.push_back(m);
    return m;
}

static void remove_mount_at(size_t i)
{
    delete mounts[i];
    mounts.erase(mounts.begin() + (std::ptrdiff_t)i);
}

int mount_ram_folder(const char *path)
{
    std::string p = normalise_kestrane_path(path);
    if (p.empty())
        return 1;
    return append_mount(MOUNT_RAM, p, p, 1) ? 0 : 1;
}

int mount_host_path(const char *host_path, const char *mount_point)
{
    std::string origin = host_path ? host_path : "";
    vemo_fix_backslashes(origin);
    if (origin.size() > 1 && origin.back() == '/')
        origin.pop_back();
    std::string mp = normalise_kestrane_path(mount_point);
    if (origin.empty() || mp.empty())
        return 1;
    // The root mount keeps an empty mount point: no program path names it,
    // so it can be neither deleted nor remounted from Lua.
    if (mp == "/")
        mp.clear();
    return append_mount(MOUNT_HOST, mp, origin, 0) ? 0 : 1;
}

Mount *mount_k64_path(const char *path)
{
    return pdisk_cart_ops.mount_k64_path ? pdisk_cart_ops.mount_k64_path(path) : nullptr;
}

int mount_desktop_folder()
{
    std::string host = vemo_desktop_path("kestrane_desktop");
    vemo_mkdirs(host.c_str());
    if (!host_directory_exists(host.c_str())) {
        notify("could not mount desktop");
        return -1;
    }
    Mount *m = get_mount_by_mount_point("/desktop/host", MOUNT_HOST);
    if (m && m->origin == host)
        return 0;
    return mount_host_path(host.c_str(), "/desktop/host") ? -1 : 0;
}

void automount_suspend() { automount_suspended++; }
void automount_resume()
{
    if (automount_suspended > 0)
        automount_suspended--;
}

void automount_p_path(const char *path)
{
    if (automount_suspended || !pdisk_cart_ops.mount_k64_path)
        return;
    std::string p = normalise_kestrane_path(path);
    if (p.size() <= 1)
        return;
    automount_suspend();
    for (size_t end = 1; end <= p.size(); end++) {
        if (end < p.size() && p[end] != '/')
            continue;
        std::string prefix = p.substr(0, end);
        if (!k64_path_kind(prefix.c_str()) || get_mount_by_mount_point(prefix.c_str(), 0) ||
            pdisk_directory_exists(prefix.c_str(), 1))
            continue;
        pfile *f = pfopen(prefix.c_str(), "re");
        if (!f)
            continue;
        pfclose(f);
        mount_k64_path(prefix.c_str());
    }
    automount_resume();
}

// Depth of a mount for a path, -1 when it does not hold the path.
static int mount_depth(const Mount *m, const std::string &path)
{
    const std::string &mp = m->mount_point;
    if (mp.size() <= 1)
        return 0;
    if (path.compare(0, mp.size(), mp) != 0 || (path.size() > mp.size() && path[mp.size()] != '/'))
        return -1;
    return count_slashes(mp.c_str());
}

static std::string join_origin(const Mount *m, const std::string &path)
{
    size_t n = m->mount_point.size();
    std::string rest = n <= 1 ? (path == "/" ? "" : path) : path.substr(n);
    std::string origin = (m->origin == "/" ? "" : m->origin) + rest;
    return origin.empty() ? "/" : origin;
}

int pdisk_locate(const char *path, int skip_exact, PdiskLocation *loc)
{
    std::string p = path ? normalise_kestrane_path(path) : "";
    if (p.empty())
        return 0;
    if (!automount_suspended && p.size() > 1)
        automount_p_path(p.c_str());
    int best = -1, best_depth = -1;
    for (size_t i = 0; i < mounts.size(); i++) {
        if (skip_exact && mounts[i]->mount_point == p)
            continue;
        int d = mount_depth(mounts[i], p);
        if (d > best_depth) {
            best = (int)i;
            best_depth = d;
        }
    }
    if (best < 0) {
        printf("** fatal: could not resolve file to origin: %s (no matching mount found; / not mounted?)\n",
               p.c_str());
        printf("   // best_depth = %d\n", best_depth);
        print_mounts();
        kestrane_exit(0);
    }
    const Mount *m = mounts[best];
    loc->kind = m->kind;
    loc->origin = join_origin(m, p);
    loc->mount_origin = m->origin;
    loc->path = std::move(p);
    return 1;
}

std::string resolve_to_origin(const char *path, int *out_kind, int skip_exact)
{
    PdiskLocation loc;
    if (!pdisk_locate(path, skip_exact, &loc))
        loc.origin.clear();
    if (out_kind)
        *out_kind = loc.kind;
    return loc.origin;
}

// Host paths reached from programs obey one rule. Programs never name host
// paths: every path they give is virtual, normalised (no ".", ".." or empty
// segments) and lands below a mount's host folder. The part below the mount
// may hold only legal path characters and '#' (normalisation does not check
// a location suffix, which could otherwise carry '\' or ':' that some hosts
// take as separators). Finally the file, with symbolic links followed, must
// lie inside the mount's folder (its links followed too): a link in a
// mounted folder that leads out of it can be neither read, written nor
// listed. Mounts of host folders come only from the kernel, its
// configuration file and signal 65; `mount` from Lua can only show again a
// place that is already reachable.
int pdisk_host_location(const PdiskLocation &loc, std::string *real)
{
    if (loc.kind != MOUNT_HOST)
        return 0;
    size_t base = loc.mount_origin == "/" ? 0 : loc.mount_origin.size();
    if (loc.origin.size() < base)
        return 0;
    for (size_t i = base; i < loc.origin.size(); i++) {
        unsigned char c = loc.origin[i];
        if (!is_path_char(c) && c != '#')
            return 0;
    }
    const char *folder = loc.mount_origin.empty() ? "/" : loc.mount_origin.c_str();
    return host_path_inside(folder, loc.origin.c_str(), real);
}

Mount *mount_p_path(const char *mount_point, const char *target)
{
    std::string mp = normalise_kestrane_path(mount_point);
    PdiskLocation loc;
    if (mp.empty() || !target || !pdisk_locate(target, 0, &loc))
        return nullptr;
    std::string origin = loc.origin;
    if (loc.kind == MOUNT_HOST && !pdisk_host_location(loc, &origin))
        return nullptr;
    return append_mount(loc.kind, mp, origin, 0);
}

int pdisk_ram_origin_is_folder(const char *origin)
{
    const pfile *e = get_ram_file_by_name(origin);
    if (e)
        return (e->attribs & PFILE_ATTR_FOLDER) != 0;
    for (const Mount *m : mounts)
        if (m->kind == MOUNT_RAM && m->is_ram_root && m->origin == origin)
            return 1;
    return 0;
}

static int find_mount(const std::string &mount_point, int kind)
{
    for (size_t i = 0; i < mounts.size(); i++)
        if (mounts[i]->mount_point == mount_point && (kind == 0 || mounts[i]->kind == kind))
            return (int)i;
    return -1;
}

Mount *get_mount_by_mount_point(const char *path, int kind)
{
    std::string p = normalise_kestrane_path(path);
    int i = p.empty() ? -1 : find_mount(p, kind);
    return i < 0 ? nullptr : mounts[i];
}

std::string get_mount_description(const char *path)
{
    const Mount *m = get_mount_by_mount_point(path, 0);
    if (!m)
        return "";
    return m->kind == MOUNT_HOST ? "host:" + m->origin : m->origin;
}

void print_mounts()
{
    for (size_t i = 0; i < mounts.size(); i++) {
        const Mount *m = mounts[i];
        printf("mount %d kind: %d isr:%d mount_point: %-10s origin: %-20s\n", (int)i, m->kind,
               m->is_ram_root, m->mount_point.c_str(), m->origin.c_str());
    }
}

// Writes the cartridge back. Dirty is cleared first so that a change made
// while writing is not lost; a failed write leaves the mount dirty.
static int write_back(Mount *m)
{
    m->dirty = 0;
    m->flush_due = 0;
    if (!k64_path_kind(m->mount_point.c_str()) || !pdisk_cart_ops.write_k64_mount)
        return 0;
    if (pdisk_cart_ops.write_k64_mount(m) == 0)
        return 1;
    m->dirty = 1;
    m->flush_due = get_ticks() + PDISK_FLUSH_RETRY_MS;
    printf("** could not write cartridge %s\n", m->mount_point.c_str());
    vemo_debug("** could not write cartridge %s\n", m->mount_point.c_str());
    return -1;
}

int delete_mount_point(const char *path)
{
    std::string p = normalise_kestrane_path(path);
    int i = p.empty() ? -1 : find_mount(p, 0);
    if (i < 0)
        return 0;
    Mount *m = mounts[i];
    // Written even under the atomic lock: the RAM files go with the mount.
    if (m->dirty)
        write_back(m);
    if (m->kind == MOUNT_RAM && starts_with(m->origin, "/ram/mount/"))
        delete_ram_files_in_path(m->origin.c_str());
    for (size_t j = 0; j < mounts.size(); j++) {
        if (mounts[j] == m) {
            remove_mount_at(j);
            break;
        }
    }
    return 1;
}

void mark_mount_dirty(Mount *m)
{
    if (!m)
        return;
    m->dirty = 1;
    if (!m->flush_due)
        m->flush_due = get_ticks() + PDISK_FLUSH_DELAY_MS;
}

void mark_parent_mount_dirty(const char *origin_path)
{
    Mount *best = nullptr;
    int best_depth = -1;
    for (Mount *m : mounts) {
        if (m->kind != MOUNT_RAM || !ram_path_is_inside_origin(origin_path, m->origin.c_str(), 1))
            continue;
        int d = m->origin == "/" ? 0 : count_slashes(m->origin.c_str());
        if (d > best_depth) {
            best = m;
            best_depth = d;
        }
    }
    mark_mount_dirty(best);
}

int flush_dirty_mount(Mount *m)
{
    return m && m->dirty ? write_back(m) : 0;
}

int flush_dirty_mount_immediately(const char *mount_point)
{
    Mount *m = get_mount_by_mount_point(mount_point, 0);
    if (!m || !m->dirty || flush_held())
        return 0;
    int r = write_back(m);
    printf("// flushed single mount: %s\n", m->mount_point.c_str());
    return r;
}

int flush_dirty_mounts_ex(int only_due)
{
    if (flush_held())
        return 0;
    int64_t now = get_ticks();
    int written = 0;
    // last to first: a cartridge inside another is written before its parent,
    // which it marks dirty
    for (int i = (int)mounts.size() - 1; i >= 0; i--) {
        if (i >= (int)mounts.size())
            continue;
        Mount *m = mounts[i];
        if (!m->dirty || (only_due && m->flush_due > now))
            continue;
        if (write_back(m) > 0)
            written++;
    }
    return written;
}

void flush_dirty_mounts_immediately() { flush_dirty_mounts_ex(0); }
void flush_dirty_mounts_delayed() { flush_dirty_mounts_ex(1); }

int delete_clean_ram_mounts()
{
    int removed = 0;
    for (int i = (int)mounts.size() - 1; i >= 0; i--) {
        Mount *m = mounts[i];
        if (m->dirty)
            continue;
        bool cart = m->kind == MOUNT_RAM && starts_with(m->origin, "/ram/mount/");
        bool view = starts_with(m->mount_point, "/ram/bbs/") || starts_with(m->mount_point, "/ram/everwas/");
        if (!cart && !view)
            continue;
        if (m->kind == MOUNT_RAM)
            delete_ram_files_in_path(m->origin.c_str());
        remove_mount_at((size_t)i);
        removed++;
    }
    return removed;
}

static void adapt_prune_threshold()
{
    int64_t e = 3 * (int64_t)prune_threshold;
    if (pdisk_num_pfiles() < prune_threshold)
        prune_threshold = e < 16384 ? PRUNE_THRESHOLD_START : (int)(e / 4);
    else
        prune_threshold = e > 458753 ? 229376 : (int)(e / 2);
}

void prune_mounts()
{
    if (flush_held())
        return;
    if ((int)mounts.size() > PRUNE_MOUNTS_ABOVE || pdisk_num_pfiles() > prune_threshold) {
        flush_dirty_mounts_immediately();
        delete_clean_ram_mounts();
        delete_ram_files_with_prefix("/ram/everwas/");
        adapt_prune_threshold();
        if ((int)mounts.size() > PRUNE_FATAL_MOUNTS) {
            printf("** fatal: too many mounts (%d); could not prune.\n", (int)mounts.size());
            print_mounts();
            kestrane_exit(0);
        }
    }
    pdisk_compact_pfiles();
}

void prune_process_mounts(Process *p)
{
    if (!p)
        return;
    flush_dirty_mounts_immediately();
    char prefix[64];
    snprintf(prefix, sizeof prefix, "/ram/everwas/%lld_", (long long)p->id);
    for (int i = (int)mounts.size() - 1; i >= 0; i--) {
        Mount *m = mounts[i];
        if (!starts_with(m->mount_point, prefix))
            continue;
        if (m->kind == MOUNT_RAM)
            delete_ram_files_in_path(m->origin.c_str());
        remove_mount_at((size_t)i);
    }
}

int pdisk_directory_exists(const char *path, int follow_mounts)
{
    PdiskLocation loc;
    if (!path || !pdisk_locate(path, 0, &loc))
        return 0;
    std::string real;
    if (loc.kind == MOUNT_RAM ? pdisk_ram_origin_is_folder(loc.origin.c_str())
                              : pdisk_host_location(loc, &real) && host_directory_exists(real.c_str()))
        return 1;
    if (!follow_mounts)
        return 0;
    for (const Mount *m : mounts)
        if (m->kind == MOUNT_RAM && m->mount_point == loc.path &&
            (m->is_ram_root || pdisk_ram_origin_is_folder(m->origin.c_str())))
            return 1;
    return 0;
}

int pdisk_host_directory_exists(const char *path)
{
    PdiskLocation loc;
    std::string real;
    return path && pdisk_locate(path, 0, &loc) && pdisk_host_location(loc, &real) &&
           host_directory_exists(real.c_str());
}

void sync_fs(int force)
{
    int64_t now = get_ticks();
    if (!force && now - last_sync_t < SYNC_INTERVAL_MS)
        return;
    last_sync_t = now;
    pdisk_sync_needed = 0;
}
