// _signal: the system software's control channel into the kernel.
#include "host/clock.h"
#include "host/input.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "pdisk/mount.h"
#include "process/api.h"
#include "process/api_proc.h"
#include "process/process.h"

static void collect_and_set_baseline() {
    lua_gc(cproc->L, LUA_GCCOLLECT);
    if (cproc->mem_baseline == 0) cproc->mem_baseline = cproc->lua_mem;
}

int lua54__signal(lua_State *L) {
    int64_t n = k64_intp(L, 1, 0);
    switch (n) {
    case 22: app.last_activity_t = get_ticks(); break;
    case 23: input_reset_process_buttons(cproc); break;
    case 33: app.exit_requested = 1; break;
    case 34: app.reboot_requested = 1; break;
    case 35: app.boot_alt_colours = 1; break;
    case 36: app.signal36_flag = 1; break;
    case 37: app.boot_screen_released = 1; break;
    case 38: collect_and_set_baseline(); break;
    case 39:
        flush_dirty_mounts_immediately();
        delete_clean_ram_mounts();
        break;
    case 40: app.atomic_pid = cproc->id; break;
    case 41: app.atomic_pid = 0; break;
    case 43: cproc->high_priority = 1; break;
    case 44: cproc->high_priority = 0; break;
    case 46: cproc->fs_busy_t = (int32_t)get_ticks(); break;
    case 47: cproc->fs_busy_t = 0; break;
    case 48: flush_dirty_mounts_immediately(); break;
    case 65: mount_desktop_folder(); break;
    default: break;
    }
    return 0;
}
