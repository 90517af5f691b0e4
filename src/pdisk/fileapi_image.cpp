// PNG and QOI pictures for fetch and store.
#include "pdisk/fileapi_image.h"

#include <cstdlib>
#include <cstring>

#include "formats/buffer.h"
#include "formats/png.h"
#include "formats/qoi.h"
#include "memory/ram.h"
#include "process/slice.h"
#include "userdata/userdata.h"

constexpr uint32_t DISPLAY_PALETTE = 0x5000;   // 64 x u32 0x00RRGGBB

int fileapi_nearest_palette_index(const uint32_t palette[64], uint8_t r, uint8_t g, uint8_t b)
{
    int best = 0;
    int64_t best_d = INT64_MAX;
    for (int i = 0; i < 64; i++) {
        int dr = (int)((palette[i] >> 16) & 0xff) - r;
        int dg = (int)((palette[i] >> 8) & 0xff) - g;
        int db = (int)(palette[i] & 0xff) - b;
        int64_t d = (int64_t)db * db + 7 * (int64_t)dg * dg + 2 * (int64_t)dr * dr;
        if (d < best_d) {
            best = i;
            best_d = d;
        }
    }
    return best;
}

static void read_display_palette(uint32_t palette[64])
{
    for (uint32_t i = 0; i < 64; i++)
        palette[i] = peek4(DISPLAY_PALETTE + 4 * i) & 0xffffff;
}

static void fill_indices(Userdata *u, const uint8_t *rgba, int64_t count)
{
    uint32_t palette[64];
    read_display_palette(palette);
    uint8_t *out = ud_data(u);
    // pictures repeat colours in runs: remember the last one looked up
    uint32_t last_rgb = 0xffffffff;
    uint8_t last_index = 0;
    for (int64_t i = 0; i < count; i++) {
        const uint8_t *p = rgba + 4 * i;
        uint32_t rgb = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
        if (rgb != last_rgb) {
            last_rgb = rgb;
            last_index = (uint8_t)fileapi_nearest_palette_index(palette, p[0], p[1], p[2]);
        }
        out[i] = last_index;
    }
}

static void fill_colours(Userdata *u, const uint8_t *rgba, int64_t count)
{
    int32_t *out = (int32_t *)ud_data(u);
    for (int64_t i = 0; i < count; i++) {
        const uint8_t *p = rgba + 4 * i;
        out[i] = (int32_t)((uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2]);
    }
}

int fileapi_push_image(lua_State *L, const void *bytes, size_t n, int qoi, int rgba)
{
    // the userdata that will hold the picture bounds its size
    int64_t max_pixels = UD_MAX_DATA / (rgba ? 4 : 1);
    int w = 0, h = 0;
    uint8_t *pixels = nullptr;
    if (qoi) {
        QoiDesc desc;
        if (n >= QOI_HEADER_SIZE) {
            const uint8_t *b = (const uint8_t *)bytes;
            uint64_t qw = (uint32_t)b[4] << 24 | (uint32_t)b[5] << 16 | (uint32_t)b[6] << 8 | b[7];
            uint64_t qh = (uint32_t)b[8] << 24 | (uint32_t)b[9] << 16 | (uint32_t)b[10] << 8 | b[11];
            if (qw * qh <= (uint64_t)max_pixels)
                pixels = qoi_decode(bytes, n, &desc, 4);
        }
        w = pixels ? (int)desc.width : 0;
        h = pixels ? (int)desc.height : 0;
    } else {
        uint32_t pw = 0, ph = 0;
        pixels = png_decode_rgba(bytes, n, &pw, &ph, (uint64_t)max_pixels);
        w = (int)pw;
        h = (int)ph;
    }
    if (!pixels)
        return 0;
    int64_t count = (int64_t)w * h;
    spend_cpu(count / 2);
    Userdata *u = ud_new(L, rgba ? UD_I32 : UD_U8, 2, w, h);
    if (u) {
        if (rgba)
            fill_colours(u, pixels, count);
        else
            fill_indices(u, pixels, count);
    }
    free(pixels);
    return u ? 1 : 0;
}

uint8_t *fileapi_userdata_rgba(const Userdata *u)
{
    int type = u ? u->type & UD_TYPE_MASK : 0;
    if (!u || u->dims != 2 || (type != UD_U8 && type != UD_I32) || u->width < 1 || u->height < 1)
        return nullptr;
    int64_t count = ud_count(u);
    uint8_t *rgba = (uint8_t *)malloc((size_t)count * 4);
    if (!rgba)
        return nullptr;
    if (type == UD_U8) {
        uint32_t palette[64];
        read_display_palette(palette);
        const uint8_t *in = ud_data(u);
        for (int64_t i = 0; i < count; i++) {
            uint32_t c = palette[in[i] & 63];
            uint8_t *p = rgba + 4 * i;
            p[0] = (uint8_t)(c >> 16);
            p[1] = (uint8_t)(c >> 8);
            p[2] = (uint8_t)c;
            p[3] = 255;
        }
    } else {
        const uint8_t *in = ud_data(u);
        for (int64_t i = 0; i < count; i++) {
            uint32_t c;
            memcpy(&c, in + 4 * i, 4);
            uint8_t *p = rgba + 4 * i;
            p[0] = (uint8_t)(c >> 16);
            p[1] = (uint8_t)(c >> 8);
            p[2] = (uint8_t)c;
            p[3] = (uint8_t)(c >> 24);
        }
    }
    return rgba;
}
