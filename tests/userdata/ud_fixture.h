// A bare process record and Lua state with the typed-array globals and
// metatable, as a process has them.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "lua.hpp"
#include "memory/ram.h"
#include "memory/ram_api.h"
#include "process/slice.h"
#include "userdata/userdata.h"

struct UdTest : testing::Test {
    Process *p = nullptr;
    Process *saved = nullptr;
    lua_State *L = nullptr;
    bool (*saved_view)(lua_State *, int, UdView *) = nullptr;
    Userdata *(*saved_target)(lua_State *, UdRect *) = nullptr;

    void SetUp() override
    {
        saved = cproc;
        saved_view = ram_userdata_view;
        saved_target = ud_draw_target_hook;
        p = (Process *)calloc(1, sizeof(Process));
        cproc = p;
        ram_init_process(p);
        L = luaL_newstate();
        luaL_openlibs(L);
        p->L = L;
        userdata_open(L);
        const luaL_Reg fns[] = {
            {"userdata", lua54_userdata}, {"vec", lua54_vec},   {"get", lua54_get},
            {"set", lua54_set},           {"blit", lua54_blit}, {"peek", lua54_peek},
            {"poke", lua54_poke},         {"peek2", lua54_peek2}, {"_map_ram", lua54__map_ram},
            {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, fns, 0);
        lua_pop(L, 1);
    }
    void TearDown() override
    {
        lua_close(L);
        ram_free_process(p);
        free(p);
        cproc = saved;
        ram_userdata_view = saved_view;
        ud_draw_target_hook = saved_target;
    }

    // Runs a chunk; its results as text joined by ',' (floats keep their
    // ".0"), "none" for no results, or the error.
    std::string run(const std::string &code)
    {
        int base = lua_gettop(L);
        if (luaL_dostring(L, code.c_str()) != LUA_OK) {
            std::string err = lua_tostring(L, -1);
            lua_settop(L, base);
            return "error: " + err;
        }
        int n = lua_gettop(L) - base;
        std::string r = n ? "" : "none";
        for (int i = 1; i <= n; i++) {
            if (i > 1)
                r += ",";
            r += luaL_tolstring(L, base + i, nullptr);
            lua_pop(L, 1);
        }
        lua_settop(L, base);
        return r;
    }

    // The kernel userdata held by a global.
    Userdata *global_ud(const char *name)
    {
        lua_getglobal(L, name);
        Userdata *u = ud_check(L, -1);
        lua_pop(L, 1);
        return u;
    }

    // Cycles charged by one call of f on the global `self` and integer
    // arguments, made from C so that no instructions are counted.
    int cost(lua_CFunction f, const char *self, std::initializer_list<lua_Integer> args = {})
    {
        lua_settop(L, 0);
        lua_pushcfunction(L, f);
        if (self)
            lua_getglobal(L, self);
        for (lua_Integer a : args)
            lua_pushinteger(L, a);
        int before = cpu_cycles;
        lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
        int charged = cpu_cycles - before;
        lua_settop(L, 0);
        return charged;
    }

    // The metatable entry `name` as a C function.
    lua_CFunction method(const char *name)
    {
        lua_getglobal(L, "USERDATA");
        lua_getfield(L, -1, name);
        lua_CFunction f = lua_tocfunction(L, -1);
        lua_pop(L, 2);
        return f;
    }
};
