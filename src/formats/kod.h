// kod: the kernel's text serialisation of Lua values. Plain values are a
// Lua-like literal without spaces; binary blocks ("lz4", "str", "kxu", each
// a 3-letter marker and a 0 byte) and a base64 wrapper carry compressed or
// raw data. A document is an optional "--[[kod ...]]" metadata header
// followed by one value.
//
// The writer reads tables raw (no metamethod is ever invoked), refuses
// cycles, nesting deeper than KOD_MAX_DEPTH and output larger than
// KOD_MAX_TEXT, and then leaves the buffer as it was. The reader never reads
// outside the length it is given, bounds every length field and every
// allocation, and catches Lua memory errors: a bad input pushes nothing.
// Both use kernel-wide scratch areas: main thread only.
#pragma once
#include <cstddef>
#include <cstdint>

struct Buffer;
struct lua_State;

// ValueFlags bits.
constexpr int KOD_KXU = 1;          // u8 and i16 userdata as kxu blocks
constexpr int KOD_LZ4 = 2;          // the whole output as one lz4 block
constexpr int KOD_BASE64 = 4;       // the whole output inside unkod("b64:...")
constexpr int KOD_KXU_RAW = 16;     // with KOD_KXU: u8 in raw mode
constexpr int KOD_STR_BLOCKS = 32;  // strings as str blocks

constexpr int KOD_MAX_DEPTH = 256;       // nested tables, writer and reader
constexpr int KOD_MAX_NESTED_DOCS = 16;  // lz4 / base64 / unkod( nesting, reader
constexpr int64_t KOD_MAX_TEXT = 64 << 20;       // one writer output; one decoded block
constexpr int64_t KOD_MAX_STRING = 0xFFFFFF;     // decoded bytes of one quoted string
constexpr int64_t KOD_MAX_STR_BLOCK = 0x1FFFFFF; // bytes of one str block

constexpr int32_t KOD_BUFFER_TAG = 111;

// Writer results; kod_error_text() gives the message for each.
enum {
    KOD_OK = 0,
    KOD_ERR_CYCLE,      // a table contains itself
    KOD_ERR_DEPTH,      // tables nested deeper than KOD_MAX_DEPTH
    KOD_ERR_TOO_LARGE,  // output beyond KOD_MAX_TEXT
    KOD_ERR_MEMORY,     // buffer or Lua stack could not grow
};
const char *kod_error_text(int err);

// State of one stringify_object call.
struct KodWriter {
    lua_State *L;
    Buffer *b;
    int flags;
    int32_t start;     // b->len when the call began; output beyond it is ours
    int error;         // first failure, KOD_OK while none
    int64_t cpu;       // cycles owed, charged once at the end
    const void *path[KOD_MAX_DEPTH];  // the tables being written, outermost first
};

// Appends the value at `index` to b under `flags`. Returns KOD_OK, or an
// error code with b left exactly as it was.
int stringify_object(lua_State *L, int index, Buffer *b, int flags);
// One value (no wrapping) at `depth` tables deep; records the first failure
// in w->error and returns it.
int stringify_object_recursive(KodWriter *w, int index, int depth);

// Reads the document of `length` bytes at text and pushes its value, then its
// metadata table when it has a header. Returns the number of values pushed:
// 0 (unreadable), 1 or 2.
int destringify_object(lua_State *L, const char *text, size_t length);
// Pushes the metadata table of a document that starts with a header (an
// empty table when it has none or it cannot be read). Returns 1.
int destringify_object_metadata(lua_State *L, const char *text, size_t length);
int destringify_object_metadata(lua_State *L, const char *text);

// kod(value, flags = 0, prefix) -> string; also registered as _kod and
// _kod_raw. Raises a Lua error for a value it refuses (cycle, depth, size).
int lua54_kod(lua_State *L);
// unkod(text) -> value, metadata; nothing when the text cannot be read.
int lua54_unkod(lua_State *L);
