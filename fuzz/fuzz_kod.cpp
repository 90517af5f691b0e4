// Feeds arbitrary bytes to the kod reader in a fresh Lua state; whatever it
// reads is written back under flags taken from the input and read again.
#include "formats/buffer.h"
#include "formats/kod.h"
#include "lua.hpp"
#include "userdata/userdata.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x100000)
        return 0;
    // The reader prints its diagnostics; keep the fuzzer's output readable.
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    // An exact-size copy: the reader must not rely on a terminator.
    std::vector<char> text(data, data + size);
    lua_State *L = luaL_newstate();
    userdata_open(L);
    int n = destringify_object(L, text.data(), text.size());
    if (n > 0) {
        int flags = size > 0 ? data[0] & (KOD_KXU | KOD_LZ4 | KOD_BASE64 | KOD_KXU_RAW | KOD_STR_BLOCKS) : 0;
        Buffer *b = create_buffer_2(256, KOD_BUFFER_TAG);
        if (stringify_object(L, -n, b, flags) == KOD_OK)
            destringify_object(L, (const char *)b->data, (size_t)b->len);
        destroy_buffer(b);
    }
    lua_close(L);
    return 0;
}
