// The platform functions as programs call them: clipboard, window title and
// icon, and opening host paths (with a stand-in opener on PATH).
#include "host/window_fixture.h"

#include "formats/hosttext.h"
#include "gfx/draw_state.h"
#include "host/platform_api.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "pdisk/mount.h"

#include <sys/stat.h>

#include <chrono>
#include <algorithm>
#include <filesystem>
#include <thread>

struct HostWindowPlatform : HostWindowFixture {
    Process *wm = nullptr;

    void SetUp() override
    {
        HostWindowFixture::SetUp();
        wm = get_process(3);
        os_add_public_c_functions(wm->L);
        lua_register(wm->L, "_set_host_window_title", lua54__set_host_window_title);
        lua_register(wm->L, "_set_host_window_icon", lua54__set_host_window_icon);
        cproc = wm;
    }

    // Runs a chunk in process 3 and returns its first result as a string.
    std::string run(const std::string &code)
    {
        lua_settop(wm->L, 0);
        if (luaL_dostring(wm->L, code.c_str()) != LUA_OK)
            return "error: " + std::string(lua_tostring(wm->L, -1));
        if (lua_gettop(wm->L) == 0)
            return "<nothing>";
        size_t n;
        const char *s = luaL_tolstring(wm->L, 1, &n);
        return std::string(s, n);
    }
};

TEST_F(HostWindowPlatform, ClipboardTextIsConvertedBothWays)
{
    int code = 0;
    uint8_t seq[HOSTTEXT_MAX_SEQ];
    int seq_len = 0;
    for (int c = 128; c < 256 && !seq_len; c++)
        if ((seq_len = hosttext_code_utf8(c, seq)) > 1)
            code = c;
    ASSERT_GT(seq_len, 1) << "some kernel code has a multi-byte host form";

    std::string kernel_text = std::string("a") + (char)code + "b";
    lua_pushlstring(wm->L, kernel_text.data(), kernel_text.size());
    lua_setglobal(wm->L, "k");
    EXPECT_EQ(run("_set_host_clipboard_text(k)"), "<nothing>");

    char *host = SDL_GetClipboardText();
    EXPECT_EQ(std::string(host), "a" + std::string((const char *)seq, (size_t)seq_len) + "b");
    SDL_free(host);
    EXPECT_EQ(run("return _get_host_clipboard_text()"), kernel_text);

    SDL_SetClipboardText("line\r\nnext");
    EXPECT_EQ(run("return _get_host_clipboard_text()"), "line\nnext");
    EXPECT_EQ(run("return _req_host_clipboard_text()"), "<nothing>");
    EXPECT_EQ(run("_set_host_clipboard_text({}) return _get_host_clipboard_text()"), "line\nnext")
        << "a non-string leaves the clipboard alone";
}

TEST_F(HostWindowPlatform, TitleFromLuaHasTheSameLimit)
{
    os_apply_video_config();
    run("_set_host_window_title(string.rep('t', 1023))");
    EXPECT_EQ(std::string(SDL_GetWindowTitle(host_window.window)), std::string(1023, 't'));
    run("_set_host_window_title(string.rep('u', 1024))");
    EXPECT_EQ(std::string(SDL_GetWindowTitle(host_window.window)), std::string(1023, 't'));
    run("_set_host_window_title(nil)");
    EXPECT_EQ(std::string(host_window.title), std::string(1023, 't'));
}

TEST_F(HostWindowPlatform, IconFromA16x16ByteUserdataInTheCallersColours)
{
    ram_store<uint32_t>(wm, GFX_RGB_PAL + 4 * 9, 0x00ABCDEF);
    run("local u = userdata('u8', 16, 16) u:set(5, 0, 9) _set_host_window_icon(u)");
    ASSERT_TRUE(host_window.has_icon);
    EXPECT_EQ(host_window.icon[40], 0xFFABCDEFu) << "block 5 of the first row starts at x = 40";
    EXPECT_EQ(host_window.icon[0], 0u);

    host_window.icon[40] = 0;
    run("_set_host_window_icon(userdata('u8', 16, 15))");
    run("_set_host_window_icon(userdata('i16', 16, 16))");
    run("_set_host_window_icon('nope')");
    EXPECT_TRUE(host_window.has_icon);
    EXPECT_EQ(host_window.icon[40], 0u) << "other values leave the icon alone";

    run("_set_host_window_icon()");
    EXPECT_FALSE(host_window.has_icon);
}

// A stand-in for xdg-open that appends its argument to a file.
struct HostWindowOpen : HostWindowPlatform {
    TempFolder bin, files;
    std::string record = bin / "opened.txt";
    EnvGuard path{"PATH", (bin.path + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")).c_str()};

    void SetUp() override
    {
        HostWindowPlatform::SetUp();
        write_text_file(bin / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record + "'\n");
        chmod((bin / "xdg-open").c_str(), 0755);
        write_text_file(files / "note.txt", "hello");
        pfile_init();
        pfile_reset();
        ASSERT_EQ(mount_host_path(files.path.c_str(), "/h"), 0);
    }
    void TearDown() override
    {
        pfile_init();
        HostWindowPlatform::TearDown();
    }

    // What the opener received, once it has run `count` times (or 5 s passed).
    std::string opened(size_t count)
    {
        for (int i = 0; i < 500; i++) {
            std::string text = read_text_file(record);
            if ((size_t)std::count(text.begin(), text.end(), '\n') >= count)
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return read_text_file(record);
    }
};

TEST_F(HostWindowOpen, HostFilesAndWebAddressesGoToTheOpener)
{
    std::string real = std::filesystem::canonical(files / "note.txt").string();
    run("_open_host_path('/h/note.txt')");
    EXPECT_EQ(opened(1), real + "\n");
    run("_open_host_path('https://example.com/a b')");
    EXPECT_EQ(opened(2), real + "\nhttps://example.com/a b\n") << "passed as one argument, no shell";
}

TEST_F(HostWindowOpen, NothingOpensForMissingOrNonHostPathsOrSandboxedCallers)
{
    mount_ram_folder("/r");
    run("_open_host_path('/h/missing.txt')");
    run("_open_host_path('/r')");
    run("_open_host_path('http://example.com/')");
    run("_open_host_path(42)");
    wm->sandboxed = 1;
    run("_open_host_path('/h/note.txt')");
    wm->sandboxed = 0;
    run("_open_host_path('/h/note.txt')");   // the marker that the others are done
    std::string real = std::filesystem::canonical(files / "note.txt").string();
    EXPECT_EQ(opened(1), real + "\n");
}

TEST_F(HostWindowOpen, ReportsWhetherTheOpenerStarted)
{
    EXPECT_EQ(os_open_host_path("/h/note.txt"), 0);
    EXPECT_EQ(os_open_host_path("/h/none"), -1);
    EXPECT_EQ(os_open_host_path(""), -1);
    EnvGuard no_opener("PATH", "/nonexistent");
    EXPECT_EQ(os_open_host_path("/h/note.txt"), -1);
}
