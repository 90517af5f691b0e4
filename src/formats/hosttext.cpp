// Host text conversion. One table gives the code points of every kernel code;
// the UTF-8 forms used by both directions are derived from it at compile
// time, so encoder and decoder cannot disagree.
#include "formats/hosttext.h"

#include <cstring>

#include "formats/buffer.h"
#include "host/log.h"

namespace {

struct HostChar {
    uint32_t cp[2];   // 0 in cp[1] when the code is a single code point
};

constexpr uint32_t VS16 = 0xFE0F;   // emoji presentation selector

// Hiragana syllables of codes 154..199; katakana 204..249 are these + 0x60.
constexpr uint32_t hiragana[46] = {
    0x3042, 0x3044, 0x3046, 0x3048, 0x304A, 0x304B, 0x304D, 0x304F, 0x3051, 0x3053,
    0x3055, 0x3057, 0x3059, 0x305B, 0x305D, 0x305F, 0x3061, 0x3064, 0x3066, 0x3068,
    0x306A, 0x306B, 0x306C, 0x306D, 0x306E, 0x306F, 0x3072, 0x3075, 0x3078, 0x307B,
    0x307E, 0x307F, 0x3080, 0x3081, 0x3082, 0x3084, 0x3086, 0x3088, 0x3089, 0x308A,
    0x308B, 0x308C, 0x308D, 0x308F, 0x3092, 0x3093};
constexpr uint32_t small_hiragana[4] = {0x3063, 0x3083, 0x3085, 0x3087};

constexpr HostChar symbols_16[16] = {
    {0x25AE}, {0x25A0}, {0x25A1}, {0x2059}, {0x2058}, {0x2016}, {0x25C0}, {0x25B6},
    {0x300C}, {0x300D}, {0x00A5}, {0x2022}, {0x3001}, {0x3002}, {0x309B}, {0x309C}};

constexpr HostChar symbols_128[26] = {
    {0x2588}, {0x2592}, {0x1F431}, {0x2B07, VS16}, {0x2591}, {0x273D}, {0x25CF},
    {0x2665}, {0x2609}, {0xC6C3}, {0x2302}, {0x2B05, VS16}, {0x1F610}, {0x266A},
    {0x1F17E, VS16}, {0x25C6}, {0x2026}, {0x27A1, VS16}, {0x2605}, {0x29D7},
    {0x2B06, VS16}, {0x02C7}, {0x2227}, {0x274E}, {0x25A4}, {0x25A5}};

// The one source of truth: code points of every code (code 0 has none).
struct HostCharTable {
    HostChar c[256];
    constexpr HostCharTable() : c()
    {
        for (int i = 9; i <= 126; i++)
            if (i == 9 || i == 10 || i == 13 || i >= 32)
                c[i] = {(uint32_t)i};
        c[1] = {0x00B9};
        c[2] = {0x00B2};
        c[3] = {0x00B3};
        for (int i = 4; i <= 8; i++)
            c[i] = {(uint32_t)(0x2074 + i - 4)};
        c[11] = {0x1D47};
        c[12] = {0x1D9C};
        c[14] = {0x1D49};
        c[15] = {0x1DA0};
        for (int i = 0; i < 16; i++)
            c[16 + i] = symbols_16[i];
        c[127] = {0x25CB};
        for (int i = 0; i < 26; i++)
            c[128 + i] = symbols_128[i];
        for (int i = 0; i < 46; i++) {
            c[154 + i] = {hiragana[i]};
            c[204 + i] = {hiragana[i] + 0x60};
        }
        for (int i = 0; i < 4; i++) {
            c[200 + i] = {small_hiragana[i]};
            c[250 + i] = {small_hiragana[i] + 0x60};
        }
        c[254] = {0x25DC};
        c[255] = {0x25DD};
    }
};
constexpr HostCharTable host_chars;

struct Utf8Seq {
    uint8_t len;
    uint8_t b[HOSTTEXT_MAX_SEQ];
};

constexpr int utf8_put(uint32_t cp, uint8_t *out)
{
    if (cp < 0x80) {
        out[0] = (uint8_t)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (uint8_t)(0xC0 | cp >> 6);
        out[1] = (uint8_t)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (uint8_t)(0xE0 | cp >> 12);
        out[1] = (uint8_t)(0x80 | (cp >> 6 & 0x3F));
        out[2] = (uint8_t)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (uint8_t)(0xF0 | cp >> 18);
    out[1] = (uint8_t)(0x80 | (cp >> 12 & 0x3F));
    out[2] = (uint8_t)(0x80 | (cp >> 6 & 0x3F));
    out[3] = (uint8_t)(0x80 | (cp & 0x3F));
    return 4;
}

constexpr Utf8Seq utf8_of(const HostChar &h)
{
    Utf8Seq s{};
    for (uint32_t cp : h.cp)
        if (cp)
            s.len = (uint8_t)(s.len + utf8_put(cp, s.b + s.len));
    return s;
}

struct Utf8Table {
    Utf8Seq code[256];
    constexpr Utf8Table() : code()
    {
        for (int i = 0; i < 256; i++)
            code[i] = utf8_of(host_chars.c[i]);
    }
};
constexpr Utf8Table utf8_table;

// Sequences the decoder tries, in order; the first that matches wins. The
// sans-serif italic capitals are read as plain capitals but never written.
struct DecodeEntry {
    uint8_t code;
    Utf8Seq seq;
};

constexpr int NUM_DECODE_ENTRIES = 26 + 16 + 2 + 26 + 100 + 1 + 12;

struct DecodeOrder {
    DecodeEntry e[NUM_DECODE_ENTRIES];
    int n = 0;
    constexpr void add_codes(int from, int to)
    {
        for (int i = from; i <= to; i++)
            e[n++] = {(uint8_t)i, utf8_table.code[i]};
    }
    constexpr DecodeOrder() : e()
    {
        add_codes(128, 153);
        add_codes(16, 31);
        add_codes(254, 255);
        for (int i = 0; i < 26; i++)
            e[n++] = {(uint8_t)('A' + i), utf8_of({0x1D622u + (uint32_t)i})};
        add_codes(154, 253);
        add_codes(127, 127);
        add_codes(1, 8);
        add_codes(11, 12);
        add_codes(14, 15);
    }
};
constexpr DecodeOrder decode_order;
static_assert(decode_order.n == NUM_DECODE_ENTRIES);

// Code of the sequence starting at p (n bytes available), or -1; *used gets
// its length.
int match_sequence(const uint8_t *p, size_t n, int *used)
{
    for (const DecodeEntry &d : decode_order.e) {
        if (d.seq.b[0] != p[0] || d.seq.len > n)
            continue;
        if (memcmp(d.seq.b, p, d.seq.len) == 0) {
            *used = d.seq.len;
            return d.code;
        }
    }
    return -1;
}

struct Bom {
    uint8_t bytes[4];
    int len, skip, step;
};

// Checked in this order: the UTF-32 little-endian mark begins with the
// UTF-16 one.
constexpr Bom boms[] = {
    {{0xEF, 0xBB, 0xBF}, 3, 3, 1},
    {{0x00, 0x00, 0xFE, 0xFF}, 4, 7, 4},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, 4, 4},
    {{0xFF, 0xFE}, 2, 2, 2},
    {{0xFE, 0xFF}, 2, 3, 2},
};

}  // namespace

