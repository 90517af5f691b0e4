#include "formats/kxu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "formats/buffer.h"
#include "lua.hpp"
#include "userdata/userdata.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes kxu(std::initializer_list<uint8_t> header_and_body)
{
    Bytes b = {'k', 'x', 'u', 0};
    b.insert(b.end(), header_and_body);
    return b;
}

struct KxuTest : testing::Test {
    lua_State *L = luaL_newstate();
    ~KxuTest() override { lua_close(L); }

    Userdata *make(int type, int dims, int w, int h, const Bytes &data)
    {
        Userdata *u = ud_new(L, type, dims, w, h);
        memcpy(ud_data(u), data.data(), std::min(data.size(), (size_t)ud_data_size(u)));
        return u;
    }
    Bytes write(Userdata *u, int bits, int mode)
    {
        Buffer *b = create_buffer_2(16, 1);
        int n = write_binary_kxu(u, b, bits, mode);
        Bytes out(b->data, b->data + b->len);
        EXPECT_EQ(n, (int)out.size());
        destroy_buffer(b);
        return out;
    }
    // Reads a block followed by other bytes: on success the position is just
    // after the block; on failure nothing is pushed.
    Userdata *read(Bytes block)
    {
        size_t size = block.size();
        block.insert(block.end(), {'}', ','});
        int top = lua_gettop(L);
        const char *end = get_binary_kxu(L, (const char *)block.data(), block.size());
        EXPECT_EQ(lua_gettop(L), top + (end ? 1 : 0));
        if (end) {
            EXPECT_EQ((size_t)(end - (const char *)block.data()), size);
        }
        return end ? (Userdata *)lua_touserdata(L, -1) : nullptr;
    }
    void expect_same(const Userdata *a, const Userdata *b)
    {
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(a->type == b->type && a->dims == b->dims && a->width == b->width && a->height == b->height);
        EXPECT_EQ(memcmp(ud_data(a), ud_data(b), (size_t)ud_data_size(a)), 0);
        lua_pop(L, 1);
    }
};

TEST_F(KxuTest, ExactBytes)
{
    EXPECT_EQ(write(make(UD_U8, 1, 1, 1, {0x5a}), 4, KXU_MODE_RAW), kxu({0x03, 0x10, 0x01, 0x5a}));

    // 1000 bytes of 200: wide width, escape byte with a full count, the
    // literal, and 1000 - 1 - 15 = 984 in continuation bytes.
    EXPECT_EQ(write(make(UD_U8, 1, 1000, 1, Bytes(1000, 200)), 4, KXU_MODE_MTF),
              kxu({0x03, 0x28, 0xe8, 0x03, 0, 0, 4, 0xff, 200, 255, 255, 255, 219}));

    // 256 equal i16 elements: count 255, the element, then the rest 0.
    Bytes minus2(512, 0xff);
    for (size_t i = 0; i < 512; i += 2)
        minus2[i] = 0xfe;
    EXPECT_EQ(write(make(UD_I16, 1, 256, 1, minus2), 4, KXU_MODE_RLE),
              kxu({0x0c, 0x88, 0, 1, 0, 0, 0, 255, 0xfe, 0xff, 0}));

    // Values in slots 0..14 cost one byte; a literal is stored into a slot
    // beyond the addressable ones, so it is escaped every time.
    EXPECT_EQ(write(make(UD_U8, 2, 3, 2, {1, 1, 1, 200, 7, 200}), 4, KXU_MODE_MTF),
              kxu({0x43, 0x20, 3, 2, 4, 0x21, 0x0f, 200, 0x07, 0x0f, 200}));
}

