#include "host/paths.h"

#include "host/log.h"
#include "kernel/kernel.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <vector>

namespace fs = std::filesystem;

TEST(PathText, FixBackslashesInPlace)
{
    char text[] = "C:\\a\\\\b/c\\";
    vemo_fix_backslashes(text);
    EXPECT_STREQ(text, "C:/a//b/c/");

    std::string s = "\\x\\";
    vemo_fix_backslashes(s);
    EXPECT_EQ(s, "/x/");
}

TEST(PathText, TrimDropsOnlyBytesBelow33AtTheEnds)
{
    EXPECT_EQ(vemo_trim(" \t\r\n a b \x01\x1f\x20"), "a b");
    EXPECT_EQ(vemo_trim("\xe9t\xe9"), "\xe9t\xe9") << "high bytes are text, not blanks";
    EXPECT_EQ(vemo_trim("!x!"), "!x!");
    EXPECT_EQ(vemo_trim(" \n\t "), "");
    EXPECT_EQ(vemo_trim(""), "");
    EXPECT_EQ(vemo_trim(nullptr), "");
}

TEST(PathFolders, MkdirCreatesOneFolderAndAcceptsExisting)
{
    TempFolder dir;
    EXPECT_EQ(vemo_mkdir((dir / "a").c_str()), 0);
    EXPECT_TRUE(folder_exists(dir / "a"));
    EXPECT_EQ(vemo_mkdir((dir / "a").c_str()), 0);
    EXPECT_EQ(vemo_mkdir((dir / "x/y").c_str()), -1) << "no parents";

    write_text_file(dir / "file", "data");
    EXPECT_EQ(vemo_mkdir((dir / "file").c_str()), -1);
    EXPECT_EQ(vemo_mkdir(""), -1);
}

// Each test gets a temporary working folder, HOME and XDG variables, and no
// -home or desktop override.
struct HostPathTest : ::testing::Test {
    TempFolder dir;
    CwdGuard cwd{dir.path};
    EnvGuard home_env{"HOME", (dir / "home").c_str()};
    EnvGuard data_env{"XDG_DATA_HOME", nullptr};
    EnvGuard config_env{"XDG_CONFIG_HOME", nullptr};
    HomeGuard home{""};
    std::string saved_desktop = config.desktop_path;

    void SetUp() override
    {
        fs::create_directory(dir / "home");
        config.desktop_path[0] = 0;
    }
    void TearDown() override
    {
        vemo_set_export_name(nullptr);
        snprintf(config.desktop_path, sizeof config.desktop_path, "%s", saved_desktop.c_str());
    }
};

TEST_F(HostPathTest, HomeArgumentWithBackslashesBecomesRelativeDataFolder)
{
    const char *argv[] = {"kestrane", "-home", "C:\\data"};
    process_arguments(3, (char **)argv);
    EXPECT_EQ(vemo_data_path("log.txt"), "C:/data/log.txt");
    EXPECT_TRUE(folder_exists(dir / "C:/data"));
}

TEST_F(HostPathTest, HomeStartingWithSpaceIsNotUsed)
{
    snprintf(config.home, sizeof config.home, " %s", dir.path.c_str());
    EXPECT_EQ(vemo_home_folder(), "");
    EXPECT_EQ(vemo_data_path("n"), dir / "home/.local/share/Kestrane/exp/shared/n");
}

TEST_F(HostPathTest, XdgDataHomeHoldsTheSharedFolder)
{
    fs::create_directory(dir / "xdg");
    EnvGuard xdg("XDG_DATA_HOME", (dir / "xdg").c_str());
    EXPECT_EQ(vemo_data_path("kestrane_config.txt"), dir / "xdg/Kestrane/exp/shared/kestrane_config.txt");
    EXPECT_TRUE(folder_exists(dir / "xdg/Kestrane/exp/shared"));
}

