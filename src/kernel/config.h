// The configuration file "kestrane_config.txt" in the data folder. It only
// declares host-folder mounts, one "mount KERNEL_PATH HOST_PATH" line each;
// a missing file is written with "/" mounted on the data folder's "drive".
#pragma once
#include <string>

// Read at every reset: creates the "drive" folder, writes the default file
// when there is none (exits with status 1 when it cannot be written) and
// makes the file's mounts.
void process_config();

// The default contents for a given "drive" folder.
std::string config_default_text(const std::string &drive_folder);

// Mounts the host folder named by one line of the file when it is a
// "mount " line; other lines are ignored. Returns 1 when a mount was made.
int config_apply_line(const char *line);
