// A process with the typed-array and drawing functions and a 32 x 24 u8
// draw target, default colour tables and all masks 0x3F.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>

#include "gfx/draw_state.h"
#include "gfx/gfx.h"
#include "gfx/gfx_api.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/process.h"
#include "process/slice.h"
#include "userdata/userdata.h"

struct GfxTest : testing::Test {
    Process *p = nullptr;
    lua_State *L = nullptr;

    void SetUp() override
    {
        config_set_start_values();
        config.headless = 1;
        processes_init();
        gfx_ellipse_method = GFX_ELLIPSE_AUTO;
        p = create_process_from_code("", "gfx", "gfx", "", "");
        ASSERT_NE(p, nullptr);
        cproc = p;
        L = p->L;
        userdata_open(L);
        const luaL_Reg fns[] = {
            {"userdata", lua54_userdata}, {"color", lua54_color},     {"camera", lua54_camera},
            {"clip", lua54_clip},         {"cursor", lua54_cursor},   {"fillp", lua54_fillp},
            {"pal", lua54_pal},           {"palt", lua54_palt},       {"cls", lua54_cls},
            {"_set_draw_target", lua54__set_draw_target},             {"pset", lua54_pset},
            {"pget", lua54_pget},         {"line", lua54_line},       {"rect", lua54_rect},
            {"rectfill", lua54_rectfill}, {"circ", lua54_circ},       {"circfill", lua54_circfill},
            {"oval", lua54_oval},         {"ovalfill", lua54_ovalfill}, {"rrect", lua54_rrect},
            {"rrectfill", lua54_rrectfill}, {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, fns, 0);
        lua_pop(L, 1);
        run("T = userdata('u8', 32, 24) _set_draw_target(T) pal() poke(0x5508, 0x3f, 0x3f, 0x3f, 0x3f)");
    }
    void TearDown() override
    {
        gfx_ellipse_method = GFX_ELLIPSE_AUTO;
        processes_init();
    }

    // Runs a chunk; its results joined by ',', or the error.
    std::string run(const std::string &code)
    {
        cproc = p;
        int base = lua_gettop(L);
        if (luaL_dostring(L, code.c_str()) != LUA_OK) {
            std::string err = lua_tostring(L, -1);
            lua_settop(L, base);
            ADD_FAILURE() << code << ": " << err;
            return "error: " + err;
        }
        std::string r;
        for (int i = base + 1; i <= lua_gettop(L); i++) {
            r += (i > base + 1 ? "," : "") + std::string(luaL_tolstring(L, i, nullptr));
            lua_pop(L, 1);
        }
        lua_settop(L, base);
        return r;
    }

    Userdata *target() { return p->draw_target; }

    // For hostile callers: the 32 x 24 target becomes the front of a 64 x 64
    // block whose tail (0xEE) must stay as is (tail_intact).
    void guard_target()
    {
        run("H = userdata('u8', 64, 64) for i = 0, 4095 do H[i] = 0xEE end H:mutate('u8', 32, 24) "
            "_set_draw_target(H) cls()");
    }
    bool tail_intact()
    {
        const uint8_t *d = ud_data(target());
        for (int i = 32 * 24; i < 4096; i++)
            if (d[i] != 0xEE)
                return false;
        return true;
    }
    // Wall-clock seconds that running code takes.
    double seconds(const std::string &code)
    {
        auto t0 = std::chrono::steady_clock::now();
        run(code);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    int px(int x, int y) { return ud_data(target())[y * target()->width + x]; }

    // The target as rows of characters: '.' for 0, else the value in base 36.
    std::string picture()
    {
        std::string s;
        for (int y = 0; y < target()->height; y++) {
            for (int x = 0; x < target()->width; x++) {
                int v = px(x, y);
                s += v == 0 ? '.' : v < 10 ? char('0' + v) : v < 36 ? char('a' + v - 10) : '#';
            }
            s += '\n';
        }
        return s;
    }

    int count(int value)
    {
        int n = 0;
        for (int i = 0; i < target()->width * target()->height; i++)
            n += ud_data(target())[i] == value;
        return n;
    }

    // Cycles charged by one call of f with integer arguments, made from C
    // so that no instructions are counted.
    int charge(lua_CFunction f, std::initializer_list<lua_Integer> args = {})
    {
        cproc = p;
        lua_settop(L, 0);
        lua_pushcfunction(L, f);
        for (lua_Integer a : args)
            lua_pushinteger(L, a);
        int before = cpu_cycles;
        lua_call(L, (int)args.size(), 0);
        return cpu_cycles - before;
    }

    // Colour table 0 made a counter: every opaque pen write adds 1 to the
    // target, so a pixel composed twice shows 2.
    void counting_table()
    {
        uint8_t *t0 = p->read_ptr[GFX_COLTAB_PAGE];
        for (int s = 1; s < 64; s++)
            for (int d = 0; d < 64; d++)
                t0[s * 64 + d] = (uint8_t)((d + 1) & 63);
    }
};
