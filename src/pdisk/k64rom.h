// The ROM cartridge image (.k64.rom): "k64", a format byte, a uint32 LE
// compressed size C and one LZ4 block holding the entry stream. Each entry is
// a 0-terminated relative name ('/' appended for a folder) and, for files, a
// length (one byte below 255, else 255 and a uint32 LE) and the data.
#pragma once
#include <string>
#include <vector>

struct Buffer;

struct RomEntry {
    std::string name;   // relative path, no trailing '/'
    bool folder;
    std::string data;   // empty for folders
};

constexpr int K64ROM_MAX_ENTRIES = 16384;
constexpr int K64ROM_MAX_NAME = 400;
constexpr int K64ROM_MAX_STREAM = 0x4000000;   // 64 MiB of decompressed entries

// Reads a ROM image from b's cursor and appends its entries to out. Returns
// the number of entries read (those before a failure are kept), or -1 when the
// bytes are not a ROM image; pos is then left where it was. `where` names the
// image in the decompression failure message. When whole is given it tells
// whether the image was read to its end without a failure.
int k64rom_read(Buffer *b, std::vector<RomEntry> &out, const char *where = "", bool *whole = nullptr);
// Appends a ROM image of the entries in the order given. Returns the bytes
// appended, or -1 when an entry could not be read back (empty name, more than
// 400 characters, a 0 byte or "..") or the image would not fit.
int k64rom_write(Buffer *out, const std::vector<RomEntry> &entries);
// Looks up an entry by name; copies its data when found and `data` is given.
bool k64rom_find(const std::vector<RomEntry> &entries, const char *name, std::string *data);
// Packs a host folder: every file and folder below it except hidden ones,
// sorted by relative path in byte order. Returns the number of entries, or
// -1 when the folder cannot be read or holds a name a ROM cannot carry.
int k64rom_pack_folder(const char *host_dir, std::vector<RomEntry> &out);
