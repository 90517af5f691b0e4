// Cartridges mounted through the filesystem: automount on access, write-back
// after a change, new and nested cartridges, and write-backs that must not
// happen or fail.
#include <random>

#include "test_cart_fixture.h"

namespace {

using PdiskCartMount = CartTest;

const char *const forms[] = {"k64", "k64.rom", "k64.png"};

// The cartridge form of a RAM folder, for the kind of the file name.
std::string pack(const std::string &name, const char *folder)
{
    auto b = buffer_with("");
    int kind = k64_path_kind(name.c_str());
    int n = kind == K64_KIND_TEXT  ? write_k64_from_ram_files(b.get(), folder, 0)
            : kind == K64_KIND_ROM ? write_k64_rom_from_ram_files(b.get(), folder, 0)
                                   : write_k64_png_from_ram_files(b.get(), folder);
    EXPECT_GT(n, 0) << name;
    return bytes_of(b.get());
}

// The files of a cartridge held in bytes.
std::map<std::string, std::string> unpack(const std::string &name, const std::string &bytes)
{
    static int n;
    std::string folder = "/ram/check" + std::to_string(++n);
    auto b = buffer_with(bytes);
    int kind = k64_path_kind(name.c_str());
    int r = quietly([&] {
        return kind == K64_KIND_TEXT  ? populate_ram_folder_from_k64_buffer(folder.c_str(), b.get())
               : kind == K64_KIND_ROM ? populate_ram_folder_from_k64_rom_buffer(folder.c_str(), b.get())
                                      : populate_ram_folder_from_k64_png_buffer(folder.c_str(), b.get());
    });
    EXPECT_EQ(r, CART_READ_WHOLE) << name;
    return CartTest::files_below(folder);
}

TEST_F(PdiskCartMount, AutomountOnAccessAndWriteBackForEveryForm)
{
    std::map<std::string, std::string> files = {{"main.lua", "print(1)"}, {"gfx", "<dir>"}, {"gfx/0.gfx", std::string("\0\1", 2)}};
    fill(files);
    for (const char *ext : forms) {
        std::string name = std::string("g.") + ext, path = "/" + name;
        write_text_file(drive + "/" + name, pack(name, "/ram/src"));
        EXPECT_EQ(get((path + "/main.lua").c_str()), "print(1)") << name;
        Mount *m = get_mount_by_mount_point(path.c_str(), MOUNT_RAM);
        ASSERT_TRUE(m) << name;
        EXPECT_EQ(m->origin.rfind("/ram/mount/m", 0), 0u);
        EXPECT_FALSE(m->dirty) << "reading changes nothing";

        ASSERT_EQ(put((path + "/gfx/new.lua").c_str(), "added"), 0);
        EXPECT_TRUE(m->dirty);
        EXPECT_EQ(flush_dirty_mounts_ex(0), 1);
        EXPECT_FALSE(m->dirty);
        auto want = files;
        want["gfx/new.lua"] = "added";
        EXPECT_EQ(unpack(name, read_text_file(drive + "/" + name)), want) << name;
    }
}

TEST_F(PdiskCartMount, NewCartridgeFileIsMadeByTheFirstFlush)
{
    ASSERT_TRUE(cart_mount_k64_path("/new.k64"));
    EXPECT_EQ(cart_mount_k64_path("/new.k64"), get_mount_by_mount_point("/new.k64", 0)) << "mounted once";
    EXPECT_TRUE(pdisk_directory_exists("/new.k64", 1));
    EXPECT_FALSE(std::filesystem::exists(drive + "/new.k64"));
    ASSERT_EQ(put("/new.k64/a.lua", "a"), 0);
    flush_dirty_mounts_immediately();
    EXPECT_EQ(unpack("new.k64", read_text_file(drive + "/new.k64")), (std::map<std::string, std::string>{{"a.lua", "a"}}));

    // A cartridge emptied of all its files reads back whole, so it can be
    // written again.
    ram_folder("/ram/empty");
    for (const char *ext : forms) {
        std::string name = std::string("e.") + ext;
        EXPECT_TRUE(unpack(name, pack(name, "/ram/empty")).empty()) << name;
    }
}

TEST_F(PdiskCartMount, NestedCartridgesAreWrittenInnerFirst)
{
    ASSERT_TRUE(cart_mount_k64_path("/outer.k64"));
    ASSERT_TRUE(cart_mount_k64_path("/outer.k64/inner.k64.rom"));
    ASSERT_EQ(put("/outer.k64/inner.k64.rom/a.lua", "deep"), 0);
    flush_dirty_mounts_immediately();
    auto outer = unpack("outer.k64", read_text_file(drive + "/outer.k64"));
    ASSERT_EQ(outer.count("inner.k64.rom"), 1u);
    EXPECT_EQ(unpack("inner.k64.rom", outer["inner.k64.rom"]), (std::map<std::string, std::string>{{"a.lua", "deep"}}));
}

TEST_F(PdiskCartMount, DamagedCartridgeIsNeverWrittenOver)
{
    fill({{"a.lua", std::string(500, 'a')}});
    std::string rom = pack("x.k64.rom", "/ram/src");
    const std::map<std::string, std::string> bad = {
        {"v9.k64", "h\nversion 9\n\n:: a.lua\nx\n:: [eoc]\n"},
        {"cut.k64.rom", rom.substr(0, rom.size() / 2)},
        {"pic.k64.png", "\x89PNG\r\n\x1a\n but nothing more"}};
    for (const auto &[name, bytes] : bad) {
        std::string path = "/" + name;
        write_text_file(drive + "/" + name, bytes);
        testing::internal::CaptureStdout();
        int r = put((path + "/b.lua").c_str(), "new");
        Mount *m = get_mount_by_mount_point(path.c_str(), 0);
        flush_dirty_mounts_immediately();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(r, 0) << name;
        ASSERT_TRUE(m) << name;
        EXPECT_TRUE(cart_folder_is_damaged(m->origin.c_str())) << name;
        EXPECT_TRUE(m->dirty) << name << ": the change is still pending";
        EXPECT_EQ(read_text_file(drive + "/" + name), bytes) << name;
    }
}

TEST_F(PdiskCartMount, FailedWritesAreReportedAndRetried)
{
    ASSERT_TRUE(cart_mount_k64_path("/g.k64"));
    ASSERT_EQ(put("/g.k64/a.lua", "a"), 0);
    Mount *m = get_mount_by_mount_point("/g.k64", 0);
    std::filesystem::create_directory(drive + "/g.k64");   // the file cannot be made
    testing::internal::CaptureStdout();
    EXPECT_EQ(cart_write_k64_mount(m), -1);
    EXPECT_EQ(flush_dirty_mounts_ex(0), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(m->dirty);
    std::filesystem::remove(drive + "/g.k64");
    EXPECT_EQ(flush_dirty_mounts_ex(0), 1);
    EXPECT_EQ(unpack("g.k64", read_text_file(drive + "/g.k64")), (std::map<std::string, std::string>{{"a.lua", "a"}}));

    // A PNG cartridge over its size is not written at all.
    std::mt19937 rng(9);
    std::string noise(270000, '\0');
    for (char &c : noise)
        c = (char)rng();
    ASSERT_TRUE(cart_mount_k64_path("/big.k64.png"));
    ASSERT_EQ(put("/big.k64.png/noise.bin", noise), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(flush_dirty_mounts_ex(0), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(std::filesystem::exists(drive + "/big.k64.png"));
    EXPECT_TRUE(get_mount_by_mount_point("/big.k64.png", 0)->dirty);
}

}  // namespace
