// The host cache, dropped files and the RAM folders filled at start-up.
#include "formats/buffer.h"
#include "pdisk/k64rom.h"
#include "pdisk/startup_mounts.h"
#include "process/api_message.h"
#include "test_fileapi_fixture.h"

namespace {

struct PdiskApiCache : FileApiTest {
    std::string home;
    std::optional<HomeGuard> guard;
    void SetUp() override
    {
        FileApiTest::SetUp();
        home = tmp / "home";
        std::filesystem::create_directory(home);
        guard.emplace(home);
    }
    std::string cached(const std::string &rel) { return read_text_file(home + "/cache/" + rel); }
};

TEST_F(PdiskApiCache, StoredBytesComeBackLongFilesOnly)
{
    run("big = string.rep('b', 600)");
    EXPECT_EQ(run("_cache_store('carts', 'x.png', big) return _cache_fetch('carts', 'x.png') == big"), "true");
    EXPECT_EQ(cached("carts/x.png").size(), 600u);
    EXPECT_EQ(run("_cache_store('carts', 'small', 'abc') return select('#', _cache_fetch('carts', 'small')), "
                  "select('#', _cache_fetch('carts', 'none'))"),
              "0,0");
    EXPECT_EQ(cached("carts/small"), "abc");

    // the highest version present and long enough wins
    run("_cache_store('v', 'c_3', big) _cache_store('v', 'c_12', big .. 'x') _cache_store('v', 'c_20', 'short')"
        "_cache_store('v', 'p_007', big)");
    EXPECT_EQ(run("return #_cache_fetch('v', 'c_%d', true), #_cache_fetch('v', 'p_%03d', true)"), "601,600");
    EXPECT_EQ(run("return select('#', _cache_fetch('v', 'c_12', true)), select('#', _cache_fetch('v', '%s%d', true)),"
                  "select('#', _cache_fetch('v', '%d%d', true))"),
              "0,0,0");
}

TEST_F(PdiskApiCache, NamesStayInsideTheCache)
{
    run("big = string.rep('x', 600)"
        "_cache_store('..', 'escape', big) _cache_store('a', '../escape', big) _cache_store('a/b', 'c', big)"
        "_cache_store('.hidden', 'c', big) _cache_store('a', '', big) _cache_store('a b', 'c', big)");
    EXPECT_FALSE(std::filesystem::exists(home + "/escape"));
    EXPECT_FALSE(std::filesystem::exists(home + "/cache")) << "nothing was stored";
    write_text_file(home + "/secret", std::string(600, 's'));
    EXPECT_EQ(run("return select('#', _cache_fetch('..', 'secret')), select('#', _cache_fetch('x', '../../secret'))"),
              "0,0");
}

struct PdiskApiDrop : FileApiTest {
    Process *wm = nullptr;
    void SetUp() override
    {
        FileApiTest::SetUp();
        processes_init();
        for (int i = 0; i < 3; i++)
            wm = create_process_from_code("x = 1", "p", "p", "", "");
        ASSERT_TRUE(wm && wm->id == 3);
        cproc = p;
    }
    void TearDown() override
    {
        processes_init();
        FileApiTest::TearDown();
    }
    std::string next_message()
    {
        Buffer *b = read_process_message(wm, nullptr);
        return b ? std::string((const char *)b->data, (size_t)b->len) : "<none>";
    }
};

TEST_F(PdiskApiDrop, FilesLandInRamDropUnderLegalNames)
{
    std::string odd = tmp / "my pic #1 (ü).png";
    write_text_file(odd, "picture");
    process_dropped_file(odd.c_str());
    const std::string loc = "/ram/drop/my_pic__1_____.png";
    EXPECT_EQ(next_message(), "{event=\"drop_items\",_flags=1,items={{kod_type=\"location\","
                              "filenav_op=\"move\",location=\"" + loc + "\"}}}");
    EXPECT_EQ(run("return fetch('" + loc + "', 2), fstat('/ram/drop')"), "picture,folder,0,nil");
    std::string back = tmp / "sub\\win.txt";
    write_text_file(back, "w");
    process_dropped_file(back.c_str());
    EXPECT_NE(next_message().find("location=\"/ram/drop/win.txt\""), std::string::npos);

    // folders, empty files and missing files are refused and change nothing
    write_text_file(back, "");
    process_dropped_file(back.c_str());
    process_dropped_file(tmp.path.c_str());
    process_dropped_file((tmp.path + "/").c_str());
    std::string refused = "{event=\"user_notification\",content=\"** dropping folders (and size zero files) "
                          "not supported **\"}";
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(next_message(), refused);
    process_dropped_file(std::string(300, 'n').c_str());
    EXPECT_EQ(next_message(), "<none>");
    EXPECT_EQ(run("return fetch('/ram/drop/win.txt', 2), #ls('/ram/drop')"), "w,2");
}

using PdiskApiStartup = FileApiTest;

TEST_F(PdiskApiStartup, RomFoldersAreFilledFromTheImage)
{
    std::unique_ptr<Buffer, BufferDeleter> rom(create_buffer_2(1024, 100));
    // "gfx" is named only by the file inside it
    ASSERT_GT(k64rom_write(rom.get(), {{"boot.lua", false, "print(1)"},
                                       {"lib", true, ""},
                                       {"lib/a.txt", false, "text"},
                                       {"gfx/0.gfx", false, "g"}}),
              0);
    EXPECT_EQ(pdisk_mount_system_rom(rom.get()), 4);
    EXPECT_EQ(run("return fetch('/system/boot.lua', 2), (fetch('/system/lib/a.txt')), fstat('/system/lib')"),
              "print(1),text,folder,0,nil");
    EXPECT_EQ(run("return table.concat(ls('/system'), ' '), table.concat(ls('/system/gfx'), ' ')"),
              "gfx lib boot.lua,0.gfx");

    // anything else is the legacy form: code up to the first 0 byte
    std::unique_ptr<Buffer, BufferDeleter> code(create_buffer_2(64, 100));
    bwrite("print(2)\0junk", 1, 13, code.get());
    EXPECT_EQ(pdisk_mount_exported_cart(code.get()), 1);
    EXPECT_EQ(run("return fetch('/ram/expcart/main.lua', 2)"), "print(2)");
}

}  // namespace
