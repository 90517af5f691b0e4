// stat(n) as a program sees it, for the codes whose subsystems exist.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>

#include "kernel/kernel.h"
#include "lua.hpp"
#include "process/process.h"
#include "process/slice.h"

namespace {

struct Stat : ::testing::Test {
    Process *p = nullptr;

    void SetUp() override {
        config_set_start_values();
        config.headless = 1;
        processes_init();
        p = create_process_from_code("x = 1", "stat", "/ram/stat.lua", "", "lid7");
        ASSERT_NE(p, nullptr);
        cproc = p;
    }
    void TearDown() override { processes_init(); }

    // Evaluates a Lua expression list in process q; results joined by ",".
    static std::string eval(Process *q, const std::string &exprs) {
        cproc = q;
        lua_State *L = q->L;
        int top = lua_gettop(L);
        std::string code = "return " + exprs;
        if (luaL_dostring(L, code.c_str()) != LUA_OK) {
            std::string msg = lua_tostring(L, -1);
            lua_settop(L, top);
            return "error: " + msg;
        }
        std::string out;
        for (int i = top + 1; i <= lua_gettop(L); i++) {
            if (i > top + 1) out += ",";
            out += luaL_tolstring(L, i, nullptr);
            lua_pop(L, 1);
        }
        lua_settop(L, top);
        return out;
    }
    std::string eval(const std::string &exprs) { return eval(p, exprs); }
};

TEST_F(Stat, FixedAnswersAndUnknownCodes) {
    EXPECT_EQ(eval("stat(5)"), "26,0.3.0c");
    EXPECT_EQ(eval("stat(9999), stat(-1)"), "0,0");
    EXPECT_EQ(eval("stat(150), stat(153), stat(316)"), ",,");
    EXPECT_EQ(eval("stat(314) == math.pi, stat(319)"), "true,nil");
    EXPECT_EQ(eval("stat(306)"), KESTRANE_BUILD_DATE);
    EXPECT_EQ(eval("stat(315), stat(317), stat(335)"), "1,1,0");
    // codes are read as integers: a float is rounded down
    EXPECT_EQ(eval("stat(5.9)"), "26,0.3.0c");
}

TEST_F(Stat, ProcessFields) {
    EXPECT_EQ(eval("stat(101), stat(307)"), "lid7,0");
    Process *sys = create_process_from_code("x = 1", "sys", "/system/apps/x.lua", "", "");
    EXPECT_EQ(eval(sys, "stat(101), stat(307)"), "nil,1");
    EXPECT_EQ(eval("stat(7), stat(984)"), "60,0");
    // memory totals come after a full collection and grow with live data
    std::string before = eval("stat(0)");
    eval("(function() big = string.rep('x', 100000) end)()");
    EXPECT_GE(std::stoll(eval("stat(0)")), std::stoll(before) + 100000);
    EXPECT_GE(std::stoll(eval("stat(3)")), 100000);
    // page_len of a page never written is 0, of a written RAM page 4096
    EXPECT_EQ(eval("stat(312, 0x30000)"), "0");
    eval("poke(0x30000, 1)");
    EXPECT_EQ(eval("stat(312, 0x30000)"), "4096");
}

TEST_F(Stat, UniqueCounterIsSharedByAllProcesses) {
    Process *q = create_process_from_code("x = 1", "q", "q", "", "");
    int64_t a = std::stoll(eval(p, "stat(333)"));
    int64_t b = std::stoll(eval(q, "stat(333)"));
    int64_t c = std::stoll(eval(p, "stat(333)"));
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, a + 2);
}

TEST_F(Stat, CpuFiguresAreFractionsOfTheFrameBudget) {
    cpu_cycles = FRAME_BUDGET / 4;
    p->cycles_since_flip = FRAME_BUDGET / 4;
    double used = std::stod(eval("stat(1)"));
    EXPECT_NEAR(used, 0.5, 0.01);
    cpu_cycles = 0;
}

TEST_F(Stat, WallClockAndTimeZone) {
    time_t now = time(nullptr);
    int64_t t = std::stoll(eval("stat(86)"));
    EXPECT_LE(std::llabs(t - (int64_t)now), 2);
    struct tm local;
    localtime_r(&now, &local);
    EXPECT_EQ(std::stoll(eval("stat(87)")), -(int64_t)local.tm_gmtoff);
}

}  // namespace
