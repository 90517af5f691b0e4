#include "formats/buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

using BufferPtr = std::unique_ptr<Buffer, BufferDeleter>;

std::string contents(const Buffer *b)
{
    return std::string((const char *)b->data, (size_t)b->len);
}

bool zero_from(const Buffer *b, int32_t from)
{
    for (int32_t i = from; i < b->size; i++)
        if (b->data[i] != 0)
            return false;
    return true;
}

TEST(BufferGrowth, DoublesRelativeToNeededEndAndZeroesNewBytes)
{
    BufferPtr b(create_buffer_2(-5, 7));
    EXPECT_EQ(b->size, 1);
    EXPECT_EQ(bwrite_uint8(0xAB, b.get()), 1);
    EXPECT_EQ(b->size, 4);
    EXPECT_TRUE(zero_from(b.get(), 1));

    BufferPtr c(create_buffer_2(10, 7));
    memset(c->data, 0x55, 11);   // storage below the old size stays as is
    c->pos = 8;
    EXPECT_EQ(bwrite("abcdef", 1, 6, c.get()), 6);
    EXPECT_EQ(c->size, 2 * (8 + 6 + 1));
    EXPECT_EQ(c->len, 14);
    EXPECT_TRUE(zero_from(c.get(), 14));

    // The fixed-width writers grow at pos + width + 1.
    BufferPtr d(create_buffer_2(0, 7));
    d->pos = 3;
    bwrite_uint32(1, d.get());
    EXPECT_EQ(d->size, 2 * (3 + 5));
}

TEST(BufferGrowth, CountersFollowStorage)
{
    int64_t bytes = get_total_buffer_allocation();
    int32_t count = get_total_num_buffers();
    int32_t tagged = get_num_buffers_by_tag(33);
    Buffer *b = create_buffer_2(99, 33);
    EXPECT_EQ(get_total_buffer_allocation(), bytes + 100);
    EXPECT_EQ(get_total_num_buffers(), count + 1);
    EXPECT_EQ(get_num_buffers_by_tag(33), tagged + 1);
    b->pos = 200;
    bwrite_uint8(1, b);
    EXPECT_EQ(get_total_buffer_allocation(), bytes + b->size);
    destroy_buffer(b);
    destroy_buffer(nullptr);
    EXPECT_EQ(get_total_buffer_allocation(), bytes);
    EXPECT_EQ(get_total_num_buffers(), count);
    EXPECT_EQ(get_num_buffers_by_tag(33), tagged);
}

TEST(BufferGrowth, RefusesWritesPastTheInt32Limit)
{
    BufferPtr b(create_buffer_2(8, 7));
    bwrite("abc", 1, 3, b.get());
    uint8_t small[4] = {1, 2, 3, 4};

    // elem_size * count overflows an int: refused, the source never read.
    EXPECT_EQ(bwrite(small, 65536, 65536, b.get()), -1);
    b->pos = INT32_MAX - 2;
    EXPECT_EQ(bwrite_uint32(7, b.get()), -1);
    EXPECT_EQ(bappend_str(b.get(), "x"), 1);   // appends go to len, unaffected
    b->pos = INT32_MAX - 1;
    EXPECT_EQ(bwrite_uint8(7, b.get()), -1);
    EXPECT_EQ(ballocate(b.get(), INT32_MAX), -1);
    EXPECT_EQ(b->size, 9);
    EXPECT_EQ(b->len, 4);
    EXPECT_EQ(contents(b.get()), "abcx");
}

TEST(BufferGrowth, NonPositiveWriteSizesChangeNothing)
{
    BufferPtr b(create_buffer_2(4, 7));
    EXPECT_EQ(bwrite("abcd", 4, 0, b.get()), 0);
    EXPECT_EQ(bwrite("abcd", -2, 3, b.get()), -6);
    EXPECT_EQ(b->len, 0);
    EXPECT_EQ(b->pos, 0);
    EXPECT_EQ(b->size, 5);
}

TEST(BufferConstruct, FromStrBufferAndFile)
{
    BufferPtr s(create_buffer_from_str("hello"));
    EXPECT_EQ(s->size, 7);
    EXPECT_EQ(s->len, 5);
    EXPECT_EQ(s->pos, 5);
    EXPECT_EQ(s->tag, BUFFER_TAG_FROM_STR);

    s->pos = 2;
    BufferPtr c(create_buffer_from_buffer(s.get()));
    EXPECT_EQ(c->size, s->size + 1);
    EXPECT_EQ(contents(c.get()), "hello");
    EXPECT_EQ(c->pos, 0);
    EXPECT_EQ(c->tag, BUFFER_TAG_FROM_BUFFER);
    BufferPtr c2(create_buffer_from_buffer_2(s.get(), 12));
    EXPECT_EQ(c2->tag, 12);

    // A file over several read chunks comes back whole, cursor at the end.
    std::string path = testing::TempDir() + "buffer_from_file.bin";
    std::string data;
    for (int i = 0; i < 40000; i++)
        data += (char)(i * 7 + i / 256);
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    BufferPtr fb(create_buffer_from_file(path.c_str()));
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(contents(fb.get()), data);
    EXPECT_EQ(fb->pos, fb->len);
    EXPECT_EQ(fb->tag, BUFFER_TAG_FROM_FILE);
    remove(path.c_str());
    EXPECT_EQ(create_buffer_from_file(path.c_str()), nullptr);
}

