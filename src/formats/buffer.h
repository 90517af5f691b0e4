// Byte buffers: the one growable byte array of the kernel, with a cursor, plus
// the small hex codecs and string escapers built on it.
//
// Every write goes to `pos`, advances it and raises `len` to at least `pos`.
// Storage always keeps one spare byte past `len` for a terminator. Sizes are
// int32: a write that would need more than INT32_MAX bytes of storage is
// refused (the writer returns -1) and leaves the buffer as it was.
#pragma once
#include <cstdint>

struct Buffer {
    int32_t size;      // capacity of data in bytes, at least 1
    uint8_t *data;     // owned storage
    int32_t tag;       // allocation site, 0..127, for the live-buffer counters
    int32_t len;       // valid bytes (high-water mark of all writes)
    int32_t pos;       // cursor: reads start here, writes go here
};

// Tags fixed by this module; other modules pass their own.
constexpr int32_t BUFFER_TAG_ESCAPE = 69;
constexpr int32_t BUFFER_TAG_LINE = 82;
constexpr int32_t BUFFER_TAG_FROM_STR = 88;
constexpr int32_t BUFFER_TAG_FROM_BUFFER = 89;
constexpr int32_t BUFFER_TAG_FROM_FILE = 117;
constexpr int BUFFER_NUM_TAGS = 128;

// Construction and release. Constructors return null only when the storage
// cannot be had (or, for files, the file cannot be opened or is too large).
Buffer *create_buffer_2(int32_t initial, int32_t tag);
Buffer *create_buffer_from_str(const char *text);
Buffer *create_buffer_from_buffer(const Buffer *src);
Buffer *create_buffer_from_buffer_2(const Buffer *src, int32_t tag);
Buffer *create_buffer_from_file(const char *host_path);
void destroy_buffer(Buffer *b);

// For std::unique_ptr<Buffer, BufferDeleter> where a buffer lives in a scope.
struct BufferDeleter {
    void operator()(Buffer *b) const { destroy_buffer(b); }
};

int ballocate(Buffer *b, int32_t n);
Buffer *bclear(Buffer *b);
char *to_cstr(Buffer *b);

// Raw reads and writes at pos.
int bwrite(const void *src, int elem_size, int count, Buffer *b);
int bread(void *dst, int elem_size, int count, Buffer *b);
int bwrite_uint8(uint8_t v, Buffer *b);
int bwrite_uint16(uint16_t v, Buffer *b);
int bwrite_uint32(uint32_t v, Buffer *b);
int bwrite_uint32_big_endian(uint32_t v, Buffer *b);
// Fixed-width reads return 0 and leave pos alone when the value is not
// wholly inside len.
uint8_t bread_uint8(Buffer *b);
uint16_t bread_uint16(Buffer *b);
uint32_t bread_uint32(Buffer *b);
uint32_t bread_uint32_big_endian(Buffer *b);

// Text appends: move pos to len, append, leave a 0 byte after the new end.
int bappend_str(Buffer *b, const char *text);
int bwrite_int16_as_hex(int v, Buffer *b);
int bwrite_int32_as_hex(int32_t v, Buffer *b);
int bwrite_int64_as_hex(int64_t v, Buffer *b);
// Writes two digits at pos without moving to len first and without terminator.
int bwrite_uint8_as_hex(int v, Buffer *b);

// Hex reads. A byte that is not a hex digit reads as 0.
// Value of a hexadecimal digit of either case; any other character is 0.
int hex_value(int c);
int bread_uint8_hex(Buffer *b);
int read_u8_from_hex_str(const char **p);
int read_i16_from_hex_str(const char **p);
int32_t read_i32_from_hex_str(const char **p);
uint32_t read_u32_from_hex_str(const char **p);
int64_t read_i64_from_hex_str(const char **p);

// One line of src from its pos, without the line end, into dst (emptied
// first) or into a new buffer when dst is null.
Buffer *breadln(Buffer *src, Buffer *dst);
void bcrop(Buffer *b, int32_t start, int32_t n);

// Escapers. bwrite_escaped_string is the kod string body escaper;
// bappend_str_escaped the simpler one used for Lua literals.
int bwrite_escaped_string(const void *bytes, Buffer *b, int n);
int bappend_str_escaped(Buffer *b, const char *text);
// Result lives in a kernel-wide scratch buffer until the next call.
const char *escape_lua_string(const char *text);

// Diagnostics over all live buffers.
int64_t get_total_buffer_allocation();
int32_t get_total_num_buffers();
int32_t get_num_buffers_by_tag(int32_t tag);
