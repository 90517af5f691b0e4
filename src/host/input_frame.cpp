// The frame's input stages on the real host: the window's geometry and SDL's
// keyboard state before the events, the messages after.
#include "host/events.h"
#include "host/input.h"
#include "host/window.h"
#include "kernel/kernel.h"

void os_input_frame_begin() {
    InputView v = {};
    v.window = host_window.window;
    if (v.window) {
        SDL_GetWindowSize(v.window, &v.win_w, &v.win_h);
        get_dest_rect(&v.dest);
    }
    v.base_w = host_window.base_w;
    v.base_h = host_window.base_h;
    v.fullscreen = config.fullscreen;
    int n = 0;
    const Uint8 *keys = SDL_GetKeyboardState(&n);
    input_frame_begin(v, keys, n);
    if (v.window) SDL_ShowCursor(SDL_DISABLE);
}

void os_input_frame_end() { input_frame_end(); }
