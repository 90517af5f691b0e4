// stat(n): the kernel's query function.
#include <algorithm>
#include <ctime>

#include "formats/buffer.h"
#include "host/input.h"
#include "kernel/boot.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "pdisk/pfile.h"
#include "process/api.h"
#include "process/api_proc.h"
#include "process/process.h"
#include "process/slice.h"

static int64_t unique_counter = 1;

// Seconds west of UTC of the host's time zone, now.
static int64_t tz_offset_west() {
    time_t now = time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local)) return 0;
    return -(int64_t)local.tm_gmtoff;
}

static double per_frame(int64_t cycles) { return (double)cycles / frame_budget(); }

static int64_t heap_bytes(lua_State *L) {
    return (int64_t)lua_gc(L, LUA_GCCOUNT) * 1024 + lua_gc(L, LUA_GCCOUNTB);
}

int lua54_stat(lua_State *L) {
    int64_t n = k64_intp(L, 1, 0);
    int64_t a2 = k64_intp(L, 2, 0);
    Process *p = cproc;
    switch (n) {
    case 0:
        lua_gc(p->L, LUA_GCCOLLECT);
        lua_pushinteger(L, process_memory_total(p));
        return 1;
    case 1: lua_pushnumber(L, per_frame((int64_t)cpu_cycles + p->cycles_since_flip)); return 1;
    case 3:
        lua_gc(p->L, LUA_GCCOLLECT);
        lua_pushinteger(L, heap_bytes(p->L));
        return 1;
    case 5:
        lua_pushinteger(L, 26);
        lua_pushstring(L, KESTRANE_VERSION);
        return 2;
    case 7: {
        int fps = p->fps ? p->fps : 60;
        lua_pushinteger(L, app.slow_frame ? fps / 2 : fps);
        return 1;
    }
    case 86: lua_pushinteger(L, (lua_Integer)time(nullptr)); return 1;
    case 87: lua_pushinteger(L, tz_offset_west()); return 1;
    case 101:
        if (!p->lid[0]) lua_pushnil(L);
        else lua_pushstring(L, p->lid);
        return 1;
    case 150: case 151: case 152: case 153: case 316: lua_pushstring(L, ""); return 1;
    case 301: lua_pushnumber(L, per_frame(total_frame_cycles)); return 1;
    case 302: {
        const char *name = os_key_from_scancode((int)std::clamp<int64_t>(a2, -1, INPUT_KEYS));
        if (name) lua_pushstring(L, name);
        else lua_pushnil(L);
        return 1;
    }
    case 303: lua_pushinteger(L, (lua_Integer)app.frame_count); return 1;
    case 304: lua_pushnumber(L, per_frame((int64_t)total_frame_cycles_since_wm_flip + cpu_cycles)); return 1;
    case 305: lua_pushboolean(L, (peek(0x547F) & 0x10) && os_key_state(-1)); return 1;
    case 306: lua_pushstring(L, KESTRANE_BUILD_DATE); return 1;
    case 307: lua_pushinteger(L, p->trust); return 1;
    case 308: lua_pushinteger(L, get_total_num_buffers()); return 1;
    case 309: lua_pushinteger(L, get_total_buffer_allocation()); return 1;
    case 310: lua_pushinteger(L, pdisk_num_pfiles()); return 1;
    case 312: lua_pushinteger(L, p->page_len[((uint32_t)a2 >> 12) & 0xFFF]); return 1;
    case 313: lua_pushinteger(L, p->ram_alloc); return 1;
    case 314: lua_pushnumber(L, 3.141592653589793); return 1;
    case 315: lua_pushinteger(L, config.headless ? 1 : 0); return 1;
    case 317: lua_pushinteger(L, app.exported_cart ? 3 : 1); return 1;
    case 319: lua_pushnil(L); return 1;
    case 330: lua_pushinteger(L, app.slow_frame); return 1;
    case 331: lua_pushnumber(L, per_frame(p->allotted_last_frame)); return 1;
    case 332: lua_pushinteger(L, count_recent_sandboxed_processes()); return 1;
    case 333: lua_pushinteger(L, unique_counter++); return 1;
    case 334: lua_pushinteger(L, app.button_state); return 1;
    case 335: lua_pushinteger(L, config.vproc > 3 ? 1 : 0); return 1;
    case 984: lua_pushinteger(L, p->flipped); return 1;
    case 985: lua_pushinteger(L, app.boot_finished); return 1;
    case 986: lua_pushinteger(L, app.signal36_flag); return 1;
    case 987: lua_pushinteger(L, boot_get_time()); return 1;
    case 988: lua_pushinteger(L, os_key_state(SDL_SCANCODE_LCTRL) && os_key_state(SDL_SCANCODE_RCTRL)); return 1;
    default: lua_pushinteger(L, 0); return 1;
    }
}
