#include "host/window.h"

void os_system_init() {}
void os_apply_video_config() {}
void os_present_frame(const uint32_t *, int, int) {}
void start_frame() {}
void os_lock_mouse_cursor(int, int, int) {}
