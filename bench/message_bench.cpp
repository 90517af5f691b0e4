// Messages between two processes through send_message and _read_message,
// driven from C++ through each process's Lua state as the kernel's slices
// would: A sends a table of ten fields to B, B reads it and replies with a
// table of ten fields, A reads the reply. Also the one-way trip alone, and
// a burst of messages queued before any is read.
//
// items_per_second is round trips (or messages) per second.
#include <benchmark/benchmark.h>

#include <string>

#include "kernel/kernel.h"
#include "lua.hpp"
#include "process/process.h"
#include "process/slice.h"

namespace {

// The same code runs in both processes; send_message adds _from, _sent_t
// and _flags to each table, so a message carries 13 fields in all.
const char *const message_code = R"(
function ping(to, seq)
  send_message(to, {event = "ping", seq = seq, x = 120, y = 64, button = 1, name = "window_3",
    w = 0.5, h = 0.25, visible = true, text = "hello from a"})
end
function serve()
  local m = _read_message()
  if not m then return 0 end
  send_message(m._from, {event = "pong", seq = m.seq, x = m.x + 1, y = m.y + 1, button = 0,
    name = m.name, w = m.w * 2, h = m.h * 2, visible = not m.visible, text = "reply from b"})
  return 1
end
function take()
  local m = _read_message()
  return m and m.seq or -1
end
function drain()
  local n = 0
  while _read_message() do n = n + 1 end
  return n
end
)";

struct Pair {
    Process *a = nullptr;
    Process *b = nullptr;
    std::string error;
};

Pair *pair()
{
    static Pair *p = nullptr;
    if (p)
        return p;
    p = new Pair;
    config_set_start_values();
    config.headless = 1;
    processes_init();
    p->a = create_process_from_code("x = 1", "a", "/ram/a.lua", "", "");
    p->b = create_process_from_code("x = 1", "b", "/ram/b.lua", "", "");
    if (!p->a || !p->b) {
        p->error = "could not create the processes";
        return p;
    }
    for (Process *q : {p->a, p->b}) {
        cproc = q;
        if (luaL_dostring(q->L, message_code) != LUA_OK) {
            p->error = lua_tostring(q->L, -1);
            lua_pop(q->L, 1);
        }
    }
    return p;
}

// Calls the global fn of q with up to two integer arguments as q would
// run it (q is the current process) and returns its integer result, or -1
// with *err set.
int64_t call(Process *q, const char *fn, int nargs, int64_t x, int64_t y, std::string *err)
{
    cproc = q;
    lua_State *L = q->L;
    lua_getglobal(L, fn);
    if (nargs > 0)
        lua_pushinteger(L, x);
    if (nargs > 1)
        lua_pushinteger(L, y);
    if (lua_pcall(L, nargs, 1, 0) != LUA_OK) {
        *err = lua_tostring(L, -1) ? lua_tostring(L, -1) : "error";
        lua_pop(L, 1);
        return -1;
    }
    int64_t r = lua_isinteger(L, -1) ? lua_tointeger(L, -1) : 0;
    lua_pop(L, 1);
    cpu_cycles = 0;   // keep the kernel's accounting from saturating
    return r;
}

void BM_message_round_trip(benchmark::State &state)
{
    Pair *p = pair();
    if (!p->error.empty()) {
        state.SkipWithError(p->error.c_str());
        return;
    }
    std::string err;
    int64_t seq = 0;
    for (auto _ : state) {
        seq++;
        call(p->a, "ping", 2, p->b->id, seq, &err);
        call(p->b, "serve", 0, 0, 0, &err);
        if (call(p->a, "take", 0, 0, 0, &err) != seq) {
            state.SkipWithError(err.empty() ? "the reply did not come back" : err.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_message_round_trip);

void BM_message_one_way(benchmark::State &state)
{
    Pair *p = pair();
    if (!p->error.empty()) {
        state.SkipWithError(p->error.c_str());
        return;
    }
    std::string err;
    int64_t seq = 0;
    for (auto _ : state) {
        seq++;
        call(p->a, "ping", 2, p->b->id, seq, &err);
        if (call(p->b, "take", 0, 0, 0, &err) != seq) {
            state.SkipWithError(err.empty() ? "the message did not arrive" : err.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_message_one_way);

// range(0) messages sent before B reads any of them: every read moves the
// rest of the queue to its front, so the cost per message grows with the
// queue.
void BM_message_burst(benchmark::State &state)
{
    Pair *p = pair();
    if (!p->error.empty()) {
        state.SkipWithError(p->error.c_str());
        return;
    }
    int64_t n = state.range(0);
    std::string err;
    for (auto _ : state) {
        for (int64_t i = 0; i < n; i++)
            call(p->a, "ping", 2, p->b->id, i, &err);
        if (call(p->b, "drain", 0, 0, 0, &err) != n) {
            state.SkipWithError(err.empty() ? "messages were lost" : err.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_message_burst)->Arg(16)->Arg(256)->Arg(4096);

}  // namespace
