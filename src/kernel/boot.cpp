#include "kernel/boot.h"

#include "kernel/kernel.h"

void boot_init() {
    app.boot_start_frame = (uint64_t)-1;
}

int64_t boot_get_time() {
    if (app.boot_start_frame == (uint64_t)-1) {
        app.boot_start_frame = app.frame_count;
        return 0;
    }
    return (int64_t)((double)(app.frame_count - app.boot_start_frame) * 16.6);
}
