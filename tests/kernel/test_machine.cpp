// Whole machines booted headless from a ROM built in memory: start-up,
// reboot and exit, and what programs see of processes and slices.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kernel/harness.h"

namespace {

int count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// Data folders of the machines, removed when the test program ends. A
// machine that stops by itself exits its forked child normally, which runs
// this destructor too: only the test program itself removes anything.
struct TempHomes {
    pid_t owner = getpid();
    std::vector<std::string> paths;
    ~TempHomes() {
        std::error_code ec;
        if (getpid() == owner)
            for (const std::string &p : paths) std::filesystem::remove_all(p, ec);
    }
};

std::string temp_home() {
    static TempHomes homes;
    char tmpl[] = "/tmp/kestrane-test-XXXXXX";
    const char *made = mkdtemp(tmpl);
    if (!made) return "/tmp/kestrane-test";
    homes.paths.push_back(made);
    return made;
}

TEST(Startup, MissingSystemRomStopsWithStatus1) {
    MachineRun r = harness_run({std::string()}, 5, temp_home());
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("sysrom.dat not found"), std::string::npos);
    EXPECT_NE(r.log.find("sysrom.dat not found\n"), std::string::npos);
}

TEST(Startup, MissingOrBrokenBootLuaStopsWithStatus0) {
    MachineRun missing = harness_run(harness_rom_records({{"other.lua", "x = 1"}}), 5, temp_home());
    EXPECT_TRUE(missing.exited);
    EXPECT_EQ(missing.status, 0);
    EXPECT_NE(missing.out.find("could not find /system/boot.lua"), std::string::npos);

    MachineRun broken = harness_run_boot("x = = 1", 5);
    EXPECT_TRUE(broken.exited);
    EXPECT_EQ(broken.status, 0);
    EXPECT_EQ(broken.out.rfind("error in /system/boot.lua\n", 0), 0u) << broken.out;
    EXPECT_NE(broken.out.find("unexpected symbol"), std::string::npos);
}

TEST(Startup, BootLuaRunsInTheRootProcessEveryFrame) {
    MachineRun r = harness_run_boot("print('root', pid()) while true do print('frame') flip() end", 4);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.out.rfind("root\t1\n", 0), 0u) << r.out;
    EXPECT_EQ(count(r.out, "frame"), 4);
    EXPECT_NE(r.log.find("booting") == std::string::npos ? r.log.find("creating root process..")
                                                           : std::string::npos,
              std::string::npos);
}

TEST(Startup, RebootRestartsIdsAndTheBootProgram) {
    MachineRun r = harness_run_boot(
        "print('boot', _create_process_from_code('flip()', 'a', 'a')) _signal(34) flip()", 3);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(count(r.out, "boot\t2\n"), 3) << r.out;
    EXPECT_EQ(count(r.log, "--- rebooting ---"), 2);
}

TEST(Startup, ExitRunsTheShutdownStepsInOrder) {
    MachineRun r = harness_run_boot("_signal(33) flip() print('not reached') ", 10);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("not reached"), std::string::npos);
    size_t a = r.log.find("[kestrane_exit] flushing dirty mounts..");
    size_t b = r.log.find("[kestrane_exit] freeing sockets..");
    size_t c = r.log.find("[kestrane_exit] closing everwas..");
    size_t d = r.log.find("[kestrane_exit] ok");
    ASSERT_NE(d, std::string::npos) << r.log;
    EXPECT_TRUE(a < b && b < c && c < d);
}

// A process that holds the atomic lock forever delays an exit by 60 normal
// frames, then 120 root-only rounds.
TEST(Startup, ExitWaitsForTheAtomicLockThenGivesUp) {
    MachineRun r = harness_run_boot(R"(
        local child = _create_process_from_code('_signal(40) while true do flip() end', 'locker', 'locker')
        local frame = 0
        while true do
            frame = frame + 1
            _run_process_slice(child, 0.1)
            if frame == 2 then _signal(33) end
            print('frame', frame)
            flip()
        end)",
                                    400);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    // frames 1 and 2, then 60 waiting frames, then the 120 rounds also run the root
    EXPECT_NE(r.out.find("frame\t62\n"), std::string::npos) << r.out.substr(r.out.size() - 200);
    EXPECT_NE(r.out.find("frame\t182\n"), std::string::npos);
    EXPECT_EQ(r.out.find("frame\t183\n"), std::string::npos);
    EXPECT_NE(r.log.find("[kestrane_exit] waiting for shutdown.."), std::string::npos);
    EXPECT_NE(r.log.find("[kestrane_exit] ok"), std::string::npos);
}

TEST(Startup, RebootWaitsUntilTheLockIsReleased) {
    MachineRun r = harness_run_boot(R"(
        print('boot')
        local child = _create_process_from_code(
            '_signal(40) for i = 1, 5 do flip() end _signal(41) while true do flip() end', 'l', 'l')
        _signal(34)
        while true do _run_process_slice(child, 0.1) flip() end)",
                                    12);
    EXPECT_FALSE(r.exited);
    // the child needs 6 of its frames to release the lock, then the reboot
    // happens and everything starts again
    EXPECT_EQ(count(r.out, "boot"), 2) << r.out;
}

