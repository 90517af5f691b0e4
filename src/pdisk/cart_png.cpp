// PNG cartridges (.k64.png): a 512x384 picture (template, label, label text)
// whose low colour bits carry the ROM image of the folder.
#include "pdisk/cart.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "formats/buffer.h"
#include "formats/png.h"
#include "formats/qoi.h"
#include "pdisk/pfile.h"

void (*cart_label_text_printer)(CartLabelCanvas *canvas, const char *text, int x, int y) = nullptr;

constexpr size_t PICTURE_BYTES = (size_t)CART_PNG_WIDTH * CART_PNG_HEIGHT * 4;
constexpr int MAX_VERSION_TEXT = 199;
constexpr int32_t BUFFER_TAG_CART = 101;

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};
using Pixels = std::unique_ptr<uint8_t, FreeDeleter>;

// Bits of the stream each byte of a pixel carries: 3 in R, G, B; 2 in A.
static int carried_bits(size_t byte_index) { return (byte_index & 3) == 3 ? 2 : 3; }

void cart_png_embed(uint8_t *rgba, const uint8_t *bytes, size_t n)
{
    if (n > CART_PNG_CAPACITY)
        n = CART_PNG_CAPACITY;
    uint32_t acc = 0;   // stream bits not yet placed, least significant first
    int nbits = 0;
    size_t next = 0;
    for (size_t i = 0; i < PICTURE_BYTES; i++) {
        int k = carried_bits(i);
        if (nbits < k) {
            acc |= (uint32_t)(next < n ? bytes[next] : 0) << nbits;
            next++;
            nbits += 8;
        }
        uint8_t mask = (uint8_t)((1 << k) - 1);
        rgba[i] = (uint8_t)((rgba[i] & ~mask) | (acc & mask));
        acc >>= k;
        nbits -= k;
    }
}

void cart_png_extract(const uint8_t *rgba, uint8_t *out)
{
    uint32_t acc = 0;
    int nbits = 0;
    size_t o = 0;
    for (size_t i = 0; i < PICTURE_BYTES; i++) {
        int k = carried_bits(i);
        acc |= (uint32_t)(rgba[i] & ((1 << k) - 1)) << nbits;
        nbits += k;
        if (nbits >= 8) {
            out[o++] = (uint8_t)acc;
            acc >>= 8;
            nbits -= 8;
        }
    }
}

const char *extract_info_str(const char *text, const char *pattern, int *out_len)
{
    if (!text || !pattern)
        return nullptr;
    const char *start = strstr(text, pattern);
    if (!start)
        return nullptr;
    start += strlen(pattern);
    for (const char *q = start; *q; q++) {
        if (*q != '"' || q[-1] == '\\')
            continue;
        if (q == start)
            return nullptr;
        if (out_len)
            *out_len = (int)(q - start);
        return start;
    }
    return nullptr;
}

static void put_pixel(uint8_t *rgba, int x, int y, uint32_t colour)
{
    uint8_t *px = rgba + ((size_t)y * CART_PNG_WIDTH + (size_t)x) * 4;
    px[0] = (uint8_t)(colour >> 24);
    px[1] = (uint8_t)(colour >> 16);
    px[2] = (uint8_t)(colour >> 8);
    px[3] = (uint8_t)colour;
}

void cart_draw_label_canvas(uint8_t *rgba, const CartLabelCanvas *canvas)
{
    for (int y = 0; y < CART_LABEL_TEXT_H; y++) {
        for (int x = 0; x < CART_LABEL_TEXT_W; x++) {
            if (!canvas->bits[y][x])
                continue;
            if (y < 10) {   // the title, at twice the size
                int px = 80 + 2 * x, py = 326 + 2 * y;
                put_pixel(rgba, px, py, 0xd0d0d0ff);
                put_pixel(rgba, px + 1, py, 0xd0d0d0ff);
                put_pixel(rgba, px, py + 1, 0x808080ff);
                put_pixel(rgba, px + 1, py + 1, 0x808080ff);
            } else {
                put_pixel(rgba, 80 + x, 354 + y - 10, 0x909090ff);
            }
        }
    }
}

