// Byte buffers, hex codecs and string escapers.
#include "formats/buffer.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Buffers may be made on network worker threads, so the counters are atomic.
static std::atomic<int64_t> total_allocation{0};
static std::atomic<int32_t> total_buffers{0};
static std::atomic<int32_t> buffers_by_tag[BUFFER_NUM_TAGS];

static const char hex_digits[] = "0123456789abcdef";

static void count_buffer(int32_t tag, int32_t size, int delta)
{
    total_allocation += (int64_t)size * delta;
    total_buffers += delta;
    if (tag >= 0 && tag < BUFFER_NUM_TAGS)
        buffers_by_tag[tag] += delta;
}

// Makes room for a write ending at `end` (exclusive), keeping one spare byte
// for a terminator. Capacity doubles relative to the needed end. False when
// the end lies beyond what an int32 size can hold or memory runs out; the
// buffer is then left untouched.
static bool bensure(Buffer *b, int64_t end)
{
    int64_t need = end + 1;
    if (need <= b->size)
        return true;
    if (need > INT32_MAX)
        return false;
    int64_t want = std::min<int64_t>(2 * need, INT32_MAX);
    uint8_t *p = (uint8_t *)realloc(b->data, (size_t)want);
    if (!p)
        return false;
    memset(p + b->size, 0, (size_t)(want - b->size));
    total_allocation += want - b->size;
    b->data = p;
    b->size = (int32_t)want;
    return true;
}

// Copies k bytes to pos with the growth rule; false when refused.
static bool bput(Buffer *b, const void *src, int64_t k)
{
    if (b->pos < 0 || !bensure(b, (int64_t)b->pos + k))
        return false;
    memcpy(b->data + b->pos, src, (size_t)k);
    b->pos += (int32_t)k;
    if (b->len < b->pos)
        b->len = b->pos;
    return true;
}

// Appends text at len and leaves a terminator after it.
static int bappend_bytes(Buffer *b, const void *src, int64_t k)
{
    int32_t pos = b->pos;
    b->pos = b->len;
    if (!bput(b, src, k)) {
        b->pos = pos;
        return -1;
    }
    b->data[b->len] = 0;
    return (int)k;
}

Buffer *create_buffer_2(int32_t initial, int32_t tag)
{
    if (initial < 0)
        initial = 0;
    if (initial == INT32_MAX)
        return nullptr;
    Buffer *b = (Buffer *)calloc(1, sizeof(Buffer));
    if (!b)
        return nullptr;
    b->size = initial + 1;
    b->data = (uint8_t *)calloc((size_t)b->size, 1);
    if (!b->data) {
        free(b);
        return nullptr;
    }
    b->tag = tag;
    count_buffer(tag, b->size, 1);
    return b;
}

Buffer *create_buffer_from_str(const char *text)
{
    if (!text)
        text = "";
    size_t n = strlen(text);
    if (n > (size_t)INT32_MAX - 2)
        return nullptr;
    Buffer *b = create_buffer_2((int32_t)n + 1, BUFFER_TAG_FROM_STR);
    if (!b)
        return nullptr;
    memcpy(b->data, text, n);
    b->len = b->pos = (int32_t)n;
    return b;
}

Buffer *create_buffer_from_buffer_2(const Buffer *src, int32_t tag)
{
    if (!src)
        return nullptr;
    // size = src.size + 1, short of the int32 limit
    Buffer *b = create_buffer_2(std::min(src->size, INT32_MAX - 1), tag);
    if (!b)
        return nullptr;
    if (src->len > 0)
        memcpy(b->data, src->data, (size_t)src->len);
    b->len = std::max(src->len, 0);
    return b;
}

Buffer *create_buffer_from_buffer(const Buffer *src)
{
    return create_buffer_from_buffer_2(src, BUFFER_TAG_FROM_BUFFER);
}

