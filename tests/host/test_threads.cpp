// Worker threads: every job runs at once on a named worker, blocking jobs do
// not hold each other up, and idle workers take the next job.
#include "host/threads.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct Latch {
    std::mutex m;
    std::condition_variable cv;
    int count = 0;
    std::string name;

    void arrive()
    {
        std::lock_guard<std::mutex> g(m);
        count++;
        cv.notify_all();
    }
    // True when `n` arrivals happened within two seconds.
    bool wait_for(int n)
    {
        std::unique_lock<std::mutex> g(m);
        return cv.wait_for(g, std::chrono::seconds(2), [&] { return count >= n; });
    }
};

int record_name(void *arg)
{
    Latch *l = (Latch *)arg;
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    {
        std::lock_guard<std::mutex> g(l->m);
        l->name = name;
    }
    l->arrive();
    return 0;
}

// Arrives, then blocks until both jobs have arrived: only possible when the
// two run at the same time.
int meet(void *arg)
{
    Latch *l = (Latch *)arg;
    l->arrive();
    return l->wait_for(2) ? 0 : 1;
}

// Jobs may still be inside a latch when a test ends; latches are never freed.
Latch &new_latch()
{
    return *new Latch;
}

} // namespace

TEST(HostWindowThreads, JobRunsOnANamedWorker)
{
    Latch &l = new_latch();
    OsThread *t = os_create_thread(record_name, &l);
    ASSERT_NE(t, nullptr);
    os_destroy_thread(t);   // only the handle goes
    ASSERT_TRUE(l.wait_for(1));
    std::lock_guard<std::mutex> g(l.m);
    EXPECT_EQ(l.name, "kestrane_worker");
}

TEST(HostWindowThreads, BlockingJobsRunSideBySide)
{
    Latch &l = new_latch();
    OsThread *a = os_create_thread(meet, &l);
    OsThread *b = os_create_thread(meet, &l);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(l.wait_for(2));
    os_destroy_thread(a);
    os_destroy_thread(b);
}

TEST(HostWindowThreads, IdleWorkersTakeTheNextJob)
{
    Latch &first = new_latch();
    os_destroy_thread(os_create_thread(record_name, &first));
    ASSERT_TRUE(first.wait_for(1));
    // The worker goes idle right after its job.
    for (int i = 0; i < 200 && os_idle_worker_count() == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    int workers = os_worker_count();
    ASSERT_GT(os_idle_worker_count(), 0);

    Latch &second = new_latch();
    os_destroy_thread(os_create_thread(record_name, &second));
    ASSERT_TRUE(second.wait_for(1));
    EXPECT_LE(os_worker_count(), workers) << "no new thread for a job an idle worker can take";
}

TEST(HostWindowThreads, NullFunctionIsRefused)
{
    EXPECT_EQ(os_create_thread(nullptr, nullptr), nullptr);
}
