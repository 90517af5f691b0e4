// Message queues between processes and the kernel's own messages.
#pragma once
#include <cstddef>

struct Process;
struct Buffer;

int send_process_message(Process *p, Buffer *b);
int send_process_message_bytes(Process *p, const char *text, size_t len);
int send_process_message_string(Process *p, const char *text);
void notify(const char *text);
void report_error(const char *text);
const char *filter_system_traceback_lines(const char *text);