TEST(BufferReadWrite, EndiannessRoundTrip)
{
    BufferPtr b(create_buffer_2(0, 7));
    bwrite_uint8(0x11, b.get());
    bwrite_uint16(0x2233, b.get());
    bwrite_uint32(0x44556677, b.get());
    bwrite_uint32_big_endian(0x8899aabb, b.get());
    const uint8_t expect[] = {0x11, 0x33, 0x22, 0x77, 0x66, 0x55, 0x44, 0x88, 0x99, 0xaa, 0xbb};
    ASSERT_EQ(b->len, (int32_t)sizeof(expect));
    EXPECT_EQ(memcmp(b->data, expect, sizeof(expect)), 0);

    b->pos = 0;
    EXPECT_EQ(bread_uint8(b.get()), 0x11);
    EXPECT_EQ(bread_uint16(b.get()), 0x2233);
    EXPECT_EQ(bread_uint32(b.get()), 0x44556677u);
    EXPECT_EQ(bread_uint32_big_endian(b.get()), 0x8899aabbu);
}

TEST(BufferReadWrite, ReadsPastTheEnd)
{
    BufferPtr b(create_buffer_2(16, 7));
    bwrite("abcdefg", 1, 7, b.get());
    b->pos = 4;
    EXPECT_EQ(bread_uint32(b.get()), 0u);
    EXPECT_EQ(bread_uint32_big_endian(b.get()), 0u);
    EXPECT_EQ(b->pos, 4);
    EXPECT_EQ(bread_uint16(b.get()), ('f' << 8) | 'e');
    EXPECT_EQ(bread_uint16(b.get()), 0);
    EXPECT_EQ(b->pos, 6);

    char out[16] = {};
    b->pos = 5;
    EXPECT_EQ(bread(out, 4, 2, b.get()), 2);
    EXPECT_STREQ(out, "fg");
    EXPECT_EQ(bread(out, 1, 1, b.get()), 0);
    b->pos = 100;
    EXPECT_EQ(bread(out, 1, 4, b.get()), 0);
    b->pos = -3;
    EXPECT_EQ(bread(out, 1, 4, b.get()), 0);
    EXPECT_EQ(bread_uint8(b.get()), 0);
}

TEST(BufferText, AppendsGoToTheEndWithTerminator)
{
    BufferPtr b(create_buffer_2(2, 7));
    bappend_str(b.get(), "abc");
    b->pos = 0;
    EXPECT_EQ(bappend_str(b.get(), "de"), 2);
    EXPECT_EQ(b->pos, 5);
    EXPECT_STREQ((const char *)b->data, "abcde");
    EXPECT_EQ(bappend_str(b.get(), nullptr), 0);
    EXPECT_EQ(bappend_str(nullptr, "x"), 0);

    // Stale bytes past len are cut off by to_cstr.
    bclear(b.get());
    bappend_str(b.get(), "x");
    EXPECT_STREQ(to_cstr(b.get()), "x");
    EXPECT_EQ(bclear(nullptr), nullptr);
    EXPECT_EQ(to_cstr(nullptr), nullptr);
}

TEST(BufferHex, Writers)
{
    BufferPtr b(create_buffer_2(0, 7));
    EXPECT_EQ(bwrite_int16_as_hex(-1, b.get()), 4);
    EXPECT_EQ(bwrite_int16_as_hex(0x12345, b.get()), 4);
    EXPECT_EQ(bwrite_int32_as_hex(0x1234abcd, b.get()), 8);
    EXPECT_EQ(bwrite_int64_as_hex(-2, b.get()), 16);
    EXPECT_EQ(bwrite_int64_as_hex(0x0123456789abcdefLL, b.get()), 16);
    EXPECT_STREQ(to_cstr(b.get()), "ffff23451234abcdfffffffffffffffe0123456789abcdef");

    // The byte writer writes at pos, not at len.
    b->pos = 2;
    EXPECT_EQ(bwrite_uint8_as_hex(0x1a5, b.get()), 2);
    EXPECT_EQ(contents(b.get()).substr(0, 6), "ffa523");
    EXPECT_EQ(b->pos, 4);
}

TEST(BufferHex, CursorReaders)
{
    const char *p = "ffff";
    EXPECT_EQ(read_i16_from_hex_str(&p), -1);
    EXPECT_EQ(*p, 0);
    const char *text = "ff";
    p = text;
    EXPECT_EQ(read_i16_from_hex_str(&p), 0);
    EXPECT_EQ(p, text + 2);
    p = "7FFF8000";
    EXPECT_EQ(read_i16_from_hex_str(&p), 0x7fff);
    EXPECT_EQ(read_i16_from_hex_str(&p), -0x8000);
    p = "zzAb";
    EXPECT_EQ(read_u8_from_hex_str(&p), 0);
    EXPECT_EQ(read_u8_from_hex_str(&p), 0xab);
    p = "80000000FFFFFFFF";
    EXPECT_EQ(read_i32_from_hex_str(&p), INT32_MIN);
    EXPECT_EQ(read_u32_from_hex_str(&p), 0xffffffffu);
    p = "fffffffffffffffe0123456789ABCDEF";
    EXPECT_EQ(read_i64_from_hex_str(&p), -2);
    EXPECT_EQ(read_i64_from_hex_str(&p), 0x0123456789abcdefLL);
    text = "0123456";
    p = text;
    EXPECT_EQ(read_u32_from_hex_str(&p), 0u);
    EXPECT_EQ(p, text + 7);
}

