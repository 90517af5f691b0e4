// Boot timing and the boot screen shown while the system software starts.
#pragma once
#include <cstdint>

struct Process;

// The 43-character line printed under the title.
extern const char boot_notice_text[];

// Restarts the boot timing (every reset).
void boot_init();
// Milliseconds since the first query after a reset, counted in frames.
int64_t boot_get_time();
// Draws the current boot frame into the boot record's video memory and
// returns the record (a drawing context outside the process table, never
// run), or null when it could not be created.
Process *draw_boot();
