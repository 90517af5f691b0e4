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
// instead of generate_video_out when no frames are made (headless). Sets
// *boot when the boot screen is the source (the result is then null).
struct Process *video_source(bool *boot);

struct Userdata;
struct lua_State;
// Copies the n bytes of src whose (byte & mask) != 0 over dst.
void alpha_bits_memcpy(uint8_t *dst, const uint8_t *src, int64_t n, uint8_t mask);
// Copies a w x h block of src's memory at address + sy * pitch + sx (pitch =
// src's display width) into target at (dx, dy); the block must lie inside
// the target. mask 0 copies every byte.
void blit_from_ram(struct Process *src, uint32_t address, Userdata *target, int64_t sx, int64_t sy,
                   int64_t dx, int64_t dy, int64_t w, int64_t h, uint8_t mask);
int lua54__blit_process_video(lua_State *L);
const VideoPalette *video_output_palette();
