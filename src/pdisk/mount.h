// Mounts of host folders and cartridges. Filled by the filesystem issue; until
// then nothing is ever mounted or dirty, so these do nothing.
#pragma once

struct Process;

void pfile_init();
void pfile_reset();
void mount_ram_folder(const char *path);
void mount_host_path(const char *host_path, const char *kernel_path);
void flush_dirty_mounts_immediately();
void flush_dirty_mounts_delayed();
void sync_fs(int final);
void prune_mounts();
void prune_process_mounts(Process *p);
