// The pfile table, RAM handles and their modes, and RAM listings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "pdisk/listing.h"
#include "pdisk_fixture.h"

namespace {

TEST(PdiskHash, MurmurOfKnownTexts)
{
    EXPECT_EQ(pdisk_hash("", 0), 0u);
    EXPECT_EQ(pdisk_hash("hello", 5), 0x248bfa47u);
    const char *fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(pdisk_hash(fox, strlen(fox)), 0x2e4ff723u);
}

using PdiskTable = PdiskTest;

TEST_F(PdiskTable, LookupIsOrderedAndSkipsUnusedEntries)
{
    std::vector<std::string> names;
    for (int i = 0; i < 3000; i++)
        names.push_back("/t/" + std::to_string(i * 7919 % 3001));
    std::shuffle(names.begin(), names.end(), std::mt19937(5));
    for (const std::string &n : names)
        ASSERT_NE(pfile_insert(n.c_str(), PFILE_RAM, n.c_str()), nullptr);
    for (int i = 1; pdisk_entry(i); i++)
        ASSERT_LT(pdisk_entry(i - 1)->name, pdisk_entry(i)->name);
    for (const std::string &n : names)
        ASSERT_EQ(pdisk_entry(get_index_by_name(n.c_str()))->name, n);
    EXPECT_EQ(get_index_by_name("/t/x"), -1);
    EXPECT_EQ(get_index_by_name("/t"), -1);

    EXPECT_EQ(delete_ram_files_in_path("/t/17"), 1);
    EXPECT_EQ(get_index_by_name("/t/17"), -1);
    EXPECT_NE(get_index_by_name("/t/170"), -1);
    pfile *again = pfile_insert("/t/17", PFILE_RAM, "/t/17");
    EXPECT_EQ(pdisk_entry(get_index_by_name("/t/17")), again) << "the unused twin is passed over";
    int live = pdisk_num_pfiles();
    EXPECT_EQ(pdisk_pfile_iterator(), live) << "the iterator compacts";
    EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_UNUSED), 0);

    pfile *host = pfile_insert("/t/17", PFILE_HOST, "/h/17");
    EXPECT_EQ(pdisk_entry(get_index_by_name("/t/17") + 1), host) << "after the run of equal names";
    EXPECT_EQ(get_ram_file_by_name("/t/17"), again);
}

TEST_F(PdiskTable, RamModesTruncateAppendAndRefuse)
{
    EXPECT_EQ(get("/ram/f"), "<none>") << "reading a missing RAM file";
    ASSERT_EQ(put("/ram/f", "hello"), 0);
    EXPECT_EQ(get("/ram/f"), "hello");
    EXPECT_EQ(pfile_size("/ram/f"), 5);
    ASSERT_EQ(put("/ram/f", "!!", "a"), 0);
    EXPECT_EQ(get("/ram/f"), "hello!!");
    pfile *f = pfopen("/ram/f", "a");
    EXPECT_EQ(f->contents->pos, 7) << "append starts at the end";
    pfclose(f);
    ASSERT_EQ(put("/ram/f", "x"), 0);
    EXPECT_EQ(get("/ram/f"), "x") << "w truncates";

    f = pfopen("/ram/f", "rb");
    char two[2];
    EXPECT_EQ(pfread(two, 1, 2, f), 1);
    pfclose(f);

    pfile_insert("/ram/dir", PFILE_RAM, "/ram/dir")->attribs = PFILE_ATTR_FOLDER;
    EXPECT_EQ(pfopen("/ram/dir", "r"), nullptr);
    EXPECT_EQ(pfopen("/ram/dir", "w"), nullptr);
    EXPECT_EQ(pfopen("/ram", "w"), nullptr) << "a RAM root is a folder";
    EXPECT_EQ(pfopen("/ram/my file", "w"), nullptr);
    EXPECT_EQ(pfopen("/ram/f", "x"), nullptr);
    EXPECT_EQ(pfile_size("/ram/dir"), -1);
}

TEST_F(PdiskTable, ClosingAWrittenFileMarksItsMountDirty)
{
    mount_ram_folder("/ram/deep");
    ASSERT_EQ(put("/ram/deep/a", "1"), 0);
    EXPECT_TRUE(get_mount_by_mount_point("/ram/deep", 0)->dirty);
    EXPECT_FALSE(get_mount_by_mount_point("/ram", 0)->dirty) << "the deepest origin only";
    flush_dirty_mounts_immediately();
    get("/ram/deep/a");
    EXPECT_FALSE(get_mount_by_mount_point("/ram/deep", 0)->dirty) << "reading does not";
}

TEST_F(PdiskTable, DeletingAPathTakesWhatIsBelowIt)
{
    for (const char *n : {"/ram/a", "/ram/a/x", "/ram/a/y/z", "/ram/ab", "/ram/a-b", "/ram/a.b"})
        put(n, "1");
    EXPECT_EQ(delete_ram_files_in_path("/ram/a"), 3);
    EXPECT_EQ(get("/ram/ab") + get("/ram/a-b") + get("/ram/a.b") + get("/ram/a/y/z"), "111<none>");
    EXPECT_FALSE(ram_path_is_inside_origin("/a", "/a", 0));
    EXPECT_TRUE(ram_path_is_inside_origin("/a", "/a", 1));
    EXPECT_TRUE(ram_path_is_inside_origin("/x", "/", 0));
}

TEST_F(PdiskTable, RamListingsAreSortedAndHoldMountPoints)
{
    for (const char *n : {"file10", "file2", "File3", ".hidden", "dir/inner"})
        put(("/ram/d/" + std::string(n)).c_str(), "1");
    pfile_insert("/ram/d/dir", PFILE_RAM, "/ram/d/dir")->attribs = PFILE_ATTR_FOLDER;
    mount_ram_folder("/ram/d/dir");        // listed once although it is also a folder
    mount_ram_folder("/ram/d/m");
    mount_ram_folder("/ram/d/c.k64");
    mount_ram_folder("/ram/d/m/deeper");   // not directly inside /ram/d
    PfList list;
    ASSERT_EQ(pflist("/ram/d", &list), 0);
    EXPECT_EQ(list.names, (std::vector<std::string>{"dir", "m", "c.k64", "file2", "File3", "file10"}));
    EXPECT_EQ(list.num_folders, 2);
    EXPECT_EQ(pflist("/ no", &list), -1);
}

}  // namespace
