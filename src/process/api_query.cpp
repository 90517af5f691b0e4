// Process queries for the system's task manager, and the kernel's load.
#include "process/api_query.h"

#include <cstring>

#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/api.h"
#include "process/process.h"
#include "process/slice.h"

// The priority shown in the process list.
static double listed_priority(Process *p) {
    double pr = p->base_priority;
    uint8_t flags = peek_proc(p, 0x547F);
    if (p->high_priority) pr *= 2;
    else if ((flags & 0x20) && !(flags & 1)) pr *= 0.1;
    if (config.vproc > 3) return p->id > 3 ? 10 : 0;
    if (p->id <= 3) return 0;
    if (app.atomic_pid == p->id) return 10;
    return pr;
}

static void set_int(lua_State *L, const char *k, lua_Integer v) {
    lua_pushinteger(L, v);
    lua_setfield(L, -2, k);
}

static void set_num(lua_State *L, const char *k, double v) {
    lua_pushnumber(L, v);
    lua_setfield(L, -2, k);
}

static void set_str(lua_State *L, const char *k, const char *v) {
    lua_pushstring(L, v);
    lua_setfield(L, -2, k);
}

int lua54__get_process_list(lua_State *L) {
    lua_createtable(L, num_processes, 0);
    for (int i = 0; i < num_processes; i++) {
        Process *p = get_process_by_index(i);
        lua_createtable(L, 0, 7);
        set_int(L, "id", p->id);
        set_str(L, "name", p->name);
        set_str(L, "prog", p->prog);
        set_num(L, "cpu", (double)p->cycles_prog_frame / frame_budget());
        set_int(L, "memory", process_memory_total(p));
        set_num(L, "priority", listed_priority(p));
        set_str(L, "pwd", p->pwd);
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

int lua54__process_state(lua_State *L) {
    Process *p = get_process(k64_intp(L, 1, 0));
    lua_pushinteger(L, p ? p->state : -1);
    return 1;
}

int lua54__get_process_display_size(lua_State *L) {
    Process *p = get_process(k64_intp(L, 1, 0));
    lua_pushinteger(L, p ? (int16_t)peek2_proc(p, 0x5478) : 0);
    lua_pushinteger(L, p ? (int16_t)peek2_proc(p, 0x547A) : 0);
    return 2;
}

// Reader of load() for a function chunk: calls it until it returns nil or
// an empty string. The pieces are kept in a stack slot (reserved at index
// 5) so that the collector leaves them alone while the parser reads them.
static const char *function_reader(lua_State *L, void *, size_t *size) {
    luaL_checkstack(L, 2, "too many nested functions");
    lua_pushvalue(L, 1);
    lua_call(L, 0, 1);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        *size = 0;
        return nullptr;
    }
    if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
    lua_replace(L, 5);
    return lua_tolstring(L, 5, size);
}

// load(chunk [, chunkname [, mode [, env]]]) as the standard library's, except
// that precompiled chunks are always refused: the loader does not verify
// them and a crafted one could corrupt memory.
int lua54_load(lua_State *L) {
    size_t len;
    const char *s = lua_tolstring(L, 1, &len);
    const char *mode = luaL_optstring(L, 3, "bt");
    const char *text_mode = strchr(mode, 't') ? "t" : "";
    int env = !lua_isnone(L, 4) ? 4 : 0;
    int status;
    if (s) {
        const char *name = luaL_optstring(L, 2, s);
        status = luaL_loadbufferx(L, s, len, name, text_mode);
    } else {
        const char *name = luaL_optstring(L, 2, "=(load)");
        luaL_checktype(L, 1, LUA_TFUNCTION);
        lua_settop(L, 5);
        status = lua_load(L, function_reader, nullptr, name, text_mode);
    }
    if (status != LUA_OK) {
        lua_pushnil(L);
        lua_insert(L, -2);
        return 2;
    }
    if (env) {
        lua_pushvalue(L, env);
        if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
    }
    return 1;
}
