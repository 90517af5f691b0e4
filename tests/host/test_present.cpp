// Filling the texture (prescale and the 720p filter), the picture shown in a
// real window (offscreen driver, software renderer) and frame pacing.
#include "host/present.h"
#include "host/window.h"
#include "host/window_fixture.h"

#include "host/clock.h"
#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint32_t GARBAGE = 0xDEADBEEF;
constexpr uint32_t WHITE = 0x00FFFFFF;
constexpr uint32_t GREY = 0x00808080;

struct Texture {
    int w, h, pitch;
    std::vector<uint32_t> px;
    Texture(int w_, int h_, int pitch_) : w(w_), h(h_), pitch(pitch_), px((size_t)pitch_ * h_, GARBAGE) {}
    uint32_t at(int x, int y) const { return px[(size_t)y * pitch + x]; }
};

} // namespace

TEST(HostWindowPresent, PrescaleRepeatsEachPixelAcrossAndDown)
{
    const uint32_t src[3 * 2] = {1, 2, 3, 4, 5, 6};
    for (int s = 1; s <= 4; s++) {
        Texture t(3 * s, 2 * s, 3 * s + 5);   // rows padded, as a locked texture may be
        present_fill_scaled(src, 3, 2, s, t.px.data(), t.pitch, t.w, t.h);
        for (int y = 0; y < t.h; y++)
            for (int x = 0; x < t.w; x++)
                ASSERT_EQ(t.at(x, y), src[(y / s) * 3 + x / s]) << "scale " << s << " at " << x << "," << y;
        EXPECT_EQ(t.at(t.w, 0), GARBAGE) << "padding past the row is left alone";
    }
}

TEST(HostWindowPresent, PrescaleClipsToTheTextureAndBlanksWhatHasNoSource)
{
    const uint32_t src[2 * 2] = {1, 2, 3, 4};
    Texture small(3, 3, 3);   // cuts the second source column and row in half
    present_fill_scaled(src, 2, 2, 2, small.px.data(), small.pitch, small.w, small.h);
    EXPECT_EQ(small.px, (std::vector<uint32_t>{1, 1, 2, 1, 1, 2, 3, 3, 4}));

    Texture big(5, 5, 5);     // larger than 2 x 2 at scale 2
    present_fill_scaled(src, 2, 2, 2, big.px.data(), big.pitch, big.w, big.h);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(big.at(4, i), 0u);
        EXPECT_EQ(big.at(i, 4), 0u);
    }
    EXPECT_EQ(big.at(3, 3), 4u);
}

TEST(HostWindowPresent, Filter720pThreePixelsBecomeEightAcross)
{
    // p0 white, p1 black, p2 grey, on every row
    std::vector<uint32_t> src(3 * 3);
    for (int y = 0; y < 3; y++) {
        src[y * 3] = WHITE;
        src[y * 3 + 1] = 0;
        src[y * 3 + 2] = GREY;
    }
    Texture t(8, 8, 8);
    present_fill_720p(src.data(), 3, 3, t.px.data(), t.pitch, 8, 8);
    // q = 3/4 white + 1/4 black = 0x3F + 0x7F per channel; r = black/2 + 0x80/2.
    const std::vector<uint32_t> row = {WHITE, WHITE, 0x00BEBEBE, 0, 0, 0x00404040, GREY, GREY};
    for (int y : {0, 1, 3, 4, 6, 7})   // rows 2 and 5 are blends (next test)
        for (int x = 0; x < 8; x++)
            ASSERT_EQ(t.at(x, y), row[x]) << x << "," << y;
}

TEST(HostWindowPresent, Filter720pBlendsRowsTwoAndFive)
{
    // Rows white, black, grey; one column, so every texture column is equal.
    const uint32_t src[3] = {WHITE, 0, GREY};
    Texture t(8, 8, 8);
    present_fill_720p(src, 1, 3, t.px.data(), t.pitch, 8, 8);
    const uint32_t expect[8] = {WHITE, WHITE, 0x00BEBEBE, 0, 0, 0x00404040, GREY, GREY};
    for (int y = 0; y < 8; y++)
        EXPECT_EQ(t.at(0, y), expect[y]) << "row " << y;
}

