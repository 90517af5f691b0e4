#include "formats/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Encodes and decodes in pieces of at most `piece` bytes or characters.
std::string encode(const Bytes &data, size_t piece = SIZE_MAX)
{
    std::string out(base64_encoded_size(data.size()), '?');
    Base64EncodeState st;
    base64_init_encodestate(&st);
    int n = 0;
    for (size_t i = 0; i < data.size(); i += piece)
        n += base64_encode_block(data.data() + i, (int)std::min(piece, data.size() - i), out.data() + n, &st);
    n += base64_encode_blockend(out.data() + n, &st);
    out.resize((size_t)n);
    return out;
}

Bytes decode(const std::string &text, size_t piece = SIZE_MAX)
{
    Bytes out(text.size());
    Base64DecodeState st;
    base64_init_decodestate(&st);
    int n = 0;
    for (size_t i = 0; i < text.size(); i += piece)
        n += base64_decode_block(text.data() + i, (int)std::min(piece, text.size() - i), out.data() + n, &st);
    out.resize((size_t)n);
    return out;
}

TEST(Base64, AlphabetAndPadding)
{
    EXPECT_EQ(encode({0xFB, 0xFF, 0xBF}), "_-_-");
    EXPECT_EQ(encode({0xFF}), "-w==");
    EXPECT_EQ(encode({'f', 'o', 'o', 'b', 'a'}), "Zm9vYmE=");
    EXPECT_EQ(encode({}), "");
    EXPECT_EQ(decode("_-_-"), (Bytes{0xFB, 0xFF, 0xBF}));
    EXPECT_EQ(decode("-w=="), (Bytes{0xFF}));
}

TEST(Base64, BlockendWritesTheLastCharacterAndPadding)
{
    char out[8];
    Base64EncodeState st;
    base64_init_encodestate(&st);
    EXPECT_EQ(base64_encode_block("ab", 2, out, &st), 2);
    EXPECT_EQ(base64_encode_blockend(out + 2, &st), 2);
    EXPECT_EQ(base64_encode_block("a", 1, out, &st), 1);
    EXPECT_EQ(base64_encode_blockend(out + 1, &st), 3);
    EXPECT_EQ(base64_encode_blockend(out, &st), 0);
}

TEST(Base64, DecoderSkipsForeignCharacters)
{
    EXPECT_EQ(decode(" Zm9v\nYm\r\nFy=== +/"), (Bytes{'f', 'o', 'o', 'b', 'a', 'r'}));
    EXPECT_TRUE(decode("====\n").empty());
}

TEST(Base64, RandomRoundTripsInPieces)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; round++) {
        Bytes data(rng() % 300);
        for (uint8_t &b : data)
            b = (uint8_t)rng();
        std::string text = encode(data);
        ASSERT_EQ(text.size() % 4, 0u);
        // Pieces cut groups anywhere; the results must not change.
        ASSERT_EQ(encode(data, 1 + rng() % 7), text);
        ASSERT_EQ(decode(text, 1 + rng() % 6), data);
    }
}

}  // namespace
