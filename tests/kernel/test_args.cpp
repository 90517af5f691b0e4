#include "kernel/kernel.h"

#include "../host/temp_folder.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// Runs the command line "kestrane ARGS..." on freshly started settings, in a
// temporary working folder so that -home folders land there.
struct ArgsTest : ::testing::Test {
    TempFolder dir;
    CwdGuard cwd{dir.path};
    Config saved = config;

    void TearDown() override { config = saved; }

    void run(std::vector<std::string> args)
    {
        config_set_start_values();
        args.insert(args.begin(), "kestrane");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        process_arguments((int)args.size(), argv.data());
    }
};

} // namespace

TEST(ConfigStart, StartValuesOnClearedRecord)
{
    Config saved = config;
    memset(&config, 0x5a, sizeof config);
    config_set_start_values();

    Config expected{};
    expected.fullscreen = 1;
    expected.pixel_perfect = 1;
    expected.volume = 192;
    expected.network_access = 1;
    expected.vproc = 3;
    expected.display = -1;
    EXPECT_EQ(memcmp(&config, &expected, sizeof config), 0) << "every other field is zero";
    config = saved;
}

TEST_F(ArgsTest, HeadlessWithPositionalArgument)
{
    run({"-x", "first.k64", "game.k64"});
    EXPECT_EQ(config.headless, 1);
    EXPECT_STREQ(config.cart_arg, "game.k64") << "a later positional replaces an earlier one";
}

TEST_F(ArgsTest, UnknownOptionSwallowsTheNextValueOnly)
{
    run({"-foo", "bar", "-display", "1"});
    EXPECT_STREQ(config.cart_arg, "");
    EXPECT_EQ(config.display, 1);

    run({"-foo", "bar", "baz"});
    EXPECT_STREQ(config.cart_arg, "baz");
}

TEST_F(ArgsTest, OptionFollowedByOptionLosesItsValue)
{
    run({"-display", "-x"});
    EXPECT_EQ(config.display, -1);
    EXPECT_EQ(config.headless, 1);

    run({"-display", "-x", "7"});
    EXPECT_EQ(config.display, -1);
    EXPECT_STREQ(config.cart_arg, "7");

    run({"-foo", "-x", "kept.k64"});
    EXPECT_STREQ(config.cart_arg, "kept.k64") << "the unknown option's swallow is lost too";
}

TEST_F(ArgsTest, NegativeNumberIsAnUnknownOption)
{
    run({"-display", "-1", "next"});
    EXPECT_EQ(config.display, -1);
    EXPECT_STREQ(config.cart_arg, "");
}

TEST_F(ArgsTest, OptionsMatchByPrefix)
{
    run({"-xyz", "-displayed", "4", "-user_idx", "id", "-usernames", "nm", "-session_tokens", "t",
         "-use_system_romfile"});
    EXPECT_EQ(config.headless, 1);
    EXPECT_EQ(config.display, 4);
    EXPECT_STREQ(config.user_id, "id");
    EXPECT_STREQ(config.username, "nm");
    EXPECT_STREQ(config.session_token, "t");
    EXPECT_EQ(config.use_system_rom, 1);

    run({"-homestead", "h"});
    EXPECT_STREQ(config.home, "h");
}

TEST_F(ArgsTest, ShortenedOptionIsUnknown)
{
    run({"-disp", "3", "-h", "x", "-", "y"});
    EXPECT_EQ(config.display, -1);
    EXPECT_STREQ(config.home, "");
    EXPECT_STREQ(config.cart_arg, "");
}

TEST_F(ArgsTest, TerminatorsEndParsing)
{
    for (const char *stop : {"&", "|", ">", ">out.txt", "&&", "|less"}) {
        run({"a.k64", stop, "b.k64", "-x"});
        EXPECT_STREQ(config.cart_arg, "a.k64") << stop;
        EXPECT_EQ(config.headless, 0) << stop;
    }
    run({"-display", ">", "5"});
    EXPECT_EQ(config.display, -1) << "a pending value is not taken past the end";

    run({"a&b.k64"});
    EXPECT_STREQ(config.cart_arg, "a&b.k64") << "only the first character ends the list";
}

TEST_F(ArgsTest, DisplayReadsDecimalLeniently)
{
    run({"-display", "12abc"});
    EXPECT_EQ(config.display, 12);
    run({"-display", "abc"});
    EXPECT_EQ(config.display, -1) << "no digits: unchanged";
    run({"-display", "99999999999"});
    EXPECT_EQ(config.display, INT32_MAX);
}

TEST_F(ArgsTest, LongValuesAreCutToTheirFields)
{
    std::string long_text(3000, 'q');
    // A home starting with a space is stored but names no folder, so nothing
    // is created for it.
    run({"-home", " " + long_text, "-user_id", long_text, "-username", long_text, "-session_token",
         long_text, long_text});
    EXPECT_EQ(strlen(config.home), 1023u);
    EXPECT_EQ(strlen(config.user_id), 255u);
    EXPECT_EQ(strlen(config.username), 255u);
    EXPECT_EQ(strlen(config.session_token), 255u);
    EXPECT_EQ(strlen(config.cart_arg), 1023u);
    EXPECT_EQ(config.display, -1);
}

TEST_F(ArgsTest, HomeCreatesItsFolder)
{
    run({"-home", "mydata"});
    EXPECT_STREQ(config.home, "mydata");
    EXPECT_TRUE(folder_exists(dir / "mydata"));

    run({"-home", "deep\\er/nest"});
    EXPECT_TRUE(folder_exists(dir / "deep/er/nest"));
    EXPECT_FALSE(folder_exists(dir / "deep\\er")) << "created under its slash form";

    run({"-home", " spaced"});
    EXPECT_FALSE(folder_exists(dir / " spaced"));
}