TEST(BufferHex, BufferReaderNeedsTwoDigits)
{
    BufferPtr b(create_buffer_from_str("A5c"));
    b->pos = 0;
    EXPECT_EQ(bread_uint8_hex(b.get()), 0xa5);
    EXPECT_EQ(bread_uint8_hex(b.get()), 0);
    EXPECT_EQ(b->pos, 2);
}

TEST(BufferLines, BreadlnEndings)
{
    const char text[] = "a\r\nb\rc\n";
    BufferPtr src(create_buffer_2(0, 7));
    bwrite(text, 1, 7, src.get());
    src->pos = 0;

    BufferPtr line(breadln(src.get(), nullptr));
    EXPECT_EQ(line->tag, BUFFER_TAG_LINE);
    EXPECT_EQ(line->size, 17);
    EXPECT_EQ(contents(line.get()), "a");
    EXPECT_EQ(src->pos, 3);
    EXPECT_EQ(breadln(src.get(), line.get()), line.get());
    EXPECT_EQ(contents(line.get()), "b\rc");
    EXPECT_EQ(line->pos, 3);
    EXPECT_EQ(line->data[3], 0);
    EXPECT_EQ(src->pos, 7);
    breadln(src.get(), line.get());
    EXPECT_EQ(line->len, 0);
    EXPECT_EQ(src->pos, src->len);

    // The last line needs no line end; a lone CR at the end stays in it.
    BufferPtr tail(create_buffer_from_str("\nxy\r"));
    tail->pos = 0;
    breadln(tail.get(), line.get());
    EXPECT_EQ(line->len, 0);
    breadln(tail.get(), line.get());
    EXPECT_EQ(contents(line.get()), "xy\r");
    EXPECT_EQ(tail->pos, 4);
}

TEST(BufferCrop, DropsPrefixAndZeroesTail)
{
    BufferPtr b(create_buffer_from_str("headbody"));
    b->pos = 6;
    bcrop(b.get(), 4, b->len - 4);
    EXPECT_EQ(contents(b.get()), "body");
    EXPECT_EQ(b->pos, 2);
    EXPECT_TRUE(zero_from(b.get(), 4));

    bcrop(b.get(), 1, 100);   // n clamped
    EXPECT_EQ(contents(b.get()), "ody");
    EXPECT_EQ(b->pos, 1);
    bcrop(b.get(), 2, 1);     // cursor inside the dropped prefix
    EXPECT_EQ(contents(b.get()), "y");
    EXPECT_EQ(b->pos, 0);
    bcrop(b.get(), -1, 1);
    EXPECT_EQ(contents(b.get()), "y");
    bcrop(b.get(), 1, 1);
    EXPECT_EQ(b->len, 0);
    EXPECT_EQ(b->pos, 0);

    BufferPtr c(create_buffer_from_str("abc"));
    bcrop(c.get(), 0, 0);
    EXPECT_EQ(c->len, 0);
}

TEST(BufferEscape, KodEscaper)
{
    const uint8_t in[] = {'a', '"', 'b', '\\', '\n', ']', 0xC3, 0xA9};
    BufferPtr b(create_buffer_2(0, 7));
    EXPECT_EQ(bwrite_escaped_string(in, b.get(), 8), 20);
    EXPECT_EQ(contents(b.get()), "a\\\"b\\\\\\n\\093\\195\\169");
    EXPECT_EQ(b->data[b->len], 0);

    bclear(b.get());
    const uint8_t low[] = {9, 0, 127, '~', '['};
    EXPECT_EQ(bwrite_escaped_string(low, b.get(), 5), 14);
    EXPECT_EQ(contents(b.get()), "\\009\\000\\127~[");
    EXPECT_EQ(bwrite_escaped_string(low, b.get(), 0), 0);
    EXPECT_EQ(bwrite_escaped_string(low, nullptr, 5), 0);
}

TEST(BufferEscape, LuaEscaper)
{
    BufferPtr b(create_buffer_from_str("<"));
    b->pos = 0;
    EXPECT_EQ(bappend_str_escaped(b.get(), "q\"s\\\n\x7f\xc8"), 19);
    EXPECT_EQ(contents(b.get()), "<q\\034s\\092\\010\x7f\\200");

    const char *first = escape_lua_string("a\"b");
    EXPECT_STREQ(first, "a\\034b");
    EXPECT_STREQ(escape_lua_string("c"), "c");   // the scratch is emptied each call
}

}  // namespace