TEST(HostWindowPresent, Filter720pBlendsTheAlreadyFilteredRows)
{
    // Row 0: white, black, black; row 1: all black. Texture (2, 2) mixes
    // q = 0x00BEBEBE from row 0 with black from row 3: 0xBE/4 + 0xBE/2.
    const uint32_t src[3 * 3] = {WHITE, 0, 0, 0, 0, 0, 0, 0, 0};
    Texture t(8, 8, 8);
    present_fill_720p(src, 3, 3, t.px.data(), t.pitch, 8, 8);
    EXPECT_EQ(t.at(2, 1), 0x00BEBEBEu);
    EXPECT_EQ(t.at(2, 2), 0x008E8E8Eu);
    EXPECT_EQ(t.at(0, 2), 0x00BEBEBEu);
}

TEST(HostWindowPresent, Filter720pCoversTheWholeTextureFromAFullFrame)
{
    // Grey survives every blend exactly, so any pixel not written or written
    // from the wrong place shows.
    std::vector<uint32_t> src(480 * 270, GREY);
    src[479] = WHITE;           // top right corner
    src[269 * 480] = WHITE;     // bottom left corner
    Texture t(1280, 720, 1280);
    present_fill_720p(src.data(), 480, 270, t.px.data(), t.pitch, 1280, 720);
    EXPECT_EQ(t.at(1279, 0), WHITE);
    EXPECT_EQ(t.at(1278, 1), WHITE);
    EXPECT_EQ(t.at(0, 719), WHITE);
    EXPECT_EQ(t.at(1, 718), WHITE);
    // Blends reach at most one texture pixel beyond a source pixel's own.
    int stray = 0;
    for (int y = 0; y < 720; y++)
        for (int x = 0; x < 1280; x++) {
            bool near_corner = (x >= 1277 && y <= 2) || (x <= 2 && y >= 717);
            stray += !near_corner && t.at(x, y) != GREY;
        }
    EXPECT_EQ(stray, 0);
}

TEST(HostWindowPresent, Filter720pClipsAndBlanks)
{
    std::vector<uint32_t> src(6 * 3, GREY);
    Texture narrow(12, 8, 12);   // cuts the second group of 8
    present_fill_720p(src.data(), 6, 3, narrow.px.data(), narrow.pitch, 12, 8);
    for (uint32_t p : narrow.px)
        ASSERT_EQ(p, GREY);

    Texture wide(24, 12, 24);    // a third group and half a row group with no source
    present_fill_720p(src.data(), 6, 3, wide.px.data(), wide.pitch, 24, 12);
    EXPECT_EQ(wide.at(15, 7), GREY);
    EXPECT_EQ(wide.at(16, 0), 0u);
    EXPECT_EQ(wide.at(0, 8), 0u);
    EXPECT_EQ(wide.at(23, 11), 0u);
}

// ---------------------------------------------------------------------------
// In a window: the texture format and what the window shows.

