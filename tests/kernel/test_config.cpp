// The configuration file: default contents, mount lines, an unwritable file.
#include "kernel/config.h"

#include "../host/temp_folder.h"
#include "host/log.h"
#include "pdisk/mount.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A data folder in a temporary folder (the real data folder is never
// touched) and an empty mount table.
struct ConfigFile : ::testing::Test {
    TempFolder dir;
    std::string home = dir / "data folder";
    HomeGuard home_guard{home};
    EnvGuard xdg{"XDG_DATA_HOME", (dir / "xdg").c_str()};

    void SetUp() override
    {
        std::filesystem::create_directory(home);
        vemo_log_close();   // the log reopens in this data folder
        pfile_init();
    }
    void TearDown() override
    {
        vemo_log_close();
        pfile_init();
    }

    // "point=origin" for each mount, "/" for the root mount.
    static std::vector<std::string> mounts()
    {
        std::vector<std::string> out;
        for (int i = 0; i < pdisk_num_mounts(); i++) {
            const Mount *m = pdisk_mount(i);
            out.push_back((m->mount_point.empty() ? "/" : m->mount_point) + "=" + m->origin);
        }
        return out;
    }
};

} // namespace

TEST_F(ConfigFile, MissingFileGetsDefaultContentsAndRootMount)
{
    process_config();
    std::string drive = home + "/drive";
    EXPECT_EQ(read_text_file(home + "/kestrane_config.txt"), "# kestrane config\n\nmount / " + drive + "\n");
    EXPECT_TRUE(folder_exists(drive));
    EXPECT_EQ(mounts(), std::vector<std::string>{"/=" + drive}) << "the drive path holds a space";
    vemo_log_close();
    std::string log = read_text_file(home + "/log.txt");
    EXPECT_NE(log.find("writing default config to " + home + "/kestrane_config.txt"), std::string::npos) << log;

    // Later resets read the user's file and never rewrite it.
    write_text_file(home + "/kestrane_config.txt", "# mine\nmount / " + dir.path + "\n");
    pfile_init();
    process_config();
    EXPECT_EQ(read_text_file(home + "/kestrane_config.txt"), "# mine\nmount / " + dir.path + "\n");
    EXPECT_EQ(mounts(), std::vector<std::string>{"/=" + dir.path});
}

TEST_F(ConfigFile, MountLinesKeepSpacesInHostPaths)
{
    write_text_file(home + "/kestrane_config.txt",
                    "# mount /commented /nowhere\n"
                    "mount /desktop /home/my user/My Desktop\r\n"
                    " mount /indented /x\n"
                    "mounts /plural /x\n"
                    "mount\t/tab /x\n"
                    "mount /deep/er   /srv/two  spaces\n"
                    "mount /last /no/line/end");
    process_config();
    EXPECT_EQ(mounts(), (std::vector<std::string>{"/desktop=/home/my user/My Desktop",
                                                  "/deep/er=/srv/two  spaces", "/last=/no/line/end"}));
}

TEST_F(ConfigFile, UnusableMountLinesMountNothing)
{
    std::string point = "/" + std::string(254, 'p');
    EXPECT_EQ(config_apply_line(("mount " + point + "q /x").c_str()), 0) << "256 characters: not cut short";
    EXPECT_EQ(config_apply_line(("mount " + point + " /x").c_str()), 1);
    for (const char *line : {"mount /nohost   \r", "mount  /x /y", "mount /bad*name /y"})
        EXPECT_EQ(config_apply_line(line), 0) << line;
}

TEST_F(ConfigFile, UnwritableFileExitsWithStatusOne)
{
    // The data folder is a plain file: nothing can be created below it.
    write_text_file(dir / "plain", "x");
    HomeGuard plain{dir / "plain"};
    // Standard output goes to the stream the death test reads.
    EXPECT_EXIT((dup2(2, 1), process_config()), ::testing::ExitedWithCode(1),
                "ERROR: could not write to .*/plain/kestrane_config.txt");
}