Buffer *create_buffer_from_file(const char *host_path)
{
    FILE *f = host_path ? fopen(host_path, "rb") : nullptr;
    if (!f)
        return nullptr;
    Buffer *b = create_buffer_2(4096, BUFFER_TAG_FROM_FILE);
    uint8_t chunk[16384];
    bool ok = b != nullptr;
    while (ok) {
        size_t got = fread(chunk, 1, sizeof(chunk), f);
        if (got > 0)
            ok = bwrite(chunk, 1, (int)got, b) == (int)got;
        if (got < sizeof(chunk)) {
            ok = ok && !ferror(f);
            break;
        }
    }
    fclose(f);
    // A file we could not read whole is not handed out in part.
    if (!ok) {
        destroy_buffer(b);
        return nullptr;
    }
    return b;
}

void destroy_buffer(Buffer *b)
{
    if (!b)
        return;
    count_buffer(b->tag, b->size, -1);
    free(b->data);
    free(b);
}

int ballocate(Buffer *b, int32_t n)
{
    if (!b)
        return -1;
    return bensure(b, n) ? 0 : -1;
}

Buffer *bclear(Buffer *b)
{
    if (b)
        b->len = b->pos = 0;
    return b;
}

char *to_cstr(Buffer *b)
{
    if (!b)
        return nullptr;
    b->data[b->len] = 0;
    return (char *)b->data;
}

int bwrite(const void *src, int elem_size, int count, Buffer *b)
{
    int64_t k = (int64_t)elem_size * count;
    if (k <= 0)
        return k < INT_MIN ? INT_MIN : (int)k;
    if (!b || !src || !bput(b, src, k))
        return -1;
    return (int)k;
}

int bread(void *dst, int elem_size, int count, Buffer *b)
{
    if (!b || !dst || b->pos < 0)
        return 0;
    int64_t k = std::min<int64_t>((int64_t)elem_size * count, (int64_t)b->len - b->pos);
    if (k <= 0)
        return 0;
    memcpy(dst, b->data + b->pos, (size_t)k);
    b->pos += (int32_t)k;
    return (int)k;
}

int bwrite_uint8(uint8_t v, Buffer *b)
{
    return bwrite(&v, 1, 1, b);
}

int bwrite_uint16(uint16_t v, Buffer *b)
{
    uint8_t p[2] = {(uint8_t)v, (uint8_t)(v >> 8)};
    return bwrite(p, 1, 2, b);
}

