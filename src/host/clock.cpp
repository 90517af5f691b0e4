#include "host/clock.h"

#include <chrono>
#include <thread>

using steady = std::chrono::steady_clock;

static steady::time_point clock_start()
{
    static const steady::time_point start = steady::now();
    return start;
}

// Fixes the start point while the program loads, so the first reading is not
// what defines "program start".
static const steady::time_point clock_start_at_load = clock_start();

int64_t get_ticks()
{
    auto elapsed = steady::now() - clock_start();
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

int64_t os_get_time()
{
    return get_ticks();
}

void os_sleep(int ms)
{
    if (ms <= 0)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t host_time_ms()
{
    auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
}
