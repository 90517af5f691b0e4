// Host folders behind the mount table: resolution, reads and writes, writes
// that fail, listings, and paths that try to leave the mounted folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "pdisk/listing.h"
#include "pdisk_fixture.h"

namespace {

namespace fs = std::filesystem;

using PdiskHost = PdiskTest;

// Files in a host folder other than the ones named.
std::vector<std::string> hidden_files(const std::string &folder)
{
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(folder))
        if (e.path().filename().string()[0] == '.')
            out.push_back(e.path().string());
    return out;
}

TEST_F(PdiskHost, DeepestMountWinsThenTheEarliest)
{
    int kind = 0;
    auto at = [&](const char *path) {
        std::string origin = resolve_to_origin(path, &kind, 0);
        return origin + " " + std::to_string(kind);
    };
    EXPECT_EQ(at("/ram/x"), "/ram/x 2");
    EXPECT_EQ(at("/a/b"), drive + "/a/b 1");
    EXPECT_EQ(resolve_to_origin("/", &kind, 0), drive);
    EXPECT_EQ(resolve_to_origin("/ramx", &kind, 0), drive + "/ramx");

    mount_p_path("/v", "/ram/one");
    mount_p_path("/v", "/ram/two");
    EXPECT_EQ(resolve_to_origin("/v/f", &kind, 0), "/ram/one/f");
    EXPECT_EQ(resolve_to_origin("/v", &kind, 1), drive + "/v") << "skipping the exact mount";
    EXPECT_EQ(get_mount_description("/v"), "/ram/one");
    EXPECT_EQ(delete_mount_point("/v"), 1);
    EXPECT_EQ(resolve_to_origin("/v/f", &kind, 0), "/ram/two/f");
    EXPECT_EQ(delete_mount_point("/"), 0) << "the root host mount has no nameable mount point";
    EXPECT_EQ(resolve_to_origin("/my file", &kind, 0), "");
}

TEST_F(PdiskHost, HostFilesReadWriteAppendAndRaiseHistory)
{
    ASSERT_EQ(put("/a.txt", "abc"), 0);
    EXPECT_EQ(read_text_file(drive + "/a.txt"), "abc");
    ASSERT_EQ(put("/a.txt", "de", "a"), 0);
    EXPECT_EQ(get("/a.txt"), "abcde");
    EXPECT_EQ(get("/a.txt", "re"), "") << "existence only";
    EXPECT_EQ(get("/none.txt", "re"), "<none>");
    EXPECT_EQ(pfile_size("/a.txt"), 5);
    ASSERT_EQ(FakeCarts::events.size(), 2u);
    EXPECT_EQ(FakeCarts::events[0], "0 /a.txt " + fs::canonical(drive).string() + "/a.txt");
    EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_HOST), 0) << "host handles go at close";

    write_text_file(drive + "/big", std::string(300000, 'b'));
    std::string head = get("/big", "rm");
    EXPECT_GT(head.size(), 262143u);
    EXPECT_LT(head.size(), 300000u);
    EXPECT_EQ(get("/big").size(), 300000u);
    fs::create_directory(drive + "/folder");
    EXPECT_EQ(get("/folder"), "<none>") << "a folder is not a file";
    EXPECT_EQ(put("/folder", "x"), -2);
}

