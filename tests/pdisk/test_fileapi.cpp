// fetch and store: values, metadata, text, pictures, cartridges, and the
// failures that must leave the old file in place.
#include <sys/ioctl.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <unistd.h>

#include "test_fileapi_fixture.h"

namespace {

using PdiskApiStore = FileApiTest;

TEST_F(PdiskApiStore, KodValuesRoundTripWithTheirMetadata)
{
    EXPECT_EQ(run("return store('/a.kod', {1, 2, s = 'x'})"), "none");
    std::string file = host("a.kod");
    EXPECT_EQ(file.substr(0, 14), std::string("--[[kod]]\nlz4\0", 14));
    EXPECT_EQ(run("local t, m = fetch('/a.kod') return t[1], t[2], t.s, type(m), next(m)"),
              "1,2,x,table,nil");

    const char *meta = "'--[[kod_format=\"x\",title=\"first\"]]\\n'";
    EXPECT_EQ(run(std::string("store('/ram/b.kod', {n = 5}, ") + meta + ")"
                  "local t, m = fetch('/ram/b.kod') return t.n, m.title, _fetch_metadata_from_file('/ram/b.kod').title"),
              "5,first,first");
    // the metadata block is replaced, the value stays
    EXPECT_EQ(run("_store_metadata_str_to_file('/ram/b.kod', '--[[kod_format=\"x\",title=\"second\"]]\\n')"
                  "local t, m = fetch('/ram/b.kod') return t.n, m.title"),
              "5,second");
    // a missing file is created holding the block alone
    EXPECT_EQ(run("_store_metadata_str_to_file('/ram/c.kod', '--[[kod_format=\"x\",title=\"c\"]]')"
                  "return _fetch_metadata_from_file('/ram/c.kod').title"),
              "c");
    EXPECT_EQ(run("store('/ram/plain.txt', 'x', '') return select('#', _fetch_metadata_from_file('/ram/plain.txt'))"),
              "0");
}

TEST_F(PdiskApiStore, TextFilesAndRawStrings)
{
    run("store('/a.txt', 'hi')");
    EXPECT_EQ(host("a.txt"), "--[[kod]]\n\"hi\"");
    EXPECT_EQ(run("local s, m = fetch('/a.txt') return s, type(m), next(m)"), "hi,table,nil");
    run("store('/a.txt', 'hi', '')");
    EXPECT_EQ(host("a.txt"), "hi");
    EXPECT_EQ(run("local s, m = fetch('/a.txt') return s, m.metadata_format"), "hi,none");

    // a raw string after its block, one newline between them
    run("store('/r.lua', 'print(1)\\n', '--[[kod_format=\"raw\",t=1]]\\n')");
    EXPECT_EQ(host("r.lua"), "--[[kod_format=\"raw\",t=1]]\nprint(1)\n");
    EXPECT_EQ(run("local s, m = fetch('/r.lua') return s, m.t"), "print(1)\n,1");

    // metadata_format="none": plain text, except for sandboxed programs
    // writing files that are not plain text for other programs
    const std::string none = "'--[[kod_format=\"raw\",metadata_format=\"none\"]]'";
    run("store('/n.dat', 'body', " + none + ")");
    EXPECT_EQ(host("n.dat"), "body");
    p->sandboxed = 1;
    run("store('/n.dat', 'body', " + none + ") store('/n.csv', 'body', " + none + ")");
    EXPECT_EQ(host("n.dat").rfind("--[[kod_format", 0), 0u);
    EXPECT_EQ(host("n.csv"), "body");
}

TEST_F(PdiskApiStore, UnserialisableValuesAreReportedAndStoreNothing)
{
    run("store('/ram/c.kod', 'old')");
    EXPECT_EQ(run("local t = {} t.self = t return store('/ram/c.kod', t)"),
              "could not store /ram/c.kod: kod: cyclic table");
    EXPECT_EQ(run("return (fetch('/ram/c.kod'))"), "old");
    EXPECT_EQ(run("local t = {} for i = 1, 300 do t = {t} end return store('/new.kod', t)"),
              "could not store /new.kod: kod: tables nested too deeply");
    EXPECT_FALSE(std::filesystem::exists(drive + "/new.kod"));
    // a header that never closes would make the file unreadable
    EXPECT_EQ(run("return store('/ram/c.kod', {1}, '--[[kod title=1')"), "could not store /ram/c.kod: bad metadata");
    EXPECT_EQ(run("return store('/ram/c.kod', 'x', '--[[kod_format=\"raw\"')"),
              "could not store /ram/c.kod: bad metadata");
    EXPECT_EQ(run("return (fetch('/ram/c.kod'))"), "old");
    EXPECT_EQ(run("return store('/ram/x.png', {1})"),
              "could not store /ram/x.png: an image must be a 2d u8 or i32 userdata");
    EXPECT_EQ(run("return select('#', store(5, 'x')), select('#', store('a b', 'x'))"), "0,0");
}

// Makes a folder refuse new files even to root (immutable), or reverses it.
bool set_immutable(const std::string &path, bool on)
{
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

TEST_F(PdiskApiStore, FailedHostWritesAreReportedAndKeepTheOldFile)
{
    std::string ro = drive + "/ro";
    std::filesystem::create_directory(ro);
    write_text_file(ro + "/a.kod", "--[[kod]]\n{1}");
    chmod(ro.c_str(), 0555);
    bool immutable = access(ro.c_str(), W_OK) == 0 && set_immutable(ro, true);
    if (access(ro.c_str(), W_OK) == 0 && !immutable) {
        chmod(ro.c_str(), 0755);
        GTEST_SKIP() << "no way to make a folder read-only here";
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(run("return store('/ro/a.kod', {2})"), "could not store /ro/a.kod: could not open file");
    EXPECT_EQ(run("return store('/ro/b.txt', 'x', '')"), "could not store /ro/b.txt: could not open file");
    EXPECT_EQ(run("return _store_metadata_str_to_file('/ro/a.kod', '--[[kod]]')"),
              "could not store /ro/a.kod: could not open file");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(run("return fetch('/ro/a.kod')[1]"), "1");
    EXPECT_FALSE(std::filesystem::exists(ro + "/b.txt"));
    if (immutable)
        set_immutable(ro, false);
    chmod(ro.c_str(), 0755);
}

TEST_F(PdiskApiStore, PicturesThroughThePalette)
{
    const uint32_t colours[6] = {0x000000, 0xff0000, 0x00ff80, 0x1020ff, 0x806000, 0x808050};
    for (uint32_t i = 0; i < 64; i++)
        poke4(0x5000 + 4 * i, i < 6 ? colours[i] : 0x808080);
    run("img = userdata('u8', 3, 2) for i = 0, 5 do img[i] = i % 4 end");
    for (const char *name : {"/pic.png", "/ram/pic.qoi"}) {
        SCOPED_TRACE(name);
        std::string n = std::string("'") + name + "'";
        EXPECT_EQ(run("return store(" + n + ", img)"), "none");
        EXPECT_EQ(run("local u = fetch(" + n + ") local s = '' for i = 0, 5 do s = s .. u[i] end "
                      "return s, u:attribs()"),
                  "012301," + run("return img:attribs()"));
        // as colours: 0xAARRGGBB
        EXPECT_EQ(run("local u = fetch(" + n + ", 1) return string.format('%x %x %d', u[1] & 0xffffffff, u[3] & 0xffffffff, u:width())"),
                  "ffff0000 ff1020ff 3");
    }
    EXPECT_EQ(run("return fetch('/pic.png', 2):sub(2, 4)"), "PNG");
    // 32-bit colours come back as they were stored
    EXPECT_EQ(run("local c = userdata('i32', 2, 1) c[0] = 0x80123456 c[1] = 0x00abcdef "
                  "store('/ram/c.png', c) local u = fetch('/ram/c.png', 1) "
                  "return string.format('%x %x', u[0] & 0xffffffff, u[1])"),
              "80123456 abcdef");
    // nearest colour: a difference in green weighs 7 times one in blue;
    // among equal entries the first wins
    EXPECT_EQ(run("local c = userdata('i32', 2, 1) c[0] = 0xff808000 c[1] = 0xff808080 "
                  "store('/ram/g.png', c) local u = fetch('/ram/g.png') return u[0], u[1]"),
              "5,6");
}

TEST_F(PdiskApiStore, CartridgeFilesAreStoredAndFetchedAsBytes)
{
    EXPECT_EQ(run("return store('/c.k64.png', 'not a picture')"), "invalid .k64.png file: not a valid PNG");
    EXPECT_EQ(run("return store('/c.k64', {})"), "could not store /c.k64: a cartridge must be stored as a string");
    EXPECT_EQ(run("return store('/c.k64', 'first')"), "none");
    // a mounted copy of the old cartridge is put away, not written back
    EXPECT_EQ(run("store('/c.k64/new.lua', 'x', '') return store('/c.k64', 'second')"), "none");
    flush_dirty_mounts_immediately();
    EXPECT_EQ(host("c.k64"), "second");
    EXPECT_EQ(run("return fetch('/c.k64'), fetch('/c.k64', 2)"), "second,second");
    EXPECT_EQ(run("return select('#', fetch('/c.k64/new.lua'))"), "0");
}

}  // namespace
