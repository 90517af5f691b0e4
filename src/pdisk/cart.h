// Cartridges: a folder packed into one file, in the form its extension names:
// ".k64" text, ".k64.rom" ROM image (k64rom.h), ".k64.png" a 512x384 picture
// whose low colour bits carry the ROM image. A cartridge is unpacked into a
// RAM folder "/ram/mount/mN" and mounted at its own path; flushing the mount
// packs the folder back into the file.
//
// Folders here are RAM origin paths (no trailing '/'); the entries of a
// folder are the RAM entries below it, in pfile-table order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Buffer;
struct Mount;

// Readers' results. A cartridge that was not read whole is never written back
// over its file (cart_mount.cpp), so that what could not be read is not lost.
// CART_READ_MORE: not a result, the reader goes on.
enum { CART_READ_WHOLE = 0, CART_READ_DAMAGED = -1, CART_READ_MORE = 1 };

// Every reader starts here: damaged for bad arguments, whole for nothing
// left to read (an empty file is a new, empty cartridge), else more.
int cart_read_start(const char *folder, const Buffer *b);

// At most this many entries are taken from one cartridge of any form.
constexpr int CART_MAX_ENTRIES = 16384;

// --- text form (cart_text.cpp) ---------------------------------------------

// The first line of a written text cartridge (readers ignore it).
#define CART_TEXT_FIRST_LINE "kestrane cartridge // https://www.kestrane.net\n"

// Appends the text form of the folder; binary files in hex when hex is set,
// in base64 otherwise. Returns the bytes appended, -1 when b cannot grow.
int write_k64_from_ram_files(Buffer *b, const char *folder, int hex);
// Whether a file is written as text lines (else base64).
bool cart_is_text_file(const char *rel_path, const uint8_t *data, size_t n);
// Reads a text cartridge from b's cursor into the folder: version 2, or the
// legacy version 1 line form. `where` names the cartridge in messages.
int populate_ram_folder_from_k64_buffer(const char *folder, Buffer *b, const char *where = "");

// --- ROM form (cart_rom.cpp) -----------------------------------------------

// Option: leave out the top-level label.png and label.qoi (the PNG form draws
// them instead).
constexpr int CART_ROM_NO_LABEL_FILES = 4;

// Appends a ROM image of the folder. Returns the bytes appended, or -1 when an
// entry cannot be stored (name too long, too many entries, too large).
int write_k64_rom_from_ram_files(Buffer *b, const char *folder, int options);
// Reads a ROM image (or the legacy plain-code form) from b's cursor. With
// keep, files that already exist are left as they are.
int populate_ram_folder_from_k64_rom_buffer_ex(const char *folder, Buffer *b, int keep,
                                               const char *where = "");
int populate_ram_folder_from_k64_rom_buffer(const char *folder, Buffer *b);

// --- PNG form (cart_png.cpp) -----------------------------------------------

constexpr int CART_PNG_WIDTH = 512, CART_PNG_HEIGHT = 384;
constexpr int CART_LABEL_X = 16, CART_LABEL_Y = 38, CART_LABEL_W = 480, CART_LABEL_H = 270;
// 11 bits per pixel: 3 in each of R, G and B, 2 in A.
constexpr size_t CART_PNG_CAPACITY = (size_t)CART_PNG_WIDTH * CART_PNG_HEIGHT * 11 / 8;
constexpr int32_t CART_PNG_MAX_ROM = 262143;
#define CART_PNG_TEMPLATE "/system/misc/k64_cart.png"

// Appends a PNG cartridge of the folder. Returns the bytes appended;
// CART_PNG_TOO_LARGE when the ROM image is larger than CART_PNG_MAX_ROM (the
// caller tells the user), -1 when it cannot be built.
constexpr int CART_PNG_TOO_LARGE = -2;
#define CART_PNG_TOO_LARGE_TEXT "failed to store cartridge rom as png (too large)"
int write_k64_png_from_ram_files(Buffer *b, const char *folder);
// Reads a PNG cartridge: the ROM image from the low bits, and the label
// picture back into "label.png" when the picture shows one.
int populate_ram_folder_from_k64_png_buffer(const char *folder, Buffer *b, const char *where = "");

// Stores n bytes (at most CART_PNG_CAPACITY) in the low bits of a 512x384
// RGBA picture, zero bits after them; and takes them out again.
void cart_png_embed(uint8_t *rgba, const uint8_t *bytes, size_t n);
void cart_png_extract(const uint8_t *rgba, uint8_t *out);

// The label text is printed onto a 178x20 one-bit canvas with the system
// font, then drawn onto the picture (rows 0..9 at twice the size).
constexpr int CART_LABEL_TEXT_W = 178, CART_LABEL_TEXT_H = 20;
struct CartLabelCanvas {
    uint8_t bits[CART_LABEL_TEXT_H][CART_LABEL_TEXT_W];   // 1 where text is
};
// Prints kernel text onto the canvas with the system font in colour 7, print
// cursor at (x, y). Set by the text printing module; while it is null,
// PNG cartridges are written without label text.
extern void (*cart_label_text_printer)(CartLabelCanvas *canvas, const char *text, int x, int y);
// Draws the set canvas pixels onto a 512x384 RGBA picture.
void cart_draw_label_canvas(uint8_t *rgba, const CartLabelCanvas *canvas);

// The value after `pattern` up to the next double quote not preceded by a
// backslash; its length in *out_len. Null when the pattern is missing, the
// value empty or the quote never closes.
const char *extract_info_str(const char *text, const char *pattern, int *out_len);

// --- RAM folders (cart_folder.cpp) -------------------------------------------

// The relative names a cartridge may hold: what a normalised path below the
// folder would be (legal path characters, no empty, "." or ".." segments).
bool cart_name_ok(const std::string &rel);

// Adds the folder (and any missing folders above it, inside `folder`).
// False when a file is in the way or the pfile table is full.
bool cart_put_folder(const char *folder, const std::string &rel);
// Adds or replaces the file (keep: an existing file stays as it is).
bool cart_put_file(const char *folder, const std::string &rel, const void *data, size_t n, int keep);
// One entry of a folder: relative name, folder flag and bytes (valid until
// the pfile table changes).
struct CartEntry {
    std::string rel;
    bool folder;
    const uint8_t *data;
    size_t size;
};
// The folder's entries in pfile-table order (byte order of their names).
std::vector<CartEntry> cart_entries(const char *folder);

// --- mounting and writing back (cart_mount.cpp) --------------------------

// `mount_k64_path`: unpacks the cartridge file at path into a fresh RAM folder
// and mounts it there; an existing mount of that path is returned as is.
Mount *cart_mount_k64_path(const char *path);
// Packs a cartridge mount back into its file ("wf"). 0 when written, -1 when
// not (the file is then as it was).
int cart_write_k64_mount(Mount *m);
// Whether the cartridge mounted from this RAM folder was read whole.
bool cart_folder_is_damaged(const char *folder);
