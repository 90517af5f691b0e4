// The process table, the allocator's accounting and the slice rules,
// exercised directly on kernel records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "formats/buffer.h"
#include "kernel/boot.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "memory/ram.h"
#include "process/process.h"
#include "process/slice.h"

namespace {

struct ProcessTable : ::testing::Test {
    void SetUp() override {
        config_set_start_values();
        config.headless = 1;
        processes_init();
    }
    void TearDown() override { processes_init(); }

    static Process *make(const char *code, const char *name = "p") {
        return create_process_from_code(code, name, name, "", "");
    }

    // The queue's records, each as text.
    static std::vector<std::string> queued(Process *p) {
        std::vector<std::string> out;
        Buffer *q = p->msg_queue;
        int32_t pos = 0;
        while (pos + 4 <= q->len) {
            uint32_t n;
            memcpy(&n, q->data + pos, 4);
            out.emplace_back((const char *)q->data + pos + 4, n);
            pos += 4 + (int32_t)n;
        }
        return out;
    }

    static lua_Integer global_int(Process *p, const char *name) {
        lua_getglobal(p->L, name);
        lua_Integer v = lua_tointeger(p->L, -1);
        lua_pop(p->L, 1);
        return v;
    }
};

TEST_F(ProcessTable, IdsGrowAndAreNotReusedUntilReset) {
    Process *a = make("x = 1");
    Process *b = make("this is not lua");   // fails, still consumes an id
    Process *c = make("x = 2");
    ASSERT_TRUE(a && c);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(a->id, 1);
    EXPECT_EQ(c->id, 3);
    kill_process(c);
    Process *d = make("x = 3");
    EXPECT_EQ(d->id, 4);
    processes_init();
    EXPECT_EQ(make("x = 4")->id, 1);
}

TEST_F(ProcessTable, KillCompactsSlotsAndLookupsStillFindEveryone) {
    std::vector<Process *> ps;
    for (int i = 0; i < 6; i++) ps.push_back(make("x = 1"));
    int64_t killed = ps[3]->id;
    kill_process_by_index(3);
    EXPECT_EQ(get_process_count(), 5);
    EXPECT_EQ(get_process(killed), nullptr);
    for (int i : {0, 1, 2, 4, 5}) EXPECT_EQ(get_process(ps[i]->id), ps[i]);
    EXPECT_EQ(get_process_by_index(3), ps[4]);
    EXPECT_EQ(get_process_by_index(5), nullptr);
    EXPECT_EQ(get_process_by_index(-1), nullptr);
}

TEST_F(ProcessTable, ParentGetsOneChildCompletedMessage) {
    Process *parent = make("x = 1", "parent");
    cproc = parent;
    Process *child = make("x = 1", "child");
    EXPECT_EQ(child->parent_id, parent->id);
    int64_t child_id = child->id;
    kill_process(child);
    std::vector<std::string> msgs = queued(parent);
    ASSERT_EQ(msgs.size(), 1u);
    std::string expect_head = "{event=\"child_completed\",_from=2,_sent_t=";
    EXPECT_EQ(msgs[0].compare(0, expect_head.size(), expect_head), 0) << msgs[0];
    EXPECT_NE(msgs[0].find(",proc_id=" + std::to_string(child_id) + "}"), std::string::npos) << msgs[0];

    // no parent left: nothing is posted anywhere, nothing breaks
    cproc = nullptr;
    cproc = child = make("x = 1", "orphan-parent");
    Process *grandchild = make("x = 1", "grandchild");
    kill_process(child);
    cproc = nullptr;
    kill_process(grandchild);
    EXPECT_EQ(queued(parent).size(), 1u);
}

TEST_F(ProcessTable, CreatedWithoutCurrentProcessBecomesCurrent) {
    cproc = nullptr;
    Process *p = make("x = 1");
    EXPECT_EQ(p->parent_id, 0);
    EXPECT_EQ(cproc, p);
}

TEST_F(ProcessTable, TrustBitsFollowProgramAndSandbox) {
    Process *sys = create_process_from_code("x=1", "a", "/system/apps/x.lua", "", "");
    Process *term = create_process_from_code("x=1", "b", "/system/apps/terminal.lua", "", "");
    Process *sand = create_process_from_code("x=1", "c", "/ram/c.lua", "bbs", "lid1");
    EXPECT_EQ(sys->trust, 1);
    EXPECT_EQ(term->trust, 0);
    EXPECT_EQ(sand->trust, 2);
    EXPECT_EQ(sand->sandboxed, 1);
    EXPECT_STREQ(sand->lid, "lid1");

    // an untrusted program cannot make trusted ones by naming /system/
    cproc = sand;
    Process *forged = create_process_from_code("x=1", "d", "/system/apps/d.lua", "", "");
    EXPECT_EQ(forged->trust, 0);
    cproc = sys;
    Process *granted = create_process_from_code("x=1", "e", "/system/apps/e.lua", "", "");
    EXPECT_EQ(granted->trust, 1);
}

TEST_F(ProcessTable, RestartKeepsIdAndSlotWithFreshState) {
    make("x = 1");
    Process *p = make("n = 0 while true do n = n + 1 end");
    make("x = 1");
    poke_proc(p, 0x20000, 77);
    run_process_slice(p, 1.0);
    EXPECT_GT(global_int(p, "n"), 0);
    cproc = get_process_by_index(0);
    restart_process(p);
    EXPECT_EQ(get_process_by_index(1), p);
    EXPECT_EQ(p->id, 2);
    EXPECT_EQ(global_int(p, "n"), 0);          // fresh state, body not run yet
    EXPECT_EQ(peek_proc(p, 0x20000), 0);       // address space zeroed
    EXPECT_EQ(peek_proc(p, 0x547F), 1);        // display flags after restart
    EXPECT_EQ(p->parent_id, 1);
    EXPECT_EQ(p->msg_queue->len, 0);
}

TEST_F(ProcessTable, CreationStopsAt512LiveProcesses) {
    int made = 0;
    while (make("x = 1")) made++;
    EXPECT_EQ(made, MAX_PROCESSES);
    EXPECT_EQ(get_process_count(), MAX_PROCESSES);
    int32_t next = process_id;
    EXPECT_EQ(make("x = 1"), nullptr);
    EXPECT_EQ(process_id, next + 1);
}

TEST_F(ProcessTable, AllocatorChargesTheCurrentProcessInNominalSizes) {
    Process *a = make("x = 1");
    Process *b = make("x = 1");
    int64_t before = a->lua_mem;
    cproc = a;
    ASSERT_EQ(luaL_dostring(a->L, "s = string.rep('x', 100000)"), LUA_OK);
    int64_t grown = a->lua_mem - before;
    // the string alone is charged 100000 + 32 bytes
    EXPECT_GE(grown, 100032);
    EXPECT_LT(grown, 100032 + 4096);
    // freeing while another process is current credits that process
    int64_t b_before = b->lua_mem;
    cproc = b;
    luaL_dostring(a->L, "s = nil");
    lua_gc(a->L, LUA_GCCOLLECT);
    EXPECT_LE(b->lua_mem, b_before - 100032);
}

TEST_F(ProcessTable, AllocationBeyondTheLimitFailsAndFlagsTheProcess) {
    Process *p = make("x = 1");
    cproc = p;
    int r = luaL_dostring(p->L, "s = string.rep('x', 40 * 1024 * 1024)");
    EXPECT_NE(r, LUA_OK);
    EXPECT_TRUE(p->out_of_memory);
    EXPECT_LE(process_memory_total(p), PROCESS_MEMORY_LIMIT);
    cpu_superyielding = 0;
}

struct Slices : ProcessTable {};

TEST_F(Slices, TightLoopIsPreemptedAtItsBudgetAndResumesWhereItStopped) {
    Process *p = make("n = 0 while true do n = n + 1 end");
    prepare_processes_for_frame();
    int32_t used = run_process_slice(p, 0.25);
    EXPECT_EQ(used, (int32_t)(0.25 * FRAME_BUDGET));
    lua_Integer n1 = global_int(p, "n");
    EXPECT_GT(n1, 1000);
    EXPECT_EQ(lua_status(p->L), LUA_YIELD);
    prepare_processes_for_frame();
    run_process_slice(p, 0.25);
    lua_Integer n2 = global_int(p, "n");
    // the same budget runs about as many iterations again, continuing from n1
    // (the first slice also ran the few instructions before the loop)
    EXPECT_GE(n2 - n1, n1);
    EXPECT_LE(n2 - n1, n1 + 8);
}

TEST_F(Slices, GrantsNeverExceedTheFrameTotal) {
    Process *a = make("while true do end");
    Process *b = make("while true do end");
    prepare_processes_for_frame();
    EXPECT_EQ(run_process_slice(a, 0.75), (int32_t)(0.75 * FRAME_BUDGET));
    EXPECT_EQ(run_process_slice(b, 0.75), FRAME_BUDGET - (int32_t)(0.75 * FRAME_BUDGET));
    EXPECT_EQ(run_process_slice(a, 0.1), 0);
    EXPECT_EQ(get_total_frame_cycles(), FRAME_BUDGET);
}

static int spend_from_lua(lua_State *L) {
    spend_cpu(lua_tointeger(L, 1));
    return 0;
}

TEST_F(Slices, OverspendBecomesDebtChargedAtTheNextSlice) {
    Process *p = make("spend(279620 + 1000) while true do end");
    lua_register(p->L, "spend", spend_from_lua);
    prepare_processes_for_frame();
    run_process_slice(p, 1.0);
    // the overspend plus the few instructions around the call
    EXPECT_GE(p->cycle_debt, 1000);
    EXPECT_LE(p->cycle_debt, 1016);
    prepare_processes_for_frame();
    run_process_slice(p, 1.0);
    EXPECT_LE(p->cycle_debt, 2);   // the loop overshoots by at most one instruction
}

TEST_F(Slices, DebtIsCappedAtTenFrames) {
    Process *p = make("while true do end");
    p->cycle_debt = 3000000;
    prepare_processes_for_frame();
    int32_t used = run_process_slice(p, 1.0);
    EXPECT_EQ(used, FRAME_BUDGET);
    // the slice starts fully charged and overshoots by one instruction
    EXPECT_EQ(p->cycle_debt, DEBT_CAP - FRAME_BUDGET + 2);
}

TEST_F(Slices, FinishedBodyIsKilledAndCrashesAboveId3AreKilled) {
    make("x = 1");
    make("x = 1");
    Process *p3 = make("error('boom')");
    Process *p4 = make("error('boom')");
    Process *p5 = make("x = 1");
    int64_t id4 = p4->id, id5 = p5->id;
    prepare_processes_for_frame();
    run_process_slice(p3, 1.0);
    EXPECT_EQ(p3->state, PSTATE_CRASHED);   // id 3 keeps its slot
    run_process_slice(p4, 1.0);
    EXPECT_EQ(get_process(id4), nullptr);
    run_process_slice(p5, 1.0);
    EXPECT_EQ(get_process(id5), nullptr);
}

TEST_F(Slices, FpsFollowsHostFramesPerProgramFrame) {
    Process *p = make("while true do flip() flip() end");
    for (int frames : {1, 2, 3}) {
        p->frames_since_flip = frames - 1;
        p->flipped = 1;
        prepare_processes_for_frame();
        EXPECT_EQ(p->fps, 60 / frames);
    }
}

TEST_F(Slices, BootGateHoldsBackLaterProcessesUntilBootTimeWhenNotHeadless) {
    config.headless = 0;
    app.boot_start_frame = 0;
    for (int i = 0; i < 3; i++) make("while true do end");
    Process *p4 = make("while true do end");
    prepare_processes_for_frame();
    app.frame_count = 132;
    EXPECT_EQ(run_process_slice(p4, 0.1), 0);
    app.frame_count = 133;
    EXPECT_GT(run_process_slice(p4, 0.1), 0);
}

}  // namespace
