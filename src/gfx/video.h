// Video output: the frame the host window shows, composed once per frame
// from the video process's display.
#pragma once
#include <cstdint>

constexpr int VIDEO_W = 480;
constexpr int VIDEO_H = 270;

// The colours of the last frame: 256 RGB entries (four groups of 64) and
// the group each scanline uses. Capture records this with the frame.
struct VideoPalette {
    uint32_t rgb[256];
    uint8_t select[VIDEO_H];
};

// Builds the frame of the video process and returns it (width 480, height
// 270, 0x00RRGGBB row-major), or null when there is no new frame: no
// source yet, or the source holds its frame.
uint32_t *generate_video_out(int *width, int *height);
// The choice of source alone, which also moves the boot sequence on; called
// instead of generate_video_out when no frames are made (headless).
struct Process *video_source();
const VideoPalette *video_output_palette();
