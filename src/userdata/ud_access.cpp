// Element access from Lua: indexing, get and set.
#include <climits>
#include <cstdio>

#include "process/api.h"
#include "process/slice.h"
#include "userdata/userdata.h"

// "x", "y", "z", "u", "v", "w", "t" name the first seven flat indices.
static int64_t letter_index(lua_State *L, int idx)
{
    static const char letters[] = "xyzuvwt";
    char c = lua_tostring(L, idx)[0];
    for (int i = 0; letters[i]; i++)
        if (letters[i] == c)
            return i;
    return -1;
}

static bool is_letter_key(lua_State *L, int idx)
{
    return lua_type(L, idx) == LUA_TSTRING && lua_rawlen(L, idx) == 1;
}

static int ud_index(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    int64_t i;
    if (lua_type(L, 2) == LUA_TNUMBER) {
        int exact = 0;
        i = lua_tointegerx(L, 2, &exact);
        if (!exact)
            i = 0;
    } else if (is_letter_key(L, 2)) {
        i = letter_index(L, 2);
    } else if (lua_type(L, 2) == LUA_TSTRING) {
        // longer names are the metatable's entries: the methods
        if (!lua_getmetatable(L, 1))
            return 0;
        lua_pushvalue(L, 2);
        lua_rawget(L, -2);
        return 1;
    } else {
        return 0;
    }
    if (i < 0 || i >= ud_count(u))
        return 0;
    ud_push_elem(L, u, i);
    return 1;
}

static int ud_newindex(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    int64_t i;
    if (lua_type(L, 2) == LUA_TNUMBER)
        i = k64_intp(L, 2, 0);
    else if (is_letter_key(L, 2))
        i = letter_index(L, 2);
    else
        return 0;   // a userdata cannot gain fields
    if (i < 0 || i >= ud_count(u))
        return 0;
    ud_store_elem(L, u, i, 3);
    return 0;
}

int lua54_get(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    int64_t x = k64_intp(L, 2, 0);
    int64_t y = 0;
    int n_idx = 3;
    if (u->dims == 2) {
        y = k64_intp(L, 3, 0);
        n_idx = 4;
    }
    int64_t count = ud_count(u);
    int64_t n = lua_isnumber(L, 2) ? k64_intp(L, n_idx, 1) : count;
    if (n < 0)
        n = 0;   // a negative count returns no values
    if (n > INT_MAX || !lua_checkstack(L, (int)n)) {
        printf(" ********** too many get() results (%lld) stack limit reached **********\n", (long long)n);
        return 0;
    }
    if (x < 0 || x >= u->width || y < 0 || y >= u->height) {
        spend_cpu(0);
        lua_pushnumber(L, 0.0);
        return 1;
    }
    int64_t start = x + y * u->width;
    int64_t avail = count - start;
    for (int64_t k = 0; k < n; k++) {
        if (k < avail)
            ud_push_elem(L, u, start + k);
        else
            lua_pushinteger(L, 0);
    }
    spend_cpu(n / 2);
    return (int)n;
}

int lua54_set(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    int64_t x = k64_intt(L, 2, 0);
    int64_t y = 0;
    int first = 3;
    if (u->dims == 2) {
        y = k64_intt(L, 3, 0);
        first = 4;
    }
    if (x < 0 || x >= u->width || y < 0 || y >= u->height)
        return 0;
    int64_t i = x + y * u->width;
    int64_t count = ud_count(u);
    int top = lua_gettop(L);
    for (int arg = first; arg <= top && i < count; arg++, i++)
        ud_store_elem(L, u, i, arg);
    return 0;
}

static int ud_len(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    if (!u)
        return 0;
    lua_pushinteger(L, ud_count(u));
    return 1;
}

// The access entries of the metatable; installed with the object methods.
extern const luaL_Reg ud_access_methods[] = {
    {"__index", ud_index}, {"__newindex", ud_newindex}, {"__len", ud_len},
    {"get", lua54_get},    {"set", lua54_set},          {nullptr, nullptr}};
