// Window creation and recreation, texture sizes and presentation on real SDL
// windows (offscreen driver).
#include "host/window_fixture.h"

#include "gfx/draw_state.h"
#include "lua.hpp"
#include "memory/ram.h"

#include <vector>

using Size = std::pair<int, int>;

TEST_F(HostWindowFixture, StartUpLogsEachSubsystemInOrder)
{
    std::string log = log_text();
    size_t at = 0;
    for (const char *m : {"timer", "video", "joystick", "gamecontroller", "events", "audio"}) {
        size_t found = log.find(std::string("SDL_Init Module: ") + m + "\n", at);
        ASSERT_NE(found, std::string::npos) << m;
        at = found;
    }
    EXPECT_NE(log.find("[video] setting SDL_HINT_VIDEO_ALLOW_SCREENSAVER hint: 1"), std::string::npos);
    EXPECT_EQ(log.find("SDL_HINT_RENDER_DRIVER"), std::string::npos) << "only with sdl_render_driver 1";
    EXPECT_STREQ(host_window.title, "Kestrane");
}

TEST_F(HostWindowFixture, WindowedSizeFollowsPixelScale)
{
    const std::pair<int, Size> cases[] = {
        {0, {960, 540}}, {-1, {480, 270}}, {3, {1440, 810}}, {20, {7680, 4320}}};
    for (const auto &[scale, size] : cases) {
        os_destroy_window();   // a fresh window: no old size to keep
        config.pixel_scale = scale;
        os_apply_video_config();
        EXPECT_EQ(window_size(), size) << "pixel_scale " << scale;
    }
    EXPECT_EQ(app.video_configured, 1);
}

TEST_F(HostWindowFixture, FullScreenTakesTheDesktopSize)
{
    SDL_DisplayMode desktop;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    config.fullscreen = 1;
    os_apply_video_config();
    EXPECT_EQ(window_size(), Size(desktop.w, desktop.h));
    EXPECT_TRUE(SDL_GetWindowFlags(host_window.window) & SDL_WINDOW_FULLSCREEN_DESKTOP);

    config.fullscreen_window = 1;
    os_apply_video_config();
    EXPECT_EQ(window_size(), Size(desktop.w, desktop.h));
    Uint32 flags = SDL_GetWindowFlags(host_window.window);
    EXPECT_TRUE(flags & SDL_WINDOW_BORDERLESS);
    EXPECT_FALSE(flags & SDL_WINDOW_FULLSCREEN);
    EXPECT_NE(log_text().find("creating SDL window"), std::string::npos);
}

TEST_F(HostWindowFixture, TextureFollowsTheModeAndWindowSize)
{
    config.pixel_perfect = 0;
    os_apply_video_config();   // 960 x 540
    EXPECT_EQ(host_window.prescale, 3);
    EXPECT_EQ(texture_size(), Size(1440, 810));

    config.pixel_perfect = 1;
    os_apply_video_config();
    EXPECT_EQ(host_window.prescale, 1);
    EXPECT_EQ(texture_size(), Size(480, 270));

    config.blit_720p = 1;
    os_apply_video_config();
    EXPECT_EQ(texture_size(), Size(1280, 720)) << "720p wins over pixel_perfect";
}

TEST_F(HostWindowFixture, RecreationKeepsSizeTitleIconAndTheSystem)
{
    Process *wm = get_process(3);
    lua_pushinteger(wm->L, 1234);
    lua_setglobal(wm->L, "kept");

    os_apply_video_config();
    SDL_SetWindowSize(host_window.window, 1000, 500);
    os_set_window_title("my title");
    uint8_t pixels[256] = {};
    uint32_t palette[64] = {};
    os_set_window_icon(pixels, palette);

    SDL_Window *old = host_window.window;
    config.pixel_perfect = 0;
    config.stretch = 1;
    os_apply_video_config();
    EXPECT_NE(host_window.window, nullptr);
    (void)old;   // may be reused by SDL; the size and title show it is a new one
    EXPECT_EQ(window_size(), Size(1000, 500)) << "a windowed window keeps the user's size";
    EXPECT_STREQ(SDL_GetWindowTitle(host_window.window), "my title");
    EXPECT_TRUE(host_window.has_icon);
    EXPECT_EQ(host_window.prescale, 2) << "chosen again for the kept size";

    ASSERT_EQ(get_process(3), wm);
    lua_getglobal(wm->L, "kept");
    EXPECT_EQ(lua_tointeger(wm->L, -1), 1234);
    lua_pop(wm->L, 1);
}

TEST_F(HostWindowFixture, NoWindowWhileHeadlessOrWithoutVideoProcess)
{
    config.headless = 1;
    os_apply_video_config();
    EXPECT_EQ(host_window.window, nullptr);
    EXPECT_EQ(app.video_configured, 0);

    config.headless = 0;
    config.vproc = 7;
    os_apply_video_config();
    EXPECT_EQ(host_window.window, nullptr);
    EXPECT_EQ(app.video_configured, 0);

    config.vproc = 0;
    os_apply_video_config();
    EXPECT_EQ(host_window.window, nullptr);
}

