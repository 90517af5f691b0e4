// Kernel API registry and the argument conventions shared by every native
// function exposed to Lua.
#pragma once
#include <cstdint>

struct lua_State;

// Integer argument: an integer as is, the floor of a float or numeric string,
// else the default.
int64_t k64_intp(lua_State *L, int idx, int64_t def);
// Address-style argument: a number or numeric string truncated toward zero,
// else the default.
int64_t k64_intt(lua_State *L, int idx, int64_t def);
// Number argument: a number or numeric string, else the default.
double k64_num(lua_State *L, int idx, double def);

void api_add_c_functions(lua_State *L);
