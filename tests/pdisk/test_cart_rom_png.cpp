// ROM and PNG cartridges between RAM folders and images: round trips, the
// bit layout of the picture, labels, and damaged input.
#include <lz4.h>

#include <cstdlib>

#include "formats/png.h"
#include "formats/qoi.h"
#include "rom_image.h"
#include "test_cart_fixture.h"

namespace {

using PdiskCartRom = CartTest;
using PdiskCartPng = CartTest;
using Pixels = std::unique_ptr<uint8_t, decltype(&free)>;

std::string rom_of(const char *folder, int options)
{
    auto b = buffer_with("");
    EXPECT_GT(write_k64_rom_from_ram_files(b.get(), folder, options), 0);
    return bytes_of(b.get());
}

int read_rom(const char *folder, const std::string &image, int keep = 0, std::string *printed = nullptr)
{
    auto b = buffer_with(image);
    return quietly([&] { return populate_ram_folder_from_k64_rom_buffer_ex(folder, b.get(), keep, "t"); }, printed);
}


std::string png_of(const char *folder)
{
    auto b = buffer_with("");
    int n = write_k64_png_from_ram_files(b.get(), folder);
    EXPECT_GT(n, 0);
    return bytes_of(b.get());
}

int read_png(const char *folder, const std::string &png, std::string *printed = nullptr)
{
    auto b = buffer_with(png);
    return quietly([&] { return populate_ram_folder_from_k64_png_buffer(folder, b.get(), "t"); }, printed);
}

Pixels decode(const std::string &png, uint32_t *w, uint32_t *h)
{
    return Pixels(png_decode_rgba(png.data(), png.size(), w, h), free);
}

std::string solid_label_qoi(uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> px((size_t)CART_LABEL_W * CART_LABEL_H * 4);
    for (size_t i = 0; i < px.size(); i += 4)
        px[i] = r, px[i + 1] = g, px[i + 2] = b, px[i + 3] = 255;
    QoiDesc d = {CART_LABEL_W, CART_LABEL_H, 4, 0};
    size_t n = 0;
    Pixels q(qoi_encode(px.data(), &d, &n), free);
    return std::string((const char *)q.get(), n);
}

const uint8_t *pixel(const Pixels &p, int x, int y) { return p.get() + ((size_t)y * CART_PNG_WIDTH + x) * 4; }

TEST_F(PdiskCartRom, RoundTripLabelFilesAndKeep)
{
    std::map<std::string, std::string> files = {
        {"main.lua", "print(1)"}, {"gfx", "<dir>"}, {"gfx/0.gfx", std::string(300, '\7')},
        {"label.png", "p"}, {"label.qoi", "q"}, {"gfx/label.png", "kept: not top level"}};
    fill(files);
    ASSERT_EQ(read_rom("/ram/all", rom_of("/ram/src", 0)), CART_READ_WHOLE);
    EXPECT_EQ(files_below("/ram/all"), files);
    ASSERT_EQ(read_rom("/ram/nolabel", rom_of("/ram/src", CART_ROM_NO_LABEL_FILES)), CART_READ_WHOLE);
    files.erase("label.png");
    files.erase("label.qoi");
    EXPECT_EQ(files_below("/ram/nolabel"), files);

    // keep: files that exist already are left as they are
    ASSERT_EQ(put("/ram/nolabel/main.lua", "old"), 0);
    EXPECT_EQ(read_rom("/ram/nolabel", rom_of("/ram/src", 0), 1), CART_READ_WHOLE);
    EXPECT_EQ(files_below("/ram/nolabel").at("main.lua"), "old");
    EXPECT_EQ(files_below("/ram/nolabel").at("label.qoi"), "q");
}

TEST_F(PdiskCartRom, LegacyPlainCode)
{
    EXPECT_EQ(read_rom("/ram/l1", "print(2)"), CART_READ_WHOLE);
    EXPECT_EQ(files_below("/ram/l1"), (std::map<std::string, std::string>{{"main.lua", "print(2)"}}));
    EXPECT_EQ(read_rom("/ram/l2", std::string("code\0\0", 6)), CART_READ_WHOLE);
    EXPECT_EQ(read_rom("/ram/l3", std::string("code\0more", 9)), CART_READ_DAMAGED)
        << "bytes after the code would be lost by a write-back";
    EXPECT_EQ(files_below("/ram/l3").at("main.lua"), "code");
    EXPECT_EQ(read_rom("/ram/l4", std::string("\0kxa....", 8)), CART_READ_DAMAGED);
}

TEST_F(PdiskCartRom, BadStreamsStopAndKeepWhatCameBefore)
{
    std::string printed;
    std::string stream = std::string("a.lua\0\3abc", 10) + std::string("x/../y\0\1z", 9) + std::string("c.lua\0\1c", 8);
    EXPECT_EQ(read_rom("/ram/dots", image_of_stream(stream), 0, &printed), CART_READ_DAMAGED);
    EXPECT_EQ(files_below("/ram/dots"), (std::map<std::string, std::string>{{"a.lua", "abc"}}));
    EXPECT_NE(printed.find("** bad file description while mounting .k64.rom: x/../y"), std::string::npos);

    fill({{"a.lua", std::string(400, 'a')}, {"b.lua", "b"}});
    std::string image = rom_of("/ram/src", 0);
    for (size_t n = 1; n < image.size(); n++)
        EXPECT_EQ(read_rom(("/ram/t" + std::to_string(n)).c_str(), image.substr(0, n)), CART_READ_DAMAGED) << n;
}

TEST_F(PdiskCartPng, BitLayout)
{
    std::vector<uint8_t> pic(CART_PNG_WIDTH * CART_PNG_HEIGHT * 4, 0xff);
    uint8_t one = 0xff;
    cart_png_embed(pic.data(), &one, 1);
    // R and G carry bits 0-2 and 3-5; B bits 6-7 and a 0; A and on are 0.
    EXPECT_EQ(pic[0], 0xff);
    EXPECT_EQ(pic[1], 0xff);
    EXPECT_EQ(pic[2], 0xfb);
    EXPECT_EQ(pic[3], 0xfc);
    EXPECT_EQ(pic[4], 0xf8);

    // The last byte the picture holds lands in its last pixel.
    std::vector<uint8_t> full(CART_PNG_CAPACITY, 0), out(CART_PNG_CAPACITY);
    full.back() = 0xa5;
    cart_png_embed(pic.data(), full.data(), full.size());
    cart_png_extract(pic.data(), out.data());
    EXPECT_EQ(out, full);
    EXPECT_EQ(pic[pic.size() - 1] & 3, 0xa5 >> 6);
}

TEST_F(PdiskCartPng, PictureCarriesTheRomImageUnderTheLabel)
{
    fill({{"main.lua", "print(3)"}, {"label.qoi", solid_label_qoi(0x40, 0x80, 0xc0)}});
    std::string png = png_of("/ram/src");
    uint32_t w = 0, h = 0;
    Pixels pic = decode(png, &w, &h);
    ASSERT_TRUE(pic);
    ASSERT_EQ(w, 512u);
    ASSERT_EQ(h, 384u);
    std::vector<uint8_t> payload(CART_PNG_CAPACITY);
    cart_png_extract(pic.get(), payload.data());
    std::string rom = rom_of("/ram/src", CART_ROM_NO_LABEL_FILES);
    EXPECT_EQ(std::string((const char *)payload.data(), rom.size()), rom);
    const uint8_t *in = pixel(pic, CART_LABEL_X + 100, CART_LABEL_Y + 100);
    EXPECT_EQ(in[0] & 0xf8, 0x40);
    EXPECT_EQ(in[1] & 0xf8, 0x80);
    EXPECT_EQ(in[2] & 0xf8, 0xc0);
    EXPECT_EQ(in[3] & 0xfc, 0xfc);
    EXPECT_EQ(pixel(pic, 5, 5)[0] & 0xf8, 0) << "no template: a blank picture";

    // A template of the right size is the background; label.png wins over
    // label.qoi but only at 480x270.
    std::vector<uint8_t> grey(512 * 384 * 4, 0x60);
    size_t n = 0;
    Pixels t(png_encode_rgba(grey.data(), 512, 384, &n), free);
    std::filesystem::create_directories(drive + "/system/misc");
    write_text_file(drive + "/system/misc/k64_cart.png", std::string((const char *)t.get(), n));
    ASSERT_EQ(put("/ram/src/label.png", "not a picture"), 0);
    Pixels pic2 = decode(png_of("/ram/src"), &w, &h);
    EXPECT_EQ(pixel(pic2, 5, 5)[0] & 0xf8, 0x60);
    EXPECT_EQ(pixel(pic2, CART_LABEL_X + 100, CART_LABEL_Y + 100)[0] & 0xf8, 0x60);
}

TEST_F(PdiskCartPng, RoundTripRestoresTheLabel)
{
    std::map<std::string, std::string> files = {{"main.lua", "print(4)"}, {"d", "<dir>"}, {"d/x.bin", "\1\2"}};
    fill(files);
    ASSERT_EQ(read_png("/ram/a", png_of("/ram/src")), CART_READ_WHOLE);
    EXPECT_EQ(files_below("/ram/a"), files) << "no label shown, none made up";

    ASSERT_EQ(put("/ram/src/label.qoi", solid_label_qoi(0xff, 0x10, 0x08)), 0);
    std::string png = png_of("/ram/src");
    ASSERT_EQ(read_png("/ram/b", png), CART_READ_WHOLE);
    auto got = files_below("/ram/b");
    ASSERT_EQ(got.count("label.png"), 1u);
    uint32_t w = 0, h = 0;
    Pixels label(png_decode_rgba(got["label.png"].data(), got["label.png"].size(), &w, &h), free);
    ASSERT_TRUE(label && w == 480 && h == 270);
    EXPECT_EQ(std::vector<uint8_t>(label.get(), label.get() + 4), (std::vector<uint8_t>{0xff, 0x10, 0x08, 0xff}));
    got.erase("label.png");
    EXPECT_EQ(got, files);
    EXPECT_EQ(png_of("/ram/b"), png) << "writing the read cartridge gives the same picture";
}

TEST_F(PdiskCartPng, LabelText)
{
    int len = 0;
    const char *info = "--[[kod]]\n{x=1,title=\"My \\\"Game\\\"\",version=\"1.2\",author=\"me\"}";
    const char *title = extract_info_str(info, ",title=\"", &len);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(std::string(title, (size_t)len), "My \\\"Game\\\"");
    EXPECT_EQ(extract_info_str("{,title=\"\"}", ",title=\"", &len), nullptr);
    EXPECT_EQ(extract_info_str("{,title=\"open", ",title=\"", &len), nullptr);
    EXPECT_EQ(extract_info_str("{title=\"x\"}", ",title=\"", &len), nullptr);

    static std::vector<std::string> printed;
    printed.clear();
    cart_label_text_printer = [](CartLabelCanvas *c, const char *text, int x, int y) {
        printed.push_back(std::string(text) + "@" + std::to_string(x) + "," + std::to_string(y));
        c->bits[y][0] = 1;
    };
    fill({{".info.kod", info}});
    std::string png = png_of("/ram/src");
    cart_label_text_printer = nullptr;
    EXPECT_EQ(printed, (std::vector<std::string>{"My \\\"Game\\\"@0,2", "1.2 by me@0,12"}));
    uint32_t w = 0, h = 0;
    Pixels pic = decode(png, &w, &h);
    // Row 2 of the canvas at twice the size, row 12 at normal size.
    EXPECT_EQ(pixel(pic, 81, 330)[0] & 0xf8, 0xd0);
    EXPECT_EQ(pixel(pic, 81, 331)[0] & 0xf8, 0x80);
    EXPECT_EQ(pixel(pic, 80, 356)[1] & 0xf8, 0x90);
    EXPECT_EQ(pixel(pic, 82, 330)[0] & 0xf8, 0) << "other pixels are untouched";
}

TEST_F(PdiskCartPng, DamagedPictures)
{
    EXPECT_EQ(read_png("/ram/e", ""), CART_READ_WHOLE);
    EXPECT_EQ(read_png("/ram/j", "junk that is not a picture"), CART_READ_DAMAGED);
    std::vector<uint8_t> small(16 * 16 * 4, 0);
    size_t n = 0;
    Pixels s(png_encode_rgba(small.data(), 16, 16, &n), free);
    EXPECT_EQ(read_png("/ram/s", std::string((const char *)s.get(), n)), CART_READ_DAMAGED);
    std::vector<uint8_t> blank(512 * 384 * 4, 0);
    Pixels bl(png_encode_rgba(blank.data(), 512, 384, &n), free);
    EXPECT_EQ(read_png("/ram/b", std::string((const char *)bl.get(), n)), CART_READ_DAMAGED) << "no k64 inside";

    fill({{"a.bin", std::string(2000, '\x55')}});
    std::string png = png_of("/ram/src");
    // Cut anywhere before the end marker (the last 12 bytes, not needed).
    for (size_t cut = 8; cut < png.size() - 12; cut += png.size() / 23) {
        std::string folder = "/ram/cut" + std::to_string(cut);
        EXPECT_EQ(read_png(folder.c_str(), png.substr(0, cut)), CART_READ_DAMAGED) << cut;
    }
    std::string flipped = png;
    flipped[png.size() / 2] ^= 0x20;
    EXPECT_EQ(read_png("/ram/flip", flipped), CART_READ_DAMAGED);
}

}  // namespace