namespace {

struct ShownMode {
    const char *name;
    int pixel_perfect, blit_720p, stretch;
    int win_w, win_h;
};

// Linear and nearest scaling, down and up, filling the window or letterboxed.
const ShownMode shown_modes[] = {
    {"prescale 2, linear, whole window", 0, 0, 0, 800, 450},
    {"prescale 3, linear, whole window", 0, 0, 0, 960, 540},
    {"prescale 2, linear, bars left and right", 0, 0, 0, 1000, 500},
    {"stretch, whole window", 0, 0, 1, 700, 500},
    {"pixel perfect, bars all round", 1, 0, 0, 1000, 600},
    {"720p, bars all round", 0, 1, 0, 1400, 800},
    {"pixel perfect, cropped", 1, 0, 0, 400, 200},
    {"pixel perfect stretched, uneven factors", 1, 0, 1, 1000, 900},
};

std::vector<uint32_t> noise_frame()
{
    std::vector<uint32_t> f(HOST_BASE_W * HOST_BASE_H);
    uint32_t x = 99;
    for (uint32_t &p : f) {
        x = x * 1664525u + 1013904223u;
        p = x >> 8;
    }
    return f;
}

// Leaves red in the whole back buffer, as an earlier frame might have.
void dirty_back_buffer()
{
    SDL_SetRenderDrawColor(host_window.renderer, 255, 0, 0, 255);
    SDL_RenderClear(host_window.renderer);
}

std::vector<uint32_t> read_window(int w, int h)
{
    std::vector<uint32_t> shot((size_t)w * h);
    SDL_Rect all = {0, 0, w, h};
    EXPECT_EQ(SDL_RenderReadPixels(host_window.renderer, &all, SDL_PIXELFORMAT_ARGB8888, shot.data(), w * 4), 0)
        << SDL_GetError();
    for (uint32_t &p : shot)
        p &= 0xFFFFFF;
    return shot;
}

// The picture drawn the plain way: an ARGB8888 texture, the whole window
// cleared to black, the texture copied into the destination rectangle.
std::vector<uint32_t> reference_picture(const uint32_t *frame, int win_w, int win_h)
{
    HostWindow &hw = host_window;
    SDL_Texture *t = SDL_CreateTexture(hw.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                       hw.tex_w, hw.tex_h);
    EXPECT_NE(t, nullptr) << SDL_GetError();
    if (!t)
        return {};
    bool nearest = config.pixel_perfect || config.blit_720p;
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_NONE);
    SDL_SetTextureScaleMode(t, nearest ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
    std::vector<uint32_t> tex((size_t)hw.tex_w * hw.tex_h);
    if (config.blit_720p)
        present_fill_720p(frame, HOST_BASE_W, HOST_BASE_H, tex.data(), hw.tex_w, hw.tex_w, hw.tex_h);
    else
        present_fill_scaled(frame, HOST_BASE_W, HOST_BASE_H, hw.prescale, tex.data(), hw.tex_w, hw.tex_w,
                            hw.tex_h);
    SDL_UpdateTexture(t, nullptr, tex.data(), hw.tex_w * 4);
    SDL_SetRenderDrawBlendMode(hw.renderer, SDL_BLENDMODE_NONE);
    SDL_SetRenderDrawColor(hw.renderer, 0, 0, 0, 255);
    SDL_RenderClear(hw.renderer);
    SDL_Rect dest;
    get_dest_rect(&dest);
    SDL_RenderCopy(hw.renderer, t, nullptr, &dest);
    std::vector<uint32_t> shot = read_window(win_w, win_h);
    SDL_DestroyTexture(t);
    return shot;
}

} // namespace

using HostWindowPresentShown = HostWindowFixture;

TEST_F(HostWindowPresentShown, SoftwareTextureTakesTheWindowSurfaceFormat)
{
    os_apply_video_config();
    SDL_RendererInfo info;
    ASSERT_EQ(SDL_GetRendererInfo(host_window.renderer, &info), 0);
    ASSERT_STREQ(info.name, "software");
    Uint32 surface = SDL_GetWindowSurface(host_window.window)->format->format;
    Uint32 texture = 0;
    SDL_QueryTexture(host_window.texture, &texture, nullptr, nullptr, nullptr);
    if (surface == SDL_PIXELFORMAT_RGB888 || surface == SDL_PIXELFORMAT_ARGB8888)
        EXPECT_STREQ(SDL_GetPixelFormatName(texture), SDL_GetPixelFormatName(surface))
            << "any other format is converted on every frame";
    else
        EXPECT_EQ(texture, (Uint32)SDL_PIXELFORMAT_ARGB8888);
    SDL_BlendMode blend;
    SDL_GetTextureBlendMode(host_window.texture, &blend);
    EXPECT_EQ(blend, SDL_BLENDMODE_NONE) << "the frame's top byte is not alpha";
}

