// Lua functions of paths and mounts: extensions and location suffixes, the
// working directory, path folding and checks, and `mount`.
#pragma once

struct lua_State;

int lua54__ext(lua_State *L);
int lua54__path(lua_State *L);
int lua54__hloc(lua_State *L);
int lua54__pwd(lua_State *L);   // also `pwd`
int lua54__cd(lua_State *L);    // also `cd`
int lua54__normalise_userland_path(lua_State *L);
int lua54_norm(lua_State *L);
int lua54__is_well_formed_bbs_path(lua_State *L);
int lua54__is_well_formed_kodnet_path(lua_State *L);
int lua54__mount(lua_State *L);   // also `mount`
