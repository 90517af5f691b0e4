// Hostile programs against the whole kernel API: every global function and
// userdata method is called many times with arguments drawn from a pool of
// awkward values (extreme numbers, NaN, long strings, odd tables, userdata
// of every type, functions, threads). Each run is a process of its own, as
// any program is: Lua errors are fine, and so is the end of a run that runs
// out of memory; the machine must neither crash nor stop, and its root must
// go on to the next run. Under the sanitizer build this also checks every
// call for memory faults.
#include <gtest/gtest.h>

#include <string>

#include "kernel/harness.h"

namespace {

// The driver: a fixed-seed generator of our own (math.random's seed is
// random per state), the sorted list of functions, and the calls. A few
// functions are left out: those that end the machine or the root's slice
// (flip, _halt, _signal, _kill_process, _run_process_slice), open host
// programs (_open_host_path), print a lot (print, printh), start processes
// without end (_create_process_from_code), or can legitimately run out of
// memory or loop for minutes in the root (string.rep, table.move,
// table.concat, table.unpack), which ends the machine by design.
const char *chaos_lua = R"LUA(
local child = [==[
local skip = {
    flip = 1, _flip = 1, _halt = 1, _signal = 1, _kill_process = 1, _run_process_slice = 1,
    _open_host_path = 1, print = 1, printh = 1, _printh = 1, _create_process_from_code = 1,
    _yielded_to_escape_slice = 1, collectgarbage = 1, error = 1, assert = 1, coroutine = 1,
    setmetatable = 1, rawset = 1, next = 1, pairs = 1, ipairs = 1, require = 1,
    ["string.rep"] = 1, ["table.move"] = 1, ["table.concat"] = 1, ["table.unpack"] = 1,
}
local seed = SEED
local function rand(n)
    seed = (seed * 1103515245 + 12345) %% 2147483648
    return (seed >> 16) %% n + 1   -- the low bits repeat after a few steps
end

local function sorted_names(t, prefix)
    local names = {}
    for k, v in pairs(t) do
        if type(k) == "string" and type(v) == "function" and not skip[k] and not skip[prefix .. k] then
            local i = #names + 1
            while i > 1 and names[i - 1] > k do names[i] = names[i - 1] i -= 1 end
            names[i] = k
        end
    end
    local fns = {}
    for _, k in ipairs(names) do fns[#fns + 1] = {prefix .. k, t[k]} end
    return fns
end

local fns = sorted_names(_G, "")
for _, lib in ipairs({"string", "table", "math", "utf8"}) do
    for _, f in ipairs(sorted_names(_G[lib], lib .. ".")) do fns[#fns + 1] = f end
end
if type(USERDATA) == "table" then
    for _, f in ipairs(sorted_names(USERDATA, "ud:")) do fns[#fns + 1] = f end
end

local function pool()
    return table.pack(
        nil, true, false, 0, 1, -1, 2, 7, 16, 63, 64, 255, 256, 480, 270, 4096, 0x10000,
        0x5000, 0x547f, 0xffffff, 0x1000000, 2^31, -2^31, 2^32, 2^53, -2^53, 1e308, -1e308,
        0.5, -0.5, 0/0, 1/0, -1/0, math.mininteger, math.maxinteger,
        "", "x", "0", "-1", "0x10", "1e9", "u8", "i16", "f64", "i32", "i64",
        "/", "/ram", "/ram/a.txt", "/ram/b.kod", "/ram/c.k64", "/system", "/system/boot.lua",
        "../..", "/ram/x/../../..", string.rep("a", 300), string.rep("/", 100),
        "\0\1\2\255", "--[[kod]]{1,2}", "[gfx]0808ff00ff00ff00ff00ff00ff00ff00ff00ff00ff00ff00ff00ff00ff00ff00ff00[/gfx]",
        {}, {1, 2, 3}, {x = 1, y = {}}, {event = "x", text = 1}, {[1.5] = 2, [-1] = 3},
        userdata("u8", 8, 8), userdata("u8", 480, 270), userdata("i16", 4, 4), userdata("i32", 3),
        userdata("i64", 2, 2), userdata("f64", 6, 4), userdata("f64", 1), userdata("u8", 1, 1),
        function() return 1 end, coroutine.create(function() end))
end

local calls, errors, slot = 0, 0, pool()
local function arg() return slot[rand(slot.n)] end

for round = 1, ROUNDS do
    local f = fns[rand(#fns)]
    local n = rand(7) - 1
    local a1, a2, a3, a4, a5, a6 = arg(), arg(), arg(), arg(), arg(), arg()
    local ok
    if n == 0 then ok = pcall(f[2])
    elseif n == 1 then ok = pcall(f[2], a1)
    elseif n == 2 then ok = pcall(f[2], a1, a2)
    elseif n == 3 then ok = pcall(f[2], a1, a2, a3)
    elseif n == 4 then ok = pcall(f[2], a1, a2, a3, a4)
    elseif n == 5 then ok = pcall(f[2], a1, a2, a3, a4, a5)
    else ok = pcall(f[2], a1, a2, a3, a4, a5, a6) end
    calls += 1
    if not ok then errors += 1 end
    -- fresh values now and then: calls may have changed the tables
    if round %% 500 == 0 then slot = pool() end
end
_ENV.print("chaos", #fns > 200, calls)
]==]

-- two idle processes first, so that every run gets an id above 3
for i = 1, 2 do _create_process_from_code("while true do flip() end", "idle", "idle") end
for seed = 1, %d do
    local code = child:gsub("SEED", tostring(seed)):gsub("ROUNDS", "%d")
    local id = _create_process_from_code(code, "chaos", "/ram/chaos.lua")
    local frames = 0
    while id and _process_state(id) == 0 and frames < 3000 do
        _run_process_slice(id, 1)
        flip()
        frames += 1
    end
    print("run", seed, id ~= nil, _process_state(id or 0))
end
print("root still answers", pid(), stat(0) ~= nil)
while true do flip() end
)LUA";

std::string chaos(int runs, int rounds) {
    char text[8192];
    snprintf(text, sizeof text, chaos_lua, runs, rounds);
    return text;
}

int count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// Eight runs of 4000 calls in one machine. Every run must have ended (state
// -1: its process is gone), most by finishing their calls; the root reports
// afterwards. A crash, a sanitizer report or an exit fails.
TEST(ApiChaos, RandomCallsNeitherCrashNorStopTheMachine) {
    const int runs = 8;
    MachineRun r = harness_run_boot(chaos(runs, 4000), runs * 3000 + 60);
    std::string tail = r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    EXPECT_FALSE(r.exited) << "status " << r.status << "\n" << tail;
    EXPECT_EQ(count(r.out, "\t-1\n"), runs) << tail;
    EXPECT_GE(count(r.out, "chaos\ttrue\t4000\n"), runs / 2) << tail;
    EXPECT_NE(r.out.find("root still answers\t1\ttrue\n"), std::string::npos) << tail;
}

}  // namespace