static const pfile *folder_file(const char *folder, const char *rel)
{
    std::string origin = std::string(folder) + "/" + rel;
    const pfile *e = get_ram_file_by_name(origin.c_str());
    return e && !(e->attribs & PFILE_ATTR_FOLDER) ? e : nullptr;
}

// The template picture, or null when it is missing or not 512x384.
static Pixels load_template()
{
    pfile *f = pfopen(CART_PNG_TEMPLATE, "r");
    if (!f)
        return nullptr;
    uint32_t w = 0, h = 0;
    Pixels px(png_decode_rgba(f->contents->data, (size_t)f->contents->len, &w, &h,
                              (uint64_t)CART_PNG_WIDTH * CART_PNG_HEIGHT));
    pfclose(f);
    if (!px || w != (uint32_t)CART_PNG_WIDTH || h != (uint32_t)CART_PNG_HEIGHT)
        return nullptr;
    return px;
}

// label.png when the folder has it (used only at 480x270), else label.qoi.
static Pixels load_label(const char *folder)
{
    const uint64_t label_pixels = (uint64_t)CART_LABEL_W * CART_LABEL_H;
    uint32_t w = 0, h = 0;
    Pixels px;
    if (const pfile *png = folder_file(folder, "label.png")) {
        px.reset(png_decode_rgba(png->contents->data, (size_t)png->contents->len, &w, &h, label_pixels));
    } else if (const pfile *qoi = folder_file(folder, "label.qoi")) {
        QoiDesc desc;
        px.reset(qoi_decode(qoi->contents->data, (size_t)qoi->contents->len, &desc, 4));
        w = px ? desc.width : 0;
        h = px ? desc.height : 0;
    }
    if (w != (uint32_t)CART_LABEL_W || h != (uint32_t)CART_LABEL_H)
        return nullptr;
    return px;
}

static void draw_label(uint8_t *rgba, const uint8_t *label)
{
    for (int y = 0; y < CART_LABEL_H; y++)
        memcpy(rgba + ((size_t)(CART_LABEL_Y + y) * CART_PNG_WIDTH + CART_LABEL_X) * 4,
               label + (size_t)y * CART_LABEL_W * 4, (size_t)CART_LABEL_W * 4);
}

// Title and byline from the top-level .info.kod, through the system font.
static void draw_label_text(uint8_t *rgba, const char *folder)
{
    if (!cart_label_text_printer)
        return;   // no text printing in this build: the label carries no text
    const pfile *info = folder_file(folder, ".info.kod");
    if (!info)
        return;
    std::string text((const char *)info->contents->data, (size_t)info->contents->len);
    int title_len = 0, version_len = 0, author_len = 0;
    const char *title = extract_info_str(text.c_str(), ",title=\"", &title_len);
    const char *version = extract_info_str(text.c_str(), ",version=\"", &version_len);
    const char *author = extract_info_str(text.c_str(), ",author=\"", &author_len);
    if (version && version_len > MAX_VERSION_TEXT)
        version = nullptr;
    std::string byline = version ? std::string(version, (size_t)version_len) : "";
    if (author)
        byline += (byline.empty() ? "by " : " by ") + std::string(author, (size_t)author_len);
    CartLabelCanvas canvas = {};
    if (title)
        cart_label_text_printer(&canvas, std::string(title, (size_t)title_len).c_str(), 0, 2);
    if (!byline.empty())
        cart_label_text_printer(&canvas, byline.c_str(), 0, 12);
    cart_draw_label_canvas(rgba, &canvas);
}