int hosttext_code_utf8(int code, uint8_t *seq)
{
    if (code <= 0 || code > 255)
        return 0;
    const Utf8Seq &s = utf8_table.code[code];
    memcpy(seq, s.b, s.len);
    return s.len;
}

Buffer *decode_host_text(const Buffer *b)
{
    if (!b)
        return nullptr;
    const uint8_t *in = b->data;
    size_t n = b->len > 0 ? (size_t)b->len : 0;

    // A lone lead byte after ASCII at the very end is half a character.
    if (n >= 2 && in[n - 1] >= 0x80 && in[n - 2] < 0x80) {
        vemo_debug("[decode_host_text] cropping last character of text: %d\n", in[n - 1]);
        n--;
    }

    size_t pos = 0, step = 1;
    for (const Bom &m : boms) {
        if (n >= (size_t)m.len && memcmp(in, m.bytes, (size_t)m.len) == 0) {
            pos = (size_t)m.skip;
            step = (size_t)m.step;
            break;
        }
    }

    // The output is never longer than the input.
    Buffer *out = create_buffer_2((int32_t)n, HOSTTEXT_BUFFER_TAG);
    if (!out)
        return nullptr;
    int32_t k = 0;
    while (pos < n) {
        uint8_t c = in[pos];
        int used = (int)step;
        if (c >= 0x80 && step == 1) {
            int code = match_sequence(in + pos, n - pos, &used);
            if (code >= 0)
                c = (uint8_t)code;
            else
                used = 1;
        }
        if (c != 13)
            out->data[k++] = c;
        pos += (size_t)used;
    }
    out->len = out->pos = k;
    out->data[k] = 0;
    return out;
}

Buffer *encode_host_text(const char *text, size_t max_len)
{
    Buffer *out = create_buffer_2(64, HOSTTEXT_BUFFER_TAG);
    if (!out || !text)
        return out;
    for (size_t i = 0; i < max_len && text[i]; i++) {
        const Utf8Seq &s = utf8_table.code[(uint8_t)text[i]];
        if (bwrite(s.b, 1, s.len, out) != s.len) {
            destroy_buffer(out);
            return nullptr;
        }
    }
    out->data[out->len] = 0;
    return out;
}
