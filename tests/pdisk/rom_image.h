// A ROM image around a hand-made entry stream, for streams the writer
// refuses to make.
#pragma once
#include <lz4.h>

#include <string>

inline std::string image_of_stream(const std::string &stream)
{
    std::string block((size_t)LZ4_compressBound((int)stream.size()), '\0');
    int c = LZ4_compress_default(stream.data(), block.data(), (int)stream.size(), (int)block.size());
    std::string head = "k64\x02";
    for (int i = 0; i < 4; i++)
        head += (char)(c >> (8 * i));
    return head + block.substr(0, (size_t)c);
}