TEST_F(HostWindowPresentShown, WindowShowsWhatThePlainTextureCopyShows)
{
    std::vector<uint32_t> frame = noise_frame();
    for (const ShownMode &m : shown_modes) {
        SCOPED_TRACE(m.name);
        config.pixel_perfect = m.pixel_perfect;
        config.blit_720p = m.blit_720p;
        config.stretch = m.stretch;
        os_apply_video_config();
        SDL_SetWindowSize(host_window.window, m.win_w, m.win_h);
        os_apply_video_config();   // texture chosen for the new size
        ASSERT_EQ(window_size(), std::make_pair(m.win_w, m.win_h));

        dirty_back_buffer();
        os_present_frame(frame.data(), HOST_BASE_W, HOST_BASE_H);
        std::vector<uint32_t> shown = read_window(m.win_w, m.win_h);
        dirty_back_buffer();
        std::vector<uint32_t> expect = reference_picture(frame.data(), m.win_w, m.win_h);
        ASSERT_EQ(shown.size(), expect.size());
        size_t differ = 0, first = 0;
        for (size_t i = 0; i < shown.size(); i++)
            if (shown[i] != expect[i] && differ++ == 0)
                first = i;
        EXPECT_EQ(differ, 0u) << "first at " << first % m.win_w << "," << first / m.win_w << ": "
                              << std::hex << shown[first] << " instead of " << expect[first];
    }
}

// ---------------------------------------------------------------------------

struct HostWindowPacing : ::testing::Test {
    Config saved_config = config;
    AppState saved_app = app;
    HostWindow saved_window = host_window;

    void SetUp() override
    {
        config.battery_saver = 1;
        app.boot_finished = 1;
        app.last_activity_t = 0;
        host_window.last_input_t = 0;
    }
    void TearDown() override
    {
        config = saved_config;
        app = saved_app;
        host_window = saved_window;
    }
};

TEST_F(HostWindowPacing, IdleAfterBootHalvesTheFrameRate)
{
    EXPECT_EQ(os_frame_interval(501), 32);
    EXPECT_EQ(app.slow_frame, 1);
    EXPECT_EQ(os_frame_interval(500), 16) << "only more than 500 ms counts as idle";
    EXPECT_EQ(app.slow_frame, 0);
}

TEST_F(HostWindowPacing, InputOrReportedActivityBringsBackFullRate)
{
    host_window.last_input_t = 10000;
    EXPECT_EQ(os_frame_interval(10400), 16);
    EXPECT_EQ(os_frame_interval(10600), 32);

    app.last_activity_t = 20000;
    EXPECT_EQ(os_frame_interval(20100), 16);

    os_note_input();
    EXPECT_EQ(os_frame_interval(get_ticks()), 16);
}

TEST_F(HostWindowPacing, FullRateWithoutBatterySaverOrBeforeBootFinished)
{
    config.battery_saver = 0;
    app.slow_frame = 1;
    EXPECT_EQ(os_frame_interval(100000), 16);
    EXPECT_EQ(app.slow_frame, 0);

    config.battery_saver = 1;
    app.boot_finished = 0;
    EXPECT_EQ(os_frame_interval(100000), 16);
    EXPECT_EQ(app.slow_frame, 0);
}

TEST_F(HostWindowPacing, WaitHoldsTheIntervalBetweenFrameEnds)
{
    os_wait_frame(0);
    int64_t t0 = host_window.last_frame_t;
    os_wait_frame(16);
    os_wait_frame(16);
    EXPECT_GE(host_window.last_frame_t - t0, 32);
}

TEST_F(HostWindowPacing, WaitGivesUpAfterAHundredSteps)
{
    os_wait_frame(0);
    int64_t t0 = get_ticks();
    os_wait_frame(5000);
    int64_t waited = get_ticks() - t0;
    EXPECT_GE(waited, 100);
    EXPECT_LT(waited, 2000);
}
