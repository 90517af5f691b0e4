// The host platform as programs see it: window title and icon, the host
// clipboard, and opening host files and web addresses with the host's
// default application.
#pragma once

struct lua_State;

// Kernel API entries (registered with the other kernel functions).
int lua54__set_host_window_title(lua_State *L);
int lua54__set_host_window_icon(lua_State *L);

// Installed in every process after the kernel API.
int lua54__req_host_clipboard_text(lua_State *L);
int lua54__get_host_clipboard_text(lua_State *L);
int lua54__set_host_clipboard_text(lua_State *L);
int lua54__open_host_path(lua_State *L);
void os_add_public_c_functions(lua_State *L);

// Opens a virtual path that leads to a host file or folder, or a text that
// begins "https:", with the host's default handler; in full screen the
// window is minimised afterwards. 0 when the handler was started, -1 when
// the path leads nowhere on the host or the handler could not be started.
int os_open_host_path(const char *path);
// Opens a host file, folder or web address with the host's default handler
// (xdg-open; open on macOS). 0 when the handler started, -1 otherwise.
int open_host_file(const char *target);
