// Cartridge mounts as the core handles them: automount, dirty marking,
// delayed and immediate write-back, the atomic lock, removal and pruning.
// The cartridge module is the stand-in of pdisk_fixture.h, which packs a
// cartridge as the list of its file names.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "host/clock.h"
#include "pdisk/listing.h"
#include "pdisk_fixture.h"

namespace {

using PdiskMount = PdiskTest;

TEST_F(PdiskMount, AutomountMountsACartridgeOnce)
{
    write_text_file(drive + "/g.k64", "");
    std::filesystem::create_directory(drive + "/folder.k64");
    EXPECT_EQ(get("/g.k64/main.lua"), "<none>");
    EXPECT_EQ(FakeCarts::mounted, 1);
    ASSERT_EQ(put("/g.k64/main.lua", "x"), 0);
    EXPECT_EQ(get("/g.k64/main.lua"), "x");
    EXPECT_EQ(FakeCarts::mounted, 1) << "the second access finds the mount";
    EXPECT_EQ(resolve_to_origin("/g.k64", nullptr, 1), drive + "/g.k64");

    get("/folder.k64/x");
    get("/none.k64/x");
    automount_suspend();
    write_text_file(drive + "/h.k64", "");
    get("/h.k64/x");
    automount_resume();
    EXPECT_EQ(FakeCarts::mounted, 1) << "folders, missing files and suspension mount nothing";
}

TEST_F(PdiskMount, DelayedFlushWritesOnceAfterTheFirstChange)
{
    write_text_file(drive + "/g.k64", "");
    ASSERT_EQ(put("/g.k64/a", "1"), 0);
    Mount *m = get_mount_by_mount_point("/g.k64", 0);
    ASSERT_TRUE(m && m->dirty);
    int64_t due = m->flush_due;
    EXPECT_GE(due, get_ticks() + PDISK_FLUSH_DELAY_MS - 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(put("/g.k64/b", "2"), 0);
    EXPECT_EQ(m->flush_due, due) << "later writes do not move the due time";
    flush_dirty_mounts_delayed();
    EXPECT_EQ(FakeCarts::written, 0);
    while (get_ticks() < due)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    flush_dirty_mounts_delayed();
    flush_dirty_mounts_delayed();
    EXPECT_EQ(FakeCarts::written, 1);
    EXPECT_EQ(read_text_file(drive + "/g.k64"), "/a\n/b\n");
}

TEST_F(PdiskMount, ListingOrReadingTheCartridgeWritesItFirst)
{
    write_text_file(drive + "/g.k64", "");
    put("/g.k64/a", "1");
    PfList list;
    pflist("/", &list);
    EXPECT_EQ(FakeCarts::written, 1);
    put("/g.k64/b", "1");
    EXPECT_EQ(get("/g.k64", "rf"), "/a\n/b\n");
}

TEST_F(PdiskMount, TheAtomicLockDefersEveryWrite)
{
    write_text_file(drive + "/g.k64", "");
    put("/g.k64/a", "1");
    app.atomic_pid = 5;
    get_mount_by_mount_point("/g.k64", 0)->flush_due = 1;
    flush_dirty_mounts_delayed();
    flush_dirty_mounts_immediately();
    PfList list;
    pflist("/", &list);
    prune_mounts();
    EXPECT_EQ(FakeCarts::written, 0);
    app.exit_requested = 1;
    app.exit_wait_frames = 61;   // the holder has had its time
    flush_dirty_mounts_immediately();
    EXPECT_EQ(FakeCarts::written, 1);
}

TEST_F(PdiskMount, AFailedWriteKeepsTheMountAndItsFiles)
{
    write_text_file(drive + "/g.k64", "old");
    put("/g.k64/a", "1");
    FakeCarts::fail = true;
    testing::internal::CaptureStdout();
    flush_dirty_mounts_immediately();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("** could not write cartridge /g.k64"),
              std::string::npos);
    Mount *m = get_mount_by_mount_point("/g.k64", 0);
    EXPECT_TRUE(m->dirty);
    EXPECT_GT(m->flush_due, get_ticks());
    EXPECT_EQ(delete_clean_ram_mounts(), 0);
    EXPECT_EQ(get("/g.k64/a"), "1");
    EXPECT_EQ(read_text_file(drive + "/g.k64"), "old");
    FakeCarts::fail = false;
    flush_dirty_mounts_immediately();
    EXPECT_EQ(read_text_file(drive + "/g.k64"), "/a\n");
}

TEST_F(PdiskMount, ACartridgeInsideAnotherIsWrittenFirst)
{
    write_text_file(drive + "/outer.k64", "");
    put("/outer.k64/inner.k64", "");
    put("/outer.k64/inner.k64/x", "1");
    flush_dirty_mounts_immediately();
    EXPECT_EQ(FakeCarts::written, 2);
    EXPECT_EQ(get("/outer.k64/inner.k64", "rf"), "/x\n");
    EXPECT_EQ(read_text_file(drive + "/outer.k64"), "/inner.k64\n");

    put("/outer.k64/y", "1");
    std::string origin = get_mount_by_mount_point("/outer.k64", 0)->origin;
    EXPECT_EQ(delete_mount_point("/outer.k64"), 1) << "removal writes a dirty mount first";
    EXPECT_EQ(read_text_file(drive + "/outer.k64"), "/inner.k64\n/y\n");
    EXPECT_EQ(get_ram_file_by_name((origin + "/y").c_str()), nullptr);
}

TEST_F(PdiskMount, PruningDropsCleanCartridgesAndHistoryViews)
{
    write_text_file(drive + "/g.k64", "");
    put("/g.k64/a", "1");   // dirty: written before it goes
    mount_p_path("/ram/everwas/7_a", "/ram/ev7");
    for (int i = 0; i < 2100; i++) {
        put(("/ram/everwas/x/" + std::to_string(i)).c_str(), "1");
        put(("/ram/keep/" + std::to_string(i)).c_str(), "1");
    }
    prune_mounts();
    EXPECT_EQ(FakeCarts::written, 1);
    EXPECT_EQ(get_mount_by_mount_point("/g.k64", 0), nullptr);
    EXPECT_EQ(get_mount_by_mount_point("/ram/everwas/7_a", 0), nullptr);
    EXPECT_EQ(get("/ram/everwas/x/5"), "<none>");
    EXPECT_EQ(get("/ram/keep/5"), "1");
    EXPECT_EQ(pdisk_prune_threshold(), 4096) << "below the threshold after pruning";
    EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_UNUSED), 0) << "compacted";

    for (int i = 2100; i < 4200; i++)
        put(("/ram/keep/" + std::to_string(i)).c_str(), "1");
    prune_mounts();
    EXPECT_EQ(pdisk_prune_threshold(), 6144) << "still above: the threshold grows";

    mount_p_path("/ram/everwas/7_b", "/ram/ev7");
    mount_p_path("/ram/everwas/70_a", "/ram/ev70");
    prune_process_mounts(p);
    EXPECT_EQ(get_mount_by_mount_point("/ram/everwas/7_b", 0), nullptr);
    EXPECT_NE(get_mount_by_mount_point("/ram/everwas/70_a", 0), nullptr);
}

}  // namespace
