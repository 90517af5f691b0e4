// Lua functions of paths and mounts. Text arguments must be strings; any
// other argument gets no result.
#include "pdisk/pdisk_api.h"

#include <cstring>
#include <string>

#include "lua.hpp"
#include "pdisk/mount.h"
#include "pdisk/path.h"
#include "process/process.h"

static const char *text_arg(lua_State *L, int idx, size_t *len)
{
    return lua_type(L, idx) == LUA_TSTRING ? lua_tolstring(L, idx, len) : nullptr;
}

static bool is_ext_char(char c)
{
    // Upper-case letters are taken too: "X.PNG" has the extension "PNG".
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The extension of a name without its location suffix: one run of letters
// and digits after a '.', widened over a second such run when another '.'
// stands before it ("k64.png").
int lua54__ext(lua_State *L)
{
    size_t n;
    const char *s = text_arg(L, 1, &n);
    if (!s)
        return 0;
    for (size_t i = n; i > 0; i--) {
        if (s[i - 1] == '#') {
            n = i - 1;
            break;
        }
    }
    size_t i = n;
    while (i > 0 && is_ext_char(s[i - 1]))
        i--;
    if (i == 0 || i == n || s[i - 1] != '.')
        return 0;
    size_t dot = i - 1, j = dot;
    while (j > 0 && is_ext_char(s[j - 1]))
        j--;
    size_t start = (j > 0 && j < dot && s[j - 1] == '.') ? j : dot + 1;
    lua_pushlstring(L, s + start, n - start);
    return 1;
}

int lua54__path(lua_State *L)
{
    size_t n;
    const char *s = text_arg(L, 1, &n);
    if (!s)
        return 0;
    const char *hash = (const char *)memchr(s, '#', n);
    lua_pushlstring(L, s, hash ? (size_t)(hash - s) : n);
    return 1;
}

int lua54__hloc(lua_State *L)
{
    size_t n;
    const char *s = text_arg(L, 1, &n);
    if (!s)
        return 0;
    const char *hash = (const char *)memchr(s, '#', n);
    if (!hash)
        lua_pushnil(L);
    else
        lua_pushlstring(L, hash + 1, n - (size_t)(hash + 1 - s));
    return 1;
}

int lua54__pwd(lua_State *L)
{
    lua_pushstring(L, cproc ? cproc->pwd : "/");
    return 1;
}

// cd(path, raw). The working directory field holds at most 259 characters;
// a longer raw text is refused rather than cut.
int lua54__cd(lua_State *L)
{
    size_t n;
    const char *s = text_arg(L, 1, &n);
    if (!s || !cproc)
        return 0;
    if (lua_toboolean(L, 2)) {
        if (n < sizeof cproc->pwd && strlen(s) == n)
            memcpy(cproc->pwd, s, n + 1);
        return 0;
    }
    std::string p = normalise_kestrane_path(s);
    if (p.empty())
        return 0;
    if (!pdisk_directory_exists(p.c_str(), 1)) {
        lua_pushstring(L, "path not found");
        return 1;
    }
    if (p.size() < 256)
        memcpy(cproc->pwd, p.c_str(), p.size() + 1);
    return 0;
}

static int normalise_userland(lua_State *L, int trace)
{
    size_t n;
    const char *s = text_arg(L, 1, &n);
    if (!s)
        return 0;
    std::string r = collapse_path(s, (int)n, trace);
    lua_pushlstring(L, r.data(), r.size());
    return 1;
}

int lua54__normalise_userland_path(lua_State *L) { return normalise_userland(L, 0); }
int lua54_norm(lua_State *L) { return normalise_userland(L, 1); }

int lua54__is_well_formed_bbs_path(lua_State *L)
{
    size_t n;
    const char *s = text_arg(L, 1, &n);
    if (!s)
        return 0;
    bool ok = true;
    for (size_t i = 6; i < n && ok; i++) {
        char c = s[i];
        ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '/' || c == '_';
    }
    lua_pushboolean(L, ok);
    return 1;
}

int lua54__is_well_formed_kodnet_path(lua_State *L)
{
    size_t n;
    const char *s = text_arg(L, 1, &n);
    if (!s)
        return 0;
    const char prefix[] = "kodnet://";
    bool ok = n >= sizeof prefix - 1 && memcmp(s, prefix, sizeof prefix - 1) == 0;
    for (size_t i = sizeof prefix - 1; i < n && ok; i++)
        ok = is_path_char((unsigned char)s[i]);
    lua_pushboolean(L, ok);
    return 1;
}

int lua54__mount(lua_State *L)
{
    const char *mount_point = text_arg(L, 1, nullptr);
    const char *target = text_arg(L, 2, nullptr);
    if (mount_point && target)
        mount_p_path(mount_point, target);
    return 0;
}
