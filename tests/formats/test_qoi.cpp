#include "formats/qoi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A second decoder, written from the format description alone, to check the
// encoder's output independently of qoi_decode. Returns RGBA.
Bytes reference_decode(const Bytes &f)
{
    size_t npx = (size_t)(f[6] << 8 | f[7]) * (size_t)(f[10] << 8 | f[11]);   // small images
    Bytes out;
    uint8_t seen[64][4] = {}, px[4] = {0, 0, 0, 255};
    size_t p = 14;
    while (out.size() < npx * 4) {
        uint8_t op = f.at(p++);
        int repeat = 1;
        if (op >= 0xFE) {
            for (int i = 0; i < (op == 0xFF ? 4 : 3); i++)
                px[i] = f.at(p++);
        } else if (op >> 6 == 0) {
            memcpy(px, seen[op], 4);
        } else if (op >> 6 == 1) {
            px[0] += (op >> 4 & 3) - 2, px[1] += (op >> 2 & 3) - 2, px[2] += (op & 3) - 2;
        } else if (op >> 6 == 2) {
            int dg = (op & 63) - 32, rb = f.at(p++);
            px[0] += dg + (rb >> 4) - 8, px[1] += dg, px[2] += dg + (rb & 15) - 8;
        } else {
            repeat = (op & 63) + 1;
        }
        memcpy(seen[(px[0] * 3 + px[1] * 5 + px[2] * 7 + px[3] * 11) % 64], px, 4);
        for (int i = 0; i < repeat; i++)
            out.insert(out.end(), px, px + 4);
    }
    EXPECT_EQ(Bytes(f.begin() + (long)p, f.end()), (Bytes{0, 0, 0, 0, 0, 0, 0, 1}));
    return out;
}

// Pixels that call for every chunk kind: runs, returning colours, small and
// medium steps, big jumps and alpha changes.
Bytes test_image(size_t npx, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes px(npx * 4);
    uint8_t c[4] = {10, 20, 30, 255};
    for (size_t i = 0; i < npx; i++) {
        unsigned kind = rng() % 6;
        for (int k = 0; k < 3; k++) {
            unsigned r = rng();
            c[k] = (uint8_t)(kind == 1 ? c[k] + r % 4 - 2 : kind == 2 ? c[k] + r % 50 - 25
                             : kind == 4 ? r % 4 : kind == 5 ? r : c[k]);
        }
        if (kind == 3)
            c[3] = (uint8_t)rng();
        memcpy(&px[i * 4], c, 4);
    }
    return px;
}

Bytes encode(const Bytes &px, QoiDesc d)
{
    size_t n = 0;
    uint8_t *e = qoi_encode(px.data(), &d, &n);
    Bytes out = e ? Bytes(e, e + n) : Bytes();
    free(e);
    return out;
}

Bytes decode(const Bytes &file, QoiDesc *d, int channels)
{
    uint8_t *p = qoi_decode(file.data(), file.size(), d, channels);
    Bytes out = p ? Bytes(p, p + (size_t)d->width * d->height * (channels ? channels : d->channels)) : Bytes();
    free(p);
    return out;
}

TEST(Qoi, RoundTripAndIndependentDecoder)
{
    for (unsigned seed = 1; seed <= 5; seed++) {
        Bytes px = test_image(37 * 23, seed);
        Bytes file = encode(px, {37, 23, 4, 1});
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 14), (Bytes{'q', 'o', 'i', 'f', 0, 0, 0, 37, 0, 0, 0, 23, 4, 1}));
        EXPECT_EQ(reference_decode(file), px);
        QoiDesc d{};
        EXPECT_EQ(decode(file, &d, 4), px);
        EXPECT_EQ(d.width * 100 + d.height, 3723u);
    }
}

TEST(Qoi, LongRunsAndThreeChannels)
{
    Bytes px(300 * 4, 0);
    for (size_t i = 0; i < 300; i++)
        px[i * 4 + 3] = 255;                   // the start pixel, 300 times
    Bytes file = encode(px, {300, 1, 4, 1});
    EXPECT_EQ(file.size(), 14u + 5 + 8);       // runs of 62, 62, 62, 62, 52
    EXPECT_EQ(reference_decode(file), px);

    Bytes rgba = test_image(256, 9), rgb;
    for (size_t i = 0; i < rgba.size(); i++)
        if (i % 4 != 3)
            rgb.push_back(rgba[i]);
    QoiDesc d{};
    Bytes rgb_file = encode(rgb, {16, 16, 3, 0});
    EXPECT_EQ(decode(rgb_file, &d, 0), rgb);
    EXPECT_EQ(d.channels, 3);
    EXPECT_EQ(decode(rgb_file, &d, 4)[1023], 255);   // opaque when widened
}

TEST(Qoi, RefusesBadDescriptions)
{
    uint8_t px[16] = {};
    size_t n = 0;
    for (QoiDesc d : {QoiDesc{0, 4, 4, 1}, {4, 0, 4, 1}, {1, 1, 2, 1}, {1, 1, 4, 2}, {20001, 20000, 4, 1}})
        EXPECT_EQ(qoi_encode(px, &d, &n), nullptr);
}

TEST(Qoi, HostileInput)
{
    Bytes file = encode(test_image(400, 3), {20, 20, 4, 1});
    QoiDesc d{};
    for (size_t len = 0; len < file.size(); len++)   // every truncation fails cleanly
        EXPECT_TRUE(decode(Bytes(file.begin(), file.begin() + (long)len), &d, 4).empty()) << len;
    EXPECT_TRUE(decode(file, &d, 5).empty());

    // Beyond the pixel limit, a product that overflows 32 bits, and a size
    // the chunks cannot possibly cover (refused before allocating).
    for (uint32_t side : {0xFFFFFFFFu, 0x10000u, 20000u}) {
        Bytes f = file;
        for (int i = 0; i < 4; i++)
            f[4 + i] = f[8 + i] = (uint8_t)(side >> (24 - 8 * i));
        EXPECT_TRUE(decode(f, &d, 4).empty()) << side;
    }
    file[0] = 'x';
    EXPECT_TRUE(decode(file, &d, 4).empty());
}

}  // namespace
