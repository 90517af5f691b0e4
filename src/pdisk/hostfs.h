// Host side of the filesystem: folder tests, the rule that keeps program
// paths inside their mounted host folder, and writes that never leave a
// half-written file in place.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

struct Buffer;

int host_directory_exists(const char *host_path);
// Size of a host file, -1 when it is missing or a folder.
int64_t host_file_size(const char *host_path);

// Where host_path really is once symbolic links are followed, provided that
// lies inside folder (itself resolved) or is folder itself; returns 1 and sets
// real, else 0. Components that do not exist yet are taken as written, so a
// file about to be created passes when its existing parent does. A dangling
// link fails.
int host_path_inside(const char *folder, const char *host_path, std::string *real);

// Reads a host file into dst from its pos; stops once dst holds more than
// limit bytes (limit < 0: no limit). Returns the bytes read, -1 when the file
// cannot be opened, is a folder, or cannot be read or held whole.
int64_t host_read_file(const char *host_path, Buffer *dst, int64_t limit);

// A pending replacement of a host file: the bytes go to a new file beside the
// target, which is renamed over the target only once it is complete.
struct HostWrite {
    FILE *file = nullptr;
    std::string temp;     // the file being written
    std::string target;   // the file it replaces
};

// Creates the temporary file. Returns 0, or -1 when it cannot be created
// (missing folder, no permission) or the target is a folder.
int host_write_begin(const char *target, HostWrite *w);
// Writes the bytes, flushes them to the disk and renames the temporary file
// over the target, keeping the target's permissions. Returns 0, or -1 with the
// target untouched and the temporary file removed.
int host_write_commit(HostWrite *w, const void *bytes, size_t n);
// Drops the temporary file.
void host_write_abort(HostWrite *w);
