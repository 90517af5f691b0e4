// PNG decoding and encoding over libpng's stream interface. libpng reports
// errors by longjmp, so the functions that call it hold only plain C data:
// no object with a destructor may be skipped by the jump.
#include "formats/png.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

struct PngSource {
    const uint8_t *data;
    size_t length;
    size_t pos;
};

struct PngSink {
    uint8_t *data;
    size_t length;
    size_t capacity;
};

// Errors end the call through the jump buffer without printing anything;
// warnings are of no interest to callers.
static void png_on_error(png_structp p, png_const_charp) { png_longjmp(p, 1); }
static void png_on_warning(png_structp, png_const_charp) {}

static void png_read_from_memory(png_structp p, png_bytep out, size_t n)
{
    PngSource *s = (PngSource *)png_get_io_ptr(p);
    if (n > s->length - s->pos)
        png_error(p, "truncated");
    memcpy(out, s->data + s->pos, n);
    s->pos += n;
}

static void png_write_to_memory(png_structp p, png_bytep in, size_t n)
{
    PngSink *s = (PngSink *)png_get_io_ptr(p);
    if (n > s->capacity - s->length) {
        size_t want = s->capacity ? s->capacity * 2 : 65536;
        while (want - s->length < n)
            want *= 2;
        uint8_t *grown = (uint8_t *)realloc(s->data, want);
        if (!grown)
            png_error(p, "out of memory");
        s->data = grown;
        s->capacity = want;
    }
    memcpy(s->data + s->length, in, n);
    s->length += n;
}

static void png_flush_memory(png_structp) {}

bool png_has_signature(const void *bytes, size_t length)
{
    return bytes && length >= 8 && png_sig_cmp((png_const_bytep)bytes, 0, 8) == 0;
}

// Asks libpng for 8-bit RGBA whatever the stored form.
static void png_request_rgba(png_structp p, png_infop info)
{
    png_set_expand(p);   // palette to RGB, small grey to 8 bits, tRNS to alpha
    png_set_scale_16(p);
    png_set_gray_to_rgb(p);
    int type = png_get_color_type(p, info);
    if (!(type & PNG_COLOR_MASK_ALPHA) && !png_get_valid(p, info, PNG_INFO_tRNS))
        png_set_add_alpha(p, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(p);
    png_read_update_info(p, info);
}

uint8_t *png_decode_rgba(const void *bytes, size_t length, uint32_t *width, uint32_t *height,
                         uint64_t max_pixels)
{
    if (!png_has_signature(bytes, length))
        return nullptr;
    PngSource src = {(const uint8_t *)bytes, length, 0};
    png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_on_error, png_on_warning);
    if (!p)
        return nullptr;
    png_infop info = png_create_info_struct(p);
    uint8_t *volatile pixels = nullptr;
    png_bytep *volatile rows = nullptr;
    if (!info || setjmp(png_jmpbuf(p))) {
        free(pixels);
        free(rows);
        png_destroy_read_struct(&p, info ? &info : nullptr, nullptr);
        return nullptr;
    }
    png_set_read_fn(p, &src, png_read_from_memory);
    png_read_info(p, info);
    png_uint_32 w = png_get_image_width(p, info), h = png_get_image_height(p, info);
    if (w == 0 || h == 0 || (uint64_t)w * h > max_pixels)
        png_error(p, "too large");
    png_request_rgba(p, info);
    if (png_get_rowbytes(p, info) != (size_t)w * 4)
        png_error(p, "unexpected row size");

    // Rows that a short image never reaches stay 0.
    pixels = (uint8_t *)calloc((size_t)w * h, 4);
    rows = (png_bytep *)malloc(sizeof(png_bytep) * h);
    if (!pixels || !rows)
        png_error(p, "out of memory");
    for (png_uint_32 y = 0; y < h; y++)
        rows[y] = pixels + (size_t)y * w * 4;
    png_read_image(p, rows);
    // The chunks after the image (and the end marker) are not needed.
    free(rows);
    png_destroy_read_struct(&p, &info, nullptr);
    *width = w;
    *height = h;
    return pixels;
}

uint8_t *png_encode_rgba(const void *rgba, uint32_t width, uint32_t height, size_t *out_length)
{
    if (!rgba || width == 0 || height == 0 || (uint64_t)width * height > PNG_MAX_PIXELS)
        return nullptr;
    PngSink sink = {nullptr, 0, 0};
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_on_error, png_on_warning);
    if (!p)
        return nullptr;
    png_infop info = png_create_info_struct(p);
    if (!info || setjmp(png_jmpbuf(p))) {
        free(sink.data);
        png_destroy_write_struct(&p, info ? &info : nullptr);
        return nullptr;
    }
    png_set_write_fn(p, &sink, png_write_to_memory, png_flush_memory);
    png_set_IHDR(p, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(p, info);
    const uint8_t *row = (const uint8_t *)rgba;
    for (uint32_t y = 0; y < height; y++, row += (size_t)width * 4)
        png_write_row(p, row);
    png_write_end(p, info);
    png_destroy_write_struct(&p, &info);
    *out_length = sink.length;
    return sink.data;
}
