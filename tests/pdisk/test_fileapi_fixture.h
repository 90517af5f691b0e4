// The filesystem fixture with a Lua state holding the file API, kod and
// userdata, as a process sees them.
#pragma once
#include <string>

#include "lua.hpp"
#include "memory/ram.h"
#include "pdisk/fileapi.h"
#include "pdisk/pdisk_api.h"
#include "pdisk_fixture.h"
#include "userdata/userdata.h"

struct FileApiTest : PdiskTest {
    lua_State *L = nullptr;

    void SetUp() override
    {
        PdiskTest::SetUp();
        ram_init_process(p);
        L = luaL_newstate();
        luaL_openlibs(L);
        userdata_open(L);
        p->L = L;
        const luaL_Reg fns[] = {
            {"fetch", lua54_fetch}, {"store", lua54_store}, {"ls", lua54__ls}, {"mkdir", lua54__mkdir},
            {"_fetch_metadata_from_file", lua54__fetch_metadata_from_file},
            {"_store_metadata_str_to_file", lua54__store_metadata_str_to_file},
            {"fstat", lua54__fstat}, {"fullpath", lua54__fullpath}, {"cp", lua54__fcopy},
            {"_fdelete", lua54__fdelete}, {"_cache_store", lua54__cache_store},
            {"_cache_fetch", lua54__cache_fetch}, {"mount", lua54__mount}, {"cd", lua54__cd},
            {"userdata", lua54_userdata}, {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, fns, 0);
        lua_pop(L, 1);
    }
    void TearDown() override
    {
        lua_close(L);
        p->L = nullptr;
        ram_free_process(p);
        PdiskTest::TearDown();
    }

    // The results of a chunk joined by ',' ("none" for none), or the error.
    std::string run(const std::string &code)
    {
        lua_settop(L, 0);
        if (luaL_dostring(L, code.c_str()) != LUA_OK)
            return std::string("error: ") + lua_tostring(L, -1);
        std::string r = lua_gettop(L) ? "" : "none";
        for (int i = 1, n = lua_gettop(L); i <= n; i++) {
            size_t len;
            const char *s = luaL_tolstring(L, i, &len);
            r += (i > 1 ? "," : "") + std::string(s, len);
            lua_pop(L, 1);
        }
        return r;
    }
    std::string host(const std::string &name) { return read_text_file(drive + "/" + name); }
};
