// Frame slices: budgets, cycle debt, one resume of a process's Lua state,
// and what happens to a process when its body returns, fails or runs out of
// memory.
#include "process/slice.h"

#include <algorithm>
#include <cstdio>

#include "host/clock.h"
#include "host/log.h"
#include "host/window.h"
#include "kernel/boot.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "net/sockets.h"
#include "pdisk/mount.h"
#include "process/message.h"
#include "process/process.h"
#include "ravo/ravo.h"

int32_t total_frame_cycles;
int32_t total_frame_cycles_since_wm_flip;

// Slices nest (the scheduler is itself a process); this bounds the chain.
constexpr int MAX_SLICE_DEPTH = 32;
static int slice_depth;

static bool standalone_unconfigured() {
    return !app.video_configured && config.vproc > 3;
}

int32_t frame_budget() { return standalone_unconfigured() ? FRAME_BUDGET_STANDALONE : FRAME_BUDGET; }
int32_t debt_cap() { return standalone_unconfigured() ? DEBT_CAP_STANDALONE : DEBT_CAP; }

void spend_cpu(int64_t n) {
    if (n < 0) return;
    if (n == 0) n = 1;
    // saturate well below the overflow of the shared 32-bit word
    int64_t v = (int64_t)cpu_cycles + n;
    cpu_cycles = (int)std::min<int64_t>(v, 0x3FFFFFFF);
}

int32_t get_total_frame_cycles() { return total_frame_cycles; }
int32_t get_total_frame_cycles_since_wm_flip() { return total_frame_cycles_since_wm_flip; }

static bool may_run(Process *p) {
    if (p->id > 3 && app.atomic_pid != 0 && app.atomic_pid != p->id) return false;
    if (!config.headless && config.vproc <= 3 && p->id > 3 && boot_get_time() <= 2199) return false;
    if (p->state != PSTATE_RUNNING || !p->L) return false;
    // a process already on the chain of running slices cannot be resumed again
    return p->running == 0 && slice_depth < MAX_SLICE_DEPTH;
}

static void report_runtime_error(Process *p, int slot, int status) {
    const char *msg = lua_tostring(p->L, -1);
    if (!msg) msg = "(error object is not a string)";
    vemo_debug("run_process_slice() for process %ld error: %d %s\n", (long)p->id, status, msg);
    luaL_traceback(p->L, p->L, nullptr, 0);
    const char *tb = lua_tostring(p->L, -1);
    vemo_debug("--------\ntraceback:\n%s\n---------\n", tb ? tb : "");
    report_error("*runtime error");
    report_error(msg);
    report_error(filter_system_traceback_lines(tb));
    if (slot == 0) {
        printf("** RUNTIME ERROR IN KERNEL **\n");
        vemo_debug("** RUNTIME ERROR IN KERNEL **\n");
        vemo_debug("%s\n", msg);
        kestrane_exit(0);
    }
    if (slot == 1) {
        printf("** RUNTIME ERROR IN WINDOW MANAGER **\n%s\n", msg);
        vemo_debug("** RUNTIME ERROR IN WINDOW MANAGER **\n");
        vemo_debug("%s\n", msg);
        kestrane_exit(0);
    }
}

// The root is never freed while the kernel runs: its end is a shutdown.
static void end_process(Process *p) {
    if (p == root_process)
        app.exit_requested = 1;
    else
        kill_process(p);
}

static void slice_outcome(Process *p, int status) {
    if (p->out_of_memory) {
        p->state = PSTATE_FINISHED;
        report_error("*runtime error: out of memory");
        end_process(p);
    } else if (status == LUA_OK) {
        p->state = PSTATE_FINISHED;
        end_process(p);
    } else if (status == LUA_YIELD) {
        // continues in a later slice
    } else {
        p->state = PSTATE_CRASHED;
        int slot = get_process_index(p);
        report_runtime_error(p, slot, status);
        if (p->id > 3) kill_process(p);
    }
}

static void check_memory(Process *p) {
    if (p->out_of_memory || process_memory_total(p) <= PROCESS_MEMORY_LIMIT) return;
    lua_gc(p->L, LUA_GCCOLLECT);
    if (process_memory_total(p) > PROCESS_MEMORY_LIMIT) p->out_of_memory = 1;
}

