// The general-purpose kernel functions, registered into a bare Lua state
// and called from small Lua snippets.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <string>

#include "lua.hpp"
#include "process/api_util.h"
#include "process/slice.h"

namespace {

const luaL_Reg util_functions[] = {
    {"add", lua54_add}, {"del", lua54_del}, {"deli", lua54_deli}, {"count", lua54_count},
    {"split", lua54_split}, {"ord", lua54_ord}, {"chr", lua54_chr},
    {"_strindex", lua54__strindex}, {"tokenoid", lua54_tokenoid},
    {"min", lua54_min}, {"max", lua54_max}, {"mid", lua54_mid}, {"flr", lua54_flr},
    {"ceil", lua54_ceil}, {"abs", lua54_abs}, {"sgn", lua54_sgn}, {"sqrt", lua54_sqrt},
    {"sin", lua54_sin}, {"cos", lua54_cos}, {"atan2", lua54_atan2}, {"date", lua54_date},
    {"printh", lua54__printh}, {"_count_p", lua54__count_p},
    {"_get_userland_clipboard_text", lua54__get_userland_clipboard_text},
    {"_set_userland_clipboard_text", lua54__set_userland_clipboard_text},
};

// Renders results so that integers, floats and strings stay distinct:
// 2, 2.0, "2"; sequences as {a,b}.
const char *render_lua = R"(
local function show(v)
  if type(v) == "string" then return string.format("%q", v) end
  if type(v) ~= "table" then return tostring(v) end
  local out = {}
  for i = 1, #v do out[i] = show(v[i]) end
  return "{" .. table.concat(out, ",") .. "}"
end
function __show(...)
  local out = {}
  for i = 1, select("#", ...) do out[i] = show((select(i, ...))) end
  return table.concat(out, ", ")
end
)";

struct ApiUtil : testing::Test {
    lua_State *L = nullptr;

    void SetUp() override {
        L = luaL_newstate();
        luaL_openlibs(L);
        for (const luaL_Reg &r : util_functions) {
            lua_pushcfunction(L, r.func);
            lua_setglobal(L, r.name);
        }
        ASSERT_EQ(luaL_dostring(L, render_lua), LUA_OK);
    }
    void TearDown() override { lua_close(L); }

    // The results of a Lua expression list, rendered; "error: ..." on failure.
    std::string eval(const std::string &exprs) {
        std::string code = "return __show(" + exprs + ")";
        std::string out;
        if (luaL_dostring(L, code.c_str()) != LUA_OK) out = "error: ";
        out += lua_tostring(L, -1);
        lua_settop(L, 0);
        return out;
    }

    double num(const std::string &expr) {
        std::string code = "return " + expr;
        EXPECT_EQ(luaL_dostring(L, code.c_str()), LUA_OK);
        double d = lua_tonumber(L, -1);
        lua_settop(L, 0);
        return d;
    }

    // Cycles charged by one call of fn with the values of args; the call is
    // made from C so no VM instruction is counted.
    int charge(lua_CFunction fn, const std::string &args) {
        std::string code = "return " + args;
        lua_settop(L, 0);
        EXPECT_EQ(luaL_dostring(L, code.c_str()), LUA_OK);
        int nargs = lua_gettop(L);
        lua_pushcfunction(L, fn);
        lua_insert(L, 1);
        int before = cpu_cycles;
        lua_call(L, nargs, LUA_MULTRET);
        int spent = cpu_cycles - before;
        lua_settop(L, 0);
        return spent;
    }
};

TEST_F(ApiUtil, AddInsertsLikeTableInsertAndReturnsTheValue) {
    EXPECT_EQ(eval("(function() local t = {1, 2} local r = add(t, 3) return t, r end)()"), "{1,2,3}, 3");
    EXPECT_EQ(eval("(function() local t = {1, 2} add(t, 9, 1) return t end)()"), "{9,1,2}");
    EXPECT_EQ(eval("(function() local t = {1} add(t) return t, select('#', add(t)) end)()"), "{1}, 0");
    EXPECT_NE(eval("add({1}, 5, 3)").find("position out of bounds"), std::string::npos);
    EXPECT_NE(eval("add({1}, 5, 0)").find("position out of bounds"), std::string::npos);
    EXPECT_NE(eval("add({}, 1, 1, 1)").find("wrong number of arguments to 'insert'"), std::string::npos);
    EXPECT_EQ(charge(lua54_add, "{1, 2, 3, 4}, 0, 2"), 3);
}

