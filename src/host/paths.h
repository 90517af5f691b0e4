// Host folders and small path and text helpers. Every path handed out uses
// forward slashes.
#pragma once
#include <string>

// Turns every backslash into a slash, in place.
void vemo_fix_backslashes(char *text);
void vemo_fix_backslashes(std::string &text);

// A copy of text without its leading and trailing bytes below 33.
std::string vemo_trim(const char *text);

// Creates one folder. Returns 0 when it was created or already exists as a
// folder, -1 otherwise.
int vemo_mkdir(const char *path);
// Creates a folder and any missing folders above it; returns as vemo_mkdir.
int vemo_mkdirs(const char *path);

// The folder of the executable (absolute, ending in '/') followed by name.
std::string vemo_program_path(const char *name);

// The data folder followed by name. The folder is the -home folder when one is
// set, else a per-export folder below the host's application-data folder;
// the per-export folders are created as needed.
std::string vemo_data_path(const char *name);

// The -home folder with slashes and a trailing '/', or "" when config.home
// does not name one (empty or starting with a space).
std::string vemo_home_folder();

// The desktop folder, '/', then name.
std::string vemo_desktop_path(const char *name);

// Names the data folder of an exported cartridge; set by start-up from the
// system ROM file. Null or "" selects the shared folder.
void vemo_set_export_name(const char *name);