int write_k64_png_from_ram_files(Buffer *b, const char *folder)
{
    if (!b || !folder)
        return -1;
    std::unique_ptr<Buffer, BufferDeleter> rom(create_buffer_2(4096, BUFFER_TAG_CART));
    if (!rom || write_k64_rom_from_ram_files(rom.get(), folder, CART_ROM_NO_LABEL_FILES) < 0)
        return -1;
    if (rom->len > CART_PNG_MAX_ROM)
        return CART_PNG_TOO_LARGE;

    Pixels picture = load_template();
    if (!picture)
        picture.reset((uint8_t *)calloc(PICTURE_BYTES, 1));
    if (!picture)
        return -1;
    if (Pixels label = load_label(folder))
        draw_label(picture.get(), label.get());
    draw_label_text(picture.get(), folder);
    cart_png_embed(picture.get(), rom->data, (size_t)rom->len);

    size_t n = 0;
    Pixels png(png_encode_rgba(picture.get(), CART_PNG_WIDTH, CART_PNG_HEIGHT, &n));
    if (!png || n > (size_t)INT32_MAX - (size_t)b->len)
        return -1;
    b->pos = b->len;
    return bwrite(png.get(), 1, (int)n, b);
}

// The label area of a read picture becomes label.png again (the ROM image
// leaves the label files out), unless it shows only the template. Only the
// top bits of each byte are the label's own; the low bits are filled from
// them, so writing the cartridge again gives the same picture.
static bool restore_label(const char *folder, const uint8_t *picture)
{
    Pixels tmpl = load_template();
    Pixels label((uint8_t *)malloc((size_t)CART_LABEL_W * CART_LABEL_H * 4));
    if (!label)
        return false;
    bool shown = false;
    for (int y = 0; y < CART_LABEL_H; y++) {
        size_t row = ((size_t)(CART_LABEL_Y + y) * CART_PNG_WIDTH + CART_LABEL_X) * 4;
        for (size_t i = 0; i < (size_t)CART_LABEL_W * 4; i++) {
            int k = carried_bits(i);
            uint8_t top = (uint8_t)(picture[row + i] & ~((1 << k) - 1));
            uint8_t under = tmpl ? (uint8_t)(tmpl.get()[row + i] & ~((1 << k) - 1)) : 0;
            shown = shown || top != under;
            label.get()[(size_t)y * CART_LABEL_W * 4 + i] = (uint8_t)(top | top >> (8 - k));
        }
    }
    if (!shown)
        return true;
    size_t n = 0;
    Pixels png(png_encode_rgba(label.get(), CART_LABEL_W, CART_LABEL_H, &n));
    return png && cart_put_file(folder, "label.png", png.get(), n, 1);
}

int populate_ram_folder_from_k64_png_buffer(const char *folder, Buffer *b, const char *where)
{
    int start = cart_read_start(folder, b);
    if (start != CART_READ_MORE)
        return start;
    if (!where)
        where = "";
    uint32_t w = 0, h = 0;
    Pixels picture(png_decode_rgba(b->data + b->pos, (size_t)(b->len - b->pos), &w, &h,
                                   (uint64_t)CART_PNG_WIDTH * CART_PNG_HEIGHT));
    if (!picture || w != (uint32_t)CART_PNG_WIDTH || h != (uint32_t)CART_PNG_HEIGHT) {
        printf("** not a cartridge picture: %s\n", where);
        return CART_READ_DAMAGED;
    }
    b->pos = b->len;
    std::unique_ptr<Buffer, BufferDeleter> rom(create_buffer_2((int32_t)CART_PNG_CAPACITY, BUFFER_TAG_CART));
    if (!rom || ballocate(rom.get(), (int32_t)CART_PNG_CAPACITY) < 0)
        return CART_READ_DAMAGED;
    cart_png_extract(picture.get(), rom->data);
    rom->len = (int32_t)CART_PNG_CAPACITY;
    rom->pos = 0;
    if (memcmp(rom->data, "k64", 3) != 0) {
        printf("** no cartridge in picture: %s\n", where);
        return CART_READ_DAMAGED;
    }
    int result = populate_ram_folder_from_k64_rom_buffer_ex(folder, rom.get(), 0, where);
    if (!restore_label(folder, picture.get()))
        result = CART_READ_DAMAGED;
    return result;
}
