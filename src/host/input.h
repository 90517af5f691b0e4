// Keyboard, mouse and game-controller input. Raw events (keys, text, mouse,
// wheel, locked-mouse motion) go once per frame as messages to the window
// manager, process 3; every process that asks for it gets its own snapshot
// of eight players' buttons, read by btn and btnp.
#pragma once
#include <SDL.h>
#include <cstdint>

struct lua_State;
struct Process;

constexpr int INPUT_KEYS = 512;
constexpr int INPUT_PLAYERS = 8;
constexpr int INPUT_PLAYER_BUTTONS = 16;
constexpr int INPUT_BUTTONS = INPUT_PLAYERS * INPUT_PLAYER_BUTTONS;   // bytes per snapshot
constexpr uint32_t INPUT_BUTTON_COPY = 0x5580;   // device bytes before adjustment
constexpr uint32_t INPUT_REPEAT_DELAY = 0x5F5C;
constexpr uint32_t INPUT_REPEAT_INTERVAL = 0x5F5D;
constexpr int INPUT_MOUSE_LOCK_BIT = 4;          // in 0x5F2D of process 3
// Keys that pressed within this long after the window became active are
// dropped: they were meant for the window switch.
constexpr int INPUT_ACTIVATION_GRACE_MS = 100;

// What the input layer needs to know of the host window, taken once per frame.
struct InputView {
    SDL_Window *window;    // null: nothing to warp or raise
    int win_w, win_h;      // window size, 0 while there is none
    SDL_Rect dest;         // the part of the window that shows the picture
    int base_w, base_h;    // picture size in display pixels
    int fullscreen;
};

struct InputState {
    uint8_t key_cur[INPUT_KEYS];
    uint8_t key_prev[INPUT_KEYS];

    int host_x, host_y;    // host mouse in window coordinates, from its events
    int host_buttons;      // bit 0 left, bit 1 right, bit 2 middle
    int mx, my, mb;        // last position and buttons reported to process 3

    int locked;
    float cursor_x, cursor_y;       // virtual cursor while locked, display pixels
    int32_t acc_x, acc_y;           // locked motion in 1/64 units
    int motion_factor, speed_factor;
    int ignore_motion;              // the warp that starts a lock is no motion
    int centre_x, centre_y;         // where the host mouse was last warped to

    int window_active;
    int64_t activated_t;            // -1: not since start

    InputView view;
};

extern InputState input;

// Clears keyboard, mouse and window state (start-up and tests).
void input_reset();

// The three stages of a frame's event handling: the keyboard snapshot and the
// view before the events, os_handle_event (events.h) for each, then the key,
// mouse and locked-motion messages.
void input_frame_begin(const InputView &view, const uint8_t *keys, int key_count);
void input_frame_end();

// Keyboard queries (stat 302, 305, 988). os_key_state(-1): 1 when any key is
// down. os_key_from_scancode: the host's key name, null when it has none.
int os_key_state(int scancode);
const char *os_key_from_scancode(int scancode);

// Posts one of the input messages to process 3.
void input_post(const char *text);

// Mouse. input_lock_mouse_cursor (also os_lock_mouse_cursor, window.h) runs
// once per frame after the processes, with 0x5F2D, 0x5F28 and 0x5F29 of
// process 3. Motion events while locked go
// to input_locked_motion.
void input_lock_mouse_cursor(int flags, int motion_factor, int speed_factor);
void input_locked_motion(int x, int y);
void input_mouse_frame();
void os_warp_mouse_pointer(double x, double y);

// Buttons. os_get_button_states fills 16 bytes for one player from the
// controllers and (player 0) the keyboard.
void os_get_button_states(int player, uint8_t *out16);
void input_update_buttons(Process *p, bool active);
// Signal 23: nothing held, and every button has to be let go once.
void input_reset_process_buttons(Process *p);

// Lua: _warp_mouse, _update_buttons, btn, btnp.
int lua54__warp_mouse(lua_State *L);
int lua54__update_buttons(lua_State *L);
int lua54_btn(lua_State *L);
int lua54_btnp(lua_State *L);
