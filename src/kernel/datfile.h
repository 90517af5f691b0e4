// The system ROM file "sysrom.dat" beside the executable: a sequence of
// records, each a 32-bit big-endian length and that many bytes. Record 0 is
// the export name, 1 the system ROM cartridge, 2 an exported cartridge, 3 a
// flags word.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Buffer;

constexpr int MAX_DAT_FILES = 64;
// A record longer than this ends the reading (compared unsigned).
constexpr uint32_t MAX_DAT_RECORD_LEN = 0x2000000;

// Reads "sysrom.dat" from the executable's folder. A missing file leaves no
// records. Returns the number of records kept.
int load_kestrane_dat_files();
// Same record rules over bytes in memory; replaces any records held.
int load_kestrane_dat_files_from_memory(const uint8_t *data, size_t len);
// Record i rewound to position 0, or null when i is out of range.
Buffer *get_dat_file(int i);
int get_dat_file_count();
void free_dat_files();

// Appends the records in the file form.
void datfile_write(Buffer *out, const std::vector<std::string> &records);
