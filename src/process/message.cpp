// Posting texts to process queues, notifications and error reports.
#include "process/message.h"

#include <cstdio>
#include <cstring>

#include "formats/buffer.h"
#include "host/clock.h"
#include "host/log.h"
#include "process/process.h"

constexpr int32_t QUEUE_LIMIT = 16777216;

// The kernel's single posting rule: no queue, or a queue over 16 MiB, drops
// the message; the bound is checked before appending.
int send_process_message_bytes(Process *p, const char *text, size_t len) {
    if (!p) return 0;
    if (!p->msg_queue) {
        printf("*** no message buffer: %lld\n", (long long)p->id);
        return 0;
    }
    if (p->msg_queue->len > QUEUE_LIMIT || len > (size_t)INT32_MAX - 64) return 0;
    Buffer *q = p->msg_queue;
    q->pos = q->len;
    bwrite_uint32((uint32_t)len, q);
    if (bwrite(text, 1, (int)len, q) != (int)len) return 0;
    return (int)len + 4;
}

int send_process_message(Process *p, Buffer *b) {
    return b ? send_process_message_bytes(p, (const char *)b->data, (size_t)b->len) : 0;
}

int send_process_message_string(Process *p, const char *text) {
    return send_process_message_bytes(p, text, strlen(text));
}

void notify(const char *text) {
    Buffer *b = create_buffer_2(256, 114);
    bappend_str(b, "{event=\"user_notification\",content=\"");
    bappend_str_escaped(b, text ? text : "");
    bappend_str(b, "\"}");
    send_process_message(get_process(3), b);
    destroy_buffer(b);
}

void report_error(const char *text) {
    if (!text) text = "unknown error";
    Buffer *b = create_buffer_2(256, 114);
    bappend_str(b, "{event=\"report_error\",content=\"");
    bappend_str_escaped(b, text);
    char tail[128];
    snprintf(tail, sizeof tail, "\",_from=%lld,_sent_t=%lld,_flags=%d}",
             (long long)(cproc ? cproc->id : 0), (long long)get_ticks(), cproc ? cproc->trust : 0);
    bappend_str(b, tail);
    send_process_message(get_process(3), b);
    destroy_buffer(b);
    vemo_debug("SYSTEM ERROR: %s\n", text);
}

const char *filter_system_traceback_lines(const char *text) {
    static char scratch[16384];
    snprintf(scratch, sizeof scratch, "%s", text ? text : "");
    char *cut = strstr(scratch, "/system/");
    if (cut) *cut = 0;
    return scratch;
}
