#include "host/log.h"

#include "host/clock.h"
#include "host/paths.h"
#include "process/process.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

constexpr size_t LOG_MESSAGE_MAX = 16 * 1024;

struct LogState {
    std::mutex lock;
    FILE *file;
    char previous[LOG_MESSAGE_MAX];
    bool has_previous;
    int repeats;      // identical messages since `previous` was written
};

static LogState log_state;

// The thread that loaded the program runs the kernel; only it may look at the
// current process; worker threads log as process 0.
static const std::thread::id main_thread = std::this_thread::get_id();

static long long current_pid()
{
    if (std::this_thread::get_id() != main_thread || !cproc)
        return 0;
    return (long long)cproc->id;
}

static void write_fold_line(LogState &s)
{
    if (s.repeats > 0 && s.file) {
        fprintf(s.file, "[x %04d %03lld] %s", s.repeats, current_pid(), s.previous);
        fflush(s.file);
    }
    s.repeats = 0;
}

static void log_message(LogState &s, const char *msg)
{
    if (*msg == '>')
        msg++;
    if (*msg == '<')
        msg++;

    if (!s.file) {
        s.file = fopen(vemo_data_path("log.txt").c_str(), "wb");
        if (!s.file)
            return;
    }
    if (s.has_previous && strcmp(msg, s.previous) == 0) {
        s.repeats++;
        return;
    }
    write_fold_line(s);
    fprintf(s.file, "[%06lld %03lld] %s", (long long)get_ticks(), current_pid(), msg);
    fflush(s.file);
    snprintf(s.previous, sizeof s.previous, "%s", msg);
    s.has_previous = true;
}

void vemo_debug(const char *fmt, ...)
{
    if (!fmt)
        return;
    char msg[LOG_MESSAGE_MAX];
    va_list args;
    va_start(args, fmt);
    vsnprintf(msg, sizeof msg, fmt, args);
    va_end(args);

    std::lock_guard<std::mutex> guard(log_state.lock);
    log_message(log_state, msg);
}

void vemo_log_close()
{
    std::lock_guard<std::mutex> guard(log_state.lock);
    LogState &s = log_state;
    write_fold_line(s);
    if (s.file)
        fclose(s.file);
    s.file = nullptr;
    s.has_previous = false;
    s.previous[0] = 0;
}
