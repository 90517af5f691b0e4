#include "pdisk/k64rom.h"

#include "formats/buffer.h"
#include "kernel/datfile.h"

#include <gtest/gtest.h>

#include "rom_image.h"
#include <lz4.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using BufferPtr = std::unique_ptr<Buffer, BufferDeleter>;

bool same(const std::vector<RomEntry> &a, const std::vector<RomEntry> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i].name != b[i].name || a[i].folder != b[i].folder || a[i].data != b[i].data)
            return false;
    return true;
}

BufferPtr buffer_of(const std::string &bytes)
{
    BufferPtr b(create_buffer_2((int32_t)bytes.size(), 100));
    bwrite(bytes.data(), 1, (int)bytes.size(), b.get());
    b->pos = 0;
    return b;
}


std::string stream_of_image(const Buffer *image)
{
    std::string out(1 << 20, '\0');
    int n = LZ4_decompress_safe((const char *)image->data + 8, out.data(), image->len - 8, (int)out.size());
    return out.substr(0, (size_t)std::max(n, 0));
}

int read_quietly(Buffer *b, std::vector<RomEntry> &out, std::string *printed = nullptr)
{
    testing::internal::CaptureStdout();
    int n = k64rom_read(b, out);
    std::string text = testing::internal::GetCapturedStdout();
    if (printed)
        *printed = text;
    return n;
}

std::vector<RomEntry> sample()
{
    std::string binary;
    for (int i = 0; i < 3000; i++)
        binary += (char)(i * 31);
    return {{"gfx", true, ""},
            {"gfx/0.gfx", false, binary},
            {"gfx/empty", false, ""},
            {"main.lua", false, "print(\"hi\")\n"}};
}

TEST(K64Rom, RoundTrip)
{
    BufferPtr b(create_buffer_from_str("prefix"));
    int n = k64rom_write(b.get(), sample());
    ASSERT_GT(n, 8);
    EXPECT_EQ(b->len, 6 + n);
    EXPECT_EQ(memcmp(b->data + 6, "k64\x02", 4), 0);
    b->pos = 10;
    EXPECT_EQ((int)bread_uint32(b.get()), n - 8);

    // Reading starts at the cursor and leaves it past the image.
    b->pos = 6;
    std::vector<RomEntry> got;
    ASSERT_EQ(read_quietly(b.get(), got), 4);
    EXPECT_TRUE(same(got, sample()));
    EXPECT_EQ(b->pos, b->len);

    std::string data;
    EXPECT_TRUE(k64rom_find(got, "main.lua", &data));
    EXPECT_EQ(data, "print(\"hi\")\n");
    EXPECT_TRUE(k64rom_find(got, "gfx", nullptr));
    EXPECT_FALSE(k64rom_find(got, "gfx/1.gfx", &data));
}

TEST(K64Rom, LengthForms)
{
    BufferPtr b(create_buffer_2(0, 100));
    std::vector<RomEntry> in = {{"a", false, std::string(254, 'x')}, {"b", false, std::string(255, 'y')}};
    ASSERT_GT(k64rom_write(b.get(), in), 0);
    std::string s = stream_of_image(b.get());
    ASSERT_EQ(s.size(), 2 + 1 + 254 + 2 + 5 + 255);
    EXPECT_EQ((uint8_t)s[2], 254);
    EXPECT_EQ(s.substr(257, 7), std::string("b\0\xff\xff\0\0\0", 7));

    std::vector<RomEntry> got;
    b->pos = 0;
    ASSERT_EQ(read_quietly(b.get(), got), 2);
    EXPECT_TRUE(same(got, in));
}

TEST(K64Rom, BadNamesStopTheReaderKeepingEarlierEntries)
{
    std::string printed;
    std::vector<RomEntry> got;
    BufferPtr dots = buffer_of(image_of_stream("ok\0\x02hi"s + "x/../y\0\x01z"s + "w\0\0"s));
    EXPECT_EQ(read_quietly(dots.get(), got, &printed), 1);
    EXPECT_EQ(printed, "** bad file description while mounting .k64.rom: x/../y\n");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, "hi");

    got.clear();
    std::string name400(399, 'n');
    std::string long_names = name400 + "/" + std::string(1, '\0') + std::string(401, 'm') + std::string(1, '\0');
    BufferPtr lengthy = buffer_of(image_of_stream(long_names));
    EXPECT_EQ(read_quietly(lengthy.get(), got, &printed), 1);
    EXPECT_EQ(printed, "  *** k64.rom filename parsing failed\n");
    EXPECT_TRUE(got[0].folder);

    got.clear();
    BufferPtr empty_name = buffer_of(image_of_stream(std::string("\0\0", 2)));
    EXPECT_EQ(read_quietly(empty_name.get(), got, &printed), 0);
    EXPECT_EQ(printed, "  *** k64.rom filename parsing failed\n");
}

TEST(K64Rom, LengthsClampedAndEntriesCapped)
{
    std::vector<RomEntry> got;
    BufferPtr b = buffer_of(image_of_stream(std::string("f\0\xff\x00\x10\0\0abc", 10)));
    EXPECT_EQ(read_quietly(b.get(), got), 1);
    EXPECT_EQ(got[0].data, "abc");

    got.clear();
    std::string many;
    for (int i = 0; i < K64ROM_MAX_ENTRIES + 5; i++)
        many += std::string("d/", 3);
    BufferPtr capped = buffer_of(image_of_stream(many));
    EXPECT_EQ(read_quietly(capped.get(), got), K64ROM_MAX_ENTRIES);
}

