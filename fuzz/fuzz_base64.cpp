// Feeds arbitrary text to the base64 decoder, whole and in two pieces, and
// checks that encoding the result decodes back to it.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "formats/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x100000) return 0;
    const char *text = reinterpret_cast<const char *>(data);
    std::vector<char> whole(size + 4), split(size + 4);
    Base64DecodeState s;
    base64_init_decodestate(&s);
    int n = base64_decode_block(text, (int)size, whole.data(), &s);
    base64_init_decodestate(&s);
    int half = (int)size / 2;
    int m = base64_decode_block(text, half, split.data(), &s);
    m += base64_decode_block(text + half, (int)size - half, split.data() + m, &s);
    if (m != n || !std::equal(whole.begin(), whole.begin() + n, split.begin())) abort();

    std::vector<char> enc((size_t)n * 4 / 3 + 8);
    Base64EncodeState es;
    base64_init_encodestate(&es);
    int e = base64_encode_block(whole.data(), n, enc.data(), &es);
    e += base64_encode_blockend(enc.data() + e, &es);
    std::vector<char> back((size_t)n + 4);
    base64_init_decodestate(&s);
    int r = base64_decode_block(enc.data(), e, back.data(), &s);
    if (r != n || !std::equal(back.begin(), back.begin() + r, whole.begin())) abort();
    return 0;
}