TEST_F(ApiUtil, DelDeliAndCount) {
    EXPECT_EQ(eval("(function() local t = {1, 2, 3, 2} local r = del(t, 2) return t, r end)()"), "{1,3,2}, 2");
    EXPECT_EQ(eval("select('#', del({1, 2}, 5))"), "0");
    EXPECT_EQ(eval("(function() local t = {1, 2, 3} return deli(t), t end)()"), "3, {1,2}");
    EXPECT_EQ(eval("(function() local t = {1, 2, 3} return deli(t, 1), t end)()"), "1, {2,3}");
    EXPECT_EQ(eval("select('#', deli({1, 2}, 3)), select('#', deli({}))"), "0, 0");
    EXPECT_EQ(eval("count({1, 2, 1}), count({1, 2, 1}, 1), select('#', count('x'))"), "3, 2, 0");
    EXPECT_EQ(charge(lua54_del, "{1, 2, 3, 4, 5}, 1"), 5);
    EXPECT_EQ(charge(lua54_deli, "{1, 2, 3, 4, 5}, 2"), 3);
    EXPECT_EQ(charge(lua54_count, "{1, 2, 3, 4}"), 4);
}

TEST_F(ApiUtil, MinMaxMidKeepIntegersOnlyWhenBothAreIntegers) {
    EXPECT_EQ(eval("min(3, 2.5), min(3, 2), max(3, 2), mid(1, 5, 3)"), "2.5, 2, 3, 3");
    EXPECT_EQ(eval("min(5), max(-5, 'x'), min(2.5), max('7', 3)"), "0, 0, 0.0, 7.0");
    EXPECT_EQ(eval("mid(1, 5.5, 3), mid(nil, 4, -2), mid(9, 2, 7)"), "3.0, 0.0, 7");
}

TEST_F(ApiUtil, RoundingSaturatesAndAbsAvoidsOverflow) {
    EXPECT_EQ(eval("flr(-0.5), flr(7), flr('2.7'), flr({})"), "-1, 7, 2, 0");
    EXPECT_EQ(eval("flr(1e30) == math.maxinteger, flr(-1e30) == math.mininteger, flr(0/0)"), "true, true, 0");
    EXPECT_EQ(eval("ceil(0.2), ceil(-0.5), ceil(1e30) == math.maxinteger, ceil(0/0)"), "1, 0, true, 0");
    EXPECT_EQ(eval("abs(math.mininteger) == math.maxinteger, abs(-3), abs(-2.5)"), "true, 3, 2.5");
    EXPECT_EQ(eval("sgn(0), sgn(-0.1), sgn(-5), sgn(2)"), "1, -1, -1, 1");
    EXPECT_EQ(eval("sqrt(16)"), "4.0");
    EXPECT_EQ(charge(lua54_sqrt, "2"), 6);
}

TEST_F(ApiUtil, TrigIsInTurnsWithExactQuarters) {
    EXPECT_EQ(eval("cos(0.25), sin(0.25), cos(0.5), sin(0.75), cos(3)"), "0.0, -1.0, -1.0, 1.0, 1.0");
    // negative angles take their fraction upwards: -0.25 is three quarters
    EXPECT_EQ(eval("cos(-0.25), sin(-0.25), cos(-1.5), sin(-2)"), "0.0, 1.0, -1.0, 0.0");
    EXPECT_EQ(num("sin(0.1)"), -std::sin(0.1 * 6.283124));
    EXPECT_EQ(num("cos(0.3)"), std::cos(0.3 * 6.283124));
    EXPECT_EQ(num("atan2(1, 0)"), 0.0);
    EXPECT_EQ(num("atan2(0, 1)"), std::atan2(-1.0, 0.0) / 6.283124);
    EXPECT_EQ(num("atan2(-1, 0)"), std::atan2(0.0, -1.0) / 6.283124);
}

