// MD5 (RFC 1321) and the reflected CRC-32, plus their Lua entry points.
#include "formats/digest.h"

#include <cstring>

#include "lua.hpp"
#include "process/slice.h"

// --- MD5 -------------------------------------------------------------------

// floor(abs(sin(i + 1)) * 2^32)
static const uint32_t md5_k[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee,
    0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa,
    0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05,
    0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039,
    0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left-rotation amounts, four per round.
static const uint8_t md5_shift[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

static inline uint32_t rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

static void md5_block(uint32_t h[4], const uint8_t *block)
{
    uint32_t m[16];
    for (int i = 0; i < 16; i++)
        m[i] = (uint32_t)block[i * 4] | (uint32_t)block[i * 4 + 1] << 8 |
               (uint32_t)block[i * 4 + 2] << 16 | (uint32_t)block[i * 4 + 3] << 24;
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; i++) {
        int round = i / 16;
        uint32_t f;
        int g;
        switch (round) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (b & d) | (c & ~d); g = (5 * i + 1) & 15; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) & 15; break;
        default: f = c ^ (b | ~d); g = (7 * i) & 15; break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl32(a + f + md5_k[i] + m[g], md5_shift[round][i & 3]);
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

void md5_raw(const void *bytes, size_t length, uint8_t digest[16])
{
    const uint8_t *in = (const uint8_t *)bytes;
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    size_t full = length / 64;
    for (size_t i = 0; i < full; i++)
        md5_block(h, in + i * 64);

    // Padding: a 1 bit, zeros to 56 mod 64, then the bit length (64-bit LE).
    uint8_t tail[128] = {};
    size_t rest = length - full * 64;
    if (rest)
        memcpy(tail, in + full * 64, rest);
    tail[rest] = 0x80;
    size_t tail_len = rest < 56 ? 64 : 128;
    uint64_t bits = (uint64_t)length * 8;
    for (int i = 0; i < 8; i++)
        tail[tail_len - 8 + i] = (uint8_t)(bits >> (8 * i));
    for (size_t off = 0; off < tail_len; off += 64)
        md5_block(h, tail + off);

    for (int i = 0; i < 16; i++)
        digest[i] = (uint8_t)(h[i / 4] >> (8 * (i & 3)));
}

void md5(const void *bytes, size_t length, char *out)
{
    static const char hex[] = "0123456789abcdef";
    uint8_t digest[16];
    md5_raw(bytes, length, digest);
    for (int i = 0; i < 16; i++) {
        out[i * 2] = hex[digest[i] >> 4];
        out[i * 2 + 1] = hex[digest[i] & 15];
    }
    out[32] = 0;
}

// --- CRC-32 ------------------------------------------------------------------

struct Crc32Table {
    uint32_t v[256];
    constexpr Crc32Table() : v()
    {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            v[i] = c;
        }
    }
};
static constexpr Crc32Table crc32_table;

uint32_t crc32b_update(uint32_t crc, const void *bytes, size_t length)
{
    const uint8_t *in = (const uint8_t *)bytes;
    uint32_t c = ~crc;
    for (size_t i = 0; i < length; i++)
        c = crc32_table.v[(c ^ in[i]) & 0xff] ^ (c >> 8);
    return ~c;
}

uint32_t crc32b(const void *bytes, size_t length) { return crc32b_update(0, bytes, length); }

// --- Lua ---------------------------------------------------------------------

int lua54__crc(lua_State *L)
{
    if (!lua_isstring(L, 1))
        return 0;
    size_t len;
    const char *s = lua_tolstring(L, 1, &len);
    spend_cpu((int64_t)(len / 8));
    lua_pushinteger(L, (lua_Integer)crc32b(s, len));
    return 1;
}

int lua54__md5(lua_State *L)
{
    if (!lua_isstring(L, 1))
        return 0;
    size_t len;
    const char *s = lua_tolstring(L, 1, &len);
    spend_cpu((int64_t)(len / 2));
    char hex[33];
    md5(s, len, hex);
    lua_pushlstring(L, hex, 32);
    return 1;
}
