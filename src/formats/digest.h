// Digests: MD5 as 32 lower-case hex characters, and the kernel's CRC-32 (the
// standard reflected one: polynomial 0xEDB88320, initial value 0xFFFFFFFF,
// final complement). Both Lua functions take a string and charge the caller.
#pragma once
#include <cstddef>
#include <cstdint>

struct lua_State;

// out receives 32 hex characters and a terminating 0 byte (33 bytes).
void md5(const void *bytes, size_t length, char *out);
// The 16 raw digest bytes.
void md5_raw(const void *bytes, size_t length, uint8_t digest[16]);

uint32_t crc32b(const void *bytes, size_t length);
// Continues a CRC over more bytes: crc32b(a + b) == crc32b_update(crc32b(a), b).
uint32_t crc32b_update(uint32_t crc, const void *bytes, size_t length);

// _md5(bytes) -> hex text; _crc(bytes) -> integer. Nothing for a non-string.
int lua54__md5(lua_State *L);
int lua54__crc(lua_State *L);
