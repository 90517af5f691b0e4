#include "formats/hosttext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "formats/buffer.h"
#include "host/log.h"
#include "host/temp_folder.h"

namespace {

std::string take(Buffer *b)
{
    EXPECT_NE(b, nullptr);
    if (!b)
        return "";
    EXPECT_EQ(b->tag, HOSTTEXT_BUFFER_TAG);
    std::string s((const char *)b->data, (size_t)b->len);
    destroy_buffer(b);
    return s;
}

// Decodes exactly these bytes; the storage past len holds `beyond`, which a
// correct decoder never looks at.
std::string decode(const std::string &bytes, const std::string &beyond = "")
{
    std::string all = bytes + beyond;
    Buffer *in = create_buffer_2((int32_t)all.size(), 1);
    bwrite(all.data(), 1, (int)all.size(), in);
    in->len = (int32_t)bytes.size();
    std::string out = take(decode_host_text(in));
    destroy_buffer(in);
    return out;
}

std::string encode(const std::string &text) { return take(encode_host_text(text.c_str(), text.size())); }

TEST(HostText, EncodedFormsOfSampleCodes)
{
    EXPECT_EQ(encode("\x9a"), "\xE3\x81\x82");                     // U+3042
    EXPECT_EQ(encode("\xcc"), "\xE3\x82\xA2");                     // katakana: + 0x60
    EXPECT_EQ(encode("\x82"), "\xF0\x9F\x90\xB1");                 // U+1F431
    EXPECT_EQ(encode("\x83"), "\xE2\xAC\x87\xEF\xB8\x8F");         // U+2B07 U+FE0F
    EXPECT_EQ(encode("\x01"), "\xC2\xB9");                         // U+00B9
    EXPECT_EQ(encode("\x7f"), "\xE2\x97\x8B");                     // U+25CB
    EXPECT_EQ(encode("\xff"), "\xE2\x97\x9D");                     // U+25DD
    EXPECT_EQ(encode("a\tb\r\n~"), "a\tb\r\n~");
    EXPECT_EQ(take(encode_host_text("ab\0cd")), "ab");
    EXPECT_EQ(take(encode_host_text("abcd", 2)), "ab");
}

TEST(HostText, EveryCodeRoundTripsExceptCarriageReturn)
{
    for (int c = 1; c < 256; c++) {
        std::string one(1, (char)c);
        std::string expect = c == 13 ? "" : one;
        EXPECT_EQ(decode(encode(one)), expect) << "code " << c;
        // The same inside a text, between other characters.
        EXPECT_EQ(decode(encode("x" + one + "\x9a")), "x" + expect + "\x9a") << "code " << c;
    }
}

// Otherwise the decoder could take one code's bytes for another's.
TEST(HostText, NoSequenceIsAPrefixOfAnother)
{
    uint8_t a[HOSTTEXT_MAX_SEQ], b[HOSTTEXT_MAX_SEQ];
    EXPECT_EQ(hosttext_code_utf8(0, a), 0);
    for (int i = 1; i < 256; i++) {
        int la = hosttext_code_utf8(i, a);
        ASSERT_GT(la, 0);
        for (int j = i + 1; j < 256; j++) {
            int lb = hosttext_code_utf8(j, b);
            EXPECT_NE(memcmp(a, b, (size_t)std::min(la, lb)), 0) << i << " " << j;
        }
    }
}

TEST(HostText, DecodingRules)
{
    EXPECT_EQ(decode("a\xE3\x81\x82"), "a\x9a");
    EXPECT_EQ(decode("a\r\nb\r"), "a\nb");
    // Sans-serif italic capitals read as plain capitals.
    EXPECT_EQ(decode("\xF0\x9D\x98\xA2\xF0\x9D\x98\xBB"), "AZ");
    // Unknown sequences, and a symbol without its selector, pass through.
    EXPECT_EQ(decode("\xC3\xA9"), "\xC3\xA9");
    EXPECT_EQ(decode("\xE2\xAC\x87!"), "\xE2\xAC\x87!");
}

TEST(HostText, ByteOrderMarks)
{
    using namespace std::string_literals;
    EXPECT_EQ(decode("\xEF\xBB\xBFh\xE3\x81\x82"), "h\x9a");
    EXPECT_EQ(decode("\xFF\xFEh\0i\0"s), "hi");
    EXPECT_EQ(decode("\xFE\xFF\0h\0i"s), "hi");
    EXPECT_EQ(decode("\xFF\xFE\0\0h\0\0\0i\0\0\0"s), "hi");
    EXPECT_EQ(decode("\0\0\xFE\xFF\0\0\0h\0\0\0i"s), "hi");
}

TEST(HostText, CroppingAndTruncatedSequences)
{
    // A lead byte after ASCII at the end is dropped, and the log says so.
    TempFolder dir;
    HomeGuard home{dir.path};
    vemo_log_close();
    EXPECT_EQ(decode("ab\xE3"), "ab");
    vemo_log_close();
    EXPECT_NE(read_text_file(dir / "log.txt").find("[decode_host_text] cropping last character of text: 227"),
              std::string::npos);
    EXPECT_EQ(decode("\xE3"), "\xE3");
    // A sequence cut by the end of the input is not completed from the bytes
    // that follow in storage.
    EXPECT_EQ(decode("x\xF0\x9F\x90", "\xB1"), "x\xF0\x9F\x90");
    EXPECT_EQ(decode("\xE3\x81", "\x82"), "\xE3\x81");
    EXPECT_EQ(decode(""), "");
}

}  // namespace
