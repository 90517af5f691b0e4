// Start-up, the frame loop, reboot and shutdown.
#include "kernel/kernel.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "everwas/everwas.h"
#include "formats/buffer.h"
#include "gfx/video.h"
#include "host/clock.h"
#include "host/log.h"
#include "host/paths.h"
#include "host/window.h"
#include "kernel/boot.h"
#include "kernel/config.h"
#include "kernel/datfile.h"
#include "lua.hpp"
#include "net/services.h"
#include "net/sockets.h"
#include "pdisk/mount.h"
#include "pdisk/pfile.h"
#include "pdisk/startup_mounts.h"
#include "process/process.h"
#include "process/slice.h"
#include "ravo/ravo.h"

Config config;
AppState app;
char vemo_argv0[1024];
Process *root_process;
int32_t system_inited;
int32_t debug_system_frames_since_reboot;
int kernel_no_pacing;


void kestrane_exit(int status) {
    fflush(stdout);
    vemo_log_close();
    exit(status);
}

static bool host_dir_exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static bool read_boot_lua(std::string *text) {
    pfile *f = pfopen("/system/boot.lua", "r");
    if (!f) return false;
    text->assign((const char *)f->contents->data, (size_t)f->contents->len);
    pfclose(f);
    return true;
}

static void create_root_process() {
    vemo_debug("creating root process..");
    root_process = create_process_from_code("--[[ :: root process :: ]]", "[root]", "[root]", "", "");
    if (!root_process) {
        printf("could not create the root process\n");
        kestrane_exit(0);
    }
    cproc = root_process;
    luaL_openlibs(root_process->L);
}

static void compile_boot_lua() {
    vemo_debug("looking for /system..\n");
    if (get_dat_file_count() < 2) {
        printf("sysrom.dat not found\n");
        vemo_debug("sysrom.dat not found\n");
        kestrane_exit(1);
    }
    pdisk_mount_system_rom(get_dat_file(1));
    std::string text;
    bool found = read_boot_lua(&text);
    vemo_debug("preparing to boot\n");
    if (!found) {
        printf("could not find /system/boot.lua\n");
        kestrane_exit(0);
    }
    lua_State *L = root_process->L;
    if (luaL_loadbufferx(L, text.data(), text.size(), "@/system/boot.lua", "t") != LUA_OK) {
        printf("error in /system/boot.lua");
        printf("\n%s\n", lua_tostring(L, -1));
        kestrane_exit(0);
    }
}

static void mount_exported_cart() {
    config.vproc = 3;
    if (get_dat_file_count() < 3) return;
    app.exported_cart = 1;
    pdisk_mount_exported_cart(get_dat_file(2));
    if (get_dat_file_count() >= 4) {
        Buffer *flags = get_dat_file(3);
        if (bread_uint32_big_endian(flags) & 1) config.vproc = 4;
    }
}

void reset_app_state() {
    int32_t host_flag = system_inited ? app.host_window_flag : 0;
    memset(&app, 0, sizeof app);
    app.host_window_flag = host_flag;
    processes_init();
    boot_init();
    pfile_init();
    pfile_reset();
    ravo_init();
    app.audio_owner_pid = -2;
    app.audio_synced_pid = -3;
    mount_ram_folder("/ram");
    qenuser_init();
    process_config();
    std::string data_dir = vemo_program_path("data");
    if (host_dir_exists(data_dir)) mount_host_path(data_dir.c_str(), "/host_data");
    create_root_process();
    compile_boot_lua();
    vemo_debug("[everwas] init\n");
    int64_t t0 = get_ticks();
    everwas_open();
    vemo_debug("[everwas] ok (%lldms)\n", (long long)(get_ticks() - t0));
    mount_exported_cart();
}

static void run_root_frame() {
    prepare_processes_for_frame();
    run_process_slice(root_process, 1.0);
    update_processes_after_frame();
}

[[noreturn]] static void shutdown() {
    vemo_debug("[kestrane_exit] flushing dirty mounts..\n");
    flush_dirty_mounts_immediately();
    sync_fs(1);
    vemo_debug("[kestrane_exit] freeing sockets..\n");
    delete_sockets_by_process(0);
    sockets_exit();
    vemo_debug("[kestrane_exit] closing everwas..\n");
    everwas_close();
    vemo_debug("[kestrane_exit] ok\n");
    kestrane_exit(0);
}

// Returns true when the frame should run normally.
static bool exit_wait() {
    vemo_debug("[kestrane_exit] (waiting for atomic operation to complete)\n");
    app.exit_wait_frames++;
    if (app.exit_wait_frames <= 60) return true;
    vemo_debug("[kestrane_exit]\n");
    for (int round = 0; round < 120 && app.atomic_pid != 0; round++) {
        vemo_debug("[kestrane_exit] waiting for shutdown..\n");
        run_root_frame();
    }
    shutdown();
}

static bool handle_requests() {
    if (app.reboot_requested) {
        if (app.atomic_pid == 0) {
            flush_dirty_mounts_immediately();
            vemo_debug("--- rebooting ---\n\n");
            reset_app_state();
            debug_system_frames_since_reboot = 0;
            return true;
        }
        if (app.exit_requested) return exit_wait();
    }
    if (app.exit_requested) {
        if (app.atomic_pid != 0) return exit_wait();
        vemo_debug("[kestrane_exit]\n");
        shutdown();
    }
    return true;
}

void system_frame() {
    debug_system_frames_since_reboot++;
    handle_requests();
    if (!app.video_configured) os_apply_video_config();
    if (!system_inited) {
        os_system_init();
        sockets_init();
        system_inited = 1;
    }
    start_frame();
    run_root_frame();
    flush_dirty_mounts_delayed();
    scoresub_update();
    qenuser_update();
    gurl_update();
    scoresub_update();
    sync_fs(0);
    app.frame_count++;
    end_frame();
    if (app.frame_count % 60 == 0) update_session(get_active_session());
}

void end_frame() {
    if (config.headless) {
        bool boot;
        video_source(&boot);
    } else {
        int w, h;
        uint32_t *frame = generate_video_out(&w, &h);
        if (frame) os_present_frame(frame, w, h);
    }
    int interval = os_frame_interval(get_ticks());
    if (!kernel_no_pacing) os_wait_frame(interval);
}
