// One frame of host events: the keyboard snapshot, each SDL event, then the
// key, mouse and locked-motion messages to process 3.
#include "host/events.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/buffer.h"
#include "host/clock.h"
#include "host/controllers.h"
#include "host/input.h"
#include "host/log.h"
#include "host/window.h"
#include "kernel/kernel.h"
#include "pdisk/fileapi.h"
#include "process/message.h"
#include "process/process.h"

static InputState initial_input_state() {
    InputState s;
    memset(&s, 0, sizeof s);
    s.window_active = 1;
    s.activated_t = -1;
    return s;
}

InputState input = initial_input_state();

void input_reset() { input = initial_input_state(); }

void input_post(const char *text) {
    // no window manager yet: nobody to tell
    if (Process *wm = get_process(3)) send_process_message_string(wm, text);
}

void input_frame_begin(const InputView &view, const uint8_t *keys, int key_count) {
    input.view = view;
    memcpy(input.key_prev, input.key_cur, INPUT_KEYS);
    memset(input.key_cur, 0, INPUT_KEYS);
    if (keys && key_count > 0) memcpy(input.key_cur, keys, (size_t)std::min(key_count, INPUT_KEYS));
}

static void raise_window(uint32_t window_id) {
    if (SDL_Window *w = SDL_GetWindowFromID(window_id)) SDL_RaiseWindow(w);
}

static void handle_window_event(const SDL_WindowEvent &w) {
    vemo_debug("SDL_WINDOWEVENT: %d\n", w.event);
    switch (w.event) {
    case SDL_WINDOWEVENT_HIDDEN:
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_FOCUS_LOST:
        input.window_active = 0;
        break;
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        input.window_active = 1;
        input.activated_t = get_ticks();
        raise_window(w.windowID);
        break;
    case SDL_WINDOWEVENT_CLOSE:
        vemo_debug("SDL_WINDOWEVENT_CLOSE\n");
        app.exit_requested = 1;
        break;
    default: break;
    }
}

static void post_text_input(const char *text) {
    const char *escaped = escape_lua_string(text);
    std::string msg = "{event=\"textinput\",text=\"";
    msg += escaped;
    msg += "\"}";
    input_post(msg.c_str());
}

static void post_wheel(int x, int y) {
    char msg[96];
    snprintf(msg, sizeof msg, "{event=\"mousewheel\",wheel_x=%d,wheel_y=%d}", x, y);
    input_post(msg);
}

static int mouse_bit(int sdl_button) {
    switch (sdl_button) {
    case SDL_BUTTON_LEFT: return 1;
    case SDL_BUTTON_RIGHT: return 2;
    case SDL_BUTTON_MIDDLE: return 4;
    default: return 0;
    }
}

static void mouse_moved(const SDL_MouseMotionEvent &m) {
    if (input.locked) {
        input_locked_motion(m.x, m.y);
        return;
    }
    input.host_x = m.x;
    input.host_y = m.y;
}

static void mouse_button(const SDL_MouseButtonEvent &b) {
    int bit = mouse_bit(b.button);
    if (b.state == SDL_PRESSED) input.host_buttons |= bit;
    else input.host_buttons &= ~bit;
    if (!input.locked) {
        input.host_x = b.x;
        input.host_y = b.y;
    }
}

static void file_dropped(const SDL_DropEvent &d) {
    if (!d.file) return;
    process_dropped_file(d.file);
    raise_window(d.windowID);
}

void os_handle_event(const SDL_Event &e) {
    os_note_input();
    switch (e.type) {
    case SDL_QUIT:
        vemo_debug("SDL_QUIT\n");
        app.exit_requested = 1;
        break;
    case SDL_WINDOWEVENT: handle_window_event(e.window); break;
    case SDL_KEYDOWN:
        // seen even when the key is let go again before the next snapshot
        if ((unsigned)e.key.keysym.scancode < INPUT_KEYS) input.key_cur[e.key.keysym.scancode] = 1;
        break;
    case SDL_TEXTINPUT: post_text_input(e.text.text); break;
    case SDL_MOUSEWHEEL: post_wheel(e.wheel.x, e.wheel.y); break;
    case SDL_MOUSEMOTION: mouse_moved(e.motion); break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: mouse_button(e.button); break;
    case SDL_DROPFILE:
        file_dropped(e.drop);
        SDL_free(e.drop.file);
        break;
    case SDL_DROPTEXT: SDL_free(e.drop.file); break;
    case SDL_CONTROLLERDEVICEADDED:
        vemo_debug("[SDL_CONTROLLERDEVICEADDED] device_index: %d\n", e.cdevice.which);
        controllers_pack();
        if (e.cdevice.which >= 0 && e.cdevice.which < CONTROLLER_SLOTS) controllers_connect(e.cdevice.which);
        break;
    case SDL_CONTROLLERDEVICEREMOVED: controllers_disconnect(e.cdevice.which); break;
    case SDL_AUDIODEVICEADDED: vemo_debug("SDL_AUDIODEVICEADDED %d\n", e.adevice.which); break;
    case SDL_AUDIODEVICEREMOVED: vemo_debug("SDL_AUDIODEVICEREMOVED %d\n", e.adevice.which); break;
    default: break;
    }
}

static void post_key_changes() {
    for (int sc = 0; sc < INPUT_KEYS; sc++) {
        bool now = input.key_cur[sc] != 0;
        if (now == (input.key_prev[sc] != 0)) continue;
        char msg[64];
        snprintf(msg, sizeof msg, "{event=\"%s\",scancode=%d}", now ? "keydown" : "keyup", sc);
        input_post(msg);
    }
}

void input_frame_end() {
    if (input.activated_t >= 0 && get_ticks() - input.activated_t < INPUT_ACTIVATION_GRACE_MS)
        memset(input.key_cur, 0, INPUT_KEYS);
    post_key_changes();
    input_mouse_frame();
}
