// Listing, fstat, mkdir, cp and delete over host folders, RAM folders,
// cartridges and mounts.
#include <unistd.h>

#include "test_fileapi_fixture.h"

namespace {

using PdiskApiFolders = FileApiTest;

TEST_F(PdiskApiFolders, ListingAndFstat)
{
    std::filesystem::create_directory(drive + "/docs");
    write_text_file(drive + "/docs/file10", "0123456789");
    write_text_file(drive + "/docs/file2", "ab");
    run("mkdir('/ram/sub') store('/ram/z.txt', 'hey', '')");
    EXPECT_EQ(run("local n, f = ls('/docs') return #n, n[1], n[2], f"), "2,file2,file10,0");
    EXPECT_EQ(run("local n, f = ls('/ram') return table.concat(n, ' '), f"), "sub z.txt,1");
    EXPECT_EQ(run("local n = ls() return table.concat(n, ' ')"), "docs ram");
    EXPECT_EQ(run("return select('#', ls(7)), select('#', ls('a b'))"), "0,0");

    EXPECT_EQ(run("return fstat('/docs/file10')"), "file,10,nil");
    EXPECT_EQ(run("return fstat('/ram/z.txt')"), "file,3,nil");
    EXPECT_EQ(run("return fstat('/docs')"), "folder,0,nil");
    EXPECT_EQ(run("return fstat('/ram')"), "folder,0,/ram");
    EXPECT_EQ(run("return select('#', fstat('/nothing')), select('#', fstat('/docs', true))"), "0,0");
    EXPECT_EQ(run("return fstat('/docs/file2', true)"), "file,2");

    // a mounted cartridge is a folder the size of its file
    write_text_file(drive + "/game.k64", "cartridge");
    // (reporting on it writes it first)
    std::string stat = run("store('/game.k64/main.lua', 'x', '') return fstat('/game.k64')");
    EXPECT_EQ(host("game.k64"), "/main.lua\n");
    EXPECT_EQ(stat, "folder,10," + get_mount_description("/game.k64"));
    EXPECT_EQ(get_mount_description("/game.k64").rfind("/ram/mount/m", 0), 0u);
    EXPECT_EQ(run("return fstat('/game.k64', true)"), "file,10");
}

TEST_F(PdiskApiFolders, Mkdir)
{
    EXPECT_EQ(run("return mkdir('/ram/d'), mkdir('/ram/d')"), "nil,mkdir: directory already exists");
    EXPECT_EQ(run("return fstat('/ram/d')"), "folder,0,nil");
    // a RAM folder needs its parent: an orphan could never be listed
    EXPECT_EQ(run("return mkdir('/ram/p/q'), fstat('/ram/p/q'), select('#', mkdir('/ram/d/e'))"),
              "mkdir failed,nil,0");
    EXPECT_EQ(run("store('/ram/f', 1) return mkdir('/ram/f'), mkdir(), select('#', mkdir('x y'))"),
              "mkdir failed,mkdir: no path,0");

    EXPECT_EQ(run("return mkdir('/hostdir'), mkdir('/missing/below')"), "nil,mkdir failed");
    EXPECT_TRUE(folder_exists(drive + "/hostdir"));
    ASSERT_EQ(FakeCarts::events.size(), 1u);
    EXPECT_EQ(FakeCarts::events[0].substr(0, 11), "2 /hostdir ");

    // a new cartridge is written at the next flush
    std::string made = run("return mkdir('/new.k64'), fstat('/new.k64')");
    EXPECT_EQ(made, "nil,folder,0," + get_mount_description("/new.k64"));
    flush_dirty_mounts_immediately();
    EXPECT_EQ(FakeCarts::written, 1);
    EXPECT_TRUE(std::filesystem::exists(drive + "/new.k64"));
    // so is a folder made inside it
    EXPECT_EQ(run("return mkdir('/new.k64/gfx')"), "none");
    flush_dirty_mounts_immediately();
    EXPECT_EQ(host("new.k64"), "/gfx\n");
}

TEST_F(PdiskApiFolders, CopyNeverLosesTheSourceOrTheTarget)
{
    write_text_file(drive + "/a.txt", "alpha");
    run("cp('/a.txt', '/ram/a.txt')");
    EXPECT_EQ(run("local s, m = fetch('/ram/a.txt') return s, m.metadata_format"), "alpha,none");
    // onto itself, directly and through a mount showing the same folder
    run("cp('/ram/a.txt', '/ram/a.txt') mount('/view', '/ram') cp('/view/a.txt', '/ram/a.txt')");
    EXPECT_EQ(run("return (fetch('/ram/a.txt'))"), "alpha");
    run("cp('/a.txt', '/a.txt')");
    EXPECT_EQ(host("a.txt"), "alpha");
    // a source that cannot be read leaves the target as it was
    run("cp('/none.txt', '/a.txt') cp('/ram', '/a.txt')");
    EXPECT_EQ(host("a.txt"), "alpha");
    EXPECT_EQ(run("return select('#', cp('/a.txt', 'b c'))"), "0");
}

TEST_F(PdiskApiFolders, Delete)
{
    std::filesystem::create_directories(drive + "/full/in");
    write_text_file(drive + "/gone.txt", "x");
    run("_fdelete('/gone.txt') _fdelete('/full')");
    EXPECT_FALSE(std::filesystem::exists(drive + "/gone.txt"));
    EXPECT_TRUE(folder_exists(drive + "/full/in")) << "only empty host folders go";
    ASSERT_EQ(FakeCarts::events.size(), 1u);
    EXPECT_EQ(FakeCarts::events[0].substr(0, 12), "1 /gone.txt ");
    run("_fdelete('/full/in') _fdelete('/')");
    EXPECT_FALSE(folder_exists(drive + "/full/in"));
    EXPECT_TRUE(folder_exists(drive)) << "the mounted folder itself stays";

    // a link goes, not what it points at
    write_text_file(drive + "/target.txt", "kept");
    ASSERT_EQ(symlink((drive + "/target.txt").c_str(), (drive + "/link.txt").c_str()), 0);
    run("_fdelete('/link.txt')");
    EXPECT_FALSE(std::filesystem::is_symlink(drive + "/link.txt"));
    EXPECT_EQ(host("target.txt"), "kept");

    // a RAM folder goes with everything below it; a neighbour stays
    run("mkdir('/ram/d') mkdir('/ram/d/e') store('/ram/d/e/f', 1) store('/ram/dx', 2)");
    run("_fdelete('/ram/d')");
    EXPECT_EQ(run("return table.concat(ls('/ram'), ' '), select('#', fetch('/ram/d/e/f'))"), "dx,0");

    // a mount point is unmounted; what it showed stays
    run("mount('/view', '/ram') _fdelete('/view')");
    EXPECT_EQ(run("return select('#', fstat('/view')), (fetch('/ram/dx'))"), "0,2");
    // through a second mount of the same folder, the file itself goes
    run("mount('/view', '/ram') _fdelete('/view/dx')");
    EXPECT_EQ(run("return select('#', fetch('/ram/dx'))"), "0");
}

TEST_F(PdiskApiFolders, FullPath)
{
    run("mkdir('/ram/w') cd('/ram/w')");
    EXPECT_EQ(run("return fullpath('a/../b/./c'), fullpath('/x/'), fullpath('..')"), "/ram/w/b/c,/x,/ram");
    EXPECT_EQ(run("return fullpath('kodnet://x y/..'), select('#', fullpath('a b')), select('#', fullpath({}))"),
              "kodnet://x y/..,0,0");
}

}  // namespace
