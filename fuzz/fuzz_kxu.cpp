// Feeds arbitrary bytes to the kxu reader; a userdata it builds must survive
// being written and read again in each mode.
#include "formats/buffer.h"
#include "formats/kxu.h"
#include "lua.hpp"
#include "userdata/userdata.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

static void check_round_trip(lua_State *L, Userdata *u, int mode)
{
    Buffer *b = create_buffer_2(64, 1);
    int n = write_binary_kxu(u, b, 1 + (u->width & 7), mode);
    if (n != b->len)
        abort();
    const char *end = get_binary_kxu(L, (const char *)b->data, (size_t)b->len);
    if (end != (const char *)b->data + b->len)
        abort();
    Userdata *v = (Userdata *)lua_touserdata(L, -1);
    if (v->width != u->width || v->height != u->height || v->type != u->type ||
        memcmp(ud_data(u), ud_data(v), (size_t)ud_data_size(u)) != 0)
        abort();
    lua_pop(L, 1);
    destroy_buffer(b);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static lua_State *L = luaL_newstate();
    lua_settop(L, 0);
    const char *end = get_binary_kxu(L, (const char *)data, size);
    if (!end)
        return 0;
    if (end < (const char *)data || end > (const char *)data + size)
        abort();
    Userdata *u = (Userdata *)lua_touserdata(L, -1);
    // Large objects take long to compare; the reader has been exercised.
    if (ud_data_size(u) <= 0x10000)
        for (int mode : {KXU_MODE_RAW, KXU_MODE_MTF, KXU_MODE_RLE})
            check_round_trip(L, u, mode);
    lua_settop(L, 0);
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}
