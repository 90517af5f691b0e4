// peek/poke, memcpy/memset, mapping and random numbers for Lua.
#include "memory/ram_api.h"

#include <algorithm>

#include "gfx/draw_state.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "memory/rng.h"
#include "process/api.h"
#include "process/process.h"
#include "process/slice.h"

// Count argument of the peeks: 1..65536 and room on the Lua stack, else -1.
static int peek_count(lua_State *L)
{
    int64_t n = k64_intp(L, 2, 1);
    if (n < 1 || n > RAM_API_MAX_COUNT || !lua_checkstack(L, (int)n))
        return -1;
    return (int)n;
}

// Charge of the multi-value peeks and pokes: count - 1, only for counts > 1.
static void charge_count(int64_t n)
{
    if (n > 1)
        spend_cpu(n - 1);
}

int lua54_peek(lua_State *L)
{
    uint32_t a = (uint32_t)k64_intt(L, 1, 0);
    int n = peek_count(L);
    if (n < 0)
        return 0;
    spend_cpu(std::max(n - 1, 1));
    for (int i = 0; i < n; i++)
        lua_pushinteger(L, peek(a + (uint32_t)i));
    return n;
}

// n values of width sizeof(U) from a, sign-extended through S.
template <typename U, typename S>
static int peek_values(lua_State *L, uint32_t a)
{
    int n = peek_count(L);
    if (n < 0)
        return 0;
    charge_count(n);
    for (int i = 0; i < n; i++)
        lua_pushinteger(L, (lua_Integer)(S)ram_load<U>(cproc, a + (uint32_t)sizeof(U) * (uint32_t)i));
    return n;
}

int lua54_peek2(lua_State *L)
{
    return peek_values<uint16_t, int16_t>(L, (uint32_t)k64_intt(L, 1, 0));
}

int lua54_peek4(lua_State *L)
{
    return peek_values<uint32_t, int32_t>(L, (uint32_t)k64_intp(L, 1, 0));
}

int lua54_peek8(lua_State *L)
{
    return peek_values<uint64_t, int64_t>(L, (uint32_t)k64_intp(L, 1, 0));
}

// Number of values after the address, or -1 when there are too many.
static int poke_count(lua_State *L)
{
    int count = lua_gettop(L) - 1;
    if (count > RAM_API_MAX_COUNT)
        return -1;
    return std::max(count, 0);
}

int lua54_poke(lua_State *L)
{
    uint32_t a = (uint32_t)k64_intt(L, 1, 0);
    int count = poke_count(L);
    if (count < 0)
        return 0;
    charge_count(count);
    for (int i = 0; i < count; i++)
        poke(a + (uint32_t)i, (uint8_t)k64_intp(L, i + 2, 0));
    return 0;
}

// Stores the values after the address, each of width sizeof(T), read by
// `value` (k64_intp for 16 bits; plain integer conversion, 0 for
// non-integers, for 32 and 64 bits).
template <typename T, int64_t (*value)(lua_State *, int)>
static int poke_values(lua_State *L)
{
    uint32_t a = (uint32_t)k64_intp(L, 1, 0);
    int count = poke_count(L);
    if (count < 0)
        return 0;
    charge_count(count);
    for (int i = 0; i < count; i++)
        ram_store<T>(cproc, a + (uint32_t)sizeof(T) * (uint32_t)i, (T)value(L, i + 2));
    return 0;
}

static int64_t intp_value(lua_State *L, int idx) { return k64_intp(L, idx, 0); }
static int64_t integer_value(lua_State *L, int idx) { return lua_tointeger(L, idx); }

int lua54_poke2(lua_State *L) { return poke_values<uint16_t, intp_value>(L); }
int lua54_poke4(lua_State *L) { return poke_values<uint32_t, integer_value>(L); }
int lua54_poke8(lua_State *L) { return poke_values<uint64_t, integer_value>(L); }

int lua54__ppeek(lua_State *L)
{
    Process *p = get_process(k64_intp(L, 1, 0));
    lua_pushinteger(L, peek_proc(p, (uint32_t)k64_intt(L, 2, 0)));
    return 1;
}

int lua54__ppeek4(lua_State *L)
{
    Process *p = get_process(k64_intp(L, 1, 0));
    lua_pushinteger(L, (int32_t)peek4_proc(p, (uint32_t)k64_intt(L, 2, 0)));
    return 1;
}

// Length argument of memcpy/memset: negative means do nothing (-1), above
// 16 MiB is cut.
static int64_t block_len(lua_State *L)
{
    int64_t len = k64_intt(L, 3, 0);
    if (len < 0)
        return -1;
    return std::min<int64_t>(len, RAM_SIZE);
}

int lua54_memcpy(lua_State *L)
{
    int64_t len = block_len(L);
    if (len < 0)
        return 0;
    uint32_t dest = (uint32_t)k64_intt(L, 1, 0);
    uint32_t src = (uint32_t)k64_intt(L, 2, 0);
    spend_cpu(k64_memcpy(dest, src, len));
    return 0;
}

int lua54_memset(lua_State *L)
{
    int64_t len = block_len(L);
    if (len < 0)
        return 0;
    uint32_t dest = (uint32_t)k64_intt(L, 1, 0);
    uint8_t value = (uint8_t)k64_intt(L, 2, 0);
    spend_cpu(k64_memset(dest, value, len));
    return 0;
}

int lua54__map_ram(lua_State *L)
{
    UdView v;
    if (!ram_view_userdata(L, 1, &v))
        return 0;
    int64_t a = k64_intt(L, 2, 0);
    // mapping at 0x100000 also makes an i16 userdata the current map, and
    // clears it for anything else
    if (a == 0x100000) gfx_set_current_map(cproc, L, 1);
    int64_t len = lua_isnumber(L, 4) ? k64_intt(L, 4, 0) : RAM_MAP_LEN_REST;
    int64_t result;
    if (!ram_map(cproc, L, 1, &v, a, k64_intt(L, 3, 0), len, &result))
        return 0;
    lua_pushinteger(L, result);
    return 1;
}

int lua54__unmap_ram(lua_State *L)
{
    spend_cpu(4);
    UdView v;
    if (!ram_view_userdata(L, 1, &v))
        return 0;
    int64_t size = ud_view_size(&v);
    int64_t a = k64_intp(L, 2, -1);
    int64_t len = k64_intp(L, 3, size);
    lua_pushboolean(L, ram_unmap(cproc, L, v.data, size, a, len));
    return 1;
}

int lua54_rnd(lua_State *L)
{
    spend_cpu(4);
    if (lua_type(L, 1) == LUA_TTABLE) {
        lua_Unsigned n = lua_rawlen(L, 1);
        if (n == 0)
            return 0;
        uint64_t r = rng_next(cproc);
        lua_rawgeti(L, 1, (lua_Integer)(r % n) + 1);
        return 1;
    }
    lua_pushnumber(L, rng_float(cproc, k64_num(L, 1, 1.0)));
    return 1;
}

int lua54_srand(lua_State *L)
{
    bool has_seed = !lua_isnoneornil(L, 1);
    uint64_t seed = has_seed ? (uint64_t)k64_intp(L, 1, 0) : 0;
    // the state's address tells apart programs seeded in the same second
    rng_srand(cproc, has_seed, seed, (uint64_t)(uintptr_t)L);
    return 0;
}
