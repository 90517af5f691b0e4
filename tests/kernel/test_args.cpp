// The command line, applied to freshly started settings.
#include "kernel/kernel.h"

#include "../host/temp_folder.h"
#include "host/paths.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Runs in a temporary working folder so that relative -home folders land there.
struct ConfigArgs : ::testing::Test {
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
        process_arguments((int)args.size(), argv.data());
    }
};

} // namespace

TEST_F(ConfigArgs, HomeWithBackslashesIsTheDataFolder)
{
    run({"-home", "C:\\data"});
    EXPECT_EQ(vemo_data_path("kestrane_config.txt"), "C:/data/kestrane_config.txt");
    EXPECT_TRUE(folder_exists(dir / "C:/data"));
}

TEST_F(ConfigArgs, ValuesGoToThePendingOption)
{
    run({"-x", "first.k64", "game.k64"});
    EXPECT_EQ(config.headless, 1);
    EXPECT_STREQ(config.cart_arg, "game.k64") << "a later positional replaces an earlier one";

    run({"-foo", "bar", "-display", "1"});
    EXPECT_STREQ(config.cart_arg, "") << "an unknown option eats the next value";
    EXPECT_EQ(config.display, 1);

    run({"-display", "-x", "7"});
    EXPECT_EQ(config.display, -1) << "an option followed by an option loses its value";
    EXPECT_EQ(config.headless, 1);
    EXPECT_STREQ(config.cart_arg, "7");

    run({"-display", "-1", "next"});
    EXPECT_EQ(config.display, -1) << "-1 is an unknown option, which eats 'next'";
    EXPECT_STREQ(config.cart_arg, "");
}

TEST_F(ConfigArgs, OptionsMatchByPrefix)
{
    run({"-xyz", "-displayed", "4", "-user_idx", "id", "-usernames", "nm", "-session_tokens", "t",
         "-use_system_romfile", "-disp", "lost"});
    EXPECT_EQ(config.headless, 1);
    EXPECT_EQ(config.display, 4);
    EXPECT_STREQ(config.user_id, "id");
    EXPECT_STREQ(config.username, "nm");
    EXPECT_STREQ(config.session_token, "t");
    EXPECT_EQ(config.use_system_rom, 1);
    EXPECT_STREQ(config.cart_arg, "") << "a shortened option is unknown";
}

TEST_F(ConfigArgs, TerminatorsAndLongValues)
{
    for (const char *stop : {"&", "|", ">out.txt"}) {
        run({"-display", stop, "5", "-x"});
        EXPECT_EQ(config.display, -1) << stop;
        EXPECT_EQ(config.headless, 0) << stop;
    }
    std::string long_text(3000, 'q');
    run({"-user_id", long_text, long_text});
    EXPECT_EQ(strlen(config.user_id), 255u);
    EXPECT_EQ(strlen(config.cart_arg), 1023u);
}
