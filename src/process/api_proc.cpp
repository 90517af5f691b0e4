// Lua functions of the process table and of frame slices.
#include "process/api_proc.h"

#include <cmath>

#include "host/clock.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "net/sockets.h"
#include "process/api.h"
#include "process/process.h"
#include "process/slice.h"

int lua54_time(lua_State *L) {
    lua_pushnumber(L, cproc ? (double)cproc->time_frames / 60.0 : 0.0);
    return 1;
}

int lua54_pid(lua_State *L) {
    lua_pushinteger(L, cproc ? cproc->id : 0);
    return 1;
}

int lua54__flip(lua_State *L) {
    int64_t flags = k64_intp(L, 1, 0);
    cpu_superyielding = SUPERYIELD;   // the slice ends at the next instruction
    if (flags & 1) return 0;
    poke(0x547F, peek(0x547F) & ~2);
    cproc->flipped = 1;
    cproc->fs_busy_t = 0;
    return 0;
}

int lua54__halt(lua_State *) {
    cproc->state = PSTATE_FINISHED;
    cpu_superyielding = SUPERYIELD;
    return 0;
}

int lua54__yielded_to_escape_slice(lua_State *L) {
    if (lua_gettop(L) == 1 && lua_type(L, 1) == LUA_TNUMBER) {
        lua_setpreempt(L, k64_intp(L, 1, 0) != 0 ? SUPERYIELD : 0);
        return 0;
    }
    lua_pushboolean(L, lua_getpreempt(L) != 0);
    return 1;
}

static const char *opt_string(lua_State *L, int idx) {
    return lua_type(L, idx) == LUA_TSTRING ? lua_tostring(L, idx) : "";
}

int lua54__create_process_from_code(lua_State *L) {
    for (int i = 1; i <= 3; i++)
        if (lua_type(L, i) != LUA_TSTRING) return 0;
    size_t len;
    const char *code = lua_tolstring(L, 1, &len);
    Process *p = create_process_from_buffer(code, len, lua_tostring(L, 2), lua_tostring(L, 3),
                                            opt_string(L, 4), opt_string(L, 5));
    if (!p) return 0;
    lua_pushinteger(L, p->id);
    return 1;
}

static int slice_result(lua_State *L, bool done, double cpu, const char *msg) {
    lua_pushboolean(L, done);
    if (cpu == 0) lua_pushinteger(L, 0);
    else lua_pushnumber(L, cpu);
    if (!msg) return 2;
    lua_pushstring(L, msg);
    return 3;
}

int lua54__run_process_slice(lua_State *L) {
    int64_t id = k64_intp(L, 1, 0);
    int isnum = 0;
    double fraction = lua_tonumberx(L, 2, &isnum);
    if (!isnum) return 0;
    if (std::isnan(fraction) || fraction >= 1.0) fraction = 1.0;
    if (fraction <= 0) return 0;
    Process *p = get_process(id);
    if (!p) return slice_result(L, true, 0, "_run_process_slice: bad process id");
    if (!p->L) return slice_result(L, true, 0, "_run_process_slice: invalid process");
    if (p->flipped) return slice_result(L, true, 0, nullptr);
    int32_t used = run_process_slice(p, fraction);
    p = get_process(id);
    if (!p || !p->L) return slice_result(L, true, 0, "_run_process_slice: could not find lua state");
    bool done = !(lua_status(p->L) == LUA_YIELD && !p->flipped);
    return slice_result(L, done, (double)used / frame_budget(), nullptr);
}

int lua54__kill_process(lua_State *L) {
    Process *p = get_process(k64_intp(L, 1, 0));
    int64_t mode = k64_intp(L, 2, 0);
    if (!p || p == root_process) return 0;
    if (mode == 0) kill_process(p);
    else if (mode == 1) restart_process(p);
    return 0;
}

int lua54__close_process_host_resources(lua_State *L) {
    delete_sockets_by_process(k64_intp(L, 1, 0));
    return 0;
}