int bwrite_uint32(uint32_t v, Buffer *b)
{
    uint8_t p[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    return bwrite(p, 1, 4, b);
}

int bwrite_uint32_big_endian(uint32_t v, Buffer *b)
{
    uint8_t p[4] = {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
    return bwrite(p, 1, 4, b);
}

// Start of a value of `width` bytes at pos, or null when it is not wholly
// inside len. Advances pos past it.
static const uint8_t *btake(Buffer *b, int width)
{
    if (!b || b->pos < 0 || (int64_t)b->pos + width > b->len)
        return nullptr;
    const uint8_t *p = b->data + b->pos;
    b->pos += width;
    return p;
}

uint8_t bread_uint8(Buffer *b)
{
    const uint8_t *p = btake(b, 1);
    return p ? p[0] : 0;
}

uint16_t bread_uint16(Buffer *b)
{
    const uint8_t *p = btake(b, 2);
    return p ? (uint16_t)(p[0] | p[1] << 8) : 0;
}

uint32_t bread_uint32(Buffer *b)
{
    const uint8_t *p = btake(b, 4);
    return p ? (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24 : 0;
}

uint32_t bread_uint32_big_endian(Buffer *b)
{
    const uint8_t *p = btake(b, 4);
    return p ? (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3] : 0;
}

int bappend_str(Buffer *b, const char *text)
{
    if (!b || !text)
        return 0;
    return bappend_bytes(b, text, (int64_t)strlen(text));
}

// Appends the low `digits` hex digits of v, most significant first.
static int bappend_hex(Buffer *b, uint64_t v, int digits)
{
    if (!b)
        return -1;
    char out[16];
    for (int i = digits - 1; i >= 0; i--) {
        out[i] = hex_digits[v & 15];
        v >>= 4;
    }
    return bappend_bytes(b, out, digits);
}

int bwrite_int16_as_hex(int v, Buffer *b)
{
    return bappend_hex(b, (uint16_t)v, 4);
}

int bwrite_int32_as_hex(int32_t v, Buffer *b)
{
    return bappend_hex(b, (uint32_t)v, 8);
}

int bwrite_int64_as_hex(int64_t v, Buffer *b)
{
    return bappend_hex(b, (uint64_t)v, 16);
}

int bwrite_uint8_as_hex(int v, Buffer *b)
{
    char out[2] = {hex_digits[(v >> 4) & 15], hex_digits[v & 15]};
    return bwrite(out, 1, 2, b);
}

int hex_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

int bread_uint8_hex(Buffer *b)
{
    const uint8_t *p = btake(b, 2);
    return p ? hex_value(p[0]) << 4 | hex_value(p[1]) : 0;
}

// Consumes up to `digits` characters of a 0-terminated text. On meeting the
// terminator early the pointer stays on it and *ok becomes false.
static uint64_t read_hex_digits(const char **p, int digits, bool *ok)
{
    *ok = false;
    if (!p || !*p)
        return 0;
    uint64_t v = 0;
    for (int i = 0; i < digits; i++) {
        uint8_t c = (uint8_t)**p;
        if (c == 0)
            return 0;
        v = v << 4 | (uint64_t)hex_value(c);
        (*p)++;
    }
    *ok = true;
    return v;
}

int read_u8_from_hex_str(const char **p)
{
    bool ok;
    uint64_t v = read_hex_digits(p, 2, &ok);
    return ok ? (int)v : 0;
}

int read_i16_from_hex_str(const char **p)
{
    bool ok;
    uint64_t v = read_hex_digits(p, 4, &ok);
    if (!ok)
        return 0;
    return v > 0x7fff ? (int)v - 0x10000 : (int)v;
}

int32_t read_i32_from_hex_str(const char **p)
{
    bool ok;
    uint64_t v = read_hex_digits(p, 8, &ok);
    return ok ? (int32_t)(uint32_t)v : 0;
}

uint32_t read_u32_from_hex_str(const char **p)
{
    bool ok;
    uint64_t v = read_hex_digits(p, 8, &ok);
    return ok ? (uint32_t)v : 0;
}

int64_t read_i64_from_hex_str(const char **p)
{
    bool ok;
    uint64_t v = read_hex_digits(p, 16, &ok);
    return ok ? (int64_t)v : 0;
}

Buffer *breadln(Buffer *src, Buffer *dst)
{
    Buffer *line = dst ? bclear(dst) : create_buffer_2(16, BUFFER_TAG_LINE);
    if (!line)
        return nullptr;
    int32_t start = 0, end = 0;   // the line's bytes are src[start, end)
    if (src && src->pos >= 0 && src->pos < src->len) {
        start = src->pos;
        const uint8_t *base = src->data + start;
        const uint8_t *nl = (const uint8_t *)memchr(base, '\n', (size_t)(src->len - start));
        if (nl) {
            end = start + (int32_t)(nl - base);
            src->pos = end + 1;
            if (end > start && src->data[end - 1] == '\r')
                end--;
        } else {
            end = src->len;
            src->pos = src->len;
        }
    }
    if (end > start)
        bappend_bytes(line, src->data + start, end - start);
    line->data[line->len] = 0;
    line->pos = line->len;
    return line;
}

void bcrop(Buffer *b, int32_t start, int32_t n)
{
    if (!b || start < 0)
        return;
    if (start >= b->len || n <= 0) {
        b->len = b->pos = 0;
        return;
    }
    n = std::min(n, b->len - start);
    memmove(b->data, b->data + start, (size_t)n);
    memset(b->data + n, 0, (size_t)(b->size - n));
    b->len = n;
    // a cursor inside the dropped prefix ends up at the front, not before it
    b->pos = std::max(b->pos - start, 0);
}

// Width of one byte in the kod string escaping.
static constexpr int kod_escaped_width(uint8_t c)
{
    if (c == '"' || c == '\\' || c == '\n')
        return 2;
    if (c < 32 || c >= 127 || c == ']')
        return 4;
    return 1;
}

// Width of one byte in the Lua literal escaping.
static constexpr int lua_escaped_width(uint8_t c)
{
    return (c == '\\' || c == '"' || c < 32 || c >= 128) ? 4 : 1;
}

// The widths of all 256 bytes, so that escaping reads a table per byte.
struct EscapeWidths {
    uint8_t w[256];
};

static constexpr EscapeWidths escape_widths(int (*width)(uint8_t))
{
    EscapeWidths t{};
    for (int c = 0; c < 256; c++)
        t.w[c] = (uint8_t)width((uint8_t)c);
    return t;
}

static constexpr EscapeWidths kod_widths = escape_widths(kod_escaped_width);
static constexpr EscapeWidths lua_widths = escape_widths(lua_escaped_width);

static char *put_decimal_escape(char *out, uint8_t c)
{
    out[0] = '\\';
    out[1] = (char)('0' + c / 100);
    out[2] = (char)('0' + c / 10 % 10);
    out[3] = (char)('0' + c % 10);
    return out + 4;
}

// Appends n bytes escaped with the widths table; the whole result is sized
// first so the storage grows once, and runs of bytes that stay as they are
// are copied whole.
static int bappend_escaped(Buffer *b, const uint8_t *s, int64_t n, const EscapeWidths &widths, bool kod)
{
    const uint8_t *width = widths.w;
    int64_t total = 0;
    for (int64_t i = 0; i < n; i++)
        total += width[s[i]];
    if (!bensure(b, (int64_t)b->len + total))
        return -1;
    char *out = (char *)b->data + b->len;
    int64_t i = 0;
    while (i < n) {
        int64_t run = i;
        while (run < n && width[s[run]] == 1)
            run++;
        memcpy(out, s + i, (size_t)(run - i));
        out += run - i;
        if (run == n)
            break;
        uint8_t c = s[run];
        if (width[c] == 4) {
            out = put_decimal_escape(out, c);
        } else {
            *out++ = '\\';
            *out++ = (kod && c == '\n') ? 'n' : (char)c;
        }
        i = run + 1;
    }
    b->len += (int32_t)total;
    b->pos = b->len;
    b->data[b->len] = 0;
    return (int)total;
}

int bwrite_escaped_string(const void *bytes, Buffer *b, int n)
{
    if (!b || !bytes || n <= 0)
        return 0;
    return bappend_escaped(b, (const uint8_t *)bytes, n, kod_widths, true);
}

int bappend_str_escaped(Buffer *b, const char *text)
{
    if (!b || !text)
        return 0;
    return bappend_escaped(b, (const uint8_t *)text, (int64_t)strlen(text), lua_widths, false);
}

const char *escape_lua_string(const char *text)
{
    static Buffer *scratch = nullptr;
    if (!scratch)
        scratch = create_buffer_2(1024, BUFFER_TAG_ESCAPE);
    if (!scratch)
        return "";
    bclear(scratch);
    bappend_str_escaped(scratch, text);
    return to_cstr(scratch);
}

int64_t get_total_buffer_allocation()
{
    return total_allocation;
}

int32_t get_total_num_buffers()
{
    return total_buffers;
}

int32_t get_num_buffers_by_tag(int32_t tag)
{
    if (tag < 0 || tag >= BUFFER_NUM_TAGS)
        return 0;
    return buffers_by_tag[tag];
}
