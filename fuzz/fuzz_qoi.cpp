// Feeds arbitrary bytes to the QOI decoder; whatever decodes must survive an
// encode and decode unchanged.
#include "formats/qoi.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QoiDesc d{};
    int channels = size > 12 ? (data[12] & 1 ? 3 : 4) : 4;
    uint8_t *px = qoi_decode(data, size, &d, channels);
    if (!px)
        return 0;
    d.channels = (uint8_t)channels;
    size_t n = 0;
    uint8_t *file = qoi_encode(px, &d, &n);
    if (!file)
        abort();
    QoiDesc d2{};
    uint8_t *again = qoi_decode(file, n, &d2, channels);
    size_t bytes = (size_t)d.width * d.height * (size_t)channels;
    if (!again || d2.width != d.width || d2.height != d.height || memcmp(px, again, bytes) != 0)
        abort();
    free(again);
    free(file);
    free(px);
    return 0;
}
