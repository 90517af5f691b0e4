// Host clock: milliseconds since program start for frame pacing and the log,
// wall-clock milliseconds for timestamps. Works before and without SDL.
#pragma once
#include <cstdint>

// Milliseconds since program start, monotonic.
int64_t get_ticks();
// Same clock as get_ticks(); the name the host layer uses.
int64_t os_get_time();
// Sleeps the calling thread; a count of 0 or less returns at once.
void os_sleep(int ms);
// Wall-clock milliseconds since 1970-01-01 UTC.
int64_t host_time_ms();