TEST_F(ApiUtil, SplitBySetsSizesAndCharacters) {
    EXPECT_EQ(eval("split('a,b;;c', ',;')"), R"({"a","b","","c"})");
    EXPECT_EQ(eval("split('1,x'), split('1,2,', ',', false)"), R"({1,"x"}, {"1","2",""})");
    EXPECT_EQ(eval("split('0x10, 2.5 ,7e')"), R"({16,2.5,"7e"})");
    EXPECT_EQ(eval("split('abcdefg', 3), split('abc', 0), split('abc', 99)"),
              R"({"abc","def","g"}, {"a","b","c"}, {"abc"})");
    EXPECT_EQ(eval("split('a1b', ''), split('', ''), split('')"), R"({"a",1,"b"}, {}, {""})");
    // a zero byte must not let the digits before it pass as the whole piece
    EXPECT_EQ(eval("split('1\\0x,2')"), R"({"1\0x",2})");
    EXPECT_EQ(eval("select('#', split(5)), select('#', split(nil))"), "0, 0");
    EXPECT_EQ(charge(lua54_split, "'a,b,c,d'"), 7);
}

TEST_F(ApiUtil, OrdChrAndStrindex) {
    EXPECT_EQ(eval("ord('ab', 3)"), "nil");
    EXPECT_EQ(eval("select('#', ord('ab', 1, 0)), select('#', ord('ab', 1, 65537))"), "0, 0");
    EXPECT_EQ(eval("ord('ab', 0, 4)"), "nil, 97, 98, nil");
    EXPECT_EQ(eval("ord('ab', math.mininteger), ord('ab', math.maxinteger, 2)"), "nil, nil, nil");
    EXPECT_EQ(eval("select('#', ord('ab', 1, 65536))"), "65536");
    EXPECT_EQ(eval("chr(72, 105, 289, -1, 'x'), chr()"), "\"Hi!\xff\\0\", \"\"");
    EXPECT_EQ(eval("_strindex('abc', 2), _strindex('abc', 0), _strindex('abc', 4), _strindex(5, 1)"),
              R"("b", nil, nil, nil)");
    EXPECT_EQ(charge(lua54_ord, "'abc', 1, 10"), 10);
    EXPECT_EQ(charge(lua54_chr, "1, 2, 3"), 3);
}

TEST_F(ApiUtil, DateFormatsTimesStringsAndOffsets) {
    EXPECT_EQ(eval("date(nil, 0), date('!%Y', 86400 * 365)"), R"("1970-01-01 00:00:00", "1971")");
    EXPECT_EQ(eval("date(nil, '2024-02-29 12:34:56', 86400)"), R"("2024-03-01 12:34:56")");
    EXPECT_EQ(eval("date(nil, '2000-03-01 23:59:59'), date(nil, '1969-12-31')"),
              R"("2000-03-01 23:59:59", "1969-12-31 00:00:00")");
    EXPECT_EQ(eval("date('!%H:%M', 0.9 + 3600 * 25), date('!%Ey %OH!', 0)"), R"("01:00", "70 00!")");
    EXPECT_EQ(eval("(function() local t = date('!*t', 86400 + 61) "
                   "return t.year, t.month, t.day, t.hour, t.min, t.sec, t.yday, t.wday, t.isdst end)()"),
              "1970, 1, 2, 0, 1, 1, 2, 6, false");
    EXPECT_EQ(eval("type(date()), type(date('*t').year)"), R"("string", "number")");
}

TEST_F(ApiUtil, DateErrors) {
    auto fails_with = [&](const char *call, const char *text) {
        std::string r = eval(call);
        EXPECT_NE(r.find(text), std::string::npos) << call << " gave " << r;
    };
    fails_with("date('%Q')", "invalid conversion specifier '%Q'");
    fails_with("date('!x %Ez')", "invalid conversion specifier '%Ez'");
    fails_with("date('%E')", "invalid conversion specifier '%E'");
    fails_with("date('50%')", "invalid conversion specifier '%'");
    fails_with("date(nil, 1e300)", "time out-of-bounds");
    fails_with("date(nil, 0/0)", "time out-of-bounds");
    fails_with("date(nil, math.maxinteger, 1)", "time out-of-bounds");
    fails_with("date(nil, math.maxinteger)", "date result cannot be represented in this installation");
    fails_with("date(nil, '20x4-01-01 00:00:00')", "time result cannot be represented in this installation");
    fails_with("date(nil, '2024-01')", "time result cannot be represented in this installation");
    fails_with("date(nil, '2024-01-01 1')", "time result cannot be represented in this installation");
}

