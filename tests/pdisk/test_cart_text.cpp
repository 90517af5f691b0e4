// Text cartridges: the exact written form, round trips of files that text
// lines would change, the version 1 reader and damaged input.
#include <random>

#include "test_cart_fixture.h"

namespace {

using PdiskCartText = CartTest;

std::string write_text(const char *folder)
{
    auto b = buffer_with("");
    EXPECT_GT(write_k64_from_ram_files(b.get(), folder, 0), 0);
    return bytes_of(b.get());
}

int read_text(const char *folder, const std::string &cart, std::string *printed = nullptr)
{
    auto b = buffer_with(cart);
    return quietly([&] { return populate_ram_folder_from_k64_buffer(folder, b.get(), "t.k64"); }, printed);
}

TEST_F(PdiskCartText, ExactOutputForASmallFolder)
{
    fill({{"main.lua", "print(1)"},
          {"gfx", "<dir>"},
          {"gfx/0.gfx", std::string("\0\1\2", 3)},
          {"gfx/ff.bin", "\xff\xff"},
          {"gfx/z.bin", std::string(57, '\0')},
          {"e.txt", ""},
          {"u.lua", "caf\xc3"},
          {".info.kod", "{title=\"t\"}"}});
    EXPECT_EQ(write_text("/ram/src"),
              "kestrane cartridge // https://www.kestrane.net\n"
              "version 2\n"
              "\n"
              ":: gfx/\n"
              ":: main.lua\nprint(1)\n"
              ":: .info.kod\n{title=\"t\"}\n"
              ":: e.txt\nb64$\n"
              ":: gfx/0.gfx\nb64$AAEC\n"
              ":: gfx/ff.bin\nb64$--8=\n"
              ":: gfx/z.bin\nb64$" + std::string(72, 'A') + "\nAAAA\n"
              ":: u.lua\nb64$Y2Fmww==\n"
              ":: [eoc]\n");
}

TEST_F(PdiskCartText, RoundTripKeepsEveryFileExactly)
{
    std::mt19937 rng(7);
    std::string noise(1000, '\0');
    for (char &c : noise)
        c = (char)rng();
    std::map<std::string, std::string> files = {
        {"main.lua", "no newline at the end"}, {"two.lua", "ends\n\n"}, {"nl.lua", "\n"},
        {"empty.lua", ""}, {"crlf.txt", "a\r\nb\r\n"}, {"entry.lua", ":: [eoc]\n"},
        {"inner.lua", "a\n:: b\n"}, {"lib", "<dir>"}, {"lib/deep", "<dir>"},
        {"lib/deep/noise.bin", noise}, {"lib/deep/x.k64", "not mounted while unpacking"},
        {"long.txt", std::string(5000, 'q')}};
    fill(files);
    std::string cart = write_text("/ram/src");
    ASSERT_EQ(read_text("/ram/dst", cart), CART_READ_WHOLE);
    EXPECT_EQ(files_below("/ram/dst"), files);
}

TEST_F(PdiskCartText, ReaderTakesHexCrlfAndSkipsBadNames)
{
    std::string b64_long = "b64$" + std::string(1100, 'A');
    std::string cart =
        "anything\r\nversion 2\r\n\r\n"
        ":: a.lua\r\nline one\r\nline two\r\n"
        ":: h.bin\nhex$00ff\n10\n"
        ":: ../up.lua\nsecret\n"
        ":: /abs.lua\nx\n"
        ":: big.bin\n" + b64_long + "\nAAEC\n"
        ":: [eoc]\ntrailing text is ignored\n";
    std::string printed;
    EXPECT_EQ(read_text("/ram/dst", cart, &printed), CART_READ_DAMAGED);
    std::map<std::string, std::string> want = {
        {"a.lua", "line one\nline two"}, {"h.bin", std::string("\0\xff\x10", 3)}, {"big.bin", std::string("\0\1\2", 3)}};
    EXPECT_EQ(files_below("/ram/dst"), want);
    EXPECT_NE(printed.find("../up.lua"), std::string::npos);
    for (const auto &[rel, bytes] : files_below("/ram"))
        EXPECT_EQ(rel.rfind("dst", 0), 0u) << rel << " lies outside the folder";
}

TEST_F(PdiskCartText, LegacyVersion1)
{
    std::string cart =
        "old header\nversion 1\n"
        "## a comment [00]\n"
        "/main.lua 5:0 [7072696e74]\n"
        "gfx 0:1\n"
        "gfx/a.bin 2:0 [00FF]\n"
        "x\n"
        "b.lua 3:0 no brackets here\n";
    std::string printed;
    EXPECT_EQ(read_text("/ram/old", cart, &printed), CART_READ_DAMAGED);
    std::map<std::string, std::string> want = {
        {"main.lua", "print"}, {"gfx", "<dir>"}, {"gfx/a.bin", std::string("\0\xff", 2)}};
    EXPECT_EQ(files_below("/ram/old"), want);
    EXPECT_NE(printed.find("could not read legacy k64; file contents missing"), std::string::npos);
    EXPECT_NE(printed.find("attribs: 0 new_path: /ram/old/b.lua"), std::string::npos);

    EXPECT_EQ(read_text("/ram/old2", "h\nversion 1\nmain.lua 1:0 [41]\n"), CART_READ_WHOLE);
    EXPECT_EQ(files_below("/ram/old2"), (std::map<std::string, std::string>{{"main.lua", "A"}}));
}

TEST_F(PdiskCartText, TruncatedOrUnknownInputIsDamagedButKeepsWhatWasRead)
{
    std::string printed;
    EXPECT_EQ(read_text("/ram/v3", "h\nversion 3\n\n:: a.lua\nx\n:: [eoc]\n", &printed), CART_READ_DAMAGED);
    EXPECT_TRUE(files_below("/ram/v3").empty());
    EXPECT_EQ(read_text("/ram/none", ""), CART_READ_WHOLE) << "an empty file is a new cartridge";

    fill({{"a.lua", "first"}, {"b.bin", std::string(200, '\x01')}, {"c.lua", "third"}});
    std::string cart = write_text("/ram/src");
    // Text files come first, then b.bin.
    EXPECT_EQ(read_text("/ram/cut", cart.substr(0, cart.find(":: b.bin")), &printed), CART_READ_DAMAGED);
    EXPECT_NE(printed.find("** warning: no [eoc] found while mounting t.k64"), std::string::npos);
    EXPECT_EQ(files_below("/ram/cut"), (std::map<std::string, std::string>{{"a.lua", "first"}, {"c.lua", "third"}}));
    EXPECT_EQ(read_text("/ram/cut2", cart.substr(0, cart.find(":: [eoc]"))), CART_READ_DAMAGED);
    EXPECT_EQ(files_below("/ram/cut2").at("b.bin"), std::string(200, '\x01'));

    // Every shorter prefix reads without harm and says so; the whole cart,
    // with or without its last newline, reads whole.
    for (size_t n = 0; n <= cart.size(); n++) {
        std::string folder = "/ram/p" + std::to_string(n);
        int r = read_text(folder.c_str(), cart.substr(0, n));
        EXPECT_EQ(r, n == 0 || n + 1 >= cart.size() ? CART_READ_WHOLE : CART_READ_DAMAGED) << n;
    }
}

}  // namespace
