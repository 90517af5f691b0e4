// The kestrane executable.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "formats/buffer.h"
#include "host/log.h"
#include "host/paths.h"
#include "kernel/datfile.h"
#include "kernel/kernel.h"
#include "net/services.h"

int main(int argc, char **argv) {
    gurl_init();
    memset(vemo_argv0, 0, sizeof vemo_argv0);
    if (argc > 0 && argv[0]) snprintf(vemo_argv0, sizeof vemo_argv0, "%s", argv[0]);
    // The command line is read before the ROM file so that the log, whose
    // first line the ROM reader writes, already lands in a -home folder.
    config_set_start_values();
    process_arguments(argc, argv);
    load_kestrane_dat_files();
    srand((unsigned)time(nullptr));
    // An export name moves the data folder: the log reopens there.
    Buffer *name = get_dat_file(0);
    if (name && name->len > 0 && name->data[0]) {
        vemo_set_export_name(to_cstr(name));
        vemo_log_close();
    }
    vemo_debug("booting kestrane %s\n", KESTRANE_VERSION);
    vemo_debug("build: %s\n", KESTRANE_BUILD_DATE);
    reset_app_state();
    for (;;) system_frame();
}
