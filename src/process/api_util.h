// General-purpose Lua functions of the kernel API: table helpers, numbers,
// strings, dates, the log line, the userland clipboard and the editor's
// tokenizer. The kernel API registry installs them as globals.
#pragma once

struct lua_State;

// tables
int lua54_add(lua_State *L);
int lua54_del(lua_State *L);
int lua54_deli(lua_State *L);
int lua54_count(lua_State *L);

// strings
int lua54_split(lua_State *L);
int lua54_ord(lua_State *L);
int lua54_chr(lua_State *L);
int lua54__strindex(lua_State *L);
int lua54_tokenoid(lua_State *L);

// numbers
int lua54_min(lua_State *L);
int lua54_max(lua_State *L);
int lua54_mid(lua_State *L);
int lua54_flr(lua_State *L);
int lua54_ceil(lua_State *L);
int lua54_abs(lua_State *L);
int lua54_sgn(lua_State *L);
int lua54_sqrt(lua_State *L);
int lua54_sin(lua_State *L);
int lua54_cos(lua_State *L);
int lua54_atan2(lua_State *L);

// dates
int lua54_date(lua_State *L);

// misc
int lua54__printh(lua_State *L);
int lua54__count_p(lua_State *L);
int lua54__get_userland_clipboard_text(lua_State *L);
int lua54__set_userland_clipboard_text(lua_State *L);
