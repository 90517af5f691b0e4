#include "pdisk/mount.h"

void pfile_init() {}
void pfile_reset() {}
void mount_ram_folder(const char *) {}
void mount_host_path(const char *, const char *) {}
void flush_dirty_mounts_immediately() {}
void flush_dirty_mounts_delayed() {}
void sync_fs(int) {}
void prune_mounts() {}
void prune_process_mounts(Process *) {}
