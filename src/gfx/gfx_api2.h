// Lua functions of sprites, maps and textured lines. Each acts on the
// current process and is registered by the kernel API under the name after
// the lua54_ prefix. The rectangle copy `blit` is the typed-array module's
// lua54_blit (userdata/userdata.h).
#pragma once

struct lua_State;

int lua54__set_spr(lua_State *L);
int lua54_spr(lua_State *L);       // also a batch of records in an f64 userdata
int lua54_sspr(lua_State *L);
int lua54_fget(lua_State *L);
int lua54_fset(lua_State *L);

int lua54__draw_map(lua_State *L);
int lua54_mget(lua_State *L);
int lua54_mset(lua_State *L);

int lua54_tline3d(lua_State *L);   // also a batch of records in an f64 userdata
