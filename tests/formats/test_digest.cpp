#include "formats/digest.h"

#include <gtest/gtest.h>

#include <string>

#include "lua.hpp"
#include "process/slice.h"

namespace {

std::string md5_of(const std::string &s)
{
    char out[33];
    md5(s.data(), s.size(), out);
    return out;
}

TEST(Md5, PublishedTestSuite)
{
    EXPECT_EQ(md5_of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; i++)
        digits += "1234567890";
    EXPECT_EQ(md5_of(digits), "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths where the padding fits the last block or spills into another.
TEST(Md5, PaddingBoundaries)
{
    EXPECT_EQ(md5_of(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5_of(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5_of(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(md5_of(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Crc32, KnownValuesAndChaining)
{
    EXPECT_EQ(crc32b("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32b("", 0), 0u);
    const char *fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(crc32b(fox, 43), 0x414FA339u);
    EXPECT_EQ(crc32b_update(crc32b(fox, 10), fox + 10, 33), 0x414FA339u);
}

// Results, charges (len/8 and len/2) and non-string arguments.
TEST(DigestLua, ResultsAndCharges)
{
    lua_State *L = luaL_newstate();
    std::string big(800, 'a');
    auto call = [&](lua_CFunction f, int *charged) {
        int before = cpu_cycles;
        int n = f(L);
        *charged = cpu_cycles - before;
        return n;
    };
    int charged;
    lua_pushlstring(L, big.data(), big.size());
    ASSERT_EQ(call(lua54__crc, &charged), 1);
    EXPECT_EQ(charged, 100);
    EXPECT_EQ(lua_tointeger(L, -1), (lua_Integer)crc32b(big.data(), big.size()));
    lua_settop(L, 0);

    lua_pushlstring(L, big.data(), big.size());
    ASSERT_EQ(call(lua54__md5, &charged), 1);
    EXPECT_EQ(charged, 400);
    EXPECT_EQ(lua_tostring(L, -1), md5_of(big));
    lua_settop(L, 0);

    lua_pushstring(L, "123456789");
    call(lua54__crc, &charged);
    EXPECT_EQ(lua_tointeger(L, -1), (lua_Integer)0xCBF43926u);   // never negative
    lua_settop(L, 0);

    lua_newtable(L);
    EXPECT_EQ(call(lua54__crc, &charged), 0);
    EXPECT_EQ(call(lua54__md5, &charged), 0);
    lua_close(L);
}

}  // namespace
