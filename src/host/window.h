// The host window, presentation and input events. Filled by the host-window
// issue; until then the kernel runs without a window.
#pragma once
#include <cstdint>

void os_system_init();
void os_apply_video_config();
void os_present_frame(const uint32_t *frame, int width, int height);
void start_frame();
void os_lock_mouse_cursor(int lock, int dx, int dy);
