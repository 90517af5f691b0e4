// The Lua libraries of a process: the standard ones a program may use, and
// the reader behind the peek operators.
#pragma once

struct lua_State;

// Opens base, coroutine, table, string, math, utf8 and debug in a fresh
// state, without the functions that reach the host or bypass the loader
// (dofile, loadfile, load, xpcall, table.sort, string.dump,
// debug.setcstacklimit), and points the peek operators at the address
// space of the current process.
void lua54_open_process_libs(lua_State *L);