TEST_F(ApiUtil, TokenoidClassesAcrossALine) {
    const char *walk = R"(
        local s, i, out = ..., 1, {}
        while true do
          local text, nxt, cls = tokenoid(s, i)
          if not text then break end
          out[#out + 1] = text .. "|" .. cls
          i = nxt
        end
        return table.concat(out, " ")
    )";
    auto tokens = [&](const char *src) {
        EXPECT_EQ(luaL_loadstring(L, walk), LUA_OK);
        lua_pushstring(L, src);
        EXPECT_EQ(lua_pcall(L, 1, 1, 0), LUA_OK);
        std::string r = lua_tostring(L, -1);
        lua_settop(L, 0);
        return r;
    };
    EXPECT_EQ(tokens("  x_1 = 0x1f+0b10 -- c\n\t\tq"),
              "  |0 x_1|1  |0 =|5  |0 0x1f|2 +|5 0b10|2  |0 -- c|3 \n|5 \t|0 \t|0 q|1");
    EXPECT_EQ(tokens("1.5e3 0X1 \"a\\\"b\\\\\"c [=x"),
              "1.5e3|2  |0 0|2 X1|1  |0 \"a\\\"b\\\\\"|4 c|1  |0 [|5 =|5 x|1");
    EXPECT_EQ(tokens("\"open"), "\"open|4");
}

TEST_F(ApiUtil, TokenoidLongBracketsAndContinuation) {
    EXPECT_EQ(eval("tokenoid('[==[ x ]] ]==] y')"), R"("[==[ x ]] ]==]", 15, 4)");
    EXPECT_EQ(eval("tokenoid('a [=[ open', 3)"), R"("[=[ open", 11, 4, 1025)");
    EXPECT_EQ(eval("tokenoid('--[[ c ]] x')"), R"("--[[ c ]]", 10, 3)");
    EXPECT_EQ(eval("tokenoid('--[==[ c')"), R"("--[==[ c", 9, 3, 770)");
    EXPECT_EQ(eval("tokenoid('--[==x\\n')"), R"("--[==x", 7, 3)");
    EXPECT_EQ(eval("tokenoid('abc ]=] z', 1, 1025)"), R"("abc ]=]", 8, 4)");
    EXPECT_EQ(eval("tokenoid('abc ]] z', 1, 768)"), R"("abc ]]", 7, 3)");
    EXPECT_EQ(eval("tokenoid('abc ]] z', 1, 1025)"), R"("abc ]] z", 9, 4, 1025)");
    // more than 60 '=' do not open a long bracket; a state level is capped at 64
    EXPECT_EQ(eval("tokenoid('[' .. ('='):rep(61) .. '[')"), R"("[", 2, 5)");
    EXPECT_EQ(eval("#tokenoid('[' .. ('='):rep(60) .. '[')"), "62");
    EXPECT_EQ(eval("tokenoid('x]' .. ('='):rep(64) .. ']y', 1, 0x4ff) == 'x]' .. ('='):rep(64) .. ']'"),
              "true");
    EXPECT_EQ(eval("select('#', tokenoid('ab', 3)), select('#', tokenoid('ab', 0)), "
                   "select('#', tokenoid(12))"),
              "0, 0, 0");
    EXPECT_EQ(charge(lua54_tokenoid, "'hello world'"), 5);
}

TEST_F(ApiUtil, CountPClipboardAndPrinth) {
    EXPECT_EQ(eval("_count_p(), _count_p(nil, nil), _count_p(1, 2, 3)"), "0, 2, 3");
    EXPECT_EQ(eval("_set_userland_clipboard_text('a\\0b'), _get_userland_clipboard_text()"), R"(nil, "a\0b")");
    EXPECT_EQ(eval("_set_userland_clipboard_text(5), _get_userland_clipboard_text()"), R"(nil, "a\0b")");

    static std::string logged;
    SDL_LogOutputFunction saved_fn;
    void *saved_data;
    SDL_LogGetOutputFunction(&saved_fn, &saved_data);
    SDL_LogSetOutputFunction([](void *, int, SDL_LogPriority, const char *m) { logged += std::string(m) + "|"; }, nullptr);
    eval("printh('hello'), printh(12)");
    SDL_LogSetOutputFunction(saved_fn, saved_data);
    // SDL drops the final line end of each message
    EXPECT_EQ(logged, "hello|12|");
}

}  // namespace