// Kill or restart requested while the process was running.
static void carry_out_pending(Process *p) {
    int what = p->pending;
    p->pending = PENDING_NONE;
    if (what == PENDING_KILL) kill_process(p);
    else if (what == PENDING_RESTART) restart_process(p);
}

int32_t run_process_slice(Process *p, double fraction) {
    if (!p || !may_run(p)) return 0;
    int32_t rate = frame_budget();
    int32_t slice = (int32_t)(fraction * rate);
    int32_t grant = std::min(slice, rate - total_frame_cycles);
    if (grant <= 0) return 0;

    p->allotted_frame += grant;
    Process *saved = cproc;
    int saved_cycles = cpu_cycles, saved_max = cpu_cycles_max, saved_super = cpu_superyielding;
    lua_State *from = (slice_depth > 0 && saved) ? saved->L : nullptr;
    cproc = p;
    cpu_cycles_max = grant;
    cpu_superyielding = 0;

    int32_t d = std::min(debt_cap(), p->cycle_debt);
    int32_t pre = std::max(0, std::min(grant, d));
    p->cycle_debt = d - pre;
    cpu_cycles = pre;

    p->running++;
    slice_depth++;
    p->slice_count++;
    int nres = 0;
    int status = lua_resume(p->L, from, 0, &nres);
    if (status == LUA_YIELD) lua_pop(p->L, nres);
    slice_depth--;
    p->running--;

    int32_t used = cpu_cycles;
    if (used > grant) {
        p->cycle_debt = (int32_t)std::min<int64_t>((int64_t)p->cycle_debt + (used - grant), INT32_MAX);
        used = grant;
    }
    p->cycles_frame += used;
    p->cycles_since_flip += used;
    cpu_superyielding = saved_super;
    cpu_cycles = saved_cycles;
    cpu_cycles_max = saved_max;
    total_frame_cycles += used;
    total_frame_cycles_since_wm_flip += used;
    if (saved && saved != p) {
        saved->cycles_frame += used;
        saved->cycles_since_flip += used;
    }

    check_memory(p);
    int64_t id = p->id;
    slice_outcome(p, status);
    cproc = saved;
    // the record is gone if the outcome killed it; a restart now gets the
    // caller as its parent
    if ((p = get_process(id)) && p->pending) carry_out_pending(p);
    return used;
}

void prepare_processes_for_frame() {
    bool wm_flipped = false;
    for (int i = 0; i < num_processes; i++) {
        Process *p = process[i];
        p->cycles_frame = 0;
        p->allotted_last_frame = p->allotted_frame;
        p->allotted_frame = 0;
        if (p->flipped) {
            p->fps = 60 / (p->frames_since_flip + 1);
            p->flipped = 0;
            p->frames_since_flip = 0;
            p->cycles_prog_frame = p->cycles_since_flip;
            p->cycles_since_flip = 0;
            if (p->id == 3) wm_flipped = true;
        } else {
            p->frames_since_flip++;
        }
    }
    if (wm_flipped) total_frame_cycles_since_wm_flip = 0;
    total_frame_cycles = 0;
}

void update_processes_after_frame() {
    bool fs_recent = false;
    int64_t now = get_ticks();
    for (int i = 0; i < num_processes; i++) {
        Process *p = process[i];
        if (p->flipped) {
            int64_t add = std::min(p->frames_since_flip + 1, 3);
            p->time_frames += add;
            if (app.slow_frame) p->time_frames += add;
        }
        if (p->state == PSTATE_RUNNING && p->L) {
            cproc = p;
            if (peek(0x547F) & 1) lua_gc(p->L, LUA_GCINC, 107, 18, 0);
            if (p->fs_busy_t && (int32_t)now - p->fs_busy_t < 100) fs_recent = true;
        }
    }
    for (int i = num_processes - 1; i >= 0; i--) {
        Process *p = process[i];
        if (p->out_of_memory) end_process(p);
    }
    audio_op_start(0, 1);
    audio_lock_release();
    if (Process *wm = get_process(3)) {
        os_lock_mouse_cursor(peek_proc(wm, 0x5F2D), peek_proc(wm, 0x5F28), peek_proc(wm, 0x5F29));
    }
    update_all_sockets();
    if (!fs_recent) prune_mounts();
    cproc = num_processes > 0 ? process[0] : nullptr;
}
