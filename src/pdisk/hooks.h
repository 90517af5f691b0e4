// Where the cartridge formats and the file history plug into the filesystem
// core. Each slot is filled by its own module; until then the core works
// without it.
#pragma once

struct Mount;

// Cartridge support (cart_hooks.cpp). A null slot means cartridges are not
// handled: paths through them are not automounted and nothing is written back.
struct PdiskCartOps {
    // `mount_k64_path`: unpacks the cartridge file at the normalised path into
    // a fresh RAM folder, mounts it at that path and returns the mount (an
    // existing mount of that path is returned as is); null on failure.
    // mount_p_path(path, folder) adds the mount; pfile_insert with
    // PFILE_ATTR_FOLDER makes the folder entry.
    Mount *(*mount_k64_path)(const char *path);
    // Packs the RAM folder of a cartridge mount back into the cartridge file
    // named by its mount point, in the form its extension names (open it with
    // "wf" so the mount itself is skipped; pdisk_prefix_range and pdisk_entry
    // walk the folder's entries in table order). Returns 0 when the file was
    // written, -1 when it was not; the mount then stays dirty and is retried.
    int (*write_k64_mount)(Mount *m);
};
extern PdiskCartOps pdisk_cart_ops;

// File history events raised by the filesystem (history_hook.cpp).
enum {
    PDISK_EVENT_FILE_WRITTEN = 0,    // path, host path of the written file
    PDISK_EVENT_FILE_DELETED = 1,    // path, host path
    PDISK_EVENT_FOLDER_CREATED = 2,  // path, host path
};

// Called after a host file was written (and by the file API after a host
// delete or folder creation). Forwards to pdisk_history_hook when set.
void pdisk_history_event(int kind, const char *path, const char *host_path);
extern void (*pdisk_history_hook)(int kind, const char *path, const char *host_path);