TEST(Processes, RootErrorEndsTheKernel) {
    MachineRun r = harness_run_boot("flip() error('kaput')", 5);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("** RUNTIME ERROR IN KERNEL **"), std::string::npos);
    EXPECT_NE(r.log.find("kaput"), std::string::npos);
}

TEST(Processes, WindowManagerSlotErrorEndsTheKernel) {
    MachineRun r = harness_run_boot(R"(
        local wm = _create_process_from_code('error("wm broke")', 'wm', 'wm')
        while true do _run_process_slice(wm, 0.5) flip() end)",
                                    5);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("** RUNTIME ERROR IN WINDOW MANAGER **\n"), std::string::npos);
    EXPECT_NE(r.out.find("wm broke"), std::string::npos);
}

TEST(Processes, RootCannotBeKilledAndItsEndShutsDown) {
    MachineRun r = harness_run_boot("_kill_process(1, 0) print('alive', pid()) flip() print('end')", 10);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("alive\t1\nend\n"), std::string::npos) << r.out;
}

TEST(Processes, HogIsKilledForMemoryWhileOthersRun) {
    MachineRun r = harness_run_boot(R"(
        local hog = _create_process_from_code(
            'local t = {} while true do t[#t + 1] = string.rep("x", 4000) .. #t end', 'hog', 'hog')
        local ok = _create_process_from_code('n = 0 while true do n = n + 1 print("ok", n) flip() end', 'ok', 'ok')
        local hog_gone
        while true do
            local _, _, msg = _run_process_slice(hog, 0.5)
            if msg and not hog_gone then hog_gone = true print('hog gone: ' .. msg) end
            _run_process_slice(ok, 0.2)
            flip()
        end)",
                                    120);
    EXPECT_FALSE(r.exited);
    EXPECT_NE(r.out.find("hog gone: _run_process_slice: could not find lua state"), std::string::npos);
    EXPECT_NE(r.log.find("SYSTEM ERROR: *runtime error: out of memory"), std::string::npos);
    EXPECT_NE(r.out.find("ok\t119\n"), std::string::npos) << r.out.substr(0, 300);
}

TEST(Processes, KillingARunningProcessWaitsForItsSliceToUnwind) {
    MachineRun r = harness_run_boot(R"(
        local self_killer = _create_process_from_code(
            'print("before") _kill_process(pid(), 0) print("after")', 'k', 'k')
        print(_run_process_slice(self_killer, 1))
        print(_run_process_slice(self_killer, 1))
        -- a scheduler whose child kills it while it runs the child's slice
        local sched = _create_process_from_code([[
            local c = _create_process_from_code('_kill_process(' .. pid() .. ', 0) print("child ran")', 'c', 'c')
            _run_process_slice(c, 0.5)
            print("scheduler continues")
            while true do flip() end
        ]], 's', 's')
        _run_process_slice(sched, 0.5)
        print(_run_process_slice(sched, 0.5))
        flip())",
                                    2);
    EXPECT_EQ(r.out.find("after"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("before\ntrue\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("true\t0\t_run_process_slice: bad process id\n"), std::string::npos);
    EXPECT_NE(r.out.find("child ran\nscheduler continues\n"), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, "_run_process_slice: bad process id"), 2) << r.out;
}

TEST(MachineSlices, RunProcessSliceArgumentRules) {
    MachineRun r = harness_run_boot(R"(
        local id = _create_process_from_code('while true do flip() end', 'p', 'p')
        print(select('#', _run_process_slice(id, 0)), select('#', _run_process_slice(id, -1)),
              select('#', _run_process_slice(id)), select('#', _run_process_slice(id, 'x')))
        print(_run_process_slice(99999, 1))
        local done, cpu = _run_process_slice(id, 5)
        print('first', done, cpu > 0 and cpu < 0.1)
        print('again', _run_process_slice(id, 1))
        flip())",
                                    1);
    EXPECT_NE(r.out.find("0\t0\t0\t0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("true\t0\t_run_process_slice: bad process id\n"), std::string::npos);
    EXPECT_NE(r.out.find("first\ttrue\ttrue\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("again\ttrue\t0\n"), std::string::npos) << r.out;
}

TEST(MachineSlices, PreemptionInsideCoroutinesIsInvisible) {
    MachineRun r = harness_run_boot(R"(
        local id = _create_process_from_code([[
            local co = coroutine.wrap(function()
                local s = 0
                for i = 1, 2000000 do s = s + i if i % 500000 == 0 then coroutine.yield(s) end end
                return -1
            end)
            local got = {}
            for k = 1, 5 do got[k] = co() end
            print(table.concat(got, ","))
            while true do flip() end
        ]], 'co', 'co')
        local slices = 0
        while true do
            local done = _run_process_slice(id, 1)
            slices = slices + 1
            if slices == 300 then print('slices', slices) end
            flip()
        end)",
                                    300);
    EXPECT_NE(r.out.find("125000250000,500000500000,1125000750000,2000001000000,-1\n"),
              std::string::npos)
        << r.out;
}

TEST(MachineSlices, TimeCountsProgramFrames) {
    MachineRun r = harness_run_boot(R"(
        flip() flip()
        local t0 = time()
        for i = 1, 4 do flip() end
        print(time() == t(), (time() - t0) * 60)
        flip())",
                                    8);
    EXPECT_NE(r.out.find("true\t4.0\n"), std::string::npos) << r.out;
}

TEST(Memory, PeekAndPokeWrapAndSplitValues) {
    MachineRun r = harness_run_boot(R"(
        poke(0xFFFFFF, 7) poke(0, 9)
        print(peek(0xFFFFFF, 2))
        poke2(0x20000, 0x12345) print(peek(0x20000), peek(0x20001))
        poke2(0x20010, 0xFFFF) print(peek2(0x20010))
        print(select('#', peek(0x20000, 0)), select('#', peek(0x20000, 65537)))
        poke(0x30000, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12) memcpy(0x30004, 0x30000, 8)
        print(peek(0x30000, 12))
        srand(0) local a, b = rnd(), rnd() srand(0) print(a == rnd() and b == rnd(), a ~= b)
        flip())",
                                    1);
    EXPECT_NE(r.out.find("7\t9\n69\t35\n-1\n0\t0\n1\t2\t3\t4\t1\t2\t3\t4\t5\t6\t7\t8\ntrue\ttrue\n"),
              std::string::npos)
        << r.out;
}

}  // namespace