TEST_F(HostPathTest, MissingOrRelativeXdgDataHomeFallsBackBelowHome)
{
    for (const char *value : {(const char *)nullptr, "", "relative/data"}) {
        EnvGuard xdg("XDG_DATA_HOME", value);
        EXPECT_EQ(vemo_data_path(""), dir / "home/.local/share/Kestrane/exp/shared/")
            << (value ? value : "(unset)");
    }
    EXPECT_TRUE(folder_exists(dir / "home/.local/share/Kestrane/exp/shared"))
        << "the missing base folders are created";
    EXPECT_FALSE(folder_exists(dir / "relative"));
}

TEST_F(HostPathTest, ExportNameSelectsItsOwnFolder)
{
    vemo_set_export_name("mygame");
    EXPECT_EQ(vemo_data_path("a"), dir / "home/.local/share/Kestrane/exp/mygame/a");
    EXPECT_TRUE(folder_exists(dir / "home/.local/share/Kestrane/exp/mygame"));

    vemo_set_export_name("");
    EXPECT_EQ(vemo_data_path("a"), dir / "home/.local/share/Kestrane/exp/shared/a");
}

TEST_F(HostPathTest, ExportNameThatLeavesTheExportsFolderIsRefused)
{
    for (const char *name : {"..", ".", "../../evil", "a/b", "a\\b"}) {
        vemo_set_export_name(name);
        EXPECT_EQ(vemo_data_path("a"), dir / "home/.local/share/Kestrane/exp/shared/a") << name;
    }
}

TEST_F(HostPathTest, DesktopFromUserDirsWithHomeExpanded)
{
    fs::create_directories(dir / "cfg");
    fs::create_directories(dir / "home/Schreibtisch");
    write_text_file(dir / "cfg/user-dirs.dirs",
                    "# written by xdg-user-dirs-update\n"
                    "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                    "  XDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n");
    EnvGuard cfg("XDG_CONFIG_HOME", (dir / "cfg").c_str());
    EXPECT_EQ(vemo_desktop_path("shot.png"), dir / "home/Schreibtisch/shot.png");
}

TEST_F(HostPathTest, DesktopDefaultsToHomeDesktop)
{
    fs::create_directories(dir / "home/Desktop");
    EXPECT_EQ(vemo_desktop_path("a.png"), dir / "home/Desktop/a.png");
}

TEST_F(HostPathTest, MissingDesktopFolderFallsBackToHome)
{
    TempFolder logdir;
    HomeGuard logs(logdir.path);
    vemo_log_close();
    EXPECT_EQ(vemo_desktop_path("a.png"), dir / "home/a.png");
    vemo_log_close();
    EXPECT_NE(read_text_file(logdir / "log.txt").find("Desktop not found"), std::string::npos);
}

TEST_F(HostPathTest, DesktopOverrideWinsAndLosesTrailingSlash)
{
    snprintf(config.desktop_path, sizeof config.desktop_path, "%s", "D:\\shots\\");
    EXPECT_EQ(vemo_desktop_path("x.png"), "D:/shots/x.png");
}

struct ProgramPathTest : HostPathTest {
    std::string saved_argv0 = vemo_argv0;
    void TearDown() override
    {
        snprintf(vemo_argv0, sizeof vemo_argv0, "%s", saved_argv0.c_str());
        HostPathTest::TearDown();
    }
    void set_argv0(const std::string &path) { snprintf(vemo_argv0, sizeof vemo_argv0, "%s", path.c_str()); }
};

TEST_F(ProgramPathTest, SymlinkedExecutableUsesTheRealFolder)
{
    fs::create_directories(dir / "real");
    write_text_file(dir / "real/kestrane", "");
    fs::create_symlink(dir / "real/kestrane", dir / "link");
    set_argv0(dir / "link");
    EXPECT_EQ(vemo_program_path("data"), dir / "real/data");
}

TEST_F(ProgramPathTest, BareNameUsesTheRunningExecutable)
{
    set_argv0("kestrane");
    std::string p = vemo_program_path("");
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p.front(), '/');
    EXPECT_EQ(p.back(), '/');
    EXPECT_TRUE(folder_exists(p));
}
