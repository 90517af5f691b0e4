// The cost of an idle desktop: the shipped system software booted headless
// with a terminal open, measured over 600 frames as the share of the frame
// budget the processes use (stat(301) summed over each frame) and as host
// CPU time per frame against the 16.7 ms a frame lasts.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/harness.h"
#include "pdisk/k64rom.h"

namespace {

const int warmup_frames = 120;
const int measured_frames = 600;

// Runs the shipped boot.lua under a wrapper that opens a terminal once the
// desktop is up and sums stat(301) just before each of the root's flips.
const char *wrapper = R"(
local real_flip, frame, total = flip, 0, 0
function flip(...)
    frame += 1
    if frame == 30 then
        local launch = load(fetch("/system/lib/launch.lua"), "@/system/lib/launch.lua")()
        launch("/system/apps/terminal.lua", {pwd = "/ram"})
    end
    if frame > %d then total += stat(301) end
    if frame == %d then print(string.format("%%.6f", total / %d)) end
    return real_flip(...)
end
load(fetch("/system/boot_shipped.lua"), "@/system/boot.lua")()
)";

std::vector<std::string> desktop_rom() {
    std::vector<RomEntry> entries;
    std::string system = std::string(KESTRANE_SOURCE_DIR) + "/system";
    if (k64rom_pack_folder(system.c_str(), entries) < 0) return {};
    char boot[1024];
    snprintf(boot, sizeof boot, wrapper, warmup_frames, warmup_frames + measured_frames,
             measured_frames);
    for (RomEntry &e : entries)
        if (e.name == "boot.lua") e.name = "boot_shipped.lua";
    entries.push_back(RomEntry{"boot.lua", false, boot});
    return harness_rom_records(entries);
}

double children_cpu_ms() {
    struct rusage ru;
    getrusage(RUSAGE_CHILDREN, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

void BM_IdleDesktopWithTerminal(benchmark::State &state) {
    std::vector<std::string> rom = desktop_rom();
    if (rom.empty()) {
        state.SkipWithError("could not pack system/");
        return;
    }
    for (auto _ : state) {
        // host CPU of the measured frames: a run to the end of the warm-up
        // is subtracted from a run through the measured frames
        double t0 = children_cpu_ms();
        harness_run(rom, warmup_frames, "/tmp/kestrane-desktop-bench-a");
        double t1 = children_cpu_ms();
        MachineRun r = harness_run(rom, warmup_frames + measured_frames + 1,
                                   "/tmp/kestrane-desktop-bench-b");
        double t2 = children_cpu_ms();
        double share = atof(r.out.c_str());
        if (r.out.empty()) {
            state.SkipWithError(("the desktop did not report: " + r.log).c_str());
            return;
        }
        double ms = ((t2 - t1) - (t1 - t0)) / measured_frames;
        state.counters["stat301_share"] = share;
        state.counters["host_ms_per_frame"] = ms;
        state.counters["host_share"] = ms / (1000.0 / 60.0);
    }
}
BENCHMARK(BM_IdleDesktopWithTerminal)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
