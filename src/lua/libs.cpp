// The Lua libraries of a process and the peek operators' memory reader.
#include "lua/libs.h"

#include <initializer_list>

#include "lua.hpp"
#include "memory/ram.h"

// @ % $ * read the current process's address space; with no current
// process (host tools) every address reads as zero.
static lua_Unsigned process_peek(lua_State *, lua_Unsigned addr, int nbytes) {
    uint32_t a = (uint32_t)addr;
    if (!cproc) return 0;
    switch (nbytes) {
    case 1: return peek(a);
    case 2: return peek2(a);
    case 4: return peek4(a);
    default: return peek8(a);
    }
}

struct LibEntry {
    const char *name;
    lua_CFunction open;
};

static const LibEntry process_libs[] = {
    {LUA_GNAME, luaopen_base},
    {LUA_COLIBNAME, luaopen_coroutine},
    {LUA_TABLIBNAME, luaopen_table},
    {LUA_STRLIBNAME, luaopen_string},
    {LUA_MATHLIBNAME, luaopen_math},
    {LUA_UTF8LIBNAME, luaopen_utf8},
    {LUA_DBLIBNAME, luaopen_debug},
};

// Sets field `name` of the table at the top of the stack to nil.
static void drop_field(lua_State *L, const char *name) {
    lua_pushnil(L);
    lua_setfield(L, -2, name);
}

static void drop_from_lib(lua_State *L, const char *lib, const char *name) {
    if (lua_getglobal(L, lib) == LUA_TTABLE) drop_field(L, name);
    lua_pop(L, 1);
}

void lua54_open_process_libs(lua_State *L) {
    lua_setpeek(process_peek);
    for (const LibEntry &lib : process_libs) {
        luaL_requiref(L, lib.name, lib.open, 1);
        lua_pop(L, 1);
    }
    lua_pushglobaltable(L);
    for (const char *name : {"dofile", "loadfile", "load", "xpcall"}) drop_field(L, name);
    lua_pop(L, 1);
    drop_from_lib(L, LUA_TABLIBNAME, "sort");
    drop_from_lib(L, LUA_STRLIBNAME, "dump");
    drop_from_lib(L, LUA_DBLIBNAME, "setcstacklimit");
}
