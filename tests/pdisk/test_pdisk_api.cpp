// Lua functions of paths and mounts, and the filesystem signals.
#include <gtest/gtest.h>

#include <cstring>

#include "lua.hpp"
#include "pdisk/pdisk_api.h"
#include "pdisk_fixture.h"
#include "process/api_proc.h"

namespace {

struct PdiskLua : PdiskTest {
    lua_State *L = nullptr;

    void SetUp() override
    {
        PdiskTest::SetUp();
        L = luaL_newstate();
        luaL_openlibs(L);
        p->L = L;
        const luaL_Reg fns[] = {
            {"_ext", lua54__ext}, {"_path", lua54__path}, {"_hloc", lua54__hloc},
            {"pwd", lua54__pwd}, {"cd", lua54__cd}, {"norm", lua54_norm},
            {"_normalise_userland_path", lua54__normalise_userland_path},
            {"_is_well_formed_bbs_path", lua54__is_well_formed_bbs_path},
            {"_is_well_formed_kodnet_path", lua54__is_well_formed_kodnet_path},
            {"mount", lua54__mount}, {"_signal", lua54__signal}, {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, fns, 0);
        lua_pop(L, 1);
    }
    void TearDown() override
    {
        lua_close(L);
        p->L = nullptr;
        PdiskTest::TearDown();
    }

    // The results of a chunk joined by ',' ("none" for none), or the error.
    std::string run(const std::string &code)
    {
        lua_settop(L, 0);
        if (luaL_dostring(L, code.c_str()) != LUA_OK)
            return std::string("error: ") + lua_tostring(L, -1);
        std::string r = lua_gettop(L) ? "" : "none";
        for (int i = 1, n = lua_gettop(L); i <= n; i++)
            r += (i > 1 ? "," : "") + std::string(luaL_tolstring(L, i, nullptr));
        return r;
    }
};

TEST_F(PdiskLua, PathTexts)
{
    EXPECT_EQ(run("return _ext('a.lua#10'), _path('a.lua#10'), _hloc('a.lua#10')"), "lua,a.lua,10");
    EXPECT_EQ(run("return _ext('/d/x.k64.png'), _ext('.lua'), _ext('a.b-c.d'), _ext('x.PNG')"),
              "k64.png,lua,d,PNG");
    EXPECT_EQ(run("return _ext('/a/b'), _ext('a.b/c'), _ext('a.'), _ext('a.lua#x.png#')"),
              "nil,nil,nil,png") << "only the last '#' cuts";
    EXPECT_EQ(run("return _path('#x'), _path('abc'), _hloc('abc'), _hloc('a#b#c')"), ",abc,nil,b#c");
    EXPECT_EQ(run("return select('#', _ext(3)) + select('#', _path({})) + select('#', _hloc())"), "0");

    EXPECT_EQ(run("return _normalise_userland_path('a/./b/../c'), _normalise_userland_path('my file/..')"),
              "/a/c,/");
    testing::internal::CaptureStdout();
    EXPECT_EQ(run("return norm('kodnet://x/..')"), "kodnet://");
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(run("return _is_well_formed_bbs_path('bbs://abc_1.k64/x'), "
                  "_is_well_formed_bbs_path('bbs://Abc'), _is_well_formed_bbs_path('A B')"),
              "true,false,true");
    EXPECT_EQ(run("return _is_well_formed_kodnet_path('kodnet://a/B-1.k64'), "
                  "_is_well_formed_kodnet_path('kodnet://a b'), _is_well_formed_kodnet_path('http://a')"),
              "true,false,false");
}

TEST_F(PdiskLua, WorkingDirectory)
{
    std::filesystem::create_directories(drive + "/sub/in");
    EXPECT_EQ(run("cd('sub') return pwd()"), "/sub");
    EXPECT_EQ(run("return cd('nowhere'), pwd()"), "path not found,/sub");
    EXPECT_EQ(run("cd('in/../..') return pwd()"), "/");
    EXPECT_EQ(run("cd('/ram') return pwd()"), "/ram");
    EXPECT_EQ(run("return cd('my dir')"), "none");
    EXPECT_EQ(run("cd('any thing', true) return pwd()"), "any thing");
    EXPECT_EQ(run("cd(string.rep('x', 300), true) return pwd()"), "any thing") << "too long to keep";
}

TEST_F(PdiskLua, MountAndSignals)
{
    run("mount('/m', '/ram/x')");
    EXPECT_EQ(resolve_to_origin("/m/f", nullptr, 0), "/ram/x/f");

    write_text_file(drive + "/g.k64", "");
    put("/g.k64/a", "1");
    run("_signal(48)");
    EXPECT_EQ(FakeCarts::written, 1);
    EXPECT_NE(get_mount_by_mount_point("/g.k64", 0), nullptr);
    put("/g.k64/b", "1");
    run("_signal(39)");
    EXPECT_EQ(FakeCarts::written, 2);
    EXPECT_EQ(get_mount_by_mount_point("/g.k64", 0), nullptr) << "clean cartridge mounts dropped";

    char saved[sizeof config.desktop_path];
    memcpy(saved, config.desktop_path, sizeof saved);
    snprintf(config.desktop_path, sizeof config.desktop_path, "%s", (tmp / "desk").c_str());
    int before = pdisk_num_mounts();
    run("_signal(65) _signal(65)");
    memcpy(config.desktop_path, saved, sizeof saved);
    EXPECT_TRUE(folder_exists(tmp / "desk/kestrane_desktop"));
    EXPECT_EQ(get_mount_description("/desktop/host"), "host:" + tmp / "desk/kestrane_desktop");
    EXPECT_EQ(pdisk_num_mounts(), before + 1) << "a second signal does not mount twice";
}

}  // namespace
