// The per-process button snapshot of eight players: taken by _update_buttons
// from the controllers and the keyboard, read by btn and btnp.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/window.h"
#include "host/controllers.h"
#include "host/input.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/api.h"
#include "process/process.h"

// A strength of at least this much counts as a press for btnp.
constexpr int BTNP_PRESSED = 64;
// Buttons this strong count as user activity (the battery saver).
constexpr int ACTIVITY_STRENGTH = 65;

struct KeyButton {
    SDL_Scancode key;
    int button;
};

// Player 0's keys; Return (menu) is handled apart because of Alt.
static const KeyButton key_buttons[] = {
    {SDL_SCANCODE_LEFT, 0}, {SDL_SCANCODE_RIGHT, 1}, {SDL_SCANCODE_UP, 2}, {SDL_SCANCODE_DOWN, 3},
    {SDL_SCANCODE_Z, 4},    {SDL_SCANCODE_C, 4},     {SDL_SCANCODE_X, 5},  {SDL_SCANCODE_V, 5},
    {SDL_SCANCODE_A, 8},    {SDL_SCANCODE_D, 9},     {SDL_SCANCODE_W, 10}, {SDL_SCANCODE_S, 11},
    {SDL_SCANCODE_F, 12},   {SDL_SCANCODE_G, 13},    {SDL_SCANCODE_Q, 14}, {SDL_SCANCODE_E, 15},
};

static void keyboard_buttons(uint8_t *out) {
    for (const KeyButton &k : key_buttons)
        if (input.key_cur[k.key]) out[k.button] = 255;
    bool alt = input.key_cur[SDL_SCANCODE_LALT] || input.key_cur[SDL_SCANCODE_RALT];
    if (input.key_cur[SDL_SCANCODE_RETURN] && !alt) out[6] = 255;
}

void os_get_button_states(int player, uint8_t *out) {
    memset(out, 0, INPUT_PLAYER_BUTTONS);
    if (player < 0 || player >= INPUT_PLAYERS) return;
    if (controllers_ready) controllers_read(player, out);
    if (player == 0) keyboard_buttons(out);
}

static uint8_t to_strength(double v) { return (uint8_t)std::clamp((int)v, 0, 255); }

// Opposite directions cancel, and the four directions of one stick never
// reach beyond a circle of radius 256.
static void constrain_directions(uint8_t *d) {
    if (d[0] && d[1]) d[0] = d[1] = 0;
    if (d[2] && d[3]) d[2] = d[3] = 0;
    int dx = d[1] - d[0];
    int dy = d[3] - d[2];
    int len2 = dx * dx + dy * dy;
    if (len2 <= 65536) return;
    double k = 256.0 / std::sqrt((double)len2);
    for (int i = 0; i < 4; i++) d[i] = to_strength(d[i] * k);
}

void input_reset_process_buttons(Process *p) {
    memset(p->btn_cur, 0, sizeof p->btn_cur);
    memset(p->btn_wait, 1, sizeof p->btn_wait);
}

void input_update_buttons(Process *p, bool active) {
    app.button_state = active ? 1 : 0;
    if (!active) {
        input_reset_process_buttons(p);
        memset(p->btn_prev, 0, sizeof p->btn_prev);
        memset(p->btn_repeat, 0, sizeof p->btn_repeat);
        return;
    }
    memcpy(p->btn_prev, p->btn_cur, INPUT_BUTTONS);
    for (int pl = 0; pl < INPUT_PLAYERS; pl++) os_get_button_states(pl, p->btn_cur + pl * INPUT_PLAYER_BUTTONS);
    for (int i = 0; i < INPUT_BUTTONS; i++) poke_proc(p, INPUT_BUTTON_COPY + i, p->btn_cur[i]);
    for (int pl = 0; pl < INPUT_PLAYERS; pl++) {
        constrain_directions(p->btn_cur + pl * INPUT_PLAYER_BUTTONS);
        constrain_directions(p->btn_cur + pl * INPUT_PLAYER_BUTTONS + 8);
    }
    bool strong = false;
    for (int i = 0; i < INPUT_BUTTONS; i++) {
        if (p->btn_wait[i]) {
            if (p->btn_cur[i]) p->btn_cur[i] = 0;
            else p->btn_wait[i] = 0;
        }
        if (p->btn_cur[i] >= ACTIVITY_STRENGTH) strong = true;
    }
    if (strong) os_note_input();
}

int lua54__update_buttons(lua_State *L) {
    input_update_buttons(cproc, lua_toboolean(L, 1));
    return 0;
}

// The entry for button b of player pl, or -1 outside 0..15 and 0..7.
static int entry_index(int64_t b, int64_t pl) {
    if (b < 0 || b >= INPUT_PLAYER_BUTTONS || pl < 0 || pl >= INPUT_PLAYERS) return -1;
    return (int)(pl * INPUT_PLAYER_BUTTONS + b);
}

// Bit pl * 8 + b for buttons 0..7 of every player that pass the test.
template <typename Test>
static lua_Integer button_bits(Test test) {
    uint64_t bits = 0;
    for (int pl = 0; pl < INPUT_PLAYERS; pl++)
        for (int b = 0; b < 8; b++)
            if (test(pl * INPUT_PLAYER_BUTTONS + b)) bits |= (uint64_t)1 << (pl * 8 + b);
    return (lua_Integer)bits;
}

int lua54_btn(lua_State *L) {
    Process *p = cproc;
    int64_t b = k64_intp(L, 1, -1);
    int64_t pl = k64_intp(L, 2, 0);
    if (b == -1) {
        lua_pushinteger(L, button_bits([p](int i) { return p->btn_cur[i] != 0; }));
        return 1;
    }
    int i = entry_index(b, pl);
    if (i >= 0 && p->btn_cur[i]) lua_pushinteger(L, p->btn_cur[i]);
    else lua_pushboolean(L, 0);
    return 1;
}

// 0 gives the default, 255 never (-1, which counting down never reaches).
static int32_t repeat_register(Process *p, uint32_t addr, int32_t def) {
    uint8_t v = peek_proc(p, addr);
    return v == 0 ? def : v == 255 ? -1 : v;
}

// One btnp call for entry i: true on the press, then after the first delay
// and every interval, counted in calls.
static bool button_pressed_or_repeated(Process *p, int i) {
    bool now = p->btn_cur[i] >= BTNP_PRESSED;
    bool before = p->btn_prev[i] >= BTNP_PRESSED;
    int32_t &cnt = p->btn_repeat[i];
    if (now && !before) {
        cnt = repeat_register(p, INPUT_REPEAT_DELAY, 30);
        return true;
    }
    if (!now || cnt <= 0) return false;
    if (--cnt != 0) return false;
    cnt = repeat_register(p, INPUT_REPEAT_INTERVAL, 8);
    return true;
}

int lua54_btnp(lua_State *L) {
    Process *p = cproc;
    int64_t b = k64_intp(L, 1, -1);
    int64_t pl = k64_intp(L, 2, 0);
    if (b == -1) {
        lua_pushinteger(L, button_bits([p](int i) {
            return p->btn_cur[i] >= BTNP_PRESSED && p->btn_prev[i] < BTNP_PRESSED;
        }));
        return 1;
    }
    int i = entry_index(b, pl);
    lua_pushboolean(L, i >= 0 && button_pressed_or_repeated(p, i));
    return 1;
}
