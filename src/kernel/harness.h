// A headless machine for tests and tools: boots a system ROM built in
// memory, runs a number of frames and reports what the machine printed.
#pragma once
#include <string>
#include <vector>

struct MachineRun {
    std::string out;      // everything written to standard output
    int status = -1;      // exit status when the machine stopped by itself
    bool exited = false;  // false when it was still running after the frames
    std::string log;      // contents of log.txt in the machine's home folder
};

struct RomEntry;

// Builds the records of a sysrom.dat whose system ROM holds the given entries.
std::vector<std::string> harness_rom_records(const std::vector<RomEntry> &entries);
// The same for files given as (relative path, contents).
std::vector<std::string> harness_rom_records(
    const std::vector<std::pair<std::string, std::string>> &files);

// Runs a machine in a child process, so that an exit or a crash of the
// machine ends only the child. `home` is the data folder (created).
MachineRun harness_run(const std::vector<std::string> &records, int frames, const std::string &home);

// Shorthand: a machine whose /system/boot.lua is `boot_lua`.
MachineRun harness_run_boot(const std::string &boot_lua, int frames);
