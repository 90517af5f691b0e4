#include "host/threads.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

struct OsThread {
    OsThreadFn fn;
};

struct WorkerJob {
    OsThreadFn fn;
    void *arg;
};

struct WorkerPool {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<WorkerJob> jobs;
    int live = 0;
    int idle = 0;
};

constexpr auto WORKER_IDLE_LIMIT = std::chrono::seconds(5);

// Never destroyed: detached workers may still wait on it while the program
// exits.
static WorkerPool &pool = *new WorkerPool;

static void name_this_thread()
{
#if defined(__APPLE__)
    pthread_setname_np("kestrane_worker");
#elif defined(__linux__)
    pthread_setname_np(pthread_self(), "kestrane_worker");
#endif
}

static void worker_main()
{
    name_this_thread();
    std::unique_lock<std::mutex> guard(pool.lock);
    for (;;) {
        if (pool.jobs.empty()) {
            pool.idle++;
            bool got = pool.wake.wait_for(guard, WORKER_IDLE_LIMIT, [] { return !pool.jobs.empty(); });
            pool.idle--;
            if (!got) {
                pool.live--;
                return;
            }
        }
        WorkerJob job = pool.jobs.front();
        pool.jobs.pop_front();
        guard.unlock();
        job.fn(job.arg);
        guard.lock();
    }
}

// Called with the lock held; false when the system refuses another thread.
static bool start_worker()
{
    try {
        std::thread(worker_main).detach();
    } catch (const std::system_error &) {
        return false;
    }
    pool.live++;
    return true;
}

OsThread *os_create_thread(OsThreadFn fn, void *arg)
{
    if (!fn)
        return nullptr;
    OsThread *handle = new (std::nothrow) OsThread{fn};
    if (!handle)
        return nullptr;
    std::lock_guard<std::mutex> guard(pool.lock);
    pool.jobs.push_back(WorkerJob{fn, arg});
    // Every queued job needs a worker of its own: a job may block for long.
    if ((size_t)pool.idle >= pool.jobs.size()) {
        pool.wake.notify_one();
    } else if (!start_worker()) {
        pool.jobs.pop_back();
        delete handle;
        return nullptr;
    }
    return handle;
}

void os_destroy_thread(OsThread *thread)
{
    delete thread;
}

int os_worker_count()
{
    std::lock_guard<std::mutex> guard(pool.lock);
    return pool.live;
}

int os_idle_worker_count()
{
    std::lock_guard<std::mutex> guard(pool.lock);
    return pool.idle;
}
