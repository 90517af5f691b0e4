// Lenient argument readers shared by every kernel function.
#include <cmath>

#include "lua.hpp"
#include "process/api.h"

// Floor or truncation of a double into the 64-bit range, saturating; NaN gives 0.
static int64_t double_to_int64(double d, bool floor_it) {
    if (std::isnan(d)) return 0;
    d = floor_it ? std::floor(d) : std::trunc(d);
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return (int64_t)d;
}

static int64_t int_arg(lua_State *L, int idx, int64_t def, bool floor_it) {
    int t = lua_type(L, idx);
    if (t != LUA_TNUMBER && t != LUA_TSTRING) return def;
    int isnum = 0;
    lua_Integer i = lua_tointegerx(L, idx, &isnum);
    if (isnum) return i;
    double d = lua_tonumberx(L, idx, &isnum);
    if (!isnum) return def;
    return double_to_int64(d, floor_it);
}

int64_t k64_intp(lua_State *L, int idx, int64_t def) { return int_arg(L, idx, def, true); }
int64_t k64_intt(lua_State *L, int idx, int64_t def) { return int_arg(L, idx, def, false); }

double k64_num(lua_State *L, int idx, double def) {
    int t = lua_type(L, idx);
    if (t != LUA_TNUMBER && t != LUA_TSTRING) return def;
    int isnum = 0;
    double d = lua_tonumberx(L, idx, &isnum);
    return isnum ? d : def;
}
