// QOI images: a 14-byte header ("qoif", width and height as big-endian
// uint32, channels, colour space), a stream of chunks, and an end marker of
// seven 0 bytes and a 1.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint64_t QOI_MAX_PIXELS = 400000000;
constexpr size_t QOI_HEADER_SIZE = 14;
constexpr size_t QOI_END_SIZE = 8;

struct QoiDesc {
    uint32_t width;
    uint32_t height;
    uint8_t channels;     // 3 (RGB) or 4 (RGBA)
    uint8_t colorspace;   // 0 sRGB with linear alpha, 1 all linear
};

// Encodes width x height pixels of desc->channels bytes each. Returns a
// block from malloc (release with free) and its length, or null for a bad
// description (zero or too many pixels, channels not 3 or 4, colour space
// above 1).
uint8_t *qoi_encode(const void *pixels, const QoiDesc *desc, size_t *out_length);

// Decodes length bytes to pixels of `channels` bytes (3 or 4; 0 means the
// file's own count), filling *desc from the header. Returns a block from
// malloc (release with free), or null when the header is bad, the image is
// larger than QOI_MAX_PIXELS, or the chunks end before the last pixel.
uint8_t *qoi_decode(const void *bytes, size_t length, QoiDesc *desc, int channels);