TEST_F(KxuTest, RoundTripsInEveryMode)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 40; round++) {
        int w = 1 + (int)(rng() % (round < 30 ? 40 : 700)), h = 1 + (int)(rng() % 30);
        Bytes data((size_t)w * h);
        for (size_t i = 0; i < data.size();) {   // runs of a small palette, and others
            uint8_t v = rng() % 4 == 0 ? (uint8_t)rng() : (uint8_t)(rng() % 20);
            for (size_t k = 1 + rng() % 300; k > 0 && i < data.size(); k--)
                data[i++] = v;
        }
        Userdata *u = make(UD_U8, 2, w, h, data);
        for (int mode : {KXU_MODE_RAW, KXU_MODE_MTF, KXU_MODE_RLE})
            expect_same(u, read(write(u, 1 + round % 6, mode)));
        lua_pop(L, 1);
    }
    // Other types: raw copies every byte; move-to-front falls back to run-length.
    for (int type : {UD_I16, UD_I32, UD_F64}) {
        Bytes data(300 * 3 * 8);
        for (size_t i = 0; i < data.size(); i++)
            data[i] = (uint8_t)(i / 97 % 3 == 0 ? i : 1);
        Userdata *u = make(type, 2, 300, 3, data);
        for (int mode : {KXU_MODE_RAW, KXU_MODE_MTF, KXU_MODE_RLE}) {
            Bytes block = write(u, 4, mode);
            EXPECT_EQ(block[5] & 0xf0, mode == KXU_MODE_RAW ? KXU_MODE_RAW : KXU_MODE_RLE);
            expect_same(u, read(block));
        }
        lua_pop(L, 1);
    }
}

// Readers accept index widths 1..6, so the writer never goes beyond them.
TEST_F(KxuTest, IndexWidth)
{
    Userdata *u = make(UD_U8, 1, 5, 1, {1, 2, 3, 4, 5});
    Bytes wide = write(u, 7, KXU_MODE_MTF), narrow = write(u, 0, KXU_MODE_MTF);
    EXPECT_EQ(wide[7], 6);
    EXPECT_EQ(narrow[7], 1);
    expect_same(u, read(wide));
    expect_same(u, read(narrow));
    for (uint8_t bits : {0, 7}) {
        wide[7] = bits;
        EXPECT_EQ(read(wide), nullptr);
    }
}

TEST_F(KxuTest, OlderLayoutAndUnknownModes)
{
    // width 3, height 2 as uint32, type at 16, then B = 4 and one run of six 5s.
    Userdata *u = read(kxu({3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 3, 4, 0x55}));
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->width * 10 + u->height, 32);
    EXPECT_EQ(ud_data(u)[0] * 10 + ud_data(u)[5], 55);

    u = read(kxu({0x43, 0x40, 2, 2}));
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(memcmp(ud_data(u), "\0\0\0\0", 4), 0);
}

TEST_F(KxuTest, MalformedBlocksFail)
{
    Bytes block = write(make(UD_U8, 2, 40, 30, Bytes(1200, 9)), 4, KXU_MODE_MTF);
    for (size_t n = 0; n < block.size(); n++) {   // never reads past the length
        EXPECT_EQ(get_binary_kxu(L, (const char *)block.data(), n), nullptr) << n;
        EXPECT_EQ(lua_gettop(L), 1);
    }
    EXPECT_EQ(read({'k', 'x', 'v', 0, 0x03, 0x10, 0x01, 0x5a}), nullptr);
    EXPECT_EQ(read(kxu({0x03, 0x10, 0x00})), nullptr);                  // empty
    EXPECT_EQ(read(kxu({0x43, 0x18, 255, 255, 255, 255, 255, 255, 255, 255})), nullptr);  // huge
    EXPECT_EQ(read(kxu({0x05, 0x10, 0x01, 0x00})), nullptr);            // no such type
    EXPECT_EQ(read(kxu({0x83, 0x10, 0x01, 0x01, 0x01, 0x00})), nullptr);  // three dimensions
    EXPECT_EQ(read(kxu({0x0c, 0x20, 0x01, 4, 0x00})), nullptr);         // move-to-front i16
}

}  // namespace