TEST(K64Rom, NotAnImage)
{
    BufferPtr b = buffer_of("print('legacy code')");
    std::vector<RomEntry> got;
    EXPECT_EQ(read_quietly(b.get(), got), -1);
    EXPECT_EQ(b->pos, 0);
    BufferPtr shorter = buffer_of("k6");
    EXPECT_EQ(read_quietly(shorter.get(), got), -1);

    std::string printed;
    BufferPtr bad_block = buffer_of(std::string("k64\x02\x04\0\0\0\xff\xff\xff\xff", 12));
    EXPECT_EQ(read_quietly(bad_block.get(), got, &printed), 0);
    EXPECT_EQ(printed, "  *** k64.rom decompression failed: \n");
    EXPECT_TRUE(got.empty());
}

TEST(K64Rom, TruncatedAndCorruptedInputsAreContained)
{
    BufferPtr full(create_buffer_2(0, 100));
    ASSERT_GT(k64rom_write(full.get(), sample()), 0);
    std::string image((const char *)full->data, (size_t)full->len);

    // The whole image stays in storage past len: a reader that ignored len
    // would still find every entry.
    for (int32_t cut = 0; cut < full->len; cut++) {
        full->len = cut;
        full->pos = 0;
        std::vector<RomEntry> got;
        read_quietly(full.get(), got);
        EXPECT_FALSE(same(got, sample())) << "cut at " << cut;
        EXPECT_LE(full->pos, cut);
    }

    for (size_t i = 0; i < image.size(); i++) {
        std::string bad = image;
        bad[i] = (char)(bad[i] ^ 0x5a);
        BufferPtr b = buffer_of(bad);
        std::vector<RomEntry> got;
        int n = read_quietly(b.get(), got);
        EXPECT_LE(n, K64ROM_MAX_ENTRIES);
        EXPECT_LE(b->pos, b->len);
    }
}

TEST(K64Rom, WriterRefusesNamesTheReaderWouldStopAt)
{
    BufferPtr b(create_buffer_from_str("keep"));
    const std::vector<std::vector<RomEntry>> bad = {
        {{"a/../b", false, "x"}},
        {{"", false, "x"}},
        {{std::string(400, 'f'), true, ""}},
        {{"dir/", false, "x"}},
        {{std::string("nul\0name", 8), false, "x"}},
    };
    for (const auto &entries : bad) {
        EXPECT_EQ(k64rom_write(b.get(), entries), -1);
        EXPECT_EQ(b->len, 4);
    }
    EXPECT_GT(k64rom_write(b.get(), {{std::string(399, 'f'), true, ""}, {"dir/", true, ""}}), 0);
    std::vector<RomEntry> many(K64ROM_MAX_ENTRIES + 1, RomEntry{"d", true, ""});
    EXPECT_EQ(k64rom_write(b.get(), many), -1);
}

class K64RomPack : public testing::Test {
protected:
    std::filesystem::path root;
    void SetUp() override
    {
        root = std::filesystem::path(testing::TempDir()) / ("k64rom_pack_"s + testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "gfx" / "sub");
        std::filesystem::create_directories(root / ".git");
        put("main.lua", "-- main\n");
        put("gfx.txt", "t");
        put("gfx/0.gfx", "\0\1\2"s);
        put("gfx/sub/z", "z");
        put(".hidden", "h");
        put(".git/config", "c");
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    void put(const std::string &rel, const std::string &data)
    {
        FILE *f = fopen((root / rel).string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
};

TEST_F(K64RomPack, SortedWithoutHiddenEntries)
{
    std::vector<RomEntry> got;
    ASSERT_EQ(k64rom_pack_folder(root.string().c_str(), got), 6);
    std::vector<RomEntry> expect = {{"gfx", true, ""},
                                    {"gfx.txt", false, "t"},
                                    {"gfx/0.gfx", false, "\0\1\2"s},
                                    {"gfx/sub", true, ""},
                                    {"gfx/sub/z", false, "z"},
                                    {"main.lua", false, "-- main\n"}};
    EXPECT_TRUE(same(got, expect));
}

TEST_F(K64RomPack, SysromBuiltInMemoryBootsTheRom)
{
    std::vector<RomEntry> packed;
    ASSERT_GT(k64rom_pack_folder(root.string().c_str(), packed), 0);
    BufferPtr image(create_buffer_2(0, 100));
    ASSERT_GT(k64rom_write(image.get(), packed), 0);
    BufferPtr dat(create_buffer_2(0, 100));
    datfile_write(dat.get(), {"", std::string((const char *)image->data, (size_t)image->len)});

    ASSERT_EQ(load_kestrane_dat_files_from_memory(dat->data, (size_t)dat->len), 2);
    std::vector<RomEntry> got;
    EXPECT_EQ(read_quietly(get_dat_file(1), got), (int)packed.size());
    EXPECT_TRUE(same(got, packed));
    std::string z;
    EXPECT_TRUE(k64rom_find(got, "gfx/sub/z", &z));
    EXPECT_EQ(z, "z");
    free_dat_files();
}

TEST_F(K64RomPack, RefusesNamesARomCannotCarry)
{
    put("a..b", "x");
    std::vector<RomEntry> got;
    testing::internal::CaptureStderr();
    EXPECT_EQ(k64rom_pack_folder(root.string().c_str(), got), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("a..b"), std::string::npos);
    EXPECT_EQ(k64rom_pack_folder((root / "missing").string().c_str(), got), -1);
}

}  // namespace
