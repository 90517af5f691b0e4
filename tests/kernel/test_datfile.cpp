#include "kernel/datfile.h"

#include "formats/buffer.h"
#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int32_t dat_tag = 'i';

std::string be32(uint32_t n)
{
    return std::string{(char)(n >> 24), (char)(n >> 16), (char)(n >> 8), (char)n};
}

int load(const std::string &bytes)
{
    return load_kestrane_dat_files_from_memory((const uint8_t *)bytes.data(), bytes.size());
}

std::string record(int i)
{
    Buffer *b = get_dat_file(i);
    return b ? std::string((const char *)b->data, (size_t)b->len) : std::string("<none>");
}

class DatFile : public testing::Test {
protected:
    void TearDown() override { free_dat_files(); }
};

TEST_F(DatFile, WrittenRecordsReadBack)
{
    std::string rom("\x00k64 rom\xff", 9);
    Buffer *out = create_buffer_2(0, 7);
    datfile_write(out, {"", rom, "cart", be32(1)});
    std::string bytes((const char *)out->data, (size_t)out->len);
    destroy_buffer(out);
    ASSERT_EQ(bytes.substr(0, 8), be32(0) + be32(9));

    ASSERT_EQ(load(bytes), 4);
    EXPECT_EQ(get_dat_file_count(), 4);
    EXPECT_EQ(record(0), "");
    EXPECT_EQ(record(1), rom);
    EXPECT_EQ(record(2), "cart");
    EXPECT_EQ(get_dat_file(1)->size, 9 + 9);   // capacity n + 8
    EXPECT_EQ(get_dat_file(1)->tag, dat_tag);

    // Every lookup hands the record back rewound.
    Buffer *flags = get_dat_file(3);
    EXPECT_EQ(bread_uint32_big_endian(flags), 1u);
    EXPECT_EQ(get_dat_file(3)->pos, 0);
    EXPECT_EQ(get_dat_file(4), nullptr);
    EXPECT_EQ(get_dat_file(-1), nullptr);
}

TEST_F(DatFile, TruncatedRecordStaysEmpty)
{
    std::string bytes = be32(3) + "abc" + be32(10) + "short";
    ASSERT_EQ(load(bytes), 2);
    EXPECT_EQ(record(0), "abc");
    EXPECT_EQ(record(1), "");

    // Fewer than 4 bytes after a record end the reading quietly.
    ASSERT_EQ(load(be32(1) + "x" + std::string("\0\0\1", 3)), 1);
    EXPECT_EQ(load(std::string("\0\0", 2)), 0);
    EXPECT_EQ(load_kestrane_dat_files_from_memory(nullptr, 100), 0);
}

TEST_F(DatFile, OversizedLengthEndsReading)
{
    std::string after = be32(1) + "z";
    ASSERT_EQ(load(be32(2) + "ok" + be32(0x80000000u) + after), 1);
    EXPECT_EQ(record(0), "ok");

    ASSERT_EQ(load(be32(2) + "ok" + be32(MAX_DAT_RECORD_LEN + 1) + after), 1);
    // The largest allowed length is read (here cut short, so it stays empty).
    ASSERT_EQ(load(be32(2) + "ok" + be32(MAX_DAT_RECORD_LEN) + after), 2);
    EXPECT_EQ(record(1), "");
}

TEST_F(DatFile, KeepsAtMost64Records)
{
    std::string bytes;
    for (int i = 0; i < 70; i++)
        bytes += be32(1) + std::string(1, (char)('0' + i));
    ASSERT_EQ(load(bytes), MAX_DAT_FILES);
    EXPECT_EQ(record(63), std::string(1, (char)('0' + 63)));
    EXPECT_EQ(get_dat_file(64), nullptr);
}

TEST_F(DatFile, ReloadAndFreeReleaseEveryBuffer)
{
    int32_t before = get_num_buffers_by_tag(dat_tag);
    load(be32(1) + "a" + be32(1) + "b");
    load(be32(1) + "c");
    EXPECT_EQ(get_num_buffers_by_tag(dat_tag), before + 1);
    EXPECT_EQ(record(0), "c");
    free_dat_files();
    EXPECT_EQ(get_dat_file_count(), 0);
    EXPECT_EQ(get_num_buffers_by_tag(dat_tag), before);
}

TEST_F(DatFile, LoadsFromTheExecutablesFolder)
{
    char saved[sizeof(vemo_argv0)];
    memcpy(saved, vemo_argv0, sizeof(saved));
    std::string dir = testing::TempDir();
    std::string path = dir + "sysrom.dat";
    std::string bytes = be32(0) + be32(3) + "rom";
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);

    snprintf(vemo_argv0, sizeof(vemo_argv0), "%skestrane", dir.c_str());
    EXPECT_EQ(load_kestrane_dat_files(), 2);
    EXPECT_EQ(record(1), "rom");

    // A missing file leaves no records, not the previous ones.
    remove(path.c_str());
    EXPECT_EQ(load_kestrane_dat_files(), 0);
    EXPECT_EQ(get_dat_file_count(), 0);
    memcpy(vemo_argv0, saved, sizeof(saved));
}

}  // namespace
