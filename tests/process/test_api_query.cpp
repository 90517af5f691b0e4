// Process queries and the kernel's load, called from Lua.
#include <gtest/gtest.h>

#include <string>

#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/process.h"

namespace {

struct ApiQuery : ::testing::Test {
    void SetUp() override {
        config_set_start_values();
        config.headless = 1;
        processes_init();
    }
    void TearDown() override { processes_init(); }

    static Process *make(const char *name, const char *prog = "/ram/p.lua") {
        return create_process_from_code("x = 1", name, prog, "", "");
    }

    // Runs a chunk in q that returns one value, as text.
    static std::string eval(Process *q, const std::string &code) {
        cproc = q;
        if (luaL_dostring(q->L, code.c_str()) != LUA_OK) {
            std::string msg = "error: " + std::string(lua_tostring(q->L, -1));
            lua_pop(q->L, 1);
            return msg;
        }
        std::string s = luaL_tolstring(q->L, -1, nullptr);
        lua_pop(q->L, 2);
        return s;
    }
};

TEST_F(ApiQuery, ProcessStateAndDisplaySize) {
    Process *a = make("a");
    Process *b = make("b");
    cproc = b;
    poke2(0x5478, 480);
    poke2(0x547A, (uint16_t)-3);
    EXPECT_EQ(eval(a, "return _process_state(" + std::to_string(b->id) + ")"), std::to_string(b->state));
    EXPECT_EQ(eval(a, "return _process_state(12345)"), "-1");
    EXPECT_EQ(eval(a, "local w, h = _get_process_display_size(" + std::to_string(b->id) + ") return w .. 'x' .. h"),
              "480x-3");
    EXPECT_EQ(eval(a, "local w, h = _get_process_display_size(999) return w .. 'x' .. h"), "0x0");
}

TEST_F(ApiQuery, ProcessListInSlotOrderWithPriorities) {
    Process *sys = make("one", "/system/a.lua");   // id 1
    make("two");
    make("three");
    Process *user = make("four");                  // id 4
    Process *busy = make("five");
    busy->high_priority = 1;
    app.atomic_pid = 0;
    std::string listing = eval(sys,
        "local out = {} for _, p in ipairs(_get_process_list()) do"
        " out[#out + 1] = p.id .. ':' .. p.name .. ':' .. p.priority .. ':' .. p.pwd ..':' .. math.type(p.memory)"
        " end return table.concat(out, ' ')");
    EXPECT_EQ(listing, "1:one:0.0:/:integer 2:two:0.0:/:integer 3:three:0.0:/:integer "
                       "4:four:1.0:/:integer 5:five:2.0:/:integer");
    // the holder of the atomic lock shows 10; a dimmed display a tenth
    app.atomic_pid = user->id;
    cproc = busy;
    poke(0x547F, 0x20);
    busy->high_priority = 0;
    EXPECT_EQ(eval(sys, "local l = _get_process_list() return l[4].priority .. ' ' .. l[5].priority"),
              "10.0 0.1");
    app.atomic_pid = 0;
}

TEST_F(ApiQuery, LoadCompilesTextButNeverPrecompiledChunks) {
    Process *p = make("loader");
    EXPECT_EQ(eval(p, "return load('return 1 + 2')()"), "3");
    EXPECT_EQ(eval(p, "return load('return x', 'chunk', 't', {x = 'env'})()"), "env");
    EXPECT_EQ(eval(p, "local parts = {'return ', '4', '0'} local i = 0 "
                      "return load(function() i = i + 1 return parts[i] end)()"),
              "40");
    EXPECT_EQ(eval(p, "local f, e = load('return +', '=src') return e"),
              "src:1: unexpected symbol near '+'");

    // a binary chunk made by the same core is still refused
    lua_State *other = luaL_newstate();
    luaL_loadstring(other, "return 5");
    std::string dumped;
    lua_dump(other, [](lua_State *, const void *b, size_t n, void *ud) {
        static_cast<std::string *>(ud)->append((const char *)b, n);
        return 0;
    }, &dumped, 0);
    lua_close(other);
    cproc = p;
    lua_getglobal(p->L, "load");
    lua_pushlstring(p->L, dumped.data(), dumped.size());
    lua_pushnil(p->L);
    lua_pushstring(p->L, "b");
    lua_call(p->L, 3, 2);
    EXPECT_TRUE(lua_isnil(p->L, -2));
    EXPECT_NE(std::string(lua_tostring(p->L, -1)).find("attempt to load a binary chunk"), std::string::npos);
    lua_pop(p->L, 2);
}

}  // namespace