TEST_F(HostWindowFixture, StandAloneCartridgeSizesTheWindowFromItsDisplay)
{
    Process *cart = create_process_from_code("x = 1", "cart", "/ram/cart.lua", "", "");
    ASSERT_TRUE(cart && cart->id == 4);
    config.vproc = 4;
    config.pixel_scale = 1;
    ram_store<uint16_t>(cart, GFX_DISPLAY_W, 240);
    ram_store<uint16_t>(cart, GFX_DISPLAY_H, 135);
    ram_store<uint8_t>(cart, GFX_VIDEO_MODE, 0);
    os_apply_video_config();
    EXPECT_EQ(window_size(), Size(240, 135));

    os_destroy_window();
    ram_store<uint8_t>(cart, GFX_VIDEO_MODE, 3);
    os_apply_video_config();
    EXPECT_EQ(window_size(), Size(480, 270)) << "mode 3 doubles";

    os_destroy_window();
    ram_store<uint8_t>(cart, GFX_VIDEO_MODE, 4);
    os_apply_video_config();
    EXPECT_EQ(window_size(), Size(720, 405)) << "mode 4 triples";
    EXPECT_NE(log_text().find("vproc 4: 720 405"), std::string::npos);

    os_destroy_window();
    app.video_configured = 0;
    ram_store<uint16_t>(cart, GFX_DISPLAY_W, 0);
    ram_store<uint16_t>(cart, GFX_DISPLAY_H, 0);
    os_apply_video_config();
    EXPECT_EQ(host_window.window, nullptr) << "a display of no size asks for no window";
    EXPECT_EQ(app.video_configured, 0);
}

TEST_F(HostWindowFixture, PresentShowsTheFrameInTheDestinationRectangle)
{
    config.pixel_perfect = 1;
    os_apply_video_config();
    SDL_SetWindowSize(host_window.window, 1000, 600);
    os_apply_video_config();   // the new window takes the size from the old
    ASSERT_EQ(window_size(), Size(1000, 600));
    std::vector<uint32_t> frame(480 * 270, 0x00FF0000);
    for (int y = 0; y < 270; y++)
        for (int x = 240; x < 480; x++)
            frame[y * 480 + x] = 0x000000FF;
    os_present_frame(frame.data(), 480, 270);

    // The software renderer keeps what it presented in its back buffer.
    std::vector<uint32_t> shot(1000 * 600);
    SDL_Rect all = {0, 0, 1000, 600};
    ASSERT_EQ(SDL_RenderReadPixels(host_window.renderer, &all, SDL_PIXELFORMAT_ARGB8888, shot.data(), 4000), 0)
        << SDL_GetError();
    auto at = [&](int x, int y) { return shot[y * 1000 + x] & 0xFFFFFF; };
    // 960 x 540 at (20, 30); the halves meet at 20 + 480.
    EXPECT_EQ(at(19, 300), 0u);
    EXPECT_EQ(at(20, 300), 0xFF0000u);
    EXPECT_EQ(at(499, 30), 0xFF0000u);
    EXPECT_EQ(at(500, 30), 0x0000FFu);
    EXPECT_EQ(at(979, 569), 0x0000FFu);
    EXPECT_EQ(at(980, 569), 0u);
    EXPECT_EQ(at(500, 29), 0u);
    EXPECT_EQ(at(500, 570), 0u);
}

TEST_F(HostWindowFixture, NoPictureAreaSkipsTheFrameWithALogLine)
{
    config.pixel_perfect = 1;
    config.stretch = 1;
    os_apply_video_config();
    SDL_SetWindowSize(host_window.window, 400, 600);
    os_apply_video_config();
    std::vector<uint32_t> frame(480 * 270, 0x00FFFFFF);
    os_present_frame(frame.data(), 480, 270);
    EXPECT_NE(log_text().find("[blit_to_sdl_window_hardware] can not find blit dest_rect for this frame\n"),
              std::string::npos);
}

TEST_F(HostWindowFixture, TitleOf1023CharactersIsAcceptedAnd1024Ignored)
{
    os_apply_video_config();
    std::string t1023(1023, 'a'), t1024(1024, 'b');
    os_set_window_title(t1023.c_str());
    EXPECT_EQ(std::string(SDL_GetWindowTitle(host_window.window)), t1023);
    os_set_window_title(t1024.c_str());
    EXPECT_EQ(std::string(host_window.title), t1023);
}

TEST_F(HostWindowFixture, IconBlocksComeFromThePaletteWithIndexZeroClear)
{
    uint8_t pixels[256] = {};
    pixels[0] = 1;          // top left block
    pixels[15] = 65;        // top right: index & 63 = 1
    pixels[16 * 15] = 7;    // bottom left
    uint32_t palette[64] = {};
    palette[1] = 0x00123456;
    palette[7] = 0xAA654321;   // the top byte is not alpha
    os_set_window_icon(pixels, palette);
    ASSERT_TRUE(host_window.has_icon);
    auto px = [](int x, int y) { return host_window.icon[y * 128 + x]; };
    EXPECT_EQ(px(0, 0), 0xFF123456u);
    EXPECT_EQ(px(7, 7), 0xFF123456u);
    EXPECT_EQ(px(8, 0), 0u);
    EXPECT_EQ(px(127, 0), 0xFF123456u);
    EXPECT_EQ(px(0, 127), 0xFF654321u);
    EXPECT_EQ(px(64, 64), 0u);

    os_set_window_icon(nullptr, nullptr);
    EXPECT_FALSE(host_window.has_icon);
}
