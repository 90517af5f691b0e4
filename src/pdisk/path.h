// Virtual paths: the path grammar, normalisation, extensions, cartridge path
// kinds and the natural order of folder listings.
//
// A normalised path is absolute, starts with '/', has no empty, "." or ".."
// segments and no trailing '/', except the root "/" itself.
#pragma once
#include <string>

// Segments longer than this are dropped by normalisation.
constexpr int PDISK_MAX_SEGMENT = 254;

// Cartridge path kinds.
enum { K64_KIND_NONE = 0, K64_KIND_TEXT = 1, K64_KIND_ROM = 2, K64_KIND_PNG = 3 };

// Legal path characters: ASCII letters, digits, '_', '-', '.', '/'.
int is_path_char(int c);
// Non-empty, not starting with '#' or '-', legal characters up to the end or
// up to the first '#' (the location suffix after it is not checked).
int is_legal_path(const char *text);

// Folds "." and ".." segments and runs of '/'. A protocol prefix ("kodnet://")
// is kept verbatim and never removed by "..". With trace set, each step is
// printed to standard output. The result is never empty.
std::string collapse_path(const char *text, int length, int trace);

// The normalised form of a user path, relative paths being joined to the
// current process's working directory. Empty for an illegal path.
std::string normalise_kestrane_path(const char *text);

// The protocol of a text ("kodnet" for "kodnet://x"), or null. The result
// lives in a shared scratch area until the next call.
const char *get_prot(const char *text);
// The lower-cased extension of the last segment, of one or two parts
// ("k64.png"); "" when there is none or it is longer than 63 characters.
// The result lives in a shared scratch area until the next call.
const char *get_ext(const char *path);
// K64_KIND_* from how the last segment ends (".k64", ".k64.rom", ".k64.png",
// any case).
int k64_path_kind(const char *path);
int count_slashes(const char *text);

// Natural listing order: folders (names ending in '/') first, letters
// without case, digit runs by their value; bytes below '0' ('-', '.', '/')
// sort before digits, all others after. A total preorder, safe for sorting.
// Returns <0, 0 or >0.
int compare_listing_item(const char *a, const char *b);
