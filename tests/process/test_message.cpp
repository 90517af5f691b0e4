// Messages between processes through send_message and _read_message.
#include <gtest/gtest.h>

#include <string>

#include "formats/buffer.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "process/message.h"
#include "process/process.h"
#include "process/slice.h"

namespace {

struct Messages : ::testing::Test {
    Process *a = nullptr;
    Process *b = nullptr;

    void SetUp() override {
        config_set_start_values();
        config.headless = 1;
        processes_init();
        a = create_process_from_code("x = 1", "a", "/ram/a.lua", "", "");
        b = create_process_from_code("x = 1", "b", "/system/b.lua", "", "");
        ASSERT_TRUE(a && b);
    }
    void TearDown() override { processes_init(); }

    // Runs code in q; returns its single result as text, or the error.
    static std::string eval(Process *q, const std::string &code) {
        cproc = q;
        int top = lua_gettop(q->L);
        if (luaL_dostring(q->L, code.c_str()) != LUA_OK) {
            std::string msg = "error: " + std::string(lua_tostring(q->L, -1));
            lua_settop(q->L, top);
            return msg;
        }
        std::string s = lua_gettop(q->L) > top ? luaL_tolstring(q->L, top + 1, nullptr) : "";
        lua_settop(q->L, top);
        return s;
    }
};

TEST_F(Messages, ArriveInOrderWithTheSendersFields) {
    std::string to_a = std::to_string(a->id);
    EXPECT_EQ(eval(b, "for i = 1, 3 do send_message(" + to_a + ", {n = i, s = 'm' .. i, u = userdata('u8', 3, 1)}) end"),
              "");
    EXPECT_EQ(eval(b, "local m = {} send_message('" + to_a + "', m) "
                      "return m._from .. ' ' .. m._flags .. ' ' .. math.type(m._sent_t)"),
              std::to_string(b->id) + " 1 integer");
    EXPECT_EQ(eval(a, "local out = {} for i = 1, 4 do local m = _read_message() "
                      "out[i] = m.n and (m.n .. m.s .. #m.u .. ':' .. m._from) or 'last' end "
                      "return table.concat(out, ' ')"),
              "1m13:2 2m23:2 3m33:2 last");
    EXPECT_EQ(eval(a, "return select('#', _read_message())"), "0");
}

TEST_F(Messages, UnknownReceiversAndBadMessages) {
    EXPECT_EQ(eval(b, "local m = {} send_message(0, m) send_message(999999, m) send_message('x', m) return m._from"),
              "nil");
    // called directly, so that no Lua instruction is counted: no charge
    cproc = b;
    for (const char *to : {"0", "999999"}) {
        lua_getglobal(b->L, "send_message");
        lua_pushstring(b->L, to);
        lua_newtable(b->L);
        cpu_cycles = 0;
        lua_call(b->L, 2, 0);
        EXPECT_EQ(cpu_cycles, 0) << to;
    }
    EXPECT_NE(eval(b, "send_message(" + std::to_string(a->id) + ", 5)").find("attempt to index a number value"),
              std::string::npos);
    // a cyclic table raises an error and posts nothing
    EXPECT_NE(eval(b, "local t = {} t.t = t send_message(" + std::to_string(a->id) + ", t)").find("cyclic"),
              std::string::npos);
    EXPECT_EQ(a->msg_queue->len, 0);
}

TEST_F(Messages, FullQueueDropsUntilReadBelowTheLimit) {
    std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 17; i++) send_process_message_bytes(a, chunk.data(), chunk.size());
    int32_t full = a->msg_queue->len;
    eval(b, "send_message(" + std::to_string(a->id) + ", {late = true})");
    EXPECT_EQ(a->msg_queue->len, full);
    // two reads bring it under 16 MiB; the next message is queued whole
    eval(a, "_read_message() _read_message()");
    int32_t after_reads = a->msg_queue->len;
    eval(b, "send_message(" + std::to_string(a->id) + ", {late = true})");
    EXPECT_GT(a->msg_queue->len, after_reads);
}

}  // namespace
