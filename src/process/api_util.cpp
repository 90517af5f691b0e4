// Small general-purpose functions of the kernel API: table helpers,
// arithmetic in the machine's conventions, byte strings, the log line and
// the userland clipboard.
#include "process/api_util.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "lua.hpp"
#include "process/api.h"
#include "process/slice.h"

// ---------------------------------------------------------------- tables

// Removes t[i] of a sequence of length n by moving the later elements down.
static void table_remove_at(lua_State *L, lua_Integer i, lua_Integer n) {
    for (lua_Integer j = i; j < n; j++) {
        lua_geti(L, 1, j + 1);
        lua_seti(L, 1, j);
    }
    lua_pushnil(L);
    lua_seti(L, 1, n);
}

int lua54_add(lua_State *L) {
    if (lua_type(L, 1) != LUA_TTABLE) return 0;
    int nargs = lua_gettop(L);
    if (nargs < 2) return 0;
    if (nargs > 3) return luaL_error(L, "wrong number of arguments to 'insert'");
    lua_Integer end = (lua_Integer)((lua_Unsigned)luaL_len(L, 1) + 1);
    lua_Integer pos = end;
    if (nargs == 3) {
        pos = k64_intp(L, 3, end);
        // one unsigned test covers both pos < 1 and pos > end
        if ((lua_Unsigned)pos - 1u >= (lua_Unsigned)end)
            return luaL_argerror(L, 3, "position out of bounds");
    }
    spend_cpu(end - pos);
    for (lua_Integer i = end; i > pos; i--) {
        lua_geti(L, 1, i - 1);
        lua_seti(L, 1, i);
    }
    lua_pushvalue(L, 2);
    lua_seti(L, 1, pos);
    lua_pushvalue(L, 2);
    return 1;
}

int lua54_del(lua_State *L) {
    if (lua_type(L, 1) != LUA_TTABLE) return 0;
    lua_Integer n = luaL_len(L, 1);
    spend_cpu(n);
    for (lua_Integer i = 1; i <= n; i++) {
        lua_geti(L, 1, i);
        if (lua_compare(L, -1, 2, LUA_OPEQ)) {
            table_remove_at(L, i, n);
            return 1;
        }
        lua_pop(L, 1);
    }
    return 0;
}

int lua54_deli(lua_State *L) {
    if (lua_type(L, 1) != LUA_TTABLE) return 0;
    lua_Integer n = luaL_len(L, 1);
    int64_t i = k64_intp(L, 2, n);
    if (i < 1 || i > n) return 0;
    spend_cpu(n - i);
    lua_geti(L, 1, i);
    table_remove_at(L, i, n);
    return 1;
}

int lua54_count(lua_State *L) {
    if (lua_type(L, 1) != LUA_TTABLE) return 0;
    lua_Integer n = luaL_len(L, 1);
    spend_cpu(n);
    if (lua_gettop(L) < 2) {
        lua_pushinteger(L, n);
        return 1;
    }
    lua_Integer found = 0;
    for (lua_Integer i = 1; i <= n; i++) {
        lua_geti(L, 1, i);
        if (lua_compare(L, -1, 2, LUA_OPEQ)) found++;
        lua_pop(L, 1);
    }
    lua_pushinteger(L, found);
    return 1;
}

// --------------------------------------------------------------- strings

// Pushes one piece of split(): a number when converting and the whole
// piece reads as one, else the text.
static void push_piece(lua_State *L, const char *p, size_t len, bool convert) {
    lua_pushlstring(L, p, len);
    if (!convert || len == 0) return;
    size_t used = lua_stringtonumber(L, lua_tostring(L, -1));
    if (used == len + 1) {
        lua_remove(L, -2);
    } else if (used != 0) {
        // only the text before an embedded zero byte was a number
        lua_pop(L, 1);
    }
}

