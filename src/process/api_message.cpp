// Messages between processes, as Lua sees them: send_message and
// _read_message, over the queues of message.cpp.
#include "process/api_message.h"

#include "formats/buffer.h"
#include "formats/kod.h"
#include "host/clock.h"
#include "lua.hpp"
#include "process/api.h"
#include "process/message.h"
#include "process/process.h"
#include "process/slice.h"

// Kod flags of a message: u8/i16 userdata as kxu blocks, LZ4-compressed.
constexpr int MESSAGE_KOD_FLAGS = 3;

static Buffer *shared_read_buffer;
static Buffer *send_buffer;   // reused by every send_message

Buffer *read_process_message(Process *p, Buffer *out) {
    Buffer *q = p ? p->msg_queue : nullptr;
    if (!q || q->len < 4) return nullptr;
    q->pos = 0;
    uint32_t n = bread_uint32(q);
    // the queue is only ever written by the posting rule; a length that
    // runs past the end can only mean damage, so the queue is dropped
    if (n > (uint32_t)(q->len - 4)) {
        bclear(q);
        return nullptr;
    }
    if (!out) {
        if (!shared_read_buffer) shared_read_buffer = create_buffer_2((int32_t)n + 1, 'r');
        out = bclear(shared_read_buffer);
    }
    if (out) {
        out->pos = 0;
        bwrite(q->data + 4, 1, (int)n, out);
        out->pos = 0;
    }
    bcrop(q, (int32_t)n + 4, q->len - ((int32_t)n + 4));
    q->pos = q->len;
    return out;
}

int lua54_send_message(lua_State *L) {
    if (!lua_isnumber(L, 1)) return 0;
    Process *to = get_process(k64_intt(L, 1, 0));
    if (!to) return 0;
    // fields set in the caller's table; a non-table raises the indexing error
    lua_pushinteger(L, cproc->id);
    lua_setfield(L, 2, "_from");
    lua_pushinteger(L, get_ticks());
    lua_setfield(L, 2, "_sent_t");
    lua_pushinteger(L, cproc->trust);
    lua_setfield(L, 2, "_flags");
    if (!send_buffer) send_buffer = create_buffer_2(256, 114);
    Buffer *b = bclear(send_buffer);
    if (!b) return 0;
    int err = stringify_object(L, 2, b, MESSAGE_KOD_FLAGS);
    if (err != KOD_OK) return luaL_error(L, "%s", kod_error_text(err));
    spend_cpu(b->len / 8);
    send_process_message(to, b);
    // a one-off huge message does not keep its storage
    if (b->size > (1 << 20)) {
        destroy_buffer(send_buffer);
        send_buffer = nullptr;
    }
    return 0;
}

int lua54__read_message(lua_State *L) {
    Buffer *b = read_process_message(cproc, nullptr);
    if (!b) return 0;
    spend_cpu(b->len / 8);
    int n = destringify_object(L, (const char *)b->data, b->len);
    // a message carries no metadata block; only its value is returned
    if (n == 2) lua_pop(L, 1);
    return n > 0 ? 1 : 0;
}
