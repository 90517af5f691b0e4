// A host window on SDL's offscreen video driver: real SDL windows, renderer
// and texture without a display. Processes 1-3 exist, 3 being the video
// process; the kernel is not headless and windows are not full screen.
#pragma once
#include <gtest/gtest.h>

#include "host/log.h"
#include "host/temp_folder.h"
#include "host/window.h"
#include "kernel/kernel.h"
#include "process/process.h"

struct HostWindowFixture : ::testing::Test {
    TempFolder home;
    HomeGuard home_guard{home.path};
    EnvGuard driver{"SDL_VIDEODRIVER", "offscreen"};
    EnvGuard audio{"SDL_AUDIODRIVER", "dummy"};
    // the software renderer without a GL surface keeps the host's GL
    // drivers out of the process
    EnvGuard render{"SDL_RENDER_DRIVER", "software"};
    EnvGuard accel{"SDL_FRAMEBUFFER_ACCELERATION", "0"};
    AppState saved_app = app;
    Config saved_config = config;

    void SetUp() override
    {
        config_set_start_values();
        snprintf(config.home, sizeof config.home, "%s", home.path.c_str());
        config.fullscreen = 0;
        processes_init();
        for (int i = 0; i < 3; i++)
            create_process_from_code("x = 1", "p", "/ram/p.lua", "", "");
        ASSERT_NE(get_process(3), nullptr);
        host_window = HostWindow{};
        os_system_init();
        ASSERT_TRUE(host_window.video_available);
    }
    void TearDown() override
    {
        os_destroy_window();
        SDL_Quit();
        host_window = HostWindow{};
        processes_init();
        vemo_log_close();
        app = saved_app;
        config = saved_config;
    }

    static std::pair<int, int> window_size()
    {
        int w = 0, h = 0;
        if (host_window.window)
            SDL_GetWindowSize(host_window.window, &w, &h);
        return {w, h};
    }
    static std::pair<int, int> texture_size()
    {
        int w = 0, h = 0;
        if (host_window.texture)
            SDL_QueryTexture(host_window.texture, nullptr, nullptr, &w, &h);
        return {w, h};
    }
    std::string log_text()
    {
        vemo_log_close();
        return read_text_file(home / "log.txt");
    }
};
