// Runs a headless machine from a boot.lua file or a folder packed as the
// system ROM, for a number of frames, and prints what it printed.
//   kestrane-headless FILE.lua|FOLDER [FRAMES]
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kernel/harness.h"
#include "pdisk/k64rom.h"

static std::vector<std::string> folder_records(const char *dir) {
    std::vector<RomEntry> entries;
    if (k64rom_pack_folder(dir, entries) < 0) return {};
    return harness_rom_records(entries);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE.lua|FOLDER [FRAMES]\n", argv[0]);
        return 2;
    }
    int frames = argc > 2 ? atoi(argv[2]) : 60;
    struct stat st;
    if (stat(argv[1], &st) != 0) {
        fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 2;
    }
    std::vector<std::string> records;
    if (S_ISDIR(st.st_mode)) {
        records = folder_records(argv[1]);
    } else {
        std::ifstream f(argv[1], std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        records = harness_rom_records({{"boot.lua", ss.str()}});
    }
    char tmpl[] = "/tmp/kestrane-headless-XXXXXX";
    const char *home = mkdtemp(tmpl);
    MachineRun r = harness_run(records, frames, home ? home : "/tmp/kestrane-headless");
    std::error_code ec;
    if (home) std::filesystem::remove_all(home, ec);
    fwrite(r.out.data(), 1, r.out.size(), stdout);
    if (r.exited) fprintf(stderr, "[machine exited with status %d]\n", r.status);
    return r.exited ? r.status : 0;
}
