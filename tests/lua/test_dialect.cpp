// The kernel's Lua dialect as programs see it: compound assignment,
// one-line if/while, the print statement, the extra operators, numerals
// and escapes, tonum, the peek operators and the library set.
#include <gtest/gtest.h>

#include <string>

#include "kernel/harness.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "lua/libs.h"
#include "memory/ram.h"
#include "process/process.h"
#include "process/slice.h"

namespace {

std::string printed;

// print that records its arguments, tab separated, one line per call.
int record_print(lua_State *L) {
    int n = lua_gettop(L);
    for (int i = 1; i <= n; i++) {
        if (i > 1) printed += "\t";
        printed += luaL_tolstring(L, i, nullptr);
        lua_pop(L, 1);
    }
    printed += "\n";
    return 0;
}

struct Dialect : ::testing::Test {
    lua_State *L = nullptr;

    void SetUp() override {
        printed.clear();
        L = luaL_newstate();
        lua54_open_process_libs(L);
        lua_register(L, "print", record_print);
    }
    void TearDown() override { lua_close(L); }

    // Runs code; returns what it printed, or "error: <message>".
    std::string run(const std::string &code) {
        printed.clear();
        if (luaL_loadbuffer(L, code.data(), code.size(), "=t") != LUA_OK ||
            lua_pcall(L, 0, 0, 0) != LUA_OK) {
            std::string msg = "error: " + std::string(lua_tostring(L, -1));
            lua_pop(L, 1);
            return msg;
        }
        return printed;
    }