namespace {

TEST(Processes, SelfRestartTakesEffectAfterTheSlice) {
    MachineRun r = harness_run_boot(R"(
        local id = _create_process_from_code([[
            print("start", pid())
            if not restarted then restarted = true _kill_process(pid(), 1) print("not reached") end
            while true do flip() end
        ]], 'r', 'r')
        for i = 1, 3 do print(_run_process_slice(id, 0.5)) flip() end)",
                                    3);
    EXPECT_EQ(r.out.find("not reached"), std::string::npos) << r.out;
    // each slice restarts it (a fresh state forgets `restarted`): the body
    // runs again from the start under the same id every frame
    EXPECT_EQ(count(r.out, "start\t2\ntrue\t"), 3) << r.out;
}

}  // namespace

namespace {

// /system is filled from the system ROM and /ram/expcart from an exported
// cartridge; programs read both through the file API.
TEST(Startup, RomFilesAreReadThroughFetch) {
    std::vector<std::string> records = harness_rom_records({
        {"boot.lua", R"(
            local text, meta = fetch('/system/lib/motd.txt')
            print(text, meta.metadata_format)
            print(fetch('/system/conf.kod').greeting)
            print(fetch('/ram/expcart/main.lua', 2))
            local names, folders = ls('/system')
            print(table.concat(names, ' '), folders)
            while true do flip() end)"},
        {"lib/motd.txt", "hello from rom"},
        {"conf.kod", "--[[kod]]\n{greeting=\"hi\"}"}});
    records.push_back(harness_rom_records({{"main.lua", "print('cart')"}})[1]);
    MachineRun r = harness_run(records, 2, temp_home());
    EXPECT_FALSE(r.exited) << r.out;
    EXPECT_EQ(r.out, "hello from rom\tnone\nhi\nprint('cart')\nlib boot.lua conf.kod\t1\n");
}

}  // namespace

namespace {

// The exported-cartridge records: a cartridge alone mounts at /ram/expcart;
// with bit 0 of the flags word it also runs as the video process.
TEST(Startup, ExportedCartridgeModes) {
    const char *boot = R"(
        print(stat(317), stat(335), fstat('/ram/expcart'), fetch('/ram/expcart/main.lua', 2))
        while true do flip() end)";
    std::vector<std::string> base = harness_rom_records({{"boot.lua", boot}});
    std::string cart = harness_rom_records({{"main.lua", "x = 1"}})[1];

    MachineRun plain = harness_run(base, 2, temp_home());
    EXPECT_EQ(plain.out, "1\t0\tnil\n");

    std::vector<std::string> with_cart = base;
    with_cart.push_back(cart);
    EXPECT_EQ(harness_run(with_cart, 2, temp_home()).out, "3\t0\tfolder\tx = 1\n");

    std::vector<std::string> as_video = with_cart;
    as_video.push_back(std::string("\0\0\0\1", 4));
    EXPECT_EQ(harness_run(as_video, 2, temp_home()).out, "3\t1\tfolder\tx = 1\n");
    as_video.back() = std::string("\0\0\0\2", 4);
    EXPECT_EQ(harness_run(as_video, 2, temp_home()).out, "3\t0\tfolder\tx = 1\n");
}

}  // namespace
