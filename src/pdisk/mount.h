// The mount table: maps the virtual tree onto host folders and RAM folders.
// A path resolves through the deepest mount that contains it. Mounts whose
// RAM files changed are dirty until their cartridge is written back, after
// a short delay or at once before operations that must see the file.
#pragma once
#include <cstdint>
#include <string>

struct Process;

constexpr int PDISK_MAX_MOUNTS = 8192;
constexpr int64_t PDISK_FLUSH_DELAY_MS = 300;
// A cartridge that could not be written is tried again after this long.
constexpr int64_t PDISK_FLUSH_RETRY_MS = 2000;

enum { MOUNT_HOST = 1, MOUNT_RAM = 2 };

struct Mount {
    int32_t kind;             // MOUNT_HOST or MOUNT_RAM
    std::string mount_point;  // normalised; "" for a host folder mounted at "/"
    std::string origin;       // host folder (no trailing '/') or RAM origin path
    int32_t is_ram_root;      // a RAM folder that is its own origin
    int32_t dirty;            // a RAM file below the origin was written
    int64_t flush_due;        // host ms at which a dirty mount is written; 0 none
};

// Where a virtual path leads.
struct PdiskLocation {
    int kind = 0;               // MOUNT_HOST or MOUNT_RAM
    std::string path;           // the normalised virtual path
    std::string origin;         // host path or RAM origin path
    std::string mount_origin;   // the origin of the mount that holds it
};

// Clears every mount and RAM file (start-up and reboot).
void pfile_init();
void pfile_reset();

// 0, or 1 for an illegal path.
int mount_ram_folder(const char *path);
// Mounts a host folder (trusted: from the kernel or the configuration file).
// 0, or 1 when the mount point is unusable or the table is full.
int mount_host_path(const char *host_path, const char *mount_point);
// Shows what target resolves to at mount_point as well. Null for an illegal
// path, a host target outside its own mounted folder or a full table.
Mount *mount_p_path(const char *mount_point, const char *target);
// The cartridge slot (pdisk_cart_ops); null when cartridges are not handled.
Mount *mount_k64_path(const char *path);
// Creates the desktop folder "kestrane_desktop" and mounts it at
// "/desktop/host" (signal 65). 0, or -1 after notifying the user.
int mount_desktop_folder();

// Automount walks the prefixes of a path and mounts the cartridges it runs
// through. Suspensions nest.
void automount_p_path(const char *path);
void automount_suspend();
void automount_resume();

// Normalises and resolves a path (fatal when no mount holds it). Returns 0
// for an illegal path. With skip_exact, a mount whose mount point equals the
// path is ignored (to reach a cartridge's own file).
int pdisk_locate(const char *path, int skip_exact, PdiskLocation *loc);
// The origin of a path, "" for an illegal one.
std::string resolve_to_origin(const char *path, int *out_kind, int skip_exact);
// For a host location: the real host path, provided it stays inside the
// mount's host folder. 0 when it does not (see the rule in mount.cpp).
int pdisk_host_location(const PdiskLocation &loc, std::string *real);
// 1 when a RAM origin is a folder: a folder entry, or a RAM root's origin.
int pdisk_ram_origin_is_folder(const char *origin);

int delete_mount_point(const char *path);
// kind 0 matches any kind.
Mount *get_mount_by_mount_point(const char *path, int kind);
// "host:ORIGIN" for a host mount, the origin for a RAM mount; "" when no mount
// point equals the path.
std::string get_mount_description(const char *path);
void print_mounts();
int pdisk_num_mounts();
Mount *pdisk_mount(int i);

// Dirty marking: the mount whose origin holds the RAM origin path most
// deeply becomes dirty, due PDISK_FLUSH_DELAY_MS after its first change.
void mark_parent_mount_dirty(const char *origin_path);
void mark_mount_dirty(Mount *m);

// Writes one mount back when it is a cartridge. Returns 1 when a cartridge
// file was written, 0 when there was nothing to write, -1 on failure.
int flush_dirty_mount(Mount *m);
int flush_dirty_mount_immediately(const char *mount_point);
void flush_dirty_mounts_immediately();
void flush_dirty_mounts_delayed();
// Every dirty mount (or only those due), last to first; returns the number
// of cartridges written. Nothing while a process holds the atomic lock.
int flush_dirty_mounts_ex(int only_due);
// Removes clean cartridge mounts and history views with their RAM files.
int delete_clean_ram_mounts();
void prune_mounts();
void prune_process_mounts(Process *p);
// The adaptive pfile-count threshold of prune_mounts.
int pdisk_prune_threshold();

int pdisk_directory_exists(const char *path, int follow_mounts);
int pdisk_host_directory_exists(const char *path);

// Clears the needs-sync flag at most every 2 s unless forced.
void sync_fs(int force);
