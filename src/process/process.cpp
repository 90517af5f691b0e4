// The process table: creation, teardown, restart and lookup.
#include "process/process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formats/buffer.h"
#include "gfx/draw_state.h"
#include "host/clock.h"
#include "host/log.h"
#include "host/platform_api.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "lua/libs.h"
#include "memory/ram.h"
#include "net/services.h"
#include "net/sockets.h"
#include "pdisk/mount.h"
#include "process/api.h"
#include "process/message.h"
#include "process/slice.h"
#include "userdata/userdata.h"
#include "ravo/ravo.h"

Process *process[MAX_PROCESSES];
int num_processes;
int32_t process_id = 1;
Process *cproc;
int32_t video_mode_word;

static void copy_str(char *dst, size_t cap, const char *src) {
    snprintf(dst, cap, "%s", src ? src : "");
}

// Set while every process is torn down, so that finalisers run by closing a
// Lua state cannot create processes that would survive the reset.
static bool tearing_down;

Process *create_process_from_code(const char *code, const char *name, const char *prog,
                                  const char *sandbox, const char *lid) {
    return create_process_from_buffer(code, strlen(code), name, prog, sandbox, lid);
}

Process *create_process_from_buffer(const char *code, size_t len, const char *name,
                                    const char *prog, const char *sandbox, const char *lid) {
    vemo_debug("creating process %d %s %s\n", process_id, name, prog);
    if (num_processes >= MAX_PROCESSES || tearing_down) {
        process_id++;
        return nullptr;
    }
    Process *p = (Process *)calloc(1, sizeof(Process));
    int slot = num_processes++;
    process[slot] = p;
    int err = init_process(p, process_id, code, len, name, prog, sandbox, lid);
    process_id++;
    if (err) {
        num_processes--;
        process[slot] = nullptr;
        free(p);
        return nullptr;
    }
    return p;
}

// Any program can name a /system/ path for code of its own, so such a
// program is trusted only when the kernel, the root or a trusted program
// starts it.
static bool creator_grants_trust() {
    return !cproc || cproc->id == 1 || (cproc->trust & 1);
}

static void set_trust(Process *p, const char *sandbox) {
    if (strncmp(p->prog, "/system/", 8) == 0 && creator_grants_trust()) p->trust |= 1;
    if (sandbox) {
        copy_str(p->sandbox, sizeof p->sandbox, sandbox);
        p->sandboxed = p->sandbox[0] != 0;
        if (p->sandboxed) p->trust |= 2;
    }
    if (strcmp(p->prog, "/system/apps/terminal.lua") == 0) p->trust &= ~1;
}

// Opens the libraries and the kernel API in a fresh state.
static void open_process_libs(lua_State *L) {
    lua54_open_process_libs(L);
    api_add_c_functions(L);
    os_add_public_c_functions(L);
    userdata_open(L);
}

int init_process(Process *p, int64_t id, const char *code, size_t code_len, const char *name,
                 const char *prog, const char *sandbox, const char *lid) {
    memset(p, 0, sizeof *p);
    p->id = id;
    p->created_t = get_ticks();
    copy_str(p->name, sizeof p->name, name);
    copy_str(p->prog, sizeof p->prog, prog);
    set_trust(p, sandbox);
    copy_str(p->lid, sizeof p->lid, lid);
    p->parent_id = cproc ? cproc->id : 0;
    p->base_priority = 1.0;
    strcpy(p->pwd, "/");

    Process *prev = cproc;
    cproc = p;
    p->L = lua_newstate(l_alloc, p);
    open_process_libs(p->L);

    p->code = (char *)calloc(1, code_len + 16);
    memcpy(p->code, code, code_len);
    p->code_len = code_len;

    char chunkname[72];
    snprintf(chunkname, sizeof chunkname, "@%s", p->name);
    // Text only: precompiled chunks are not verified by the loader and
    // could corrupt memory.
    if (luaL_loadbufferx(p->L, p->code, code_len, chunkname, "t") != LUA_OK) {
        const char *msg = lua_tostring(p->L, -1);
        report_error("*syntax error");
        report_error(msg);
        vemo_debug("syntax error. ** could not create process **\n");
        vemo_debug("%s\n", msg ? msg : "");
        free(p->code);
        p->code = nullptr;
        lua_close(p->L);
        p->L = nullptr;
        if (prev) cproc = prev;
        return 1;
    }
    p->msg_queue = create_buffer_2(16384, 114);
    ram_init_process(p);
    gfx_init_process(p);
    p->state = PSTATE_RUNNING;
    generate_default_wavetable(p);
    ravo_write_default_instrument(p);
    if (prev) cproc = prev;
    return 0;
}

