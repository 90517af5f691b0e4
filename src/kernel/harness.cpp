// Headless machines run in a forked child: each run starts from a clean
// kernel, and exit() or a fatal error inside the machine is observed from
// outside as a status.
#include "kernel/harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formats/buffer.h"
#include "host/log.h"
#include "host/paths.h"
#include "kernel/datfile.h"
#include "kernel/kernel.h"
#include "pdisk/k64rom.h"

extern int kernel_no_pacing;

constexpr int FRAMES_DONE_STATUS = 217;

std::vector<std::string> harness_rom_records(
    const std::vector<std::pair<std::string, std::string>> &files) {
    std::vector<RomEntry> entries;
    for (const auto &f : files) entries.push_back(RomEntry{f.first, false, f.second});
    return harness_rom_records(entries);
}

std::vector<std::string> harness_rom_records(const std::vector<RomEntry> &entries) {
    Buffer *b = create_buffer_2(1024, 100);
    k64rom_write(b, entries);
    std::string rom((const char *)b->data, (size_t)b->len);
    destroy_buffer(b);
    return {std::string(), rom};
}

[[noreturn]] static void run_child(const std::vector<std::string> &records, int frames,
                                   const std::string &home) {
    // the test process may have a log open elsewhere: start a fresh one
    vemo_log_close();
    Buffer *dat = create_buffer_2(1024, 100);
    datfile_write(dat, records);
    config_set_start_values();
    config.headless = 1;
    snprintf(config.home, sizeof config.home, "%s", home.c_str());
    kernel_no_pacing = 1;
    load_kestrane_dat_files_from_memory(dat->data, (size_t)dat->len);
    destroy_buffer(dat);
    reset_app_state();
    for (int i = 0; i < frames; i++) system_frame();
    fflush(stdout);
    _exit(FRAMES_DONE_STATUS);
}

static std::string read_all(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
    return out;
}

MachineRun harness_run(const std::vector<std::string> &records, int frames, const std::string &home) {
    MachineRun r;
    if (vemo_mkdirs(home.c_str()) != 0) return r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        run_child(records, frames, home);
    }
    close(fds[1]);
    r.out = read_all(fds[0]);
    close(fds[0]);
    int ws = 0;
    waitpid(pid, &ws, 0);
    if (WIFEXITED(ws)) {
        r.status = WEXITSTATUS(ws);
        r.exited = r.status != FRAMES_DONE_STATUS;
        if (!r.exited) r.status = -1;
    } else {
        r.status = 128 + (WIFSIGNALED(ws) ? WTERMSIG(ws) : 0);
        r.exited = true;
    }
    std::ifstream f(home + "/log.txt");
    std::stringstream ss;
    ss << f.rdbuf();
    r.log = ss.str();
    return r;
}

MachineRun harness_run_boot(const std::string &boot_lua, int frames) {
    char tmpl[] = "/tmp/kestrane-machine-XXXXXX";
    const char *dir = mkdtemp(tmpl);
    MachineRun r = harness_run(harness_rom_records({{"boot.lua", boot_lua}}), frames,
                               dir ? dir : "/tmp/kestrane-machine");
    std::error_code ec;
    if (dir) std::filesystem::remove_all(dir, ec);
    return r;
}
