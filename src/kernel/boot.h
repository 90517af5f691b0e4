// Boot timing (the boot screen itself comes with the system ROM work).
#pragma once
#include <cstdint>

void boot_init();
// Milliseconds since the first query after a reset, counted in frames.
int64_t boot_get_time();
