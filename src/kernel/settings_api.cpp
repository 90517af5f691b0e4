// Lua _apply_system_settings: the system's settings program pushes the
// user's choices through here.
#include "kernel/settings.h"

#include "lua.hpp"

#include <cstdio>
#include <cstring>

// true and false are 1 and 0; a number counts when it has an exact integer
// value; anything else is 0.
static int64_t setting_value(lua_State *L, int idx)
{
    switch (lua_type(L, idx)) {
    case LUA_TBOOLEAN:
        return lua_toboolean(L, idx);
    case LUA_TNUMBER: {
        int exact = 0;
        lua_Integer v = lua_tointegerx(L, idx, &exact);
        return exact ? (int64_t)v : 0;
    }
    default:
        return 0;
    }
}

int lua54__apply_system_settings(lua_State *L)
{
    if (!lua_istable(L, 1)) {
        printf("** lua54__apply_system_settings failed; not a table\n");
        return 0;
    }
    lua_settop(L, 1);
    lua_pushnil(L);
    while (lua_next(L, 1)) {
        // Only real strings: lua_tolstring on a number key would turn it
        // into a string in place and break the traversal.
        if (lua_type(L, -2) == LUA_TSTRING) {
            size_t len;
            const char *key = lua_tolstring(L, -2, &len);
            // A key with a 0 byte inside names no setting.
            if (strlen(key) == len)
                kestrane_apply_setting(key, setting_value(L, -1));
        }
        lua_pop(L, 1);
    }
    kestrane_apply_settings();
    return 0;
}