void free_process(Process *p) {
    if (app.atomic_pid == p->id) app.atomic_pid = 0;
    if (app.audio_owner_pid == p->id) app.audio_owner_pid = 0;
    if (p->L) {
        Process *prev = cproc;
        cproc = p;   // frees during close are credited to the dying process
        lua_close(p->L);
        p->L = nullptr;
        cproc = prev;
    }
    ram_free_process(p);
    destroy_buffer(p->msg_queue);
    p->msg_queue = nullptr;
    free(p->code);
    p->code = nullptr;
    delete_sockets_by_process(p->id);
    scoresub_forget_process(p->id);
    prune_process_mounts(p);
}

int get_process_index(const Process *p) {
    for (int i = 0; i < num_processes; i++)
        if (process[i] == p) return i;
    return -1;
}

static void post_child_completed(Process *p) {
    if (!p->parent_id) return;
    Process *parent = get_process(p->parent_id);
    if (!parent) return;
    char text[160];
    snprintf(text, sizeof text,
             "{event=\"child_completed\",_from=2,_sent_t=%lld,proc_id=%lld}",
             (long long)get_ticks(), (long long)p->id);
    send_process_message_string(parent, text);
}

// A process whose state is running on the C stack is killed once its slice
// has unwound; the root is never freed while the kernel runs.
static bool defer_if_running(Process *p, int what) {
    if (p->running <= 0) return false;
    if (p->pending != PENDING_KILL) p->pending = what;
    if (p == cproc) cpu_superyielding = SUPERYIELD;   // end its slice promptly
    return true;
}

void kill_process_by_index(int slot) {
    Process *p = get_process_by_index(slot);
    if (!p || (p == root_process && !tearing_down)) return;
    if (defer_if_running(p, PENDING_KILL)) return;
    post_child_completed(p);
    free_process(p);
    // free_process may have run Lua finalisers that changed the table
    slot = get_process_index(p);
    if (slot >= 0) {
        for (int i = slot; i < num_processes - 1; i++) process[i] = process[i + 1];
        num_processes--;
        process[num_processes] = nullptr;
    }
    if (cproc == p) cproc = nullptr;
    free(p);
}

void kill_process(Process *p) {
    int slot = get_process_index(p);
    if (slot >= 0) kill_process_by_index(slot);
}

void kill_process_by_id(int64_t id) {
    kill_process(get_process(id));
}

void restart_process(Process *p) {
    if (!p || get_process_index(p) < 0) return;
    if (defer_if_running(p, PENDING_RESTART)) return;
    size_t len = p->code_len;
    char *code = (char *)malloc(len + 1);
    if (p->code) memcpy(code, p->code, len);
    char name[64], prog[256], sandbox[64], lid[64];
    memcpy(name, p->name, sizeof name);
    memcpy(prog, p->prog, sizeof prog);
    memcpy(sandbox, p->sandbox, sizeof sandbox);
    memcpy(lid, p->lid, sizeof lid);
    int64_t id = p->id;
    if (app.audio_owner_pid == id) ravo_stop_all();
    app.audio_owner_pid = -2;
    free_process(p);
    if (init_process(p, id, code, len, name, prog, sandbox, lid) == 0) {
        Process *prev = cproc;
        cproc = p;
        poke(0x547F, 1);
        cproc = prev;
    }
    // A restart whose code no longer compiles leaves a process without a Lua
    // state; it gets no slices and stays until killed.
    free(code);
}

void processes_init() {
    tearing_down = true;
    while (num_processes > 0) {
        Process *p = process[num_processes - 1];
        p->running = 0;   // no slice is running during a reset
        kill_process_by_index(num_processes - 1);
    }
    tearing_down = false;
    root_process = nullptr;
    process_id = 1;
    cproc = nullptr;
    video_mode_word = 0;
}

Process *get_process(int64_t id) {
    for (int i = 0; i < num_processes; i++)
        if (process[i]->id == id) return process[i];
    return nullptr;
}

Process *get_process_by_index(int slot) {
    if (slot < 0 || slot >= num_processes) return nullptr;
    return process[slot];
}

int get_process_count() { return num_processes; }
Process *get_current_process() { return cproc; }

void set_current_process(Process *p) {
    if (!p) {
        printf("\n** ASSERT failed: %s :: %s:%d in %s()\n\n", "proc", "process", __LINE__,
               "set_current_process");
        kestrane_exit(0);
    }
    cproc = p;
}

int32_t get_cproc_id() { return cproc ? (int32_t)cproc->id : 0; }

int count_recent_sandboxed_processes() {
    int n = 0;
    int64_t since = get_ticks() - 10000;
    for (int i = 0; i < num_processes; i++)
        if (process[i]->sandboxed && process[i]->created_t > since) n++;
    return n;
}

int64_t process_memory_total(const Process *p) {
    return p->ram_alloc + p->lua_mem + PROCESS_MEMORY_BASE - p->mem_baseline;
}
