// Input tests: processes 1-3 (3 is the window manager that receives the
// input messages), synthetic SDL events fed through os_handle_event, and a
// window geometry given directly instead of a real window.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "formats/buffer.h"
#include "host/events.h"
#include "host/input.h"
#include "host/log.h"
#include "host/temp_folder.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "process/api_message.h"
#include "process/process.h"

struct InputTest : ::testing::Test {
    TempFolder home;             // the data folder: the log and mapping files
    HomeGuard home_guard{home.path};
    Process *wm = nullptr;
    AppState saved_app;
    // a 1000 x 500 window showing the 480 x 270 picture at 888 x 500, x = 56
    InputView view = {nullptr, 1000, 500, {56, 0, 888, 500}, 480, 270, 0};

    void SetUp() override {
        saved_app = app;
        config_set_start_values();
        config.headless = 1;
        snprintf(config.home, sizeof config.home, "%s", home.path.c_str());
        vemo_log_close();   // the log opens again in the new data folder
        processes_init();
        for (int i = 0; i < 3; i++) wm = create_process_from_code("x = 1", "p", "/ram/p.lua", "", "");
        ASSERT_TRUE(wm && wm->id == 3);
        for (Process *q : {get_process(1), get_process(2), wm}) {
            lua_register(q->L, "btn", lua54_btn);
            lua_register(q->L, "btnp", lua54_btnp);
            lua_register(q->L, "_update_buttons", lua54__update_buttons);
            lua_register(q->L, "_warp_mouse", lua54__warp_mouse);
        }
        input_reset();
        frame();   // the mouse's first place is news; tests start after it
        messages();
    }
    void TearDown() override {
        processes_init();
        input_reset();
        app = saved_app;
        vemo_log_close();
    }

    // One frame: the host keyboard holding `held`, then the events.
    void frame(std::initializer_list<SDL_Event> events = {}, std::initializer_list<int> held = {}) {
        uint8_t keys[INPUT_KEYS] = {};
        for (int sc : held) keys[sc] = 1;
        input_frame_begin(view, keys, INPUT_KEYS);
        for (const SDL_Event &e : events) os_handle_event(e);
        input_frame_end();
    }

    // Every message queued to process 3 since the last call, in order.
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        while (Buffer *b = read_process_message(wm, nullptr)) out.emplace_back((const char *)b->data, (size_t)b->len);
        return out;
    }

    // Runs a chunk in process q; its results joined by ",".
    static std::string eval(Process *q, const std::string &code) {
        cproc = q;
        lua_State *L = q->L;
        int top = lua_gettop(L);
        if (luaL_dostring(L, code.c_str()) != LUA_OK) {
            std::string msg = lua_tostring(L, -1);
            lua_settop(L, top);
            return "error: " + msg;
        }
        std::string out;
        for (int i = top + 1; i <= lua_gettop(L); i++) {
            out += (i > top + 1 ? "," : "") + std::string(luaL_tolstring(L, i, nullptr));
            lua_pop(L, 1);
        }
        lua_settop(L, top);
        return out;
    }

    static SDL_Event event(Uint32 type) {
        SDL_Event e = {};
        e.type = type;
        return e;
    }
    static SDL_Event key_down(int scancode) {
        SDL_Event e = event(SDL_KEYDOWN);
        e.key.keysym.scancode = (SDL_Scancode)scancode;
        return e;
    }
    static SDL_Event motion(int x, int y) {
        SDL_Event e = event(SDL_MOUSEMOTION);
        e.motion.x = x;
        e.motion.y = y;
        return e;
    }
    static SDL_Event button(int which, bool down, int x, int y) {
        SDL_Event e = event(down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP);
        e.button = {e.type, 0, 0, 0, (Uint8)which, (Uint8)(down ? SDL_PRESSED : SDL_RELEASED), 1, 0, x, y};
        return e;
    }
    static SDL_Event window_event(int what) {
        SDL_Event e = event(SDL_WINDOWEVENT);
        e.window.event = (Uint8)what;
        return e;
    }
};