TEST_F(PdiskHost, AWriteReplacesTheFileOnlyWhenComplete)
{
    write_text_file(drive + "/keep.txt", "old");
    chmod((drive + "/keep.txt").c_str(), 0640);
    pfile *f = pfopen("/keep.txt", "w");
    ASSERT_NE(f, nullptr);
    pfwrite("new", 1, 3, f);
    EXPECT_EQ(read_text_file(drive + "/keep.txt"), "old") << "untouched until closed";
    PfList list;
    pflist("/", &list);
    EXPECT_EQ(list.names, (std::vector<std::string>{"ram", "keep.txt"})) << "the write in progress is hidden";
    ASSERT_EQ(pfclose(f), 0);
    EXPECT_EQ(read_text_file(drive + "/keep.txt"), "new");
    EXPECT_TRUE(hidden_files(drive).empty());
    struct stat st;
    stat((drive + "/keep.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "permissions kept";
}

TEST_F(PdiskHost, FailedWritesAreReportedAndLoseNothing)
{
    EXPECT_EQ(put("/missing/x.txt", "1"), -2) << "no folder to write in";

    write_text_file(drive + "/keep.txt", "old");
    pfile *f = pfopen("/keep.txt", "w");
    pfwrite("new", 1, 3, f);
    for (const std::string &t : hidden_files(drive))
        fs::remove(t);   // the new file vanishes before it is complete
    testing::internal::CaptureStdout();
    EXPECT_EQ(pfclose(f), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("** could not write"), std::string::npos);
    EXPECT_EQ(read_text_file(drive + "/keep.txt"), "old");
    EXPECT_TRUE(FakeCarts::events.empty()) << "a failed write is no history";

    f = pfopen("/gone.txt", "w");
    fs::create_directories(drive + "/gone.txt/in");   // the target became a folder
    testing::internal::CaptureStdout();
    EXPECT_EQ(pfclose(f), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(hidden_files(drive).empty()) << "no temporary file left behind";
}

TEST_F(PdiskHost, PathsCannotLeaveTheMountedFolder)
{
    fs::create_directory(tmp / "outside");
    write_text_file(tmp / "outside/secret", "s");
    write_text_file(tmp / "outside.txt", "s");
    fs::create_directory_symlink(tmp / "outside", drive + "/link");
    fs::create_symlink(tmp / "outside.txt", drive + "/flink");
    fs::create_symlink(tmp / "nowhere", drive + "/dangling");
    write_text_file(drive + "/inside", "i");
    fs::create_symlink(drive + "/inside", drive + "/ilink");

    EXPECT_EQ(get("/../outside/secret"), "<none>") << ".. stops at the root";
    EXPECT_EQ(get("/link/secret"), "<none>");
    EXPECT_EQ(get("/flink"), "<none>");
    EXPECT_EQ(put("/link/secret", "x"), -2);
    EXPECT_EQ(put("/flink", "x"), -2);
    EXPECT_EQ(put("/dangling", "x"), -2);
    EXPECT_EQ(read_text_file(tmp / "outside/secret") + read_text_file(tmp / "outside.txt"), "ss");
    EXPECT_FALSE(fs::exists(tmp / "nowhere"));
    EXPECT_FALSE(pdisk_directory_exists("/link", 1));
    PfList list;
    pflist("/link", &list);
    EXPECT_TRUE(list.names.empty());
    EXPECT_EQ(mount_p_path("/m", "/link"), nullptr);
    EXPECT_EQ(get("/inside#\\..\\x"), "<none>") << "host separators in a location suffix";

    EXPECT_EQ(get("/ilink"), "i") << "links that stay inside work";
    ASSERT_EQ(put("/ilink", "j"), 0);
    EXPECT_EQ(read_text_file(drive + "/inside"), "j");
    EXPECT_TRUE(fs::is_symlink(drive + "/ilink")) << "the link is kept, its target written";
}

TEST_F(PdiskHost, HostListingsAndFolderTests)
{
    for (const char *n : {"b.lua", "a10", "a9", ".dot"})
        write_text_file(drive + "/" + n, "x");
    fs::create_directories(drive + "/sub/deeper");
    fs::create_directory(drive + "/game.k64");
    fs::create_directory(drive + "/ram");   // shadowed by the /ram mount
    mount_host_path((tmp / "elsewhere").c_str(), "/host.k64");
    PfList list;
    ASSERT_EQ(pflist("/", &list), 0);
    EXPECT_EQ(list.names, (std::vector<std::string>{"ram", "sub", "a9", "a10", "b.lua", "game.k64",
                                                    "host.k64"}));
    EXPECT_EQ(list.num_folders, 2);

    EXPECT_TRUE(pdisk_directory_exists("/sub", 0));
    EXPECT_TRUE(pdisk_host_directory_exists("/sub/deeper"));
    EXPECT_FALSE(pdisk_directory_exists("/b.lua", 1));
    EXPECT_TRUE(pdisk_directory_exists("/ram", 0)) << "a RAM root is a folder";
    mount_p_path("/view", "/ram");
    mount_p_path("/nothing", "/ram/nothing");
    EXPECT_TRUE(pdisk_directory_exists("/view", 1));
    EXPECT_FALSE(pdisk_directory_exists("/nothing", 1));
    EXPECT_FALSE(pdisk_host_directory_exists("/ram"));
}

}  // namespace