int lua54_split(lua_State *L) {
    if (lua_type(L, 1) != LUA_TSTRING) return 0;
    size_t n;
    const char *s = lua_tolstring(L, 1, &n);
    bool convert = lua_isnoneornil(L, 3) || lua_toboolean(L, 3);
    spend_cpu((int64_t)n);

    size_t chunk = 0;     // 0: split at separator characters
    const char *sep = ",";
    size_t seplen = 1;
    if (lua_type(L, 2) == LUA_TNUMBER) {
        int64_t want = k64_intp(L, 2, 1);
        chunk = (size_t)std::clamp<int64_t>(want, 1, std::max<int64_t>((int64_t)n, 1));
    } else if (lua_type(L, 2) == LUA_TSTRING) {
        sep = lua_tolstring(L, 2, &seplen);
        if (seplen == 0) chunk = 1;
    }

    lua_newtable(L);
    int list = lua_gettop(L);
    lua_Integer k = 0;
    if (chunk) {
        for (size_t at = 0; at < n; at += chunk) {
            push_piece(L, s + at, std::min(chunk, n - at), convert);
            lua_rawseti(L, list, ++k);
        }
        return 1;
    }
    bool is_sep[256] = {};
    for (size_t j = 0; j < seplen; j++) is_sep[(unsigned char)sep[j]] = true;
    size_t start = 0;
    for (size_t at = 0; at <= n; at++) {
        if (at < n && !is_sep[(unsigned char)s[at]]) continue;
        push_piece(L, s + start, at - start, convert);
        lua_rawseti(L, list, ++k);
        start = at + 1;
    }
    return 1;
}

int lua54_ord(lua_State *L) {
    if (lua_type(L, 1) != LUA_TSTRING) return 0;
    size_t len;
    const char *s = lua_tolstring(L, 1, &len);
    int64_t i = k64_intp(L, 2, 1);
    int64_t n = k64_intp(L, 3, 1);
    if (n < 1 || n > 65536) return 0;
    if (!lua_checkstack(L, (int)n)) return 0;
    spend_cpu(n);
    // positions this far outside give nil whatever their value; clamping
    // keeps i + k from overflowing
    i = std::clamp<int64_t>(i, -65536, (int64_t)len + 1);
    for (int64_t k = 0; k < n; k++) {
        int64_t at = i + k;
        if (at >= 1 && at <= (int64_t)len) lua_pushinteger(L, (unsigned char)s[at - 1]);
        else lua_pushnil(L);
    }
    return (int)n;
}

int lua54_chr(lua_State *L) {
    int nargs = lua_gettop(L);
    spend_cpu(nargs);
    luaL_Buffer b;
    char *out = luaL_buffinitsize(L, &b, (size_t)nargs);
    for (int k = 1; k <= nargs; k++) out[k - 1] = (char)(k64_intp(L, k, 0) & 0xFF);
    luaL_pushresultsize(&b, (size_t)nargs);
    return 1;
}

int lua54__strindex(lua_State *L) {
    size_t len = 0;
    const char *s = lua_type(L, 1) == LUA_TSTRING ? lua_tolstring(L, 1, &len) : nullptr;
    int64_t i = k64_intp(L, 2, 0);
    if (s && i >= 1 && i <= (int64_t)len) lua_pushlstring(L, s + i - 1, 1);
    else lua_pushnil(L);
    return 1;
}

// --------------------------------------------------------------- numbers

// Angles are in turns; this factor (a little under 2 pi) is part of the
// machine's arithmetic and must not be "corrected".
constexpr double TURN_FACTOR = 6.283124;

static int min_max(lua_State *L, bool want_max) {
    if (lua_isinteger(L, 1) && (lua_isinteger(L, 2) || !lua_isnumber(L, 2))) {
        lua_Integer a = lua_tointeger(L, 1);
        lua_Integer b = lua_isinteger(L, 2) ? lua_tointeger(L, 2) : 0;
        lua_pushinteger(L, want_max ? std::max(a, b) : std::min(a, b));
        return 1;
    }
    double a = k64_num(L, 1, 0), b = k64_num(L, 2, 0);
    lua_pushnumber(L, want_max ? (b > a ? b : a) : (b < a ? b : a));
    return 1;
}

int lua54_min(lua_State *L) { return min_max(L, false); }
int lua54_max(lua_State *L) { return min_max(L, true); }

