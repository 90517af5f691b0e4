// Lua functions of the address space, called from a bare Lua state: argument
// rules, result counts, limits and cycle charges.
#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "lua.hpp"
#include "memory/ram.h"
#include "memory/ram_api.h"
#include "memory/rng.h"
#include "process/slice.h"
#include "userdata/userdata.h"

namespace {

// new_ud(n, fill): a u8 typed array of n elements, all fill.
int new_ud(lua_State *L)
{
    lua_Integer n = luaL_checkinteger(L, 1);
    Userdata *u = ud_new(L, UD_U8, 1, n, 1);
    memset(ud_data(u), (int)luaL_optinteger(L, 2, 0), (size_t)n);
    return 1;
}

// raw_ud(n): a block of another subsystem, not a typed array.
int raw_ud(lua_State *L)
{
    lua_Integer n = luaL_checkinteger(L, 1);
    memset(lua_newuserdatauv(L, (size_t)n, 0), 7, (size_t)n);
    return 1;
}

struct RamApiTest : testing::Test {
    Process *p = nullptr;
    Process *saved = nullptr;
    lua_State *L = nullptr;
    bool (*saved_view)(lua_State *, int, UdView *) = nullptr;

    void SetUp() override
    {
        saved = cproc;
        saved_view = ram_userdata_view;
        ram_userdata_view = nullptr;
        p = (Process *)calloc(1, sizeof(Process));
        p->id = 77;
        cproc = p;
        ram_init_process(p);
        L = luaL_newstate();
        luaL_openlibs(L);
        p->L = L;
        const luaL_Reg fns[] = {
            {"peek", lua54_peek},       {"peek2", lua54_peek2},     {"peek4", lua54_peek4},
            {"peek8", lua54_peek8},     {"poke", lua54_poke},       {"poke2", lua54_poke2},
            {"poke4", lua54_poke4},     {"poke8", lua54_poke8},     {"_ppeek", lua54__ppeek},
            {"_ppeek4", lua54__ppeek4}, {"memcpy", lua54_memcpy},   {"memset", lua54_memset},
            {"_map_ram", lua54__map_ram}, {"_unmap_ram", lua54__unmap_ram}, {"rnd", lua54_rnd},
            {"srand", lua54_srand},     {"new_ud", new_ud},         {"raw_ud", raw_ud},
            {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, fns, 0);
        lua_pop(L, 1);
        userdata_open(L);
    }
    void TearDown() override
    {
        lua_close(L);
        ram_free_process(p);
        free(p);
        cproc = saved;
        ram_userdata_view = saved_view;
    }
    // Runs a chunk returning one value and gives it as text.
    std::string run(const char *code)
    {
        if (luaL_dostring(L, code) != LUA_OK) {
            std::string err = lua_tostring(L, -1);
            lua_pop(L, 1);
            return "error: " + err;
        }
        std::string r = luaL_tolstring(L, -1, nullptr);
        lua_settop(L, 0);
        return r;
    }
    // Cycles charged by one call of f, made directly from C: running a chunk
    // would also charge its instructions and allocations. The arguments are
    // an optional global followed by integers.
    int cost(lua_CFunction f, std::initializer_list<lua_Integer> args, const char *global = nullptr)
    {
        lua_settop(L, 0);
        lua_checkstack(L, 200);   // no stack growth (an allocation) during the call
        if (global)
            lua_getglobal(L, global);
        for (lua_Integer a : args)
            lua_pushinteger(L, a);
        int before = cpu_cycles;
        f(L);
        int charged = cpu_cycles - before;
        lua_settop(L, 0);
        return charged;
    }
};

TEST_F(RamApiTest, PeekCountsAndWrap)
{
    poke(0xFFFFFF, 0xAB);
    poke(0, 0xCD);
    EXPECT_EQ(run("local a, b = peek(0xFFFFFF, 2) return a .. ',' .. b"), "171,205");
    EXPECT_EQ(run("return select('#', peek(5, 0))"), "0");
    EXPECT_EQ(run("return select('#', peek(5, 65537))"), "0");
    EXPECT_EQ(run("return select('#', peek(5, 65536))"), "65536");
    EXPECT_EQ(run("return select('#', peek(5, '3'))"), "3");
    // truncated toward zero: -1.5 is -1, i.e. 0xFFFFFF
    EXPECT_EQ(run("return peek(-1.5)"), "171");
    EXPECT_EQ(run("return peek('0x10000FF.9')"), run("return peek(0xFF)"));
}

TEST_F(RamApiTest, SignedWidths)
{
    EXPECT_EQ(run("poke2(0x20000, 0x12345) return peek(0x20000) .. ',' .. peek(0x20001)"), "69,35");
    EXPECT_EQ(run("poke2(0x20000, 0xFFFF) return peek2(0x20000)"), "-1");
    EXPECT_EQ(run("poke4(0x20000, 0xFFFFFFFE) return peek4(0x20000)"), "-2");
    EXPECT_EQ(run("poke8(0x20000, -3) return peek8(0x20000)"), "-3");
    EXPECT_EQ(run("poke4(0xFFFFFE, 0x01020304) return peek4(0xFFFFFE)"), "16909060");
    EXPECT_EQ(run("local a, b, c = peek2(0x30000, 3) poke2(0x30000, 1, 2, 3) "
                  "a, b, c = peek2(0x30000, 3) return a .. b .. c"),
              "123");
}

TEST_F(RamApiTest, PokeValueConversions)
{
    // poke and poke2 floor floats; poke4 and poke8 take only integer values
    EXPECT_EQ(run("poke(0x20000, 7.9, -0.5, 'x') return table.concat({peek(0x20000, 3)}, ',')"),
              "7,255,0");
    EXPECT_EQ(run("poke4(0x20000, 1.5, 6.0, '9') return table.concat({peek4(0x20000, 3)}, ',')"),
              "0,6,9");
    EXPECT_EQ(run("poke8(0x20000, 2.25) return peek8(0x20000)"), "0");
}

TEST_F(RamApiTest, PokeLimitAndCharges)
{
    EXPECT_EQ(run("local t = {} for i = 1, 65537 do t[i] = 1 end "
                  "poke(0x40000, table.unpack(t)) return peek(0x40000)"),
              "0");
    EXPECT_EQ(run("local t = {} for i = 1, 65536 do t[i] = 1 end "
                  "poke(0x40000, table.unpack(t)) return peek(0x4FFFF)"),
              "1");
    EXPECT_EQ(cost(lua54_poke, {0x40000, 1}), 0);
    EXPECT_EQ(cost(lua54_poke, {0x40000, 1, 2, 3}), 2);
    EXPECT_EQ(cost(lua54_poke4, {0x40000, 1, 2, 3, 4}), 3);
    EXPECT_EQ(cost(lua54_peek, {0x40000}), 1);
    EXPECT_EQ(cost(lua54_peek, {0x40000, 2}), 1);
    EXPECT_EQ(cost(lua54_peek, {0x40000, 10}), 9);
    EXPECT_EQ(cost(lua54_peek2, {0x40000}), 0);
    EXPECT_EQ(cost(lua54_peek8, {0x40000, 5}), 4);
}

TEST_F(RamApiTest, MemcpyAndMemset)
{
    EXPECT_EQ(run("for i = 0, 15 do poke(i, i) end memcpy(8, 4, 8) "
                  "return table.concat({peek(0, 16)}, ',')"),
              "0,1,2,3,4,5,6,7,4,5,6,7,8,9,10,11");
    EXPECT_EQ(run("memset(0x20000, 0x1FF, 4) return peek4(0x20000)"), "-1");
    EXPECT_EQ(run("memset(0x20000, 5, -1) return peek(0x20000)"), "255");
    EXPECT_EQ(run("memset(0x20000, 5) return peek(0x20000)"), "255");
    EXPECT_EQ(cost(lua54_memset, {0x30000, 1, 0x2000}), 2 * (4096 / 128 + 1));
    EXPECT_EQ(cost(lua54_memcpy, {0x30010, 0x30000, 800}), 800 / 8);
    EXPECT_EQ(cost(lua54_memcpy, {0x30000, 0x40000, -5}), 0);
    // a huge length is cut to the whole space rather than refused
    EXPECT_EQ(run("memset(0, 9, 1e12) return peek(0xFFFFFF)"), "9");
}

TEST_F(RamApiTest, PpeekOtherProcesses)
{
    EXPECT_EQ(run("return _ppeek(12345, 0)"), "0");
    EXPECT_EQ(run("return _ppeek4(12345, 0)"), "0");
    Process *saved_slot = process[0];
    int saved_count = num_processes;
    process[0] = p;
    num_processes = 1;
    poke4(0x5000, 0xFFFFFF80);
    EXPECT_EQ(run("return _ppeek(77, 0x5000.7)"), "128");
    EXPECT_EQ(run("return _ppeek4(77, 0x5000)"), "-128");
    process[0] = saved_slot;
    num_processes = saved_count;
}

TEST_F(RamApiTest, MapAndUnmap)
{
    EXPECT_EQ(run("return select('#', _map_ram(5, 0x10000))"), "0");
    EXPECT_EQ(run("return select('#', _map_ram(raw_ud(8192), 0x10000))"), "0");
    EXPECT_EQ(run("return select('#', _unmap_ram(raw_ud(8192)))"), "0");
    EXPECT_EQ(run("u = new_ud(100, 3) return _map_ram(u, 0x10000)"), "100");
    EXPECT_EQ(p->page_len[0x10], 100);
    EXPECT_EQ(run("return peek(0x10063) .. ',' .. peek(0x10064)"), "3,0");
    EXPECT_EQ(run("return _map_ram(u, 0x8000)"), "100");
    EXPECT_FALSE(ram_page_mapped(p, 8));
    EXPECT_EQ(run("return select('#', _map_ram(u, 0x20000, 100))"), "0");
    EXPECT_EQ(run("return _map_ram(u, 0x20000, 6, 'x')"), "96");   // offset 4, to the end
    EXPECT_EQ(run("return peek(0x20000)"), "3");
    EXPECT_EQ(run("return _map_ram(u, 0x30000, 0, 0)"), "0");
    EXPECT_EQ(run("return _unmap_ram(u, 0x20000)"), "false");   // 0x10000 stays
    EXPECT_TRUE(ram_page_mapped(p, 0x10));
    EXPECT_FALSE(ram_page_mapped(p, 0x20));
    // addresses wrap at 16 MiB, and any integer is a valid address
    EXPECT_EQ(run("_map_ram(u, 0x20000) return _unmap_ram(u, 0x1020000)"), "false");
    EXPECT_FALSE(ram_page_mapped(p, 0x20));
    EXPECT_EQ(run("return _unmap_ram(u, math.maxinteger)"), "false");
    EXPECT_EQ(cost(lua54__unmap_ram, {}, "u"), 4);
    EXPECT_FALSE(ram_page_mapped(p, 0x10));
    EXPECT_EQ(run("return _unmap_ram(u)"), "true");
}

TEST_F(RamApiTest, MappedUserdataSurvivesCollection)
{
    EXPECT_EQ(run("_map_ram(new_ud(8192, 42), 0x50000) collectgarbage() collectgarbage() "
                  "local t = {} for i = 1, 1000 do t[i] = {} end return peek(0x51FFF)"),
              "42");
}

TEST_F(RamApiTest, RndAndSrand)
{
    EXPECT_EQ(run("return rnd()"), "0.0");   // an unseeded process gives 0
    EXPECT_EQ(run("return select('#', rnd({}))"), "0");
    EXPECT_EQ(run("return rnd({'a'})"), "a");
    EXPECT_EQ(cost(lua54_rnd, {}), 4);
    EXPECT_EQ(cost(lua54_srand, {1}), 0);

    rng_seed(p, 0);
    uint64_t v1 = rng_next(p);
    uint64_t v2 = rng_next(p);
    double want = (double)(v2 & 0xFFFFFFFFu) * 10 / 4294967296.0;
    lua_Integer pick = (lua_Integer)(v1 % 3) + 1;
    EXPECT_EQ(run("srand(0) local t = rnd({'x', 'y', 'z'}) return t"),
              std::string(1, (char)('x' + pick - 1)));
    run("srand(0.5)");   // floored to 0
    EXPECT_EQ(rng_next(p), v1);
    // a numeric string is a number
    ASSERT_EQ(luaL_dostring(L, "srand(0) rnd() return rnd('10')"), LUA_OK);
    EXPECT_EQ(lua_tonumber(L, -1), want);
    lua_settop(L, 0);
}

}  // namespace
