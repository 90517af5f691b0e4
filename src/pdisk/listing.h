// Folder listings: the names directly inside a folder, from the host folder
// or the RAM entries it resolves to and from the mount points inside it.
#pragma once
#include <string>
#include <vector>

constexpr int PFLIST_MAX_NAMES = 8192;

struct PfList {
    std::vector<std::string> names;   // folders first, then files; no paths
    int num_folders = 0;              // the first num_folders names
};

// Lists a folder in the natural listing order (compare_listing_item); a name
// that occurs twice is listed once. Returns 0, or -1 for an illegal path. A
// folder that does not exist lists only the mount points inside it.
int pflist(const char *path, PfList *out);
