#include "host/platform_api.h"

#include "formats/buffer.h"
#include "formats/hosttext.h"
#include "gfx/draw_state.h"
#include "host/log.h"
#include "host/threads.h"
#include "host/window.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "pdisk/mount.h"
#include "process/process.h"
#include "userdata/userdata.h"

#include <SDL.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>

// ---------------------------------------------------------------------------
// Opening with the host's default handler

#ifdef _WIN32
int open_host_file(const char *target)
{
    HINSTANCE r = ShellExecuteA(NULL, "open", target, NULL, NULL, SW_SHOWNORMAL);
    return (INT_PTR)r > 32 ? 0 : -1;
}
#else
extern char **environ;

#if defined(__APPLE__)
static const char *const host_opener = "open";
#else
static const char *const host_opener = "xdg-open";
#endif

static int reap_opener(void *arg)
{
    int status;
    waitpid((pid_t)(intptr_t)arg, &status, 0);
    return 0;
}

// The opener gets target as its only argument; no shell is involved, so the
// target's characters have no meaning beyond being a name.
int open_host_file(const char *target)
{
    char *argv[] = {(char *)host_opener, (char *)target, nullptr};
    pid_t pid;
    int err = posix_spawnp(&pid, host_opener, nullptr, nullptr, argv, environ);
    if (err != 0) {
        vemo_debug("** could not start %s: %s\n", host_opener, strerror(err));
        return -1;
    }
    // The opener ends by itself; a worker collects its status.
    OsThread *t = os_create_thread(reap_opener, (void *)(intptr_t)pid);
    os_destroy_thread(t);
    return 0;
}
#endif

static std::string host_location(const char *path)
{
    PdiskLocation loc;
    std::string real;
    if (!pdisk_locate(path, 0, &loc) || !pdisk_host_location(loc, &real))
        return "";
    struct stat st;
    return stat(real.c_str(), &st) == 0 ? real : "";
}

int os_open_host_path(const char *path)
{
    if (!path || !*path)
        return -1;
    std::string target = strncmp(path, "https:", 6) == 0 ? std::string(path) : host_location(path);
    if (target.empty() || open_host_file(target.c_str()) != 0)
        return -1;
    if (config.fullscreen && host_window.window)
        SDL_MinimizeWindow(host_window.window);
    return 0;
}

int lua54__open_host_path(lua_State *L)
{
    // A sandboxed program could otherwise write a file and have the host
    // run whatever application it is associated with.
    if (lua_type(L, 1) != LUA_TSTRING || (cproc && cproc->sandboxed))
        return 0;
    os_open_host_path(lua_tostring(L, 1));
    return 0;
}

// ---------------------------------------------------------------------------
// Clipboard

int lua54__req_host_clipboard_text(lua_State *)
{
    return 0;
}

int lua54__get_host_clipboard_text(lua_State *L)
{
    char *text = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetClipboardText() : nullptr;
    Buffer *host = create_buffer_from_str(text ? text : "");
    SDL_free(text);
    Buffer *kernel = host ? decode_host_text(host) : nullptr;
    if (kernel)
        lua_pushlstring(L, (const char *)kernel->data, (size_t)kernel->len);
    else
        lua_pushliteral(L, "");
    destroy_buffer(kernel);
    destroy_buffer(host);
    return 1;
}

int lua54__set_host_clipboard_text(lua_State *L)
{
    if (lua_type(L, 1) != LUA_TSTRING || !SDL_WasInit(SDL_INIT_VIDEO))
        return 0;
    size_t len;
    const char *s = lua_tolstring(L, 1, &len);
    Buffer *host = encode_host_text(s, len);
    if (!host)
        return 0;
    SDL_SetClipboardText(to_cstr(host));
    destroy_buffer(host);
    return 0;
}

// ---------------------------------------------------------------------------
// Window title and icon

int lua54__set_host_window_title(lua_State *L)
{
    int t = lua_type(L, 1);
    if (t != LUA_TSTRING && t != LUA_TNUMBER)
        return 0;
    size_t len;
    const char *s = lua_tolstring(L, 1, &len);
    if (len <= (size_t)HOST_TITLE_MAX)
        os_set_window_title(s);
    return 0;
}

int lua54__set_host_window_icon(lua_State *L)
{
    if (lua_isnoneornil(L, 1)) {
        os_set_window_icon(nullptr, nullptr);
        return 0;
    }
    Userdata *u = ud_check(L, 1);
    if (!u || u->type != 3 || u->width != 16 || u->height != 16 || !cproc)
        return 0;
    // The icon takes the colours the calling program draws with.
    uint32_t palette[64];
    for (int i = 0; i < 64; i++)
        palette[i] = peek4_proc(cproc, GFX_RGB_PAL + 4 * i);
    os_set_window_icon(ud_data(u), palette);
    return 0;
}

// ---------------------------------------------------------------------------

void os_add_public_c_functions(lua_State *L)
{
    static const luaL_Reg fns[] = {
        {"_req_host_clipboard_text", lua54__req_host_clipboard_text},
        {"_get_host_clipboard_text", lua54__get_host_clipboard_text},
        {"_set_host_clipboard_text", lua54__set_host_clipboard_text},
        {"_open_host_path", lua54__open_host_path},
    };
    for (const luaL_Reg &f : fns) {
        lua_pushcfunction(L, f.func);
        lua_setglobal(L, f.name);
    }
}
