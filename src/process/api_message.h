// Messages between processes as Lua sees them.
#pragma once

struct lua_State;
struct Process;
struct Buffer;

// Takes the oldest message off p's queue into out, or, when out is null,
// into one kernel buffer that stays valid until the next call. Null when the
// queue is empty.
Buffer *read_process_message(Process *p, Buffer *out);

int lua54_send_message(lua_State *L);
int lua54__read_message(lua_State *L);
