// The kernel's diagnostic log: "log.txt" in the data folder, one timestamped
// line per message, repeated messages folded into a count line.
#pragma once

// printf-style; the formatted message is cut at 16 KiB. Safe to call from
// worker threads.
void vemo_debug(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Writes a pending fold count and closes the file. The next message opens it
// again, truncated, in the data folder of that moment.
void vemo_log_close();