    // The syntax error of code, or "" when it compiles.
    std::string syntax_error(const std::string &code) {
        if (luaL_loadbuffer(L, code.data(), code.size(), "=t") == LUA_OK) {
            lua_pop(L, 1);
            return "";
        }
        std::string msg = lua_tostring(L, -1);
        lua_pop(L, 1);
        return msg;
    }
};

TEST_F(Dialect, CompoundAssignmentEvaluatesTheTargetPrefixOnce) {
    EXPECT_EQ(run("local n = 0\n"
                  "local function f() n += 1 return 'k' end\n"
                  "local function g() n += 10 return {k = 5} end\n"
                  "local a = {b = {k = 1}}\n"
                  "a.b[f()] += 1\n"
                  "g()[f()] *= 3\n"
                  "print(a.b.k, n)"),
              "2\t12\n");
    // every operator, on a local, an upvalue, a global and a field
    EXPECT_EQ(run("local x = 7 x += 3 x -= 1 x *= 2 print(x)\n"
                  "x /= 4 print(x)\n"
                  "x = 17 x %= 5 x ^= 2 print(x)\n"
                  "x = 17 x \\= 5 print(x)\n"
                  "x = 12 x &= 10 x |= 1 x ^^= 3 print(x)\n"
                  "x <<= 4 x >>= 2 print(x)\n"
                  "s = 'a' s ..= 'b' .. 'c' print(s)\n"
                  "local u = 1 local function h() u += 1 end h() h() print(u)\n"
                  "local t = {v = 2} t.v ^= 3 print(t.v)"),
              "18\n4.5\n4.0\n3\n10\n40\nabc\n3\n8.0\n");
    // the right-hand side is one whole expression of the lowest priority
    EXPECT_EQ(run("local x = 2 x *= 1 + 2 print(x) x = 10 x -= 1 - 1 print(x)"), "6\n10\n");
}

TEST_F(Dialect, CompoundAssignmentRejectsWhatIsNotOneTarget) {
    EXPECT_NE(syntax_error("x = 4 x //= 2").find("syntax error near '//'"), std::string::npos);
    EXPECT_NE(syntax_error("x >>>= 2").find("syntax error"), std::string::npos);
    EXPECT_NE(syntax_error("f() += 1").find("syntax error near '+='"), std::string::npos);
    EXPECT_NE(syntax_error("a, b += 1").find("'=' expected near '+='"), std::string::npos);
    EXPECT_NE(syntax_error("local k <const> = 1 k += 1").find("attempt to assign to const variable 'k'"),
              std::string::npos);
    EXPECT_EQ(run("local x = 9 x \\= 2 print(x)"), "4\n");
}

TEST_F(Dialect, OneLineIfAndWhile) {
    EXPECT_EQ(run("local a = false\n"
                  "if (a) print('then') else print('else')\n"
                  "if (not a) print('one') print('two')\n"
                  "if (a) print('no') elseif a == false then print('elseif')"),
              "else\none\ntwo\nelseif\n");
    // nested one-liners closing on the same line each get their line end
    EXPECT_EQ(run("if (true) if (false) print('A') else print('B')\nprint('after')"), "B\nafter\n");
    EXPECT_EQ(run("for i = 1, 3 do if (i == 2) print(i) end"), "2\n");
    // the long form when the condition is more than one parenthesised term
    EXPECT_EQ(run("local a, b = false, true\nif (a) or b then print('long') end"), "long\n");
    EXPECT_NE(syntax_error("if (a)\n  print(1)\n").find("'then' expected near 'print'"), std::string::npos);
    EXPECT_EQ(run("local function f(x) if (x) return 1\n return 2 end print(f(true), f(false))"), "1\t2\n");
    EXPECT_EQ(run("local i = 0 while (i < 5) i += 1\nprint(i)"), "5\n");
    EXPECT_EQ(run("local i, n = 0, 0 while (i < 3) do i += 1 n += i end print(n)"), "6\n");
    // a one-line body cannot go on past its line
    EXPECT_NE(syntax_error("if (a) f(\n1)").find("unexpected symbol near '<eol>'"), std::string::npos);
    EXPECT_NE(syntax_error("if (a) return 1 2").find("'<eol>' expected near '2'"), std::string::npos);
    EXPECT_NE(syntax_error("if (a) return 1 --[[\n]] 2").find("'<eol>' expected (to close 'if' at line 1)"),
              std::string::npos);
    // a condition that ends the chunk is no one-line if
    EXPECT_NE(syntax_error("if (a)").find("'then' expected near <eof>"), std::string::npos);
}

TEST_F(Dialect, PrintStatementCallsPrintAsResolvedByName) {
    EXPECT_EQ(run("? 'x', 1\n? \n?"), "x\t1\n\n\n");
    EXPECT_EQ(run("local v = ? 'in'\nprint(v)"), "in\nnil\n");
    // a local print shadows the global one; its first result is the value
    EXPECT_EQ(run("local function print(...) return select('#', ...) end\n"
                  "local n = ? 1, 2, 3\n_G.print(n)"),
              "3\n");
    EXPECT_NE(syntax_error("? 1 2").find("'<eol>' expected near '2'"), std::string::npos);
    // a long comment carries the statement into the next line
    EXPECT_NE(syntax_error("? 1 --[[\n]] 2").find("'<eol>' expected (to close '?' at line 1) near '2'"),
              std::string::npos);
    EXPECT_NE(syntax_error("f(? 1,\n2)").find("unexpected symbol near '<eol>'"), std::string::npos);
}

TEST_F(Dialect, OperatorsAndPriorities) {
    EXPECT_EQ(run("print(7 \\ 2, -7 \\ 2, 7.5 \\ 2, 5 ^^ 3, 1 != 2, 2 != 2)"), "3\t-4\t3.0\t6\ttrue\tfalse\n");
    // ^^ binds like ~, between | and &; \ like //
    EXPECT_EQ(run("print(1 | 6 ^^ 3 & 5, 2 + 9 \\ 2 * 3)"), "7\t14\n");
    // a lone ! is no operator
    EXPECT_NE(syntax_error("x = !a").find("unexpected symbol near '!'"), std::string::npos);
}

TEST_F(Dialect, BinaryNumeralsAndEscapes) {
    EXPECT_EQ(run("print(0b101, 0B11, 0b1.1, 0b.01, 0b1p3, 0b11p-1, math.type(0b1))"),
              "5\t3\t1.5\t0.25\t8.0\t1.5\tinteger\n");
    // 65 ones wrap around like a hexadecimal integer would
    EXPECT_EQ(run("print(0b" + std::string(65, '1') + ", 0b1" + std::string(63, '0') + ")"),
              "-1\t" + std::to_string(INT64_MIN) + "\n");
    // digits beyond the 64th significant one only raise the exponent
    EXPECT_EQ(run("print(0b1" + std::string(70, '0') + ".0 == 2.0^70)"), "true\n");
    EXPECT_EQ(run("print(tonumber('0b110'), ' 0b1 ' + 1, tonumber('-0b1.1'), tonumber('0b2'))"),
              "6\t2\t-1.5\tnil\n");
    EXPECT_NE(syntax_error("x = 0b102").find("malformed number near '0b102'"), std::string::npos);
    EXPECT_NE(syntax_error("x = 0b").find("malformed number near '0b'"), std::string::npos);
    EXPECT_EQ(run("print(('\\*\\#\\-\\|\\+\\^'):byte(1, -1))"), "1\t2\t3\t4\t5\t6\n");
    EXPECT_NE(syntax_error("x = '\\q'").find("invalid escape sequence"), std::string::npos);
}

TEST_F(Dialect, TonumConvertsOrGivesNothing) {
    EXPECT_EQ(run("print(tonum('0b11'), tonum(true), tonum(false), tonum(2.5), tonum(' 12 '), tonum('0x10'))"),
              "3\t1\t0\t2.5\t12\t16\n");
    EXPECT_EQ(run("print(select('#', tonum({})), select('#', tonum('x')), select('#', tonum()),"
                  " select('#', tonum('1\\0')), select('#', tonum(nil)))"),
              "0\t0\t0\t0\t0\n");
}

TEST_F(Dialect, LibrarySetLeavesOutHostAndLoaderFunctions) {
    EXPECT_EQ(run("print(io, os, package, dofile, loadfile, load, xpcall,"
                  " table.sort, string.dump, debug.setcstacklimit)"),
              "nil\tnil\tnil\tnil\tnil\tnil\tnil\tnil\tnil\tnil\n");
    EXPECT_EQ(run("print(_VERSION, type(coroutine.wrap), type(utf8.char), type(debug.traceback),"
                  " type(table.move), type(('').rep), type(math.tointeger), type(pcall))"),
              "Lua 5.4\tfunction\tfunction\tfunction\tfunction\tfunction\tfunction\tfunction\n");
}

// Peek operators need a process: they read its address space.
struct DialectProcess : ::testing::Test {
    void SetUp() override {
        config_set_start_values();
        config.headless = 1;
        processes_init();
    }
    void TearDown() override { processes_init(); }

