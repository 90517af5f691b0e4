// Lua functions over the address space and the random generator. Each acts
// on the current process and is registered by the kernel API.
#pragma once

struct lua_State;

constexpr int RAM_API_MAX_COUNT = 65536;

int lua54_peek(lua_State *L);
int lua54_peek2(lua_State *L);
int lua54_peek4(lua_State *L);
int lua54_peek8(lua_State *L);
int lua54_poke(lua_State *L);
int lua54_poke2(lua_State *L);
int lua54_poke4(lua_State *L);
int lua54_poke8(lua_State *L);
int lua54__ppeek(lua_State *L);
int lua54__ppeek4(lua_State *L);
int lua54_memcpy(lua_State *L);
int lua54_memset(lua_State *L);
int lua54__map_ram(lua_State *L);
int lua54__unmap_ram(lua_State *L);
int lua54_rnd(lua_State *L);
int lua54_srand(lua_State *L);
