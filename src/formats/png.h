// PNG images as the kernel uses them: any PNG decoded to 8-bit RGBA, and
// 8-bit RGBA encoded to a PNG in memory. Colour values are taken exactly as
// stored (no gamma or colour-profile conversion), so the low bits of every
// channel survive a round trip.
#pragma once
#include <cstddef>
#include <cstdint>

// Images larger than this are refused before any pixel memory is taken.
constexpr uint64_t PNG_MAX_PIXELS = 1u << 26;

// The 8 signature bytes are present.
bool png_has_signature(const void *bytes, size_t length);

// Decodes length bytes to width x height RGBA pixels (4 bytes each, rows from
// the top). Returns a block from malloc (release with free), or null when the
// data is not a PNG, is truncated or corrupt, or has more than max_pixels
// pixels. Palette, grey, 16-bit and interlaced images are converted; images
// without alpha get alpha 255.
uint8_t *png_decode_rgba(const void *bytes, size_t length, uint32_t *width, uint32_t *height,
                         uint64_t max_pixels = PNG_MAX_PIXELS);

// Encodes width x height RGBA pixels as a 32-bit RGBA PNG. Returns a block
// from malloc (release with free) and its length, or null for an empty or too
// large image or when memory runs out.
uint8_t *png_encode_rgba(const void *rgba, uint32_t width, uint32_t height, size_t *out_length);
