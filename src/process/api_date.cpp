// date(format, t, offset): formats a wall-clock time with strftime, or
// returns its fields as a table.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "lua.hpp"
#include "process/api.h"
#include "process/api_util.h"

static const char DATE_DEFAULT_FORMAT[] = "!%Y-%m-%d %H:%M:%S";

// Conversions strftime is asked to do (C99); anything else is refused here
// because the host's strftime may misbehave on unknown ones.
static const char DATE_PLAIN[] = "aAbBcCdDeFgGhHIjmMnprRStTuUVwWxXyYzZ%";
static const char DATE_AFTER_E[] = "cCxXyY";
static const char DATE_AFTER_O[] = "deHImMSuUVwWy";

// ------------------------------------------------------------ time input

static bool all_digits(const char *p, int n) {
    for (int k = 0; k < n; k++)
        if (p[k] < '0' || p[k] > '9') return false;
    return true;
}

static int64_t digits_value(const char *p, int n) {
    int64_t v = 0;
    for (int k = 0; k < n; k++) v = v * 10 + (p[k] - '0');
    return v;
}

static bool is_leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Leap years in [0, y) of the proleptic Gregorian calendar, for y >= 0.
static int64_t leaps_before(int64_t y) {
    if (y <= 0) return 0;
    int64_t p = y - 1;
    return p / 4 - p / 100 + p / 400 + 1;   // + 1 for year 0
}

// Days from 1970-01-01 to the given date; month may be 0..99 and is folded
// into the year first, the day may be any value.
static int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    static const int month_start[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int64_t m0 = m - 1;
    int64_t years = m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);   // floor(m0 / 12)
    y += years;
    m0 -= 12 * years;
    int64_t days = 365 * (y - 1970) + leaps_before(y) - leaps_before(1970);
    days += month_start[m0] + (m0 >= 2 && is_leap(y) ? 1 : 0);
    return days + d - 1;
}

// "YYYY-MM-DD HH:MM:SS" read as UTC. Only the digit fields are looked at;
// the time fields may be left off, the date fields may not.
static bool parse_date_time(const char *s, size_t len, int64_t *out) {
    static const int pos[6] = {0, 5, 8, 11, 14, 17};
    static const int width[6] = {4, 2, 2, 2, 2, 2};
    int64_t v[6] = {0, 0, 0, 0, 0, 0};
    for (int f = 0; f < 6; f++) {
        if ((size_t)pos[f] >= len && f >= 3) break;
        if ((size_t)(pos[f] + width[f]) > len || !all_digits(s + pos[f], width[f])) return false;
        v[f] = digits_value(s + pos[f], width[f]);
    }
    *out = days_from_civil(v[0], v[1], v[2]) * 86400 + v[3] * 3600 + v[4] * 60 + v[5];
    return true;
}

// The time argument: absent, seconds, or a date-time string.
static int64_t date_time_arg(lua_State *L) {
    int type = lua_type(L, 2);
    if (type == LUA_TSTRING) {
        size_t len;
        const char *s = lua_tolstring(L, 2, &len);
        int64_t t = 0;
        if (!parse_date_time(s, len, &t))
            luaL_error(L, "time result cannot be represented in this installation");
        return t;
    }
    if (type == LUA_TNUMBER) {
        if (lua_isinteger(L, 2)) return lua_tointeger(L, 2);
        double d = lua_tonumber(L, 2);
        // the range test is false for NaN too
        if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
            luaL_error(L, "time out-of-bounds");
        return k64_intp(L, 2, 0);
    }
    return (int64_t)time(nullptr);
}

// ----------------------------------------------------------------- output

static void set_field(lua_State *L, const char *name, int value) {
    lua_pushinteger(L, value);
    lua_setfield(L, -2, name);
}

static void push_time_table(lua_State *L, const struct tm *tm) {
    lua_createtable(L, 0, 9);
    set_field(L, "year", tm->tm_year + 1900);
    set_field(L, "month", tm->tm_mon + 1);
    set_field(L, "day", tm->tm_mday);
    set_field(L, "hour", tm->tm_hour);
    set_field(L, "min", tm->tm_min);
    set_field(L, "sec", tm->tm_sec);
    set_field(L, "yday", tm->tm_yday + 1);
    set_field(L, "wday", tm->tm_wday + 1);
    lua_pushboolean(L, tm->tm_isdst > 0);
    lua_setfield(L, -2, "isdst");
}

// Length of the valid conversion at p (after the '%'), or 0.
static size_t conversion_length(const char *p, const char *end) {
    if (p >= end || *p == 0) return 0;
    const char *after = *p == 'E' ? DATE_AFTER_E : *p == 'O' ? DATE_AFTER_O : nullptr;
    if (!after) return strchr(DATE_PLAIN, *p) ? 1 : 0;
    return p + 1 < end && p[1] != 0 && strchr(after, p[1]) ? 2 : 0;
}

[[noreturn]] static void bad_conversion(lua_State *L, const char *p, const char *end) {
    char shown[3] = {0, 0, 0};
    if (p < end) {
        shown[0] = *p;
        if ((*p == 'E' || *p == 'O') && p + 1 < end) shown[1] = p[1];
    }
    luaL_error(L, "invalid conversion specifier '%%%s'", shown);
    abort();   // luaL_error does not return
}

static void push_formatted(lua_State *L, const char *p, const char *end, const struct tm *tm) {
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    while (p < end) {
        if (*p != '%') {
            luaL_addchar(&b, *p++);
            continue;
        }
        p++;
        size_t n = conversion_length(p, end);
        if (n == 0) bad_conversion(L, p, end);
        char conv[4] = {'%', 0, 0, 0};
        memcpy(conv + 1, p, n);
        p += n;
        char *out = luaL_prepbuffsize(&b, 256);
        luaL_addsize(&b, strftime(out, 256, conv, tm));
    }
    luaL_pushresult(&b);
}

int lua54_date(lua_State *L) {
    size_t len = sizeof DATE_DEFAULT_FORMAT - 1;
    const char *fmt = DATE_DEFAULT_FORMAT;
    if (lua_type(L, 1) == LUA_TSTRING) fmt = lua_tolstring(L, 1, &len);
    const char *end = fmt + len;

    int64_t t = date_time_arg(L);
    int64_t offset = k64_intp(L, 3, 0);
    if (__builtin_add_overflow(t, offset, &t)) luaL_error(L, "time out-of-bounds");
    time_t tt = (time_t)t;
    if ((int64_t)tt != t) luaL_error(L, "time out-of-bounds");

    struct tm tm;
    struct tm *ok;
    if (fmt < end && *fmt == '!') {
        ok = gmtime_r(&tt, &tm);
        fmt++;
    } else {
        ok = localtime_r(&tt, &tm);
    }
    if (!ok) return luaL_error(L, "date result cannot be represented in this installation");

    if (end - fmt == 2 && fmt[0] == '*' && fmt[1] == 't') push_time_table(L, &tm);
    else push_formatted(L, fmt, end, &tm);
    return 1;
}
