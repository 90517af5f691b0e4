// The pfile table: RAM files and folders kept in memory, and the handles of
// host files while they are open. One array of entry pointers sorted by name
// (byte order), looked up by binary search over the names.
//
// A RAM entry is keyed by its RAM origin path and is its own handle: opening
// it resets its cursor. A host handle is keyed by the normalised virtual path
// and lives from pfopen to pfclose.
#pragma once
#include <cstdint>
#include <string>

#include "pdisk/hostfs.h"

struct Buffer;

constexpr int PFILE_MAX_ENTRIES = 0x40000;
constexpr int64_t PFILE_META_READ_LIMIT = 262143;   // "rm" reads stop past this

enum { PFILE_UNUSED = 0, PFILE_HOST = 1, PFILE_RAM = 2 };
constexpr int32_t PFILE_ATTR_FOLDER = 1;

struct pfile {
    int32_t kind;         // PFILE_*; unused entries keep their name until compacted
    std::string name;     // the key
    uint32_t hash;        // MurmurHash3 x86 32-bit of name, seed 0
    std::string origin;   // host path, or RAM origin path
    HostWrite host;       // host file being written; host.file is the open file
    Buffer *contents;     // the bytes; contents->pos is the cursor
    int32_t attribs;      // PFILE_ATTR_FOLDER
    char mode[3];         // first two characters of the last open's mode
    int64_t opened;       // host milliseconds of the last open
};

uint32_t pdisk_hash(const void *bytes, size_t n);

// Index of the first live entry of that name, or -1.
int get_index_by_name(const char *name);
pfile *get_ram_file_by_name(const char *name);
pfile *get_ram_file_by_index(int i);
// Inserts a new entry after any entries of the same name; null when the table
// is full. The entry has empty contents and no attributes.
pfile *pfile_insert(const char *name, int kind, const char *origin);

// Modes: 'r' read, 'w' write (truncates), 'a' append; second character 'f'
// (the cartridge file itself, skipping a mount at exactly this path; with 'r'
// dirty mounts are flushed first), 'e' (with 'r' on a host file: existence
// only), 'm' (with 'r' on a host file: enough for a metadata header).
// Null for an illegal path, a folder, a missing file opened for reading, a
// host file that cannot be opened, or a full table.
pfile *pfopen(const char *path, const char *mode);
int pfread(void *dst, int size, int count, pfile *h);
int pfwrite(const void *src, int size, int count, pfile *h);
// 0, or -1 when a host file could not be written (the host file is then as it
// was before the open).
int pfclose(pfile *h);
// Size of a RAM file or host file, -1 when missing or a folder; skip_exact
// looks past a mount whose point is exactly the path (a mounted cartridge
// is sized as its file).
int64_t pfile_size(const char *path, int skip_exact = 0);

// Marks every RAM entry at or below path as unused; returns how many.
int delete_ram_files_in_path(const char *path);
// The same for every RAM entry whose name starts with prefix.
int delete_ram_files_with_prefix(const char *prefix);
// 1 when origin is a prefix of path followed by '/' (or by the end of path
// when flag is set).
int ram_path_is_inside_origin(const char *path, const char *origin, int flag);

// Live entries.
int pdisk_num_pfiles();
int pdisk_count_slots_by_kind(int kind);
// Compacts the table and snapshots its entries for pdisk_pfile_iterator_item;
// returns their number.
int pdisk_pfile_iterator();
pfile *pdisk_pfile_iterator_item(int i);
// Frees unused entries and closes the gaps.
void pdisk_compact_pfiles();
// Frees every entry (reset).
void pdisk_clear_pfiles();

// The range [first, last) of table indices whose names start with prefix.
void pdisk_prefix_range(const char *prefix, int *first, int *last);
pfile *pdisk_entry(int i);

// Set by every host write; sync_fs clears it.
extern int32_t pdisk_sync_needed;
