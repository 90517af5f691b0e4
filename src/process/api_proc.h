// Lua functions of the process table, slices and signals.
#pragma once

struct lua_State;

int lua54_time(lua_State *L);
int lua54_pid(lua_State *L);
int lua54__flip(lua_State *L);
int lua54__yielded_to_escape_slice(lua_State *L);
int lua54__create_process_from_code(lua_State *L);
int lua54__run_process_slice(lua_State *L);
int lua54__kill_process(lua_State *L);
int lua54__close_process_host_resources(lua_State *L);
int lua54__halt(lua_State *L);
int lua54__signal(lua_State *L);
int lua54_stat(lua_State *L);
