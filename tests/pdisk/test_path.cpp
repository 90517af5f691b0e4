// Path grammar, normalisation, extensions and the listing order.
#include "pdisk/path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "process/process.h"

namespace {

struct WorkingDir {
    Process *saved = cproc;
    Process proc{};
    explicit WorkingDir(const char *pwd)
    {
        snprintf(proc.pwd, sizeof proc.pwd, "%s", pwd);
        cproc = &proc;
    }
    ~WorkingDir() { cproc = saved; }
};

TEST(PdiskPath, NormalisationFoldsSegmentsAndRefusesIllegalPaths)
{
    WorkingDir wd("/w");
    EXPECT_EQ(normalise_kestrane_path("a//b/./c/../d"), "/w/a/b/d");
    EXPECT_EQ(normalise_kestrane_path("/.."), "/");
    EXPECT_EQ(normalise_kestrane_path("/../../a/.."), "/");
    EXPECT_EQ(normalise_kestrane_path("../../x"), "/x");
    EXPECT_EQ(normalise_kestrane_path("/x/"), "/x");
    EXPECT_EQ(normalise_kestrane_path("/"), "/");
    EXPECT_EQ(normalise_kestrane_path("."), "/w");
    EXPECT_EQ(normalise_kestrane_path("/a/b.lua#12"), "/a/b.lua#12");

    std::string longest(PDISK_MAX_SEGMENT, 'k');
    EXPECT_EQ(normalise_kestrane_path(("/a/" + longest).c_str()), "/a/" + longest);
    EXPECT_EQ(normalise_kestrane_path(("/a/" + longest + "k/b").c_str()), "/a/b");

    cproc = nullptr;
    EXPECT_EQ(normalise_kestrane_path("a"), "/a") << "no process: relative to /";
    for (const char *bad : {"", "my file.txt", "#x", "-x", "/a:b", "/a\\b", "/\xc3\xa9"})
        EXPECT_EQ(normalise_kestrane_path(bad), "") << bad;
    EXPECT_TRUE(is_legal_path("/a/b.lua#12 any thing"));
    EXPECT_TRUE(is_legal_path("x-y_z.K64"));
}

TEST(PdiskPath, CollapseKeepsAProtocolPrefix)
{
    EXPECT_EQ(collapse_path("kodnet://a/../../b", -1, 0), "kodnet://b");
    EXPECT_EQ(collapse_path("kodnet://", -1, 0), "kodnet://");
    EXPECT_EQ(collapse_path("x:/a/../b", -1, 0), "/x:/b") << "one slash is no protocol";
    EXPECT_EQ(collapse_path("/a/b", 2, 0), "/a") << "length bounds the text";
    EXPECT_STREQ(get_prot("kodnet://x"), "kodnet");
    EXPECT_STREQ(get_prot("://x"), "");
    EXPECT_EQ(get_prot("abcdefghijklmnopq://x"), nullptr) << "':' past 16 characters";
    EXPECT_EQ(get_prot("a:b://x"), nullptr) << "only the first ':' counts";

    testing::internal::CaptureStdout();
    collapse_path("/a/./..", -1, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              ":: collapse: [/a/./..]\n  left segment: a  -> /a\n  skipped .  -> /a\n"
              "  folded ..  -> \n  --> [/]\n");
}

TEST(PdiskPath, ExtensionsAndCartridgeKinds)
{
    EXPECT_STREQ(get_ext("/a.b/c"), "");
    EXPECT_STREQ(get_ext("x.K64.PNG"), "k64.png");
    EXPECT_STREQ(get_ext("a."), "");
    EXPECT_STREQ(get_ext("a.tar.gz"), "tar.gz");
    EXPECT_STREQ(get_ext("a.b.c.d"), "c.d");
    EXPECT_STREQ(get_ext("/.lua"), "lua");
    EXPECT_STREQ(get_ext(("/a." + std::string(63, 'e')).c_str()), std::string(63, 'e').c_str());
    EXPECT_STREQ(get_ext(("/a." + std::string(64, 'e')).c_str()), "");

    EXPECT_EQ(k64_path_kind("/a/g.k64"), K64_KIND_TEXT);
    EXPECT_EQ(k64_path_kind("G.K64.ROM"), K64_KIND_ROM);
    EXPECT_EQ(k64_path_kind("/d/x.k64.png"), K64_KIND_PNG);
    EXPECT_EQ(k64_path_kind("/level.2.k64"), K64_KIND_TEXT) << "more dots are still a cartridge";
    EXPECT_EQ(k64_path_kind("/x.k64x"), K64_KIND_NONE);
    EXPECT_EQ(k64_path_kind("/x.png"), K64_KIND_NONE);
    EXPECT_EQ(count_slashes("/a/b/"), 3);
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end(), [](const std::string &a, const std::string &b) {
        return compare_listing_item(a.c_str(), b.c_str()) < 0;
    });
    return v;
}

TEST(PdiskPath, ListingOrderIsNatural)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(sorted({"file10", "file2", "File3", "dir/"}), (V{"dir/", "file2", "File3", "file10"}));
    EXPECT_EQ(sorted({"b/", "a", "A/"}), (V{"A/", "b/", "a"}));
    EXPECT_EQ(sorted({"x100000000000000000000", "x99999999999999999999", "x007"}),
              (V{"x007", "x99999999999999999999", "x100000000000000000000"}));
    EXPECT_EQ(sorted({"ab", "a", "a.b", "a1", "a-b"}), (V{"a", "a-b", "a.b", "a1", "ab"}));
    EXPECT_EQ(compare_listing_item("file02", "file2"), 0);
    EXPECT_GT(compare_listing_item("a_", "ab"), 0) << "letters fold to upper case, below '_'";
}

// Sorting needs a consistent order: a < b and b < c must give a < c.
TEST(PdiskPath, ListingOrderIsTransitive)
{
    const char *names[] = {"-", ".", "/", "0", "9", "10", "A", "a", "_", "Z", "z", "~", "a-1",
                           "a.1", "a1", "a/", "-/", "1/", "a01", "a1b", "a1.", "a 1", "a!"};
    for (const char *a : names)
        for (const char *b : names)
            for (const char *c : names) {
                if (compare_listing_item(a, b) < 0 && compare_listing_item(b, c) < 0) {
                    EXPECT_LT(compare_listing_item(a, c), 0) << a << " " << b << " " << c;
                }
                EXPECT_EQ(compare_listing_item(a, b) < 0, compare_listing_item(b, a) > 0) << a << " " << b;
            }
}

}  // namespace
