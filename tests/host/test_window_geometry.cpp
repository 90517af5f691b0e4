// Where the picture goes in the window, and how large the texture is, for
// every scaling and full-screen mode.
#include "host/window.h"

#include <gtest/gtest.h>

namespace {

HostVideoMode mode(int pixel_perfect, int stretch, int blit_720p)
{
    HostVideoMode m = {};
    m.pixel_perfect = pixel_perfect;
    m.stretch = stretch;
    m.blit_720p = blit_720p;
    return m;
}

// Rect as a comparable tuple: x, y, w, h.
std::tuple<int, int, int, int> rect(const HostVideoMode &m, int W, int H, int w = 480, int h = 270)
{
    SDL_Rect r = host_dest_rect(m, W, H, w, h);
    return {r.x, r.y, r.w, r.h};
}

using R = std::tuple<int, int, int, int>;

} // namespace

TEST(HostWindowRect, AspectFitLetterboxesOrPillarboxes)
{
    HostVideoMode m = mode(0, 0, 0);
    EXPECT_EQ(rect(m, 1000, 500), R(56, 0, 888, 500)) << "wider window: bars left and right";
    EXPECT_EQ(rect(m, 1000, 1000), R(0, 219, 1000, 562)) << "taller window: bars above and below";
    EXPECT_EQ(rect(m, 960, 540), R(0, 0, 960, 540)) << "same aspect ratio fills the window";
    EXPECT_EQ(rect(m, 1, 1), R(0, 0, 1, 0)) << "sizes are truncated";
}

TEST(HostWindowRect, PixelPerfectUsesTheLargestWholeFactor)
{
    HostVideoMode m = mode(1, 0, 0);
    EXPECT_EQ(rect(m, 1000, 600), R(20, 30, 960, 540));
    EXPECT_EQ(rect(m, 1919, 1080), R(239, 135, 1440, 810)) << "the narrower side limits the factor";
    EXPECT_EQ(rect(m, 1920, 1080), R(0, 0, 1920, 1080));
    EXPECT_EQ(rect(m, 1000, 500), R(260, 115, 480, 270));
}

TEST(HostWindowRect, PixelPerfectInASmallWindowIsCentredAndCropped)
{
    HostVideoMode m = mode(1, 0, 0);
    EXPECT_EQ(rect(m, 400, 300), R(-40, 15, 480, 270));
    EXPECT_EQ(rect(m, 600, 200), R(60, -35, 480, 270));
}

TEST(HostWindowRect, PixelPerfectStretchScalesEachAxisOnItsOwn)
{
    HostVideoMode m = mode(1, 1, 0);
    EXPECT_EQ(rect(m, 1000, 600), R(20, 30, 960, 540));
    EXPECT_EQ(rect(m, 1500, 600), R(30, 30, 1440, 540));
    EXPECT_EQ(rect(m, 400, 600), R(200, 30, 0, 540)) << "narrower than the picture: no width";
    EXPECT_EQ(rect(m, 1000, 200), R(20, 100, 960, 0));
}

TEST(HostWindowRect, StretchFillsTheWindow)
{
    EXPECT_EQ(rect(mode(0, 1, 0), 1000, 333), R(0, 0, 1000, 333));
}

TEST(HostWindowRect, Blit720pIsUnscaledInTheMiddleWhateverElseIsSet)
{
    for (int pp = 0; pp < 2; pp++)
        for (int st = 0; st < 2; st++) {
            EXPECT_EQ(rect(mode(pp, st, 1), 1920, 1080), R(320, 180, 1280, 720));
            EXPECT_EQ(rect(mode(pp, st, 1), 1000, 600), R(-140, -60, 1280, 720));
        }
}

TEST(HostWindowRect, OtherBaseSizesScaleTheSameWay)
{
    EXPECT_EQ(rect(mode(1, 0, 0), 1000, 600, 240, 135), R(20, 30, 960, 540));
    EXPECT_EQ(rect(mode(0, 0, 0), 1000, 500, 200, 200), R(250, 0, 500, 500));
    EXPECT_EQ(rect(mode(0, 0, 0), 1000, 500, 0, 270), R(0, 0, 0, 0)) << "no picture, no rectangle";
}

TEST(HostWindowPrescale, ChosenFromTheWindowSize)
{
    HostVideoMode m = mode(0, 0, 0);
    EXPECT_EQ(host_prescale(m, 959, 2000), 2);
    EXPECT_EQ(host_prescale(m, 960, 540), 3);
    EXPECT_EQ(host_prescale(m, 960, 539), 2);
    EXPECT_EQ(host_prescale(m, 1439, 810), 3);
    EXPECT_EQ(host_prescale(m, 1440, 810), 4);
    EXPECT_EQ(host_prescale(m, 1440, 809), 3);
    EXPECT_EQ(host_prescale(m, 1440, 539), 2);
    EXPECT_EQ(host_prescale(m, 3840, 2160), 4);
}

TEST(HostWindowPrescale, PixelPerfectAnd720pUploadAtOne)
{
    EXPECT_EQ(host_prescale(mode(1, 0, 0), 1920, 1080), 1);
    EXPECT_EQ(host_prescale(mode(0, 1, 1), 1920, 1080), 1);
    EXPECT_EQ(host_prescale(mode(1, 0, 1), 1920, 1080), 1);
}

TEST(HostWindowPrescale, PixelScaleFactor)
{
    EXPECT_EQ(host_pixel_scale_factor(0), 2);
    EXPECT_EQ(host_pixel_scale_factor(-5), 1);
    EXPECT_EQ(host_pixel_scale_factor(1), 1);
    EXPECT_EQ(host_pixel_scale_factor(3), 3);
    EXPECT_EQ(host_pixel_scale_factor(16), 16);
    EXPECT_EQ(host_pixel_scale_factor(20), 16);
}