    static std::string global_str(Process *p, const char *name) {
        lua_getglobal(p->L, name);
        std::string s = luaL_tolstring(p->L, -1, nullptr);
        lua_pop(p->L, 2);
        return s;
    }
};

TEST_F(DialectProcess, PeekOperatorsReadTheAddressSpace) {
    Process *p = create_process_from_code(
        "a, b, c, d = @0x10000, %0x10002, $0x10004, *0x10008\n"
        "e = @65536.0 + @(0x10000 + 0x100000000)\n"
        "f = %0x10000 ~ 0\n"
        "ok1, err1 = pcall(function() return @'1' end)\n"
        "ok2, err2 = pcall(function() return $1.5 end)\n"
        "while true do end\n",
        "peeks", "peeks", "", "");
    ASSERT_NE(p, nullptr);
    cproc = p;
    poke(0x10000, 0x9a);
    poke(0x10001, 0xff);
    poke2(0x10002, 0xffff);
    poke4(0x10004, 0x80000000u);
    poke8(0x10008, 0x0102030405060708ull);
    prepare_processes_for_frame();
    run_process_slice(p, 1.0);
    EXPECT_EQ(global_str(p, "a"), "154");
    EXPECT_EQ(global_str(p, "b"), "-1");
    EXPECT_EQ(global_str(p, "c"), "-2147483648");
    EXPECT_EQ(global_str(p, "d"), std::to_string(0x0102030405060708ll));
    EXPECT_EQ(global_str(p, "e"), "308");   // float address, and only the low 32 bits count
    EXPECT_EQ(global_str(p, "f"), std::to_string((int16_t)0xff9a));
    EXPECT_EQ(global_str(p, "ok1"), "false");
    EXPECT_NE(global_str(p, "err1").find("attempt to perform arithmetic on a string value"), std::string::npos);
    EXPECT_NE(global_str(p, "err2").find("attempt to perform arithmetic on a number value"), std::string::npos);
}

// A program that uses every new construct, run once in one slice and once
// preempted every few instructions, must end in the same state.
TEST_F(DialectProcess, PreemptionInsideNewConstructsResumesWhereItStopped) {
    const char *code =
        "poke(0x20000, 7)\n"
        "local t = {n = 0, s = ''}\n"
        "local k = 0\n"
        "local function key() k += 1 return 'n' end\n"
        "local i = 0\n"
        "while (i < 300) i += 1\n"
        "for j = 1, 200 do\n"
        "  t[key()] += @0x20000 + %0x20000 + $0x20000 + *0x20000\n"
        "  if (j % 50 == 0) t.s ..= j else t.n ^^= 1\n"
        "  local q = ? j\n"
        "end\n"
        "result = t.n .. ':' .. t.s .. ':' .. k .. ':' .. i\n"
        "while true do end\n";  // a finished process would be ended
    Process *whole = create_process_from_code(code, "whole", "whole", "", "");
    Process *sliced = create_process_from_code(code, "sliced", "sliced", "", "");
    ASSERT_TRUE(whole && sliced);
    // print is not needed to see the effect; keep output quiet
    for (Process *p : {whole, sliced}) {
        lua_pushcfunction(p->L, [](lua_State *) { return 0; });
        lua_setglobal(p->L, "print");
    }
    prepare_processes_for_frame();
    run_process_slice(whole, 1.0);
    ASSERT_NE(global_str(whole, "result"), "nil");

    int slices = 0;
    do {
        prepare_processes_for_frame();
        run_process_slice(sliced, 0.0005);   // about 140 cycles: 70 instructions
        slices++;
    } while (global_str(sliced, "result") == "nil" && slices < 100000);
    EXPECT_GT(slices, 50);
    EXPECT_EQ(global_str(sliced, "result"), global_str(whole, "result"));
}

// The whole path: a machine boots a program written in the dialect, which
// reaches the kernel API.
TEST(DialectMachine, BootProgramInTheDialectRunsWithTheKernelApi) {
    MachineRun r = harness_run_boot(
        "local n = 0\n"
        "while (n < 3) n += 1\n"
        "poke(0x10000, 42)\n"
        "? 'boot', n, @0x10000, tonum('0b101'), flr(-0.5), mid(1, 5, 3), #split('a,b;;c', ',;')\n"
        "while true do flip() end\n",
        2);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.out.rfind("boot\t3\t42\t5\t-1\t3\t4\n", 0), 0u) << r.out;
}

}  // namespace