template <typename T> static T middle_of(T a, T b, T c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

int lua54_mid(lua_State *L) {
    if (lua_isinteger(L, 1) && lua_isinteger(L, 2) && lua_isinteger(L, 3)) {
        lua_pushinteger(L, middle_of(lua_tointeger(L, 1), lua_tointeger(L, 2), lua_tointeger(L, 3)));
    } else {
        lua_pushnumber(L, middle_of(k64_num(L, 1, 0), k64_num(L, 2, 0), k64_num(L, 3, 0)));
    }
    return 1;
}

// k64_intp already floors floats and saturates at the 64-bit limits.
int lua54_flr(lua_State *L) {
    lua_pushinteger(L, k64_intp(L, 1, 0));
    return 1;
}

int lua54_ceil(lua_State *L) {
    if (lua_isinteger(L, 1)) {
        lua_pushinteger(L, lua_tointeger(L, 1));
        return 1;
    }
    double d = std::ceil(k64_num(L, 1, 0));
    lua_Integer v;
    if (std::isnan(d)) v = 0;
    else if (d >= 9223372036854775807.0) v = LUA_MAXINTEGER;
    else if (d <= -9223372036854775808.0) v = LUA_MININTEGER;
    else v = (lua_Integer)d;
    lua_pushinteger(L, v);
    return 1;
}

int lua54_abs(lua_State *L) {
    if (lua_isinteger(L, 1)) {
        lua_Integer v = lua_tointeger(L, 1);
        if (v == LUA_MININTEGER) v = LUA_MAXINTEGER;   // -v would overflow
        lua_pushinteger(L, v < 0 ? -v : v);
    } else {
        lua_pushnumber(L, std::fabs(k64_num(L, 1, 0)));
    }
    return 1;
}

int lua54_sgn(lua_State *L) {
    lua_pushinteger(L, k64_num(L, 1, 0) < 0 ? -1 : 1);
    return 1;
}

int lua54_sqrt(lua_State *L) {
    spend_cpu(6);
    lua_pushnumber(L, std::sqrt(k64_num(L, 1, 0)));
    return 1;
}

// 0..3 when x is a whole number of quarter turns, else -1.
static int exact_quarter(double x) {
    double f = x - std::floor(x);
    if (f == 0.0) return 0;
    if (f == 0.25) return 1;
    if (f == 0.5) return 2;
    if (f == 0.75) return 3;
    return -1;
}

int lua54_cos(lua_State *L) {
    static const double exact[4] = {1, 0, -1, 0};
    double x = k64_num(L, 1, 0);
    int q = exact_quarter(x);
    lua_pushnumber(L, q >= 0 ? exact[q] : std::cos(x * TURN_FACTOR));
    return 1;
}

// The y axis points down, hence the negated sine.
int lua54_sin(lua_State *L) {
    static const double exact[4] = {0, -1, 0, 1};
    double x = k64_num(L, 1, 0);
    int q = exact_quarter(x);
    lua_pushnumber(L, q >= 0 ? exact[q] : -std::sin(x * TURN_FACTOR));
    return 1;
}

int lua54_atan2(lua_State *L) {
    double dx = k64_num(L, 1, 0), dy = k64_num(L, 2, 0);
    // 0.0 - dy rather than -dy: a zero dy must not become -0.0, which
    // would turn the leftward direction into -0.5 instead of 0.5
    lua_pushnumber(L, std::atan2(0.0 - dy, dx) / TURN_FACTOR);
    return 1;
}

// ------------------------------------------------------------------ misc

int lua54__printh(lua_State *L) {
    const char *s = lua_isnone(L, 1) ? "" : luaL_tolstring(L, 1, nullptr);
    SDL_Log("%s\n", s);
    return 0;
}

int lua54__count_p(lua_State *L) {
    lua_pushinteger(L, lua_gettop(L));
    return 1;
}

// Shared by every process; it outlives any one of them.
static std::string userland_clipboard;

int lua54__get_userland_clipboard_text(lua_State *L) {
    lua_pushlstring(L, userland_clipboard.data(), userland_clipboard.size());
    return 1;
}

int lua54__set_userland_clipboard_text(lua_State *L) {
    if (lua_type(L, 1) != LUA_TSTRING) return 0;
    size_t len;
    const char *s = lua_tolstring(L, 1, &len);
    userland_clipboard.assign(s, len);
    return 0;
}
