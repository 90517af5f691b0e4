// Lua functions that query the process table, and the kernel's load.
#pragma once

struct lua_State;

int lua54__get_process_list(lua_State *L);
int lua54__process_state(lua_State *L);
int lua54__get_process_display_size(lua_State *L);
int lua54_load(lua_State *L);
