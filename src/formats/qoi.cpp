// QOI encoder and decoder. Both sides keep the previous pixel and a table of
// 64 recently seen pixels indexed by a colour hash; every pixel passed over
// goes into that table, so encoder and decoder stay in step.
#include "formats/qoi.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint8_t QOI_OP_INDEX = 0x00;   // 00iiiiii
constexpr uint8_t QOI_OP_DIFF = 0x40;    // 01rrggbb, each -2..1
constexpr uint8_t QOI_OP_LUMA = 0x80;    // 10gggggg, then rrrrbbbb relative to g
constexpr uint8_t QOI_OP_RUN = 0xC0;     // 11llllll, run of 1..62
constexpr uint8_t QOI_OP_RGB = 0xFE;
constexpr uint8_t QOI_OP_RGBA = 0xFF;
constexpr uint8_t QOI_MASK = 0xC0;
constexpr int QOI_MAX_RUN = 62;

struct Rgba {
    uint8_t r, g, b, a;
};

inline bool same(Rgba x, Rgba y) { return x.r == y.r && x.g == y.g && x.b == y.b && x.a == y.a; }
inline int hash(Rgba p) { return (p.r * 3 + p.g * 5 + p.b * 7 + p.a * 11) & 63; }

void put_u32_be(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

uint32_t get_u32_be(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

bool valid_desc(const QoiDesc *d)
{
    uint64_t n = (uint64_t)d->width * d->height;
    return n > 0 && n <= QOI_MAX_PIXELS && (d->channels == 3 || d->channels == 4) &&
           d->colorspace <= 1;
}

// The chunk for a pixel that differs from the previous one.
uint8_t *put_change(uint8_t *o, Rgba px, Rgba prev)
{
    if (px.a != prev.a) {
        *o++ = QOI_OP_RGBA;
        *o++ = px.r;
        *o++ = px.g;
        *o++ = px.b;
        *o++ = px.a;
        return o;
    }
    // Differences wrap around at 8 bits.
    int dr = (int8_t)(uint8_t)(px.r - prev.r);
    int dg = (int8_t)(uint8_t)(px.g - prev.g);
    int db = (int8_t)(uint8_t)(px.b - prev.b);
    if (dr >= -2 && dr <= 1 && dg >= -2 && dg <= 1 && db >= -2 && db <= 1) {
        *o++ = (uint8_t)(QOI_OP_DIFF | (dr + 2) << 4 | (dg + 2) << 2 | (db + 2));
        return o;
    }
    int dr_g = dr - dg, db_g = db - dg;
    if (dg >= -32 && dg <= 31 && dr_g >= -8 && dr_g <= 7 && db_g >= -8 && db_g <= 7) {
        *o++ = (uint8_t)(QOI_OP_LUMA | (dg + 32));
        *o++ = (uint8_t)((dr_g + 8) << 4 | (db_g + 8));
        return o;
    }
    *o++ = QOI_OP_RGB;
    *o++ = px.r;
    *o++ = px.g;
    *o++ = px.b;
    return o;
}

}  // namespace

uint8_t *qoi_encode(const void *pixels, const QoiDesc *desc, size_t *out_length)
{
    if (!pixels || !desc || !out_length || !valid_desc(desc))
        return nullptr;
    size_t npx = (size_t)desc->width * desc->height;
    int ch = desc->channels;
    // Worst case: every pixel an RGBA chunk.
    size_t cap = QOI_HEADER_SIZE + npx * 5 + QOI_END_SIZE;
    uint8_t *out = (uint8_t *)malloc(cap);
    if (!out)
        return nullptr;

    memcpy(out, "qoif", 4);
    put_u32_be(out + 4, desc->width);
    put_u32_be(out + 8, desc->height);
    out[12] = desc->channels;
    out[13] = desc->colorspace;
    uint8_t *o = out + QOI_HEADER_SIZE;

    Rgba index[64] = {};
    Rgba prev = {0, 0, 0, 255};
    int run = 0;
    const uint8_t *in = (const uint8_t *)pixels;
    for (size_t i = 0; i < npx; i++, in += ch) {
        Rgba px = {in[0], in[1], in[2], ch == 4 ? in[3] : (uint8_t)255};
        if (same(px, prev)) {
            if (++run == QOI_MAX_RUN) {
                *o++ = (uint8_t)(QOI_OP_RUN | (run - 1));
                run = 0;
            }
        } else {
            if (run > 0) {
                *o++ = (uint8_t)(QOI_OP_RUN | (run - 1));
                run = 0;
            }
            int h = hash(px);
            if (same(index[h], px))
                *o++ = (uint8_t)(QOI_OP_INDEX | h);
            else
                o = put_change(o, px, prev);
        }
        index[hash(px)] = px;
        prev = px;
    }
    if (run > 0)
        *o++ = (uint8_t)(QOI_OP_RUN | (run - 1));
    memset(o, 0, QOI_END_SIZE - 1);
    o[QOI_END_SIZE - 1] = 1;
    o += QOI_END_SIZE;
    *out_length = (size_t)(o - out);
    return out;
}

// Decodes npx pixels from the chunks in [p, end) into out; false when the
// chunks run out first.
static bool qoi_decode_chunks(const uint8_t *p, const uint8_t *end, uint64_t npx, int channels,
                              uint8_t *out)
{
    Rgba index[64] = {};
    Rgba px = {0, 0, 0, 255};
    int run = 0;
    for (uint64_t i = 0; i < npx; i++, out += channels) {
        if (run > 0) {
            run--;
        } else {
            if (p >= end)
                return false;
            uint8_t b1 = *p++;
            if (b1 == QOI_OP_RGB || b1 == QOI_OP_RGBA) {
                int n = b1 == QOI_OP_RGB ? 3 : 4;
                if (end - p < n)
                    return false;
                px.r = p[0];
                px.g = p[1];
                px.b = p[2];
                if (n == 4)
                    px.a = p[3];
                p += n;
            } else if ((b1 & QOI_MASK) == QOI_OP_INDEX) {
                px = index[b1];
            } else if ((b1 & QOI_MASK) == QOI_OP_DIFF) {
                px.r = (uint8_t)(px.r + ((b1 >> 4) & 3) - 2);
                px.g = (uint8_t)(px.g + ((b1 >> 2) & 3) - 2);
                px.b = (uint8_t)(px.b + (b1 & 3) - 2);
            } else if ((b1 & QOI_MASK) == QOI_OP_LUMA) {
                if (p >= end)
                    return false;
                uint8_t b2 = *p++;
                int dg = (b1 & 0x3f) - 32;
                px.r = (uint8_t)(px.r + dg - 8 + (b2 >> 4));
                px.g = (uint8_t)(px.g + dg);
                px.b = (uint8_t)(px.b + dg - 8 + (b2 & 15));
            } else {
                run = b1 & 0x3f;   // this pixel, then `run` more
            }
            index[hash(px)] = px;
        }
        out[0] = px.r;
        out[1] = px.g;
        out[2] = px.b;
        if (channels == 4)
            out[3] = px.a;
    }
    return true;
}

uint8_t *qoi_decode(const void *bytes, size_t length, QoiDesc *desc, int channels)
{
    const uint8_t *in = (const uint8_t *)bytes;
    if (!in || !desc || length < QOI_HEADER_SIZE + QOI_END_SIZE || memcmp(in, "qoif", 4) != 0)
        return nullptr;
    if (channels != 0 && channels != 3 && channels != 4)
        return nullptr;
    QoiDesc d = {get_u32_be(in + 4), get_u32_be(in + 8), in[12], in[13]};
    if (!valid_desc(&d))
        return nullptr;
    if (channels == 0)
        channels = d.channels;

    // Chunks lie between the header and the end marker. One chunk byte
    // yields at most a run of 62 pixels: larger claims cannot be met, and
    // are refused before anything is allocated.
    const uint8_t *p = in + QOI_HEADER_SIZE;
    const uint8_t *end = in + length - QOI_END_SIZE;
    uint64_t npx = (uint64_t)d.width * d.height;
    if (npx > (uint64_t)(end - p) * QOI_MAX_RUN)
        return nullptr;
    uint8_t *out = (uint8_t *)malloc((size_t)(npx * (uint64_t)channels));
    if (!out)
        return nullptr;
    if (!qoi_decode_chunks(p, end, npx, channels, out)) {
        free(out);
        return nullptr;
    }
    *desc = d;
    return out;
}
